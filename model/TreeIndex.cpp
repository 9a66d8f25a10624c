// Indexing of the tree against the feature columns, node heights and the
// penalty weights of every node group and every leaf.
#include <algorithm>
#include <cstdlib>

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

void Logistic::TreePass(vessik::Node *node, int depth, float dist)
{
    const int v = nNodes;
    nodeChildren.emplace_back();
    nodeLeaves.emplace_back();
    nodeDepth.push_back(0);
    nodeRootDist.push_back(0.0f);

    std::vector<int> children;
    std::vector<int> leaves;
    for (int c = 0; c < node->nchildren; c++) {
        vessik::Node *child = node->children[c];
        if (child->nchildren > 0) {
            nNodes += 1;
            children.push_back(nNodes);
            TreePass(child, depth + 1, dist + node->dist);
        } else {
            const int f = std::atoi(child->longname.c_str());
            // A leaf naming no column of the table has no coefficient to penalise.
            if (f < 0 || f >= nFeatures)
                continue;
            leaves.push_back(f);
            leafDepth[f] = depth + 1;
            leafBranch[f] = node->dist;
        }
    }
    nodeChildren[v] = children;
    nodeLeaves[v] = leaves;
    nodeDepth[v] = depth;
    nodeRootDist[v] = dist;
    leafFeatures.insert(leafFeatures.end(), leaves.begin(), leaves.end());
}

float Logistic::TreePassHeight(int v)
{
    bool any = false;
    float height = 0.0f;
    const auto consider = [&](float value) {
        if (!any || value > height)
            height = value;
        any = true;
    };
    for (int c : nodeChildren[v])
        consider(TreePassHeight(c));
    for (int f : nodeLeaves[v])
        consider(leafBranch[f]);
    nodeHeight[v] = height;
    return height + nodeRootDist[v];
}

void Logistic::Weights(int v, int depth)
{
    groupWeight[v] = pathWeight[v] * nodeKeep[v];
    for (int c : nodeChildren[v]) {
        pathWeight[c] = pathWeight[v] * nodePass[v];
        Weights(c, depth + 1);
    }
    for (int f : nodeLeaves[v])
        leafWeight[f] = pathWeight[v] * nodePass[v];
}
