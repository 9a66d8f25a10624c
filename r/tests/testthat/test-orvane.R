test_that("a phyloseq fit gives the model and the classes of Orvane-prepare, Orvane -train and -test", {
  ps <- study()
  dir <- withr::local_tempdir()
  data <- prepared_study(dir)
  # The default solver is the converged fit; cyclic is Orvane -train's own default.
  for (setting in list(c(0.5, 0.05, "cyclic"), c(-1, 0.02, "cyclic"), c(1, 0, "cyclic"),
                       c(0.5, 0.05, NA), c(0.8, 0.01, "converged"))) {
    solver <- if (is.na(setting[3])) list() else list(solver = setting[3])
    fit <- do.call(orvane_fit, c(list(ps, "site", w = as.numeric(setting[1]),
                                      lambda = as.numeric(setting[2])), solver))
    expect_identical(fit$solver, if (is.na(setting[3])) "converged" else setting[3])
    model <- file.path(dir, "model.txt")
    program("Orvane", "-train", "-d", file.path(data, "samples.txt"), "-l", file.path(data, "labels.txt"),
            "-t", file.path(data, "tree.tre"), "-w", setting[1], "-lambda", setting[2],
            "-solver", fit$solver, "-o", model)
    expect_identical(fit$model, paste0(paste(readLines(model), collapse = "\n"), "\n"))
    program("Orvane", "-test", "-d", file.path(data, "samples.txt"), "-c", model, "-o", file.path(dir, "classes.txt"))
    # The folder lists the samples in byte order of their IDs.
    ids <- read.delim(file.path(data, "samples.tsv"), check.names = FALSE, colClasses = "character")[["sample-id"]]
    expect_identical(as.integer(predict(fit, ps)[ids]), as.integer(readLines(file.path(dir, "classes.txt"))))
  }
})

test_that("a matrix with the tree as phylo, Newick text or file gives the phyloseq fit", {
  fit <- orvane_fit(study(), "site", lambda = 0.05)
  path <- withr::local_tempfile(fileext = ".nwk")
  writeLines(newick, path)
  for (tree in list(ape::read.tree(text = newick), newick, path))
    expect_identical(orvane_fit(counts, site, lambda = 0.05, tree = tree)$model, fit$model)
  by_rows <- phyloseq::phyloseq(phyloseq::otu_table(t(counts), taxa_are_rows = TRUE),
                                phyloseq::sample_data(study()), phyloseq::phy_tree(study()))
  expect_identical(orvane_fit(by_rows, "site", lambda = 0.05)$model, fit$model)
  expect_equal(levels(predict(fit, counts)), c("gut", "skin", "soil"))
  expect_equal(dim(coef(fit)), c(3, 6))
  taxa_selected <- selected_taxa(fit)
  expect_equal(nrow(taxa_selected), sum(coef(fit) != 0))
  expect_true(all(diff(abs(taxa_selected$coefficient[taxa_selected$class == "gut"])) <= 0))
})

test_that("prediction matches taxa by name and warns about missing and unknown ones", {
  fit <- orvane_fit(counts, site, lambda = 0.05, tree = newick)
  expected <- predict(fit, counts, type = "prob")
  expect_equal(rowSums(expected), setNames(rep(1, 12), rownames(counts)))
  expect_identical(predict(fit, counts[, rev(taxa)], type = "prob"), expected)
  expect_warning(lacking <- predict(fit, counts[, -2], type = "link"), "'otuB'")
  zeroed <- counts
  zeroed[, 2] <- 0
  expect_identical(lacking, predict(fit, zeroed, type = "link"))
  expect_warning(extra <- predict(fit, cbind(counts, otuZ = 5L)), "'otuZ'")
  expect_identical(extra, predict(fit, counts))
})

test_that("a model survives saveRDS and readRDS", {
  fit <- orvane_fit(counts, site, lambda = 0.05, tree = newick)
  path <- withr::local_tempfile(fileext = ".rds")
  saveRDS(fit, path)
  expect_identical(readRDS(path), fit)
  expect_identical(predict(readRDS(path), counts), predict(fit, counts))
})

test_that("bad inputs give R errors", {
  expect_error(orvane_fit(counts, site, tree = "((otuA,otuB),otuC;"), "Newick text:1:")
  expect_error(orvane_fit(counts, site, tree = "((otuA,otuB),(otuC,otuD));"), "'otuE', 'otuF'")
  expect_error(orvane_fit(counts, site, tree = "(otuA,otuB,otuC,otuD,otuE,otuF);", w = -1), "not numbers")
  expect_error(orvane_fit(counts, site, tree = newick, w = 2), "w must be")
  expect_error(orvane_fit(-counts, site, tree = newick), "'S1'")
  expect_error(orvane_fit(counts, rep("gut", 12), tree = newick), "two classes")
})
