#!/usr/bin/env bash
# Sets up a fresh Debian 12 or 13 machine with what building and running need, builds the
# installer and starts it. Only the program and its resources: no tests, benchmarks or
# developers' tools, which ./test.sh builds.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
echo "run.sh: building zorvik-installer (the program only, no tests) in build/, then starting it"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DZORVIK_DEV_TOOLS=OFF
cmake --build build -j"$(nproc)" --target zorvik-installer
exec ./build/zorvik-installer
