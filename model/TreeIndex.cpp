// Indexing of the tree against the feature columns, node heights and the
// penalty weights of every node group and every leaf.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "model/Logistic.h"

void Logistic::LoadTheTree(float w)
{
    const int M = nFeatures > 0 ? nFeatures : 0;
    nNodes = 0;
    leafDepth = new int[M]();
    leafBranch = new float[M]();

    // Without a tree there is no node and no leaf to fit.
    if (root != nullptr) {
        TreePass(root, 0, 0.0f);
        nNodes += 1;
    }
    const int V = nNodes;
    std::sort(leafFeatures.begin(), leafFeatures.end());

    nodeHeight = new float[V];
    if (V > 0)
        TreePassHeight(0); // the root's accumulated distance is 0

    pathWeight = new float[V];
    std::fill(pathWeight, pathWeight + V, 1.0f);
    groupWeight = new float[V]();
    // One cell at least: the objective reads the weight of feature 0.
    leafWeight = new float[std::max(M, 1)]();
    nodePass = new float[V]();
    nodeKeep = new float[V]();

    if (w >= 0) {
        for (int v = 0; v < V; v++) {
            nodePass[v] = w;
            nodeKeep[v] = 1 - w;
        }
    } else if (w == -1 || w == -2) {
        float hMax = 0.0f;
        for (int v = 0; v < V; v++)
            if (nodeHeight[v] > hMax)
                hMax = nodeHeight[v];
        for (int v = 0; v < V; v++) {
            const float share = nodeHeight[v] / hMax;
            nodePass[v] = w == -1 ? share : 1 - share;
            nodeKeep[v] = w == -1 ? 1 - share : share;
        }
    }
    // Any other negative w leaves every share, and so every weight, at 0.

    if (V > 0)
        Weights(0, 0);
}

// The walks below visit the tree in the same order as a recursion would, with
// the path from their start node kept on an explicit stack: a tree of any
// height is indexed within a small thread stack.

void Logistic::TreePass(vessik::Node *node, int depth, float dist)
{
    // An internal node being indexed, with what its children gave so far.
    struct Visit {
        vessik::Node *node;
        int v;
        int depth;
        float dist;
        int next;
        std::vector<int> children;
        std::vector<int> leaves;
    };
    std::vector<Visit> path;
    const auto enter = [&](vessik::Node *entered, int level, float distance) {
        path.push_back({entered, nNodes, level, distance, 0, {}, {}});
        nodeChildren.emplace_back();
        nodeLeaves.emplace_back();
        nodeDepth.push_back(0);
        nodeRootDist.push_back(0.0f);
    };
    enter(node, depth, dist);
    while (!path.empty()) {
        Visit &top = path.back();
        if (top.next < top.node->nchildren) {
            vessik::Node *child = top.node->children[top.next++];
            if (child->nchildren > 0) {
                nNodes += 1;
                top.children.push_back(nNodes);
                enter(child, top.depth + 1, top.dist + top.node->dist);
                continue;
            }
            const int f = std::atoi(child->longname.c_str());
            // A leaf naming no column of the table has no coefficient to penalise.
            if (f < 0 || f >= nFeatures)
                continue;
            top.leaves.push_back(f);
            leafDepth[f] = top.depth + 1;
            leafBranch[f] = top.node->dist;
            continue;
        }
        const int v = top.v;
        nodeChildren[v] = std::move(top.children);
        nodeLeaves[v] = top.leaves;
        nodeDepth[v] = top.depth;
        nodeRootDist[v] = top.dist;
        leafFeatures.insert(leafFeatures.end(), top.leaves.begin(), top.leaves.end());
        path.pop_back();
    }
}

float Logistic::TreePassHeight(int v)
{
    // The greatest of the values met so far at a node; the first value is
    // taken whatever it is, later ones only when greater.
    struct Visit {
        int v;
        size_t next;
        bool any;
        float height;
        void consider(float value)
        {
            if (!any || value > height)
                height = value;
            any = true;
        }
    };
    std::vector<Visit> path{{v, 0, false, 0.0f}};
    while (true) {
        Visit &top = path.back();
        const std::vector<int> &children = nodeChildren[top.v];
        if (top.next < children.size()) {
            const int child = children[top.next++];
            path.push_back({child, 0, false, 0.0f});
            continue;
        }
        for (int f : nodeLeaves[top.v])
            top.consider(leafBranch[f]);
        nodeHeight[top.v] = top.height;
        const float reached = top.height + nodeRootDist[top.v];
        path.pop_back();
        if (path.empty())
            return reached;
        path.back().consider(reached);
    }
}

void Logistic::Weights(int v, int /* depth: passed on, not used */)
{
    std::vector<std::pair<int, size_t>> path; // node, next child
    const auto enter = [&](int entered) {
        groupWeight[entered] = pathWeight[entered] * nodeKeep[entered];
        path.emplace_back(entered, 0);
    };
    enter(v);
    while (!path.empty()) {
        const int top = path.back().first;
        size_t &next = path.back().second;
        if (next < nodeChildren[top].size()) {
            const int c = nodeChildren[top][next++];
            pathWeight[c] = pathWeight[top] * nodePass[top];
            enter(c);
            continue;
        }
        for (int f : nodeLeaves[top])
            leafWeight[f] = pathWeight[top] * nodePass[top];
        path.pop_back();
    }
}

int countInternalNodes(const vessik::Tree &tree)
{
    int count = 0;
    for (int i = 0; i < tree.nnodes; i++)
        count += tree.nodes[i] != nullptr && !tree.nodes[i]->isLeaf();
    return count;
}

// A node's height comes from the branch lengths above internal nodes (a
// leaf's own length is not used), so a root holding only leaves has height 0.
bool penaltyWeightsAreNumbers(vessik::Tree *tree, int nFeatures, float w)
{
    Data none;
    none.M = nFeatures;
    Logistic probe(none, tree);
    probe.LoadTheTree(w);
    bool finite = true;
    for (int v = 0; v < probe.nNodes; v++)
        finite = finite && std::isfinite(probe.groupWeight[v]);
    for (int j : probe.leafFeatures)
        finite = finite && std::isfinite(probe.leafWeight[j]);
    // The tree stays with the caller.
    probe.tree = nullptr;
    probe.root = nullptr;
    probe.del();
    return finite;
}
