// orvane._core: the model, study and report libraries for the Python package.
// The Python side (orvane/) handles names, pandas and scikit-learn; this
// module takes plain arrays and strings, and raises ValueError with the
// message a program would print after "error: ".
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/prepare.h"
#include "io/study_tree.h"
#include "model/Converged.h"
#include "model/Logistic.h"
#include "model/ModelFile.h"
#include "model/SampleTable.h"
#include "report/Report.h"
#include "tree/messages.h"
#include "tree/newick.h"
#include "validation/LambdaGrid.h"
#include "validation/Nested.h"
#include "validation/Summary.h"
#include "validation/Testing.h"
#include "validation/folds.h"
#include "validation/setsCheck.h"

// The converged solver, where this source tree has it.

namespace py = pybind11;

using FloatRows = py::array_t<float, py::array::c_style | py::array::forcecast>;

namespace {

// The errors the libraries sent on this thread since the last clear.
thread_local std::string sentErrors;

void collectErrors(vessik::MessageKind kind, const std::string &text)
{
    if (kind != vessik::MessageKind::Error)
        return;
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' '))
        line.pop_back();
    sentErrors += (sentErrors.empty() ? "" : "; ") + line;
}

[[noreturn]] void refuse(const std::string &message)
{
    throw py::value_error(message);
}

void refuseIf(const std::string &problem)
{
    if (!problem.empty())
        refuse(problem);
}

// The rows of a samples x features array as the sample table reader would
// take them: finite, not negative, each with a positive float sum.
std::string checkRows(const FloatRows &x)
{
    const auto v = x.unchecked<2>();
    for (py::ssize_t i = 0; i < v.shape(0); i++) {
        float sum = 0.0f;
        for (py::ssize_t j = 0; j < v.shape(1); j++) {
            if (!std::isfinite(v(i, j)))
                return "sample " + std::to_string(i) + " holds a value that is not a finite number";
            if (v(i, j) < 0.0f)
                return "Negative values in data passed to TreeClassifier (sample " + std::to_string(i) + ")";
            sum += v(i, j);
        }
        if (sum == 0.0f)
            return "sample " + std::to_string(i) + " has no counts in the model's features";
        if (!std::isfinite(sum))
            return "the counts of sample " + std::to_string(i) + " sum beyond single precision";
    }
    if (!fits(v.shape(0), v.shape(1)))
        return tooLarge(v.shape(0), "samples", v.shape(1), "features");
    return "";
}

// The data set of the rows, scaled as the sample table reader scales them.
Data dataOfRows(const FloatRows &x, const std::vector<int> *classOfSample, int nClasses)
{
    SampleTable table;
    table.nSamples = table.nLines = static_cast<int>(x.shape(0));
    table.nFeatures = static_cast<int>(x.shape(1));
    // As the reader keeps them: each row's nonzero values, in column order.
    const float *values = x.data();
    for (py::ssize_t i = 0; i < x.shape(0); i++) {
        for (py::ssize_t j = 0; j < x.shape(1); j++) {
            const float value = values[i * x.shape(1) + j];
            if (value != 0.0f)
                table.add(static_cast<std::int32_t>(j), value);
        }
        table.rowStart.push_back(table.rowStart.back());
    }
    return dataOf(table, classOfSample, nClasses);
}

// Newick text with the leaves named by feature column, as Orvane-prepare
// writes tree.tre: the study tree pruned to the features, which must all be
// tips. Without a study tree, every feature hangs from the root.
std::string numberedTree(const std::vector<std::string> &features, const py::object &newick,
                         const std::string &treeName)
{
    std::ostringstream out;
    if (newick.is_none()) {
        out << "(";
        for (std::size_t c = 0; c < features.size(); c++)
            out << (c ? "," : "") << c;
        out << ");\n";
        return out.str();
    }
    StudyTree tree;
    refuseIf(readStudyTreeText(newick.cast<std::string>(), treeName, tree));
    std::unordered_set<std::string> tips;
    for (int i = 0; i < tree.tree->nnodes; i++)
        if (tree.tree->nodes[i]->isLeaf())
            tips.insert(tree.tree->nodes[i]->longname);
    std::unordered_map<std::string, int> columnOf;
    std::vector<std::string> offTree;
    for (std::size_t c = 0; c < features.size(); c++) {
        if (!columnOf.emplace(features[c], static_cast<int>(c)).second)
            refuse("feature '" + features[c] + "' names two columns");
        if (tips.count(features[c]) == 0)
            offTree.push_back(features[c]);
    }
    if (!offTree.empty()) {
        std::string names;
        for (std::size_t i = 0; i < offTree.size() && i < 10; i++)
            names += (i ? ", '" : "'") + offTree[i] + "'";
        refuse(std::to_string(offTree.size()) + " feature(s) of the table are not tips of " + treeName +
               ": " + names + (offTree.size() > 10 ? ", ..." : ""));
    }
    const StudyTree pruned =
        pruneTree(tree, [&](const vessik::Node *leaf) { return columnOf.count(leaf->longname) != 0; });
    writeOrvaneTree(out, *pruned.tree,
                    [&](const vessik::Node *leaf) { return std::to_string(columnOf.at(leaf->longname)); });
    return out.str();
}

std::unique_ptr<vessik::Tree> readNumberedTree(const std::string &text)
{
    sentErrors.clear();
    std::unique_ptr<vessik::Tree> tree(vessik::readNewickText(text));
    if (!tree)
        refuse("not a readable tree: " + sentErrors);
    return tree;
}

std::string modelText(const Logistic &model)
{
    std::ostringstream out;
    model.output(out);
    return out.str();
}

py::array_t<float> betaArray(const Logistic &model)
{
    py::array_t<float> beta({model.nClasses, model.nFeatures});
    std::copy(model.beta, model.beta + static_cast<std::size_t>(model.nClasses) * model.nFeatures,
              beta.mutable_data());
    return beta;
}

// A model for classification holding a copy of `beta` (classes x features).
void setBeta(Logistic &model, const FloatRows &beta)
{
    model.nClasses = static_cast<int>(beta.shape(0));
    model.nFeatures = static_cast<int>(beta.shape(1));
    model.beta = new float[beta.size()];
    std::copy(beta.data(), beta.data() + beta.size(), model.beta);
}

// Class numbers from 1, as the labels file gives them, of classes from 0.
std::vector<int> classesFrom1(const std::vector<int> &y)
{
    std::vector<int> classOfSample(y.size());
    for (std::size_t i = 0; i < y.size(); i++)
        classOfSample[i] = y[i] + 1;
    return classOfSample;
}

// The numbered tree, once the rows, classes and features agree and the model
// fits in memory at every weight of `ws`.
std::unique_ptr<vessik::Tree> checkedTree(const FloatRows &x, const std::vector<int> &y, int nClasses,
                                          const std::vector<std::string> &features,
                                          const std::string &treeText, const std::vector<float> &ws)
{
    if (x.ndim() != 2 || x.shape(0) != static_cast<py::ssize_t>(y.size()) ||
        x.shape(1) != static_cast<py::ssize_t>(features.size()) || x.shape(1) == 0)
        refuse("the table, the classes and the feature names do not match in size");
    refuseIf(checkRows(x));
    if (!fits(nClasses, x.shape(1)))
        refuse(tooLarge(nClasses, "classes", x.shape(1), "features"));
    std::unique_ptr<vessik::Tree> tree = readNumberedTree(treeText);
    const int nInternal = countInternalNodes(*tree);
    if (!fits(nInternal, nClasses))
        refuse(tooLarge(nInternal, "internal nodes", nClasses, "classes"));
    for (const float w : ws)
        if ((w == -1.0f || w == -2.0f) &&
            !penaltyWeightsAreNumbers(tree.get(), static_cast<int>(x.shape(1)), w))
            refuse("with w " + std::to_string(static_cast<int>(w)) +
                   " the penalty weights are not numbers: the node heights, made from the branch"
                   " lengths above the internal nodes, are all 0");
    return tree;
}

// Fits the model to rows `x` of classes `y` (from 0) as Orvane -train fits
// the same data set (the converged solver to the relative duality gap `tol`);
// returns the coefficients, the numbered tree, the model file's text and the
// converged fit's certificate: the gap it reached and its iterations (None
// for the cyclic fit, which has none).
py::tuple fit(const FloatRows &x, const std::vector<int> &y, int nClasses,
              const std::vector<std::string> &features, const py::object &newick,
              const std::string &treeName, float w, float lambda, const std::string &solver,
              double tol)
{
    const std::string treeText = numberedTree(features, newick, treeName);
    std::unique_ptr<vessik::Tree> tree = checkedTree(x, y, nClasses, features, treeText, {w});
    const std::vector<int> classOfSample = classesFrom1(y);
    Logistic model(dataOfRows(x, &classOfSample, nClasses), tree.release());
    const bool converged = solver == "converged";
    ConvergedResult certificate;
    {
        py::gil_scoped_release unlocked;
        if (converged) {
            ConvergedOptions options;
            options.tol = tol;
            certificate = fitConverged(model, w, lambda, options);
        } else {
            model.Train(lambda);
            model.Learn(w);
        }
    }
    const py::object gap = converged ? py::cast(certificate.gap) : py::none();
    const py::object iterations = converged ? py::cast(certificate.iterations) : py::none();
    const py::tuple result =
        py::make_tuple(betaArray(model), treeText, modelText(model), gap, iterations);
    model.del();
    return result;
}

// The scores a prediction compares (samples x classes), the predicted class of
// each sample (from 0, as Orvane -test picks it) and the probabilities
// Orvane-report gives.
py::tuple classify(const FloatRows &beta, const FloatRows &x)
{
    if (x.ndim() != 2 || beta.ndim() != 2 || x.shape(1) != beta.shape(1))
        refuse("the samples do not have the model's features");
    refuseIf(checkRows(x));
    Logistic model(dataOfRows(x, nullptr, 0), nullptr);
    setBeta(model, beta);
    const py::ssize_t n = x.shape(0), c = beta.shape(0);
    py::array_t<float> scores({n, c});
    py::array_t<int> predicted(n);
    py::array_t<double> probabilities({n, c});
    auto s = scores.mutable_unchecked<2>();
    auto p = probabilities.mutable_unchecked<2>();
    const std::vector<char> finite = model.finiteClasses();
    for (py::ssize_t i = 0; i < n; i++) {
        std::vector<float> row(c);
        for (py::ssize_t k = 0; k < c; k++)
            s(i, k) = row[k] = model.classScore(model.data, static_cast<int>(i), static_cast<int>(k),
                                                finite[k] != 0);
        predicted.mutable_at(i) = model.pred(static_cast<int>(i)) - 1;
        const std::vector<double> probability = softmax(row);
        for (py::ssize_t k = 0; k < c; k++)
            p(i, k) = probability[k];
    }
    model.del();
    return py::make_tuple(scores, predicted, probabilities);
}

// The model file's text for the coefficients.
std::string modelFileText(const FloatRows &beta)
{
    Logistic model(Data(), nullptr);
    setBeta(model, beta);
    const std::string text = modelText(model);
    model.del();
    return text;
}

// The coefficients of the model file at `path`, checked as Orvane -test checks it.
py::array_t<float> readModel(const std::string &path, int nFeatures)
{
    Logistic model(Data(), nullptr);
    const std::string problem = readModelFile(path, nFeatures, model);
    if (!problem.empty()) {
        model.del();
        refuse(problem);
    }
    const py::array_t<float> beta = betaArray(model);
    model.del();
    return beta;
}

// The features' names as the report reads them: IDs, and their taxonomy
// unless `taxonomy` is None.
FeatureNames featureNamesOf(const std::vector<std::string> &featureIds, const py::object &taxonomy)
{
    FeatureNames features;
    features.ids = featureIds;
    features.hasTaxonomy = !taxonomy.is_none();
    if (features.hasTaxonomy)
        features.taxonomy = taxonomy.cast<std::vector<std::string>>();
    return features;
}

// taxa.tsv and clades.tsv as Orvane-report writes them for the model file's
// text, the numbered tree and the names.
py::tuple selected(const std::string &modelFile, const std::string &treeText,
                   const std::vector<std::string> &featureIds, const py::object &taxonomy,
                   const std::vector<std::string> &classNames)
{
    const FeatureNames features = featureNamesOf(featureIds, taxonomy);
    ClassNames classes;
    classes.names = classNames;
    Logistic model(Data(), nullptr);
    std::istringstream in(modelFile);
    model.input(in);
    const std::unique_ptr<vessik::Tree> tree = readNumberedTree(treeText);
    const Coefficients coefficients{model.nClasses, model.nFeatures, model.beta};
    const TreeView view = viewOf(*tree);
    std::ostringstream taxa, clades;
    writeTaxa(taxa, rankTaxa(coefficients), features, classes);
    writeClades(clades, selectedClades(view, coefficients, features), view, features, classes);
    model.del();
    return py::make_tuple(taxa.str(), clades.str());
}

// A label as the study tree reader takes it back: quoted when it holds a
// character that would end a plain label.
std::string newickLabel(const std::string &name)
{
    if (!name.empty() && name.find_first_of(" \t\r\n\v\f()[]':;,") == std::string::npos)
        return name;
    std::string quoted = "'";
    for (char c : name)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// What Orvane-prepare reads from a study's files, in memory.
py::dict studyOf(const std::string &table, const std::string &metadata, const std::string &column,
                   const std::string &tree, const std::string &taxonomy, const std::string &orientation,
                   bool graft, const std::string &minCount, const py::object &missing,
                   const std::string &group)
{
    PrepareOptions options;
    options.graft = graft;
    options.minCount = minCount;
    options.missingGiven = !missing.is_none();
    options.missing = missing.is_none() ? "" : missing.cast<std::string>();
    options.group = group;
    options.table = table;
    options.metadata = metadata;
    options.column = column;
    options.tree = tree;
    options.taxonomy = taxonomy;
    options.orientation = orientation;
    options.spelling = OptionSpelling::Python;  // the warning's advice names read_study's arguments
    Study study;
    refuseIf(readStudy(options, study));
    const py::ssize_t n = static_cast<py::ssize_t>(study.rows.rows.size());
    const py::ssize_t m = static_cast<py::ssize_t>(study.features.ids.size());
    py::array_t<float> counts({n, m});
    auto v = counts.mutable_unchecked<2>();
    for (py::ssize_t i = 0; i < n; i++) {
        for (py::ssize_t j = 0; j < m; j++)
            v(i, j) = 0.0f;
        for (const auto &entry : study.rows.rows[i])
            v(i, entry.first) = entry.second;
    }
    std::ostringstream newick;
    writeOrvaneTree(newick, *study.tree.tree,
                    [](const vessik::Node *leaf) { return newickLabel(leaf->longname); });
    py::dict result;
    result["counts"] = counts;
    result["samples"] = study.samples.ids;
    result["classes"] = study.samples.classes;
    result["features"] = study.features.ids;
    result["taxonomy"] = study.features.hasTaxonomy ? py::cast(study.features.taxonomy) : py::none();
    result["tree"] = newick.str();
    result["note"] = study.note;
    result["warning"] = study.warning;
    result["groups"] = group.empty() ? py::none() : py::cast(study.groups);
    return result;
}

// Orvane-report's page for the coefficients `beta` (classes x features), the
// numbered tree and the names, with the predictions `predicted` (classes from
// 0) and `probabilities` of samples `sampleIds` as classify gives them and,
// when `cvSummary` is not empty, the cross-validation section from the texts
// of Orvane-cv's files. `modelName` and `dataName` name the inputs on the page.
std::string reportPage(const FloatRows &beta, const std::string &treeText,
                       const std::vector<std::string> &featureIds, const py::object &taxonomy,
                       const std::vector<std::string> &classNames,
                       const std::vector<std::string> &sampleIds, const std::vector<int> &predicted,
                       const std::vector<std::vector<double>> &probabilities,
                       const std::string &modelName, const std::string &dataName,
                       const std::string &cvSummary, const std::string &cvNested,
                       const std::string &cvCurve)
{
    if (beta.ndim() != 2 || beta.shape(0) != static_cast<py::ssize_t>(classNames.size()) ||
        beta.shape(1) != static_cast<py::ssize_t>(featureIds.size()) ||
        predicted.size() != sampleIds.size() || probabilities.size() != sampleIds.size())
        refuse("the model, its names and the predictions do not match in size");
    const FeatureNames features = featureNamesOf(featureIds, taxonomy);
    ClassNames classes;
    classes.names = classNames;
    SampleNames samples;
    samples.ids = sampleIds;
    std::vector<SamplePrediction> predictions(sampleIds.size());
    for (std::size_t i = 0; i < sampleIds.size(); i++)
        predictions[i] = SamplePrediction{predicted[i] + 1, probabilities[i]};
    const std::unique_ptr<vessik::Tree> tree = readNumberedTree(treeText);
    const Coefficients coefficients{static_cast<int>(beta.shape(0)), static_cast<int>(beta.shape(1)),
                                    beta.data()};
    const TreeView view = viewOf(*tree);
    const std::vector<Clade> clades = selectedClades(view, coefficients, features);
    std::ostringstream drawing, page;
    drawTree(drawing, view, coefficients, features, classes);
    const std::string treeSvg = drawing.str();
    CrossValidationFiles cv;
    cv.summary = cvSummary;
    cv.nested = cvNested;
    cv.curve = cvCurve;
    // The samples' own classes are not known here: the page names the
    // predictions as fitted values, never as an error estimate.
    const std::string version = ORVANE_VERSION, choice;
    const HtmlReport report{version,     modelName,   dataName, samples, samples,
                            false,       classes,     features, coefficients, predictions,
                            clades,      view,        treeSvg,  cvSummary.empty() ? nullptr : &cv,
                            choice};
    writeHtmlReport(page, report);
    return page.str();
}

// The fold of every sample in each of `repetitions` repetitions, drawn as
// Orvane-folds draws them from `seed`: stratified by class (from 0), with each
// group (from 0, when `groups` is not empty) kept in one fold.
std::vector<std::vector<int>> drawnFolds(const std::vector<int> &y, int nClasses, int nFolds,
                                         int repetitions, std::uint32_t seed,
                                         const std::vector<int> &groups)
{
    const int nGroups = groups.empty() ? 0 : *std::max_element(groups.begin(), groups.end()) + 1;
    const int units = groups.empty() ? static_cast<int>(y.size()) : nGroups;
    if (nFolds < 2 || nFolds > units)
        refuse(std::to_string(nFolds) + " folds asked of " + std::to_string(units) +
               (groups.empty() ? " samples" : " groups") + ": give from 2 to as many folds");
    std::mt19937 generator(seed);
    std::vector<std::vector<int>> folds;
    for (int r = 0; r < repetitions; r++)
        folds.push_back(groups.empty()
                            ? drawFolds(classesFrom1(y), nClasses, nFolds, generator)
                            : drawGroupFolds(classesFrom1(y), nClasses, groups, nGroups, nFolds, generator));
    return folds;
}

// For each weight, the lambda grid of -lambda auto: n values log-spaced from
// lambda_max on every sample down to ratio times it.
std::vector<std::vector<float>> autoGrids(const Data &all, vessik::Tree *tree,
                                          const std::vector<float> &ws, int n, double ratio)
{
    std::vector<std::vector<float>> grids;
    for (const float w : ws) {
        const double top = lambdaMaxOf(all, tree, w);
        if (!std::isfinite(top) || !(top > 0) || !std::isfinite(static_cast<float>(top)))
            refuse("lambdas=\"auto\": at w " + shortestText(w) + " lambda_max is " +
                   std::to_string(top) +
                   (top > 0 ? " (some coefficient carries no penalty)" : " (nothing to learn)") +
                   ": give the lambda values");
        grids.push_back(logSpacedGrid(top, n, ratio));
    }
    return grids;
}

// The search of Orvane-cv over the grid of `ws` and `lambdas` (empty: the auto
// grids of nLambda values down to lambdaRatio) on the folds of the sets files
// setsPrefix0.txt, ... (one per repetition), on `jobs` threads. With
// innerFolds above 0, also the nested cross-validation of Orvane-cv -nested.
// Returns what its summary, plot and nested table hold, and how many converged
// fits stopped above `tol` (their largest gap, the iteration cap).
py::dict crossValidate(const FloatRows &x, const std::vector<int> &y, int nClasses,
                       const std::vector<std::string> &features, const py::object &newick,
                       const std::string &treeName, const std::vector<float> &ws,
                       const std::vector<float> &lambdas, int nLambda, double lambdaRatio,
                       const std::string &setsPrefix, int repetitions, int nFolds, int jobs,
                       const std::string &solver, double tol, int innerFolds, std::uint32_t seed)
{
    const std::string treeText = numberedTree(features, newick, treeName);
    const std::unique_ptr<vessik::Tree> tree = checkedTree(x, y, nClasses, features, treeText, ws);
    const std::vector<int> classOfSample = classesFrom1(y);
    const Data all = dataOfRows(x, &classOfSample, nClasses);
    for (int i = 0; i < repetitions; i++) {
        std::vector<FoldSamples> folds;
        refuseIf(readSetsFile(setsPrefix + std::to_string(i) + ".txt", nFolds, all.N, folds));
    }
    const std::vector<std::vector<float>> grids =
        lambdas.empty() ? autoGrids(all, tree.get(), ws, nLambda, lambdaRatio)
                        : std::vector<std::vector<float>>(ws.size(), lambdas);
    ConvergedOptions options;
    options.tol = tol;
    py::dict result;
    {
        py::gil_scoped_release unlocked;
        const Testing search(all, tree.get(), "", "", "", repetitions, nFolds, setsPrefix, "", "",
                             ws, grids[0], jobs, nullptr, solver == "converged" ? &options : nullptr,
                             grids);
        const CvSummary summary = summarise(search);
        std::string nested;
        if (innerFolds > 0)
            nested = nestedTable(
                nestedCrossValidation(search, all, tree.get(), innerFolds, seed, jobs, nullptr));
        const std::size_t above = std::count_if(search.gaps.begin(), search.gaps.end(),
                                                [&](double gap) { return gap > tol; });
        const double largestGap =
            search.gaps.empty() ? 0.0 : *std::max_element(search.gaps.begin(), search.gaps.end());
        py::gil_scoped_acquire locked;
        result["summary"] = summaryTable(summary);
        result["min_point"] = summary.minPoint;
        result["one_se_point"] = summary.oneSePoint;
        result["warnings"] = edgeWarnings(summary);
        result["unconverged"] = above;
        result["converged_fits"] = search.gaps.size();
        result["largest_gap"] = largestGap;
        result["max_iterations"] = options.maxIterations;
        result["curve_svg"] = curveSvg(summary, majorityClassError(all));
        result["majority_error"] = majorityClassError(all);
        result["nested"] = nested;
        std::vector<std::vector<float>> foldErrors;
        const std::size_t perPoint = static_cast<std::size_t>(repetitions) * nFolds;
        for (std::size_t p = 0; p < summary.points.size(); p++) {
            foldErrors.emplace_back();
            for (std::size_t f = 0; f < perPoint; f++)
                foldErrors.back().push_back(search.fits[p * perPoint + f].error);
        }
        result["fold_errors"] = foldErrors;
    }
    return result;
}

} // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "Orvane's model, study and report libraries (used by orvane.TreeClassifier)";
    vessik::setMessageSink(collectErrors);
    m.def("fit", &fit, py::arg("x"), py::arg("y"), py::arg("n_classes"), py::arg("features"),
          py::arg("newick"), py::arg("tree_name"), py::arg("w"), py::arg("lam"), py::arg("solver"), py::arg("tol"));
    m.def("draw_folds", &drawnFolds, py::arg("y"), py::arg("n_classes"), py::arg("n_folds"),
          py::arg("repetitions"), py::arg("seed"), py::arg("groups"));
    m.def("cross_validate", &crossValidate, py::arg("x"), py::arg("y"), py::arg("n_classes"),
          py::arg("features"), py::arg("newick"), py::arg("tree_name"), py::arg("ws"),
          py::arg("lambdas"), py::arg("n_lambda"), py::arg("lambda_ratio"), py::arg("sets_prefix"),
          py::arg("repetitions"), py::arg("n_folds"), py::arg("jobs"), py::arg("solver"),
          py::arg("tol"), py::arg("inner_folds"), py::arg("seed"));
    m.def("classify", &classify, py::arg("beta"), py::arg("x"));
    m.def("model_file_text", &modelFileText, py::arg("beta"));
    m.def("read_model", &readModel, py::arg("path"), py::arg("n_features"));
    m.def("selected", &selected, py::arg("model_file"), py::arg("tree"), py::arg("features"),
          py::arg("taxonomy"), py::arg("classes"));
    m.def("report_page", &reportPage, py::arg("model_file"), py::arg("tree"), py::arg("features"),
          py::arg("taxonomy"), py::arg("classes"), py::arg("samples"), py::arg("predicted"),
          py::arg("probabilities"), py::arg("model_name"), py::arg("data_name"), py::arg("cv_summary"),
          py::arg("cv_nested"), py::arg("cv_curve"));
    m.def("read_study", &studyOf, py::arg("table"), py::arg("metadata"), py::arg("column"),
          py::arg("tree"), py::arg("taxonomy"), py::arg("orientation"), py::arg("graft"),
          py::arg("min_count"), py::arg("missing"), py::arg("group"));
}
