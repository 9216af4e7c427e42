#!/usr/bin/env bash
# The write-to-handler latency benchmark through the real browser, against one build:
#   bench/browser/run.sh [native|win32]      (default native; win32 runs under Wine)
# Builds the helper and the demo game of that tree, installs the browser tests' driver
# when missing, and holds the black-box tests' lock while it runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
kind=${1:-native}
build="$root/build/$kind"
cd "$root"
[ -d tests/browser/node_modules/playwright-core ] || bash .ci/install-deps
[ -f "$build/CMakeCache.txt" ] || cmake --preset "$kind" >/dev/null
cmake --build --preset "$kind" --target tovelwebhelper demogame >/dev/null
export TOVEL_BUILD_KIND=$kind TOVEL_GAME="$build/tovel3.exe"
if [ "$kind" = win32 ]; then
  export TOVEL_HELPER="$build/TovelWebHelper.exe"
  export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
else
  export TOVEL_HELPER="$build/tovelwebhelper"
fi
lock="${TMPDIR:-/tmp}/tovelwebhelper-blackbox.lock"
echo "waiting for the black-box lock ..."
if [ "$kind" = win32 ]; then
  # The Wine session is started and stopped under the lock, so no test run shares it.
  exec flock "$lock" bash -c '
    bash scripts/wine-session.sh start "$WINEPREFIX"
    rc=0; node bench/browser/latency.mjs || rc=$?
    bash scripts/wine-session.sh stop "$WINEPREFIX"; exit $rc'
fi
exec flock "$lock" node bench/browser/latency.mjs
