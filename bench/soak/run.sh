#!/usr/bin/env bash
# The soak of the Linux helper: builds it and the demo game, then runs them for a set
# time under a steady load (see soak.py) and fails when memory or descriptors grow or
# an event is lost, duplicated or out of order.
#   bench/soak/run.sh [--minutes N] [BUILD_DIR]     (30 minutes, build/native by default)
# It holds the black-box lock for the whole run, since it uses the fixed ports.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
args=()
build="$root/build/native"
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes|--interval) args+=("$1" "$2"); shift 2 ;;
    *) build=$(realpath -m "$1"); shift ;;
  esac
done
[ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$build" >/dev/null)
cmake --build "$build" -j2 --target tovelwebhelper demogame
exec flock /tmp/tovelwebhelper-blackbox.lock python3 "$root/bench/soak/soak.py" "${args[@]}" "$build"
