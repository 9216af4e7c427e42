#!/usr/bin/env bash
# The demo: installs what is missing, builds the Linux helper and the demo game, and
# runs the helper in active mode; it launches the demo game, which plays a made-up
# game session into its pipe. Ctrl+C ends the demo game, the helper then shuts down
# in its usual order, and nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-deps
cmake --preset native >/dev/null
cmake --build --preset native --target tovelwebhelper demogame

run=$(mktemp -d)
export TOVEL3_DEMO_RECORD="$run/game.jsonl"
cd build/native

# The game's id as it wrote it in its record; empty until it has started.
game_pid() {
  python3 - "$TOVEL3_DEMO_RECORD" <<'PY' 2>/dev/null || true
import json, sys
for line in open(sys.argv[1]):
    r = json.loads(line)
    if r.get("event") == "start":
        print(r["pid"])
        break
PY
}

# The helper never stops the game it launched (the game runs in a session of its
# own, so Ctrl+C does not reach it either): ending the game is what ends the helper.
end_game() {
  local pid="" tries=0
  # Ctrl+C right after the start: the helper may not have launched the game yet.
  while pid=$(game_pid); [ -z "$pid" ] && [ -n "$helper" ] && kill -0 "$helper" 2>/dev/null && [ $tries -lt 100 ]; do
    sleep 0.1
    tries=$((tries + 1))
  done
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
}

helper=""
stop() {
  trap - INT TERM
  echo
  echo "demo: ending the demo game; the helper shuts down after it"
  if [ -n "$helper" ]; then
    end_game
    wait "$helper" 2>/dev/null || true
  fi
  rm -rf "$run"
  exit 0
}
trap stop INT TERM

cat <<'TEXT'

The helper is starting; its diagnostics follow. In another terminal, try:

  curl -s -H 'Origin: http://localhost' http://127.0.0.1:4219/handshake; echo
  while :; do curl -s -H 'Origin: http://localhost' http://127.0.0.1:4219/mypage; echo; done

The first poll of a queue name creates the queue and answers "null" after about a
second; from then on each poll returns the next event: ten tab-separated fields (game
id, event name, up to eight words). Press Ctrl+C here to end the game and the helper.

TEXT

./tovelwebhelper --activate-webhelper &
helper=$!

# The helper ends by itself when the game goes (or cannot be started).
wait "$helper" || true
end_game
rm -rf "$run"
