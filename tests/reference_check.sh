#!/usr/bin/env bash
# Regenerates the R reference values into a scratch directory and runs the
# factor analysis tests against them, so that a change on either side shows.
#   reference_check.sh SCORIX_TESTS_BINARY REFERENCE_DIR
set -euo pipefail
Rscript -e 'library(psych); library(GPArotation)' >/dev/null 2>&1 ||
  { echo "skipped: needs Rscript with psych and GPArotation (r-cran-psych, r-cran-gparotation)"; exit 77; }
[ -f /usr/lib/python3/dist-packages/sklearn/datasets/data/wine_data.csv ] ||
  { echo "skipped: needs scikit-learn's data sets (python3-sklearn)"; exit 77; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
Rscript "$2/make_reference.R" "$scratch" >/dev/null 2>&1
for data in "$2"/*.dat; do cmp "$data" "$scratch/${data##*/}"; done
SCORIX_REFERENCE_DIR=$scratch "$1" --gtest_filter='FactorAnalysis.*MatchR'
