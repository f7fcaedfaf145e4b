#!/usr/bin/env bash
# Remakes the example's outputs with the project's own tools: iris.fsc by
# scorix-fit from iris.dat, the scores by scorix, and both plots by gnuplot
# (Debian's gnuplot-nox). iris.dat itself is never rewritten.
#   examples/make_example.sh [BUILD_DIR]    (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
cd "$here"
"$build/scorix-fit" -q -o iris.fsc iris.dat </dev/null
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cp iris.dat iris.fsc "$work/"
(cd "$work" && "$build/scorix" -q -f iris.fsc iris.dat </dev/null >/dev/null)
gnuplot -e "scores='$work/iris.sco'" plot_scores.gp
gnuplot plot_scree.gp
