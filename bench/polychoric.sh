#!/usr/bin/env bash
# Times scorix-fit's polychoric correlations of 50 items of 5 categories and
# 20,000 answers (five factors) on two threads, beside psych::polychoric of
# the same file in the same run (R with psych), and gives the largest
# difference between the two matrices; then the same items with 10% of the
# answers missing at random, --missing=pairwise, pearson and polychoric,
# beside psych::polychoric of that file.
#
#   bench/polychoric.sh [RUNS]      (default 5 runs of scorix-fit, the median)
#
# Data go to $SCORIX_BENCH_DATA (default /tmp/scorix-bench).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${SCORIX_BENCH_DATA:-/tmp/scorix-bench}
runs=${1:-5}
command -v Rscript >/dev/null && Rscript -e 'library(psych)' >/dev/null 2>&1 ||
  { echo "needs R with psych (apt-get install -y r-cran-psych)" >&2; exit 1; }
cmake -S "$top" -B "$top/build-bench" -DCMAKE_BUILD_TYPE=Release -DSCORIX_TESTS=OFF >/dev/null
cmake --build "$top/build-bench" -j"$(nproc)" --target scorix-fit >/dev/null
mkdir -p "$data" && cd "$data"
Rscript - <<'R'
suppressMessages(library(psych))
set.seed(5)
n <- 20000; p <- 50
f <- matrix(rnorm(n * 5), n); L <- matrix(0, p, 5); L[cbind(1:p, rep(1:5, each = 10))] <- runif(p, 0.4, 0.8)
z <- f %*% t(L) + matrix(rnorm(n * p), n) %*% diag(sqrt(1 - rowSums(L^2)))
x <- apply(z, 2, function(v) findInterval(v, c(-1.5, -0.5, 0.5, 1.5)) + 1)
write.table(x, "items50.dat", quote = FALSE, row.names = FALSE, col.names = FALSE)
seconds <- system.time(r <- polychoric(x))[["elapsed"]]
cat(sprintf("psych::polychoric: %.2f s\n", seconds))
write.table(format(r$rho, digits = 17), "items50.psych", quote = FALSE, row.names = FALSE, col.names = FALSE)
x[matrix(runif(n * p) < 0.1, n)] <- NA
write.table(x, "items50na.dat", quote = FALSE, row.names = FALSE, col.names = FALSE)
seconds <- system.time(r <- polychoric(x))[["elapsed"]]
cat(sprintf("psych::polychoric, 10%% missing (pairwise): %.2f s\n", seconds))
R
# The median of $runs runs of scorix-fit on 2 threads: median TEXT FILE OPTIONS...
median() {
  local text=$1 file=$2
  shift 2
  for _ in $(seq "$runs"); do
    /usr/bin/time -f "%e" env SCORIX_THREADS=2 "$top/build-bench/scorix-fit" "$@" -q -o "${file%.dat}.fsc" \
      --json="${file%.dat}.json" "$file" 2>&1 >/dev/null
  done | sort -g | sed -n "$(((runs + 1) / 2))p" | xargs printf "scorix-fit %s, 2 threads: %s s (median)\n" "$text"
}
median "--missing=pairwise (pearson), 10% missing" items50na.dat --missing=pairwise
median "--missing=pairwise --cor=polychoric, 10% missing" items50na.dat --missing=pairwise --cor=polychoric
median "--cor=polychoric" items50.dat --cor=polychoric
# The coefficient file keeps the eigenvalues, not the matrix: the two
# matrices' eigenvalues are compared.
sed -n 's/^# eigenvalue [0-9]* \([^ ]*\) .*/\1/p' items50.fsc >items50.eig
Rscript -e 'r <- as.matrix(read.table("items50.psych")); e <- eigen(r, only.values = TRUE)$values
  cat(sprintf("largest eigenvalue difference from psych: %.2g\n", max(abs(scan("items50.eig", quiet = TRUE) - e))))'
