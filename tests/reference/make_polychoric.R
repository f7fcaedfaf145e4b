# Reference values for scorix-fit's polychoric and tetrachoric correlations
# (Debian: r-base-core, r-cran-psych, r-cran-pbivnorm, r-cran-polycor).
#   Rscript tests/reference/make_polychoric.R [DIR]
# writes DIR/NAME.dat (the items) and DIR/NAME.ref (blocks "key rows cols",
# 17 significant digits) for bfi's 25 items (complete cases), simulated
# items of 2 to 7 categories and simulated two-category items:
#   tight       the two-step estimate: each variable's thresholds from its
#               margin, each pair's correlation by maximum likelihood of its
#               table (pbivnorm), optimize(tol = 1e-12)
#   thresholds  every variable's thresholds, one after another
#   psych       psych::polychoric or psych::tetrachoric (their search stops
#               near 1e-4). For items of different numbers of categories
#               psych's polychoric pads each item's thresholds to the
#               common range, and its values are 1e-3 to 1e-2 from the
#               two-step estimate of the same tables; polycor's are not.
#   polycor     polycor::polychor of each pair (two-step, the same tolerance)
# An empty cell adds nothing to a polychoric pair's likelihood (psych's
# polychoric with its global thresholds); in a tetrachoric 2 x 2 table it
# counts 0.5 (psych's tetrachoric, correct = 0.5), the thresholds staying
# those of the margins.
suppressMessages({ library(psych); library(pbivnorm); library(polycor) })
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE)))
out <- if (length(args) > 0) args[1] else here

source(file.path(here, "two_step.R"))  # cuts, tight_pair, tight, block

write_set <- function(name, d, type) {
  d <- as.matrix(d); dimnames(d) <- NULL
  con <- open_set(out, name, d)
  empty <- if (type == "tetrachoric") 0.5 else 0
  block(con, "tight", tight(d, empty))
  block(con, "thresholds", t(unlist(lapply(seq_len(ncol(d)), function(i) cuts(d[, i])))))
  theirs <- suppressWarnings(suppressMessages(
    if (type == "tetrachoric") tetrachoric(d, smooth = FALSE)$rho else polychoric(d, smooth = FALSE)$rho))
  block(con, "psych", unclass(theirs))
  if (type == "polychoric") {
    p <- ncol(d); r <- diag(p)
    for (i in 2:p) for (j in 1:(i - 1)) r[i, j] <- r[j, i] <- polychor(d[, i], d[, j])
    block(con, "polycor", r)
  }
  close(con)
}

set.seed(27)
# Items of 2 to 7 categories (two of each) cut from normal variables of one
# factor (loadings 0.4 to 0.8), with uneven thresholds.
simulate_items <- function(n, categories) {
  f <- rnorm(n); loading <- runif(length(categories), 0.4, 0.8)
  sapply(seq_along(categories), function(i) {
    z <- loading[i] * f + sqrt(1 - loading[i]^2) * rnorm(n)
    findInterval(z, sort(qnorm(runif(categories[i] - 1, 0.05, 0.95)))) + 1
  })
}
write_set("polychoric_bfi", na.omit(bfi[, 1:25]), "polychoric")
write_set("polychoric_items", simulate_items(1000, rep(2:7, each = 2)), "polychoric")
# Two-category items; item 6 is 1 only where item 5 is: its table with item
# 5 has an empty cell.
binary <- simulate_items(500, rep(2, 6)) - 1
binary[binary[, 5] == 0, 6] <- 0
write_set("tetrachoric_items", binary, "tetrachoric")
