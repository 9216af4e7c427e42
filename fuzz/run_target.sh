#!/usr/bin/env bash
# Runs one fuzz target over its checked-in corpus, then fuzzes it for a bounded time.
# Fails on any crash, sanitizer report, leak, time-out or property failure; the input
# that caused it is left in WORK/artifacts/.
#   run_target.sh TARGET CORPUS WORK SECONDS [more libFuzzer flags...]
set -euo pipefail
exe=$1 corpus=$2 work=$3 seconds=$4
shift 4
# New inputs go to a scratch folder that starts empty, so each run replays the same way.
rm -rf "$work"
mkdir -p "$work/new" "$work/artifacts"
exec "$exe" -seed=1 -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -close_fd_mask=2 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$@" "$work/new" "$corpus"
