#!/usr/bin/env bash
# Remakes the example's outputs with the project's own tools: iris.fsc by
# scorix-fit from iris.dat, the scores by scorix, and both plots by gnuplot
# (Debian's gnuplot-nox), and the pictures of the web pages (below). iris.dat
# itself is never rewritten.
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
# The web pages (--report) of the iris example and of R's bfi questionnaire
# (its CSV written by R's psych, as the README shows), the top of each as a
# PNG by headless chromium.
command -v chromium >/dev/null || { echo "iris_report.png, bfi_report.png not remade: needs chromium"; exit 0; }
shot() {  # NAME HEIGHT SCALE
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor="$3" \
    --window-size="1200,$2" --screenshot="$here/$1_report.png" "file://$work/$1.html" >/dev/null 2>&1
}
(cd "$work" && PATH="$build:$PATH" scorix-fit --report=iris.html iris.dat </dev/null >/dev/null)
shot iris 1300 0.75
if Rscript -e "write.csv(psych::bfi, '$work/bfi.csv')" >/dev/null 2>&1; then
  cp bfi.scales "$work/"
  (cd "$work" && PATH="$build:$PATH" scorix-fit --csv --header --columns=A1-O5 --cor=polychoric --missing=pairwise \
    --method=minres --rotate=oblimin -k 5 --cut=0.3 --reliability=bfi.scales --report=bfi.html bfi.csv \
    </dev/null >/dev/null)
  shot bfi 1900 0.6
else
  echo "bfi_report.png not remade: needs R with psych"
fi
