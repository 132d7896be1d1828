#!/usr/bin/env bash
# Runs the whole notification chain on this machine and shows it working:
# builds the programs, makes a demo database, points a gateway channel at a
# local notify server, starts beaconhub, relaygate, a local client program
# subscribed to the demo table and churnmill, then presses churnmill's
# "Start Shaking" with a real mouse click. The client's lines are printed as
# they arrive. After the given seconds (or on Ctrl-C) every program is stopped
# in order and a summary is printed.
#
#   scripts/demo.sh [seconds] [--tps N]
#     seconds   how long churnmill runs (default 20)
#     --tps N   target transactions per second, 1 to 100, typed into churnmill's rate (default 10)
#
# Without DISPLAY the programs run on a private Xvfb, on the first free display
# from :99 up; with DISPLAY they show there (the display is named as the run
# starts), and only the windows of the programs this run started are driven.
# Everything the run makes (database, settings, session, logs) lives in a fresh
# folder below build/demo-runs/; the last three runs are kept there.
# CMAKE_BUILD_PARALLEL_LEVEL sets the number of build jobs (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

usage() { echo "usage:"; sed -n '10,12p' "$0" | sed 's/^#//'; }
# A wrong command line: what is wrong, then how it is used.
bad_usage() {
  echo "demo: $*" >&2
  usage >&2
  exit 2
}

seconds=20
seconds_given=0
tps=10
while [ $# -gt 0 ]; do
  case "$1" in
    --tps) [ $# -ge 2 ] || bad_usage "--tps needs a number"; tps=$2; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) bad_usage "unknown option $1" ;;
    *)
      [ "$seconds_given" = 0 ] || bad_usage "one number of seconds only, not also $1"
      seconds=$1; seconds_given=1; shift ;;
  esac
done
case "$seconds" in ''|*[!0-9]*) bad_usage "seconds must be a number" ;; esac
case "$tps" in ''|*[!0-9]*) bad_usage "--tps needs a number" ;; esac
# At most three digits: larger numbers are out of range without arithmetic on them.
[ "${#tps}" -le 3 ] && [ "$tps" -ge 1 ] && [ "$tps" -le 100 ] || bad_usage "--tps is 1 to 100, not $tps"
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
keep_runs=3

say() { printf '[demo] %s\n' "$*"; }

# ---- Build -------------------------------------------------------------------
scripts/install-deps.sh
build=${VEXA_BUILD_DIR:-build}
mkdir -p "$build"
build_log="$build/demo-build.log"

# On a terminal the build shows as one line that keeps changing; elsewhere
# (a log, a pipe) its lines pass as they are.
build_progress() {
  if [ -t 1 ]; then
    local line width=$(( $(tput cols 2>/dev/null || echo 100) - 8 ))
    while IFS= read -r line; do
      case "$line" in
        \[*/*\]*) printf '\r\033[K[demo] %s' "${line:0:$width}" ;;
      esac
    done
    printf '\r\033[K'
  else
    cat
  fi
}

# What went wrong, unless the build's own lines already showed it.
build_failed() {
  if [ "$2" = show ]; then
    # ninja marks each failed step; the compiler's messages follow the mark.
    local errors
    errors=$(sed -n '/^FAILED: /,/^ninja: build stopped/p' "$build_log" | head -n 80)
    [ -n "$errors" ] || errors=$(tail -n 40 "$build_log")
    printf '%s\n' "$errors" >&2
  fi
  say "the build failed: $1" >&2
  say "the whole output is in $build_log" >&2
  say "fix what the messages above name, or run scripts/install-deps.sh (as root) if a package is missing;" >&2
  say "then run scripts/demo.sh again (cmake --build $build shows the build on its own)" >&2
  exit 1
}

# A Ctrl-C during the build ends the progress line before saying so.
build_interrupted() {
  if [ -t 1 ]; then printf '\r\033[K'; fi
  say "interrupted during the build"
  exit 130
}
trap build_interrupted INT TERM
say "building in $build ($jobs jobs; the first build takes a few minutes)"
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build_log" 2>&1; then
  build_failed "cmake could not configure the build" show
fi
set +e
cmake --build "$build" -j "$jobs" --target beaconhub relaygate churnmill notifylistener vexareg \
  vexa_notify_udr 2>&1 | tee -a "$build_log" | build_progress
build_status=${PIPESTATUS[0]}
set -e
if [ "$build_status" -ne 0 ]; then
  if [ -t 1 ]; then build_failed "the compiler or linker stopped" show; fi
  build_failed "the compiler or linker stopped" shown
fi
trap - INT TERM
say "built"
bin="$root/$build/bin"
[ -d "$bin" ] || bin="$build/bin"
bin=$(cd "$bin" && pwd)

# ---- A private run: session, settings, database ---------------------------------
mkdir -p "$build/demo-runs"
# Each run keeps some 50 MB (program copies, database): only the latest few stay.
ls -1dt "$build"/demo-runs/run-* 2>/dev/null | tail -n +"$keep_runs" | while IFS= read -r old; do
  rm -rf -- "$old"
done || true
run=$(mktemp -d "$(cd "$build/demo-runs" && pwd)/run-XXXXXX")
export VEXA_SESSION_DIR="$run/session" VEXA_REGISTRY_DIR="$run/registry"
mkdir -p "$VEXA_SESSION_DIR" "$VEXA_REGISTRY_DIR" "$run/programs"
chmod 700 "$VEXA_SESSION_DIR"
export FIREBIRD="$root/$build/firebird"
[ -d "$FIREBIRD" ] || FIREBIRD=$(cd "$build/firebird" && pwd)
say "run folder $run"

db="$run/KWV_DEMO.GDB"
say "making the demo database"
dbside/build-demo-db.sh --build "$build" --output "$db" --rows 300 >"$run/build-demo-db.log" 2>&1 || {
  cat "$run/build-demo-db.log" >&2
  exit 1
}
isql=$(command -v isql-fb || command -v isql)
# The demo's own count of committed passes: every change of the demo table is
# also written down by its transaction; only committed ones stay.
"$isql" -q -user SYSDBA "$db" >"$run/audit.log" 2>&1 <<'SQL' || { cat "$run/audit.log" >&2; exit 1; }
CREATE TABLE DEMO_PASSES (TRANSID BIGINT, STOCKID INTEGER, CODE CHAR(1));
SET TERM ^ ;
CREATE TRIGGER DEMO_PASSES_LOG FOR DEMOTABLE ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 30 AS
BEGIN
  INSERT INTO DEMO_PASSES (TRANSID, STOCKID, CODE) VALUES (CURRENT_TRANSACTION,
    CASE WHEN DELETING THEN OLD.STOCKID ELSE NEW.STOCKID END,
    CASE WHEN INSERTING THEN 'I' WHEN UPDATING THEN 'C' ELSE 'D' END);
END^
SET TERM ; ^
COMMIT;
SQL

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
channel=DEMO
vexareg() { "$bin/vexareg" "$@"; }
vexareg write "HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\ClientGateway\\$channel" Address 127.0.0.1
vexareg write "HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\ClientGateway\\$channel" Port "$port"
vexareg write "HKEY_LOCAL_MACHINE\\Software\\VEXA Software\\Lumidex\\NotifyServer" DezazErurDB "$db"

# The servers read their INI files beside themselves: they run as copies in the run folder.
cp "$bin/beaconhub" "$bin/relaygate" "$run/programs/"
printf '[Server]\nAddress=127.0.0.1\nPort=%s\nMaxClients=0\n[Client]\nFlushInterval=100\n' "$port" \
  >"$run/programs/beaconhub.ini"
printf '[Connection Polling]\nDuration=0\nInterval=1\n' >"$run/programs/relaygate.ini"

# ---- Stopping ------------------------------------------------------------------
declare -A pids=()
xvfb_pid=
tail_pid=
stopping=0

# Sends a signal and waits up to ten seconds; reports a program that would not end.
stop_program() {
  local name=$1 sig=$2 pid=${pids[$1]:-}
  [ -n "$pid" ] || return 0
  if kill -0 "$pid" 2>/dev/null; then
    kill "-$sig" "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      say "$name did not stop on SIG$sig; killing it"
      kill -KILL "$pid" 2>/dev/null || true
      stop_failed=1
    fi
  fi
  local rc=0
  wait "$pid" 2>/dev/null || rc=$?
  if [ "$rc" -ne 0 ]; then
    say "$name ended with status $rc"
    stop_failed=1
  fi
  unset "pids[$name]"
}

# Waits until the client's count of notifications stops growing (what was
# committed last is on its way).
settle() {
  local before=-1 now
  for _ in $(seq 40); do
    now=$(grep -c '^Notification ' "$run/client.log" 2>/dev/null || true)
    [ "$now" = "$before" ] && break
    before=$now
    sleep 0.5
  done
}

stop_failed=0
wid=
shake_x=56
shake_y=14
cleanup() {
  [ "$stopping" = 1 ] && return
  stopping=1
  say "stopping"
  # "Stop Shaking" first, so that no pass is under way when churnmill is asked to end.
  if [ -n "$wid" ] && [ -n "${pids[churnmill]:-}" ] && kill -0 "${pids[churnmill]}" 2>/dev/null; then
    xdotool mousemove --window "$wid" "$shake_x" "$shake_y" click 1 2>/dev/null || true
  fi
  settle
  stop_program churnmill TERM
  settle
  stop_program notifylistener INT
  stop_program relaygate TERM
  stop_program beaconhub TERM
  if [ -n "$tail_pid" ]; then kill "$tail_pid" 2>/dev/null || true; wait "$tail_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
}
interrupted=0
trap 'interrupted=1' INT TERM
trap cleanup EXIT
# From here on a Ctrl-C also ends whatever runs in the foreground (a sleep, a
# wait): that must not end the script before it has stopped everything.
set +e

# Each program runs in a session of its own so that Ctrl-C reaches only this
# script, which then stops them in order.
start() {
  local name=$1 log=$2
  shift 2
  (exec setsid "$@" >"$log" 2>&1) &
  pids[$name]=$!
}

wait_for() {  # file text seconds
  local i
  for i in $(seq $(($3 * 10))); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    [ "$interrupted" = 1 ] && return 1
    sleep 0.1
  done
  return 1
}

fail() {
  say "$*"
  for f in "$run"/*.log; do
    [ -s "$f" ] && { echo "--- $(basename "$f")"; tail -n 20 "$f"; }
  done
  exit 1
}

# ---- Display ---------------------------------------------------------------------
if [ -z "${DISPLAY:-}" ]; then
  n=99
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  (exec setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$run/xvfb.log" 2>&1) &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.1
  done
  say "no DISPLAY: running on a private Xvfb, display $DISPLAY"
else
  say "running on display $DISPLAY"
fi

# ---- The chain -------------------------------------------------------------------
start beaconhub "$run/beaconhub.log" "$run/programs/beaconhub"
start relaygate "$run/relaygate.log" "$run/programs/relaygate" "$channel"
: >"$run/client.log"
start notifylistener "$run/client.log" "$bin/notifylistener" "$channel" 1
tail -n +1 -f "$run/client.log" | sed -u 's/^/[client] /' &
tail_pid=$!
wait_for "$run/client.log" "Subscribed to table 1" 30 || fail "the client did not subscribe"
wait_for "$run/client.log" "NotifyServerState 1" 30 || fail "the gateway did not reach the notify server"
sleep 1  # the server confirms the subscription

start churnmill "$run/churnmill.log" "$bin/churnmill"
# The window of the churnmill just started, not another one on the display.
wid=
for _ in $(seq 150); do
  wid=$(xdotool search --all --onlyvisible --pid "${pids[churnmill]}" --name '^VEXA Churnmill$' 2>/dev/null |
    head -n1) || true
  [ -n "$wid" ] || [ "$interrupted" = 1 ] || { sleep 0.2; continue; }
  break
done
[ -n "$wid" ] || [ "$interrupted" = 1 ] || fail "churnmill's window did not appear"
sleep 0.5
# Where a control of churnmill's form is: the middle of its upper half
# (for the arrows, the upper arrow), read from where the form places it.
spot() {  # name default-x default-y
  local b
  b=$(sed -n "s/.*Place<[^>]*>(this, \"$1\", *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)).*/\1 \2 \3 \4/p" \
    demo/ChurnmillMain.cpp | head -n1)
  if [ -z "$b" ]; then echo "$2 $3"; return; fi
  set -- $b
  echo "$(($1 + $3 / 2)) $(($2 + $4 / 4))"
}
read -r shake_x shake_y <<<"$(spot btnShake 56 14)"
read -r rate_x rate_y <<<"$(spot Edit1 410 14)"
# Target rate: a click into the box beside "Target TPS:" (it starts at 1),
# Page Up for each ten and Up for each one more; then "Start Shaking".
if [ "$interrupted" = 0 ]; then
  pages=$(((tps - 1) / 10)) ones=$(((tps - 1) % 10))
  say "setting churnmill's target rate to $tps: Page Up $pages times and Up $ones times in its Target TPS box"
  xdotool mousemove --window "$wid" "$rate_x" "$rate_y" click 1
  keys=()
  for _ in $(seq "$pages"); do keys+=(Prior); done
  for _ in $(seq "$ones"); do keys+=(Up); done
  sleep 0.2
  if [ "${#keys[@]}" -gt 0 ] && [ "$interrupted" = 0 ]; then xdotool key --delay 20 "${keys[@]}"; fi
fi
if [ "$interrupted" = 0 ]; then
  say "pressing Start Shaking (target $tps per second) for $seconds seconds"
  xdotool mousemove --window "$wid" "$shake_x" "$shake_y" click 1
fi

start_time=$(date +%s)
while [ "$interrupted" = 0 ] && [ $(($(date +%s) - start_time)) -lt "$seconds" ]; do
  kill -0 "${pids[churnmill]}" 2>/dev/null || { say "churnmill ended early"; break; }
  sleep 0.2
done
[ "$interrupted" = 1 ] && say "interrupted"

cleanup

# ---- Summary ---------------------------------------------------------------------
counts=$("$isql" -q -user SYSDBA "$db" 2>/dev/null <<'SQL' | awk 'NF==2 && $1 ~ /^[0-9]+$/ {print $1, $2}'
SELECT COUNT(DISTINCT TRANSID), COUNT(*) FROM DEMO_PASSES;
SQL
) || true
passes=${counts% *}
changes=${counts#* }
received=$(grep -c '^Notification table=1 ' "$run/client.log" || true)
echo
echo "Summary"
echo "  passes committed:        ${passes:-?}"
echo "  rows changed:            ${changes:-?}"
echo "  notifications received:  $received"
echo "  logs:                    $run"
if [ "$stop_failed" = 1 ]; then
  say "a program did not end cleanly"
  exit 1
fi
if [ "${received:-0}" -eq 0 ]; then
  say "no notification arrived"
  exit 1
fi
if [ -n "${changes:-}" ] && [ "$received" -ne "$changes" ]; then
  say "notifications received differ from rows changed"
  exit 1
fi
trap - EXIT
exit 0
