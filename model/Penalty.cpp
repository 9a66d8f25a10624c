// Slopes and curvature of the tree penalty for every leaf coefficient,
// recomputed from the coefficients at the start of every sweep.
#include <algorithm>
#include <cmath>

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

void Logistic::PartialSquareSumsRecursion(int v)
{
    const int V = nNodes;
    const int M = nFeatures;
    for (int f : nodeLeaves[v])
        for (int k = 0; k < nClasses; k++) {
            const float b = beta[k * M + f];
            squareSums[k * V + v] += b * b;
        }
    for (int c : nodeChildren[v]) {
        PartialSquareSumsRecursion(c);
        for (int k = 0; k < nClasses; k++)
            squareSums[k * V + v] += squareSums[k * V + c];
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
    for (int c : nodeChildren[v]) {
        TreePassNumBetas(c);
        for (int k = 0; k < C; k++)
            numBetas[v * C + k] += numBetas[c * C + k];
    }
    for (int f : nodeLeaves[v])
        for (int k = 0; k < C; k++)
            if (beta[k * nFeatures + f] != 0)
                numBetas[v * C + k] += 1;
}

void Logistic::TreePassSum(int v, int k, float multiNormSum, float multiCubeSum,
                           float singleNormSum, float singleCubeSum, float singleWeightSum,
                           float zeroWeightSum)
{
    const float n = numBetas[v * nClasses + k];
    const float s = squareSums[k * nNodes + v];
    const float r = sqrtf(s);
    const float inv1 = r == 0 ? 0.0f : 1 / r;
    const float cube = s * r;
    const float inv3 = cube == 0 ? 0.0f : 1 / cube;
    const float w = groupWeight[v];

    // A group with several nonzero coefficients is smooth in each of them; one
    // with a single nonzero coefficient acts as an absolute value in it; an
    // all-zero group sits at its kink.
    if (n > 1) {
        multiNormSum += w * inv1;
        multiCubeSum += w * inv3;
    } else if (n == 1) {
        singleNormSum += inv1 * w;
        singleCubeSum += inv3 * w;
        singleWeightSum += w;
    } else if (n == 0) {
        zeroWeightSum += w;
    }

    for (int c : nodeChildren[v])
        TreePassSum(c, k, multiNormSum, multiCubeSum, singleNormSum, singleCubeSum,
                    singleWeightSum, zeroWeightSum);

    for (int f : nodeLeaves[v]) {
        const int p = k * nFeatures + f;
        const float b = beta[p];
        float A, Q, B;
        if (b == 0) {
            A = singleNormSum + multiNormSum;
            Q = singleCubeSum + multiCubeSum;
            B = zeroWeightSum + leafWeight[f];
        } else {
            A = multiNormSum;
            Q = multiCubeSum;
            B = singleWeightSum + leafWeight[f];
        }
        dPlus[p] = (A * b + B) * lambda;
        dMinus[p] = (A * b - B) * lambda;
        d2[p] = (A - b * (Q * b)) * lambda;
    }
}

void Logistic::Scalar()
{
    delete[] margin;
    margin = new float[std::max(nClasses * nSamples, 0)]();
}
