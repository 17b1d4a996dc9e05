#!/usr/bin/env bash
# Checks ./run.sh's package list as a fresh Debian 12 or 13 machine would install it: the list with
# its Depends, recursively, without Recommends (setup.sh installs none). None of the test
# tools may be among them, and every program and library the configure in BUILD_DIR found
# must come from one of them: check-run-packages.sh BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
cache="$1/CMakeCache.txt"

# Essential packages (gzip, coreutils, ...) are on every Debian machine and named by nobody.
closure=$( (apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
                --no-replaces --no-enhances $(scripts/setup.sh --list) | grep -v '^ '
            dpkg-query -W -f='${Package} ${Essential}\n' | awk '$2 == "yes" { print $1 }') | sort -u)
status=0
for tool in $(scripts/setup.sh --list-tests); do
    if grep -qx "$tool" <<<"$closure"; then
        echo "check-run-packages: ./run.sh would install the test tool $tool" >&2
        status=1
    fi
done
found=$(sed -n -e 's/^\(CMAKE_CXX_COMPILER\|CMAKE_MAKE_PROGRAM\|CMAKE_COMMAND\|ZORVIK_ADB\|ZORVIK_GZIP\|OPENSSL_CRYPTO_LIBRARY\):[A-Z]*=//p' \
             -e 's|^\(Qt6\(Widgets\)\?\)_DIR:PATH=\(.*\)|\3/\1Config.cmake|p' "$cache")
[ "$(wc -l <<<"$found")" -ge 8 ] || { echo "check-run-packages: $cache lacks what configure found" >&2; exit 1; }
for path in $found; do
    real=$(readlink -f "$path")
    # Debian 12 is merged-/usr, but dpkg knows /usr/bin/gzip as /bin/gzip (13 by its real path).
    package=$( (dpkg -S "$real" 2>/dev/null || dpkg -S "${real#/usr}") | head -n 1 | cut -d: -f1)
    if ! grep -qx "$package" <<<"$closure"; then
        echo "check-run-packages: $path comes from $package, which ./run.sh does not install" >&2
        status=1
    fi
done
[ $status -eq 0 ] && echo "check-run-packages: $(wc -l <<<"$closure") packages, no test tool; the build's $(wc -l <<<"$found") tools and libraries among them"
exit $status
