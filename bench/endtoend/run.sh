#!/usr/bin/env bash
# The end-to-end benchmark of the Linux helper: latency from the game's write to the
# page's reply, idle CPU with a connected game, and memory over a session of 10,000
# events. Builds what it needs first. Usage: bench/endtoend/run.sh [BUILD_DIR]
# (default build/native, configured with the native preset when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$root/build/native}")
[ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$build" >/dev/null)
cmake --build "$build" --target tovelwebhelper demogame
exec python3 "$root/bench/endtoend/endtoend_bench.py" "$build"
