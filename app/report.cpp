// Orvane-report: turns a fitted model and the data folder it was trained on
// into named answers: class probabilities per sample, the taxa and clades the
// model selected, and a drawing of the tree.
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/inputs.h"
#include "app/version.h"
#include "io/names.h"
#include "model/Logistic.h"
#include "model/SampleTable.h"
#include "report/OutputFolder.h"
#include "report/Report.h"

namespace {

const char *const kUsage =
    "Usage: Orvane-report -data DIR -c MODEL -o OUTDIR [-samples NEWDIR]\n"
    "\n"
    "Names what a model fitted by Orvane -train found, using the name files of\n"
    "the data folder made by Orvane-prepare.\n"
    "\n"
    "  -data DIR       data folder the model was trained on (samples.txt, tree.tre,\n"
    "                  features.tsv, samples.tsv, classes.tsv)\n"
    "  -c MODEL        model file written by Orvane -train\n"
    "  -o OUTDIR       output folder, written all or nothing\n"
    "  -samples NEWDIR new samples made by Orvane-prepare -like DIR (samples.txt,\n"
    "                  samples.tsv); without it the samples of DIR are predicted\n"
    "  -h, --help      print this help\n"
    "  --version       print the program's name and version\n"
    "\n"
    "OUTDIR gets predictions.tsv (predicted class and class probabilities of each\n"
    "sample), taxa.tsv (nonzero coefficients by class, largest first), clades.tsv\n"
    "(tree nodes holding nonzero coefficients, by class) and tree.svg.\n";

struct Options {
    std::string dataDir;
    std::string modelFile;
    std::string outDir;
    std::string newDir;
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
    return "";
}

std::string inFolder(const std::string &dir, const std::string &name)
{
    return (dir.empty() || dir.back() == '/') ? dir + name : dir + "/" + name;
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

template <class Write>
std::string textOf(Write write)
{
    std::ostringstream out;
    write(out);
    return out.str();
}

int run(const Options &options)
{
    const std::string &dir = options.dataDir;
    const std::string featuresFile = inFolder(dir, "features.tsv");
    const std::string classesFile = inFolder(dir, "classes.tsv");
    const std::string tableFile = inFolder(dir, "samples.txt");
    const std::string treeFile = inFolder(dir, "tree.tre");
    FeatureNames features;
    ClassNames classes;
    SampleNames samples;
    int nSamples = 0;
    int nFeatures = 0;
    std::string problem = readFeatureNames(featuresFile, features);
    if (problem.empty())
        problem = readClassNames(classesFile, classes);
    if (problem.empty())
        problem = checkSampleTable(tableFile, nSamples, nFeatures);
    if (problem.empty() && static_cast<int>(features.ids.size()) != nFeatures)
        problem = featuresFile + ": names " + std::to_string(features.ids.size()) + " features, " + tableFile +
                  " holds " + std::to_string(nFeatures);
    std::unique_ptr<vessik::Tree> tree;
    if (problem.empty())
        problem = readTree(treeFile, nFeatures, tree);
    if (problem.empty())
        problem = checkModelFile(options.modelFile, nFeatures);
    const std::string sampleDir = options.newDir.empty() ? dir : options.newDir;
    SampleTable sampleValues;
    if (problem.empty())
        problem = readSamples(sampleDir, nFeatures, tableFile + " holds", classes, samples, sampleValues);
    if (!problem.empty())
        return fail(problem);

    Logistic model(dataOf(sampleValues), nullptr);
    model.input(options.modelFile);
    if (model.nClasses != static_cast<int>(classes.names.size())) {
        problem = options.modelFile + ": the model has " + std::to_string(model.nClasses) + " classes, " +
                  classesFile + " names " + std::to_string(classes.names.size());
        model.del();
        return fail(problem);
    }
    // The predicted class is the one Orvane -test writes; the probabilities
    // are the softmax of the scores it compares.
    std::vector<SamplePrediction> predictions(model.nSamples);
    for (int i = 0; i < model.nSamples; i++) {
        std::vector<float> scores(model.nClasses);
        for (int k = 0; k < model.nClasses; k++)
            scores[k] = model.classScore(model.data.X + i * model.data.M, model.data.M, k);
        predictions[i].predicted = model.pred(i);
        predictions[i].probabilities = softmax(scores);
    }
    const Coefficients coefficients{model.nClasses, model.nFeatures, model.beta};
    const TreeView view = viewOf(*tree);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"predictions.tsv", textOf([&](std::ostream &out) { writePredictions(out, samples, classes, predictions); })},
        {"taxa.tsv", textOf([&](std::ostream &out) { writeTaxa(out, rankTaxa(coefficients), features, classes); })},
        {"clades.tsv", textOf([&](std::ostream &out) {
             writeClades(out, selectedClades(view, coefficients, features), view, features, classes);
         })},
        {"tree.svg", textOf([&](std::ostream &out) { drawTree(out, view, coefficients, features, classes); })},
    };
    model.del();
    problem = writeOutputFolder(options.outDir, files);
    return problem.empty() ? 0 : fail(problem);
}

} // namespace

int main(int argc, char **argv)
{
    sendLibraryMessagesToStandardStreams();
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
