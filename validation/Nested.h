// Nested cross-validation: an error estimate that is not flattered by the
// choice of w and lambda. For every outer fold of a run, the grid point is
// chosen by a K-fold cross-validation inside that fold's training samples
// alone, a model is trained on all of them at that point, and it is tested on
// the held-out fold, which played no part in the choice.
#ifndef ORVANE_NESTED_H
#define ORVANE_NESTED_H

#include <cstdint>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "validation/Testing.h"

struct NestedFold {
    int repetition;
    int fold;
    float w;          // the point chosen inside the fold's training samples
    float lambda;
    float innerError; // its mean error over the inner folds
    float error;      // the error on the held-out fold
};

struct NestedResult {
    std::vector<NestedFold> folds; // repetition outer, fold inner
    double meanError = 0.0;
    double stdError = 0.0; // sample standard deviation of the fold errors / sqrt(their number)
    std::vector<double> gaps; // converged runs: the relative duality gap of every fit
};

// The point the logs would choose from the mean errors of a grid (w outer,
// lambda inner): within a w the least mean, equal ones going to the later
// lambda; across w a strictly smaller one, so equal ones keep the earlier w.
int chooseAsTheLogs(const std::vector<float> &averages, int nW, int nLambdas);

// The inner fold (0 to nFolds-1) of each of an outer fold's training rows,
// drawn as Orvane-folds draws: stratified by class, and with groups (a group
// number per row of `all`, or an empty vector for none) each group's rows in
// one inner fold. With groups, the rows must span at least nFolds groups.
std::vector<int> innerFoldOfRows(const std::vector<int> &rows, const Data &all,
                                 const std::vector<int> &groupOfSample, int nFolds,
                                 std::mt19937 &generator);

// Runs the nested cross-validation over the folds and the grid of `run`, on
// `jobs` threads. The inner folds of each outer fold are drawn from its
// training samples by innerFoldOfRows, from one generator seeded with `seed`
// that serves the outer folds in order. With `progress`, a line per finished
// fit goes there. With `converged`, the fits are converged paths as the plain
// run makes them: each inner fold fits the lambdas of each w as one path, and
// each outer fold's model is its path down to the chosen lambda.
NestedResult nestedCrossValidation(const Testing &run, const Data &all, vessik::Tree *tree,
                                   int innerFolds, std::uint32_t seed, int jobs,
                                   std::ostream *progress,
                                   const std::vector<int> &groupOfSample = {},
                                   const ConvergedOptions *converged = nullptr);

// cv_nested.tsv: one line per outer fold, then the mean and its standard error.
std::string nestedTable(const NestedResult &result);

#endif
