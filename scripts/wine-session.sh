#!/usr/bin/env bash
# start PREFIX: create the Wine prefix once and keep a wineserver running for it.
# stop PREFIX: end that wineserver and every program still running in the prefix.
set -euo pipefail
cmd=$1
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case $cmd in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      timeout 120 wineboot -i >/dev/null 2>&1 || true
      timeout 60 wineserver -w || true
    fi
    # Detached and with its output elsewhere, so the test harness does not wait for it.
    setsid wineserver -p </dev/null >/dev/null 2>&1 &
    # The first program of a session starts the prefix's services, which keep the
    # standard streams they inherit: start them here, away from the harness's pipes.
    timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine prefix $WINEPREFIX was not created" >&2; exit 1; }
    ;;
  stop)
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
