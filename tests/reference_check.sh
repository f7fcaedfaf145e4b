#!/usr/bin/env bash
# Regenerates the R reference values (every make_*.R script) into a scratch
# directory and runs the tests that compare with R against them, so that a
# change on either side shows.
#   reference_check.sh SCORIX_TESTS_BINARY REFERENCE_DIR
set -euo pipefail
Rscript -e 'library(psych); library(GPArotation); library(pbivnorm); library(polycor)' >/dev/null 2>&1 || {
  echo "skipped: needs Rscript with psych, GPArotation, pbivnorm and polycor" \
    "(r-cran-psych, r-cran-gparotation, r-cran-pbivnorm, r-cran-polycor)"
  exit 77
}
[ -f /usr/lib/python3/dist-packages/sklearn/datasets/data/wine_data.csv ] ||
  { echo "skipped: needs scikit-learn's data sets (python3-sklearn)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for script in "$2"/make_*.R; do Rscript "$script" "$scratch" >/dev/null 2>&1; done
for data in "$2"/*.dat; do cmp "$data" "$scratch/${data##*/}"; done
# A block R could not make here (a rotation that stopped short of its
# tolerance) is not compared: name those the stored values have.
keys() { grep '^[A-Za-z]' "$1" | cut -d' ' -f1 | sort; }
for ref in "$2"/*.ref; do
  missing=$(comm -23 <(keys "$ref") <(keys "$scratch/${ref##*/}") | tr '\n' ' ')
  [ -z "$missing" ] || echo "not compared, made by R before but not here: ${ref##*/}: $missing"
done
SCORIX_REFERENCE_DIR=$scratch "$1" --gtest_filter='*MatchR'
