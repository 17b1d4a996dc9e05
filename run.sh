#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine with what building and running need, builds the
# installer and starts it.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
exec ./build/zorvik-installer
