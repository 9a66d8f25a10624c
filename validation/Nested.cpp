// Nested cross-validation (see Nested.h). The inner fits of every outer fold
// run first, on one pool of threads; then each outer fold's model is fitted
// at the point its inner folds chose. Every fit is made as the plain run
// makes it (its own rows, its own copy of the tree), so the results do not
// depend on the number of threads.
#include "validation/Nested.h"

#include <algorithm>
#include <cmath>
#include <map>
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

// A pool of fits, each named by its index in `splits` and its grid point.
std::vector<FitResult> fitAll(const std::vector<const Split *> &splits,
                              const std::vector<FitTask> &tasks, const Data &all,
                              vessik::Tree *tree, int jobs, std::ostream *progress,
                              const char *what)
{
    const auto fit = [&](const FitTask &task) {
        const Split &split = *splits[task.fold];
        Logistic model(selectRows(all, split.train), tree != nullptr ? tree->copy() : nullptr);
        model.Train(task.lambda);
        model.Learn(task.w);
        FitResult result;
        result.error = model.TestRows(all, split.test, result.predicted);
        model.del();
        return result;
    };
    FitQueue::Done done;
    if (progress != nullptr)
        done = [progress, what](const FitTask &, std::size_t n, std::size_t total) {
            *progress << what << " fit " << n << " of " << total << " done" << std::endl;
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

NestedResult nestedCrossValidation(const Testing &run, const Data &all, vessik::Tree *tree,
                                   int innerFolds, std::uint32_t seed, int jobs,
                                   std::ostream *progress, const std::vector<int> &groupOfSample)
{
    const int nOuter = run.NTests * run.KFold, nPoints = run.NW * run.NLambdas;
    std::mt19937 generator(seed);
    std::vector<std::vector<Split>> inner;
    for (int f = 0; f < nOuter; f++)
        inner.push_back(innerSplits(run.trainLines[f], all, groupOfSample, innerFolds, generator));

    // Inner fits: outer fold, then grid point (w, lambda), then inner fold.
    std::vector<const Split *> splits;
    std::vector<FitTask> tasks;
    for (int f = 0; f < nOuter; f++)
        for (int v = 0; v < run.NW; v++)
            for (int l = 0; l < run.NLambdas; l++)
                for (int q = 0; q < innerFolds; q++) {
                    tasks.push_back({run.Ws[v], run.lambdaAt(v, l), f, static_cast<int>(splits.size())});
                    splits.push_back(&inner[f][q]);
                }
    const std::vector<FitResult> innerFits = fitAll(splits, tasks, all, tree, jobs, progress, "inner");

    // Each outer fold's choice, from its inner mean errors summed as the logs sum them.
    std::vector<Split> outer(nOuter);
    NestedResult result;
    splits.clear();
    tasks.clear();
    for (int f = 0; f < nOuter; f++) {
        std::vector<float> averages(nPoints);
        for (int p = 0; p < nPoints; p++) {
            float sum = 0.0f;
            for (int q = 0; q < innerFolds; q++)
                sum += innerFits[(static_cast<std::size_t>(f) * nPoints + p) * innerFolds + q].error;
            averages[p] = sum / static_cast<float>(innerFolds);
        }
        const int p = chooseAsTheLogs(averages, run.NW, run.NLambdas);
        const int v = p / run.NLambdas, l = p % run.NLambdas;
        result.folds.push_back({f / run.KFold, f % run.KFold, run.Ws[v], run.lambdaAt(v, l),
                                averages[p], 0.0f});
        outer[f] = {run.trainLines[f], run.testLines[f]};
        splits.push_back(&outer[f]);
        tasks.push_back({run.Ws[v], run.lambdaAt(v, l), f, f});
    }
    const std::vector<FitResult> outerFits = fitAll(splits, tasks, all, tree, jobs, progress, "outer");

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
