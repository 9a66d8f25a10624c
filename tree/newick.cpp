#include "tree/newick.h"

#include <algorithm>

#include "tree/logging.h"
#include "tree/parsing.h"

namespace vessik {

namespace {

// Every level of parentheses is a level of recursion here and in the functions
// that walk the tree; deeper input would exhaust the stack.
const int kMaxNesting = 10000;

// Bytes dropped between and inside tokens.
bool isSkipped(int c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

void countDepth(int c, int &depth)
{
    if (c == '(')
        depth++;
    else if (c == ')')
        depth--;
}

// Appends a new node to the tree, numbered by its slot, as the last child of `parent`.
Node *createNode(Tree *tree, Node *parent)
{
    Node *node = new Node();
    tree->nodes.append(node);
    node->name = tree->nodes.size() - 1;
    tree->nnodes = tree->nodes.size();
    if (parent != nullptr)
        parent->addChild(node);
    return node;
}

// Reads the number after a ':' into the node's `dist`.
bool readBranchLength(FILE *infile, Node *node)
{
    if (readDist(infile, &node->dist))
        return true;
    printError("expected branch length for node");
    return false;
}

bool isSupportValue(const std::string &label)
{
    const char c = label[0];
    return (c >= '0' && c <= '9') || c == '-' || c == '.';
}

Node *readInternalNode(FILE *infile, Tree *tree, Node *parent, int &depth)
{
    const int ownDepth = depth;
    Node *node = createNode(tree, parent);
    do {
        if (readNewickNode(infile, tree, node, depth) == nullptr)
            return nullptr;
    } while (depth == ownDepth);

    std::string label;
    const char stop = readUntil(infile, label, "):,;", depth);
    if (!label.empty() && !isSupportValue(label))
        node->longname = trim(label.c_str());
    if (stop != ':')
        return node;

    if (!readBranchLength(infile, node))
        return nullptr;
    // The root's branch length ends the tree: ";" or the end of the file close it.
    const bool isRoot = parent == nullptr;
    std::string ignored;
    if (readUntil(infile, ignored, isRoot ? "):,;" : "):,", depth) == 0 && !isRoot)
        return nullptr;
    return node;
}

Node *readLeaf(FILE *infile, Tree *tree, Node *parent, char first, int &depth)
{
    Node *node = createNode(tree, parent);
    std::string token;
    const char stop = readUntil(infile, token, ":),", depth);
    if (stop == 0)
        return nullptr;
    node->longname = std::string(1, first) + trim(token.c_str());
    if (stop != ':')
        return node;
    if (!readBranchLength(infile, node))
        return nullptr;
    std::string ignored;
    if (readUntil(infile, ignored, ":),", depth) == 0)
        return nullptr;
    return node;
}

// Moves the root into the last slot, then puts the leaves before the internal
// nodes (keeping the reading order within each group) and renumbers all nodes.
void numberLeavesFirst(Tree *tree)
{
    const int r = tree->root->name;
    const int last = tree->nnodes - 1;
    Node *moved = tree->nodes[last];
    tree->nodes[r] = moved;
    moved->name = r;
    tree->nodes[last] = tree->root;
    tree->root->name = last;

    Node **begin = tree->nodes.data;
    std::stable_sort(begin, begin + tree->nodes.size(),
                     [](Node *a, Node *b) { return nodeNameCmp(&a, &b) < 0; });
    for (int i = 0; i < tree->nnodes; i++)
        tree->nodes[i]->name = i;
}

void writeIndent(FILE *out, int depth)
{
    for (int i = 0; i < depth; i++)
        fprintf(out, "  ");
}

} // namespace

char readChar(FILE *stream, int &depth)
{
    int c;
    do {
        c = getc(stream);
        if (c == EOF)
            return 0;
    } while (isSkipped(c));
    countDepth(c, depth);
    return static_cast<char>(c);
}

char readUntil(FILE *stream, std::string &token, const char *stops, int &depth)
{
    token.clear();
    while (true) {
        const int c = getc(stream);
        if (c == EOF)
            return 0;
        if (isSkipped(c))
            continue;
        countDepth(c, depth);
        if (c == '\0')
            return 0;
        if (inChars(static_cast<char>(c), stops))
            return static_cast<char>(c);
        token += static_cast<char>(c);
    }
}

bool readDist(FILE *infile, float *dist)
{
    return fscanf(infile, "%f", dist) == 1;
}

std::string trim(const char *word)
{
    char buffer[101] = "";
    if (word == nullptr || sscanf(word, "%100s", buffer) != 1)
        return std::string();
    return std::string(buffer);
}

int nodeNameCmp(const void *a, const void *b)
{
    const Node *nodeA = *static_cast<Node *const *>(a);
    const Node *nodeB = *static_cast<Node *const *>(b);
    if (!nodeA->isLeaf())
        return nodeB->isLeaf() ? 1 : 0;
    return nodeB->isLeaf() ? 0 : -1;
}

Node *readNewickNode(FILE *infile, Tree *tree, Node *parent, int &depth)
{
    const char first = readChar(infile, depth);
    if (first == 0) {
        printError("unexpected end of file");
        return nullptr;
    }
    if (first == '(') {
        if (depth > kMaxNesting) {
            printError("tree is nested more than %d levels deep", kMaxNesting);
            return nullptr;
        }
        return readInternalNode(infile, tree, parent, depth);
    }
    return readLeaf(infile, tree, parent, first, depth);
}

Tree *readNewickTree(FILE *infile, Tree *tree)
{
    Tree *created = tree == nullptr ? new Tree() : nullptr;
    if (created != nullptr)
        tree = created;

    int depth = 0;
    tree->root = readNewickNode(infile, tree, nullptr, depth);
    if (tree->root == nullptr) {
        delete created;
        return nullptr;
    }
    numberLeavesFirst(tree);
    return tree;
}

Tree *readNewickTree(const char *filename, Tree *tree)
{
    Tree *created = tree == nullptr ? new Tree() : nullptr;
    if (created != nullptr)
        tree = created;

    FILE *infile = fopen(filename, "r");
    if (infile == nullptr) {
        printError("cannot read file '%s'\n", filename);
        delete created;
        return nullptr;
    }
    Tree *result = readNewickTree(infile, tree);
    if (result == nullptr) {
        printError("format error in '%s'\n", filename);
        delete created;
    }
    fclose(infile);
    return result;
}

void writeNewickNode(FILE *out, Node *node, int depth, bool oneline)
{
    if (node->isLeaf()) {
        if (!oneline && depth > 0)
            writeIndent(out, depth);
        fprintf(out, "%s:%f", node->longname.c_str(), node->dist);
        return;
    }

    if (oneline) {
        fprintf(out, "(");
    } else {
        writeIndent(out, depth);
        fprintf(out, "(\n");
    }
    for (int i = 0; i < node->nchildren; i++) {
        writeNewickNode(out, node->children[i], depth + 1, oneline);
        if (i < node->nchildren - 1)
            fprintf(out, oneline ? "," : ",\n");
    }
    if (!oneline) {
        fprintf(out, "\n");
        writeIndent(out, depth);
    }
    fprintf(out, ")");

    if (depth == 0)
        fprintf(out, "%s", node->longname.c_str());
    else
        fprintf(out, "%s:%f", node->longname.c_str(), node->dist);
}

void writeNewickTree(FILE *out, Tree *tree, int, bool oneline)
{
    // A tree without a root (for instance after a failed read) has nothing to write.
    if (tree->root == nullptr)
        return;
    writeNewickNode(out, tree->root, 0, oneline);
    fprintf(out, oneline ? ";" : ";\n");
}

bool writeNewickTree(const char *filename, Tree *tree, bool oneline)
{
    FILE *out = fopen(filename, "w");
    if (out == nullptr) {
        printError("cannot write file '%s'\n", filename);
        return false;
    }
    writeNewickTree(out, tree, 0, oneline);
    // A full disk shows only when the buffered text is flushed.
    const bool written = !ferror(out);
    if (fclose(out) != 0 || !written) {
        printError("cannot write file '%s'\n", filename);
        return false;
    }
    return true;
}

void printTree(Tree *tree, Node *node, int depth)
{
    if (node == nullptr) {
        if (tree->root == nullptr)
            return;
        printTree(tree, tree->root, 0);
        printf(";\n");
        return;
    }

    writeIndent(stdout, depth);
    if (node->isLeaf()) {
        printf("%d=%s:%f", node->name, node->longname.c_str(), node->dist);
        return;
    }
    printf("%d=(\n", node->name);
    for (int i = 0; i < node->nchildren; i++) {
        printTree(tree, node->children[i], depth + 1);
        if (i < node->nchildren - 1)
            printf(",\n");
    }
    printf("\n");
    if (depth > 0) {
        writeIndent(stdout, depth);
        printf("):%f", node->dist);
    } else {
        printf(")");
    }
}

void printFtree(int nnodes, int **ftree)
{
    for (int i = 0; i < nnodes; i++)
        printf("%2d: %2d %2d\n", i, ftree[i][0], ftree[i][1]);
}

} // namespace vessik
