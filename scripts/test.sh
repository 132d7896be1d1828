#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs the whole test suite.
#   scripts/test.sh            all tests
#   VEXA_SANITIZE=1 scripts/test.sh   the same under ASan and UBSan (Debug)
#   CMAKE_BUILD_PARALLEL_LEVEL=n        n build and test jobs (default: one per core)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}  # build and test jobs
build=${VEXA_BUILD_DIR:-build}
args=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${VEXA_SANITIZE:-0}" = 1 ]; then
  build=${VEXA_BUILD_DIR:-build-asan}
  args=(-G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEXA_SANITIZE=ON)
fi

cmake -S . -B "$build" "${args[@]}"
cmake --build "$build" -j "$jobs"
# Tests never use the desktop this runs on: the GUI tests start X servers of their own.
# The long stress runs (label stress) are for a run of their own: see README.md.
env -u DISPLAY ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 -LE stress

# The demo command, briefly, as a user runs it: the whole chain on a private X server.
if [ "${VEXA_SANITIZE:-0}" != 1 ] && [ "${VEXA_NO_DEMO:-0}" != 1 ]; then
  # Once: a demo that fails is a fault to find, not to run again.
  env -u DISPLAY VEXA_BUILD_DIR="$build" scripts/demo.sh 5
fi

# The fuzz targets need clang's libFuzzer: a build of their own, a short run each.
if [ "${VEXA_NO_FUZZ:-0}" != 1 ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVEXA_FUZZ=ON -DVEXA_TESTS=ON -DVEXA_BENCH=OFF -DVEXA_ONLY_FUZZ=ON
  # A build without fuzz targets fails here: every parser of outside input has one.
  cmake --build build-fuzz -j "$jobs" --target vexa_fuzzers
  ctest --test-dir build-fuzz --output-on-failure -j "$jobs" -L fuzz --no-tests=error
fi
