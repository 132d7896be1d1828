#!/usr/bin/env bash
# README.md's "Run it by hand" steps on a fresh clone, in order, as a newcomer
# types them: the configure step makes the build folder; the build step is
# asked what it would do (the programs then come from this build, so that the
# test stays short); the programs started as shown, without a display, bring
# the chain up: the client connects, subscribes and hears the notify server is
# reachable. The notify server's port is a free one instead of 5500.
#   ReadmeByHandTest.sh <source folder> <build folder>
set -uo pipefail
src=$1 built=$2
tmp=$(mktemp -d)
bg=()
cleanup() {
  for p in "${bg[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.log; do [ -s "$f" ] && { echo "--- $(basename "$f")"; tail -n 20 "$f"; }; done
  exit 1
}

git clone -q "$src" "$tmp/clone" || fail "cannot clone $src"
cd "$tmp/clone" || exit 1
mapfile -t steps < <(sed -n '/^## Run it by hand/,/^## [^R]/p' README.md | sed -n 's/^    //p')
[ "${#steps[@]}" -ge 3 ] || fail "no commands in the section: ${steps[*]}"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export VEXA_SESSION_DIR="$tmp/session" VEXA_REGISTRY_DIR="$tmp/registry"
mkdir -m 700 "$VEXA_SESSION_DIR"
unset DISPLAY

for step in "${steps[@]}"; do
  step=${step//5500/$port}
  case "$step" in
    "cmake --build"*)
      bash -c "$step -- -n" >>"$tmp/build.log" 2>&1 || fail "'$step' fails on a fresh clone"
      mkdir -p build/bin
      for p in beaconhub relaygate churnmill notifylistener vexareg; do cp "$built/bin/$p" build/bin/ || exit 1; done
      printf '[Server]\nPort=%s\n' "$port" >build/bin/beaconhub.ini
      ;;
    *"&")
      bash -c "exec ${step%&}" >>"$tmp/programs.log" 2>&1 &
      bg+=($!)
      ;;
    build/bin/notifylistener*)
      bash -c "exec $step" >"$tmp/client.log" 2>&1 &
      bg+=($!)
      ;;
    *) bash -c "$step" >>"$tmp/steps.log" 2>&1 || fail "'$step' fails on a fresh clone" ;;
  esac
done

for line in "Connected to channel DEMO" "Subscribed to table 1 (1)" "NotifyServerState 1"; do
  for _ in $(seq 300); do
    grep -qxF "$line" "$tmp/client.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -qxF "$line" "$tmp/client.log" || fail "the client did not print '$line'"
done
echo "the by-hand steps work on a fresh clone"
