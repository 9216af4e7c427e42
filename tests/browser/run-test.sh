#!/usr/bin/env bash
# Runs browser test files: run-test.sh FILE... (ctest runs each in namespaces of its
# own, scripts/isolated.sh).
set -euo pipefail
cd "$(dirname "$0")"
for driver in playwright-core puppeteer-core selenium-webdriver; do
  [ -d "node_modules/$driver" ] || { echo "$driver is missing: run 'bash .ci/install-deps'" >&2; exit 1; }
done
exec node --test "$@"
