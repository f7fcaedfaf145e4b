#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the same
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then a short
# pass of every fuzz target.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh"
jobs=$(nproc)

cmake -S "$top" -B "$top/build" -DSCORIX_TESTS=ON >/dev/null
cmake --build "$top/build" -j"$jobs"
(cd "$top/build" && ctest --output-on-failure -j"$jobs")

cmake -S "$top" -B "$top/build-sanitize" -DSCORIX_TESTS=ON -DSCORIX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build-sanitize" -j"$jobs"
(cd "$top/build-sanitize" && ctest --output-on-failure -j"$jobs")

bash "$top/scripts/fuzz.sh" short
