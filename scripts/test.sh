#!/usr/bin/env bash
# Set up, build, and run every test: the C++ unit tests through meson test, the Python tests
# through pytest against the installed wheel, under Debian's Python and every other CPython
# 3.10+ that the machine has, and the check of the type information. Fails when a test fails
# or none ran.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bash scripts/setup.sh

meson setup build-test -Dtests=true -Dbuildtype=debugoptimized -Db_ndebug=false \
  --reconfigure >/dev/null 2>&1 || meson setup build-test -Dtests=true \
  -Dbuildtype=debugoptimized -Db_ndebug=false
ninja -C build-test
cpp_tests=$(meson test -C build-test --list 2>/dev/null | grep -c . || true)
if [ "$cpp_tests" -eq 0 ]; then
  echo "no C++ tests were found" >&2
  exit 1
fi
meson test -C build-test --print-errorlogs

# Run from outside the source tree so that the installed module is the one imported.
cd /tmp
"$root/.venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python"

# The benchmark at a tiny size, so that its harness keeps running (it measures, it asserts
# nothing); the full run is bench/run_bench.py.
smoke_out=$(mktemp -d)
"$root/.venv/bin/python" "$root/bench/run_bench.py" --smoke \
  --only QuorvaneEngine,QuorvaneServer,SqliteJson --out "$smoke_out" >/dev/null
rm -rf "$smoke_out"

# The same wheel under the other CPythons from 3.10 on, and the stubs checked with mypy where
# they are installed.
bash "$root/scripts/test_pythons.sh"
/usr/bin/python3 "$root/tests/typing/check_types.py" "$root/.venv/bin/python"

# The same tests under the sanitizers: every C++ test and the pytest suite with
# AddressSanitizer and UndefinedBehaviorSanitizer, the threads' tests with ThreadSanitizer.
cd "$root"
bash scripts/sanitize.sh asan python tsan
