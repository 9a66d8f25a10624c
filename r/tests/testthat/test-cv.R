# orvane_cv against Orvane-folds and Orvane-cv on the prepared folder of the
# same study: the same folds from the same seed, the same summary at the same
# points; and the models, predictions and plot at both rules.

summary_of <- function(path) {
  utils::read.delim(path, colClasses = c("numeric", "numeric", "numeric", "numeric", "character",
                                         "character"))
}

test_that("orvane_cv gives the summary Orvane-cv writes on the same folds", {
  ps <- study()
  dir <- withr::local_tempdir()
  data <- prepared_study(dir)
  files <- c("-d", file.path(data, "samples.txt"), "-l", file.path(data, "labels.txt"))
  program("Orvane-folds", files, "-n", 2, "-k", 3, "-s", file.path(dir, "sets"), "-seed", 5)
  runs <- list(list(solver = "converged", w = c(0.5, 1), lambda = "auto", options = c("-lambda", "auto", "-nlambda", 6)),
               list(solver = "cyclic", w = 0.3, lambda = c(0.005, 0.05, 0.5), options = c("-lambda", "0.005,0.05,0.5")))
  for (run in runs) {
    said <- character(0)  # the edge warnings of a grid whose choice is at its end
    cv <- withCallingHandlers(
      orvane_cv(ps, "site", w = run$w, lambda = run$lambda, nlambda = 6, folds = 3, repetitions = 2,
                seed = 5, solver = run$solver, jobs = 2),
      warning = function(w) {
        said <<- c(said, conditionMessage(w))
        invokeRestart("muffleWarning")
      })
    expect_true(all(grepl("^the (min|1se) choice .* try (lambda|w) ", said)))
    prefix <- file.path(dir, paste0(run$solver, "_"))
    program("Orvane-cv", files, "-t", file.path(data, "tree.tre"), "-n", 2, "-k", 3, "-s", file.path(dir, "sets"),
            "-p", prefix, "-w", paste(run$w, collapse = ","), run$options, "-solver", run$solver)
    expect_identical(cv$summary, summary_of(paste0(prefix, "cv_summary.tsv")))
    expect_identical(nrow(cv$summary), length(run$w) * (if (identical(run$lambda, "auto")) 6L else 3L))
  }
  expect_length(list.files(tempdir(), "^sets"), 0)
})

test_that("coef, predict and plot take the model at lambda.min or lambda.1se", {
  ps <- study()
  cv <- orvane_cv(ps, "site", w = 0.5, lambda = "auto", nlambda = 8, folds = 3, seed = 4)
  expect_gt(cv$lambda.1se, cv$lambda.min)
  min_row <- cv$summary[grepl("min", cv$summary$choice), ]
  expect_identical(c(cv$w.min, cv$lambda.min), c(min_row$w, min_row$lambda))
  at_min <- orvane_fit(ps, "site", w = cv$w.min, lambda = cv$lambda.min)
  at_1se <- orvane_fit(ps, "site", w = cv$w.1se, lambda = cv$lambda.1se)
  expect_identical(coef(cv, s = "lambda.min"), coef(at_min))
  expect_identical(coef(cv), coef(at_1se))  # lambda.1se by default, as cv.glmnet
  expect_identical(predict(cv, counts, s = "lambda.min", type = "prob"), predict(at_min, counts, type = "prob"))
  expect_identical(predict(cv, counts), predict(at_1se, counts))
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  expect_identical(plot(cv), cv)
  expect_output(print(cv), "lambda.1se")
  expect_error(coef(cv, s = "lambda.max"), "should be one of")
  expect_error(orvane_cv(ps, "site", folds = 13), "folds must be from 2 to the 12 samples")
  expect_error(orvane_cv(ps, "site", lambda = -1), "lambda must be")
  expect_error(orvane_cv(ps, "site", solver = "newton"), "should be one of")
  expect_error(orvane_cv(ps, "site", repetitions = 0), "repetitions must be 1 or more")
  expect_error(orvane_cv(ps, "site", folds = 2.5), "folds must be a whole number")
})

test_that("converged fits stopped above tol are counted as Orvane-cv counts them, and each refit warns", {
  said <- character(0)
  cv <- withCallingHandlers(
    orvane_cv(unseparated, unseparated_classes, lambda = 0, folds = 3, seed = 2, tree = unseparated_tree),
    warning = function(w) {
      said <<- c(said, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
  dir <- withr::local_tempdir()
  files <- write_unseparated(dir, cv$fit.min)
  program_stderr("Orvane-folds", files, "-n", 1, "-k", 3, "-seed", 2, "-s", file.path(dir, "sets"))
  counted <- program_stderr("Orvane-cv", files, "-t", file.path(dir, "tree.tre"), "-n", 1, "-k", 3,
                            "-s", file.path(dir, "sets"), "-p", file.path(dir, "cv_"), "-w", 0.5,
                            "-lambda", 0, "-solver", "converged")
  counted <- grep("converged fits", counted, value = TRUE)
  expect_identical(paste0("warning: ", sub("the tolerance", "-tol", said[1])), counted)
  expect_match(said[1], "^3 of 3 converged fits stopped after 20000 iterations")
  # One grid point is both choices: each refitted model warns of its own gap.
  expect_length(said, 3)
  expect_match(said[-1], "^the converged fit at w 0.5, lambda 0 stopped after 20000 iterations")
})
