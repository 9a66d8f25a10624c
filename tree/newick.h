// Newick reading and writing, and tree printing for inspection.
#ifndef VESSIK_NEWICK_H
#define VESSIK_NEWICK_H

#include <cstdio>
#include <string>

#include "tree/Tree.h"

namespace vessik {

// Readers return the tree, or null after reporting the problem through printError.
// A null `tree` means that a new one is made (and deleted again on failure); a
// tree passed in keeps the nodes read before a failure, with a null root.
// Leaves get the numbers 0 to L-1 in reading order, internal nodes follow, and
// the root comes last. Support values in place of internal labels are dropped.
// Spaces, tabs, carriage returns and line feeds are skipped everywhere; names
// are cut to their first character and the next 100. The root may carry a
// branch length. Trees nested more than 10000 levels deep are rejected.
Tree *readNewickTree(const char *filename, Tree *tree = nullptr);
Tree *readNewickTree(FILE *infile, Tree *tree = nullptr);
// The same reader over Newick text in memory.
Tree *readNewickText(const std::string &text, Tree *tree = nullptr);
Node *readNewickNode(FILE *infile, Tree *tree, Node *parent, int &depth);

char readUntil(FILE *stream, std::string &token, const char *stops, int &depth);
char readChar(FILE *stream, int &depth);
bool readDist(FILE *infile, float *dist);
// The first whitespace-delimited word of `word`, at most 100 characters.
std::string trim(const char *word);
// Leaves before internal nodes; equal within each group.
int nodeNameCmp(const void *a, const void *b);

// Lengths are written with "%f". The one-line form has no final newline; the
// indented form puts one node per line, two spaces per level. The `depth`
// argument of writeNewickTree is unused: the root is always at depth 0.
void writeNewickNode(FILE *out, Node *node, int depth, bool oneline);
void writeNewickTree(FILE *out, Tree *tree, int depth, bool oneline);
// False, after printError, when the file cannot be created or written.
bool writeNewickTree(const char *filename, Tree *tree, bool oneline);
// What writeNewickTree writes, as a string.
std::string newickText(Tree *tree, bool oneline);
// The numbered layout for inspection ("4=(" for an internal node, "1=A:1.000000"
// for a leaf, one node per line), on standard output or on `out`. A null
// `node` prints the whole tree followed by ";" and a newline.
void printTree(Tree *tree, Node *node = nullptr, int depth = 0);
void printTree(FILE *out, Tree *tree, Node *node = nullptr, int depth = 0);
// A two-child parent table, one line "%2d: %2d %2d" per node.
void printFtree(int nnodes, int **ftree);
void printFtree(FILE *out, int nnodes, int **ftree);

} // namespace vessik

#endif
