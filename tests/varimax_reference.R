# Reference loadings for the varimax test of fit_driver_test.cpp, computed with R:
#   Rscript tests/varimax_reference.R examples/iris.dat
# The iris correlation matrix's first three components, rotated by
# Kaiser-normalized varimax: R's own varimax steps, iterated until no element
# of the rotation changes by more than 1e-14 (stats::varimax stops on the
# change of its criterion: with eps = 1e-14 it stops 6e-8 (two factors) and
# 3e-7 (three) short of the fixed point here, which this prints too). Columns
# by decreasing variance, each signed so that its loadings sum to a positive
# number, as scorix-fit orders and signs them.
args <- commandArgs(trailingOnly = TRUE)
x <- as.matrix(read.table(args[1])[, 1:4])
e <- eigen(cor(x), symmetric = TRUE)
fixed_point <- function(l, tol = 1e-14) {
  sc <- sqrt(rowSums(l^2)); z0 <- l / sc; p <- nrow(l); rot <- diag(ncol(l))
  for (i in 1:1000) {
    z <- z0 %*% rot
    s <- La.svd(t(z0) %*% (z^3 - z %*% diag(drop(rep(1, p) %*% z^2)) / p))
    step <- s$u %*% s$vt; change <- max(abs(step - rot)); rot <- step
    if (change <= tol) break
  }
  l %*% rot
}
k <- 3
l <- e$vectors[, 1:k] %*% diag(sqrt(e$values[1:k]))
v <- fixed_point(l)
v <- v[, order(-colSums(v^2))]
v <- v %*% diag(ifelse(colSums(v) < 0, -1, 1))
w <- unclass(varimax(l, eps = 1e-14)$loadings)
cat(sprintf("stats::varimax(eps = 1e-14) differs by %.2g\n", max(abs(abs(v) - abs(w[, order(-colSums(w^2))])))))
cat(paste(sprintf("%.17g", t(v)), collapse = ", "), "\n")
