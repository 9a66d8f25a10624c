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
#include <utility>

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

// A mean error as the summary writes it, so that the edge rule gives the
// same answer here and in the workflow, which reads written summaries.
double written(float meanError)
{
    return std::strtod(logText(meanError).c_str(), nullptr);
}

// The warning for choice `choice` at point p along one axis of the grid (the
// points that share its w, or its lambda with w from 0 to 1): given when the
// point lies at an end of the axis that has values beyond it (lambda above 0,
// w between 0 and 1) and the least mean error along the axis is reached there
// and at no point inside it. Where the least error is a plateau that reaches
// inside the grid, widening it would change nothing.
std::string axisWarning(const CvSummary &summary, int p, const std::string &choice,
                        bool alongLambda)
{
    const PointSummary &chosen = summary.points[p];
    const auto value = [alongLambda](const PointSummary &q) { return alongLambda ? q.lambda : q.w; };
    const auto onAxis = [&](const PointSummary &q) {
        return alongLambda ? q.w == chosen.w : q.lambda == chosen.lambda && q.w >= 0 && q.w <= 1;
    };
    if (!onAxis(chosen))
        return "";
    float least = value(chosen), most = value(chosen);
    double best = std::numeric_limits<double>::infinity();
    for (const PointSummary &q : summary.points)
        if (onAxis(q)) {
            least = std::min(least, value(q));
            most = std::max(most, value(q));
            if (std::isfinite(q.meanError))
                best = std::min(best, written(q.meanError));
        }
    const float here = value(chosen);
    const bool above = here == most && (alongLambda || most < 1);
    const bool below = here == least && least > 0;
    if (least == most || !(above || below) || written(chosen.meanError) != best)
        return "";
    for (const PointSummary &q : summary.points)
        if (onAxis(q) && value(q) > least && value(q) < most && written(q.meanError) == best)
            return "";
    const std::string axis = alongLambda ? "lambda" : "w";
    return "warning: the " + choice + " choice (w " + shortestText(chosen.w) + ", lambda " +
           shortestText(chosen.lambda) + ") is the grid's " + (above ? "largest " : "smallest ") +
           axis + " and no " + axis + " inside the grid does as well: try " + axis +
           (above ? " above " : " below ") + shortestText(here) + "\n";
}

bool isFile(const std::string &path)
{
    return std::ifstream(path).good();
}

// The names of a labels file's classes, in class order: the rest of each
// line that begins with '>' (a carriage return before the newline dropped).
std::vector<std::string> labelsFileNames(const std::string &path)
{
    std::vector<std::string> names;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] == '>') {
            if (line.back() == '\r')
                line.pop_back();
            names.push_back(line.substr(1));
        }
    return names;
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

std::string readStudyNames(const std::string &folder, const std::string &labelsPath,
                           const Data &all, StudyNames &names)
{
    names = StudyNames();
    const std::string classPath = folder + "classes.tsv", samplePath = folder + "samples.tsv";
    if (!isFile(classPath) || !isFile(samplePath))
        return "";
    ClassNames classes;
    SampleNames samples;
    std::string message = readClassNames(classPath, classes);
    if (message.empty() && static_cast<int>(classes.names.size()) != all.C)
        message = classPath + ": names " + std::to_string(classes.names.size()) +
                  " classes, the labels file has " + std::to_string(all.C);
    if (message.empty())
        message = readSampleNames(samplePath, samples);
    if (message.empty() && static_cast<int>(samples.ids.size()) != all.N)
        message = samplePath + ": names " + std::to_string(samples.ids.size()) +
                  " samples, the sample table has " + std::to_string(all.N);
    if (!message.empty())
        return message;

    // Class k is the labels file's k-th; the name files must know it by the
    // same name, whatever their order.
    const std::vector<std::string> labelNames = labelsFileNames(labelsPath);
    for (std::size_t k = 0; k < labelNames.size(); k++) {
        if (std::find(labelNames.begin(), labelNames.begin() + k, labelNames[k]) != labelNames.begin() + k)
            return labelsPath + ": names two classes \"" + labelNames[k] + "\"";
        if (std::find(classes.names.begin(), classes.names.end(), labelNames[k]) == classes.names.end())
            return classPath + ": has no class \"" + labelNames[k] + "\", which " + labelsPath +
                   " names";
    }
    for (int i = 0; samples.hasClasses && i < all.N; i++) {
        const std::string &own = labelNames[all.classes[i] - 1];
        if (samples.classes[i] != own)
            return samplePath + ":" + std::to_string(i + 2) + ": sample " + samples.ids[i] +
                   " has class \"" + samples.classes[i] + "\", " + labelsPath + " gives it \"" +
                   own + "\"";
    }
    names.classes = labelNames;
    names.samples = samples.ids;
    return "";
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
    return summarise(ws, std::vector<std::vector<float>>(ws.size(), lambdas), foldErrors, averages,
                     minPoint);
}

CvSummary summarise(const std::vector<float> &ws, const std::vector<std::vector<float>> &lambdasOfW,
                    const std::vector<std::vector<float>> &foldErrors,
                    const std::vector<float> &averages, int minPoint)
{
    CvSummary summary;
    for (std::size_t v = 0; v < ws.size(); v++)
        for (const float lambda : lambdasOfW[v]) {
            const std::size_t p = summary.points.size();
            summary.points.push_back({ws[v], lambda, averages[p], standardError(foldErrors[p]), false});
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

    for (const auto &[p, choice] : {std::pair{summary.minPoint, "min"}, std::pair{summary.oneSePoint, "1se"}})
        for (const bool alongLambda : {true, false}) {
            const std::string warning = axisWarning(summary, p, choice, alongLambda);
            summary.points[p].edge = summary.points[p].edge || !warning.empty();
            summary.warnings += warning;
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
    return summarise(run.Ws, run.lambdasOfW, foldErrors, run.averages, minPoint);
}

std::string summaryTable(const CvSummary &summary)
{
    std::ostringstream out;
    out << "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n";
    for (int p = 0; p < static_cast<int>(summary.points.size()); p++) {
        const PointSummary &point = summary.points[p];
        out << shortestText(point.w) << '\t' << shortestText(point.lambda) << '\t'
            << logText(point.meanError) << '\t' << logText(point.stdError) << '\t'
            << choiceOf(summary, p) << '\t' << (point.edge ? "yes" : "-") << '\n';
    }
    return out.str();
}

std::string edgeWarnings(const CvSummary &summary)
{
    return summary.warnings;
}

namespace {

struct Prediction {
    int repetition;
    int line; // from 0
    int fold;
    int truth;
    int predicted;
    const float *scores; // one per class, or null when the fit kept none
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
            const bool scored = all.C > 0 && fit.scores.size() == fit.predicted.size() * all.C;
            for (std::size_t k = 0; k < lines.size() && k < fit.predicted.size(); k++)
                rows.push_back({i, lines[k], j, all.classes[lines[k]], fit.predicted[k],
                                scored ? fit.scores.data() + k * all.C : nullptr});
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

std::string probabilitiesTable(const Testing &run, int point, const Data &all,
                               const StudyNames &names)
{
    std::ostringstream out;
    out << (names.samples.empty() ? "line" : "sample-id") << "\trepetition\tfold\ttrue_class";
    for (int k = 1; k <= all.C; k++)
        out << '\t' << names.className(k);
    out << '\n';
    char number[32];
    for (const Prediction &row : predictionsAt(run, point, all)) {
        if (row.scores == nullptr)
            continue;
        out << names.sampleName(row.line + 1) << '\t' << row.repetition << '\t' << row.fold << '\t'
            << names.className(row.truth);
        // exp(s_k) / sum_c exp(s_c), shifted by the largest score so that no term overflows.
        const float largest = *std::max_element(row.scores, row.scores + all.C);
        double sum = 0.0;
        for (int k = 0; k < all.C; k++)
            sum += std::exp(static_cast<double>(row.scores[k]) - largest);
        for (int k = 0; k < all.C; k++) {
            std::snprintf(number, sizeof number, "%.9g",
                          std::exp(static_cast<double>(row.scores[k]) - largest) / sum);
            out << '\t' << number;
        }
        out << '\n';
    }
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

double majorityClassError(const Data &all)
{
    std::vector<long> members(all.C > 0 ? all.C : 0, 0);
    for (int i = 0; i < all.N; i++)
        if (all.classes[i] >= 1 && all.classes[i] <= all.C)
            members[all.classes[i] - 1]++;
    if (all.N <= 0 || members.empty())
        return std::numeric_limits<double>::quiet_NaN();
    return 1.0 - static_cast<double>(*std::max_element(members.begin(), members.end())) / all.N;
}

std::string choicesNote(const CvSummary &summary)
{
    if (summary.points.empty())
        return "";
    std::ostringstream note;
    for (const auto &[name, index] : {std::pair<const char *, int>{"min", summary.minPoint},
                                      std::pair<const char *, int>{"1se", summary.oneSePoint}}) {
        const PointSummary &point = summary.points[index];
        note << "chosen (" << name << "): w " << shortestText(point.w) << ", lambda "
             << shortestText(point.lambda) << ", cross-validation error " << point.meanError
             << " (standard error " << static_cast<float>(point.stdError) << ")\n";
    }
    return note.str();
}
