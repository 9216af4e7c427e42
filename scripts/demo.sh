#!/usr/bin/env bash
# The demo: installs what is missing, builds the Linux helper and the demo game, serves
# the demo page on a loopback address, and runs the helper in active mode; it launches
# the demo game, which plays a made-up game session into its pipe, and the page shows
# it live. Ctrl+C ends the demo game, the helper then shuts down in its usual order,
# the page server is stopped, and nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-deps
cmake --preset native >/dev/null
cmake --build --preset native --target tovelwebhelper demogame

run=$(mktemp -d)
export TOVEL3_DEMO_RECORD="$run/game.jsonl"

# The demo page and the page client, from a free loopback port (an allowed origin).
page_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server --bind 127.0.0.1 --directory page "$page_port" >/dev/null 2>&1 &
page_server=$!
stop_page_server() {
  kill "$page_server" 2>/dev/null || true
  wait "$page_server" 2>/dev/null || true
}
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
  stop_page_server
  rm -rf "$run"
  exit 0
}
trap stop INT TERM

cat <<TEXT

The helper is starting; its diagnostics follow. Open the demo page in a browser on
this machine to watch the match live (it finds the helper by itself):

  http://127.0.0.1:$page_port/demo/

Or, in another terminal, try:

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
stop_page_server
rm -rf "$run"
