#!/usr/bin/env bash
# Runs browser test files under the black-box tests' machine-wide lock (the helper's
# fixed ports and the game's name are shared with them): run-test.sh FILE...
set -euo pipefail
cd "$(dirname "$0")"
[ -d node_modules/playwright-core ] || { echo "playwright-core is missing: run 'bash .ci/install-deps'" >&2; exit 1; }
exec flock "${TMPDIR:-/tmp}/tovelwebhelper-blackbox.lock" node --test "$@"
