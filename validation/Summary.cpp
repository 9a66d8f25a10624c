#include "validation/Summary.h"

#include "io/names.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>

namespace {

// The number as the logs write it: six significant digits.
std::string logText(double value)
{
    std::ostringstream out;
    out << static_cast<float>(value);
    return out.str();
}

// Standard error of the mean of `errors`: sample standard deviation (n - 1)
// over sqrt(n), in double; NaN for fewer than two values.
double standardError(const std::vector<float> &errors)
{
    const double n = static_cast<double>(errors.size());
    if (errors.size() < 2)
        return std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    for (const float e : errors)
        sum += e;
    const double mean = sum / n;
    double squares = 0.0;
    for (const float e : errors)
        squares += (e - mean) * (e - mean);
    return std::sqrt(squares / (n - 1.0)) / std::sqrt(n);
}

// The edges of an axis a value lies on. An axis of one value was not
// searched, and a bound of the parameter itself (lambda 0, w 0 or 1) has
// nothing beyond it, so neither counts as an edge.
void addEdges(float value, const std::vector<float> &axis, float lowest, float highest,
              const char *name, std::vector<std::string> &edges)
{
    std::vector<float> values;
    for (const float a : axis)
        if (a >= lowest && a <= highest)
            values.push_back(a);
    if (!(value >= lowest && value <= highest) || values.empty())
        return;
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    if (*least == *most)
        return;
    if (value == *least && value > lowest)
        edges.push_back(std::string("smallest ") + name);
    if (value == *most && value < highest)
        edges.push_back(std::string("largest ") + name);
}

std::string choiceOf(const CvSummary &summary, int p)
{
    if (p == summary.minPoint && p == summary.oneSePoint)
        return "min,1se";
    if (p == summary.minPoint)
        return "min";
    if (p == summary.oneSePoint)
        return "1se";
    return "-";
}

bool isChosen(const CvSummary &summary, int p)
{
    return p == summary.minPoint || p == summary.oneSePoint;
}

bool isFile(const std::string &path)
{
    return std::ifstream(path).good();
}

} // namespace

std::string StudyNames::className(int k) const
{
    return k >= 1 && k <= static_cast<int>(classes.size()) && !classes[k - 1].empty()
               ? classes[k - 1]
               : std::to_string(k);
}

std::string StudyNames::sampleName(int line) const
{
    return line >= 1 && line <= static_cast<int>(samples.size()) && !samples[line - 1].empty()
               ? samples[line - 1]
               : std::to_string(line);
}

std::string readStudyNames(const std::string &folder, int nSamples, int nClasses,
                           StudyNames &names)
{
    names = StudyNames();
    const std::string classPath = folder + "classes.tsv", samplePath = folder + "samples.tsv";
    if (!isFile(classPath) || !isFile(samplePath))
        return "";
    ClassNames classes;
    SampleNames samples;
    std::string message = readClassNames(classPath, classes);
    if (message.empty() && static_cast<int>(classes.names.size()) != nClasses)
        message = classPath + ": names " + std::to_string(classes.names.size()) +
                  " classes, the labels file has " + std::to_string(nClasses);
    if (message.empty())
        message = readSampleNames(samplePath, samples);
    if (message.empty() && static_cast<int>(samples.ids.size()) != nSamples)
        message = samplePath + ": names " + std::to_string(samples.ids.size()) +
                  " samples, the sample table has " + std::to_string(nSamples);
    if (message.empty()) {
        names.classes = classes.names;
        names.samples = samples.ids;
    }
    return message;
}

std::string shortestText(float value)
{
    const auto readsBack = [value](const char *text) {
        return static_cast<float>(std::strtod(text, nullptr)) == value;
    };
    char text[64], plain[64];
    for (int digits = 1; digits <= 9; digits++) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (!readsBack(text))
            continue;
        // "10" rather than "1e+01": the exponent form only where it is shorter.
        const char *exponent = std::strchr(text, 'e');
        if (exponent != nullptr) {
            const int places = std::max(0, digits - 1 - std::atoi(exponent + 1));
            std::snprintf(plain, sizeof plain, "%.*f", places, static_cast<double>(value));
            if (std::strlen(plain) <= std::strlen(text) && readsBack(plain))
                return plain;
        }
        return text;
    }
    return text;
}

CvSummary summarise(const std::vector<float> &ws, const std::vector<float> &lambdas,
                    const std::vector<std::vector<float>> &foldErrors,
                    const std::vector<float> &averages, int minPoint)
{
    CvSummary summary;
    const int NL = static_cast<int>(lambdas.size());
    for (std::size_t v = 0; v < ws.size(); v++)
        for (int l = 0; l < NL; l++) {
            const std::size_t p = v * NL + l;
            summary.points.push_back({ws[v], lambdas[l], averages[p], standardError(foldErrors[p]), {}});
        }
    if (summary.points.empty())
        return summary;
    summary.minPoint = minPoint;

    const PointSummary &least = summary.points[minPoint];
    const double limit = static_cast<double>(least.meanError) + least.stdError;
    summary.oneSePoint = minPoint;
    // The largest lambda; of equal ones the first in grid order, so the earliest w.
    for (int p = 0; p < static_cast<int>(summary.points.size()); p++) {
        const PointSummary &point = summary.points[p];
        if (static_cast<double>(point.meanError) <= limit &&
            (point.lambda > summary.points[summary.oneSePoint].lambda ||
             (point.lambda == summary.points[summary.oneSePoint].lambda && p < summary.oneSePoint)))
            summary.oneSePoint = p;
    }

    for (const int p : {summary.minPoint, summary.oneSePoint}) {
        PointSummary &chosen = summary.points[p];
        chosen.edges.clear();
        addEdges(chosen.lambda, lambdas, 0.0f, std::numeric_limits<float>::infinity(), "lambda",
                 chosen.edges);
        addEdges(chosen.w, ws, 0.0f, 1.0f, "w", chosen.edges);
    }
    return summary;
}

CvSummary summarise(const Testing &run)
{
    const int foldsPerPoint = run.NTests * run.KFold;
    std::vector<std::vector<float>> foldErrors(run.averages.size());
    for (std::size_t p = 0; p < foldErrors.size(); p++)
        for (int f = 0; f < foldsPerPoint; f++)
            foldErrors[p].push_back(run.fits[p * foldsPerPoint + f].error);
    const int minPoint = run.NW > 0 && run.NLambdas > 0
                             ? run.point(run.bestWIndex, run.bestLambdaIndex[run.bestWIndex])
                             : 0;
    return summarise(run.Ws, run.Lambdas, foldErrors, run.averages, minPoint);
}

std::string summaryTable(const CvSummary &summary)
{
    std::ostringstream out;
    out << "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n";
    for (int p = 0; p < static_cast<int>(summary.points.size()); p++) {
        const PointSummary &point = summary.points[p];
        const bool edge = isChosen(summary, p) && !point.edges.empty();
        out << shortestText(point.w) << '\t' << shortestText(point.lambda) << '\t'
            << logText(point.meanError) << '\t' << logText(point.stdError) << '\t'
            << choiceOf(summary, p) << '\t' << (edge ? "yes" : "-") << '\n';
    }
    return out.str();
}

std::string edgeWarnings(const CvSummary &summary)
{
    std::string warnings;
    for (int p = 0; p < static_cast<int>(summary.points.size()); p++) {
        const PointSummary &point = summary.points[p];
        if (!isChosen(summary, p) || point.edges.empty())
            continue;
        std::string where;
        for (const std::string &edge : point.edges)
            where += (where.empty() ? "" : " and the ") + edge;
        warnings += "warning: the " + choiceOf(summary, p) + " choice (w " + shortestText(point.w) +
                    ", lambda " + shortestText(point.lambda) + ") is the " + where +
                    " of the grid: a better value may lie beyond it\n";
    }
    return warnings;
}

namespace {

struct Prediction {
    int repetition;
    int line; // from 0
    int fold;
    int truth;
    int predicted;
};

std::vector<Prediction> predictionsAt(const Testing &run, int point, const Data &all)
{
    std::vector<Prediction> rows;
    const int foldsPerPoint = run.NTests * run.KFold;
    for (int i = 0; i < run.NTests; i++)
        for (int j = 0; j < run.KFold; j++) {
            const int f = i * run.KFold + j;
            const std::vector<int> &lines = run.testLines[f];
            const FitResult &fit = run.fits[static_cast<std::size_t>(point) * foldsPerPoint + f];
            for (std::size_t k = 0; k < lines.size() && k < fit.predicted.size(); k++)
                rows.push_back({i, lines[k], j, all.classes[lines[k]], fit.predicted[k]});
        }
    std::sort(rows.begin(), rows.end(), [](const Prediction &a, const Prediction &b) {
        return std::tie(a.repetition, a.line, a.fold) < std::tie(b.repetition, b.line, b.fold);
    });
    return rows;
}

} // namespace

std::string predictionsTable(const Testing &run, int point, const Data &all,
                             const StudyNames &names)
{
    std::ostringstream out;
    out << (names.samples.empty() ? "line" : "sample-id")
        << "\trepetition\tfold\ttrue_class\tpredicted_class\n";
    for (const Prediction &row : predictionsAt(run, point, all))
        out << names.sampleName(row.line + 1) << '\t' << row.repetition << '\t' << row.fold << '\t'
            << names.className(row.truth) << '\t' << names.className(row.predicted) << '\n';
    return out.str();
}

std::vector<std::vector<long>> confusionCounts(const Testing &run, int point, const Data &all)
{
    const int C = all.C > 0 ? all.C : 0;
    std::vector<std::vector<long>> counts(C, std::vector<long>(C, 0));
    for (const Prediction &row : predictionsAt(run, point, all))
        if (row.truth >= 1 && row.truth <= C && row.predicted >= 1 && row.predicted <= C)
            counts[row.truth - 1][row.predicted - 1]++;
    return counts;
}

std::string confusionTable(const std::vector<std::vector<long>> &counts, const StudyNames &names)
{
    std::ostringstream out;
    out << "true\\predicted";
    for (std::size_t k = 0; k < counts.size(); k++)
        out << '\t' << names.className(static_cast<int>(k) + 1);
    out << '\n';
    for (std::size_t t = 0; t < counts.size(); t++) {
        out << names.className(static_cast<int>(t) + 1);
        for (const long n : counts[t])
            out << '\t' << n;
        out << '\n';
    }
    return out.str();
}
