// Orvane-report: turns a fitted model and the data folder it was trained on
// into named answers: class probabilities per sample, the taxa and clades the
// model selected, and a drawing of the tree.
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/inputs.h"
#include "app/version.h"
#include "io/names.h"
#include "io/text.h"
#include "model/Logistic.h"
#include "model/SampleTable.h"
#include "report/OutputFolder.h"
#include "report/Report.h"

namespace {

const char *const kUsage =
    "Usage: Orvane-report -data DIR -c MODEL -o OUTDIR [-samples NEWDIR] [-cv CVDIR [-choice RULE]]\n"
    "\n"
    "Names what a model fitted by Orvane -train found, using the name files of\n"
    "the data folder made by Orvane-prepare.\n"
    "\n"
    "  -data DIR       data folder the model was trained on (samples.txt, tree.tre,\n"
    "                  features.tsv, samples.tsv, classes.tsv; and prepare_note.tsv,\n"
    "                  what Orvane-prepare kept, when it has one)\n"
    "  -c MODEL        model file written by Orvane -train\n"
    "  -o OUTDIR       output folder, written all or nothing\n"
    "  -samples NEWDIR new samples made by Orvane-prepare -like DIR (samples.txt,\n"
    "                  samples.tsv, features.tsv); without it the samples of DIR\n"
    "                  are predicted\n"
    "  -cv CVDIR       an Orvane-cv output folder (-p CVDIR/): its summaries and\n"
    "                  figures go into report.html\n"
    "  -choice RULE    min or 1se: the rule of the cross-validation that chose the\n"
    "                  model's w and lambda (needs -cv); the page then shows the\n"
    "                  model's point, its error and, when the cross-validation's\n"
    "                  out-of-fold files are at that point, its confusion matrix\n"
    "  -h, --help      print this help\n"
    "  --version       print the program's name and version\n"
    "\n"
    "OUTDIR gets predictions.tsv (predicted class and class probabilities of each\n"
    "sample), taxa.tsv (nonzero coefficients by class, largest first), clades.tsv\n"
    "(tree nodes holding nonzero coefficients, by class), tree.svg, and report.html,\n"
    "one page with all of them to open in a browser.\n";

struct Options {
    std::string dataDir;
    std::string modelFile;
    std::string outDir;
    std::string newDir;
    std::string cvDir;
    std::string choice;
};

// Reads the options into `options`; returns a problem, or "" when sound.
std::string scanOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        std::string *value = arg == "-data"      ? &options.dataDir
                             : arg == "-c"       ? &options.modelFile
                             : arg == "-o"       ? &options.outDir
                             : arg == "-samples" ? &options.newDir
                             : arg == "-cv"      ? &options.cvDir
                             : arg == "-choice"  ? &options.choice
                                                 : nullptr;
        if (value == nullptr)
            return "unknown option '" + arg + "' (see Orvane-report --help)";
        if (i + 1 >= argc || std::string(argv[i + 1]).empty())
            return "option " + arg + " needs a value";
        if (!value->empty())
            return "option " + arg + " given twice";
        *value = argv[++i];
    }
    if (options.dataDir.empty())
        return "missing option -data (data folder)";
    if (options.modelFile.empty())
        return "missing option -c (model file)";
    if (options.outDir.empty())
        return "missing option -o (output folder)";
    if (!options.choice.empty() && options.choice != "min" && options.choice != "1se")
        return "-choice takes min or 1se, not \"" + options.choice + "\"";
    if (!options.choice.empty() && options.cvDir.empty())
        return "-choice needs -cv (the cross-validation that made the choice)";
    return "";
}

std::string inFolder(const std::string &dir, const std::string &name)
{
    return (dir.empty() || dir.back() == '/') ? dir + name : dir + "/" + name;
}

// New samples must come in the data folder's feature columns, ID by ID: a
// table of the same width but another order would predict nonsense.
std::string checkSameFeatures(const std::string &newDir, const FeatureNames &features, const std::string &featuresFile)
{
    const std::string newFile = inFolder(newDir, "features.tsv");
    const std::string remedy = " (make new samples with Orvane-prepare -like DIR)";
    FeatureNames newFeatures;
    std::string problem = readFeatureNames(newFile, newFeatures);
    if (!problem.empty())
        return problem + remedy;
    for (std::size_t c = 0; c < features.ids.size() && c < newFeatures.ids.size(); c++)
        if (newFeatures.ids[c] != features.ids[c])
            return newFile + ": column " + std::to_string(c) + " is feature '" + newFeatures.ids[c] + "', " +
                   featuresFile + " has '" + features.ids[c] + "'" + remedy;
    if (newFeatures.ids.size() != features.ids.size())
        return newFile + ": names " + std::to_string(newFeatures.ids.size()) + " features, " + featuresFile + " " +
               std::to_string(features.ids.size()) + remedy;
    return "";
}

// The samples to predict: their table and their names, read and checked against each other.
std::string readSamples(const std::string &dir, int nFeatures, const std::string &featureSource,
                        const ClassNames &classes, SampleNames &names, SampleTable &values)
{
    const std::string table = inFolder(dir, "samples.txt");
    const std::string namesFile = inFolder(dir, "samples.tsv");
    std::string problem = readSampleTable(table, values);
    const int nSamples = values.nSamples;
    const int tableFeatures = values.nFeatures;
    if (problem.empty() && tableFeatures != nFeatures)
        problem = table + ": holds " + std::to_string(tableFeatures) + " features, " + featureSource + " " +
                  std::to_string(nFeatures) + " (make new samples with Orvane-prepare -like DIR)";
    if (problem.empty())
        problem = readSampleNames(namesFile, names);
    if (problem.empty() && static_cast<int>(names.ids.size()) != nSamples)
        problem = namesFile + ": names " + std::to_string(names.ids.size()) + " samples, " + table + " holds " +
                  std::to_string(nSamples);
    for (std::size_t i = 0; problem.empty() && i < names.classes.size(); i++) {
        bool known = false;
        for (const auto &name : classes.names)
            known = known || name == names.classes[i];
        if (!known)
            problem = namesFile + ":" + std::to_string(i + 2) + ": class '" + names.classes[i] + "' is not in " +
                      inFolder(dir, "classes.tsv");
    }
    return problem;
}

// The internal nodes' labels as the study's tree wrote them, from nodes.tsv
// when the folder has one (folders prepared before it was written lack it).
std::string readNodeNames(const std::string &dir, TreeView &view)
{
    const std::string path = inFolder(dir, "nodes.tsv");
    if (access(path.c_str(), F_OK) != 0)
        return "";
    NodeLabels nodes;
    const std::string problem = readNodeLabels(path, nodes);
    if (!problem.empty())
        return problem;
    std::vector<int> internal;
    for (int v = 0; v < view.nodes(); v++)
        if (view.feature[v] < 0)
            internal.push_back(v);
    if (nodes.labels.size() != internal.size())
        return path + ": labels " + std::to_string(nodes.labels.size()) + " nodes, " + inFolder(dir, "tree.tre") +
               " has " + std::to_string(internal.size()) + " internal nodes";
    for (std::size_t i = 0; i < internal.size(); i++)
        view.name[internal[i]] = nodes.labels[i];
    return "";
}

// Replaces OUTDIR's files with SIGINT, SIGTERM and SIGHUP held back: one of
// them arriving meanwhile ends the program only once the folder is whole
// (or untouched) and no temporary folder is left.
std::string writeHoldingSignals(const std::string &dir, const std::vector<std::pair<std::string, std::string>> &files)
{
    sigset_t held, before;
    sigemptyset(&held);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&held, signal);
    sigprocmask(SIG_BLOCK, &held, &before);
    const std::string problem = writeOutputFolder(dir, files);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return problem;
}

// A whole file; `found` false, and no problem, when it does not exist.
std::string readWhole(const std::string &path, std::string &content, bool &found)
{
    content.clear();
    found = false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return errno == ENOENT ? "" : path + ": cannot open the file";
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return path + ": cannot read the file";
    content = text.str();
    found = true;
    return "";
}

// The files of an Orvane-cv output folder that report.html shows, those that exist.
std::string readCrossValidation(const std::string &dir, CrossValidationFiles &cv)
{
    cv.folder = dir;
    bool any = false;
    const std::pair<const char *, std::string *> files[] = {{"cv_summary.tsv", &cv.summary},
                                                            {"cv_nested.tsv", &cv.nested},
                                                            {"cv_curve.svg", &cv.curve},
                                                            {"cv_confusion.svg", &cv.confusion},
                                                            {"cv_confusion.tsv", &cv.counts},
                                                            {"cv_predictions.tsv", &cv.predictions},
                                                            {"cv_selection.tsv", &cv.selection},
                                                            {"cv_probabilities.tsv", &cv.probabilities},
                                                            {"cv_settings.tsv", &cv.settings}};
    for (const auto &[name, content] : files) {
        const std::string path = inFolder(dir, name);
        bool found = false;
        const std::string problem = readWhole(path, *content, found);
        if (!problem.empty())
            return problem;
        // A drawing is inlined as it is: it must carry no script of its own.
        if (found && path.size() > 4 && path.compare(path.size() - 4, 4, ".svg") == 0 &&
            (content->find("<svg") == std::string::npos || lowerCase(*content).find("<script") != std::string::npos))
            return path + ": not a drawing Orvane-cv writes";
        any = any || found;
    }
    if (!any)
        return dir + ": holds none of cv_summary.tsv, cv_nested.tsv, cv_curve.svg, cv_confusion.svg "
                     "(give the folder Orvane-cv -p wrote to)";
    return "";
}

// What Orvane-prepare kept, from the data folder's prepare_note.tsv when it
// has one (folders prepared before it was written, and folders made by other
// means, lack it); the note must tell of this folder's samples and features.
std::string readPreparation(const std::string &dir, const SampleNames &samples, const FeatureNames &features,
                            PreparationFacts &facts, bool &found)
{
    const std::string path = inFolder(dir, "prepare_note.tsv");
    std::string text;
    std::string problem = readWhole(path, text, found);
    if (problem.empty() && found)
        problem = readPreparationFacts(path, text, facts);
    if (problem.empty() && found &&
        (facts.samplesKept != static_cast<long long>(samples.ids.size()) ||
         facts.featuresKept != static_cast<long long>(features.ids.size())))
        problem = path + ": tells of " + std::to_string(facts.samplesKept) + " samples and " +
                  std::to_string(facts.featuresKept) + " features, the folder holds " +
                  std::to_string(samples.ids.size()) + " and " + std::to_string(features.ids.size()) +
                  " (the note of another folder)";
    return problem;
}

template <class Write>
std::string textOf(Write write)
{
    std::ostringstream out;
    write(out);
    return out.str();
}

// Everything the report reads before the model: the data folder's names,
// table shape, tree and note, the samples to predict, and the cross-validation.
struct ReportInputs {
    FeatureNames features;
    ClassNames classes;
    SampleNames samples;          // the predicted samples
    SampleNames trainingSamples;  // the data folder's, which the page describes
    SampleTable sampleValues;
    std::unique_ptr<vessik::Tree> tree;
    CrossValidationFiles cv;
    PreparationFacts preparation;
    bool prepared = false;        // the data folder has prepare_note.tsv
};

std::string readInputs(const Options &options, ReportInputs &in)
{
    const std::string &dir = options.dataDir;
    const std::string featuresFile = inFolder(dir, "features.tsv");
    const std::string tableFile = inFolder(dir, "samples.txt");
    int nSamples = 0;
    int nFeatures = 0;
    std::string problem = readFeatureNames(featuresFile, in.features);
    if (problem.empty())
        problem = readClassNames(inFolder(dir, "classes.tsv"), in.classes);
    if (problem.empty())
        problem = checkSampleTable(tableFile, nSamples, nFeatures);
    if (problem.empty() && static_cast<int>(in.features.ids.size()) != nFeatures)
        problem = featuresFile + ": names " + std::to_string(in.features.ids.size()) + " features, " + tableFile +
                  " holds " + std::to_string(nFeatures);
    if (problem.empty())
        problem = readTree(inFolder(dir, "tree.tre"), nFeatures, in.tree);
    if (problem.empty())
        problem = checkModelFile(options.modelFile, nFeatures);
    const std::string sampleDir = options.newDir.empty() ? dir : options.newDir;
    if (problem.empty() && !options.newDir.empty())
        problem = checkSameFeatures(options.newDir, in.features, featuresFile);
    if (problem.empty())
        problem = readSamples(sampleDir, nFeatures, tableFile + " holds", in.classes, in.samples, in.sampleValues);
    in.trainingSamples = in.samples;
    if (problem.empty() && !options.newDir.empty())
        problem = readSampleNames(inFolder(dir, "samples.tsv"), in.trainingSamples);
    if (problem.empty() && !options.cvDir.empty())
        problem = readCrossValidation(options.cvDir, in.cv);
    if (problem.empty())
        problem = readPreparation(dir, in.trainingSamples, in.features, in.preparation, in.prepared);
    return problem;
}

int run(const Options &options)
{
    const std::string &dir = options.dataDir;
    ReportInputs in;
    std::string problem = readInputs(options, in);
    if (!problem.empty())
        return fail(problem);
    const FeatureNames &features = in.features;
    const ClassNames &classes = in.classes;
    const SampleNames &samples = in.samples;

    Logistic model(dataOf(in.sampleValues), nullptr);
    model.input(options.modelFile);
    if (model.nClasses != static_cast<int>(classes.names.size())) {
        problem = options.modelFile + ": the model has " + std::to_string(model.nClasses) + " classes, " +
                  inFolder(dir, "classes.tsv") + " names " + std::to_string(classes.names.size());
        model.del();
        return fail(problem);
    }
    // The predicted class is the one Orvane -test writes; the probabilities
    // are the softmax of the scores it compares.
    std::vector<SamplePrediction> predictions(model.nSamples);
    const std::vector<char> finite = model.finiteClasses();
    for (int i = 0; i < model.nSamples; i++) {
        std::vector<float> scores(model.nClasses);
        for (int k = 0; k < model.nClasses; k++)
            scores[k] = model.classScore(model.data, i, k, finite[k]);
        predictions[i].predicted = model.predictRow(model.data, i, finite);
        predictions[i].probabilities = softmax(scores);
    }
    const Coefficients coefficients{model.nClasses, model.nFeatures, model.beta};
    TreeView view = viewOf(*in.tree);
    problem = readNodeNames(dir, view);
    if (!problem.empty()) {
        model.del();
        return fail(problem);
    }
    const std::vector<RankedTaxon> taxa = rankTaxa(coefficients);
    const std::vector<Clade> clades = selectedClades(view, coefficients, features);
    const std::string treeSvg =
        textOf([&](std::ostream &out) { drawTree(out, view, coefficients, features, classes); });
    const std::string version = ORVANE_VERSION;
    const HtmlReport page{version,      options.modelFile, dir,     in.trainingSamples,
                          samples,      !options.newDir.empty(),    classes, features,
                          coefficients, predictions,       clades,  view,
                          treeSvg,      options.cvDir.empty() ? nullptr : &in.cv, options.choice,
                          in.prepared ? &in.preparation : nullptr};
    const std::vector<std::pair<std::string, std::string>> files = {
        {"predictions.tsv", textOf([&](std::ostream &out) { writePredictions(out, samples, classes, predictions); })},
        {"taxa.tsv", textOf([&](std::ostream &out) { writeTaxa(out, taxa, features, classes); })},
        {"clades.tsv", textOf([&](std::ostream &out) { writeClades(out, clades, view, features, classes); })},
        {"tree.svg", treeSvg},
        {"report.html", textOf([&](std::ostream &out) { writeHtmlReport(out, page); })},
    };
    model.del();
    problem = writeHoldingSignals(options.outDir, files);
    return problem.empty() ? 0 : fail(problem);
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "Orvane-report " ORVANE_VERSION "\n";
            return 0;
        }
    }
    Options options;
    const std::string problem = scanOptions(argc, argv, options);
    if (!problem.empty())
        return fail(problem);
    return run(options);
}
