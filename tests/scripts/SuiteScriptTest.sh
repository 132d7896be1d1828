#!/usr/bin/env bash
# scripts/test.sh says a run failed when it did, on a stand-in project that
# takes seconds: a failing demo fails the run after one try, and a fuzz build
# without fuzz targets fails it too; with both in order the run passes.
#   SuiteScriptTest.sh <source folder>
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

tree=$tmp/tree
mkdir -p "$tree/scripts"
cp "$src/scripts/test.sh" "$tree/scripts/"
printf '#!/usr/bin/env bash\nexit 0\n' >"$tree/scripts/install-deps.sh"
printf '#!/usr/bin/env bash\necho run >>"%s/demo-runs"\nexit "${STANDIN_DEMO_RC:-0}"\n' "$tmp" \
  >"$tree/scripts/demo.sh"
chmod +x "$tree/scripts/"*.sh
cat >"$tree/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(standin NONE)
enable_testing()
add_test(NAME passes COMMAND ${CMAKE_COMMAND} -E true)
if(VEXA_FUZZ AND NOT DEFINED ENV{STANDIN_NO_FUZZERS})
  add_custom_target(vexa_fuzzers)
  add_test(NAME fuzzes COMMAND ${CMAKE_COMMAND} -E true)
  set_tests_properties(fuzzes PROPERTIES LABELS fuzz)
endif()
CMAKE
suite() {
  rm -f "$tmp/demo-runs"
  env -u VEXA_SANITIZE -u VEXA_NO_DEMO -u VEXA_NO_FUZZ -u VEXA_BUILD_DIR CMAKE_BUILD_PARALLEL_LEVEL=2 \
    "$@" "$tree/scripts/test.sh" >"$tmp/out" 2>&1
}
runs() { wc -l <"$tmp/demo-runs" 2>/dev/null || echo 0; }

suite STANDIN_DEMO_RC=1 && fail "a failing demo passes the run"
[ "$(runs)" -eq 1 ] || fail "a failing demo ran $(runs) times, not once: $(cat "$tmp/out")"
suite STANDIN_NO_FUZZERS=1 && fail "a fuzz build without fuzz targets passes the run: $(cat "$tmp/out")"
suite || fail "the run fails with everything in order: $(cat "$tmp/out")"
[ "$(runs)" -eq 1 ] || fail "the demo ran $(runs) times, not once"

[ "$failed" -eq 0 ] && echo "test command checks passed"
exit "$failed"
