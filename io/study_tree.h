// A study's Newick tree as the usual tools write it, read into the tree
// library's structure; pruning it to the features of a table; and writing it
// in the form Orvane's tree reader takes.
#ifndef ORVANE_IO_STUDY_TREE_H
#define ORVANE_IO_STUDY_TREE_H

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "tree/Tree.h"

// A study's tree with its branch lengths as written: the tree's nodes hold
// them rounded to float, and pruning adds them up before rounding.
struct StudyTree {
    std::unique_ptr<vessik::Tree> tree;
    std::vector<double> lengths;  // lengths[n]: the branch length of node n
};

// Reads the Newick tree in `path`: tip labels plain or in single quotes (''
// standing for a quote inside), branch lengths in any decimal or e-notation,
// internal nodes with support values or names (kept as their longname),
// comments in square brackets and white space between tokens skipped.
// Unquoted labels are taken as written (underscores stay). Leaves get the
// numbers 0 to L-1 in reading order, internal nodes follow, the root last.
// Refuses duplicate tip labels, empty tip labels and trees nested deeper than
// Orvane's tree reader accepts. Returns "" or the message to print after "error: ".
std::string readStudyTree(const std::string &path, StudyTree &tree);
// The same reader over Newick text in memory; messages name it `name`.
std::string readStudyTreeText(const std::string &text, const std::string &name, StudyTree &tree);

// The tree without the leaves that `keep` rejects: an internal node left with
// no child goes, and one left with a single child is merged with that child,
// which keeps its label and gets the sum of the two branch lengths. No tree
// when no leaf is kept.
StudyTree pruneTree(const StudyTree &tree, const std::function<bool(const vessik::Node *)> &keep);

// Writes the tree on one line, ended by ";\n", naming each leaf by
// `leafLabel`; lengths are the shortest text that reads back to the same float.
// Internal labels are kept with every character that would end an unquoted
// label replaced by '_'. The root's length is not written.
void writeOrvaneTree(std::ostream &out, const vessik::Tree &tree,
                     const std::function<std::string(const vessik::Node *)> &leafLabel);

// The labels of the internal nodes in the order writeOrvaneTree writes them
// (pre-order), as read, with tabs and line breaks made spaces.
std::vector<std::string> internalLabels(const vessik::Tree &tree);

#endif
