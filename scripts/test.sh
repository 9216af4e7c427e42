#!/usr/bin/env bash
# Installs what is missing, builds the Linux, Windows (run under Wine) and sanitizer
# trees, and runs every test of the three through one ctest call.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-deps

for preset in native win32 asan; do
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One ctest run over the three trees, so that its summary covers everything.
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("native")
subdirs("win32")
subdirs("asan")
CTEST

ctest --test-dir build --output-on-failure -j2 "$@"
