#include "tree/Tree.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tree/messages.h"

namespace vessik {

namespace {

// Broken preconditions are programming errors, checked in every build type.
// They throw rather than stop the process, so that a program embedding the
// library (a Python or R session) survives them.
[[noreturn]] void assertionFailed(const char *condition, const char *operation, int line)
{
    throw std::logic_error("Tree:" + std::to_string(line) + ": " + operation + ": Assertion `" +
                           condition + "' failed.");
}

// assertTree's findings, written as they are by the programs.
bool unsound(const char *finding)
{
    sendMessage(MessageKind::Text, finding);
    return false;
}

} // namespace

#define VESSIK_ASSERT(condition)                                                       \
    ((condition) ? (void)0 : assertionFailed(#condition, __func__, __LINE__))

void Node::addChild(Node *child)
{
    if (nchildren + 1 > childCapacity) {
        const int capacity = grownCapacity(childCapacity, nchildren + 1, 1);
        Node **grown = new Node *[capacity];
        for (int i = 0; i < nchildren; i++)
            grown[i] = children[i];
        delete[] children;
        children = grown;
        childCapacity = capacity;
    }
    children[nchildren++] = child;
    child->parent = this;
}

Tree::Tree(int nnodes)
    : nnodes(nnodes), root(nullptr), nodes(nnodes, std::max(100, nnodes), std::max(100, nnodes))
{
    for (int i = 0; i < nnodes; i++)
        nodes[i] = new Node();
}

Tree::~Tree()
{
    // Every node in `nodes` belongs to the tree, whatever `nnodes` says.
    for (int i = 0; i < nodes.size(); i++)
        delete nodes[i];
}

bool Tree::assertTree()
{
    if (root == nullptr)
        return unsound("root == NULL\n");
    if (nnodes != nodes.size())
        return unsound("nnodes != nodes.size()\n");
    if (root->parent != nullptr)
        return unsound("root->parent != NULL\n");
    bool leaves = true;
    for (int i = 0; i < nnodes; i++) {
        const Node *node = nodes[i];
        if (node == nullptr)
            return unsound("nodes[i] == NULL\n");
        if (node->name != i)
            return unsound("nodes[i]->name != i\n");
        if (node->isLeaf()) {
            if (!leaves)
                return unsound("!leaves\n");
            continue;
        }
        leaves = false;
        for (int j = 0; j < node->nchildren; j++) {
            if (node->children[j] == nullptr)
                return unsound("nodes[i]->children[j] == NULL\n");
            if (node->children[j]->parent != node)
                return unsound("nodes[i]->children[j]->parent != nodes[i]\n");
        }
    }
    return true;
}

// The walks keep their path from the start node on an explicit stack, not on
// the call stack, so that a tree of any height fits in a small thread stack.

void getTreePostOrder(Tree *tree, ExtendArray<Node *> *nodes, Node *node)
{
    if (node == nullptr)
        node = tree->root;
    if (node == nullptr)
        return;
    std::vector<std::pair<Node *, int>> path{{node, 0}}; // node, next child
    while (!path.empty()) {
        auto &[current, next] = path.back();
        if (next < current->nchildren) {
            path.emplace_back(current->children[next++], 0);
            continue;
        }
        nodes->append(current);
        path.pop_back();
    }
}

void getTreePreOrder(Tree *tree, ExtendArray<Node *> *nodes, Node *node)
{
    if (node == nullptr)
        node = tree->root;
    if (node == nullptr)
        return;
    std::vector<Node *> pending{node}; // children pushed last first, so they pop in order
    while (!pending.empty()) {
        Node *current = pending.back();
        pending.pop_back();
        nodes->append(current);
        for (int i = current->nchildren - 1; i >= 0; i--)
            pending.push_back(current->children[i]);
    }
}

void getTreeSortedPostOrder(Tree *tree, ExtendArray<Node *> *nodes, int *ordering, Node *node)
{
    if (node == nullptr)
        node = tree->root;
    if (node == nullptr)
        return;
    // Each node on the path keeps its children in visiting order in `order`,
    // from `first`; `next` counts the children visited so far.
    struct Visit {
        Node *node;
        size_t first;
        int next;
    };
    std::vector<int> order;
    std::vector<int> ranks;
    std::vector<Visit> path;
    const auto enter = [&](Node *entered) {
        const size_t first = order.size();
        ranks.clear();
        for (int i = 0; i < entered->nchildren; i++) {
            order.push_back(i);
            ranks.push_back(ordering[entered->children[i]->name]);
        }
        std::sort(order.begin() + first, order.end(), RankSortCmp<int>(ranks.data()));
        path.push_back({entered, first, 0});
    };
    enter(node);
    while (!path.empty()) {
        Visit &top = path.back();
        if (top.next < top.node->nchildren) {
            enter(top.node->children[order[top.first + top.next++]]);
            continue;
        }
        nodes->append(top.node);
        order.resize(top.first);
        path.pop_back();
    }
}

Tree *Tree::copy()
{
    Tree *tree = new Tree(nnodes);
    for (int i = 0; i < nnodes; i++) {
        const Node *oldNode = nodes[i];
        Node *node = tree->nodes[i];
        node->name = i;
        node->nchildren = oldNode->nchildren;
        node->children = oldNode->nchildren > 0 ? new Node *[oldNode->nchildren]() : nullptr;
        node->childCapacity = oldNode->nchildren;
        node->dist = oldNode->dist;
        node->longname = oldNode->longname;
    }
    for (int i = 0; i < nnodes; i++) {
        const Node *oldNode = nodes[i];
        Node *node = tree->nodes[i];
        for (int j = 0; j < oldNode->nchildren; j++) {
            const Node *oldChild = oldNode->children[j];
            node->children[j] = oldChild ? tree->nodes[oldChild->name] : nullptr;
        }
        node->parent = oldNode->parent ? tree->nodes[oldNode->parent->name] : nullptr;
    }
    tree->root = root ? tree->nodes[root->name] : nullptr;
    return tree;
}

void Tree::setTopology(Tree *other)
{
    VESSIK_ASSERT(nnodes == other->nnodes);
    for (int i = 0; i < nnodes; i++) {
        const Node *onode = other->nodes[i];
        Node *node = nodes[i];
        node->parent = onode->parent ? nodes[onode->parent->name] : nullptr;
        if (node->isLeaf()) {
            VESSIK_ASSERT(onode->isLeaf());
            continue;
        }
        delete[] node->children;
        node->nchildren = onode->nchildren;
        node->children = onode->nchildren > 0 ? new Node *[onode->nchildren]() : nullptr;
        node->childCapacity = onode->nchildren;
        for (int j = 0; j < onode->nchildren; j++) {
            const Node *ochild = onode->children[j];
            node->children[j] = ochild ? nodes[ochild->name] : nullptr;
        }
    }
}

void Tree::reroot(Node *newroot, bool onBranch)
{
    if (newroot == root)
        return;
    if (!onBranch)
        VESSIK_ASSERT(0);
    if (root->nchildren != 2)
        VESSIK_ASSERT(0);
    Node *rc1 = root->children[0];
    Node *rc2 = root->children[1];
    if (newroot == rc1 || newroot == rc2)
        return;

    Node *n = newroot;
    Node *p = n->parent;
    const float d1 = rc1->dist;
    const float d2 = rc2->dist;
    const float h = n->dist * 0.5f;

    root->children[0] = n;
    root->children[1] = p;
    n->parent = root;
    n->dist = h;

    // Walk from p up to the former child of the root, turning each branch
    // around: every node on the path becomes the child of the node below it.
    Node *below = n;
    Node *ptr1 = p;
    Node *newParent = root;
    float newDist = h;
    while (true) {
        int oldchild = -1;
        for (int j = 0; j < ptr1->nchildren; j++)
            if (ptr1->children[j] == below)
                oldchild = j;
        VESSIK_ASSERT(oldchild != -1);

        Node *up = ptr1->parent;
        const float oldDist = ptr1->dist;
        ptr1->parent = newParent;
        ptr1->dist = newDist;
        if (up == root || up == nullptr) {
            // The walk must end at one of the two former children of the root,
            // which then takes the other one in place of the node below it.
            Node *stop1 = ptr1 == rc1 ? rc1 : rc2;
            VESSIK_ASSERT(ptr1 == stop1);
            Node *other = ptr1 == rc1 ? rc2 : rc1;
            ptr1->children[oldchild] = other;
            other->parent = ptr1;
            other->dist = d1 + d2;
            break;
        }
        ptr1->children[oldchild] = up;
        newParent = ptr1;
        newDist = oldDist;
        below = ptr1;
        ptr1 = up;
    }
    root->name = nnodes - 1;
}

void Tree::reroot(Node *node1, Node *node2)
{
    if (node1->parent == node2)
        reroot(node1, true);
    else if (node2->parent == node1)
        reroot(node2, true);
    else if (node1->parent == root || node2->parent == root)
        return;
    else
        VESSIK_ASSERT(0);
}

void Tree::reorderLeaves(std::string *order)
{
    int nleaves = 0;
    for (int i = 0; i < nnodes; i++)
        if (nodes[i]->isLeaf())
            nleaves++;
    if (nleaves == 0)
        return;

    // The first position of each name, as a search of the list from its start finds it.
    std::unordered_map<std::string, int> positions;
    positions.reserve(nleaves);
    for (int j = 0; j < nleaves; j++)
        positions.emplace(order[j], j);

    std::vector<Node *> leaves(nleaves, nullptr);
    for (int i = 0; i < nleaves; i++) {
        Node *node = nodes[i];
        const auto position = positions.find(node->longname);
        const bool found = position != positions.end();
        VESSIK_ASSERT(found);
        const int j = position->second;
        // A repeated name would leave a slot empty and lose a node.
        VESSIK_ASSERT(leaves[j] == NULL);
        node->name = j;
        leaves[j] = node;
    }
    for (int i = 0; i < nleaves; i++)
        nodes[i] = leaves[i];
}

void Tree::hashkey(int *key)
{
    ExtendArray<Node *> postorder;
    getTreePostOrder(this, &postorder);
    std::vector<int> ranks(nnodes, 0);
    for (int i = 0; i < postorder.size(); i++) {
        const Node *node = postorder[i];
        if (node->isLeaf()) {
            ranks[node->name] = node->name;
            continue;
        }
        int least = ranks[node->children[0]->name];
        for (int j = 1; j < node->nchildren; j++)
            least = std::min(least, ranks[node->children[j]->name]);
        ranks[node->name] = least;
    }

    ExtendArray<Node *> sorted;
    getTreeSortedPostOrder(this, &sorted, ranks.data());
    const int count = std::min(sorted.size(), nnodes);
    for (int i = 0; i < count; i++)
        key[i] = sorted[i]->isLeaf() ? sorted[i]->name : -1;
}

bool Tree::sameTopology(Tree *other)
{
    if (nnodes != other->nnodes)
        return false;
    std::vector<int> key1(nnodes, 0);
    std::vector<int> key2(nnodes, 0);
    hashkey(key1.data());
    other->hashkey(key2.data());
    return key1 == key2;
}

extern "C" {

void ptree2tree(int nnodes, int *ptree, Tree *tree)
{
    for (int i = 0; i < nnodes; i++) {
        Node *node = tree->nodes[i];
        delete[] node->children;
        node->children = new Node *[2]();
        node->childCapacity = 2;
        node->name = i;
        node->nchildren = 0;
    }
    for (int i = 0; i < nnodes; i++) {
        Node *node = tree->nodes[i];
        if (ptree[i] == -1) {
            node->parent = nullptr;
            continue;
        }
        // Each node has room for two children: check before storing the link.
        VESSIK_ASSERT(0 <= ptree[i] && ptree[i] < nnodes);
        Node *parent = tree->nodes[ptree[i]];
        VESSIK_ASSERT(parent->nchildren < 2);
        parent->children[parent->nchildren++] = node;
        node->parent = parent;
    }
    tree->root = nnodes > 0 ? tree->nodes[nnodes - 1] : nullptr;
    VESSIK_ASSERT(tree->assertTree());
}

Tree *makeTree(int nnodes, int *ptree)
{
    std::unique_ptr<Tree> tree(new Tree(nnodes));  // freed when a check throws
    ptree2tree(nnodes, ptree, tree.get());
    return tree.release();
}

void tree2ptree(Tree *tree, int *ptree)
{
    for (int i = 0; i < tree->nnodes; i++) {
        const Node *parent = tree->nodes[i]->parent;
        ptree[i] = parent ? parent->name : -1;
    }
}

void deleteTree(Tree *tree)
{
    delete tree;
}

void setTreeDists(Tree *tree, float *dists)
{
    for (int i = 0; i < tree->nnodes; i++)
        tree->nodes[i]->dist = dists[i];
}

void makeFtree(int nnodes, int *ptree, int ***ftree)
{
    int **table = new int *[nnodes];
    for (int i = 0; i < nnodes; i++)
        table[i] = new int[2]{-1, -1};
    for (int i = 0; i < nnodes; i++) {
        const int parent = ptree[i];
        if (parent == -1)
            continue;
        VESSIK_ASSERT(0 <= parent && parent < nnodes);
        if (table[parent][0] == -1)
            table[parent][0] = i;
        else
            table[parent][1] = i;
    }
    *ftree = table;
}

void freeFtree(int nnodes, int **ftree)
{
    for (int i = 0; i < nnodes; i++)
        delete[] ftree[i];
    delete[] ftree;
}

} // extern "C"

} // namespace vessik
