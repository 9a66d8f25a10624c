// Slopes and curvature of the tree penalty for every leaf coefficient,
// recomputed from the coefficients at the start of every sweep.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "model/Logistic.h"

void Logistic::Derivatives()
{
    const int V = nNodes;
    const int C = nClasses;
    const int cells = std::max(C * nFeatures, 0);
    std::fill(numBetas, numBetas + V * C, 0.0f);
    std::fill(squareSums, squareSums + V * C, 0.0f);
    if (V > 0) {
        PartialSquareSumsRecursion(0);
        TreePassNumBetas(0);
    }
    std::fill(dPlus, dPlus + cells, 0.0f);
    std::fill(dMinus, dMinus + cells, 0.0f);
    std::fill(d2, d2 + cells, 0.0f);
    if (V > 0)
        for (int k = 0; k < C; k++)
            TreePassSum(0, k, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
}

// The passes below visit the tree in the same order as a recursion would, so
// every sum is formed in the same order, with the path from their start node
// kept on an explicit stack: a tree of any height fits a small thread stack.

void Logistic::PartialSquareSumsRecursion(int v)
{
    const int V = nNodes;
    const int M = nFeatures;
    std::vector<std::pair<int, size_t>> path; // node, next child
    int entered = v;
    while (true) {
        if (entered >= 0) {
            for (int f : nodeLeaves[entered])
                for (int k = 0; k < nClasses; k++) {
                    const float b = beta[k * M + f];
                    squareSums[k * V + entered] += b * b;
                }
            path.emplace_back(entered, 0);
            entered = -1;
        }
        const int top = path.back().first;
        size_t &next = path.back().second;
        if (next < nodeChildren[top].size()) {
            entered = nodeChildren[top][next++];
            continue;
        }
        path.pop_back();
        if (path.empty())
            return;
        const int parent = path.back().first;
        for (int k = 0; k < nClasses; k++)
            squareSums[k * V + parent] += squareSums[k * V + top];
    }
}

void Logistic::PartialSquareSums()
{
    std::fill(squareSums, squareSums + nNodes * nClasses, 0.0f);
    if (nNodes > 0)
        PartialSquareSumsRecursion(0);
}

void Logistic::TreePassNumBetas(int v)
{
    const int C = nClasses;
    std::vector<std::pair<int, size_t>> path{{v, 0}}; // node, next child
    while (true) {
        const int top = path.back().first;
        size_t &next = path.back().second;
        if (next < nodeChildren[top].size()) {
            const int child = nodeChildren[top][next++];
            path.emplace_back(child, 0);
            continue;
        }
        for (int f : nodeLeaves[top])
            for (int k = 0; k < C; k++)
                if (beta[k * nFeatures + f] != 0)
                    numBetas[top * C + k] += 1;
        path.pop_back();
        if (path.empty())
            return;
        const int parent = path.back().first;
        for (int k = 0; k < C; k++)
            numBetas[parent * C + k] += numBetas[top * C + k];
    }
}

void Logistic::TreePassSum(int v, int k, float multiNormSum, float multiCubeSum,
                           float singleNormSum, float singleCubeSum, float singleWeightSum,
                           float zeroWeightSum)
{
    // The six sums over the groups on the path from the root down to a node.
    struct Sums {
        float multiNorm, multiCube, singleNorm, singleCube, singleWeight, zeroWeight;
    };
    struct Visit {
        int v;
        const int *next; // the children not yet visited, up to `end`
        const int *end;
        Sums sums;
    };
    std::vector<Visit> path;
    int entered = v;
    // The sums handed to the node being entered, which adds its own group.
    Sums carried = {multiNormSum, multiCubeSum, singleNormSum, singleCubeSum, singleWeightSum,
                    zeroWeightSum};
    while (true) {
        if (entered >= 0) {
            const float n = numBetas[entered * nClasses + k];
            const float s = squareSums[k * nNodes + entered];
            const float r = sqrtf(s);
            const float inv1 = r == 0 ? 0.0f : 1 / r;
            const float cube = s * r;
            const float inv3 = cube == 0 ? 0.0f : 1 / cube;
            const float w = groupWeight[entered];

            // A group with several nonzero coefficients is smooth in each of them; one
            // with a single nonzero coefficient acts as an absolute value in it; an
            // all-zero group sits at its kink.
            if (n > 1) {
                carried.multiNorm += w * inv1;
                carried.multiCube += w * inv3;
            } else if (n == 1) {
                carried.singleNorm += inv1 * w;
                carried.singleCube += inv3 * w;
                carried.singleWeight += w;
            } else if (n == 0) {
                carried.zeroWeight += w;
            }
            const std::vector<int> &children = nodeChildren[entered];
            path.push_back({entered, children.data(), children.data() + children.size(), carried});
            entered = -1;
        }
        Visit &top = path.back();
        if (top.next != top.end) {
            // Each child starts from the sums as they stand at this node.
            entered = *top.next++;
            carried = top.sums;
            continue;
        }
        const Sums &sums = top.sums;
        for (int f : nodeLeaves[top.v]) {
            const int p = k * nFeatures + f;
            const float b = beta[p];
            float A, Q, B;
            if (b == 0) {
                A = sums.singleNorm + sums.multiNorm;
                Q = sums.singleCube + sums.multiCube;
                B = sums.zeroWeight + leafWeight[f];
            } else {
                A = sums.multiNorm;
                Q = sums.multiCube;
                B = sums.singleWeight + leafWeight[f];
            }
            dPlus[p] = (A * b + B) * lambda;
            dMinus[p] = (A * b - B) * lambda;
            d2[p] = (A - b * (Q * b)) * lambda;
        }
        path.pop_back();
        if (path.empty())
            return;
    }
}

void Logistic::Scalar()
{
    delete[] margin;
    margin = new float[std::max(nClasses * nSamples, 0)]();
}
