# Reference values for scorix-fit's factor analysis, from R and the psych and
# GPArotation packages (Debian: r-base-core, r-cran-psych, r-cran-gparotation).
#   Rscript tests/reference/make_reference.R [DIR [NAME...]]
# writes DIR/NAME.ref for each data set, or for those named (default: this
# script's directory)
# and the small data sets as NAME.dat (and NAME.target, the target of the
# target rotations, for sets of more than one factor). Each .ref holds blocks "key rows cols"
# followed by that many rows of numbers, 17 significant digits.
suppressMessages({ library(psych); library(GPArotation) })
# psych spreads the simulations of parallel analysis over forked processes,
# which seed themselves anew from the clock: in one process set.seed's
# stream gives them all, and the same values every time.
options(mc.cores = 1)
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE)))
out <- if (length(args) > 0) args[1] else here
chosen <- args[-1]

# 20,000 rows of 50 variables with a known structure: 10 variables on each
# of 5 factors that correlate 0.3, loadings drawn from 0.4 to 0.8, normal
# errors that make every variance 1.
simulate <- function() {
  set.seed(26)
  n <- 20000; k <- 5; loading <- runif(50, 0.4, 0.8)
  L <- matrix(0, 50, k); L[cbind(1:50, rep(1:k, each = 10))] <- loading
  Phi <- matrix(0.3, k, k); diag(Phi) <- 1
  f <- matrix(rnorm(n * k), n) %*% chol(Phi)
  f %*% t(L) + matrix(rnorm(n * 50), n) %*% diag(sqrt(1 - loading^2))
}

# name, data, factors (principal axis, rotations, scores), factors of the ML fit
sets <- list(
  list("usarrests", USArrests, 2, 1),
  list("swiss", swiss, 1, 1),
  list("attitude", attitude, 2, 2),
  list("mtcars", mtcars, 3, 3),
  list("state", state.x77, 3, 3),
  list("bfi", na.omit(bfi[, 1:25]), 5, 5),
  list("simulated", simulate(), 5, 5))
if (length(chosen) > 0) sets <- Filter(function(set) set[[1]] %in% chosen, sets)

# scorix-fit's convention: columns by decreasing explained variance (for an
# oblique solution diag(Phi L'L)), each signed so that its loadings sum > 0.
normalize <- function(L, Phi = diag(ncol(L))) {
  L <- unclass(as.matrix(L)); dimnames(L) <- NULL
  s <- sign(colSums(L)); s[s == 0] <- 1
  L <- L %*% diag(s, ncol(L)); Phi <- diag(s, ncol(L)) %*% Phi %*% diag(s, ncol(L))
  o <- order(diag(Phi %*% t(L) %*% L), decreasing = TRUE)
  list(L = L[, o, drop = FALSE], Phi = Phi[o, o, drop = FALSE])
}

# Minimum residual: the uniquenesses psi in [0.005, 1] that minimize the sum
# of squared off-diagonal residuals of R - LL', L the loadings of the k
# leading eigenpairs of R - diag(psi). psych's fa(fm = "minres", min.err =
# 1e-12, max.iter = 5000) stops 2e-6 to 1e-5 short of the minimum in the
# uniquenesses on these sets, so the reference is optim's L-BFGS-B on the
# same objective with its exact gradient, from 10 starts, finished by Newton
# steps (optimHess of that gradient) until the gradient is below 1e-13.
minres_fit <- function(r, k, psi) {
  e <- eigen(r - diag(psi), symmetric = TRUE)
  L <- e$vectors[, 1:k, drop = FALSE] %*% diag(sqrt(pmax(e$values[1:k], 0)), k)
  E <- r - L %*% t(L); diag(E) <- 0
  list(L = L, E = E, e = e)
}
minres_objective <- function(psi, r, k) sum(minres_fit(r, k, psi)$E^2)
# With S = R - diag(psi) = V diag(l) V': d l_m / d psi = -v_m^2 and
# d v_m / d psi = -sum_{n != m} v_n (v_n o v_m) / (l_m - l_n).
minres_gradient <- function(psi, r, k) {
  fit <- minres_fit(r, k, psi); V <- fit$e$vectors; l <- fit$e$values
  g <- numeric(length(psi))
  for (m in which(l[1:k] > 0)) {
    Ev <- fit$E %*% V[, m]
    g <- g + 2 * V[, m]^2 * sum(V[, m] * Ev)
    for (n in setdiff(seq_along(psi), m))
      g <- g + 4 * l[m] * V[, n] * V[, m] / (l[m] - l[n]) * sum(V[, n] * Ev)
  }
  g
}
minres <- function(r, k, starts = 10) {
  p <- ncol(r); best <- NULL
  set.seed(1)
  for (s in 1:starts) {
    start <- if (s == 1) 1 - smc(r) else runif(p, 0.005, 1)
    o <- optim(start, minres_objective, minres_gradient, method = "L-BFGS-B", lower = 0.005, upper = 1,
               r = r, k = k, control = list(factr = 1, pgtol = 0, maxit = 10000))
    if (is.null(best) || o$value < best$value - 1e-12) best <- o
  }
  psi <- best$par
  for (step in 1:50) {
    g <- minres_gradient(psi, r, k); free <- !(psi <= 0.005 & g > 0)
    if (max(abs(g[free])) < 1e-13) break
    H <- optimHess(psi, minres_objective, minres_gradient, r = r, k = k, control = list(ndeps = rep(1e-6, p)))
    psi[free] <- pmax(psi[free] - solve(H[free, free], g[free]), 0.005)
  }
  list(L = minres_fit(r, k, psi)$L, psi = psi)
}

# Weighted and generalized least squares as psych's fa(fm = "wls", "gls")
# define them: the loadings as minres's, the sum of squares of the whole
# E = R - diag(psi) - LL' weighted as W E W, W = diag(1 / diag(R^-1)), or as
# R^-1 E. psych's search ends at a failed line search (its gradient is not
# this sum's), so the reference is minres's search on the exact gradient:
# the sum changes by 2 <Q, dE>, and psi_i changes E by -e_i e_i' - d(LL').
ls_fit <- function(r, k, psi, fm) {
  e <- eigen(r - diag(psi), symmetric = TRUE)
  L <- e$vectors[, 1:k, drop = FALSE] %*% diag(sqrt(pmax(e$values[1:k], 0)), k)
  E <- r - diag(psi) - L %*% t(L)
  A <- if (fm == "wls") diag(1 / diag(solve(r))) else solve(r)
  B <- if (fm == "wls") A else diag(ncol(r))
  Q <- A %*% A %*% E %*% B %*% B
  list(L = L, Q = (Q + t(Q)) / 2, e = e, value = sum((A %*% E %*% B)^2))
}
ls_gradient <- function(psi, r, k, fm) {
  fit <- ls_fit(r, k, psi, fm); V <- fit$e$vectors; l <- fit$e$values
  g <- -2 * diag(fit$Q)
  for (m in which(l[1:k] > 0)) {
    Qv <- fit$Q %*% V[, m]
    g <- g + 2 * V[, m]^2 * sum(V[, m] * Qv)
    for (n in setdiff(seq_along(psi), m))
      g <- g + 4 * l[m] * V[, n] * V[, m] / (l[m] - l[n]) * sum(V[, n] * Qv)
  }
  g
}
least_squares <- function(r, k, fm) {
  p <- ncol(r); best <- NULL; set.seed(1)
  f <- function(psi) ls_fit(r, k, psi, fm)$value
  gr <- function(psi) ls_gradient(psi, r, k, fm)
  for (s in 1:10) {
    o <- optim(if (s == 1) 1 - smc(r) else runif(p, 0.005, 1), f, gr, method = "L-BFGS-B", lower = 0.005,
               upper = 1, control = list(factr = 1, pgtol = 0, maxit = 10000))
    if (is.null(best) || o$value < best$value - 1e-12) best <- o
  }
  psi <- best$par
  for (step in 1:50) {
    g <- gr(psi); free <- !(psi <= 0.005 & g > 0)
    if (max(abs(g[free])) < 1e-13) break
    H <- optimHess(psi, f, gr, control = list(ndeps = rep(1e-6, p)))
    psi[free] <- pmax(psi[free] - solve(H[free, free], g[free]), 0.005)
  }
  list(L = ls_fit(r, k, psi, fm)$L, psi = psi)
}

# psych's fit of loadings L (fa.stats): chi-square, df, p, RMSEA and its 90 %
# interval (the noncentralities where the distribution function is 0.95 and
# 0.05, here to 1e-14: psych's uniroot stops near 1e-4), TLI, BIC, RMSR.
fit_indices <- function(r, L, n) {
  st <- fa.stats(r = r, f = L, n.obs = n, alpha = 0.1); dof <- st$dof; chi2 <- st$STATISTIC
  end <- function(t) if (pchisq(chi2, dof) <= t) 0 else
    sqrt(uniroot(function(x) pchisq(chi2, dof, ncp = x) - t, c(0, max(n, chi2) + 2 * n), tol = 1e-14)$root /
           ((n - 1) * dof))
  c(chi2, dof, st$PVAL, st$RMSEA[1], end(0.95), end(0.05), st$TLI, st$BIC, st$rms)
}

for (set in sets) {
  name <- set[[1]]; x <- as.matrix(set[[2]]); k <- set[[3]]; kml <- set[[4]]
  n <- nrow(x); p <- ncol(x); r <- cor(x)
  lines <- character()
  put <- function(key, m) {
    m <- as.matrix(m)
    lines <<- c(lines, paste(key, nrow(m), ncol(m)),
                apply(m, 1, function(row) paste(sprintf("%.17g", row), collapse = " ")))
  }
  if (!name %in% c("bfi", "simulated"))
    write.table(x, file.path(out, paste0(name, ".dat")), row.names = FALSE, col.names = FALSE)
  put("rows", n); put("factors", k); put("ml_factors", kml); put("correlation", r)
  e <- eigen(r, symmetric = TRUE)
  put("eigenvalues", e$values)
  put("pc", normalize(principal(r, nfactors = k, rotate = "none")$loadings)$L)

  pa <- fa(r, nfactors = k, fm = "pa", SMC = TRUE, min.err = 1e-12, max.iter = 5000, rotate = "none")
  A <- normalize(pa$loadings)$L
  put("pa", A); put("pa_communalities", rowSums(A^2))

  ml <- factanal(covmat = r, factors = kml, n.obs = n, rotation = "none",
                 control = list(opt = list(factr = 1, maxit = 10000)))
  put("ml", normalize(ml$loadings)$L); put("ml_uniquenesses", ml$uniquenesses)
  # as many factors as maximum likelihood: with fewer degrees of freedom
  # than none, minres fits exactly on a continuum of uniquenesses
  mr <- minres(r, kml)
  put("minres", normalize(mr$L)$L); put("minres_uniquenesses", mr$psi)
  f <- ml$criteria[["objective"]]; dof <- ml$dof
  nm <- (n - 1) - (2 * p + 5) / 6 - 2 * kml / 3
  chi2 <- f * nm
  M0 <- -log(det(r)) * 2 / (p * (p - 1))
  put("ml_fit", c(chi2, dof, pchisq(chi2, dof, lower.tail = FALSE),
                  sqrt(max(chi2 / (dof * n) - 1 / (n - 1), 0)),
                  (M0 - f / dof) / (M0 - 1 / nm), chi2 - dof * log(n)))
  for (fm in c("wls", "gls")) {
    ls <- least_squares(r, kml, fm)
    put(fm, normalize(ls$L)$L); put(paste0(fm, "_uniquenesses"), ls$psi)
    put(paste0(fm, "_fit"), fit_indices(r, ls$L, n))
    put(paste0(fm, "_complexity"), rowSums(ls$L^2)^2 / rowSums(ls$L^4))  # Hoffman's
  }
  put("minres_fit", fit_indices(r, mr$L, n))
  # psych's Bartlett weights take the uniquenesses 1 - h2, not minres's fit
  put("minres_bartlett", factor.scores(r, normalize(mr$L)$L, method = "Bartlett")$weights)
  put("minres_complexity", rowSums(mr$L^2)^2 / rowSums(mr$L^4))

  if (k > 1) {
  # stats::varimax stops when its criterion grows by less than a factor
  # 1 + eps, which on bfi leaves the rotation 2e-8 short: restarted from its
  # own result until the rotation it adds is the identity to 1e-14.
  vm <- varimax(A, eps = 1e-14)
  repeat {
    more <- varimax(vm$loadings, eps = 1e-14)
    vm <- list(loadings = more$loadings, rotmat = vm$rotmat %*% more$rotmat)
    if (max(abs(more$rotmat - diag(k))) <= 1e-14) break
  }
  put("varimax", normalize(vm$loadings)$L)
  # stats::promax on the converged varimax (its own varimax call stops at 1e-5)
  V <- unclass(vm$loadings); Q <- V * abs(V)^3
  U <- lm.fit(V, Q)$coefficients
  U <- U %*% diag(sqrt(diag(solve(t(U) %*% U))))
  ui <- solve(U)
  pro <- normalize(V %*% U, ui %*% t(ui))
  put("promax", pro$L); put("promax_phi", pro$Phi)
  # psych's fa(rotate = "promax"): the rows scaled to unit length for the
  # whole rotation (its kaiser(, rotate = "Promax")), here of the converged
  # varimax, which psych's varimax call turns no further
  pk <- kaiser(vm$loadings, rotate = "Promax")
  pkn <- normalize(pk$loadings, pk$Phi)
  put("promax_normalized", pkn$L); put("promax_normalized_phi", pkn$Phi)
  ps <- fa(r, nfactors = k, fm = "pa", rotate = "promax", min.err = 1e-12, max.iter = 5000)
  psn <- normalize(ps$loadings, ps$Phi)
  message(name, ": psych::fa promax differs from the block by ", max(abs(psn$L - pkn$L)), " in loadings, ",
          max(abs(psn$Phi - pkn$Phi)), " in Phi")
  # a rotation that does not converge in 10000 steps has no block (targetQ
  # on bfi, not in 100000 either; geomin, equamax, biquartimin and the
  # target's on the simulated set)
  gpa <- function(key, r) {
    if (!r$convergence) return()
    n <- normalize(r$loadings, if (is.null(r$Phi)) diag(k) else r$Phi)
    put(key, n$L); if (!is.null(r$Phi)) put(paste0(key, "_phi"), n$Phi)
  }
  gpa("quartimax", GPArotation::quartimax(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("oblimin", GPArotation::oblimin(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("geominT", GPArotation::geominT(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("geominQ", GPArotation::geominQ(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("equamax", cfT(A, kappa = k / (2 * p), normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("bentlerT", bentlerT(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("bentlerQ", bentlerQ(A, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("oblimin_gamma", oblimin(A, gam = 0.5, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("oblimin_normalized", oblimin(A, normalize = TRUE, eps = 1e-8, maxit = 10000))
  # the target: each variable's largest varimax loading, signed, and zeros
  V <- normalize(vm$loadings)$L
  B <- sign(V) * (abs(V) == apply(abs(V), 1, max))
  write.table(B, file.path(out, paste0(name, ".target")), row.names = FALSE, col.names = FALSE)
  gpa("targetT", targetT(A, Target = B, normalize = FALSE, eps = 1e-8, maxit = 10000))
  gpa("targetQ", targetQ(A, Target = B, normalize = FALSE, eps = 1e-8, maxit = 10000))

  put("regression", factor.scores(r, pro$L, Phi = pro$Phi, method = "Thurstone")$weights)
  put("bartlett", factor.scores(r, pro$L, Phi = pro$Phi, method = "Bartlett")$weights)
  # ten Berge's weights; each type's correlation with the factors (psych's R2
  # is its square for regression, it for ten Berge's, 1 for Bartlett's)
  tb <- factor.scores(r, pro$L, Phi = pro$Phi, method = "tenBerge")
  put("tenberge", tb$weights)
  S <- pro$L %*% pro$Phi
  validity <- function(w) diag(t(S) %*% w) / sqrt(diag(t(w) %*% r %*% w))
  put("determinacy", rbind(sqrt(factor.scores(r, pro$L, Phi = pro$Phi, method = "Thurstone")$R2),
                           validity(factor.scores(r, pro$L, Phi = pro$Phi, method = "Bartlett")$weights),
                           tb$R2))
  # the loadings table's order: psych's fa.sort of the promax pattern
  P <- pro$L; rownames(P) <- seq_len(p)
  put("promax_order", as.integer(rownames(fa.sort(P))))
  }

  kmo <- KMO(r)
  put("kmo", c(kmo$MSA, kmo$MSAi))
  b <- cortest.bartlett(r, n = n)
  put("sphericity", c(b$chisq, b$df, b$p.value))
  put("map", VSS(r, n = min(8, p - 1), n.obs = n, plot = FALSE, rotate = "none")$map)
  set.seed(1)
  par <- fa.parallel(r, n.obs = n, fa = "pc", n.iter = 100, plot = FALSE)
  put("parallel", par$pc.sim)
  put("parallel_factors", which(!(e$values > par$pc.sim))[1] - 1)
  # common factors (squared multiple correlations on the diagonal); the 95th
  # percentile, which fa.parallel compares but returns the mean of
  set.seed(1)
  pf <- fa.parallel(r, n.obs = n, fa = "fa", SMC = TRUE, n.iter = 100, plot = FALSE)
  put("parallel_fa_observed", pf$fa.values); put("parallel_fa", pf$fa.sim)
  put("parallel_fa_spread", apply(pf$values, 2, sd)); put("parallel_fa_factors", pf$nfact)
  set.seed(1)
  pq <- fa.parallel(r, n.obs = n, fa = "both", SMC = TRUE, n.iter = 100, quant = 0.95, plot = FALSE)
  q95 <- apply(pq$values, 2, quantile, 0.95)
  put("parallel_pc_quantile", q95[1:p]); put("parallel_fa_quantile", q95[p + 1:p])
  put("parallel_quantile_factors", c(pq$ncomp, pq$nfact))
  writeLines(lines, file.path(out, paste0(name, ".ref")))
}

# Two data sets of scikit-learn (Debian: python3-sklearn) whose maximum
# likelihood has several local minima: the correlation matrix and, for each
# number of factors, R's best minimum from 50 starts. factanal's L-BFGS-B
# stops there with a projected gradient up to 5e-5 (its valley is flat), so
# Newton steps on the free uniquenesses finish it, with optimHess's Hessian
# of factanal's gradient, until that gradient is below 1e-11.
sklearn <- "/usr/lib/python3/dist-packages/sklearn/datasets/data"
optima <- list(list("wine", "wine_data.csv", 5), list("breast_cancer", "breast_cancer.csv", 3:5))
if (length(chosen) > 0) optima <- Filter(function(set) set[[1]] %in% chosen, optima)
for (set in optima) {
  # A count line first, the class last.
  x <- as.matrix(read.csv(file.path(sklearn, set[[2]]), skip = 1, header = FALSE))
  x <- x[, -ncol(x)]
  n <- nrow(x); p <- ncol(x); r <- cor(x)
  discrepancy <- function(psi, k) {
    e <- eigen(r / sqrt(psi %o% psi), symmetric = TRUE, only.values = TRUE)$values[-(1:k)]
    sum(e - log(e) - 1)
  }
  gradient <- function(psi, k) {
    e <- eigen(r / sqrt(psi %o% psi), symmetric = TRUE)
    L <- sqrt(psi) * e$vectors[, 1:k, drop = FALSE] %*% diag(sqrt(pmax(e$values[1:k] - 1, 0)), k)
    (rowSums(L^2) + psi - 1) / psi^2
  }
  lines <- character()
  put <- function(key, m) {
    m <- as.matrix(m)
    lines <<- c(lines, paste(key, nrow(m), ncol(m)),
                apply(m, 1, function(row) paste(sprintf("%.17g", row), collapse = " ")))
  }
  put("rows", n); put("correlation", r); put("ml_factors", set[[3]])
  for (k in set[[3]]) {
    set.seed(1)
    psi <- factanal(covmat = r, factors = k, n.obs = n, rotation = "none",
                    control = list(nstart = 50, opt = list(factr = 1, pgtol = 0, maxit = 10000)))$uniquenesses
    for (step in 1:50) {
      g <- gradient(psi, k); free <- !(psi <= 0.005 & g > 0)
      if (max(abs(g[free])) < 1e-11) break
      H <- optimHess(psi, discrepancy, gradient, k = k, control = list(ndeps = rep(1e-6, p)))
      psi[free] <- pmax(psi[free] - solve(H[free, free], g[free]), 0.005)
    }
    f <- discrepancy(psi, k)
    put(paste0("ml", k), c(f, f * ((n - 1) - (2 * p + 5) / 6 - 2 * k / 3)))
    put(paste0("ml", k, "_uniquenesses"), psi)
  }
  writeLines(lines, file.path(out, paste0(set[[1]], ".ref")))
}

# Reliability of scales (reliability.ref): for each data set its correlation
# matrix, standard deviations and scales (a column of keys per scale: 1, -1
# for a reversed item, 0 for a variable not in it), and per scale psych's
# alpha (raw_alpha, std.alpha, G6(smc)), omega hierarchical and omega total
# and the group factors fitted for omega. Omega is psych's omega(R, nfactors,
# fm = "minres", rotate = "oblimin", key) of the scale's items, nfactors the
# most of 3 that the items identify (degrees of freedom at least 0), with
# minres and oblimin converged tightly: the minres above (from 3 starts),
# GPArotation's oblimin from the varimax of its loadings (as psych's schmid starts it), the
# general factor minres's one factor of the factor correlations (two group
# factors: both loadings sqrt(|phi|), psych's option "equal").
omega_of <- function(r, nf) {
  m <- minres(r, nf, 3); L <- m$L
  u2 <- diag(r) - rowSums(L^2)
  g <- if (nf == 1) L[, 1] else {
    ob <- GPArotation::oblimin(unclass(varimax(L, eps = 1e-14)$loadings), eps = 1e-8, maxit = 10000)
    Phi <- ob$Phi
    gl <- if (nf == 2) c(1, sign(Phi[1, 2])) * sqrt(abs(Phi[1, 2])) else minres(Phi, 1, 3)$L[, 1]
    unclass(ob$loadings) %*% gl
  }
  c(sum(g)^2 / sum(r), (sum(r) - sum(u2)) / sum(r))
}
identified <- function(p) max(which(sapply(0:3, function(k) (p - k)^2 >= p + k))) - 1
scale_sets <- list(
  list("bfi", na.omit(bfi[, 1:25]), list(A = c("-A1", "A2", "A3", "A4", "A5"), C = c("C1", "C2", "C3", "-C4", "-C5"),
                                         E = c("-E1", "-E2", "E3", "E4", "E5"), N = c("N1", "N2", "N3", "N4", "N5"),
                                         O = c("O1", "-O2", "O3", "O4", "-O5"))),
  list("attitude", attitude, list(all = names(attitude), climate = c("rating", "complaints", "learning", "raises"),
                                  five = c("complaints", "privileges", "learning", "raises", "-advance"),
                                  pair = c("privileges", "-critical"))))
if (length(chosen) == 0 || "reliability" %in% chosen) {
  lines <- character()
  put <- function(key, m) {
    m <- as.matrix(m)
    lines <- c(lines, paste(key, nrow(m), ncol(m)),
               apply(m, 1, function(row) paste(sprintf("%.17g", row), collapse = " ")))
    lines <<- lines
  }
  for (set in scale_sets) {
    name <- set[[1]]; x <- as.matrix(set[[2]]); scales <- set[[3]]
    r <- cor(x)
    put(paste0(name, "_correlation"), r); put(paste0(name, "_std"), apply(x, 2, sd))
    keys <- sapply(scales, function(items) {
      k <- numeric(ncol(x)); k[match(sub("-", "", items), colnames(x))] <- ifelse(grepl("^-", items), -1, 1); k
    })
    put(paste0(name, "_keys"), keys)
    values <- t(sapply(scales, function(items) {
      it <- sub("-", "", items); k <- ifelse(grepl("^-", items), -1, 1)
      a <- alpha(x[, it], keys = it[k < 0], warnings = FALSE)$total
      rk <- diag(k) %*% r[it, it] %*% diag(k)
      nf <- identified(length(it))
      om <- if (nf > 0) omega_of(rk, nf) else c(0, 0)  # no omega; 0 reads as a number
      if (nf > 0) {
        ps <- suppressWarnings(suppressMessages(omega(r[it, it], nfactors = nf, key = k, plot = FALSE)))
        message(name, " ", paste(items, collapse = ","), ": psych::omega differs by ",
                max(abs(c(ps$omega_h, ps$omega.tot) - om)))
      }
      c(a$raw_alpha, a$std.alpha, a[["G6(smc)"]], om, nf)
    }))
    put(paste0(name, "_reliability"), values)
  }
  # Omega of bfi's scales from its polychoric correlations (the tight block
  # of polychoric_bfi.ref), as omega(poly = TRUE) takes them; the alpha family
  # stays that of the raw items above.
  poly <- readLines(file.path(here, "polychoric_bfi.ref"))
  r <- as.matrix(read.table(text = poly[2:26]))
  dimnames(r) <- list(colnames(bfi)[1:25], colnames(bfi)[1:25])
  put("bfi_polychoric_omega", t(sapply(scale_sets[[1]][[3]], function(items) {
    it <- sub("-", "", items); k <- ifelse(grepl("^-", items), -1, 1)
    omega_of(diag(k) %*% r[it, it] %*% diag(k), identified(length(it)))
  })))
  writeLines(lines, file.path(out, "reliability.ref"))
}
