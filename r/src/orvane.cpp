// The R package's bridge to Orvane's C++ libraries: a fit from a matrix of
// counts, class numbers and a study tree, and the scores of new samples under
// a model's coefficients. Both go through the code behind `Orvane -train` and
// `Orvane -test` (the same data set building, tree reader, fit and
// classification), so a fit writes the same model file as the program.
#include <Rcpp.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/study_tree.h"
#include "io/taxonomy_tree.h"
#include "model/Logistic.h"
#include "model/SampleTable.h"
#include "tree/newick.h"

// The libraries send their messages to one sink (tree/messages.h), which
// writes to the standard streams unless replaced: the bridge replaces it for
// every call, keeps the errors a call sends and raises them as the R error.
// Sources from before that sink print their errors to standard error.
#if __has_include("tree/messages.h")
#include "tree/messages.h"
#define ORVANE_MESSAGE_SINK
#endif

namespace {

// The error messages the libraries send while this lives, joined by "; ";
// their other messages are dropped.
class LibraryErrors {
public:
    std::string text;
#ifdef ORVANE_MESSAGE_SINK
    LibraryErrors()
        : sink([this](vessik::MessageKind kind, const std::string &message) {
              if (kind != vessik::MessageKind::Error)
                  return;
              std::string line = message;
              while (!line.empty() && line.back() == '\n')
                  line.pop_back();
              text += (text.empty() ? "" : "; ") + line;
          })
    {
    }

private:
    vessik::ScopedMessageSink sink;
#endif
};

// Frees a model's arrays, data set and tree however the function leaves.
struct ModelRelease {
    Logistic &model;
    ~ModelRelease() { model.del(); }
};

std::string quoted(const std::string &text)
{
    return "'" + text + "'";
}

std::string rowName(const Rcpp::CharacterVector &names, int i)
{
    return i < names.size() ? quoted(Rcpp::as<std::string>(names[i])) : std::to_string(i + 1);
}

// The samples (rows of `x`) as the sample table reader leaves them: values in
// float, row-major, each finite and at least 0, each row with a positive sum
// taken in float in column order (the sum the rows are scaled by).
SampleTable sampleTableOf(const Rcpp::NumericMatrix &x, const Rcpp::CharacterVector &rowNames)
{
    const int n = x.nrow();
    const int m = x.ncol();
    if (n == 0 || m == 0)
        Rcpp::stop("no samples or no taxa: the table is " + std::to_string(n) + " x " +
                   std::to_string(m));
    if (!fits(n, m))
        Rcpp::stop(tooLarge(n, "samples", m, "taxa"));
    SampleTable table;
    for (int i = 0; i < n; i++) {
        float sum = 0.0f;
        for (int j = 0; j < m; j++) {
            const float value = static_cast<float>(x(i, j));
            if (!std::isfinite(value) || value < 0.0f)
                Rcpp::stop("sample " + rowName(rowNames, i) +
                           " has a count that is not a finite number of at least 0");
            // As the reader keeps them: each row's nonzero values, in column order.
            if (value != 0.0f) {
                sum += value;
                table.add(j, value);
            }
        }
        table.rowStart.push_back(table.rowStart.back());
        if (sum == 0.0f)
            Rcpp::stop("sample " + rowName(rowNames, i) + " has no counts in the taxa");
        if (!std::isfinite(sum))
            Rcpp::stop("the counts of sample " + rowName(rowNames, i) +
                       " sum beyond single precision");
    }
    table.nLines = table.nSamples = n;
    table.nFeatures = m;
    return table;
}

// The study tree at `path` pruned to the taxa, in the form `Orvane -train`
// reads: one line of Newick whose leaves are the taxa's column numbers.
// The tree as fitted, and the taxa in the order of its columns.
struct FittedTree {
    std::string text;
    std::vector<int> columns;  // the column of `x` each model column takes
};

// As Orvane-prepare orders a data folder: the children of every node by the
// smallest taxon ID below them, the columns in the order of the tips.
FittedTree orvaneTreeText(const std::string &path, const std::string &shownPath,
                          const std::vector<std::string> &taxa)
{
    StudyTree study;
    std::string problem = readStudyTree(path, study);
    if (!problem.empty()) {
        if (problem.compare(0, path.size(), path) == 0)
            problem = shownPath + problem.substr(path.size());
        Rcpp::stop(problem);
    }
    std::unordered_map<std::string, int> columnOf;
    for (std::size_t j = 0; j < taxa.size(); j++)
        if (!columnOf.emplace(taxa[j], static_cast<int>(j)).second)
            Rcpp::stop("taxon " + quoted(taxa[j]) + " names two columns");
    std::unordered_map<std::string, bool> onTree;
    for (int i = 0; i < study.tree->nnodes; i++)
        if (study.tree->nodes[i]->isLeaf())
            onTree[study.tree->nodes[i]->longname] = true;
    std::string offTree;
    int nOffTree = 0;
    for (const std::string &taxon : taxa)
        if (onTree.count(taxon) == 0 && ++nOffTree <= 5)
            offTree += (offTree.empty() ? "" : ", ") + quoted(taxon);
    if (nOffTree > 0)
        Rcpp::stop(shownPath + " lacks " + std::to_string(nOffTree) + " of the " +
                   std::to_string(taxa.size()) + " taxa: " + offTree + (nOffTree > 5 ? ", ..." : ""));
    StudyTree pruned = pruneTree(
        study, [&](const vessik::Node *leaf) { return columnOf.count(leaf->longname) != 0; });
    std::unordered_map<const vessik::Node *, std::string> key;
    for (int i = 0; i < pruned.tree->nnodes; i++)
        if (pruned.tree->nodes[i]->isLeaf())
            key.emplace(pruned.tree->nodes[i], pruned.tree->nodes[i]->longname);
    FittedTree fitted;
    std::unordered_map<std::string, int> fittedColumn;
    for (const vessik::Node *tip : orderChildren(pruned, key)) {
        fittedColumn.emplace(tip->longname, static_cast<int>(fitted.columns.size()));
        fitted.columns.push_back(columnOf.at(tip->longname));
    }
    std::ostringstream text;
    writeOrvaneTree(text, *pruned.tree, [&](const vessik::Node *leaf) {
        return std::to_string(fittedColumn.at(leaf->longname));
    });
    fitted.text = text.str();
    return fitted;
}

// Orvane's own tree reader on the text, as `Orvane -train` reads tree.tre.
std::unique_ptr<vessik::Tree> readOrvaneTree(std::string text)
{
    FILE *stream = fmemopen(&text[0], text.size(), "r");
    if (stream == nullptr)
        Rcpp::stop("cannot read the pruned tree from memory");
    LibraryErrors errors;
    std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(stream));
    std::fclose(stream);
    if (!tree)
        Rcpp::stop("the pruned tree is not readable by Orvane's tree reader" +
                   (errors.text.empty() ? std::string() : ": " + errors.text));
    return tree;
}

// With w = -1 or -2 the penalty weights divide node heights by the largest
// one; a tree without branch lengths above its internal nodes makes them not
// numbers, and the fit would end with every coefficient 0.
void checkWeights(vessik::Tree &tree, int nFeatures, float w)
{
    if ((w != -1.0f && w != -2.0f) || penaltyWeightsAreNumbers(&tree, nFeatures, w))
        return;
    std::ostringstream shown;
    shown << w;
    Rcpp::stop("with w = " + shown.str() +
               " the penalty weights are not numbers: the node heights, made from the branch"
               " lengths above the internal nodes, are all 0");
}

} // namespace

// Fits the model to the samples `x` (samples x taxa, named columns) in the
// classes `classOf` (1..nClasses, one per row) along the tree in the file
// `treePath` (named `treeName` in messages); `sampleNames` name the rows in
// messages. Returns the model file's text, the tree as fitted and the
// coefficients as the model file holds them.
// [[Rcpp::export(name = ".orvane_fit")]]
Rcpp::List orvaneFit(Rcpp::NumericMatrix x, Rcpp::CharacterVector sampleNames,
                     Rcpp::IntegerVector classOf, int nClasses, std::string treePath,
                     std::string treeName, double w, double lambda)
{
    LibraryErrors quiet; // nothing reaches the console: failures are R errors
    const float weight = static_cast<float>(w);
    const float strength = static_cast<float>(lambda);
    if (!(weight >= 0.0f && weight <= 1.0f) && weight != -1.0f && weight != -2.0f)
        Rcpp::stop("w must be from 0 to 1, or -1 or -2");
    if (!std::isfinite(strength) || strength < 0.0f)
        Rcpp::stop("lambda must be a finite number of at least 0");
    if (classOf.size() != x.nrow())
        Rcpp::stop("one class per sample is needed");
    const std::vector<std::string> taxa = Rcpp::as<std::vector<std::string>>(Rcpp::colnames(x));
    const FittedTree fitted = orvaneTreeText(treePath, treeName, taxa);
    Rcpp::NumericMatrix ordered(x.nrow(), static_cast<int>(fitted.columns.size()));
    Rcpp::CharacterVector orderedTaxa(fitted.columns.size());
    for (std::size_t c = 0; c < fitted.columns.size(); c++) {
        ordered(Rcpp::_, static_cast<int>(c)) = x(Rcpp::_, fitted.columns[c]);
        orderedTaxa[c] = taxa[fitted.columns[c]];
    }
    SampleTable table = sampleTableOf(ordered, sampleNames);
    const std::string &treeText = fitted.text;
    std::unique_ptr<vessik::Tree> tree = readOrvaneTree(treeText);
    if (!fits(nClasses, table.nFeatures))
        Rcpp::stop(tooLarge(nClasses, "classes", table.nFeatures, "taxa"));
    if (!fits(countInternalNodes(*tree), nClasses))
        Rcpp::stop(tooLarge(countInternalNodes(*tree), "internal nodes", nClasses, "classes"));
    checkWeights(*tree, table.nFeatures, weight);
    std::vector<int> classOfSample(classOf.begin(), classOf.end());
    for (int k : classOfSample)
        if (k < 1 || k > nClasses)
            Rcpp::stop("a class number is outside 1 to " + std::to_string(nClasses));

    const Data data = dataOf(table, &classOfSample, nClasses);
    Logistic model(data, tree.release());
    ModelRelease release{model};
    model.Train(strength);
    model.Learn(weight);
    std::ostringstream text;
    model.output(text);

    // The coefficients as a model file holds them (six significant digits),
    // read back as `Orvane -test` reads them.
    Rcpp::NumericMatrix coefficients(model.nClasses, model.nFeatures);
    std::istringstream written(text.str());
    int c = 0, m = 0;
    written >> c >> m;
    for (int k = 0; k < model.nClasses; k++)
        for (int j = 0; j < model.nFeatures; j++) {
            float value = 0.0f;
            written >> value;
            coefficients(k, j) = value;
        }
    return Rcpp::List::create(Rcpp::Named("model") = text.str(), Rcpp::Named("tree") = treeText,
                              Rcpp::Named("coefficients") = coefficients,
                              Rcpp::Named("taxa") = orderedTaxa);
}

// The scores (classes x taxa coefficients times each sample's relative
// abundances, in float) and the predicted class numbers, as `Orvane -test`
// computes them, of the samples `x` whose columns are the model's taxa.
// [[Rcpp::export(name = ".orvane_scores")]]
Rcpp::List orvaneScores(Rcpp::NumericMatrix coefficients, Rcpp::NumericMatrix x,
                        Rcpp::CharacterVector sampleNames)
{
    LibraryErrors quiet; // nothing reaches the console: failures are R errors
    if (coefficients.ncol() != x.ncol() || coefficients.nrow() < 1)
        Rcpp::stop("the samples have " + std::to_string(x.ncol()) + " taxa, the model " +
                   std::to_string(coefficients.ncol()));
    SampleTable table = sampleTableOf(x, sampleNames);
    Logistic model(dataOf(table), nullptr);
    ModelRelease release{model};
    model.nClasses = coefficients.nrow();
    model.beta = new float[static_cast<std::size_t>(model.nClasses) * model.nFeatures];
    for (int k = 0; k < model.nClasses; k++)
        for (int j = 0; j < model.nFeatures; j++) {
            const float value = static_cast<float>(coefficients(k, j));
            if (!std::isfinite(value))
                Rcpp::stop("the model holds a coefficient that is not a finite number");
            model.beta[k * model.nFeatures + j] = value;
        }
    const int n = model.nSamples;
    Rcpp::IntegerVector predicted(n);
    Rcpp::NumericMatrix scores(n, model.nClasses);
    const std::vector<char> finite = model.finiteClasses();
    for (int i = 0; i < n; i++) {
        predicted[i] = model.pred(i);
        for (int k = 0; k < model.nClasses; k++)
            scores(i, k) = model.classScore(model.data, i, k, finite[k] != 0);
    }
    return Rcpp::List::create(Rcpp::Named("class") = predicted, Rcpp::Named("link") = scores);
}
