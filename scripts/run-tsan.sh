#!/usr/bin/env bash
# Builds everything with ThreadSanitizer in build-tsan/ and runs the suites named by
# their labels (default: the engine's, engine pull push). Not part of CI: it is slow.
# Packages must be installed already (scripts/install-deps.sh); no root needed.
#
# Every report lands in build-tsan/tsan-reports/ (one file per process, so reports
# from child processes such as the stand-in agent are kept too); a test with a report
# fails. Reports from Ice's own uninstrumented reference counting are suppressed by
# scripts/tsan-suppressions.txt.
#
#   scripts/run-tsan.sh              # engine, pull, push
#   scripts/run-tsan.sh adapter push # any test folder names
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=build-tsan
labels=("$@")
if [ "${#labels[@]}" -eq 0 ]; then labels=(engine pull push); fi
jobs=$(nproc)
jobs=$(( jobs < 4 ? jobs : 4 ))

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_TSAN=ON -DKOVA_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

reports=$root/$build/tsan-reports
rm -rf "$reports"
mkdir -p "$reports"
# ignore_noninstrumented_modules: what libIce itself frees or copies is not checked
# (its synchronisation still is); see scripts/tsan-suppressions.txt.
export TSAN_OPTIONS="ignore_noninstrumented_modules=1 suppressions=$root/scripts/tsan-suppressions.txt log_path=$reports/report second_deadlock_stack=1 history_size=4 ${TSAN_OPTIONS:-}"

status=0
label_regex=$(IFS='|'; echo "^(${labels[*]})\$")
# One test at a time: the sanitizer slows every thread down several times over.
(cd "$build" && ctest --output-on-failure -L "$label_regex") || status=$?

shopt -s nullglob
found=("$reports"/report.*)
if [ "${#found[@]}" -gt 0 ]; then
  echo "run-tsan: ${#found[@]} process(es) reported; see $reports"
  grep -h '^SUMMARY: ThreadSanitizer' "${found[@]}" | sort | uniq -c | sort -rn
  if [ "$status" -eq 0 ]; then status=1; fi
else
  echo "run-tsan: no ThreadSanitizer reports"
fi
exit "$status"
