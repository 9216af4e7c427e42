#!/usr/bin/env bash
# The long fuzz run: builds the fuzz tree (clang, libFuzzer) and fuzzes every target in
# turn for SECONDS each (default 300), starting from its checked-in corpus and from
# what earlier long runs found (kept in build/fuzz/long/<target>). Prints executions
# per second, total executions and coverage per target. A crash stops with the input
# in build/fuzz/long/artifacts/<target>/; it belongs in fuzz/corpus/<target>/ once fixed.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(request_scanner percent_decode origin frames command_line event_text)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2

printf '%-16s %8s %12s %8s %8s %8s\n' target exec/s executions cov ft corpus
status=0
for t in "${targets[@]}"; do
  keep=build/fuzz/long/$t
  arts=build/fuzz/long/artifacts/$t
  log=build/fuzz/long/$t.log
  mkdir -p "$keep" "$arts"
  rc=0
  build/fuzz/fuzz/fuzz_"$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -close_fd_mask=2 \
    -print_final_stats=1 -artifact_prefix="$arts/" "$keep" "fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$done_line")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$done_line")
  corp=$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$done_line")
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
  printf '%-16s %8s %12s %8s %8s %8s\n' "$t" "${rate:-?}" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}"
  if [ "$rc" -ne 0 ]; then
    echo "  $t FAILED (exit $rc): see $log and $arts/"
    status=1
  fi
done
exit $status
