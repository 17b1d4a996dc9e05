#!/usr/bin/env bash
# Installs what the installer needs on Debian 12 or 13: `setup.sh` what building and running
# it needs (./run.sh), `setup.sh --tests` that and what its tests need as well (./test.sh).
# Runs apt-get only for packages that are missing, as root or through sudo. Every name here
# is one both releases have: the version-less packages that follow each release's default
# compiler, never one tied to a version only one release ships.
set -euo pipefail

# Building and running.
packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-qpa-plugins libgl-dev libssl-dev
    adb fonts-inter fonts-dejavu-core
)
# Testing: the package checks (cpack's shlibdeps runs file), the fuzzers (clang's libFuzzer),
# the digest benchmark's reference (openssl), the simulated unit's pairing by code (BoringSSL).
test_packages=(
    file lintian appstream
    clang libclang-rt-dev
    openssl
    android-libboringssl-dev
)
case "${1:-}" in
    "") ;;
    --tests) packages+=("${test_packages[@]}") ;;
    --list) printf '%s\n' "${packages[@]}"; exit 0 ;;
    --list-tests) printf '%s\n' "${test_packages[@]}"; exit 0 ;;
    *) echo "usage: $0 [--tests | --list | --list-tests]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
# A mirror that drops a connection now and then is tried again rather than failing the set-up.
retries=(-o Acquire::Retries=5)
"${sudo_cmd[@]}" apt-get "${retries[@]}" update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${retries[@]}" install -y -q --no-install-recommends "${missing[@]}"
