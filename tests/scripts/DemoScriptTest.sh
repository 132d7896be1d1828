#!/usr/bin/env bash
# The demo command as a newcomer meets it, run on a small stand-in project so
# that it takes seconds: a wrong command line prints the usage and exits 2
# before anything is built; a broken build shows the compiler's own message
# and what to do; of the run folders below build/demo-runs/ only the last
# three stay; a Ctrl-C during the build on a terminal ends the progress line
# and says so.
#   DemoScriptTest.sh <source folder>
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

tree=$tmp/tree
mkdir -p "$tree/scripts" "$tree/dbside"
cp "$src/scripts/demo.sh" "$tree/scripts/"
printf '#!/usr/bin/env bash\nexit 0\n' >"$tree/scripts/install-deps.sh"
printf '#!/usr/bin/env bash\necho "stand-in database builder"\nexit 1\n' >"$tree/dbside/build-demo-db.sh"
chmod +x "$tree/scripts/"*.sh "$tree/dbside/build-demo-db.sh"
cat >"$tree/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(standin CXX)
add_executable(beaconhub main.cpp)
foreach(t relaygate churnmill notifylistener vexareg vexa_notify_udr)
  add_custom_target(${t})
endforeach()
CMAKE
demo() { env -u DISPLAY -u VEXA_BUILD_DIR CMAKE_BUILD_PARALLEL_LEVEL=2 "$tree/scripts/demo.sh" "$@"; }

# ---- Wrong command lines: the reason and the usage on standard error, exit 2.
for args in "5 --tps" "--tps 0" "--tps 101" "--tps ten" "--fast" "5 6" "-3"; do
  # shellcheck disable=SC2086
  out=$(demo $args 2>&1 >/dev/null)
  rc=$?
  [ "$rc" -eq 2 ] || fail "'demo.sh $args' exits $rc, not 2"
  grep -q '^demo: ' <<<"$out" || fail "'demo.sh $args' does not say what is wrong: $out"
  grep -q '^usage:' <<<"$out" || fail "'demo.sh $args' prints no usage: $out"
  grep -q 'scripts/demo.sh \[seconds\] \[--tps N\]' <<<"$out" || fail "'demo.sh $args': usage line missing"
done
[ ! -e "$tree/build" ] || fail "a wrong command line started the build"
demo --help >/dev/null 2>&1 || fail "--help does not exit 0"

# ---- A broken build: the compiler's message and what to do, exit 1.
echo 'int main() { return no_such_value_in_the_demo_test; }' >"$tree/main.cpp"
out=$(demo 1 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "a broken build exits $rc, not 1"
grep -q "no_such_value_in_the_demo_test" <<<"$out" || fail "the compiler's message is not shown: $out"
grep -q "error" <<<"$out" || fail "no error line shown: $out"
grep -q "the build failed" <<<"$out" || fail "no word that the build failed: $out"
grep -q "run scripts/demo.sh again" <<<"$out" || fail "nothing says what to do: $out"
grep -q "demo-build.log" <<<"$out" || fail "the build log is not named: $out"
[ ! -d "$tree/build/demo-runs" ] || fail "a failed build made a run folder"

# ---- Run folders: the two latest stay beside the new one.
echo 'int main() { return 0; }' >"$tree/main.cpp"
mkdir -p "$tree/build/bin" "$tree/build/firebird" "$tree/build/demo-runs"
for i in 1 2 3 4 5 6; do
  mkdir "$tree/build/demo-runs/run-old$i"
  echo data >"$tree/build/demo-runs/run-old$i/KWV_DEMO.GDB"
  touch -d "$((10 - i)) minutes ago" "$tree/build/demo-runs/run-old$i"
done
out=$(demo 1 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "the stand-in database builder's failure exits $rc, not 1: $out"
grep -q "stand-in database builder" <<<"$out" || fail "the database builder's output is not shown: $out"
grep -q '^\[demo\] built' <<<"$out" || fail "no word that the build is done: $out"
left=$(cd "$tree/build/demo-runs" && ls -1d run-* | sort | tr '\n' ' ')
count=$(cd "$tree/build/demo-runs" && ls -1d run-* | wc -l)
[ "$count" -eq 3 ] || fail "$count run folders left, not 3: $left"
[ -d "$tree/build/demo-runs/run-old6" ] && [ -d "$tree/build/demo-runs/run-old5" ] ||
  fail "the latest runs were removed: $left"

# ---- Ctrl-C on a terminal while the build shows its progress line: the line
# is cleared and the demo says it was interrupted, on a line of its own.
cat >"$tree/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(standin NONE)
add_custom_target(relaygate COMMAND true)
add_custom_target(beaconhub COMMAND sleep 60)
foreach(t churnmill notifylistener vexareg vexa_notify_udr)
  add_custom_target(${t})
endforeach()
CMAKE
rm -rf "$tree/build"
mkfifo "$tmp/keys"
( timeout 100 script -qec "env -u DISPLAY -u VEXA_BUILD_DIR CMAKE_BUILD_PARALLEL_LEVEL=2 $tree/scripts/demo.sh 1" \
    /dev/null <"$tmp/keys" >"$tmp/tty.out" 2>&1
  echo $? >"$tmp/tty.rc" ) &
exec 3>"$tmp/keys"
for _ in $(seq 600); do grep -q '\[demo\] \[1/2\]' "$tmp/tty.out" && break; sleep 0.1; done
printf '\003' >&3
wait $!
exec 3>&-
grep -q '\[demo\] \[1/2\]' "$tmp/tty.out" || fail "no progress line on a terminal: $(cat -v "$tmp/tty.out")"
[ "$(cat "$tmp/tty.rc")" = 130 ] || fail "a Ctrl-C during the build exits $(cat "$tmp/tty.rc"), not 130"
tail -c 60 "$tmp/tty.out" | grep -q $'\r\033\\[K\\[demo\\] interrupted during the build\r$' ||
  fail "a Ctrl-C leaves the progress line: $(tail -c 200 "$tmp/tty.out" | cat -v)"

[ "$failed" -eq 0 ] && echo "demo command checks passed"
exit "$failed"
