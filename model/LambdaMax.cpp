// lambda_max of the tree-penalised multinomial model.
//
// At beta = 0 every class has probability 1/C, so the gradient of the summed
// loss for class k is -g_k with g_k = X^T (y_k - 1/C) over the row-scaled
// data. Zero is optimal at lambda = t exactly when g_k lies in t times the
// penalty's subdifferential at zero, for every k. For penalties nested along
// a tree that is the case when the residual left after each leaf's interval
// and each node's ball absorbed what they can, from the leaves up, is zero at
// the root:
//   rho_leaf j(t) = max(0, |g_kj| - t leafWeight_j)
//   rho_node v(t) = max(0, sqrt(sum over children c of rho_c(t)^2) - t groupWeight_v).
// rho_root is non-increasing in t, so its first zero is found by bisection.
#include "model/LambdaMax.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "model/FeatureColumns.h"
#include "model/Logistic.h"

namespace {

// g_k for every class: C x M, class-major.
std::vector<double> zeroModelGradient(Logistic &model)
{
    const FeatureColumns &columns = model.featureColumns();
    const int C = model.nClasses;
    const int M = columns.nFeatures;
    const double uniform = 1.0 / C;
    std::vector<double> g(static_cast<std::size_t>(C) * M, 0.0);
    for (int j = 0; j < M; j++)
        for (std::int64_t e = columns.start[j]; e < columns.start[j + 1]; e++) {
            const int row = columns.rows[e];
            const double x = columns.values[e];
            for (int k = 0; k < C; k++) {
                const double y = model.data.Y[static_cast<std::size_t>(row) * C + k];
                g[static_cast<std::size_t>(k) * M + j] += x * (y - uniform);
            }
        }
    return g;
}

// rho_root(t) for one class's gradient. Children are numbered after their
// parent, so one pass from the last node to the root sees every child first.
double rootResidual(const Logistic &model, const double *g, double t, std::vector<double> &rho)
{
    for (int v = model.nNodes - 1; v >= 0; v--) {
        double squares = 0;
        for (int f : model.nodeLeaves[v]) {
            const double leaf = std::max(0.0, std::fabs(g[f]) - t * model.leafWeight[f]);
            squares += leaf * leaf;
        }
        for (int c : model.nodeChildren[v])
            squares += rho[c] * rho[c];
        rho[v] = std::max(0.0, std::sqrt(squares) - t * model.groupWeight[v]);
    }
    return rho[0];
}

double classLambdaMax(const Logistic &model, const double *g, std::vector<double> &rho)
{
    if (rootResidual(model, g, 0.0, rho) == 0)
        return 0;
    double high = 1;
    while (rootResidual(model, g, high, rho) > 0) {
        high *= 2;
        if (!std::isfinite(high))
            return std::numeric_limits<double>::infinity();
    }
    double low = 0;
    // Until the interval stops shrinking in double precision.
    while (true) {
        const double middle = low + (high - low) / 2;
        if (middle <= low || middle >= high)
            return high;
        (rootResidual(model, g, middle, rho) > 0 ? low : high) = middle;
    }
}

} // namespace

double lambdaMax(Logistic &model)
{
    if (model.nNodes == 0 || model.nClasses == 0 || model.nFeatures <= 0)
        return 0;
    const std::vector<double> g = zeroModelGradient(model);
    std::vector<double> rho(model.nNodes);
    double largest = 0;
    for (int k = 0; k < model.nClasses; k++)
        largest = std::max(largest, classLambdaMax(model, &g[static_cast<std::size_t>(k) * model.nFeatures], rho));
    return largest;
}
