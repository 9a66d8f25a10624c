// Repeated K-fold cross-validation of the tree-regularised model over a grid
// of weights `w` and regularisation strengths `lambda`. The folds come from
// prepared sets files, one per repetition; every fold's error, every average
// and the best parameters are appended to three text logs.
#ifndef ORVANE_TESTING_H
#define ORVANE_TESTING_H

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "model/Converged.h"
#include "model/Logistic.h"
#include "validation/FitQueue.h"
#include "validation/runFiles.h"

// Appends to testSamples and trainSamples the sample indices of every block
// of fold `fold` in the sets file fileName (a ">" header whose second word is
// the fold number, then the test line, then the training line). Neither list
// is cleared; a fold without a block, or an unreadable file, adds nothing.
void setSets(int fold, std::string fileName, std::vector<int> &testSamples,
             std::vector<int> &trainSamples);

class Testing {
public:
    // Run the whole search over the fixed grid w = {0.4}, lambda = {1.0}, or
    // over the given grids, on one thread, and append to the logs. The sample
    // table, labels and tree are read once; every fold's model is built from
    // them in memory.
    Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
            int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel);
    Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
            int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel,
            std::vector<float> ws, std::vector<float> lambdas);
    // Runs the whole search from inputs already in memory (`all`: every line
    // of the sample table with its class; `tree`: read from tFileName, copied
    // for each fold and not changed), fitting on `jobs` threads, and keeps the
    // logs' lines in detailedText, avrText and resultText for appendLogs().
    // The file names only name the inputs in the logs. With `progress`, a line
    // per finished fit goes there. With `converged`, every fold fits the
    // lambdas of each w as one path of converged fits, from the largest lambda
    // down, each starting from the solution before it. With `lambdasOfW`, w
    // Ws[v] is searched over its own grid lambdasOfW[v] (each as long as
    // `lambdas`).
    Testing(const Data &all, vessik::Tree *tree, std::string xFileName, std::string yFileName,
            std::string tFileName, int NTests, int KFold, std::string setsPrefix,
            std::string logPrefix, std::string resultLabel, std::vector<float> ws,
            std::vector<float> lambdas, int jobs, std::ostream *progress,
            const ConvergedOptions *converged = nullptr,
            std::vector<std::vector<float>> lambdasOfW = {});

    ~Testing();
    Testing(const Testing &) = delete;
    Testing &operator=(const Testing &) = delete;

    // Cross-validates every lambda of the grid at weight w, adds to the
    // detailed and averages logs' lines and returns the best average error.
    // The inputs are those of the constructor.
    float Test(std::string xFileName, std::string yFileName, std::string tFileName, float w);

    // Appends this run's lines to the three logs, whole or not at all; returns
    // the message to print after "error: " when that fails. `marks` (when
    // given) lets removeRun take the run out again.
    std::string appendLogs(std::vector<LogMark> *marks = nullptr) const;

    std::string xFileName;
    std::string yFileName;
    std::string tFileName;
    int NTests;
    int KFold;
    std::vector<std::string> setsFileNames; // one per repetition
    int NW;
    int NLambdas;
    std::vector<float> Ws;
    std::vector<float> Lambdas;
    std::string detailedLogName;
    std::string resultLogName;
    std::string avrLogName;

    // What the run found, for the summary: fits[point(v, l) * NTests * KFold
    // + i * KFold + j] is fold j of repetition i at w Ws[v], lambda Lambdas[l].
    // Only the fits of the chosen point (as the result log names it: the best
    // w and its best lambda) keep their nonzero coefficients.
    int point(int v, int l) const { return v * NLambdas + l; }
    float lambdaAt(int v, int l) const { return lambdasOfW[v][l]; }
    std::vector<std::vector<float>> lambdasOfW; // the lambda grid of each w
    std::vector<FitResult> fits;
    std::vector<double> gaps; // converged runs: the relative duality gap of each fit, as fits
    std::vector<float> averages;        // per grid point, as logged
    std::vector<int> bestLambdaIndex;   // per w, as the detailed log names it
    int bestWIndex = 0;                 // as the result log names it
    std::vector<std::vector<int>> testLines; // [i * KFold + j], ascending
    std::vector<std::vector<int>> trainLines; // [i * KFold + j], as the sets file lists them
    std::string detailedText;
    std::string avrText;
    std::string resultText;
    std::string logError; // the constructors that append: what went wrong, if anything

private:
    using FitOf = std::function<const FitResult &(int l, int i, int j)>;
    void setUp(const std::string &x, const std::string &y, const std::string &t, int nTests,
               int kFold, const std::string &setsPrefix, const std::string &logPrefix,
               const std::vector<float> &ws, const std::vector<float> &lambdas);
    void readFolds();
    FitResult fitFold(const FitTask &task) const;
    // Fits the path of one w and fold into `fits` and `gaps`; `perW`: fits per w.
    FitResult fitPath(const FitTask &task, std::size_t perW);
    std::vector<FitTask> tasksAt(float w, const std::vector<float> &lambdas) const;
    // Frees the coefficients kept in the fits of grid point p (none when p < 0).
    void dropCoefficients(int p);
    // Adds the lines of one w to the logs' texts, from the fits of its grid
    // points in log order; returns its best average error.
    float logW(const std::string &x, const std::string &y, float w,
               const std::vector<float> &lambdas, const FitOf &fitOf, int &bestLambda,
               std::vector<float> &averagesAtW);
    void runGrid(int jobs, std::ostream *progress, const std::string &resultLabel);

    const Data *all = nullptr;
    vessik::Tree *tree = nullptr;
    // What the constructors from file names read, kept for Test.
    Data readData;
    std::unique_ptr<vessik::Tree> readTree;
    int jobs = 1;
    bool useConverged = false;
    ConvergedOptions convergedOptions;
};

#endif
