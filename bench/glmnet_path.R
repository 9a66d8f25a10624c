# glmnet's own multinomial lasso path (no intercept, no standardisation) on a
# data set of ../shared/data, at the lambdas of a converged path at w = 1,
# for bench/converged_path.sh. Orvane's objective is the summed loss plus
# lambda times the sum of |beta|; glmnet's is the mean loss plus its lambda
# times the same sum, so glmnet's lambda is ours over N. The convergence
# threshold is lowered until every fit's objective (in Orvane's terms) is
# within 1e-6 (relative) of the converged fit's, or below it.
# usage: Rscript glmnet_path.R SAMPLES LABELS TREE PATH_OUTPUT
# prints: processor seconds of the accepted path, its threshold, the largest
# relative objective excess over the converged path, the lambdas glmnet fitted.
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
rows <- as.matrix(read.table(args[1], sep = "\t"))
ids <- rows[, 1]
x <- rows[, -1, drop = FALSE]
x <- x / rowSums(x)
labels <- readLines(args[2])
y <- rep(NA_character_, length(ids))
for (at in grep("^>", labels)) {
  members <- as.integer(strsplit(trimws(labels[at + 1]), " +")[[1]])
  y[match(members, ids)] <- labels[at]
}
tree <- paste(readLines(args[3]), collapse = "")
leaves <- as.integer(regmatches(tree, gregexpr("(?<=[(,])[0-9]+(?=[:),])", tree, perl = TRUE))[[1]])
x <- x[, leaves + 1, drop = FALSE]
path <- read.table(args[4], skip = 1)
lambdas <- path[[1]]
ours <- path[[2]]
n <- nrow(x)
classes <- factor(y)
onehot <- model.matrix(~ classes - 1)

objective <- function(beta, lambda) {
  scores <- x %*% beta
  top <- apply(scores, 1, max)
  loss <- sum(top + log(rowSums(exp(scores - top))) - rowSums(scores * onehot))
  loss + lambda * sum(abs(beta))
}

for (thresh in 10^-(7:14)) {
  start <- proc.time()
  fit <- suppressWarnings(glmnet(x, classes, family = "multinomial", lambda = lambdas / n, intercept = FALSE,
                standardize = FALSE, thresh = thresh, maxit = 1e7))
  used <- proc.time() - start
  excess <- 0
  # glmnet may end its path early, when the fit explains nearly everything.
  fitted <- min(length(lambdas), ncol(fit$beta[[1]]))
  for (l in seq_len(fitted)) {
    beta <- sapply(fit$beta, function(b) as.numeric(b[, l]))
    excess <- max(excess, (objective(beta, lambdas[l]) - ours[l]) / ours[l])
  }
  if (excess <= 1e-6)
    break
}
cat(sprintf("%.4g\t%g\t%.3g\t%d\n", used[["user.self"]] + used[["sys.self"]], thresh, excess, fitted))
