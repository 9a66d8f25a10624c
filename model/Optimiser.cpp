// Cyclic coordinate descent: one bounded Newton step per leaf coefficient
// and class per sweep, with scores and normalisers kept up to date.
#include <algorithm>
#include <cmath>

#include "model/Logistic.h"

namespace {

const int maxSweeps = 500;
const double tolerance = 1e-5;

float clampStep(float step, float bound)
{
    return std::min(bound, std::max(-bound, step));
}

} // namespace

void Logistic::Train(float lambda)
{
    this->lambda = lambda;
    const int N = nSamples;
    const int M = std::max(nFeatures, 0);
    // One cell at least: the objective reads coordinate (0, 0) even of an empty model.
    const int cells = std::max(nClasses * M, 1);
    beta = new float[cells]();
    featureRows = new std::vector<int>[M];
    for (int j = 0; j < M; j++)
        for (int i = 0; i < N; i++)
            if (data.X[i * M + j] != 0)
                featureRows[j].push_back(i);
    delta = new float[cells];
    std::fill(delta, delta + cells, 1.0f);
    fitSum = 0;
    penaltySum = 0;
}

void Logistic::Learn(float w)
{
    LoadTheTree(w);
    const int N = nSamples;
    const int M = std::max(nFeatures, 0);
    const int C = nClasses;
    const int V = nNodes;
    const float *X = data.X;
    const int *Y = data.Y;

    margin = new float[C * N]();
    numBetas = new float[V * C];
    squareSums = new float[V * C];
    dPlus = new float[C * M];
    dMinus = new float[C * M];
    d2 = new float[C * M];
    sumExp = new float[N];
    std::fill(sumExp, sumExp + N, (float)C);
    xty = new float[M * C]();
    for (int j : leafFeatures)
        for (int k = 0; k < C; k++)
            for (int i : featureRows[j])
                xty[j * C + k] += (float)Y[i * C + k] * X[i * M + j];

    float prev = 0;
    for (int it = 0; it < maxSweeps; it++) {
        Derivatives();
        const float f = eval(0, 0, 0.0f);
        if (std::isnan(f))
            break;
        const float change = std::fabs(f - prev);
        if ((double)change < tolerance && it > 9)
            break;
        if (it > 0 && f > prev)
            break;

        for (int j : leafFeatures) {
            for (int k = 0; k < C; k++) {
                const int p = k * M + j;
                const float d = delta[p];
                const float s = clampStep(compute(k, j), d);
                const float bOld = beta[p];
                const float bNew = s + bOld;
                if (s != 0) {
                    penaltySum += leafWeight[j] * (std::fabs(bNew) - std::fabs(bOld));
                    for (int i : featureRows[j]) {
                        const float rOld = margin[k * N + i];
                        margin[k * N + i] = X[i * M + j] * s + rOld;
                        fitSum += (float)Y[i * C + k] * (s * X[i * M + j]);
                        sumExp[i] = expf(margin[k * N + i]) + (sumExp[i] - expf(rOld));
                    }
                }
                beta[p] = bNew;
                delta[p] = (float)std::max(0.5 * (double)d, 2.0 * std::fabs((double)bNew));
            }
        }
        prev = f;
    }
}

float Logistic::compute(int k, int j)
{
    float g, h;
    dl1(k, j, g, h);
    const int p = k * nFeatures + j;
    const float b = beta[p];
    const float H = h + d2[p];
    if (H == 0)
        return 0.0f;

    if (b > 0) {
        const float s = -(g + dPlus[p]) / H;
        return b + s < 0 ? -b : s;
    }
    if (b < 0) {
        const float s = -(g + dMinus[p]) / H;
        return b + s > 0 ? -b : s;
    }
    if (b == 0) {
        // At zero the penalty has a kink: try both one-sided steps and keep the
        // best objective, preferring the upward step, and no step, on ties.
        const float sUp = -(g + dPlus[p]) / H;
        const float sDown = -(g + dMinus[p]) / H;
        const float f0 = eval(k, j, 0.0f);
        const float fUp = eval(k, j, sUp);
        const float fDown = eval(k, j, sDown);
        if (f0 > fUp && fDown >= fUp)
            return sUp;
        if (f0 > fDown && fUp > fDown)
            return sDown;
    }
    return 0.0f;
}

float Logistic::eval(int k, int j, float step)
{
    const int N = nSamples;
    const int M = nFeatures;
    const int C = nClasses;
    const float *X = data.X;
    const int p = k * M + j;
    const float s = clampStep(step, delta[p]);
    const float bNew = beta[p] + s;

    float acc = 0;
    if (s != 0) {
        for (int i : featureRows[j]) {
            acc += (float)data.Y[i * C + k] * (s * X[i * M + j]);
            sumExp[i] = expf(s * X[i * M + j] + margin[k * N + i]) +
                        (sumExp[i] - expf(margin[k * N + i]));
        }
    }
    float v = -(acc + fitSum);
    for (int i = 0; i < N; i++)
        v += logf(sumExp[i]);
    const float result =
        ((std::fabs(bNew) - std::fabs(bNew - s)) * leafWeight[j] + penaltySum) * lambda + v;

    if (s != 0) {
        for (int i : featureRows[j])
            sumExp[i] = (sumExp[i] + expf(margin[k * N + i])) -
                        expf(s * X[i * M + j] + margin[k * N + i]);
    }
    return result;
}

void Logistic::dl1(int k, int j, float &g, float &h)
{
    const int N = nSamples;
    const int M = nFeatures;
    const float *X = data.X;
    g = -xty[j * nClasses + k];
    h = 0;
    for (int i : featureRows[j]) {
        const float S = sumExp[i];
        const float q = S == 0 ? 0.0f : 1 / S;
        const float t = expf(margin[k * N + i]) * q * X[i * M + j];
        g += t;
        h += X[i * M + j] * t - t * t;
    }
}
