// Trees from taxonomy: placing features the study's tree lacks beside their
// closest relatives on it (grafting), building a tree from the lineages alone,
// and the canonical order of a tree's children.
#ifndef ORVANE_IO_TAXONOMY_TREE_H
#define ORVANE_IO_TAXONOMY_TREE_H

#include <string>
#include <unordered_map>
#include <vector>

#include "io/study_tree.h"

// The levels of a lineage such as "k__Bacteria; p__Firmicutes; g__" or
// "k__Bacteria|p__Firmicutes|s__x", trimmed of spaces.
std::vector<std::string> lineageLevels(const std::string &taxonomy);

// Whether a level names a taxon: "g__Bacteroides" and "Bacteroides" do, "g__"
// and "" do not.
bool isNamedLevel(const std::string &level);

// A feature with its taxonomy, for the functions below.
struct TaxonomyFeature {
    std::string id;
    std::string taxonomy;
};

// Adds each of `orphans` (features not on `tree`) as a new tip of length 0
// under the most recent common ancestor of the tips of `onTree` that share its
// deepest named level, going up a level at a time to the phylum, never to the
// kingdom alone. A tip that is that ancestor on its own gets a parent of its
// length holding it and the new tips, each at length 0. Returns the IDs of the
// orphans placed; the others have no taxonomy below the kingdom, or no tip
// of `onTree` that shares one of its levels.
std::vector<std::string> graftByTaxonomy(StudyTree &tree, const std::vector<TaxonomyFeature> &onTree,
                                         const std::vector<TaxonomyFeature> &orphans);

// A tree with one internal node per named level of the features' lineages
// (labelled with the level, unnamed levels skipped), each feature a tip under
// its deepest named level, every branch of length 1; chains of single children
// are merged as pruning merges them. Features without a named level are left out.
StudyTree taxonomyTree(const std::vector<TaxonomyFeature> &features);

// Orders the children of every node by the smallest `key` of the tips below
// them (keys compared as bytes), and returns the tips in pre-order.
std::vector<const vessik::Node *> orderChildren(
    StudyTree &tree, const std::unordered_map<const vessik::Node *, std::string> &key);

#endif
