#!/usr/bin/env bash
# No folder includes a header of a layer above it: the tree passes the layer
# check, and the check refuses each kind of upward include in a small stand-in
# tree (by root path, by a relative path, in angle brackets, inside platform/),
# while includes downward, of its own folder, from tests/ and in comments pass.
#   LayerCheckTest.sh <source folder>
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
check() { python3 "$src/scripts/layer-check.py" "$@"; }

out=$(check "$src" 2>&1) || fail "the tree has includes that run up a layer:"$'\n'"$out"

t=$tmp/tree
mkdir -p "$t/platform/kernel" "$t/platform/msg" "$t/framework" "$t/server" "$t/gateway" "$t/tests" \
  "$t/build/server"
put() { printf '%s\n' "${@:2}" >"$t/$1"; }
put platform/kernel/K.h '#include <vector>' '// #include "framework/F.h"' '#include "platform/msg/M.h"'
put platform/msg/M.h '#include "platform/kernel/K.h"' '#include "M2.h"'
put platform/msg/M2.h '#pragma once'
put framework/F.h '#include "platform/msg/M.h"' '#include "../server/S.h"'
put server/S.h '#include "framework/F.h"' '  #  include <gateway/G.h>'
put gateway/G.h '#include "server/S.h"'
put tests/T.cpp '#include "server/S.h"'
put build/server/Gen.h '#include "gateway/G.h"'
put build/CMakeCache.txt ''
out=$(check "$t" 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "the check exits $rc, not 1, on upward includes"
expected="layer-check: framework/F.h:2: includes server/S.h, which runs up a layer (framework may include platform/*)
layer-check: gateway/G.h:1: includes server/S.h, which runs up a layer (gateway may include platform/*, framework, framework/db, shared, sockets, components)
layer-check: platform/kernel/K.h:3: includes platform/msg/M.h, which runs up a layer (platform/kernel may include nothing else)
layer-check: server/S.h:2: includes gateway/G.h, which runs up a layer (server may include platform/*, framework, framework/db, shared, sockets, components)"
[ "$out" = "$expected" ] || fail "the check reports"$'\n'"$out"$'\n'"instead of"$'\n'"$expected"

[ "$failed" -eq 0 ] && echo "layer checks passed"
exit "$failed"
