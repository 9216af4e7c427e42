#!/usr/bin/env bash
# Handshake throughput of the helper against nginx, interleaved in one run.
#
#   bench/http/run.sh [BUILD_DIR] [-- options of compare.py]
#
# BUILD_DIR is a native tree (default build/native); it is configured and the helper
# built when missing. nginx-light and wrk are installed with apt-get when missing.
# Options: --rounds N (default 5), --duration SECONDS (default 10), --connections N
# (default 32), --nginx-deferred (nginx's listener also waits for a connection's first
# bytes before taking it, as the helper's does on Linux). The helper runs in test mode
# with its diagnostics sent to /dev/null.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/native}
[ $# -gt 0 ] && shift
[ "${1:-}" = "--" ] && shift

missing=()
command -v wrk >/dev/null || missing+=(wrk)
command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || missing+=(nginx-light)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { $sudo apt-get update >/dev/null && $sudo apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
fi

if [ ! -x "$build/tovelwebhelper" ]; then
  [ -f "$build/CMakeCache.txt" ] || (cd "$root" && cmake --preset native -B "$build" >/dev/null)
  cmake --build "$build" --target tovelwebhelper >/dev/null
fi

exec python3 "$here/compare.py" --helper "$build/tovelwebhelper" "$@"
