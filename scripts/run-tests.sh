#!/usr/bin/env bash
# Sets up a Debian 12 machine (as root) and runs every test: a normal build and a
# build with AddressSanitizer and UndefinedBehaviorSanitizer, each through ctest.
# Then the libFuzzer targets run for a few seconds each (scripts/run-fuzz.sh).
# Before the builds: the format check (clang-format over every tracked C++ file) and a
# clang build of the product libraries that checks the lock annotations.
# Warnings are errors here (KOVA_WERROR), so CI fails on a new warning.
# Benchmarks are built in the normal build; run them by hand from build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)

echo "== format check =="
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

echo "== lock annotations checked by clang (product libraries) =="
CC=clang CXX=clang++ cmake -S . -B build-threadsafety -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_WERROR=ON \
  -DKOVA_THREAD_SAFETY=ON -DKOVA_BENCH=OFF >/dev/null
cmake --build build-threadsafety -j "$jobs" --target kova_client kova_store kova_engine kova_model kova_log_codecs

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # Tests start their own agents, routers and registries on loopback ports; a few at a
  # time keeps a 2-core machine responsive.
  (cd "$dir" && ctest --output-on-failure -j "$(( jobs < 4 ? jobs : 4 ))")
}

echo "== build and test =="
run_suite build
echo "== build and test with address and undefined-behaviour sanitizers =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DKOVA_SANITIZE=ON -DKOVA_BENCH=OFF
echo "== fuzz targets, a few seconds each =="
KOVA_FUZZ_JOBS=$jobs bash scripts/run-fuzz.sh
