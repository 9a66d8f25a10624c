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

test_that("a converged fit keeps the gap Orvane -train reports and warns when it stops above tol", {
  cyclic <- orvane_fit(unseparated, unseparated_classes, lambda = 0.01, tree = unseparated_tree,
                       solver = "cyclic")
  expect_true(is.na(cyclic$gap) && is.na(cyclic$iterations))
  dir <- withr::local_tempdir()
  files <- c(write_unseparated(dir, cyclic), "-t", file.path(dir, "tree.tre"))
  for (lambda in c(0.01, 0)) {
    said <- program_stderr("Orvane", "-train", files, "-w", 0.5, "-lambda", lambda, "-solver",
                           "converged", "-v", "-o", file.path(dir, "model.txt"))
    reported <- regmatches(said[1], regexec("gap (\\S+) after (\\d+) iterations", said[1]))[[1]]
    caught <- list()
    fit <- withCallingHandlers(
      orvane_fit(unseparated, unseparated_classes, lambda = lambda, tree = unseparated_tree),
      warning = function(w) {
        caught[[length(caught) + 1]] <<- w
        invokeRestart("muffleWarning")
      })
    expect_identical(c(sprintf("%g", fit$gap), sprintf("%d", fit$iterations)), reported[2:3])
    expect_identical(fit$model, paste0(paste(readLines(file.path(dir, "model.txt")), collapse = "\n"), "\n"))
    if (lambda == 0) {
      expect_length(caught, 1)
      expect_s3_class(caught[[1]], "orvane_convergence")
      expect_identical(conditionMessage(caught[[1]]), paste0(
        "the converged fit at w 0.5, lambda 0 stopped after 20000 iterations with a relative duality ",
        "gap of ", reported[2], ", above the tolerance 1e-06: its coefficients are not certified as ",
        "the minimum"))
      expect_match(said[2], paste0("stopped after 20000 iterations with a relative duality gap of ",
                                   reported[2], ", above -tol 1e-06$"))
    } else {
      expect_length(caught, 0)
      expect_lte(fit$gap, 1e-6)
    }
  }
  looser <- orvane_fit(unseparated, unseparated_classes, lambda = 0.01, tree = unseparated_tree, tol = 0.01)
  expect_true(looser$gap <= 0.01 && looser$iterations < fit$iterations)
  expect_error(orvane_fit(unseparated, unseparated_classes, tree = unseparated_tree, tol = 1), "tol must be")
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
  # Taxa off the tree are left out with a warning (graft needs their lineages).
  expect_warning(fit <- orvane_fit(counts, site, tree = "((otuA,otuB),(otuC,otuD));"),
                 "^2 of 6 taxa are not on the tree and are left out, holding 34.0% of the reads: 'otuE', 'otuF'")
  expect_equal(fit$taxa, c("otuA", "otuB", "otuC", "otuD"))
  expect_error(orvane_fit(counts, site, tree = newick, graft = TRUE), "need lineages")
  expect_error(suppressWarnings(orvane_fit(counts, site, tree = "(otuA,(otuY,otuZ));")), "holds 1 of the 6 taxa")
  expect_error(orvane_fit(counts, site, tree = "(otuA,otuB,otuC,otuD,otuE,otuF);", w = -1), "not numbers")
  expect_error(orvane_fit(counts, site, tree = newick, w = 2), "w must be")
  expect_error(orvane_fit(-counts, site, tree = newick), "'S1'")
  expect_error(orvane_fit(counts, rep("gut", 12), tree = newick), "two classes")
})

# The example study with a table holding taxa off its tree (tests/data/routes):
# graft = TRUE and tree = "taxonomy" fit on the trees of Orvane-prepare -graft
# and -tree taxonomy, and give the models Orvane -train gives on their folders.
test_that("graft and tree = \"taxonomy\" give the folders of Orvane-prepare", {
  skip_if_not_installed("phyloseq")
  routes <- test_path("..", "..", "..", "tests", "data", "routes")
  example <- test_path("..", "..", "..", "example", "study")
  skip_if_not(file.exists(file.path(routes, "table.tsv")), "not run inside the repository")
  table <- as.matrix(read.delim(file.path(routes, "table.tsv"), skip = 1, check.names = FALSE,
                                row.names = 1, colClasses = c("character")))
  storage.mode(table) <- "double"
  sheet <- read.delim(file.path(routes, "taxonomy.tsv"), colClasses = "character")
  ranks <- do.call(rbind, strsplit(sheet$Taxon, "; ", fixed = TRUE))
  rownames(ranks) <- sheet$Feature.ID
  meta <- read.delim(file.path(example, "metadata.tsv"), colClasses = "character")
  meta <- meta[!startsWith(meta$sample.id, "#"), ]
  ps <- phyloseq::phyloseq(phyloseq::otu_table(table, taxa_are_rows = TRUE), phyloseq::tax_table(ranks),
                           phyloseq::sample_data(data.frame(SampleType = meta$SampleType, row.names = meta$sample.id)))
  tree <- file.path(example, "tree.nwk")
  dir <- withr::local_tempdir()
  for (route in list(list(options = c("-tree", tree, "-graft"), tree = tree, graft = TRUE),
                     list(options = c("-tree", "taxonomy"), tree = "taxonomy", graft = FALSE))) {
    data <- file.path(dir, route$tree == "taxonomy")
    program("Orvane-prepare", "-table", file.path(routes, "table.tsv"), "-metadata", file.path(example, "metadata.tsv"),
            "-column", "SampleType", "-taxonomy", file.path(routes, "taxonomy.tsv"), route$options, "-o", data)
    fit <- expect_silent(orvane_fit(ps, "SampleType", lambda = 0.5, tree = route$tree, graft = route$graft,
                                      solver = "cyclic"))
    expect_identical(strsplit(fit$tree, "\n")[[1]], readLines(file.path(data, "tree.tre")))
    model <- file.path(dir, "model.txt")
    program("Orvane", "-train", "-d", file.path(data, "samples.txt"), "-l", file.path(data, "labels.txt"),
            "-t", file.path(data, "tree.tre"), "-lambda", 0.5, "-w", 0.5, "-o", model)
    expect_identical(fit$model, paste0(paste(readLines(model), collapse = "\n"), "\n"))
  }
  expect_warning(plain <- orvane_fit(ps, "SampleType", tree = tree),
                 paste0("^10 of 40 taxa are not on the tree and are left out, holding 29.9% of the reads: .*; ",
                        "to keep them: graft = TRUE places"))
  expect_equal(ncol(coef(plain)), 30)
  expect_error(orvane_fit(ps, "SampleType", tree = "taxonomy", graft = TRUE), "does not go with")
})

test_that("the libraries print nothing: their errors reach R as errors alone", {
  inputs <- withr::local_tempfile(fileext = ".rds")
  script <- withr::local_tempfile(fileext = ".R")
  saveRDS(list(counts = counts, site = site), inputs)
  writeLines(c(sprintf("d <- readRDS(%s)", deparse(inputs)),
               "r <- tryCatch(orvane::orvane_fit(d$counts, d$site, tree = '((otuA,otuB),otuC;'),",
               "              error = function(e) 'raised')",
               "cat(r, '\\n', sep = '')"), script)
  output <- suppressWarnings(system2(file.path(R.home("bin"), "Rscript"), script,
                                     stdout = TRUE, stderr = TRUE))
  expect_true("raised" %in% output)
  expect_false(any(grepl("^error: ", output)))
})
