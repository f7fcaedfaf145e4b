# The tight two-step polychoric estimate the reference scripts share
# (Debian: r-cran-pbivnorm), sourced by make_polychoric.R, make_mixed.R and
# make_pairwise.R: each variable's thresholds from its own present values,
# each pair's correlation by maximum likelihood of its table of the rows
# where both are present (pbivnorm), optimize(tol = 1e-12). An empty cell
# counts `empty`; cells of no count, or of probability 0, add nothing.
cuts <- function(x) { x <- x[!is.na(x)]; p <- cumsum(table(x)) / length(x); qnorm(p[-length(p)]) }

tight_pair <- function(x, y, empty) {
  a <- c(-40, cuts(x), 40); b <- c(-40, cuts(y), 40)
  both <- !is.na(x) & !is.na(y)
  tab <- table(factor(x[both], sort(unique(x[!is.na(x)]))), factor(y[both], sort(unique(y[!is.na(y)]))))
  tab[tab == 0] <- empty
  grid <- expand.grid(i = seq_along(a), j = seq_along(b))
  minus_ll <- function(rho) {
    F <- matrix(pbivnorm(a[grid$i], b[grid$j], rep(rho, nrow(grid))), length(a))
    P <- F[-1, -1] - F[-length(a), -1] - F[-1, -length(b)] + F[-length(a), -length(b)]
    used <- tab > 0 & P > 0
    -sum(tab[used] * log(P[used]))
  }
  optimize(minus_ll, c(-1, 1), tol = 1e-12)$minimum
}

tight <- function(d, empty) {
  p <- ncol(d); r <- diag(p)
  for (i in 2:p) for (j in 1:(i - 1)) r[i, j] <- r[j, i] <- tight_pair(d[, i], d[, j], empty)
  r
}

# A block of a .ref file: "key rows cols", then the rows, 17 digits.
block <- function(con, key, m) {
  m <- as.matrix(m)
  cat(key, nrow(m), ncol(m), "\n", file = con)
  write.table(format(m, digits = 17), con, quote = FALSE, row.names = FALSE, col.names = FALSE)
}

# Writes a set's items to out/NAME.dat (NA for a missing value) and opens
# out/NAME.ref for its blocks.
open_set <- function(out, name, d) {
  write.table(d, file.path(out, paste0(name, ".dat")), quote = FALSE, row.names = FALSE, col.names = FALSE)
  file(file.path(out, paste0(name, ".ref")), "w")
}
