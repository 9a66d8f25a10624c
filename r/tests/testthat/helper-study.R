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
