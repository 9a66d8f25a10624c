# A small study as a phyloseq object: three sites of four samples each, whose
# counts lean towards the site's own taxa.
newick <- "((otuA:0.1,otuB:0.2):0.3,(otuC:0.2,(otuD:0.1,otuE:0.4):0.1):0.2,otuF:0.5);"
taxa <- c("otuA", "otuB", "otuC", "otuD", "otuE", "otuF")
site <- rep(c("gut", "skin", "soil"), each = 4)
set.seed(7)
counts <- matrix(rpois(72, 3), 12, 6, dimnames = list(paste0("S", 1:12), taxa))
counts[site == "gut", 1:2] <- counts[site == "gut", 1:2] + 20
counts[site == "soil", 4:6] <- counts[site == "soil", 4:6] + 15

study <- function() {
  skip_if_not_installed("phyloseq")
  phyloseq::phyloseq(phyloseq::otu_table(counts, taxa_are_rows = FALSE),
                     phyloseq::sample_data(data.frame(site = site, row.names = rownames(counts))),
                     phyloseq::phy_tree(ape::read.tree(text = newick)))
}

# Runs a program of the repository's build, found through ORVANE_BIN.
program <- function(name, ...) {
  bin <- Sys.getenv("ORVANE_BIN")
  if (bin == "" || !file.exists(file.path(bin, name)))
    skip("ORVANE_BIN does not name a folder with the built programs (as .ci/run sets it)")
  output <- suppressWarnings(system2(file.path(bin, name), c(...), stdout = TRUE, stderr = TRUE))
  expect(is.null(attr(output, "status")), paste(name, "failed:", paste(output, collapse = "\n")))
}

# Orvane-prepare's data folder of the study in `dir`: its path.
prepared_study <- function(dir) {
  writeLines(c(paste(c("", taxa), collapse = "\t"),
               paste(rownames(counts), apply(counts, 1, paste, collapse = "\t"), sep = "\t")),
             file.path(dir, "table.tsv"))
  writeLines(c("sample-id\tsite", paste(rownames(counts), site, sep = "\t")), file.path(dir, "meta.tsv"))
  writeLines(newick, file.path(dir, "tree.nwk"))
  data <- file.path(dir, "data")
  program("Orvane-prepare", "-table", file.path(dir, "table.tsv"), "-metadata", file.path(dir, "meta.tsv"),
          "-column", "site", "-tree", file.path(dir, "tree.nwk"), "-o", data)
  data
}

# Six samples of two classes that no coefficients tell apart: at lambda 0 the
# converged fit runs into its iteration cap far above its tolerance.
unseparated <- matrix(c(10, 11, 10, 11, 10, 10, 10, 10, 12, 11, 10, 10, 10, 12, 10, 10, 10, 11), 6,
                      byrow = TRUE, dimnames = list(paste0("S", 1:6), c("a", "b", "c")))
unseparated_classes <- rep(c("p", "q"), each = 3)
unseparated_tree <- "((a:1,b:1):1,c:1);"

# Runs a program of the repository's build with arguments `...`; its
# standard error, as lines.
program_stderr <- function(name, ...) {
  bin <- Sys.getenv("ORVANE_BIN")
  if (bin == "" || !file.exists(file.path(bin, name)))
    skip("ORVANE_BIN does not name a folder with the built programs (as .ci/run sets it)")
  said <- withr::local_tempfile()
  status <- system2(file.path(bin, name), c(...), stdout = FALSE, stderr = said)
  expect(status == 0, paste(name, "failed:", paste(readLines(said), collapse = "\n")))
  readLines(said)
}

# samples.txt, labels.txt and tree.tre in `dir` for the programs, of the
# unseparated table (classes p and q) and a fit's numbered tree.
write_unseparated <- function(dir, fit) {
  writeLines(paste("1", apply(unseparated, 1, paste, collapse = "\t"), sep = "\t"),
             file.path(dir, "samples.txt"))
  writeLines(c(">p", "1 2 3", ">q", "4 5 6"), file.path(dir, "labels.txt"))
  writeLines(fit$tree, file.path(dir, "tree.tre"), sep = "")
  c("-d", file.path(dir, "samples.txt"), "-l", file.path(dir, "labels.txt"))
}
