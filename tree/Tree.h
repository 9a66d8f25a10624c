// Rooted phylogenetic trees: nodes, the growable node array, traversals,
// and whole-tree editing and comparison.
#ifndef VESSIK_TREE_H
#define VESSIK_TREE_H

#include <climits>
#include <string>

namespace vessik {

// Length for a buffer of `capacity` elements that must hold `needed`: at least
// `minsize`, and half as long again as before (to the largest int), so that
// growing element by element costs amortised constant time per element.
inline int grownCapacity(int capacity, int needed, int minsize)
{
    const long long grown = static_cast<long long>(capacity) + capacity / 2;
    long long result = grown > needed ? grown : needed;
    if (result < minsize)
        result = minsize;
    return result > INT_MAX ? INT_MAX : static_cast<int>(result);
}

// Growable array. Its buffer is never smaller than `minsize` and, once full,
// grows by half its length, so n appends copy O(n) elements in all.
template <class ValueType>
class ExtendArray {
public:
    explicit ExtendArray(int size = 0, int capacity = 0, int minsize = 40)
        : data(nullptr), size_(size), capacity(capacity), minsize(minsize)
    {
        if (this->capacity < size_)
            this->capacity = size_;
        if (this->minsize < this->capacity)
            this->minsize = this->capacity;
        if (this->capacity != 0)
            data = new ValueType[this->capacity]();
    }

    ~ExtendArray() { delete[] data; }

    ExtendArray(const ExtendArray &) = delete;
    ExtendArray &operator=(const ExtendArray &) = delete;

    ValueType &operator[](int i) { return data[i]; }
    const ValueType &operator[](int i) const { return data[i]; }

    int size() const { return size_; }

    void append(const ValueType &value)
    {
        const ValueType x = value; // `value` may live in the buffer freed below
        if (size_ + 1 > capacity) {
            const int newCapacity = grownCapacity(capacity, size_ + 1, minsize);
            ValueType *grown = new ValueType[newCapacity];
            for (int i = 0; i < size_; i++)
                grown[i] = data[i];
            delete[] data;
            data = grown;
            capacity = newCapacity;
        }
        data[size_++] = x;
    }

    ValueType *data;

private:
    int size_;

public:
    int capacity;
    int minsize;
};

class Node {
public:
    Node()
        : name(-1), parent(nullptr), children(nullptr), nchildren(0), dist(0.0f), longname(),
          childCapacity(0)
    {
    }
    ~Node() { delete[] children; }

    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    bool isLeaf() const { return nchildren == 0; }

    // Links `child` as the last child. The child array grows like an
    // ExtendArray, so a node of n children is built in O(n) time.
    void addChild(Node *child);

    int name;
    Node *parent;
    Node **children;
    int nchildren;
    float dist;
    std::string longname;
    // Allocated length of `children` (at least `nchildren`). Code that puts
    // another array in `children` sets it to that array's length.
    int childCapacity;
};

// A rooted tree that owns its nodes. In a sound tree node i sits in nodes[i],
// leaves come before internal nodes, and the root is the last node.
// The editing operations throw std::logic_error, naming the condition, on a
// broken precondition.
class Tree {
public:
    // `nnodes` fresh, unlinked nodes.
    explicit Tree(int nnodes = 0);
    // Deletes every node in `nodes`, skipping empty slots.
    virtual ~Tree();

    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;

    // True when sound; otherwise sends the first broken invariant as a text message.
    bool assertTree();

    Tree *copy();
    // Takes the parents and children of `other`, node by node.
    void setTopology(Tree *other);
    // Puts the root in the middle of the branch above `newroot`; the two root
    // branches merge into one. Only rerooting on a branch is supported.
    void reroot(Node *newroot, bool onBranch = true);
    void reroot(Node *node1, Node *node2);
    // Leaf i becomes the leaf named order[i]; `order` lists every leaf name once.
    void reorderLeaves(std::string *order);
    // Canonical post-order: leaf numbers, -1 for internal nodes (nnodes entries).
    void hashkey(int *key);
    bool sameTopology(Tree *other);

    int nnodes;
    Node *root;
    ExtendArray<Node *> nodes;
};

// Append the nodes of the subtree under `node` (the whole tree when null).
void getTreePostOrder(Tree *tree, ExtendArray<Node *> *nodes, Node *node = nullptr);
void getTreePreOrder(Tree *tree, ExtendArray<Node *> *nodes, Node *node = nullptr);
// Post-order visiting each node's children by increasing ordering[child->name].
void getTreeSortedPostOrder(Tree *tree, ExtendArray<Node *> *nodes, int *ordering,
                            Node *node = nullptr);

// Orders indexes by their ranks; used to sort the children of one node.
template <class T>
class RankSortCmp {
public:
    explicit RankSortCmp(const T *ranks) : ranks(ranks) {}
    bool operator()(int a, int b) const { return ranks[a] < ranks[b]; }

    const T *ranks;
};

extern "C" {
Tree *makeTree(int nnodes, int *ptree);
void ptree2tree(int nnodes, int *ptree, Tree *tree);
void tree2ptree(Tree *tree, int *ptree);
void deleteTree(Tree *tree);
void setTreeDists(Tree *tree, float *dists);
void makeFtree(int nnodes, int *ptree, int ***ftree);
void freeFtree(int nnodes, int **ftree);
}

} // namespace vessik

#endif
