#!/usr/bin/env bash
# Runs the README's ./test.sh on a fresh, minimal Debian as a new user would have it:
#   scripts/check-fresh-system.sh [--full] SUITE        (SUITE: bookworm or trixie; as root)
# The tree comes from the Debian mirror this machine's own apt sources name. Only the pristine
# debootstrap tree and the downloaded .deb files are kept, under ZORVIK_FRESH_CACHE/SUITE
# (default /var/cache/zorvik-fresh); each run copies the tree afresh, so setup.sh installs
# every package itself. The current commit is cloned into the copy and test.sh runs there in
# a private mount and PID namespace that sees none of the host's /dev or /sys.
# test.sh runs with ZORVIK_FRESH_CHECK=1 (no fuzzers, no ThreadSanitizer pass: they test the
# code, not the system, and ./test.sh on the host runs them); --full runs those too.
# Ends with one line: the suite, passed or failed, and the seconds it took.
set -euo pipefail

full=0
if [ "${1:-}" = "--full" ]; then full=1; shift; fi
suite="${1:-}"
case "$suite" in
    bookworm|trixie) ;;
    *) echo "usage: $0 [--full] bookworm|trixie" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "check-fresh-system: debootstrap, chroot and mounts need root" >&2
    exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$repo" rev-parse HEAD)
cache="${ZORVIK_FRESH_CACHE:-/var/cache/zorvik-fresh}/$suite"
pristine="$cache/tree"
copy="$cache/copy"
debs="$cache/debs"
started=$SECONDS
result=failed
inner=""

log() { echo "check-fresh-system: $*" >&2; }

# True when the kernel still lists a mount at or below $1 in this namespace.
mounted_below() {
    awk -v dir="$1" '$5 == dir || index($5, dir "/") == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo
}

# Every process whose root is the tree: the suite's leftovers, adb's server above all,
# which outlives the client that started it.
processes_in() {
    local proc root
    for proc in /proc/[0-9]*; do
        root=$(readlink "$proc/root" 2>/dev/null) || continue
        if [ "$root" = "$1" ] || [ "${root#"$1"/}" != "$root" ]; then
            echo "${proc#/proc/}"
        fi
    done
}

end_processes_in() {
    local left signal
    for signal in TERM TERM KILL KILL; do
        left=$(processes_in "$1")
        [ -n "$left" ] || return 0
        # shellcheck disable=SC2086
        kill -s "$signal" $left 2>/dev/null || true
        sleep 1
    done
    left=$(processes_in "$1")
    [ -z "$left" ] || { log "processes still running in $1: $left"; return 1; }
}

# Deletes a tree, but never one that still has something mounted in it: rm would reach
# through into whatever that is.
remove_tree() {
    [ -e "$1" ] || return 0
    end_processes_in "$1" || return 1
    if mounted_below "$1"; then
        log "refusing to delete $1: /proc/self/mountinfo still lists mounts in it"
        return 1
    fi
    rm -rf --one-file-system "$1"
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    # The namespace's first process ends what runs in it. unshare itself ignores TERM, but
    # --kill-child takes that process with it when unshare is killed, and the kernel then
    # ends the rest of the namespace; remove_tree ends whatever is still in the copy.
    if [ -n "$inner" ]; then
        local first
        first=$(cat "/proc/$inner/task/$inner/children" 2>/dev/null || true)
        # shellcheck disable=SC2086
        [ -z "$first" ] || kill -TERM $first 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$inner" 2>/dev/null || break
            sleep 1
        done
        kill -KILL "$inner" 2>/dev/null || true
        wait "$inner" 2>/dev/null || true
    fi
    remove_tree "$copy" || status=1
    [ $status -ne 0 ] && result=failed
    echo "check-fresh-system: $suite $result in $((SECONDS - started)) s"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# The Debian archive this machine's apt uses: deb822 .sources files and one-line lists,
# without the security archive (it has no tree for debootstrap to make).
mirror() {
    local file
    {
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] || continue
            # Paragraphs of "Field: value"; lines starting with # are comments.
            awk 'function flush() {
                     if (types ~ /(^| )deb( |$)/ && tolower(enabled) != "no" && suites !~ /-security|\/updates/)
                         { n = split(uris, u, " "); for (i = 1; i <= n; i++) print u[i] }
                     types = uris = suites = ""; enabled = "yes"
                 }
                 BEGIN { enabled = "yes" }
                 /^#/ { next }
                 /^[ \t]*$/ { flush(); next }
                 /^[A-Za-z-]+:/ { field = tolower($1); sub(/^[^:]*:[ \t]*/, "")
                                  if (field == "types:") types = $0
                                  else if (field == "uris:") uris = $0
                                  else if (field == "suites:") suites = $0
                                  else if (field == "enabled:") enabled = $0 }
                 END { flush() }' "$file"
        done
        for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$file" ] || continue
            sed -e 's/#.*//' -e 's/\[[^]]*\]//' "$file" \
                | awk '$1 == "deb" && $3 !~ /-security|\/updates/ { print $2 }'
        done
    } | grep -E '^(https?|ftp|file):' | grep -v -i security | sed 's|/*$||' | head -n 1
}

# A tree half made by an interrupted run, or one in use, is never taken as it is.
for tree in "$copy" "$pristine.new"; do
    if [ -e "$tree" ] && mounted_below "$tree"; then
        log "$tree is still mounted (another run?); not touching it"
        exit 1
    fi
done
remove_tree "$copy"
remove_tree "$pristine.new"

if [ ! -e "$pristine/.zorvik-pristine" ]; then
    if ! command -v debootstrap >/dev/null; then
        apt-get -o Acquire::Retries=5 update -q
        DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=5 install -y -q --no-install-recommends debootstrap
    fi
    archive=$(mirror)
    [ -n "$archive" ] || { log "no Debian mirror in /etc/apt/sources.list or /etc/apt/sources.list.d"; exit 1; }
    log "making a minimal $suite tree from $archive"
    remove_tree "$pristine"
    mkdir -p "$debs"
    debootstrap --variant=minbase --cache-dir="$debs" "$suite" "$pristine.new" "$archive"
    touch "$pristine.new/.zorvik-pristine"
    mv "$pristine.new" "$pristine"
fi

log "copying the pristine $suite tree"
cp -a --one-file-system "$pristine" "$copy"
rm -f "$copy/.zorvik-pristine"
cp -L /etc/resolv.conf "$copy/etc/resolv.conf"
mkdir -p "$copy/var/cache/apt/archives" "$debs/partial"

# The commit, not the working files: what CI would clone.
if ! git -C "$repo" diff --quiet HEAD 2>/dev/null; then
    log "note: uncommitted changes in $repo are not part of this check"
fi
git clone --quiet --no-checkout "$repo" "$copy/root/zorvik"
git -C "$copy/root/zorvik" -c advice.detachedHead=false checkout --quiet "$commit"
log "$suite: commit $commit, ./test.sh"

# Inside the namespace: its own proc, a read-only sysfs, a /dev made of a few nodes of its
# own, and the kept .deb files as apt's cache. Whatever the suite leaves running is ended
# before the namespace's first process returns.
namespace_script='
set -u
copy=$1; debs=$2; fresh=$3
end_all() {
    kill -TERM -1 2>/dev/null
    sleep 2
    kill -KILL -1 2>/dev/null
    wait 2>/dev/null
}
trap "end_all; exit 130" INT TERM HUP
mount -t proc -o nosuid,nodev,noexec proc "$copy/proc" || exit 1
mount -t sysfs -o ro,nosuid,nodev,noexec sysfs "$copy/sys" || exit 1
mount -t tmpfs -o nosuid,mode=0755,size=16m tmpfs "$copy/dev" || exit 1
for node in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
    set -- $node
    mknod -m 0666 "$copy/dev/$1" c "$2" "$3" || exit 1
done
mkdir -m 0755 "$copy/dev/pts"
mkdir -m 1777 "$copy/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620,nosuid,noexec devpts "$copy/dev/pts" || exit 1
mount -t tmpfs -o nosuid,nodev,mode=1777 tmpfs "$copy/dev/shm" || exit 1
ln -s pts/ptmx "$copy/dev/ptmx"
ln -s /proc/self/fd "$copy/dev/fd"
ln -s /proc/self/fd/0 "$copy/dev/stdin"
ln -s /proc/self/fd/1 "$copy/dev/stdout"
ln -s /proc/self/fd/2 "$copy/dev/stderr"
mount --bind "$debs" "$copy/var/cache/apt/archives" || exit 1
chroot "$copy" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    ${fresh:+ZORVIK_FRESH_CHECK=1} \
    /bin/bash -c "cd /root/zorvik && ./test.sh" </dev/null &
wait $!
status=$?
end_all
umount "$copy/var/cache/apt/archives" "$copy/dev/shm" "$copy/dev/pts" "$copy/dev" "$copy/sys" "$copy/proc"
exit $status
'
fresh=1
[ $full -eq 1 ] && fresh=""
unshare --mount --pid --fork --propagation private --kill-child \
    bash -c "$namespace_script" namespace "$copy" "$debs" "$fresh" &
inner=$!
status=0
wait "$inner" || status=$?
inner=""
if [ $status -eq 0 ]; then
    result=passed
fi
exit $status
