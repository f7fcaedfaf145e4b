# Reference values for scorix-fit's mixed and Spearman correlations (Debian:
# r-base-core, r-cran-psych, r-cran-pbivnorm, r-cran-polycor).
#   Rscript tests/reference/make_mixed.R [DIR]
# writes DIR/mixed_items.dat (800 rows: 3 continuous variables, ordinal ones
# of 3, 4 and 6 categories, 1 dichotomous, all of one factor) and
# DIR/mixed_items.ref (blocks "key rows cols", 17 significant digits):
#   tight       each pair by its kinds: Pearson of two continuous; of a
#               continuous x and an ordinal y the closed two-step polyserial,
#               cor(x, y) sd(y) sqrt((n - 1) / n) / sum(dnorm(tau)), and for
#               a dichotomous y psych's biserial, (mean difference) p q /
#               (dnorm(tau) sd(x)); of two ordinal the polychoric pair as
#               make_polychoric.R has it (an empty cell of a 2 x 2 table
#               0.5, of a larger one nothing)
#   thresholds  the ordinal variables' thresholds, one after another
#   psych       psych::mixedCor (its search stops near 1e-4; items of
#               different numbers of categories make its polychoric pad
#               their thresholds: those pairs are set to the tight values)
#   polycor     the tight matrix with one pair, (1, 4), by
#               polycor::polyserial(ML = FALSE)
# and DIR/spearman_mtcars.ref: block "tight", R's cor(method = "spearman")
# of mtcars.dat (its ties take midranks); then the same for pairwise values:
# DIR/pairwise_mixed.dat and .ref (the items with a tenth of their values
# missing; tight, thresholds, psych), DIR/pairwise_spearman.ref (of
# pairwise_bfi.dat, R's cor(method = "spearman", use = "pairwise")).
suppressMessages({ library(psych); library(pbivnorm); library(polycor) })
args <- commandArgs(trailingOnly = TRUE)
here <- dirname(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE)))
out <- if (length(args) > 0) args[1] else here

source(file.path(here, "two_step.R"))  # cuts, tight_pair, tight, block

# As psych takes pairwise values: a dichotomous y's biserial from the rows
# where both are present; a polytomous y's polyserial from the pair's
# correlation, y's own standard deviation and thresholds, and sqrt((n - 1) /
# n) of every row.
serial <- function(x, y) {
  n <- length(y); k <- length(unique(y[!is.na(y)]))
  if (k == 2) {
    both <- !is.na(x) & !is.na(y); x <- x[both]; y <- y[both]
    v <- sort(unique(y)); q <- mean(y == v[2])
    return((mean(x[y == v[2]]) - mean(x[y == v[1]])) * q * (1 - q) / (dnorm(qnorm(q)) * sd(x)))
  }
  cor(x, y, use = "pairwise") * sd(y, na.rm = TRUE) * sqrt((n - 1) / n) / sum(dnorm(cuts(y)))
}

set.seed(2727)
n <- 800; f <- rnorm(n)
latent <- sapply(c(0.8, 0.7, 0.6, 0.75, 0.65, 0.55, 0.7), function(l) l * f + sqrt(1 - l^2) * rnorm(n))
d <- latent
d[, 1:3] <- round(d[, 1:3] * 10 + 50, 3)
for (i in 4:7) {
  k <- c(3, 4, 6, 2)[i - 3]
  d[, i] <- findInterval(latent[, i], sort(qnorm(runif(k - 1, 0.1, 0.9)))) + 1
}
dimnames(d) <- NULL
ordinal <- 4:7
write.table(d, file.path(out, "mixed_items.dat"), quote = FALSE, row.names = FALSE, col.names = FALSE)

# The mixed matrix of d by each pair's kinds, and psych's mixedCor of it with
# its padded polychoric pairs (items of different numbers of categories) set
# to the tight values.
mixed <- function(d) {
  p <- ncol(d); r <- diag(p)
  for (i in 2:p) for (j in 1:(i - 1)) {
    r[i, j] <- r[j, i] <-
      if (!(i %in% ordinal)) cor(d[, i], d[, j], use = "pairwise")
      else if (!(j %in% ordinal)) serial(d[, j], d[, i])
      else tight_pair(d[, i], d[, j], if (length(unique(na.omit(d[, i]))) == 2 && length(unique(na.omit(d[, j]))) == 2) 0.5 else 0)
  }
  colnames(d) <- paste0("V", 1:p)
  theirs <- unclass(suppressWarnings(suppressMessages(mixedCor(as.data.frame(d), smooth = FALSE)))$rho)
  cat("psych's mixedCor from the tight values:", max(abs(theirs - r)), "\n")
  theirs[5:6, 4:6] <- r[5:6, 4:6]; theirs[4:6, 5:6] <- r[4:6, 5:6]
  # With missing values psych also takes each pair of ordinal items of
  # different numbers of categories from the pair's own rows (its global =
  # FALSE): those pairs are set to the tight values too.
  if (anyNA(d)) theirs[ordinal, ordinal] <- r[ordinal, ordinal]
  cat("without its polychoric pairs:", max(abs(theirs - r)), "\n")
  list(tight = r, psych = theirs)
}
made <- mixed(d)
r <- made$tight
con <- file(file.path(out, "mixed_items.ref"), "w")
block(con, "tight", r)
block(con, "thresholds", t(unlist(lapply(ordinal, function(i) cuts(d[, i])))))
block(con, "psych", made$psych)
other <- r
other[1, 4] <- other[4, 1] <- polyserial(d[, 1], d[, 4], ML = FALSE)
block(con, "polycor", other)
cat("polycor's polyserial of (1, 4) from the tight value:", abs(other[1, 4] - r[1, 4]), "\n")
close(con)

# The same items with a tenth of the values missing, for pairwise values.
d[matrix(runif(length(d)) < 0.1, nrow(d))] <- NA
write.table(d, file.path(out, "pairwise_mixed.dat"), quote = FALSE, row.names = FALSE, col.names = FALSE)
made <- mixed(d)
con <- file(file.path(out, "pairwise_mixed.ref"), "w")
block(con, "tight", made$tight)
block(con, "thresholds", t(unlist(lapply(ordinal, function(i) cuts(d[, i])))))
block(con, "psych", made$psych)
close(con)

mtcars_dat <- as.matrix(read.table(file.path(here, "mtcars.dat")))
con <- file(file.path(out, "spearman_mtcars.ref"), "w")
block(con, "tight", cor(mtcars_dat, method = "spearman"))
close(con)

# Spearman's of pairwise values: bfi's first 1000 rows with their missing
# answers (make_pairwise.R's), each pair ranked among its own rows.
pairwise_bfi <- as.matrix(read.table(file.path(here, "pairwise_bfi.dat")))
con <- file(file.path(out, "pairwise_spearman.ref"), "w")
block(con, "tight", cor(pairwise_bfi, method = "spearman", use = "pairwise"))
close(con)
