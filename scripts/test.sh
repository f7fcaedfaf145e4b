#!/usr/bin/env bash
# Builds everything and runs every test, the slow checks included
# (SCORIX_SLOW_TESTS=1): the normal build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer (in a build that inflates
# gzip through zlib instead of ISA-L, so both are tested), then under
# ThreadSanitizer, then a short pass of every fuzz target. A failing stage does not stop the
# others; the last line counts every test and fuzz target that ran,
# "N passed, M failed" (a build that fails counts as one failure), and the
# status is 1 when M > 0. Skipped checks (a tool missing) are named on the
# line before.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" || { echo "FAILED: installing the packages"; echo "0 passed, 1 failed"; exit 1; }
jobs=$(nproc)
passed=0 failed=0 skipped=()

# A count from the head of ctest's JUnit report.
junit_count() {  # report attribute
  grep -o -m 1 "[[:space:]]$2=\"[0-9]*\"" "$1" | tr -dc 0-9
}

# Builds one tree and runs its ctest; counts from ctest's JUnit report.
ctest_stage() {  # build_dir cmake_options...
  local build=$1 report=$1/junit.xml tests failures skips name
  shift
  if ! { cmake -S "$top" -B "$build" -DSCORIX_TESTS=ON "$@" >/dev/null && cmake --build "$build" -j"$jobs"; }; then
    echo "FAILED: the build in $build"
    failed=$((failed + 1))
    return
  fi
  rm -f "$report"
  (cd "$build" && SCORIX_SLOW_TESTS=1 ctest --output-on-failure -j"$jobs" --output-junit junit.xml)
  tests=$(junit_count "$report" tests) failures=$(junit_count "$report" failures)
  skips=$(junit_count "$report" skipped)
  if [ -z "$tests" ]; then
    echo "FAILED: ctest in $build gave no report"
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + tests - failures - skips)) failed=$((failed + failures))
  while read -r name; do
    skipped+=("$name (${build##*/})")
  done < <(sed -n 's/.*<testcase name="\([^"]*\)".*status="notrun".*/\1/p' "$report")
}

ctest_stage "$top/build"
ctest_stage "$top/build-sanitize" -DSCORIX_SANITIZE=ON -DSCORIX_ISAL=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest_stage "$top/build-tsan" -DSCORIX_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo

fuzz_log=$(mktemp) && trap 'rm -f "$fuzz_log"' EXIT
bash "$top/scripts/fuzz.sh" short | tee "$fuzz_log"
fuzz_status=${PIPESTATUS[0]}
fuzz_passed=$(grep -c '^fuzz .*: ok$' "$fuzz_log") fuzz_failed=$(grep -c '^fuzz .*: FAILED' "$fuzz_log")
if [ "$fuzz_status" = 77 ]; then
  skipped+=("fuzz targets")
elif [ "$fuzz_status" != 0 ] && [ "$fuzz_failed" = 0 ]; then
  fuzz_failed=1  # the fuzz build itself failed
fi
passed=$((passed + fuzz_passed)) failed=$((failed + fuzz_failed))

[ ${#skipped[@]} -eq 0 ] || (IFS=,; echo "skipped:${skipped[*]/#/ }")
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
