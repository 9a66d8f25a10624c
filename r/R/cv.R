# Model selection from R, as cv.glmnet does it for the lasso: the repeated
# K-fold cross-validation of Orvane-cv over a grid of w and lambda (run by
# Orvane's own validation library, src/orvane.cpp), its error curve, and the
# models at the point of least mean error ("lambda.min") and at the most
# regularised point within one standard error of it ("lambda.1se"), refitted
# on every sample.

# Cross-validates the fit of orvane_fit over every w of `w` and every lambda
# of `lambda` (a vector, or "auto": for each w, `nlambda` values log-spaced
# from lambda_max down to `lambda_ratio` times it) on `repetitions` draws of
# `folds` folds stratified by class, drawn from `seed` as Orvane-folds draws
# them. `x`, `class`, `tree`, `graft` and `taxonomy` are those of orvane_fit; `jobs` fits run at
# once. The summary is the cv_summary.tsv that Orvane-cv writes for the same
# study, folds and grid.
orvane_cv <- function(x, class, w = 0.5, lambda = "auto", nlambda = 20, lambda_ratio = 1e-3,
                      folds = 5, repetitions = 1, seed = 1, tree = NULL, graft = FALSE,
                      taxonomy = NULL,
                      solver = c("converged", "cyclic"), tol = 1e-6, jobs = 1) {
  solver <- match.arg(solver)
  auto <- identical(lambda, "auto")
  if (!auto && (!is.numeric(lambda) || length(lambda) == 0))
    stop("lambda must be \"auto\" or numbers")
  if (!is.numeric(w) || length(w) == 0) stop("w must be numbers")
  whole <- function(value, name) {
    if (!is.numeric(value) || length(value) != 1 || is.na(value) || value != round(value) ||
        abs(value) > .Machine$integer.max)
      stop(name, " must be a whole number")
    as.integer(value)
  }
  sizes <- c(nlambda = whole(nlambda, "nlambda"), folds = whole(folds, "folds"),
              repetitions = whole(repetitions, "repetitions"), jobs = whole(jobs, "jobs"))
  study <- fit_inputs(x, class, tree, graft, taxonomy)
  on.exit(if (study$newick$temporary) unlink(study$newick$path))
  sets <- tempfile("sets")
  on.exit(unlink(paste0(sets, seq_len(max(0L, sizes[["repetitions"]])) - 1L, ".txt")), add = TRUE)
  run <- .orvane_cv(study$counts, sample_names(study$counts), study$class_numbers,
                    length(study$classes), study$newick$path, study$newick$name,
                    study$from_taxonomy, study$graft, study$lineages, w,
                    if (auto) numeric(0) else lambda, sizes[["nlambda"]], lambda_ratio,
                    sizes[["folds"]], sizes[["repetitions"]], seed, solver, tol, sizes[["jobs"]],
                    sets)
  for (line in strsplit(run$warnings, "\n")[[1]]) warning(sub("^warning: ", "", line), call. = FALSE)
  if (run$above_tol > 0)
    warning(sprintf(paste("%d of %d converged fits stopped after %d iterations with a relative",
                          "duality gap above the tolerance %g (largest %.6g)"),
                    as.integer(run$above_tol), as.integer(run$fits), as.integer(run$max_iterations),
                    tol, run$largest_gap), call. = FALSE)
  summary <- utils::read.delim(text = run$summary, colClasses = c("numeric", "numeric", "numeric",
                               "numeric", "character", "character"))
  at <- function(choice) summary[grepl(paste0("(^|,)", choice, "(,|$)"), summary$choice), ][1, ]
  best <- at("min")
  simplest <- at("1se")
  refit <- function(point) orvane_fit(x, class, w = point$w, lambda = point$lambda, tree = tree,
                                      graft = graft, taxonomy = taxonomy, solver = solver, tol = tol)
  # The refit at lambda.1se repeats the warnings about the inputs that the one
  # at lambda.min gave, but its own convergence is news.
  quiet_but_convergence <- function(fit) withCallingHandlers(fit, warning = function(w)
    if (!inherits(w, "orvane_convergence")) invokeRestart("muffleWarning"))
  structure(list(summary = summary, lambdas = stats::setNames(run$lambdas, format(w)),
                 w.min = best$w, lambda.min = best$lambda, w.1se = simplest$w,
                 lambda.1se = simplest$lambda, fit.min = refit(best), fit.1se = quiet_but_convergence(refit(simplest)),
                 folds = folds, repetitions = repetitions, seed = seed, solver = solver),
            class = "orvane_cv")
}

# The model refitted at a rule's point: s = "lambda.1se" (the default, as
# cv.glmnet's) or "lambda.min".
cv_fit_at <- function(object, s) {
  s <- match.arg(s, c("lambda.1se", "lambda.min"))
  if (s == "lambda.min") object$fit.min else object$fit.1se
}

# The coefficients (classes x taxa) of the model at the rule `s`.
coef.orvane_cv <- function(object, s = c("lambda.1se", "lambda.min"), ...) {
  stats::coef(cv_fit_at(object, s))
}

# Predicts new samples with the model at the rule `s`, as predict.orvane_fit does.
predict.orvane_cv <- function(object, newdata, s = c("lambda.1se", "lambda.min"),
                              type = c("class", "prob", "link"), ...) {
  stats::predict(cv_fit_at(object, s), newdata, type = match.arg(type), ...)
}

# The error curve, as cv.glmnet draws it: the mean misclassification error
# against log(lambda), with bars of one standard error, one curve per w, and
# dotted vertical lines at lambda.min and lambda.1se. Points at lambda 0,
# which a log scale cannot show, are left out.
plot.orvane_cv <- function(x, ...) {
  points <- x$summary[x$summary$lambda > 0, ]
  if (nrow(points) < nrow(x$summary)) message("points at lambda 0 are not drawn on the log scale")
  ws <- unique(points$w)
  colours <- if (length(ws) == 1) "red" else grDevices::hcl.colors(length(ws), "Dark 3")
  se <- ifelse(is.na(points$std_error), 0, points$std_error)
  graphics::plot(log(points$lambda), points$mean_error, type = "n", xlab = "log(Lambda)",
                 ylab = "Misclassification Error",
                 ylim = range(c(points$mean_error - se, points$mean_error + se), na.rm = TRUE), ...)
  for (i in seq_along(ws)) {
    at <- points$w == ws[i]
    bar <- at & se > 0  # a bar of length 0 would only warn
    graphics::arrows(log(points$lambda[bar]), points$mean_error[bar] - se[bar],
                     log(points$lambda[bar]), points$mean_error[bar] + se[bar],
                     angle = 90, code = 3, length = 0.03, col = "darkgrey")
    graphics::lines(log(points$lambda[at]), points$mean_error[at], col = colours[i])
    graphics::points(log(points$lambda[at]), points$mean_error[at], pch = 20, col = colours[i])
  }
  graphics::abline(v = log(c(x$lambda.min, x$lambda.1se)), lty = 3)
  if (length(ws) > 1)
    graphics::legend("topleft", legend = paste("w =", ws), col = colours, lty = 1, pch = 20, bty = "n")
  invisible(x)
}

print.orvane_cv <- function(x, ...) {
  cat(x$repetitions, " x ", x$folds, "-fold cross-validation (", x$solver, " fits) over ",
      nrow(x$summary), " points\n", sep = "")
  rules <- data.frame(w = c(x$w.min, x$w.1se), lambda = c(x$lambda.min, x$lambda.1se),
                      row.names = c("lambda.min", "lambda.1se"))
  rules$mean_error <- x$summary$mean_error[match(paste(rules$w, rules$lambda),
                                                 paste(x$summary$w, x$summary$lambda))]
  print(rules)
  invisible(x)
}
