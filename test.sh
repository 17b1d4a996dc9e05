#!/usr/bin/env bash
# Sets up a fresh Debian 12 or 13 machine, then builds and runs every test headless.
# Exits non-zero when anything fails.
# ZORVIK_FRESH_CHECK=1 leaves out the ThreadSanitizer pass and the fuzzers, which test the
# code rather than the system it is built on; scripts/check-fresh-system.sh sets it in the
# fresh tree, after ./test.sh on the host ran them on the same sources.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh --tests

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# Warnings are errors here, and the whole suite runs under AddressSanitizer and
# UndefinedBehaviorSanitizer. ASan holds freed memory back, which makes resident memory
# meaningless, so the soak test runs a quarter of its scans there; an unsanitized build runs
# all two hundred with its memory bound (below).
# adb 30 or newer for the pairing end-to-end test: Debian 12's comes from its backports,
# unpacked under the build folder without root; on Debian 13 the script names the system's.
pair_adb=$(scripts/fetch-newer-adb.sh build-test/newer-adb)
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVIK_WERROR=ON \
      -DZORVIK_SANITIZE=address,undefined -DZORVIK_SIM_TESTS=ON -DZORVIK_PAIR_ADB="$pair_adb"
cmake --build build-test -j"$jobs"
ZORVIK_SOAK_SCANS=50 ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-test --output-on-failure -j"$jobs" 2>&1 | tee build-test/ctest.log

# The README's "Try it without a car" block, pasted as one piece, against that build.
scripts/try-readme.sh build-test

# The soak test unsanitized: 200 scans, and open files, threads and memory must not grow.
cmake -S . -B build-plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVIK_WERROR=ON \
      -DZORVIK_SIM_TESTS=OFF
cmake --build build-plain -j"$jobs" --target tst_soak
# ./run.sh's packages alone, as a fresh machine gets them, hold what this configure found.
scripts/check-run-packages.sh build-plain
ctest --test-dir build-plain --output-on-failure -R '^tst_soak$'

if [ "${ZORVIK_FRESH_CHECK:-0}" = 1 ]; then
    echo "test.sh: ZORVIK_FRESH_CHECK=1: no ThreadSanitizer pass, no fuzzers"
else
    # ThreadSanitizer over the tests whose point is threads: concurrent adb runs, overlapping
    # scans, a unit lost while its install runs (the stop flag crosses threads), a scan during
    # an install and a scan that hangs while another runs. Qt is not
    # built for TSan; tests/faults/tsan.supp says what that forces us to ignore, and why.
    # die_after_fork=0: QProcess forks from a process that has threads, which TSan otherwise
    # refuses outright; the child only execs adb.
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVIK_WERROR=ON \
          -DZORVIK_SANITIZE=thread -DZORVIK_SIM_TESTS=OFF
    cmake --build build-tsan -j"$jobs" --target tst_adb tst_installer tst_faults
    export TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$PWD/tests/faults/tsan.supp"
    build-tsan/tests/tst_adb concurrentCalls
    build-tsan/tests/tst_installer clicksDuringAScanJoinIt unitLostDuringInstall "outcomes:unit replaced on show meanwhile"
    build-tsan/tests/faults/tst_faults neverEndingAdbKeepsTheWindowResponsive
    unset TSAN_OPTIONS

    # The adb text rules under libFuzzer, 30 s per target over the seed corpus.
    FUZZ_JOBS="$jobs" tools/fuzz/run.sh 30
fi

# Every stage above stops the script on failure, so reaching here means all of it passed.
suites=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' build-test/ctest.log | tail -n 1)
echo "tests: ${suites:-0} passed, 0 failed"
