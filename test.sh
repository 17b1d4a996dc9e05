#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, then builds and runs every test headless.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# Warnings are errors here, and the whole suite runs under AddressSanitizer and
# UndefinedBehaviorSanitizer.
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVIK_WERROR=ON \
      -DZORVIK_SANITIZE=address,undefined
cmake --build build-test -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-test --output-on-failure -j"$jobs"
