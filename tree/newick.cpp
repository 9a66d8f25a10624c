// Newick reading (files, streams, text in memory) by recursive descent with an
// explicit stack, Newick writing in one-line and indented form, and the
// numbered tree printout.
#include "tree/newick.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "tree/logging.h"
#include "tree/parsing.h"

namespace vessik {

namespace {

// Deepest nesting of parentheses accepted. The reader and the walks over a tree
// keep their paths on the heap, so this no longer guards the call stack; it
// bounds the height of a tree (real phylogenies stay far below it) and keeps
// the limit that users and their scripts already meet in messages.
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

// Reads what follows the ')' that closes an internal node: its label and its
// branch length. False when the node cannot be completed.
bool finishInternalNode(FILE *infile, Node *node, bool isRoot, int &depth)
{
    std::string label;
    const char stop = readUntil(infile, label, "):,;", depth);
    if (!label.empty() && !isSupportValue(label))
        node->longname = trim(label.c_str());
    if (stop != ':')
        return true;

    if (!readBranchLength(infile, node))
        return false;
    // The root's branch length ends the tree: ";" or the end of the file close it.
    std::string ignored;
    return readUntil(infile, ignored, isRoot ? "):,;" : "):,", depth) != 0 || isRoot;
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
    std::stable_partition(begin, begin + tree->nodes.size(),
                          [](const Node *node) { return node->isLeaf(); });
    for (int i = 0; i < tree->nnodes; i++)
        tree->nodes[i]->name = i;
}

// Two spaces per level, written in blocks: deep trees have long indents.
void writeIndent(FILE *out, int depth)
{
    static const char spaces[] = "                                                                ";
    const size_t block = sizeof spaces - 1;
    for (size_t left = 2 * static_cast<size_t>(depth > 0 ? depth : 0); left > 0;) {
        const size_t now = left < block ? left : block;
        fwrite(spaces, 1, now, out);
        left -= now;
    }
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

// Recursive descent, with the open internal nodes on an explicit stack: an
// internal node reads children while the depth stays at the level its '('
// reached; the ')' that lowers the depth ends its list of children.
Node *readNewickNode(FILE *infile, Tree *tree, Node *parent, int &depth)
{
    struct Open {
        Node *node;
        int ownDepth;
    };
    std::vector<Open> open;
    while (true) {
        Node *const into = open.empty() ? parent : open.back().node;
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
            open.push_back({createNode(tree, into), depth});
            continue; // on to its first child
        }
        Node *done = readLeaf(infile, tree, into, first, depth);
        if (done == nullptr)
            return nullptr;
        // Close every internal node whose list of children has ended.
        while (!open.empty() && depth != open.back().ownDepth) {
            done = open.back().node;
            open.pop_back();
            const bool isRoot = open.empty() && parent == nullptr;
            if (!finishInternalNode(infile, done, isRoot, depth))
                return nullptr;
        }
        if (open.empty())
            return done;
    }
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

Tree *readNewickText(const std::string &text, Tree *tree)
{
    // A memory stream cannot be empty: an empty text is read from an empty file.
    FILE *infile = text.empty() ? fopen("/dev/null", "r")
                                : fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    if (infile == nullptr) {
        printError("cannot read the tree text");
        return nullptr;
    }
    Tree *result = readNewickTree(infile, tree);
    fclose(infile);
    return result;
}

void writeNewickNode(FILE *out, Node *node, int depth, bool oneline)
{
    // The internal nodes being written, with the number of children written so far.
    struct Open {
        Node *node;
        int depth;
        int next;
    };
    std::vector<Open> open;
    const auto begin = [&](Node *begun, int level) {
        if (begun->isLeaf()) {
            if (!oneline && level > 0)
                writeIndent(out, level);
            fprintf(out, "%s:%f", begun->longname.c_str(), begun->dist);
            return;
        }
        if (oneline) {
            fprintf(out, "(");
        } else {
            writeIndent(out, level);
            fprintf(out, "(\n");
        }
        open.push_back({begun, level, 0});
    };
    begin(node, depth);
    while (!open.empty()) {
        Open &top = open.back();
        if (top.next < top.node->nchildren) {
            if (top.next > 0)
                fprintf(out, oneline ? "," : ",\n");
            const int level = top.depth + 1;
            begin(top.node->children[top.next++], level);
            continue;
        }
        if (!oneline) {
            fprintf(out, "\n");
            writeIndent(out, top.depth);
        }
        fprintf(out, ")");
        if (top.depth == 0)
            fprintf(out, "%s", top.node->longname.c_str());
        else
            fprintf(out, "%s:%f", top.node->longname.c_str(), top.node->dist);
        open.pop_back();
    }
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

std::string newickText(Tree *tree, bool oneline)
{
    char *buffer = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&buffer, &length);
    if (out == nullptr)
        throw std::bad_alloc();
    writeNewickTree(out, tree, 0, oneline);
    fclose(out);
    std::string text(buffer, length);
    free(buffer);
    return text;
}

void printTree(Tree *tree, Node *node, int depth)
{
    printTree(stdout, tree, node, depth);
}

void printTree(FILE *out, Tree *tree, Node *node, int depth)
{
    if (node == nullptr) {
        if (tree->root == nullptr)
            return;
        printTree(out, tree, tree->root, 0);
        fprintf(out, ";\n");
        return;
    }

    struct Open {
        Node *node;
        int depth;
        int next;
    };
    std::vector<Open> open;
    const auto begin = [&](Node *begun, int level) {
        writeIndent(out, level);
        if (begun->isLeaf()) {
            fprintf(out, "%d=%s:%f", begun->name, begun->longname.c_str(), begun->dist);
            return;
        }
        fprintf(out, "%d=(\n", begun->name);
        open.push_back({begun, level, 0});
    };
    begin(node, depth);
    while (!open.empty()) {
        Open &top = open.back();
        if (top.next < top.node->nchildren) {
            if (top.next > 0)
                fprintf(out, ",\n");
            const int level = top.depth + 1;
            begin(top.node->children[top.next++], level);
            continue;
        }
        fprintf(out, "\n");
        if (top.depth > 0) {
            writeIndent(out, top.depth);
            fprintf(out, "):%f", top.node->dist);
        } else {
            fprintf(out, ")");
        }
        open.pop_back();
    }
}

void printFtree(int nnodes, int **ftree)
{
    printFtree(stdout, nnodes, ftree);
}

void printFtree(FILE *out, int nnodes, int **ftree)
{
    for (int i = 0; i < nnodes; i++)
        fprintf(out, "%2d: %2d %2d\n", i, ftree[i][0], ftree[i][1]);
}

} // namespace vessik
