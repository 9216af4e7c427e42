#!/usr/bin/env bash
# Installs what is missing, builds the Linux, Windows (run under Wine), sanitizer and
# fuzz trees, and runs every test of them through one ctest call.
#
# The 32-bit Windows program is what players get: it is always built and packaged. It
# is tested under Wine where this machine runs 32-bit programs; where it runs none (a
# kernel without 32-bit emulation), the same sources are built for 64-bit Windows and
# that tree's tests run under 64-bit Wine in its place.
set -euo pipefail
cd "$(dirname "$0")/.."

bash .ci/install-deps

# Tried once: Debian's 32-bit Wine loader is a 32-bit Linux program.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  windows=win32
else
  windows=win64
  echo "== this machine runs no 32-bit programs: the Windows tests run on the 64-bit build (win64) under 64-bit Wine in place of win32"
fi

presets=(native win32)
[ "$windows" = win64 ] && presets+=(win64)
presets+=(asan tsan fuzz)
for preset in "${presets[@]}"; do
  echo "== configure and build: $preset"
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== built $preset in $((SECONDS - start)) s"
done
(cd build/win32 && cpack -C Release >/dev/null && echo "== packaged: $(ls package/*.zip)")

# One ctest run over the trees, so that its summary covers everything. The fuzz tree
# contributes only its fuzz runs (its unit tests are not built there).
{
  echo 'subdirs("native")'
  echo "subdirs(\"$windows\")"
  echo 'subdirs("asan")'
  echo 'subdirs("tsan")'
  echo 'subdirs("fuzz/fuzz")'
  if [ "$windows" = win64 ]; then
    # Shows in ctest's summary among the tests that did not run.
    echo 'add_test(win32.tests-run-as-win64 bash -c "echo this machine runs no 32-bit programs: the win32 tests run as win64; exit 77")'
    echo 'set_tests_properties(win32.tests-run-as-win64 PROPERTIES SKIP_RETURN_CODE 77)'
  fi
} > build/CTestTestfile.cmake

start=$SECONDS
ctest --test-dir build --output-on-failure -j"${TOVEL_TEST_JOBS:-4}" "$@"
echo "== tests ran in $((SECONDS - start)) s"
