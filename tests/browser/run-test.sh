#!/usr/bin/env bash
# Runs browser test files: run-test.sh FILE... (ctest runs each in namespaces of its
# own, scripts/isolated.sh).
set -euo pipefail
cd "$(dirname "$0")"
[ -d node_modules/playwright-core ] || { echo "playwright-core is missing: run 'bash .ci/install-deps'" >&2; exit 1; }
exec node --test "$@"
