#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them from the corpus in
# tests/corpus. New inputs go to build-fuzz/corpus, never into the source tree.
#   scripts/fuzz.sh short                 every target for 15 s (as CI does)
#   scripts/fuzz.sh long SECONDS [TARGET...]  a long run, one target after another
# Targets: scanner printer score_selection coefficient_file data_file. Prints
# one line per target, "fuzz TARGET: ok" or "fuzz TARGET: FAILED"; a crash
# leaves its input as build-fuzz/crash-* and the script goes on with the next
# target and ends with status 1. Without clang-14 (and libclang-rt-14-dev;
# deps.sh installs both) it skips the fuzzing with a message and status 77.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-short}
case "$mode" in
short) seconds=15; shift || true ;;
long) seconds=${2:?"usage: $0 long SECONDS [TARGET...]"}; shift 2 ;;
*) echo "usage: $0 short | long SECONDS [TARGET...]" >&2; exit 2 ;;
esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scanner printer score_selection coefficient_file data_file)

if ! command -v clang++-14 >/dev/null; then
  echo "fuzz: skipped, clang++-14 is not installed (apt-get install clang-14 libclang-rt-14-dev)"
  exit 77
fi
build="$top/build-fuzz"
CC=clang-14 CXX=clang++-14 cmake -S "$top/fuzz" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

cd "$build"
# The harnesses write their inputs to scratch files: in memory when possible.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
failed=0
for target in "${targets[@]}"; do
  mkdir -p "corpus/$target"
  echo "fuzzing $target for ${seconds}s"
  # Output of the program under test is dropped (-close_fd_mask=3); the
  # fuzzer's own report stays on standard error. A single input may take
  # 10 s and 2 GB at most.
  "./${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -close_fd_mask=3 -print_final_stats=1 "corpus/$target" "$top/tests/corpus/$target" 2>"$target.log" || {
    tail -n 60 "$target.log" >&2
    echo "fuzz $target: FAILED, see $build/$target.log"
    failed=1
    continue
  }
  grep -E '^stat::number_of_executed_units|^Done' "$target.log" || true
  echo "fuzz $target: ok"
done
exit "$failed"
