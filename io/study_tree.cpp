// Study trees: a Newick reader that accepts what phylogenetic tools write
// (quotes, e-notation, support values, comments), pruning to a set of leaves
// with single-child nodes merged into their child, and the writer of the
// plain Newick that Orvane's own reader takes.
#include "io/study_tree.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/text.h"

namespace {

// Orvane's tree reader rejects deeper nesting, so a deeper study tree could
// not be used; the walks below keep their own stacks and need no bound.
const int maxDepth = 10000;

const std::string structural = "()[]':;,";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class NewickParser {
public:
    NewickParser(const std::string &path, const std::string &text, vessik::Tree &tree,
                 std::unordered_map<const vessik::Node *, double> &lengths)
        : path(path), text(text), tree(tree), lengths(lengths)
    {
    }

    std::string parse();

private:
    // The message about the text at `where` (at its end: its last line).
    std::string fail(const std::string &message, size_t where) const
    {
        size_t end = std::min(where, text.size());
        if (end == text.size() && end > 0 && text[end - 1] == '\n')
            end--;
        int line = 1;
        for (size_t i = 0; i < end; i++)
            line += text[i] == '\n' ? 1 : 0;
        return fileLine(path, line) + message;
    }
    std::string fail(const std::string &message) const { return fail(message, pos); }

    void skipBlanksAndComments();
    bool readLabel(std::string &label, std::string &problem);
    bool readLength(vessik::Node *node, std::string &problem);
    vessik::Node *newNode(vessik::Node *parent);

    const std::string &path;
    const std::string &text;
    vessik::Tree &tree;
    std::unordered_map<const vessik::Node *, double> &lengths;
    size_t pos = 0;
};

void NewickParser::skipBlanksAndComments()
{
    while (pos < text.size()) {
        if (isBlank(text[pos])) {
            pos++;
        } else if (text[pos] == '[') {
            const size_t end = text.find(']', pos);
            pos = end == std::string::npos ? text.size() : end + 1;
        } else {
            return;
        }
    }
}

// A quoted or plain label, or nothing; false with `problem` set on a quote left open.
bool NewickParser::readLabel(std::string &label, std::string &problem)
{
    label.clear();
    skipBlanksAndComments();
    if (pos < text.size() && text[pos] == '\'') {
        const size_t opening = pos;
        for (pos++; pos < text.size(); pos++) {
            if (text[pos] == '\'') {
                if (pos + 1 < text.size() && text[pos + 1] == '\'') {
                    label += '\'';
                    pos++;
                    continue;
                }
                pos++;
                return true;
            }
            label += text[pos];
        }
        problem = fail("a quoted label is not closed", opening);
        return false;
    }
    while (pos < text.size() && !isBlank(text[pos]) && structural.find(text[pos]) == std::string::npos)
        label += text[pos++];
    return true;
}

// An optional ":" and branch length for `node`.
bool NewickParser::readLength(vessik::Node *node, std::string &problem)
{
    skipBlanksAndComments();
    if (pos >= text.size() || text[pos] != ':')
        return true;
    pos++;
    skipBlanksAndComments();
    std::string number;
    while (pos < text.size() && !isBlank(text[pos]) && structural.find(text[pos]) == std::string::npos)
        number += text[pos++];
    char *end = nullptr;
    const double length = std::strtod(number.c_str(), &end);
    const std::string of = node->longname.empty() ? std::string("an unnamed internal node")
                                                  : quote(node->longname);
    if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(length) ||
        !std::isfinite(static_cast<float>(length))) {
        problem = fail("branch length " + quote(number) + " of " + of + " is not a finite number");
        return false;
    }
    // A negative length is no distance, and the node heights that weight the
    // penalty would come out wrong without any sign of it.
    if (length < 0.0) {
        problem = fail("branch length " + quote(number) + " of " + of + " is negative");
        return false;
    }
    node->dist = static_cast<float>(length);
    lengths[node] = length;
    return true;
}

vessik::Node *NewickParser::newNode(vessik::Node *parent)
{
    vessik::Node *node = new vessik::Node();
    tree.nodes.append(node);
    tree.nnodes = tree.nodes.size();
    if (parent != nullptr)
        parent->addChild(node);
    return node;
}

std::string NewickParser::parse()
{
    std::vector<vessik::Node *> open;  // internal nodes whose ")" is still to come
    std::unordered_set<std::string> tips;
    std::string problem;
    std::string label;
    while (true) {
        // A node begins: a "(" opens an internal node, anything else is a tip.
        skipBlanksAndComments();
        if (pos < text.size() && text[pos] == '(') {
            if (static_cast<int>(open.size()) >= maxDepth)
                return fail("the tree is nested more than " + std::to_string(maxDepth) +
                            " levels deep");
            open.push_back(newNode(open.empty() ? nullptr : open.back()));
            pos++;
            continue;
        }
        if (!readLabel(label, problem))
            return problem;
        if (label.empty())
            return fail(pos < text.size() ? "expected a tip label, found " + quote(text.substr(pos, 1))
                                          : std::string("the tree ends where a tip should be"));
        if (!tips.insert(label).second)
            return fail("duplicate tip label " + quote(label));
        vessik::Node *node = newNode(open.empty() ? nullptr : open.back());
        node->longname = label;
        if (!readLength(node, problem))
            return problem;
        // After a node: "," starts a sibling, ")" closes the parent, ";" ends the tree.
        while (true) {
            skipBlanksAndComments();
            const char c = pos < text.size() ? text[pos] : ';';
            if (c == ',' && !open.empty()) {
                pos++;
                break;
            }
            if (c == ')' && !open.empty()) {
                pos++;
                node = open.back();
                open.pop_back();
                if (!readLabel(label, problem))
                    return problem;
                node->longname = label;
                if (!readLength(node, problem))
                    return problem;
                continue;
            }
            if (c == ';' && open.empty()) {
                pos++;
                skipBlanksAndComments();
                if (pos < text.size())
                    return fail("text after the tree's final ';'");
                return "";
            }
            if (c == ';')
                return fail(pos < text.size() ? "';' before every '(' is closed"
                                              : std::string("the tree ends before every '(' is closed"));
            return fail("unexpected " + quote(std::string(1, c)));
        }
    }
}

// Numbers the nodes as the library expects: leaves first in reading order,
// then internal nodes, the root (created first) last.
void numberNodes(vessik::Tree &tree)
{
    std::vector<vessik::Node *> leaves;
    std::vector<vessik::Node *> internals;
    for (int i = 0; i < tree.nnodes; i++)
        if (tree.nodes[i] != tree.root)
            (tree.nodes[i]->isLeaf() ? leaves : internals).push_back(tree.nodes[i]);
    (tree.root->isLeaf() ? leaves : internals).push_back(tree.root);
    int i = 0;
    for (const std::vector<vessik::Node *> *group : {&leaves, &internals})
        for (vessik::Node *node : *group) {
            tree.nodes[i] = node;
            node->name = i++;
        }
}

// A new node of `out` copying `node`'s label, with `length` recorded.
vessik::Node *copyNode(const vessik::Node *node, double length, vessik::Tree &out,
                       std::unordered_map<const vessik::Node *, double> &lengths)
{
    vessik::Node *copy = new vessik::Node();
    out.nodes.append(copy);
    out.nnodes = out.nodes.size();
    copy->longname = node->longname;
    lengths[copy] = length;
    return copy;
}

// Copies the kept part of the tree under `root` into `out`, recording each
// new node's length (summed over merged nodes) in `lengths`; returns the new
// root, or none when no leaf is kept. A post-order walk with an explicit
// stack, so that deep trees need no deep call stack: the copies of a node's
// kept children wait on `kept` until the node is finished.
vessik::Node *copyPruned(const vessik::Node *root, const StudyTree &tree, vessik::Tree &out,
                         std::unordered_map<const vessik::Node *, double> &lengths,
                         const std::function<bool(const vessik::Node *)> &keep)
{
    struct Open {
        const vessik::Node *node;
        int next;           // the child to copy next
        size_t firstKept;   // where this node's kept children begin on `kept`
    };
    std::vector<Open> open;
    std::vector<vessik::Node *> kept;
    // Copies a leaf at once, or opens an internal node.
    const auto begin = [&](const vessik::Node *node) {
        if (!node->isLeaf())
            open.push_back({node, 0, kept.size()});
        else if (keep(node))
            kept.push_back(copyNode(node, tree.lengths[node->name], out, lengths));
    };
    begin(root);
    while (!open.empty()) {
        Open &top = open.back();
        if (top.next < top.node->nchildren) {
            begin(top.node->children[top.next++]);
            continue;
        }
        const vessik::Node *node = top.node;
        const size_t first = top.firstKept;
        open.pop_back();
        const double length = tree.lengths[node->name];
        if (kept.size() - first == 1) {
            lengths[kept.back()] += length;
        } else if (kept.size() - first > 1) {
            vessik::Node *copy = copyNode(node, length, out, lengths);
            for (size_t c = first; c < kept.size(); c++)
                copy->addChild(kept[c]);
            kept.resize(first);
            kept.push_back(copy);
        }
    }
    return kept.empty() ? nullptr : kept.back();
}

// Numbers the nodes and gives each its length, in the tree and in `lengths`.
StudyTree finish(std::unique_ptr<vessik::Tree> tree,
                 const std::unordered_map<const vessik::Node *, double> &lengths)
{
    numberNodes(*tree);
    StudyTree study;
    study.lengths.assign(tree->nnodes, 0.0);
    for (int i = 0; i < tree->nnodes; i++) {
        const auto length = lengths.find(tree->nodes[i]);
        study.lengths[i] = length == lengths.end() ? 0.0 : length->second;
        tree->nodes[i]->dist = static_cast<float>(study.lengths[i]);
    }
    study.tree = std::move(tree);
    return study;
}

std::string plainLabel(const std::string &label)
{
    std::string plain = label;
    for (char &c : plain)
        if (isBlank(c) || structural.find(c) != std::string::npos)
            c = '_';
    return plain;
}

// Writes the tree under `root` in pre-order with an explicit stack, so that
// deep trees need no deep call stack.
void writeNodes(std::ostream &out, const vessik::Node *root,
                const std::function<std::string(const vessik::Node *)> &leafLabel)
{
    struct Open {
        const vessik::Node *node;
        int next;  // the child to write next
    };
    std::vector<Open> open;
    const auto writeLength = [&](const vessik::Node *node) {
        if (node != root)
            out << ':' << floatText(node->dist);
    };
    const auto begin = [&](const vessik::Node *node) {
        if (node->isLeaf()) {
            out << leafLabel(node);
            writeLength(node);
            return;
        }
        out << '(';
        open.push_back({node, 0});
    };
    begin(root);
    while (!open.empty()) {
        Open &top = open.back();
        if (top.next < top.node->nchildren) {
            if (top.next > 0)
                out << ',';
            begin(top.node->children[top.next++]);
            continue;
        }
        const vessik::Node *node = top.node;
        open.pop_back();
        out << ')' << plainLabel(node->longname);
        writeLength(node);
    }
}

} // namespace

std::string readStudyTree(const std::string &path, StudyTree &tree)
{
    tree = StudyTree();
    std::vector<std::string> lines;
    const std::string problem = readTextLines(path, lines);
    if (!problem.empty())
        return problem;
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return readStudyTreeText(text, path, tree);
}

std::string readStudyTreeText(const std::string &text, const std::string &name, StudyTree &tree)
{
    tree = StudyTree();
    std::unique_ptr<vessik::Tree> read(new vessik::Tree());
    std::unordered_map<const vessik::Node *, double> lengths;
    const std::string parseProblem = NewickParser(name, text, *read, lengths).parse();
    if (!parseProblem.empty())
        return parseProblem;
    read->root = read->nodes[0];
    tree = finish(std::move(read), lengths);
    return "";
}

StudyTree pruneTree(const StudyTree &tree, const std::function<bool(const vessik::Node *)> &keep)
{
    std::unique_ptr<vessik::Tree> pruned(new vessik::Tree());
    std::unordered_map<const vessik::Node *, double> lengths;
    pruned->root = copyPruned(tree.tree->root, tree, *pruned, lengths, keep);
    if (pruned->root == nullptr)
        return StudyTree();
    return finish(std::move(pruned), lengths);
}

void writeOrvaneTree(std::ostream &out, const vessik::Tree &tree,
                     const std::function<std::string(const vessik::Node *)> &leafLabel)
{
    writeNodes(out, tree.root, leafLabel);
    out << ";\n";
}

std::vector<std::string> internalLabels(const vessik::Tree &tree)
{
    std::vector<std::string> labels;
    std::vector<const vessik::Node *> stack{tree.root};
    while (!stack.empty()) {
        const vessik::Node *node = stack.back();
        stack.pop_back();
        if (node->isLeaf())
            continue;
        std::string label = node->longname;
        std::replace_if(label.begin(), label.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
        labels.push_back(label);
        for (int c = node->nchildren - 1; c >= 0; c--)
            stack.push_back(node->children[c]);
    }
    return labels;
}
