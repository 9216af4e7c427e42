#!/usr/bin/env bash
# Installs what is missing, builds the Linux, Windows (run under Wine), sanitizer and
# fuzz trees, and runs every test of them through one ctest call.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-deps

for preset in native win32 asan tsan fuzz; do
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

# One ctest run over the trees, so that its summary covers everything. The fuzz tree
# contributes only its fuzz runs (its unit tests are not built there).
cat > build/CTestTestfile.cmake <<'CTEST'
subdirs("native")
subdirs("win32")
subdirs("asan")
subdirs("tsan")
subdirs("fuzz/fuzz")
CTEST

ctest --test-dir build --output-on-failure -j2 "$@"
