#!/usr/bin/env bash
# The end-to-end benchmarks. Builds what they need first.
#
#   bench/endtoend/run.sh [BUILD_DIR]        the Linux helper, the benchmark playing the
#                                            game itself (default build/native)
#   bench/endtoend/run.sh --demo-game TREE   the helper of build/TREE (native, or win32
#                                            under Wine) with the demo game as the game
#   bench/endtoend/run.sh --flood [BUILD_DIR]  ingest rate and peak memory under a flood
#                                            while pages poll once and go
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${1:-}" = "--flood" ]; then
  build=$(realpath -m "${2:-$root/build/native}")
  [ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$build" >/dev/null)
  cmake --build "$build" --target tovelwebhelper demogame
  exec python3 "$root/bench/endtoend/flood_bench.py" "$build"
fi
if [ "${1:-}" = "--demo-game" ]; then
  tree=${2:-native}
  build="$root/build/$tree"
  [ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset "$tree" >/dev/null)
  cmake --build "$build" --target tovelwebhelper demogame
  [ "$tree" = native ] || { cmake --preset native >/dev/null; cmake --build --preset native --target drain_page; }
  exec python3 "$root/bench/endtoend/demo_game_bench.py" "$build"
fi
build=$(realpath -m "${1:-$root/build/native}")
[ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$build" >/dev/null)
cmake --build "$build" --target tovelwebhelper demogame drain_page
exec python3 "$root/bench/endtoend/endtoend_bench.py" "$build"
