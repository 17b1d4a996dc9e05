#include "signalwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalFds[2] = {-1, -1};

// The byte written is the signal's number, so one pipe serves all of them.
extern "C" void onSignal(int signal)
{
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalFds[0], &byte, 1);
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGUSR1})
        ::sigaction(signal, &action, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    for (const int signal : {SIGTERM, SIGINT, SIGUSR1})
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    for (int &fd : g_signalFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalWatcher::readSignal()
{
    char byte = 0;
    if (::read(g_signalFds[1], &byte, 1) != 1)
        return;
    if (byte == SIGUSR1)
        emit allowRequested();
    else
        emit terminationRequested();
}
