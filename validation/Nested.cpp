// Nested cross-validation (see Nested.h). The inner fits of every outer fold
// run first, on one pool of threads; then each outer fold's model is fitted
// at the point its inner folds chose. Every fit is made as the plain run
// makes it (its own rows, its own copy of the tree), so the results do not
// depend on the number of threads.
#include "validation/Nested.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
#include <sstream>

#include "validation/folds.h"
#include "validation/Summary.h"

namespace {

// The rows a fit is trained on and tested on (rows of the whole data set).
struct Split {
    std::vector<int> train;
    std::vector<int> test; // ascending
};

// The inner folds of one outer fold's training rows.
std::vector<Split> innerSplits(const std::vector<int> &rows, const Data &all,
                               const std::vector<int> &groupOfSample, int nFolds,
                               std::mt19937 &generator)
{
    const std::vector<int> foldOfRow = innerFoldOfRows(rows, all, groupOfSample, nFolds, generator);
    std::vector<Split> splits(nFolds);
    for (std::size_t r = 0; r < rows.size(); r++)
        for (int q = 0; q < nFolds; q++)
            (foldOfRow[r] == q ? splits[q].test : splits[q].train).push_back(rows[r]);
    for (Split &split : splits)
        std::sort(split.test.begin(), split.test.end());
    return splits;
}

// Frees a fold's model however the fit leaves.
struct ModelRelease {
    Logistic &model;
    ~ModelRelease() { model.del(); }
};

// A coordinate-descent fit at (w, lambda) on the split's training rows,
// scored on its held-out rows.
FitResult fitCyclic(const Split &split, const Data &all, vessik::Tree *tree, float w, float lambda)
{
    Logistic model(selectRows(all, split.train), tree != nullptr ? tree->copy() : nullptr);
    const ModelRelease release{model};
    model.Train(lambda);
    model.Learn(w);
    FitResult result;
    result.error = model.TestRows(all, split.test, result.predicted);
    return result;
}

// A converged path on the split's training rows over the lambdas from the
// largest down (equal ones in grid order), as the plain run fits each fold,
// ending at grid position `last` (-1: every lambda). `each` gets each
// lambda's grid position, held-out error and relative duality gap.
void fitConvergedSplit(const Split &split, const Data &all, vessik::Tree *tree, float w,
                       const std::vector<float> &lambdas, int last,
                       const ConvergedOptions &options,
                       const std::function<void(int, float, double)> &each)
{
    std::vector<int> order(lambdas.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return lambdas[a] > lambdas[b]; });
    if (last >= 0)
        order.erase(std::find(order.begin(), order.end(), last) + 1, order.end());
    std::vector<float> path;
    for (const int l : order)
        path.push_back(lambdas[l]);
    Logistic model(selectRows(all, split.train), tree != nullptr ? tree->copy() : nullptr);
    const ModelRelease release{model};
    std::vector<int> predicted;
    fitConvergedPath(model, w, path, options, [&](std::size_t n, const ConvergedResult &result) {
        each(order[n], model.TestRows(all, split.test, predicted), result.gap);
    });
}

// Runs the tasks on a pool of threads, each through `fit`.
std::vector<FitResult> fitAll(const std::vector<FitTask> &tasks, const FitQueue::Fit &fit,
                              int jobs, std::ostream *progress, const char *what)
{
    FitQueue::Done done;
    if (progress != nullptr)
        done = [progress, what](const FitTask &, std::size_t n, std::size_t total) {
            *progress << what << " " << n << " of " << total << " done" << std::endl;
        };
    FitQueue queue(tasks, jobs, fit, done);
    std::vector<FitResult> results;
    for (std::size_t t = 0; t < tasks.size(); t++)
        results.push_back(queue.result(t));
    return results;
}

double standardError(const std::vector<float> &errors, double mean)
{
    if (errors.size() < 2)
        return std::nan("");
    double squares = 0.0;
    for (const float e : errors)
        squares += (e - mean) * (e - mean);
    const double n = static_cast<double>(errors.size());
    return std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
}

std::string logText(double value)
{
    std::ostringstream out;
    out << static_cast<float>(value);
    return out.str();
}

} // namespace

std::vector<int> innerFoldOfRows(const std::vector<int> &rows, const Data &all,
                                 const std::vector<int> &groupOfSample, int nFolds,
                                 std::mt19937 &generator)
{
    std::vector<int> classOfRow;
    for (const int row : rows)
        classOfRow.push_back(all.classes[row]);
    if (groupOfSample.empty())
        return drawFolds(classOfRow, all.C, nFolds, generator);
    // The groups present among these rows, numbered in the order of their first row.
    std::map<int, int> numberOf;
    std::vector<int> groupOfRow;
    for (const int row : rows)
        groupOfRow.push_back(
            numberOf.emplace(groupOfSample[row], static_cast<int>(numberOf.size())).first->second);
    return drawGroupFolds(classOfRow, all.C, groupOfRow, static_cast<int>(numberOf.size()), nFolds,
                          generator);
}

int chooseAsTheLogs(const std::vector<float> &averages, int nW, int nLambdas)
{
    std::vector<int> bestLambda(nW, 0);
    int bestW = 0;
    float bestOverW = 1.0f;
    for (int v = 0; v < nW; v++) {
        float best = 1.0f;
        for (int l = 0; l < nLambdas; l++)
            if (averages[v * nLambdas + l] <= best) { // a NaN never wins
                best = averages[v * nLambdas + l];
                bestLambda[v] = l;
            }
        if (best < bestOverW) {
            bestOverW = best;
            bestW = v;
        }
    }
    return nW > 0 ? bestW * nLambdas + bestLambda[bestW] : 0;
}

namespace {

// The inner fits of every outer fold: innerErrors[(f * nPoints + p) * innerFolds + q]
// is inner fold q of outer fold f at grid point p. Cyclic fits are one task
// per (outer fold, point, inner fold); converged ones one path per (outer fold,
// w, inner fold), each writing its own cells. A task names its outer fold as
// its repetition, its inner fold as its fold, and its grid point (cyclic) or
// w (converged) as its wIndex.
std::vector<float> innerErrors(const Testing &run, const std::vector<std::vector<Split>> &inner,
                               const Data &all, vessik::Tree *tree, int innerFolds, int jobs,
                               std::ostream *progress, const ConvergedOptions *converged,
                               std::vector<double> &gaps)
{
    const int nOuter = static_cast<int>(inner.size()), nPoints = run.NW * run.NLambdas;
    const auto cell = [&](int f, int p, int q) {
        return (static_cast<std::size_t>(f) * nPoints + p) * innerFolds + q;
    };
    std::vector<float> errors(cell(nOuter, 0, 0));
    std::vector<double> innerGaps(converged != nullptr ? errors.size() : 0);
    std::vector<FitTask> tasks;
    for (int f = 0; f < nOuter; f++)
        for (int v = 0; v < run.NW; v++)
            for (int l = 0; l < (converged != nullptr ? 1 : run.NLambdas); l++)
                for (int q = 0; q < innerFolds; q++)
                    tasks.push_back({run.Ws[v], run.lambdaAt(v, l), f, q,
                                     converged != nullptr ? v : run.point(v, l)});
    const FitQueue::Fit fit = [&](const FitTask &task) {
        const Split &split = inner[task.repetition][task.fold];
        if (converged == nullptr) {
            errors[cell(task.repetition, task.wIndex, task.fold)] =
                fitCyclic(split, all, tree, task.w, task.lambda).error;
            return FitResult{};
        }
        const int v = task.wIndex;
        fitConvergedSplit(split, all, tree, task.w, run.lambdasOfW[v], -1, *converged,
                          [&](int l, float error, double gap) {
                              const std::size_t c = cell(task.repetition, run.point(v, l), task.fold);
                              errors[c] = error;
                              innerGaps[c] = gap;
                          });
        return FitResult{};
    };
    fitAll(tasks, fit, jobs, progress, converged != nullptr ? "inner path" : "inner fit");
    gaps.insert(gaps.end(), innerGaps.begin(), innerGaps.end());
    return errors;
}

} // namespace

NestedResult nestedCrossValidation(const Testing &run, const Data &all, vessik::Tree *tree,
                                   int innerFolds, std::uint32_t seed, int jobs,
                                   std::ostream *progress, const std::vector<int> &groupOfSample,
                                   const ConvergedOptions *converged)
{
    const int nOuter = run.NTests * run.KFold, nPoints = run.NW * run.NLambdas;
    std::mt19937 generator(seed);
    std::vector<std::vector<Split>> inner;
    for (int f = 0; f < nOuter; f++)
        inner.push_back(innerSplits(run.trainLines[f], all, groupOfSample, innerFolds, generator));
    NestedResult result;
    const std::vector<float> innerFits =
        innerErrors(run, inner, all, tree, innerFolds, jobs, progress, converged, result.gaps);

    // Each outer fold's choice, from its inner mean errors summed as the logs sum them.
    std::vector<Split> outer(nOuter);
    std::vector<int> chosenLambda(nOuter);
    std::vector<FitTask> tasks;
    for (int f = 0; f < nOuter; f++) {
        std::vector<float> averages(nPoints);
        for (int p = 0; p < nPoints; p++) {
            float sum = 0.0f;
            for (int q = 0; q < innerFolds; q++)
                sum += innerFits[(static_cast<std::size_t>(f) * nPoints + p) * innerFolds + q];
            averages[p] = sum / static_cast<float>(innerFolds);
        }
        const int p = chooseAsTheLogs(averages, run.NW, run.NLambdas);
        const int v = p / run.NLambdas, l = p % run.NLambdas;
        result.folds.push_back({f / run.KFold, f % run.KFold, run.Ws[v], run.lambdaAt(v, l),
                                averages[p], 0.0f});
        outer[f] = {run.trainLines[f], run.testLines[f]};
        chosenLambda[f] = l;
        tasks.push_back({run.Ws[v], run.lambdaAt(v, l), f, f, v});
    }
    // A converged outer fit runs its fold's path down to the chosen lambda, so
    // that it is the very model the plain run scored at that point.
    std::vector<double> outerGaps(converged != nullptr ? nOuter : 0);
    const FitQueue::Fit fit = [&](const FitTask &task) {
        const Split &split = outer[task.fold];
        if (converged == nullptr)
            return fitCyclic(split, all, tree, task.w, task.lambda);
        FitResult last;
        fitConvergedSplit(split, all, tree, task.w, run.lambdasOfW[task.wIndex],
                          chosenLambda[task.fold], *converged, [&](int, float error, double gap) {
                              last.error = error;
                              outerGaps[task.fold] = gap;
                          });
        return last;
    };
    const std::vector<FitResult> outerFits =
        fitAll(tasks, fit, jobs, progress, converged != nullptr ? "outer path" : "outer fit");
    result.gaps.insert(result.gaps.end(), outerGaps.begin(), outerGaps.end());

    std::vector<float> errors;
    double sum = 0.0;
    for (int f = 0; f < nOuter; f++) {
        result.folds[f].error = outerFits[f].error;
        errors.push_back(outerFits[f].error);
        sum += outerFits[f].error;
    }
    result.meanError = nOuter > 0 ? sum / nOuter : std::nan("");
    result.stdError = standardError(errors, result.meanError);
    return result;
}

std::string nestedTable(const NestedResult &result)
{
    std::ostringstream out;
    out << "repetition\tfold\tw\tlambda\tinner_error\terror\n";
    for (const NestedFold &fold : result.folds)
        out << fold.repetition << '\t' << fold.fold << '\t' << shortestText(fold.w) << '\t'
            << shortestText(fold.lambda) << '\t' << fold.innerError << '\t' << fold.error << '\n';
    out << "mean\t-\t-\t-\t-\t" << logText(result.meanError) << '\n';
    out << "std_error\t-\t-\t-\t-\t" << logText(result.stdError) << '\n';
    return out.str();
}
