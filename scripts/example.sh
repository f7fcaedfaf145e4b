#!/usr/bin/env bash
# Builds both programs and runs them on the bundled iris example: the fit
# of the coefficients, three factor scores, then all four, then back from
# the scores to the data. Then it builds the tests, so that the quick
# `ctest --test-dir build -j2` runs them. The build shows its progress (make's
# percentage lines) on standard output.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bash "$top/scripts/deps.sh" tool libgtest-dev libgmock-dev
cmake -S "$top" -B "$top/build" >/dev/null
echo "building scorix and scorix-fit"
cmake --build "$top/build" --target scorix scorix-fit -j"$(nproc)"

work="$top/build/example"
rm -rf "$work" && mkdir -p "$work"
cp "$top/examples/iris.dat" "$work/"
cd "$work"
scorix="$top/build/scorix"
"$top/build/scorix-fit" iris.dat </dev/null
"$scorix" -f iris.fsc iris.dat </dev/null
head -n 3 iris.sco
"$scorix" -q -a -e all -f iris.fsc iris.dat </dev/null
"$scorix" -q -i -a -f iris.fsc iris.all </dev/null
echo "first rows back from all four scores (iris.tad):"
head -n 3 iris.tad
echo "building the tests"
cmake --build "$top/build" -j"$(nproc)"
echo "outputs of the example in $work; the quick tests: ctest --test-dir build -j2"
