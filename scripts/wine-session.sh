#!/usr/bin/env bash
# Wine for one Windows tree (ARCH win32, or win64 where 32-bit programs cannot run):
# prepare PREFIX ARCH: create the prefix once; no program of it is left running.
# start PREFIX ARCH:   prepare, then keep a wineserver running for it (benchmarks).
# stop PREFIX ARCH:    end that wineserver and every program still running in the prefix.
set -euo pipefail
cmd=$1
arch=${3:-win32}
export WINEPREFIX=$2 WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Debian's `wine` always starts through the 32-bit loader.
wine=wine
[ "$arch" = win64 ] && wine=/usr/lib/wine/wine64

prepare() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 120 "$wine" wineboot -i >/dev/null 2>&1 || true
    timeout 60 wineserver -w || true
  fi
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine prefix $WINEPREFIX was not created ($wine)" >&2; exit 1; }
}

case $cmd in
  prepare) prepare ;;
  start)
    prepare
    # Detached and with its output elsewhere, so the caller does not wait for it.
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    # The first program of a session starts the prefix's services, which keep the
    # standard streams they inherit: start them here, away from the caller's pipes.
    timeout 60 "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 prepare|start|stop PREFIX [win32|win64]" >&2; exit 2 ;;
esac
