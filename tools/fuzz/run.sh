#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a while over its seed corpus.
# Fails on any crash, broken invariant, sanitizer report, leak or timeout.
#   tools/fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
# Environment: FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS (build jobs, default 2).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
seconds="${1:-30}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_splitpieces fuzz_property fuzz_lastvalue fuzz_devicelisting fuzz_utf8 fuzz_trackdevices)
fi
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j"${FUZZ_JOBS:-2}" >/dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
for target in "${targets[@]}"; do
    # New inputs go to a scratch directory, so the committed corpus only changes by hand.
    work="$build/corpus-$target"
    artifacts="$build/artifacts-$target"
    mkdir -p "$work" "$artifacts"
    log="$build/$target.log"
    echo "== $target: ${seconds}s"
    if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
           -artifact_prefix="$artifacts/" "$work" "$here/corpus/${target#fuzz_}" >"$log" 2>&1; then
        grep -E '^stat::number_of_executed_units|^Done ' "$log" | tail -2 || true
    else
        status=1
        echo "!! $target failed; last lines of $log:"
        tail -n 40 "$log"
    fi
done
exit $status
