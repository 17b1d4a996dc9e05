#!/usr/bin/env bash
# Runs the README's "Try it without a car" block as one pasted piece, against an existing
# build: try-readme.sh BUILD_DIR. Three changes make it safe to run anywhere: the build line
# goes (BUILD_DIR is built), both fixed ports become kernel-chosen ones, and the last line
# starts the installer offscreen and ends it once its first scan has read the unit.
# Exits non-zero when the installer never got to the unit.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The block: the indented lines after the heading, up to the first paragraph.
block=$(sed -n '/^## Try it without a car/,/^## /p' README.md \
    | awk '/^    /{ started = 1; print substr($0, 5); next } started && /^[^ ]/{ exit }')
[ -n "$block" ] || { echo "try-readme: no block under \"Try it without a car\"" >&2; exit 1; }

# A free port for the adb server: the one the kernel gives a simulator asked for port 0.
"$build/tools/headunit-sim/headunit-sim" --port 0 --port-file "$work/free.port" & probe=$!
until [ -s "$work/free.port" ]; do sleep 0.1; done
server_port=$(cat "$work/free.port")
kill "$probe"; wait "$probe" 2>/dev/null || true

script=$(printf '%s\n' "$block" \
    | sed -e '/^cmake /d' \
          -e "s|\./build/|$build/|g" \
          -e 's|--port 40555|--port 0 --log unit.jsonl|' \
          -e 's|127\.0\.0\.1:40555|127.0.0.1:$(cat sim.port)|' \
          -e "s|ANDROID_ADB_SERVER_PORT=15037|ANDROID_ADB_SERVER_PORT=$server_port|" \
          -e '$d')
[ "$(printf '%s\n' "$block" | tail -n 1)" = "./build/zorvik-installer" ] || { echo "try-readme: the block no longer ends with the installer" >&2; exit 1; }

cd "$work"
# The first scan ends with the check for the Zorvik App on each ready unit.
timeout 120 bash -euo pipefail -c 'trap "exit 1" TERM
trap "kill \${APP:-} \${SIM:-} 2>/dev/null; '"$build"'/resources/adb -P '"$server_port"' kill-server" EXIT
'"$script"'
QT_QPA_PLATFORM=offscreen '"$build"'/zorvik-installer & APP=$!
until grep -q "pm path ru.zorvik.store" unit.jsonl 2>/dev/null; do sleep 0.2; done'
echo "try-readme: the installer read the simulated unit"
