// The converged fit: the tree-penalised multinomial objective minimised to a
// certified relative duality gap, as an alternative to the coordinate-descent
// fit (Train and Learn), which stops on its own rules well before the minimum.
#ifndef ORVANE_CONVERGED_H
#define ORVANE_CONVERGED_H

#include <functional>
#include <vector>

#include "model/Logistic.h"

struct ConvergedOptions {
    double tol = 1e-6;          // relative duality gap to reach
    int maxIterations = 20000;  // proximal-gradient or Newton iterations at most
    // Iterate on a working set of features, grown until the whole problem's
    // gap is below tol (the answer is certified the same either way).
    bool workingSet = true;
    // Where the penalty over the working set is a plain weighted lasso (w =
    // 1: no group carries weight), take proximal Newton steps, each minimising
    // a quadratic model of the loss by coordinate descent; elsewhere, and when
    // false, accelerated proximal-gradient steps.
    bool newton = true;
};

struct ConvergedResult {
    // Duality gap at exit, (primal - dual) over the larger of the objective
    // and the loss of the all-zero model (N log C).
    double gap = 0;
    int iterations = 0;
    double objective = 0;  // loss plus penalty at the solution, in double precision
    std::vector<double> coefficients; // the solution, C x M class-major, before rounding to float

    bool converged(const ConvergedOptions &options) const { return gap <= options.tol; }
};

// Fits a model built from a data set and a tree (Logistic(const Data&, Tree*))
// at (w, lambda) to a relative duality gap below options.tol, or until
// options.maxIterations, leaving model.beta (C x M, class-major, allocated as
// Train does) filled so that model.output(...) writes the model file. The tree
// is indexed for w unless it already is (then it must have been for this w).
// `start` (C x M) warm-starts the fit when given.
//
// The objective is the one the coordinate-descent fit aims at, the multinomial
// loss over the row-scaled data plus lambda times, per class, the weighted
// absolute values of the leaf coefficients and the weighted Euclidean norms of
// the groups below each internal node. Features that are no leaf of the tree
// keep the coefficient 0.
ConvergedResult fitConverged(Logistic &model, float w, float lambda,
                             const ConvergedOptions &options,
                             const std::vector<double> *start = nullptr);

// Fits the lambdas in the order given, each from the solution of the one
// before (the first from 0; along a decreasing run, from where the polynomial
// in log lambda through the last solutions leads: three where the groups
// carry weight or Newton steps are off, else two), on one
// model; after each fit model.beta holds its solution and `each` is called
// with the lambda's position and its result. Give the lambdas from the
// largest down: that is what makes warm starts pay.
void fitConvergedPath(Logistic &model, float w, const std::vector<float> &lambdas,
                      const ConvergedOptions &options,
                      const std::function<void(std::size_t, const ConvergedResult &)> &each);

// Flags the features whose coefficients are 0 at every minimum at (w,
// lambda), as the duality gap at `coefficients` (C x M, class-major) proves:
// the closer to the minimum, the more it proves. The tree is indexed for w
// unless it already is.
std::vector<bool> certainlyZero(Logistic &model, float w, float lambda, const std::vector<double> &coefficients);

// The objective at model.beta and `lambda`, in double precision, for a model
// whose tree is indexed (after Learn, or a converged fit).
double treeObjective(const Logistic &model, float lambda);

#endif
