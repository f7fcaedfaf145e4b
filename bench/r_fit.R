# Times R's factor analysis on a benchmark data file, for comparison with
# scorix-fit (bench/fit.sh runs it): the reading, then each fit `runs` times;
# prints one line per fit: "what wall cpu" (seconds, the median of the runs).
#
#   Rscript bench/r_fit.R DATA K RUNS WHAT...
#   WHAT: pc (prcomp), pa (psych::fa, principal axis, promax), ml (factanal),
#         parallel (psych::fa.parallel on components, 100 replicates),
#         minres (psych::fa, minimum residual, oblimin; its defaults, from
#         the correlation matrix as scorix-fit fits it)
args <- commandArgs(TRUE)
file <- args[1]; k <- as.integer(args[2]); runs <- as.integer(args[3])
suppressMessages({ library(psych); library(GPArotation) })
first <- readLines(file, n = 2)
columns <- length(scan(text = first[!startsWith(first, "#")][1], quiet = TRUE))
timed <- function(f) {
  t <- proc.time(); f(); d <- proc.time() - t
  c(d[[3]], d[[1]] + d[[2]])
}
x <- NULL
read <- timed(function() x <<- matrix(scan(file, comment.char = "#", quiet = TRUE), ncol = columns, byrow = TRUE))
cat(sprintf("read %.2f %.2f\n", read[1], read[2]))
fits <- list(
  pc = function() prcomp(x, scale. = TRUE),
  pa = function() fa(x, nfactors = k, fm = "pa", rotate = "promax", SMC = TRUE, min.err = 1e-12,
                     max.iter = 5000, warnings = FALSE),
  ml = function() factanal(x, factors = k, rotation = "none", control = list(opt = list(factr = 1, maxit = 10000))),
  parallel = function() fa.parallel(x, fa = "pc", n.iter = 100, plot = FALSE),
  minres = function() fa(cor(x), nfactors = k, n.obs = nrow(x), fm = "minres", rotate = "oblimin",
                         warnings = FALSE))
for (what in args[-(1:3)]) {
  t <- sapply(seq_len(runs), function(i) timed(fits[[what]]))
  cat(sprintf("%s %.2f %.2f\n", what, median(t[1, ]), median(t[2, ])))
}
