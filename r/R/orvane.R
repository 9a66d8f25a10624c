# Orvane from R: fitting the tree-penalised multinomial logistic regression
# to a phyloseq object or a matrix with a tree, and predicting new samples
# with taxa matched by name. The fit and the scores run Orvane's C++ library
# (src/orvane.cpp), so a fit holds the model file `Orvane -train` writes for
# the same samples, classes and tree.

# Fits the model. `x` is a phyloseq object (`class` names a column of its
# sample data, the tree is its phy_tree unless `tree` is given) or a matrix of
# counts, samples as rows and taxa as named columns, with `class` one value
# per sample and `tree` an ape phylo object, Newick text or a Newick file.
# tree = "taxonomy" builds the tree from the taxa's lineages: the phyloseq
# object's tax_table, or `taxonomy`, one lineage per taxon named by taxon
# ("k__Bacteria; p__Firmicutes; ..."). Taxa the tree lacks are left out with
# a warning; graft = TRUE places them beside their relatives on the tree by
# their lineages, as Orvane-prepare -graft does.
# `solver`: "converged" (the minimum, to a certified relative duality gap of
# `tol`, as `Orvane -train -solver converged -tol`) or "cyclic" (`Orvane
# -train`'s default fit, byte for byte). A converged fit keeps the gap it
# reached and its iterations (`gap`, `iterations`; NA for the cyclic fit);
# one that stops at its iteration cap above `tol` (this can happen near lambda
# 0) warns with a condition of class "orvane_convergence".
orvane_fit <- function(x, class, w = 0.5, lambda = 1, tree = NULL, graft = FALSE, taxonomy = NULL,
                       solver = c("converged", "cyclic"), tol = 1e-6) {
  solver <- match.arg(solver)
  if (!is.numeric(w) || length(w) != 1 || !is.numeric(lambda) || length(lambda) != 1)
    stop("w and lambda must be one number each")
  if (!is.numeric(tol) || length(tol) != 1) stop("tol must be one number")
  study <- fit_inputs(x, class, tree, graft, taxonomy)
  on.exit(if (study$newick$temporary) unlink(study$newick$path))
  fitted <- .orvane_fit(study$counts, sample_names(study$counts), study$class_numbers,
                        length(study$classes), study$newick$path, study$newick$name, w, lambda,
                        study$from_taxonomy, study$graft, study$lineages, solver, tol)
  if (length(fitted$left_out) > 0)
    warning(left_out_text(study$counts, fitted$left_out + 1, study$from_taxonomy, study$graft))
  if (!is.na(fitted$gap) && fitted$gap > tol)
    warning(convergence_warning(w, lambda, fitted$iterations, fitted$gap, tol))
  coefficients <- fitted$coefficients
  dimnames(coefficients) <- list(study$classes, fitted$taxa)
  structure(list(coefficients = coefficients, taxa = fitted$taxa, classes = study$classes,
                 w = w, lambda = lambda, solver = solver, tol = tol, gap = fitted$gap,
                 iterations = fitted$iterations, model = fitted$model, tree = fitted$tree),
            class = "orvane_fit")
}

# The warning of a converged fit that stopped above its tolerance, as a
# condition of its own class, so that callers can tell it from the others.
convergence_warning <- function(w, lambda, iterations, gap, tol) {
  message <- sprintf(paste("the converged fit at w %g, lambda %g stopped after %d iterations with a",
                           "relative duality gap of %.6g, above the tolerance %g: its coefficients",
                           "are not certified as the minimum"), w, lambda, as.integer(iterations), gap, tol)
  warningCondition(message, class = "orvane_convergence")
}

# The counts, classes, tree file and lineages a fit reads: samples without a
# class left out (with a warning), classes numbered by their names in byte
# order and samples in byte order of their IDs, as Orvane-prepare lays out a
# data folder, so that the order of a phyloseq object does not change the
# model.
fit_inputs <- function(x, class, tree, graft = FALSE, taxonomy = NULL) {
  from_taxonomy <- identical(tree, "taxonomy")
  if (from_taxonomy && isTRUE(graft))
    stop("graft = TRUE does not go with tree = \"taxonomy\" (every taxon with a lineage is on that tree)")
  study <- study_of(x, class, if (from_taxonomy) "" else tree)
  counts <- study$counts
  keep <- !is.na(study$class) & study$class != ""
  if (!all(keep)) {
    warning(sum(!keep), " samples without a class are left out")
    counts <- counts[keep, , drop = FALSE]
  }
  labels <- study$class[keep]
  classes <- sort(unique(labels), method = "radix")
  if (length(classes) < 2) stop("Orvane needs samples of at least two classes")
  lineages <- lineages_of(x, taxonomy, colnames(counts))
  if ((from_taxonomy || isTRUE(graft)) && length(lineages) == 0)
    stop("the taxa need lineages: a phyloseq object with a tax_table, or `taxonomy`")
  if (!is.null(rownames(counts))) {
    keep <- order(rownames(counts), method = "radix")
    counts <- counts[keep, , drop = FALSE]
    labels <- labels[keep]
  }
  list(counts = counts, classes = classes, class_numbers = match(labels, classes),
       newick = if (from_taxonomy) list(path = "", name = "the taxonomy", temporary = FALSE)
                else newick_file(study$tree),
       from_taxonomy = from_taxonomy, graft = isTRUE(graft), lineages = lineages)
}

# Predicts new samples (a phyloseq object or a matrix of counts with taxa as
# named columns): their classes (a factor), the probability of each class
# (the softmax of the scores), or the scores themselves. Taxa are matched by
# name: the model's taxa that `newdata` lacks count 0, and taxa the model
# does not know are ignored, each with a warning.
predict.orvane_fit <- function(object, newdata, type = c("class", "prob", "link"), ...) {
  type <- match.arg(type)
  counts <- study_counts(newdata)
  taxa <- object$taxa
  if (anyDuplicated(colnames(counts))) stop("newdata names a taxon twice")
  lacking <- setdiff(taxa, colnames(counts))
  unknown <- setdiff(colnames(counts), taxa)
  if (length(lacking) > 0)
    warning(length(lacking), " of the model's ", length(taxa), " taxa are not in newdata and count 0: ",
            name_list(lacking))
  if (length(unknown) > 0)
    warning(length(unknown), " taxa of newdata are not in the model and are ignored: ",
            name_list(unknown))
  aligned <- matrix(0, nrow(counts), length(taxa), dimnames = list(rownames(counts), taxa))
  shared <- intersect(taxa, colnames(counts))
  aligned[, shared] <- counts[, shared]
  scored <- .orvane_scores(object$coefficients, aligned, sample_names(aligned))
  if (type == "class")
    return(stats::setNames(factor(object$classes[scored$class], levels = object$classes),
                           rownames(counts)))
  link <- scored$link
  dimnames(link) <- list(rownames(counts), object$classes)
  if (type == "link") return(link)
  # exp(s - max s) / sum: nothing overflows.
  shifted <- exp(link - apply(link, 1, max))
  shifted / rowSums(shifted)
}

# The coefficients, classes x taxa, as the model file holds them.
coef.orvane_fit <- function(object, ...) object$coefficients

# Every nonzero coefficient: class, taxon and coefficient, by class in class
# order and, within a class, largest magnitude first (ties in taxon order).
selected_taxa <- function(fit) {
  b <- fit$coefficients
  rows <- lapply(seq_along(fit$classes), function(k) {
    j <- which(b[k, ] != 0)
    j <- j[order(-abs(b[k, j]), j)]
    data.frame(class = rep(fit$classes[k], length(j)), taxon = fit$taxa[j],
               coefficient = unname(b[k, j]), stringsAsFactors = FALSE)
  })
  do.call(rbind, rows)
}

print.orvane_fit <- function(x, ...) {
  cat("Orvane model (w = ", x$w, ", lambda = ", x$lambda, ", ", if (is.null(x$solver)) "cyclic" else x$solver, "): ", length(x$classes), " classes, ",
      length(x$taxa), " taxa, ", sum(x$coefficients != 0), " nonzero coefficients\n", sep = "")
  invisible(x)
}

# The counts (samples x taxa), classes and tree of a phyloseq object or of a
# matrix with its classes and tree.
study_of <- function(x, class, tree) {
  counts <- study_counts(x)
  if (inherits(x, "phyloseq")) {
    if (!is.character(class) || length(class) != 1)
      stop("with a phyloseq object, class names a column of its sample data")
    sheet <- phyloseq::sample_data(x, errorIfNULL = FALSE)
    if (is.null(sheet) || !class %in% colnames(sheet))
      stop("the phyloseq object has no sample data column ", class)
    class <- methods::as(sheet, "data.frame")[rownames(counts), class]
    if (is.null(tree)) tree <- phyloseq::phy_tree(x, errorIfNULL = FALSE)
  }
  if (is.null(tree))
    stop("a tree is needed: an ape phylo object, Newick text, a Newick file or \"taxonomy\"")
  if (length(class) != nrow(counts))
    stop("class has ", length(class), " values for ", nrow(counts), " samples")
  list(counts = counts, class = as.character(class), tree = tree)
}

# The lineage of each taxon ("k__A; p__B; ..."), from `taxonomy` (named by
# taxon) or the phyloseq object's tax_table; character(0) without either.
lineages_of <- function(x, taxonomy, taxa) {
  if (is.null(taxonomy) && inherits(x, "phyloseq")) {
    table <- phyloseq::tax_table(x, errorIfNULL = FALSE)
    if (is.null(table)) return(character(0))
    ranks <- methods::as(table, "matrix")
    ranks[is.na(ranks)] <- ""
    taxonomy <- setNames(apply(ranks, 1, paste, collapse = "; "), rownames(ranks))
  }
  if (is.null(taxonomy)) return(character(0))
  if (is.null(names(taxonomy))) stop("taxonomy must be named by taxon")
  lineages <- unname(taxonomy[taxa])
  lineages[is.na(lineages)] <- ""
  lineages
}

# A share of the reads (0 to 1) in percent, with one decimal or more where
# one would round it onto 0, 50, 90 or 100 that it is not.
share_text <- function(share) {
  exact <- 100 * share
  for (digits in 1:6) {
    text <- sprintf("%.*f", digits, exact)
    shown <- as.numeric(text)
    if (!any(shown == c(0, 50, 90, 100) & exact != c(0, 50, 90, 100)) || digits == 6)
      return(paste0(text, "%"))
  }
}

# The warning for taxa left out (columns `left` of counts): how many, their
# share of the reads, and the options not in use that would keep them.
left_out_text <- function(counts, left, from_taxonomy, graft) {
  where <- if (from_taxonomy) "have no lineage" else if (graft) "are not on the tree, with no relative on it" else "are not on the tree"
  advice <- c(if (!graft && !from_taxonomy) "graft = TRUE places taxa off the tree beside their relatives by lineage",
              if (!from_taxonomy) "tree = \"taxonomy\" builds the tree from the lineages")
  paste0(length(left), " of ", ncol(counts), " taxa ", where, " and are left out, holding ",
         share_text(sum(counts[, left]) / sum(counts)), " of the reads: ", name_list(colnames(counts)[left]),
         if (length(advice) > 0) paste0("; to keep them: ", paste(advice, collapse = ", or ")) else "")
}

# Samples as rows, taxa as named columns, values as doubles.
study_counts <- function(x) {
  if (inherits(x, "phyloseq")) {
    table <- phyloseq::otu_table(x)
    counts <- methods::as(table, "matrix")
    if (phyloseq::taxa_are_rows(table)) counts <- t(counts)
  } else {
    counts <- as.matrix(x)
  }
  if (is.null(colnames(counts))) stop("the columns of the counts need taxon names")
  if (!is.numeric(counts)) stop("the counts must be numbers")
  storage.mode(counts) <- "double"
  counts
}

sample_names <- function(counts) {
  if (is.null(rownames(counts))) as.character(seq_len(nrow(counts))) else rownames(counts)
}

name_list <- function(names) {
  shown <- paste0("'", utils::head(names, 5), "'", collapse = ", ")
  if (length(names) > 5) paste0(shown, ", ...") else shown
}

# A Newick file for the tree: the file given, or a temporary one holding the
# text given or written from an ape phylo object.
newick_file <- function(tree) {
  if (inherits(tree, "phylo")) {
    text <- phylo_newick(tree)
    name <- "the tree"
  } else if (is.character(tree) && length(tree) == 1 && !grepl("(", tree, fixed = TRUE)) {
    if (!file.exists(tree)) stop("tree file ", tree, " does not exist")
    return(list(path = tree, name = tree, temporary = FALSE))
  } else if (is.character(tree)) {
    text <- paste(tree, collapse = "\n")
    name <- "the Newick text"
  } else {
    stop("tree must be an ape phylo object, Newick text or the path of a Newick file")
  }
  path <- tempfile(fileext = ".nwk")
  writeLines(text, path)
  list(path = path, name = name, temporary = TRUE)
}

# Newick text of an ape phylo object: children in the order of its edge
# matrix, tips quoted (so that any label survives), branch lengths with all
# 17 significant digits. Built from the tips up, without recursion, so that
# deep trees do not exhaust R's stack.
phylo_newick <- function(phy) {
  edge <- phy$edge
  n_nodes <- max(edge)
  parent <- integer(n_nodes)
  parent[edge[, 2]] <- edge[, 1]
  length_text <- character(n_nodes)
  if (!is.null(phy$edge.length))
    length_text[edge[, 2]] <- ifelse(is.na(phy$edge.length), "",
                                     paste0(":", sprintf("%.17g", phy$edge.length)))
  text <- character(n_nodes)
  tips <- seq_along(phy$tip.label)
  text[tips] <- paste0("'", gsub("'", "''", phy$tip.label, fixed = TRUE), "'", length_text[tips])
  children <- split(edge[, 2], factor(edge[, 1], levels = seq_len(n_nodes)))
  root <- setdiff(edge[, 1], edge[, 2])
  # Breadth-first from the root; read backwards, children come before parents.
  order <- integer(n_nodes)
  order[1] <- root
  filled <- 1
  for (i in seq_len(n_nodes)) {
    below <- children[[order[i]]]
    order[filled + seq_along(below)] <- below
    filled <- filled + length(below)
  }
  for (node in rev(order[!order %in% tips]))
    text[node] <- paste0("(", paste(text[children[[node]]], collapse = ","), ")", length_text[node])
  paste0(text[root], ";")
}
