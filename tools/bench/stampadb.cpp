// Stands in for adb in the start-up benchmark. The first call writes the CLOCK_MONOTONIC
// time in nanoseconds to "first-call" beside this executable: the moment the installer's
// first scan reached adb. Every call prints nothing and exits 0 (no devices).

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

int main()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 16);
    if (length <= 0)
        return 0;
    path[length] = '\0';
    char *slash = std::strrchr(path, '/');
    if (!slash)
        return 0;
    std::strcpy(slash + 1, "first-call");
    // O_EXCL: only the very first call of a run leaves its stamp.
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return 0;
    char text[32];
    const int size = std::snprintf(text, sizeof text, "%lld\n",
                                   static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    (void)!write(fd, text, static_cast<size_t>(size));
    close(fd);
    return 0;
}
