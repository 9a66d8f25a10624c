// The R package's bridge to Orvane's C++ libraries: a fit from a matrix of
// counts, class numbers and a study tree, the scores of new samples under a
// model's coefficients, and a cross-validation over a grid. They go through
// the code behind `Orvane -train`, `Orvane -test` and `Orvane-cv` (the same
// data set building, tree reader, fits, classification and search), so a fit
// writes the same model file, and a cross-validation the same summary, as the
// programs.
#include <Rcpp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "io/study_tree.h"
#include "io/taxonomy_tree.h"
#include "model/Converged.h"
#include "model/Logistic.h"
#include "model/SampleTable.h"
#include "tree/newick.h"
#include "validation/LambdaGrid.h"
#include "validation/Summary.h"
#include "validation/Testing.h"
#include "validation/folds.h"

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

// The tree as fitted, and the taxa in the order of its columns.
struct FittedTree {
    std::string text;
    std::vector<int> columns;  // the column of `x` each model column takes
    std::vector<int> leftOut;  // the columns of `x` not placed on the tree
    int grafted = 0;
};

// How the taxa are placed on a tree, as Orvane-prepare places a table's features.
struct Placing {
    bool fromTaxonomy = false;            // build the tree from the lineages
    bool graft = false;                   // graft taxa off the study tree by their lineages
    std::vector<std::string> lineages;    // one per taxon ("" for none), or none at all
    std::vector<bool> counted;            // whether the taxon counts in some sample
};

// Whether the lineage names a level from `first` on (0: the kingdom).
bool hasNamedLevel(const std::string &lineage, std::size_t first)
{
    const std::vector<std::string> levels = lineageLevels(lineage);
    for (std::size_t d = first; d < levels.size(); d++)
        if (isNamedLevel(levels[d]))
            return true;
    return false;
}

// The study tree at `path`, or the one built from the lineages; `placed`
// marks the taxa on it, grafted ones included.
StudyTree placedTree(const std::string &path, const std::string &shownPath,
                     const std::vector<std::string> &taxa, const Placing &how,
                     std::vector<bool> &placed, int &grafted)
{
    const auto lineage = [&](std::size_t j) { return how.lineages.empty() ? "" : how.lineages[j]; };
    placed.assign(taxa.size(), false);
    if (how.fromTaxonomy) {
        std::vector<TaxonomyFeature> named;
        for (std::size_t j = 0; j < taxa.size(); j++)
            if (hasNamedLevel(lineage(j), 0)) {
                named.push_back({taxa[j], lineage(j)});
                placed[j] = true;
            }
        if (named.empty())
            Rcpp::stop("tree = \"taxonomy\": no taxon has a taxonomy (a tax_table, or `taxonomy`)");
        return taxonomyTree(named);
    }
    StudyTree study;
    std::string problem = readStudyTree(path, study);
    if (!problem.empty()) {
        if (problem.compare(0, path.size(), path) == 0)
            problem = shownPath + problem.substr(path.size());
        Rcpp::stop(problem);
    }
    std::unordered_map<std::string, bool> onTree;
    for (int i = 0; i < study.tree->nnodes; i++)
        if (study.tree->nodes[i]->isLeaf())
            onTree[study.tree->nodes[i]->longname] = true;
    std::vector<TaxonomyFeature> relatives, orphans;
    std::unordered_map<std::string, std::size_t> columnOf;
    for (std::size_t j = 0; j < taxa.size(); j++) {
        columnOf.emplace(taxa[j], j);
        placed[j] = onTree.count(taxa[j]) != 0;
        if (how.graft && placed[j] && how.counted[j])
            relatives.push_back({taxa[j], lineage(j)});
        else if (how.graft && !placed[j] && hasNamedLevel(lineage(j), 1))
            orphans.push_back({taxa[j], lineage(j)});
    }
    if (!orphans.empty())
        for (const std::string &id : graftByTaxonomy(study, relatives, orphans)) {
            placed[columnOf.at(id)] = true;
            grafted++;
        }
    return study;
}

// The taxa's tree in the form `Orvane -train` reads: pruned to the taxa on
// it, one line of Newick whose leaves are the column numbers; ordered as
// Orvane-prepare orders a data folder: the children of every node by the
// smallest taxon ID below them, the columns in the order of the tips.
FittedTree orvaneTreeText(const std::string &path, const std::string &shownPath,
                          const std::vector<std::string> &taxa, const Placing &how)
{
    std::unordered_map<std::string, int> columnOf;
    for (std::size_t j = 0; j < taxa.size(); j++)
        if (!columnOf.emplace(taxa[j], static_cast<int>(j)).second)
            Rcpp::stop("taxon " + quoted(taxa[j]) + " names two columns");
    FittedTree fitted;
    std::vector<bool> placed;
    StudyTree study = placedTree(path, shownPath, taxa, how, placed, fitted.grafted);
    for (std::size_t j = 0; j < taxa.size(); j++)
        if (!placed[j])
            fitted.leftOut.push_back(static_cast<int>(j));
    if (fitted.leftOut.size() + 1 >= taxa.size())
        Rcpp::stop(std::string(how.fromTaxonomy ? "the taxonomy" : shownPath) + " holds " +
                   std::to_string(taxa.size() - fitted.leftOut.size()) + " of the " +
                   std::to_string(taxa.size()) + " taxa; Orvane needs at least two");
    StudyTree pruned = pruneTree(study, [&](const vessik::Node *leaf) {
        const auto column = columnOf.find(leaf->longname);
        return column != columnOf.end() && placed[column->second];
    });
    std::unordered_map<const vessik::Node *, std::string> key;
    for (int i = 0; i < pruned.tree->nnodes; i++)
        if (pruned.tree->nodes[i]->isLeaf())
            key.emplace(pruned.tree->nodes[i], pruned.tree->nodes[i]->longname);
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

// A study as the fits read it: the data set, the tree as fitted (its Newick
// text and Orvane's reading of it) and the taxa in the order of the columns.
struct PreparedStudy {
    Data data;
    std::unique_ptr<vessik::Tree> tree;
    std::string treeText;
    Rcpp::CharacterVector taxa;
    std::vector<int> leftOut;  // the taxa off the tree, as orvaneTreeText gives them
    int grafted = 0;
    ~PreparedStudy() { freeData(data); }
};

// The samples `x` (samples x taxa, named columns) in the classes `classOf`
// (1..nClasses, one per row) along the tree in the file `treePath` (named
// `treeName` in messages), or with `fromTaxonomy` the tree built from the
// taxa's `lineages` (one per taxon, or none); with `graft`, taxa off the tree
// are placed beside their relatives by lineage. Checked and laid out as
// Orvane-prepare lays out a data folder; `sampleNames` name the rows in
// messages.
void prepareStudy(const Rcpp::NumericMatrix &x, const Rcpp::CharacterVector &sampleNames,
                  const Rcpp::IntegerVector &classOf, int nClasses, const std::string &treePath,
                  const std::string &treeName, bool fromTaxonomy, bool graft,
                  const Rcpp::CharacterVector &lineages, PreparedStudy &study)
{
    if (classOf.size() != x.nrow())
        Rcpp::stop("one class per sample is needed");
    const std::vector<std::string> taxa = Rcpp::as<std::vector<std::string>>(Rcpp::colnames(x));
    Placing how;
    how.fromTaxonomy = fromTaxonomy;
    how.graft = graft;
    how.lineages = Rcpp::as<std::vector<std::string>>(lineages);
    if (!how.lineages.empty() && how.lineages.size() != taxa.size())
        Rcpp::stop("one lineage per taxon is needed");
    for (int j = 0; j < x.ncol(); j++) {
        bool counted = false;
        for (int i = 0; i < x.nrow() && !counted; i++)
            counted = x(i, j) != 0.0;
        how.counted.push_back(counted);
    }
    const FittedTree fitted = orvaneTreeText(treePath, treeName, taxa, how);
    Rcpp::NumericMatrix ordered(x.nrow(), static_cast<int>(fitted.columns.size()));
    study.taxa = Rcpp::CharacterVector(fitted.columns.size());
    for (std::size_t c = 0; c < fitted.columns.size(); c++) {
        ordered(Rcpp::_, static_cast<int>(c)) = x(Rcpp::_, fitted.columns[c]);
        study.taxa[c] = taxa[fitted.columns[c]];
    }
    SampleTable table = sampleTableOf(ordered, sampleNames);
    study.treeText = fitted.text;
    study.leftOut = fitted.leftOut;
    study.grafted = fitted.grafted;
    study.tree = readOrvaneTree(study.treeText);
    if (!fits(nClasses, table.nFeatures))
        Rcpp::stop(tooLarge(nClasses, "classes", table.nFeatures, "taxa"));
    if (!fits(countInternalNodes(*study.tree), nClasses))
        Rcpp::stop(tooLarge(countInternalNodes(*study.tree), "internal nodes", nClasses, "classes"));
    std::vector<int> classOfSample(classOf.begin(), classOf.end());
    for (int k : classOfSample)
        if (k < 1 || k > nClasses)
            Rcpp::stop("a class number is outside 1 to " + std::to_string(nClasses));
    study.data = dataOf(table, &classOfSample, nClasses);
}

// Checks a w as the programs check it.
float weightOf(double w)
{
    const float weight = static_cast<float>(w);
    if (!(weight >= 0.0f && weight <= 1.0f) && weight != -1.0f && weight != -2.0f)
        Rcpp::stop("w must be from 0 to 1, or -1 or -2");
    return weight;
}

bool isConverged(const std::string &solver)
{
    if (solver != "converged" && solver != "cyclic")
        Rcpp::stop("solver must be \"converged\" or \"cyclic\", not \"" + solver + "\"");
    return solver == "converged";
}

// The converged solver's options for the relative duality gap `tol`, within
// the range Orvane's programs take for -tol.
ConvergedOptions convergedOptions(double tol)
{
    if (!(tol >= 1e-12 && tol <= 0.01))
        Rcpp::stop("tol must be from 1e-12 to 0.01");
    ConvergedOptions options;
    options.tol = tol;
    return options;
}

} // namespace

// Fits the model to a study (see prepareStudy) at (w, lambda) with the solver
// named ("converged" or "cyclic", as Orvane -train -solver; converged to the
// relative duality gap `tol`, as -tol). Returns the model file's text, the
// tree as fitted, the coefficients as the model file holds them, the taxa
// left out (off the tree), the number grafted, and the converged fit's gap
// and iterations (NA for the cyclic fit, which has no certificate).
// [[Rcpp::export(name = ".orvane_fit")]]
Rcpp::List orvaneFit(Rcpp::NumericMatrix x, Rcpp::CharacterVector sampleNames,
                     Rcpp::IntegerVector classOf, int nClasses, std::string treePath,
                     std::string treeName, double w, double lambda, bool fromTaxonomy,
                     bool graft, Rcpp::CharacterVector lineages, std::string solver, double tol)
{
    LibraryErrors quiet; // nothing reaches the console: failures are R errors
    const float weight = weightOf(w);
    const float strength = static_cast<float>(lambda);
    if (!std::isfinite(strength) || strength < 0.0f)
        Rcpp::stop("lambda must be a finite number of at least 0");
    const bool converged = isConverged(solver);
    const ConvergedOptions options = convergedOptions(tol);
    PreparedStudy study;
    prepareStudy(x, sampleNames, classOf, nClasses, treePath, treeName, fromTaxonomy, graft,
                 lineages, study);
    checkWeights(*study.tree, study.data.M, weight);

    // The model owns a copy of the data set; the study keeps its own.
    Logistic model(selectRows(study.data, {}), study.tree->copy());
    ModelRelease release{model};
    double gap = NA_REAL, iterations = NA_REAL;
    if (converged) {
        const ConvergedResult certificate = fitConverged(model, weight, strength, options);
        gap = certificate.gap;
        iterations = certificate.iterations;
    } else {
        model.Train(strength);
        model.Learn(weight);
    }
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
    return Rcpp::List::create(Rcpp::Named("model") = text.str(), Rcpp::Named("tree") = study.treeText,
                              Rcpp::Named("coefficients") = coefficients,
                              Rcpp::Named("taxa") = study.taxa,
                              Rcpp::Named("left_out") = Rcpp::IntegerVector(study.leftOut.begin(),
                                                                             study.leftOut.end()),
                              Rcpp::Named("grafted") = study.grafted, Rcpp::Named("gap") = gap,
                              Rcpp::Named("iterations") = iterations);
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

namespace {

// The grid of each w: the lambdas given, or nLambda values from lambda_max
// (on every sample) down to lambdaRatio times it, as Orvane-cv -lambda auto.
std::vector<std::vector<float>> lambdaGrids(const PreparedStudy &study, const std::vector<float> &ws,
                                            const Rcpp::NumericVector &lambdas, int nLambda,
                                            double lambdaRatio)
{
    std::vector<std::vector<float>> grids;
    for (const float w : ws) {
        if (lambdas.size() > 0) {
            std::vector<float> grid;
            for (const double lambda : lambdas) {
                const float value = static_cast<float>(lambda);
                if (!std::isfinite(value) || value < 0.0f)
                    Rcpp::stop("every lambda must be a finite number of at least 0");
                grid.push_back(value);
            }
            grids.push_back(grid);
            continue;
        }
        const double top = lambdaMaxOf(study.data, study.tree.get(), w);
        if (!std::isfinite(top) || !(top > 0) || !std::isfinite(static_cast<float>(top))) {
            std::ostringstream message;
            message << "lambda = \"auto\": at w " << w << " lambda_max is " << top
                    << (top > 0 ? " (some coefficient carries no penalty)" : " (nothing to learn)")
                    << ": give the lambda values";
            Rcpp::stop(message.str());
        }
        grids.push_back(logSpacedGrid(top, nLambda, lambdaRatio));
    }
    return grids;
}

// Draws the folds of every repetition from one generator seeded with `seed`,
// as Orvane-folds draws them, and writes them where Orvane-cv reads them:
// `prefix`0.txt, `prefix`1.txt, ...
void writeSetsFiles(const Data &data, int nFolds, int repetitions, std::uint32_t seed,
                    const std::string &prefix)
{
    const std::vector<int> classOfSample(data.classes, data.classes + data.N);
    std::mt19937 generator(seed);
    for (int r = 0; r < repetitions; r++) {
        const std::vector<int> foldOfSample = drawFolds(classOfSample, data.C, nFolds, generator);
        const std::string path = prefix + std::to_string(r) + ".txt";
        std::ofstream file(path);
        writeSets(file, foldOfSample, nFolds);
        if (!file.flush())
            Rcpp::stop("cannot write the folds to " + path);
    }
}

} // namespace

// Cross-validates a study (see prepareStudy) over the grid of `ws` and
// `lambdas` (empty: each w's own grid, as Orvane-cv -lambda auto -nlambda
// nLambda -lambda-ratio lambdaRatio) on `repetitions` draws of `folds` folds
// (see writeSetsFiles, under `setsPrefix`), with the solver named, on `jobs`
// threads: the search Orvane-cv runs. Returns cv_summary.tsv's text, its edge
// warnings, each w's grid, the number of converged fits, how many of them
// stopped above `tol` (at the iteration cap) and the largest gap.
// [[Rcpp::export(name = ".orvane_cv")]]
Rcpp::List orvaneCv(Rcpp::NumericMatrix x, Rcpp::CharacterVector sampleNames,
                    Rcpp::IntegerVector classOf, int nClasses, std::string treePath,
                    std::string treeName, bool fromTaxonomy, bool graft,
                    Rcpp::CharacterVector lineages, Rcpp::NumericVector ws, Rcpp::NumericVector lambdas,
                    int nLambda, double lambdaRatio, int folds, int repetitions, double seed,
                    std::string solver, double tol, int jobs, std::string setsPrefix)
{
    LibraryErrors quiet; // nothing reaches the console: failures are R errors
    const bool converged = isConverged(solver);
    if (ws.size() == 0)
        Rcpp::stop("w needs at least one value");
    if (lambdas.size() == 0 && (nLambda < 2 || nLambda > 1000))
        Rcpp::stop("nlambda must be a whole number from 2 to 1000");
    if (lambdas.size() == 0 && !(lambdaRatio > 0 && lambdaRatio < 1))
        Rcpp::stop("lambda_ratio must be above 0 and below 1");
    if (repetitions < 1)
        Rcpp::stop("repetitions must be 1 or more");
    if (!(seed >= 0 && seed <= 4294967295.0 && seed == std::floor(seed)))
        Rcpp::stop("seed must be a whole number from 0 to 4294967295");
    const ConvergedOptions options = convergedOptions(tol);
    if (jobs < 1)
        Rcpp::stop("jobs must be 1 or more");
    PreparedStudy study;
    prepareStudy(x, sampleNames, classOf, nClasses, treePath, treeName, fromTaxonomy, graft,
                 lineages, study);
    if (folds < 2 || folds > study.data.N)
        Rcpp::stop("folds must be from 2 to the " + std::to_string(study.data.N) + " samples");
    std::vector<float> weights;
    for (const double w : ws) {
        weights.push_back(weightOf(w));
        checkWeights(*study.tree, study.data.M, weights.back());
    }
    const std::vector<std::vector<float>> grids =
        lambdaGrids(study, weights, lambdas, nLambda, lambdaRatio);
    writeSetsFiles(study.data, folds, repetitions, static_cast<std::uint32_t>(seed), setsPrefix);

    const Testing search(study.data, study.tree.get(), "samples", "labels", "tree", repetitions,
                         folds, setsPrefix, "", "R", weights, grids[0], jobs, nullptr,
                         converged ? &options : nullptr, grids);
    const CvSummary summary = summarise(search);
    Rcpp::List gridOfW;
    for (const std::vector<float> &grid : grids)
        gridOfW.push_back(Rcpp::NumericVector(grid.begin(), grid.end()));
    const long above = std::count_if(search.gaps.begin(), search.gaps.end(),
                                     [&](double gap) { return gap > tol; });
    const double largestGap =
        search.gaps.empty() ? 0.0 : *std::max_element(search.gaps.begin(), search.gaps.end());
    return Rcpp::List::create(Rcpp::Named("summary") = summaryTable(summary),
                              Rcpp::Named("warnings") = edgeWarnings(summary),
                              Rcpp::Named("lambdas") = gridOfW,
                              Rcpp::Named("fits") = static_cast<double>(search.gaps.size()),
                              Rcpp::Named("above_tol") = static_cast<double>(above),
                              Rcpp::Named("largest_gap") = largestGap,
                              Rcpp::Named("max_iterations") = options.maxIterations);
}
