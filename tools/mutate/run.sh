#!/usr/bin/env bash
# Measures what the test suite catches: applies each fault of faults.txt to the source tree
# in turn, builds, runs ctest, and reports the fault as killed (some test failed) or survived.
# The file is restored after each fault, whatever happens.
#   tools/mutate/run.sh [N...]        (default: every fault in the list)
# Environment: MUTATE_BUILD_DIR (default build-mutate), MUTATE_JOBS (default: nproc).
# A developer tool: it takes about a minute per fault, so it is not part of test.sh.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
list="$here/faults.txt"
build="${MUTATE_BUILD_DIR:-$root/build-mutate}"
jobs="${MUTATE_JOBS:-$(nproc)}"
export QT_QPA_PLATFORM=offscreen ZORVIK_SOAK_SCANS=20

count=$("$here/mutate.pl" count "$list")
if [ $# -gt 0 ]; then faults=("$@"); else mapfile -t faults < <(seq 1 "$count"); fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZORVIK_SIM_TESTS=ON >/dev/null
logs="$build/mutate-logs"
mkdir -p "$logs"
suite() { ctest --test-dir "$build" --stop-on-failure --timeout 180 -j"$jobs" "$@"; }

echo "== the unchanged suite must pass first"
cmake --build "$build" -j"$jobs" >"$logs/baseline.log" 2>&1
suite >>"$logs/baseline.log" 2>&1 || { echo "the suite fails without any fault: $logs/baseline.log"; exit 1; }

backup="$build/mutate-backup"
restore() { [ -n "${changed:-}" ] && cp "$backup" "$root/$changed"; changed=; }
# An interrupt must end the run too: a trap that only restored would let the loop go on
# with the next fault, beside whatever run the person started next.
trap restore EXIT
trap 'restore; exit 130' INT TERM

killed=0 survived=0 other=0
for n in "${faults[@]}"; do
    name=$("$here/mutate.pl" name "$list" "$n")
    file=$("$here/mutate.pl" file "$list" "$n")
    log="$logs/$n.log"
    cp "$root/$file" "$backup"
    if ! "$here/mutate.pl" apply "$list" "$n" "$root" >"$log" 2>&1; then
        verdict="NOT APPLIED"; other=$((other + 1))
    else
        changed="$file"
        if ! cmake --build "$build" -j"$jobs" >>"$log" 2>&1; then
            verdict="DID NOT BUILD"; other=$((other + 1))
        elif suite >>"$log" 2>&1; then
            verdict="survived"; survived=$((survived + 1))
        else
            by=$(sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) .*\(Failed\|Timeout\|Exception\).*/\1/p' "$log" | sort -u | tr '\n' ' ')
            verdict="killed ${by:+by $by}"; killed=$((killed + 1))
        fi
        restore
    fi
    printf '%2d  %-55s %s\n' "$n" "$name" "$verdict"
done
# Leave the build matching the restored sources.
cmake --build "$build" -j"$jobs" >/dev/null 2>&1 || true
echo "killed $killed, survived $survived, not run $other, of ${#faults[@]}"
