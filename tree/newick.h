// Newick reading and writing, and tree printing for inspection.
#ifndef VESSIK_NEWICK_H
#define VESSIK_NEWICK_H

#include <cstdio>
#include <string>

#include "Tree.h"

namespace vessik {

// Readers return the tree, or null after reporting the problem through printError.
// A null `tree` means that a new one is made (and deleted again on failure).
Tree *readNewickTree(const char *filename, Tree *tree = nullptr);
Tree *readNewickTree(FILE *infile, Tree *tree = nullptr);
Node *readNewickNode(FILE *infile, Tree *tree, Node *parent, int &depth);

char readUntil(FILE *stream, std::string &token, const char *stops, int &depth);
char readChar(FILE *stream, int &depth);
bool readDist(FILE *infile, float *dist);
std::string trim(const char *word);
int nodeNameCmp(const void *a, const void *b);

void writeNewickNode(FILE *out, Node *node, int depth, bool oneline);
void writeNewickTree(FILE *out, Tree *tree, int depth, bool oneline);
bool writeNewickTree(const char *filename, Tree *tree, bool oneline);
void printTree(Tree *tree, Node *node = nullptr, int depth = 0);
void printFtree(int nnodes, int **ftree);

} // namespace vessik

#endif
