// What report.html says about a run: the facts read from an Orvane-cv output
// folder (grid, folds, the model's point, the nested error), the balanced
// accuracy of a confusion matrix, the ROC curves and their area for two
// classes, what Orvane-prepare kept (prepare_note.tsv), and the methods
// paragraph built from them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "io/prepare_notes.h"
#include "io/text.h"
#include "report/Report.h"

std::vector<std::vector<std::string>> tsvRows(const std::string &tsv)
{
    std::vector<std::vector<std::string>> rows;
    std::size_t start = 0;
    while (start < tsv.size()) {
        std::size_t end = tsv.find('\n', start);
        if (end == std::string::npos)
            end = tsv.size();
        std::string line = tsv.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            rows.push_back(splitFields(line, '\t'));
        start = end + 1;
    }
    return rows;
}

std::string threeDigits(const std::string &number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", std::atof(number.c_str()));
    return text;
}

double balancedAccuracy(const std::vector<std::vector<long>> &confusion)
{
    double sum = 0;
    int classes = 0;
    for (std::size_t t = 0; t < confusion.size(); t++) {
        long total = 0;
        for (const long n : confusion[t])
            total += n;
        if (total > 0 && t < confusion[t].size()) {
            sum += static_cast<double>(confusion[t][t]) / total;
            classes++;
        }
    }
    return classes > 0 ? sum / classes : std::nan("");
}

double rocArea(const std::vector<double> &positives, const std::vector<double> &negatives)
{
    if (positives.empty() || negatives.empty())
        return std::nan("");
    double wins = 0;
    for (const double p : positives)
        for (const double n : negatives)
            wins += p > n ? 1.0 : p == n ? 0.5 : 0.0;
    return wins / (static_cast<double>(positives.size()) * negatives.size());
}

RocCurve rocCurve(const std::vector<double> &positives, const std::vector<double> &negatives)
{
    RocCurve curve{{{0.0, 0.0}}, rocArea(positives, negatives)};
    if (positives.empty() || negatives.empty())
        return curve;
    std::vector<std::pair<double, bool>> scored; // (score, positive)
    for (const double p : positives)
        scored.push_back({p, true});
    for (const double n : negatives)
        scored.push_back({n, false});
    std::sort(scored.begin(), scored.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    std::size_t truePositives = 0, falsePositives = 0;
    for (std::size_t i = 0; i < scored.size(); i++) {
        (scored[i].second ? truePositives : falsePositives)++;
        if (i + 1 == scored.size() || scored[i + 1].first != scored[i].first)
            curve.points.push_back({static_cast<double>(falsePositives) / negatives.size(),
                                    static_cast<double>(truePositives) / positives.size()});
    }
    return curve;
}

double meanRocArea(const std::vector<RocCurve> &curves)
{
    if (curves.empty())
        return std::nan("");
    double sum = 0;
    for (const RocCurve &curve : curves)
        sum += curve.area;
    return sum / curves.size();
}

namespace {

// Two classes: each repetition's ROC curve from cv_probabilities.tsv, whose
// class columns must be the model's classes in its order.
void readProbabilities(const std::string &probabilities, const ClassNames &classes, CrossValidationFacts &facts)
{
    const auto rows = tsvRows(probabilities);
    if (classes.names.size() != 2 || rows.empty() || rows[0].size() != 6 || rows[0][4] != classes.names[0] ||
        rows[0][5] != classes.names[1])
        return;
    std::map<int, std::pair<std::vector<double>, std::vector<double>>> byRepetition; // positives, negatives
    for (std::size_t r = 1; r < rows.size(); r++) {
        const auto &row = rows[r];
        if (row.size() != 6 || (row[3] != classes.names[0] && row[3] != classes.names[1]))
            return;  // another study's file: better no curve than a wrong one
        auto &scores = byRepetition[std::atoi(row[1].c_str())];
        (row[3] == classes.names[1] ? scores.first : scores.second).push_back(std::atof(row[5].c_str()));
    }
    for (const auto &[repetition, scores] : byRepetition)
        if (!scores.first.empty() && !scores.second.empty())
            facts.roc.push_back(rocCurve(scores.first, scores.second));
    facts.positiveClass = classes.names[1];
}

// The settings cv_settings.tsv records (key, value lines after a header).
void readSettings(const std::string &settings, CrossValidationFacts &facts)
{
    const std::pair<const char *, std::string *> keys[] = {
        {"solver", &facts.solver},          {"tol", &facts.tol},
        {"nlambda", &facts.nLambda},        {"lambda_ratio", &facts.lambdaRatio},
        {"nested_inner_folds", &facts.innerFolds}, {"nested_seed", &facts.nestedSeed},
        {"folds_seed", &facts.foldsSeed},   {"groups", &facts.groups}};
    const auto rows = tsvRows(settings);
    for (std::size_t r = 1; r < rows.size(); r++)
        for (const auto &[key, value] : keys)
            if (rows[r].size() == 2 && rows[r][0] == key)
                *value = rows[r][1];
}

// Whether a comma-separated list of choices, such as "min,1se", holds `choice`.
bool holdsChoice(const std::string &choices, const std::string &choice)
{
    for (const std::string &item : splitFields(choices, ','))
        if (item == choice)
            return true;
    return false;
}

// Grid, the model's point and whether the out-of-fold files describe it, from cv_summary.tsv.
void readSummary(const std::string &summary, CrossValidationFacts &facts)
{
    const auto rows = tsvRows(summary);
    std::vector<std::vector<std::string>> lambdasOfW;
    for (std::size_t r = 1; r < rows.size(); r++) {
        const auto &row = rows[r];
        if (row.size() < 5)
            continue;
        const std::size_t v = std::find(facts.ws.begin(), facts.ws.end(), row[0]) - facts.ws.begin();
        if (v == facts.ws.size()) {
            facts.ws.push_back(row[0]);
            lambdasOfW.emplace_back();
        }
        lambdasOfW[v].push_back(row[1]);
        if (!facts.choice.empty() && holdsChoice(row[4], facts.choice)) {
            facts.pointKnown = true;
            facts.w = row[0];
            facts.lambda = row[1];
            facts.pointError = row[2];
            facts.pointStdError = row[3];
            facts.atMinPoint = holdsChoice(row[4], "min");
        }
    }
    for (const auto &lambdas : lambdasOfW) {
        facts.lambdasPerW = std::max(facts.lambdasPerW, lambdas.size());
        facts.lambdaGridPerW = facts.lambdaGridPerW || lambdas != lambdasOfW.front();
    }
}

// The outer folds and the "mean" and "std_error" rows of cv_nested.tsv.
void readNested(const std::string &nested, CrossValidationFacts &facts)
{
    for (const auto &row : tsvRows(nested)) {
        if (row.empty() || row[0] == "repetition")
            continue;
        if (row[0] == "mean")
            facts.nestedMean = row.back();
        else if (row[0] == "std_error")
            facts.nestedStdError = row.back();
        else
            facts.outerFolds++;
    }
    facts.nested = !facts.nestedMean.empty();
}

// Repetitions and folds: the largest numbers cv_predictions.tsv gives, plus one.
void readFolds(const std::string &predictions, CrossValidationFacts &facts)
{
    const auto rows = tsvRows(predictions);
    for (std::size_t r = 1; r < rows.size(); r++)
        if (rows[r].size() >= 3) {
            facts.repetitions = std::max(facts.repetitions, std::atoi(rows[r][1].c_str()) + 1);
            facts.folds = std::max(facts.folds, std::atoi(rows[r][2].c_str()) + 1);
        }
}

// cv_confusion.tsv by class name, so that its order need not be the model's.
void readConfusion(const std::string &counts, const ClassNames &classes, CrossValidationFacts &facts)
{
    const auto rows = tsvRows(counts);
    if (rows.empty())
        return;
    const auto classOf = [&](const std::string &name) {
        const auto at = std::find(classes.names.begin(), classes.names.end(), name);
        return at == classes.names.end() ? -1 : static_cast<int>(at - classes.names.begin());
    };
    const std::size_t C = classes.names.size();
    std::vector<std::vector<long>> confusion(C, std::vector<long>(C, 0));
    for (std::size_t r = 1; r < rows.size(); r++) {
        const int t = classOf(rows[r][0]);
        for (std::size_t c = 1; c < rows[r].size() && c < rows[0].size() && t >= 0; c++) {
            const int p = classOf(rows[0][c]);
            if (p < 0)
                return;  // another study's matrix: better none than a wrong one
            confusion[t][p] = std::atol(rows[r][c].c_str());
        }
        if (t < 0)
            return;
    }
    facts.confusion = confusion;
}

std::string listed(const std::vector<std::string> &items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); i++)
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return text;
}

std::string plural(std::size_t n, const std::string &one, const std::string &many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "Feces: 4, Skin: 3": each class with its number of training samples.
std::string classSizes(const HtmlReport &report)
{
    std::string text;
    for (const std::string &name : report.classes.names)
        text += (text.empty() ? "" : ", ") + name + ": " +
                std::to_string(std::count(report.trainingSamples.classes.begin(),
                                          report.trainingSamples.classes.end(), name));
    return text;
}

std::string ruleText(const std::string &choice)
{
    return choice == "1se" ? "the one-standard-error rule (the largest lambda whose mean error is within "
                             "one standard error of the least)"
                           : "the least mean cross-validation error";
}

// ", in 2 repetitions of 5-fold cross-validation (folds drawn by
// Orvane-folds with seed 1)", when the folder tells.
std::string foldsText(const CrossValidationFacts &cv)
{
    if (cv.repetitions == 0)
        return "";
    return ", in " + plural(cv.repetitions, "repetition", "repetitions") + " of " + std::to_string(cv.folds) +
           "-fold cross-validation" +
           (cv.foldsSeed.empty() ? "" : " (folds drawn by Orvane-folds with seed " + cv.foldsSeed + ")");
}

// " The folds (and the nested run's inner folds) kept ... together.", when
// the run recorded a groups file.
std::string groupsText(const CrossValidationFacts &cv)
{
    if (cv.groups.empty())
        return "";
    return std::string(" The folds") + (cv.nested ? " and the inner folds of the nested cross-validation" : "") +
           " kept the samples of each group of " + fileName(cv.groups) +
           " together, so that no model was tested on a group it was trained on.";
}

// How the tree of the kept taxa came to be.
std::string treeText(const PreparationFacts &prepared)
{
    if (prepared.treeSource == "taxonomy")
        return "the tree was built from the taxa's taxonomy (" +
               (prepared.taxonomy.empty() ? std::string("the table's own") : fileName(prepared.taxonomy)) + ")";
    std::string text = "the tree is the study's own (" + fileName(prepared.tree) + ")";
    if (prepared.treeSource == "grafted")
        text += " with " + plural(prepared.featuresGrafted, "taxon", "taxa") + " grafted onto it by taxonomy";
    return text + ", pruned to the kept taxa";
}

// " They were prepared with Orvane-prepare from ...": what it kept, and the tree.
std::string preparationText(const PreparationFacts &prepared)
{
    std::string text = " They were prepared with Orvane-prepare from the feature table " + fileName(prepared.table) +
                       " and the column " + prepared.column + " of " + fileName(prepared.metadata) + ", keeping " +
                       std::to_string(prepared.samplesKept) + " of its " +
                       plural(prepared.samplesInTable, "sample", "samples");
    if (!prepared.minCount.empty())
        text += " (" + std::to_string(prepared.samplesBelowMinCount) +
                " left out for fewer than " + prepared.minCount + " reads on the kept taxa)";
    return text + " and " + std::to_string(prepared.featuresKept) + " of its " +
           plural(prepared.featuresInTable, "taxon", "taxa") + ", which hold " +
           shareText(prepared.readsKept / prepared.reads) + " of the kept samples' reads; " + treeText(prepared) +
           ".";
}

// How the fits were made and the lambda grid drawn, when the run recorded it.
std::string solverText(const CrossValidationFacts &cv)
{
    std::string text;
    if (cv.solver == "cyclic")
        text += " Each fit used the cyclic coordinate-descent solver.";
    else if (cv.solver == "converged")
        text += " In each fold the lambda values of each w were fitted as one warm-started path, from the "
                "largest down, each fit to a relative duality gap below " + cv.tol + ".";
    if (!cv.nLambda.empty() && !cv.lambdaRatio.empty())
        text += " The lambda values of each w were " + cv.nLambda + " values log-spaced from lambda_max (the "
                "least lambda that keeps every coefficient at zero) down to " + cv.lambdaRatio + " x lambda_max.";
    return text;
}

} // namespace

std::string fileName(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

int selectedTaxonCount(const Coefficients &model)
{
    int n = 0;
    for (int j = 0; j < model.nFeatures; j++) {
        bool any = false;
        for (int k = 0; k < model.nClasses; k++)
            any = any || model.at(k, j) != 0.0f;
        n += any ? 1 : 0;
    }
    return n;
}

CrossValidationFacts crossValidationFacts(const CrossValidationFiles &cv, const std::string &choice,
                                          const ClassNames &classes)
{
    CrossValidationFacts facts;
    facts.given = true;
    facts.folder = cv.folder;
    facts.choice = choice;
    readSummary(cv.summary, facts);
    readNested(cv.nested, facts);
    readFolds(cv.predictions, facts);
    readConfusion(cv.counts, classes, facts);
    readProbabilities(cv.probabilities, classes, facts);
    readSettings(cv.settings, facts);
    return facts;
}

std::string methodsText(const HtmlReport &report, const CrossValidationFacts &cv)
{
    std::ostringstream text;
    const std::size_t nSamples = report.trainingSamples.ids.size();
    text << "Samples were classified with Orvane " << report.version
         << ", a multinomial logistic regression whose coefficients are penalised along the phylogenetic "
            "tree of the taxa (a lasso term for each taxon and a group term for each clade). The training data ("
         << report.dataDir << ") held " << plural(nSamples, "sample", "samples") << " in "
         << plural(report.classes.names.size(), "class", "classes") << " (" << classSizes(report) << ") and "
         << plural(report.features.ids.size(), "taxon", "taxa");
    if (report.features.hasGrafted && report.preparation == nullptr) {
        const auto grafted = std::count(report.features.grafted.begin(), report.features.grafted.end(), true);
        text << ", " << grafted << " of them placed on the tree by their taxonomy";
    }
    text << ".";
    if (report.preparation != nullptr)
        text << preparationText(*report.preparation);
    if (cv.given && cv.pointKnown) {
        text << " The model was fitted to all training samples at w = " << cv.w << " and lambda = "
             << threeDigits(cv.lambda) << ", the point chosen by " << ruleText(cv.choice) << " over a grid of "
             << plural(cv.ws.size(), "value", "values") << " of w (" << listed(cv.ws) << ") and "
             << plural(cv.lambdasPerW, "value", "values") << " of lambda"
             << (cv.lambdaGridPerW ? " for each w, each w with a grid of its own" : "") << foldsText(cv)
             << ".";
    } else if (cv.given) {
        text << " A grid of " << plural(cv.ws.size(), "value", "values") << " of w and "
             << plural(cv.lambdasPerW, "value", "values") << " of lambda was cross-validated" << foldsText(cv)
             << ".";
    }
    if (cv.given)
        text << groupsText(cv) << solverText(cv);
    if (cv.nested)
        text << " A nested cross-validation, in which each of " << cv.outerFolds
             << " outer folds chose w and lambda by cross-validating its own training samples"
             << (cv.innerFolds.empty() || cv.nestedSeed.empty()
                     ? std::string()
                     : " (" + cv.innerFolds + "-fold, folds drawn with seed " + cv.nestedSeed + ")")
             << ", gave an error of "
             << threeDigits(cv.nestedMean) << " \u00b1 " << threeDigits(cv.nestedStdError)
             << " (mean \u00b1 standard error).";
    text << " The model keeps " << plural(selectedTaxonCount(report.model), "taxon", "taxa")
         << " with a nonzero coefficient.";
    return text.str();
}

namespace {

// A whole number from 0 up, as prepare_note.tsv writes counts.
bool wholeNumber(const std::string &text, long long &value)
{
    char *end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && text[0] != '-' && *end == '\0' && value >= 0 && value < (1LL << 53);
}

// A count of reads: a finite number from 0 up.
bool readCount(const std::string &text, double &value)
{
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value) && value >= 0;
}

} // namespace

std::string readPreparationFacts(const std::string &path, const std::string &text, PreparationFacts &facts)
{
    facts = PreparationFacts();
    std::map<std::string, std::pair<std::string, std::size_t>> values;  // key: value, line
    std::istringstream lines(text);
    std::size_t number = 0;
    for (std::string line; std::getline(lines, line);) {
        number++;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos)
            return where + "not a key<TAB>value line";
        if (number == 1 && line != "key\tvalue")
            return where + "the header is not key<TAB>value (not a note Orvane-prepare writes)";
        if (number > 1 && !values.emplace(line.substr(0, tab), std::make_pair(line.substr(tab + 1), number)).second)
            return where + "key " + quote(line.substr(0, tab)) + " given twice";
    }
    const auto lacking = [&](const char *key) { return values.count(key) == 0; };
    for (const char *key : {"table", "metadata", "column", "tree", "tree_source", "samples_in_table", "samples_kept",
                            "features_in_table", "features_kept", "reads", "reads_kept"})
        if (lacking(key))
            return path + ": lacks the key " + key;
    const auto field = [&](const char *key) { return values[key].first; };
    const auto at = [&](const char *key) { return path + ":" + std::to_string(values[key].second) + ": "; };
    facts.table = field("table"), facts.metadata = field("metadata"), facts.column = field("column");
    facts.tree = field("tree"), facts.treeSource = field("tree_source");
    if (!lacking("taxonomy"))
        facts.taxonomy = field("taxonomy");
    if (facts.treeSource != "given" && facts.treeSource != "grafted" && facts.treeSource != "taxonomy")
        return at("tree_source") + "tree_source is " + quote(facts.treeSource) + ", not given, grafted or taxonomy";
    const std::pair<const char *, long long *> counts[] = {
        {"samples_in_table", &facts.samplesInTable}, {"samples_kept", &facts.samplesKept},
        {"samples_below_min_count", &facts.samplesBelowMinCount}, {"features_in_table", &facts.featuresInTable},
        {"features_kept", &facts.featuresKept}, {"features_grafted", &facts.featuresGrafted}};
    for (const auto &[key, value] : counts)
        if (!lacking(key) && !wholeNumber(field(key), *value))
            return at(key) + key + " is " + quote(field(key)) + ", not a whole number";
    if (facts.treeSource == "grafted" && lacking("features_grafted"))
        return path + ": lacks the key features_grafted (tree_source is grafted)";
    if (!lacking("min_count")) {
        facts.minCount = field("min_count");
        if (lacking("samples_below_min_count"))
            return path + ": lacks the key samples_below_min_count (min_count is given)";
    }
    if (!readCount(field("reads"), facts.reads) || !(facts.reads > 0))
        return at("reads") + "reads is " + quote(field("reads")) + ", not a count above 0";
    if (!readCount(field("reads_kept"), facts.readsKept) || facts.readsKept > facts.reads)
        return at("reads_kept") + "reads_kept is " + quote(field("reads_kept")) + ", not a count up to reads";
    if (facts.samplesKept > facts.samplesInTable || facts.featuresKept > facts.featuresInTable)
        return path + ": keeps more samples or features than the table holds";
    return "";
}
