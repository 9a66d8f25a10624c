// What a cross-validation run tells a person and a script: the mean error of
// each grid point with its standard error, the point of least mean error and
// the one-standard-error point, the out-of-fold predictions at the point of
// least mean error and their confusion matrix, as tab-separated text.
#ifndef ORVANE_SUMMARY_H
#define ORVANE_SUMMARY_H

#include <string>
#include <vector>

#include "model/Logistic.h"
#include "validation/Testing.h"

// Class names and sample IDs of a study, when the data folder has them:
// empty vectors otherwise, and a name missing from them falls back to its number.
struct StudyNames {
    std::vector<std::string> classes; // class k is classes[k - 1]
    std::vector<std::string> samples; // sample-table line n (from 1) is samples[n - 1]

    std::string className(int k) const;
    std::string sampleName(int line) const;
};

// Reads classes.tsv and samples.tsv from `folder` (ending in '/', or empty for
// the current folder) when both exist there; names stay empty otherwise.
// Class k is named as the labels file `labelsPath` (read into `all`) names
// it, and the name files must agree by name, not by position: classes.tsv
// must hold every one of those names, and the class samples.tsv gives each
// sample must be the one the labels file gives it. Returns the message to
// print after "error: " for a malformed file, another number of classes or
// samples, or a name that does not match.
std::string readStudyNames(const std::string &folder, const std::string &labelsPath,
                           const Data &all, StudyNames &names);

struct PointSummary {
    float w;
    float lambda;
    float meanError;  // the average of the logs
    double stdError;  // sample standard deviation of the fold errors / sqrt(their number)
    bool edge = false; // a chosen point that an edge warning names
};

struct CvSummary {
    std::vector<PointSummary> points; // w outer, lambda inner, as in the logs
    int minPoint = 0;
    int oneSePoint = 0;
    std::string warnings; // see edgeWarnings
};

// The summary of a grid: foldErrors[p] holds the fold errors of all
// repetitions at point p (w outer, lambda inner), averages[p] the average the
// logs give, and minPoint the point of least mean error as the logs choose it.
// The one-standard-error point is, among the points whose mean error is at
// most the least one plus its standard error, the one of largest lambda, then
// the first in grid order (so the earliest w).
CvSummary summarise(const std::vector<float> &ws, const std::vector<float> &lambdas,
                    const std::vector<std::vector<float>> &foldErrors,
                    const std::vector<float> &averages, int minPoint);
// The same with a lambda grid of its own for each w.
CvSummary summarise(const std::vector<float> &ws, const std::vector<std::vector<float>> &lambdasOfW,
                    const std::vector<std::vector<float>> &foldErrors,
                    const std::vector<float> &averages, int minPoint);
// The same for a finished run.
CvSummary summarise(const Testing &run);

// Shortest decimal text that reads back (strtod, then narrowed) to the same float.
std::string shortestText(float value);

std::string summaryTable(const CvSummary &summary);
// Two lines naming the min and the 1se points with their mean and standard error.
std::string choicesNote(const CvSummary &summary);
// One "warning: ..." line for each choice (min, then 1se) and axis (lambda,
// then w) along which the least mean error is reached at the choice, at an
// end of the grid, and at no point inside the grid, naming the way to widen it.
std::string edgeWarnings(const CvSummary &summary);

// Out-of-fold prediction of every held-out sample at grid point `point`, by
// repetition, then sample line, then fold.
std::string predictionsTable(const Testing &run, int point, const Data &all,
                             const StudyNames &names);
// The out-of-fold probability of every class (a column per class, named as
// the class) for each held-out sample at grid point `point`, in the order of
// predictionsTable.
std::string probabilitiesTable(const Testing &run, int point, const Data &all,
                               const StudyNames &names);
// counts[t - 1][p - 1]: held-out samples of class t predicted as p, over all
// repetitions at grid point `point`.
std::vector<std::vector<long>> confusionCounts(const Testing &run, int point, const Data &all);
std::string confusionTable(const std::vector<std::vector<long>> &counts, const StudyNames &names);

// The error curve against lambda, one line per w (each its own colour with
// a dash pattern and marker) with standard-error bars, both choices marked,
// and the error of always calling the majority class as a reference line
// (none when NaN), in SVG.
std::string curveSvg(const CvSummary &summary, double majorityError);
// The error of calling every sample of `all` its most common class.
double majorityClassError(const Data &all);
// The confusion matrix as a heat map with a colour scale, titled with the
// grid point it was taken at (`point`, such as "w 0.5, lambda 1 (min)").
std::string confusionSvg(const std::vector<std::vector<long>> &counts, const StudyNames &names,
                         const std::string &point);

#endif
