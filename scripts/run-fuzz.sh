#!/usr/bin/env bash
# Builds every libFuzzer target (kova_add_fuzz) with clang in build-fuzz/ and runs each:
# first every input kept in tests/fuzz/corpus/<target>/ once (seeds and inputs that
# once found a fault), then a short fuzzing run over a scratch copy of that corpus, so
# the checked-in corpus never changes by itself.
#
# An input that makes a target fail is saved under build-fuzz/fuzz-artifacts/<target>/;
# once the fault is mended, add it to tests/fuzz/corpus/<target>/ as a regression case.
#
# Environment: KOVA_FUZZ_SECONDS (default 5) per target, KOVA_FUZZ_JOBS (build jobs).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${KOVA_FUZZ_SECONDS:-5}
jobs=${KOVA_FUZZ_JOBS:-$(nproc)}
build=build-fuzz

rm -rf "$build/fuzz-targets"  # listed afresh by the configure step
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_FUZZ=ON -DKOVA_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target kova_fuzz_targets

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shopt -s nullglob
manifests=("$build"/fuzz-targets/*.txt)
if [ "${#manifests[@]}" -eq 0 ]; then
  echo "run-fuzz: no fuzz targets" >&2
  exit 1
fi
passed=0
for manifest in "${manifests[@]}"; do
  IFS=$'\t' read -r name binary corpus <"$manifest"
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$artifacts" "$scratch/$name"
  kept=("$corpus"/*)
  echo "== fuzz $name: ${#kept[@]} kept inputs, then ${seconds}s of fuzzing =="
  if [ "${#kept[@]}" -gt 0 ]; then
    "$binary" -artifact_prefix="$artifacts/" "${kept[@]}" >"$scratch/$name.replay.log" 2>&1 ||
      { tail -n 60 "$scratch/$name.replay.log"; echo "run-fuzz: $name fails on a kept input" >&2; exit 1; }
    cp "${kept[@]}" "$scratch/$name/"
  fi
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$scratch/$name" >"$scratch/$name.fuzz.log" 2>&1 ||
    { tail -n 60 "$scratch/$name.fuzz.log"; echo "run-fuzz: $name found a failing input, saved in $artifacts" >&2; exit 1; }
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$scratch/$name.fuzz.log" || true
  passed=$((passed + 1))
done
echo "run-fuzz: $passed target(s) ran clean"
