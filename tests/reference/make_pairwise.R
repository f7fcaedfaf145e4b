# Reference values for scorix-fit's pairwise missing values
# (Debian: r-base-core, r-cran-psych, r-cran-pbivnorm).
#   Rscript tests/reference/make_pairwise.R [DIR]
# writes DIR/NAME.dat (the items, a missing answer NA) and DIR/NAME.ref
# (blocks "key rows cols", 17 significant digits) for the first 1000 rows of
# bfi's 25 items, missing answers kept (pairwise_bfi), and those rows' first
# 8 items cut at 3 | 4 (pairwise_binary):
#   pearson     cor(use = "pairwise"): each pair's own means and standard
#               deviations over the rows where both are present
#   counts      each pair's count (psych's pairwiseCount)
#   mean, std   each item over its own present answers
#   tight       two steps: each item's thresholds from its own present
#               answers (psych's global = TRUE), each pair's correlation by
#               maximum likelihood of the table of its complete rows
#               (pbivnorm), optimize(tol = 1e-12); a tetrachoric table's
#               empty cell counts 0.5
#   thresholds  every item's thresholds, one after another
#   psych       psych::polychoric or psych::tetrachoric (search near 1e-4)
#   ml_fit      psych::fa(pearson, nfactors = 5, fm = "ml") with psych's n
#               of raw data, every row (complete or not): objective, chi2
suppressMessages({ library(psych); library(pbivnorm) })
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE)))
out <- if (length(args) > 0) args[1] else here

source(file.path(here, "two_step.R"))  # cuts, tight_pair, tight, block

write_set <- function(name, d, type) {
  d <- as.matrix(d); dimnames(d) <- NULL
  con <- open_set(out, name, d)
  empty <- if (type == "tetrachoric") 0.5 else 0
  p <- ncol(d); r <- tight(d, empty)
  pearson <- cor(d, use = "pairwise")
  block(con, "pearson", pearson)
  block(con, "counts", pairwiseCount(d))
  block(con, "mean", t(colMeans(d, na.rm = TRUE)))
  block(con, "std", t(apply(d, 2, sd, na.rm = TRUE)))
  block(con, "tight", r)
  block(con, "thresholds", t(unlist(lapply(seq_len(p), function(i) cuts(d[, i])))))
  theirs <- suppressWarnings(suppressMessages(
    if (type == "tetrachoric") tetrachoric(d, smooth = FALSE)$rho else polychoric(d, smooth = FALSE)$rho))
  block(con, "psych", unclass(theirs))
  if (type == "polychoric") {
    f <- fa(pearson, nfactors = 5, fm = "ml", rotate = "none", n.obs = nrow(d))
    block(con, "ml_fit", t(c(f$criteria["objective"], f$STATISTIC)))
  }
  close(con)
}

items <- as.matrix(bfi[1:1000, 1:25])
write_set("pairwise_bfi", items, "polychoric")
write_set("pairwise_binary", ifelse(items[, 1:8] > 3, 1, 0), "tetrachoric")
