#!/usr/bin/env bash
# isolated.sh COMMAND...: runs one test in network, PID and mount namespaces of its own.
# Its loopback ports, its process list and its /tmp then hold only what it started, so
# a helper or a game elsewhere on the machine changes nothing, tests can run side by
# side, and whatever the test leaves running ends with it. Under Wine (WINEPREFIX set)
# the test also gets a copy-on-write view of the tree's prefix and a wineserver of its
# own. Needs root (as the test command runs) or unprivileged user namespaces.
set -euo pipefail
if [ "${TOVEL_ISOLATED:-}" != 1 ]; then
  as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
  exec unshare "${as_root[@]}" --net --pid --fork --mount-proc --kill-child \
    env TOVEL_ISOLATED=1 bash "$0" "$@"
fi

ip link set lo up
# A tree that lies under /tmp (a clone there) would vanish under the private /tmp: it is
# opened first and put back through its descriptor, which still reaches it.
root=$(cd "$(dirname "$0")/.." && pwd -P)
dirs=("$root")
case "$(pwd -P)/" in "$root/"*) ;; *) dirs+=("$(pwd -P)") ;; esac  # a build tree elsewhere
kept=()
for dir in "${dirs[@]}"; do
  case "$dir/" in /tmp/?*) exec {fd}<"$dir"; kept+=("$fd:$dir") ;; esac
done
mount -t tmpfs -o mode=1777 tmpfs /tmp
for entry in ${kept[@]+"${kept[@]}"}; do
  fd=${entry%%:*} dir=${entry#*:}
  mkdir -p "$dir"
  mount --no-canonicalize --bind "/proc/self/fd/$fd" "$dir"
  exec {fd}<&-
done
if [ -n "${WINEPREFIX:-}" ]; then
  # What the test's programs change in the prefix stays in this namespace.
  mkdir -p /tmp/.wineprefix/upper /tmp/.wineprefix/work
  mount -t overlay overlay \
    -o "lowerdir=$WINEPREFIX,upperdir=/tmp/.wineprefix/upper,workdir=/tmp/.wineprefix/work" "$WINEPREFIX"
  # A server that outlives each program, started away from the test's output pipes,
  # and the prefix's services with it (a cold start costs seconds per program).
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  timeout 60 "${TOVEL_WINE:-wine}" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
fi
# Not exec'd: this shell stays the namespace's first process, which reaps what the
# test leaves orphaned (a game the helper started detached).
"$@"
