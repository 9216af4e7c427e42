#!/usr/bin/env bash
# What one delivered event costs the Linux helper (CPU, system calls, latency), for two
# helpers in interleaved rounds; see cost_bench.py.
#
#   bench/cost/run.sh [--rounds N] [--window S] [--count-window S] [--rate R]
#                     [--counter perf|strace] A [B]
#
# A and B are each a helper program, a native build tree, a source tree (built in its
# build/native), or a git revision (exported to build/cost/REV/src and built in
# build/cost/REV/build, once). B defaults to A. For example, a revision against the
# working tree:   bash bench/cost/run.sh b6d822b .
# The rounds run in network, PID and mount namespaces of their own (scripts/isolated.sh),
# so the fixed ports do not meet another helper on the machine. Needs root for perf.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
opts=() helpers=()
while [ $# -gt 0 ]; do
  case "$1" in
    --rounds|--window|--count-window|--rate|--counter) opts+=("$1" "$2"); shift 2 ;;
    *) helpers+=("$1"); shift ;;
  esac
done
[ ${#helpers[@]} -ge 1 ] || { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

build_tree() {  # build_tree DIR: the helper of a configured native tree, brought up to date
  cmake --build "$1" -j2 --target tovelwebhelper >&2
  echo "$1/tovelwebhelper"
}

helper_of() {
  local arg=$1
  if [ -f "$arg" ] && [ -x "$arg" ]; then
    realpath "$arg"
  elif [ -f "$arg/CMakeCache.txt" ]; then
    build_tree "$(realpath "$arg")"
  elif [ -f "$arg/CMakePresets.json" ]; then
    local src; src=$(realpath "$arg")
    [ -f "$src/build/native/CMakeCache.txt" ] || (cd "$src" && cmake --preset native >&2)
    build_tree "$src/build/native"
  else
    local sha
    sha=$(git -C "$root" rev-parse --verify --quiet "$arg^{commit}") ||
      { echo "neither a helper, a tree nor a revision: $arg" >&2; exit 2; }
    local dir="$root/build/cost/${sha:0:12}"
    if [ ! -f "$dir/build/CMakeCache.txt" ]; then
      rm -rf "$dir"
      mkdir -p "$dir/src"
      git -C "$root" archive "$sha" | tar -x -C "$dir/src"
      (cd "$dir/src" && cmake --preset native -B "$dir/build" >&2)
    fi
    build_tree "$dir/build"
  fi
}

command -v perf >/dev/null || apt-get install -y --no-install-recommends linux-perf >/dev/null
programs=()
for h in "${helpers[@]}"; do programs+=("$(helper_of "$h")"); done
exec bash "$root/scripts/isolated.sh" python3 "$here/cost_bench.py" "${opts[@]}" "${programs[@]}"
