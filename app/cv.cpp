// Orvane-cv: runs the repeated K-fold cross-validation over a grid of w and
// lambda values from the shell. Every input is checked, then read once, before
// the first fold is fitted; the harness's progress lines are the only standard
// output. The logs gain the whole run at its end, and the summary, the
// out-of-fold predictions and class probabilities, the confusion matrix and
// two plots are written beside them.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <csignal>
#include <unistd.h>

#include "app/inputs.h"
#include "io/outputs.h"
#include "io/sample_groups.h"
#include "io/text.h"
#include "app/version.h"
#include "validation/LambdaGrid.h"
#include "validation/folds.h"
#include "validation/Nested.h"
#include "validation/Selection.h"
#include "validation/Progress.h"
#include "validation/Summary.h"
#include "validation/Testing.h"
#include "validation/runFiles.h"
#include "validation/options.h"
#include "validation/setsCheck.h"

namespace {

const char *const usage =
    "Usage: Orvane-cv -d SAMPLES -l LABELS -t TREE -n REPETITIONS -k FOLDS -s SETS_PREFIX\n"
    "                 [-p LOG_PREFIX] [-r LABEL] [-w W1,W2,...] [-lambda L1,L2,...] [-j JOBS]\n"
    "                 [-lambda auto [-nlambda N] [-lambda-ratio R]] [-nested K2 [-seed SEED]]\n"
    "                 [-solver cyclic|converged] [-tol GAP] [-g GROUPS] [-folds-seed SEED] [-v]\n"
    "Repeated K-fold cross-validation of the tree-regularised model over a grid of\n"
    "w and lambda values. Repetition i reads its folds from SETS_PREFIXi.txt\n"
    "(written by Orvane-folds). Beside the logs it writes LOG_PREFIXcv_summary.tsv,\n"
    "LOG_PREFIXcv_predictions.tsv, LOG_PREFIXcv_probabilities.tsv,\n"
    "LOG_PREFIXcv_confusion.tsv, LOG_PREFIXcv_curve.svg, LOG_PREFIXcv_confusion.svg\n"
    "and LOG_PREFIXcv_settings.tsv.\n"
    "\n"
    "-d\t\tSample table.\n"
    "-l\t\tClass labels file.\n"
    "-t\t\tPhylogenetic tree in the Newick format.\n"
    "-n\t\tNumber of repetitions, 1 or more.\n"
    "-k\t\tNumber of folds per repetition, 2 or more.\n"
    "-s\t\tSets-file prefix.\n"
    "-p\t\tLog prefix: appends to LOG_PREFIXlog_detailed.txt, LOG_PREFIXlog_avr.txt\n"
    "\t\tand LOG_PREFIXlog_result.txt (default: empty, the current folder).\n"
    "-r\t\tLabel of this run in the result log (default: the sample table's name).\n"
    "-w\t\tComma-separated weight values, each from 0 to 1, or -1 or -2 (default 0.4).\n"
    "-lambda\t\tComma-separated regularization values (default 1), or auto: for each\n"
    "\t\tw, N values log-spaced from lambda_max (the least lambda that keeps\n"
    "\t\tevery coefficient at zero, on all the samples) down to R x lambda_max.\n"
    "-nlambda\tN of -lambda auto, from 2 to 1000 (default 20).\n"
    "-lambda-ratio\tR of -lambda auto, above 0 and below 1 (default 0.001).\n"
    "-j\t\tNumber of fits run at once, on as many threads (default 1; 0: one per\n"
    "\t\tprocessor). The outputs do not depend on it.\n"
    "-nested\t\tAlso run a nested cross-validation: in each fold, choose w and lambda\n"
    "\t\tby a K2-fold cross-validation of its training samples alone, then test\n"
    "\t\tthat choice on the fold. Writes LOG_PREFIXcv_nested.tsv and prints the\n"
    "\t\tnested error, the one to publish. The logs are those of the plain run.\n"
    "-seed\t\tSeed of the inner folds' draws, 0 to 4294967295 (default 1).\n"
    "-folds-seed\tThe -seed Orvane-folds drew the sets files with: the folds are\n"
    "\t\tdrawn again from the labels (and -g) and must be the same. Without it\n"
    "\t\tOrvane-folds' default seed 1 is tried. cv_settings.tsv records the seed\n"
    "\t\tthat drew them (folds_seed), for the methods paragraph of Orvane-report.\n"
    "-g\t\tGroups file (the one Orvane-folds -g read): no fold may hold out a\n"
    "\t\tsample of a group it trains on, and the inner folds of -nested keep\n"
    "\t\teach group whole too. cv_settings.tsv records the file (groups).\n"
    "-solver\t\tcyclic (default): the coordinate-descent fit of Orvane -train;\n"
    "\t\tconverged: each fold fits the lambdas of each w as one warm-started\n"
    "\t\tpath, from the largest down, each fit to a relative duality gap below -tol\n"
    "\t\t(with -nested, the inner folds and the outer folds' models too).\n"
    "-tol\t\tRelative duality gap of the converged fits (default 1e-6).\n"
    "-v\t\tA progress line per finished fit on standard error (default: one line\n"
    "\t\tupdated in place on a terminal, else a line every tenth of the fits).\n"
    "-h, --help\tPrint this help message.\n"
    "--version\tPrint the program's name and version.\n"
    "\n"
    "Example:\n"
    "./Orvane-folds -d example/samples.txt -l example/labels.txt -n 2 -k 5 -s sets\n"
    "./Orvane-cv -d example/samples.txt -l example/labels.txt -t example/tree.tre -n 2 -k 5 "
    "-s sets -w 0.2,0.5 -lambda 0.5,1,2\n";

struct Settings {
    std::string samples;
    std::string labels;
    std::string tree;
    int repetitions = 0;
    int folds = 0;
    std::string setsPrefix;
    std::string logPrefix;
    std::string resultLabel;
    std::vector<float> ws{0.4f};
    std::vector<float> lambdas{1.0f};
    int jobs = 1;
    bool converged = false;
    ConvergedOptions options;
    bool autoLambda = false;
    int nLambda = 20;
    double lambdaRatio = 1e-3;
    int innerFolds = 0; // 0: no nested cross-validation
    std::uint32_t seed = 1;
    std::string groups;  // empty without -g
    bool everyFit = false; // -v
    std::uint32_t foldsSeed = 1;  // -folds-seed, or Orvane-folds' default
    bool foldsSeedGiven = false;
    bool foldsFromSeed = false;   // the sets files are foldsSeed's draw
};

// Reads a comma-separated list, each item through `parse`.
std::string readGrid(const std::string &text,
                     std::string (*parse)(const std::string &, float &),
                     std::vector<float> &grid)
{
    grid.clear();
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', start);
        float value = 0.0f;
        const std::string message = parse(text.substr(start, comma - start), value);
        if (!message.empty())
            return message;
        grid.push_back(value);
        if (comma == std::string::npos)
            return "";
        start = comma + 1;
    }
}

// -lambda: a list, or auto with -nlambda and -lambda-ratio (which need it).
std::string readLambdas(std::map<std::string, std::string> &values, Settings &settings)
{
    settings.autoLambda = values.count("-lambda") && values["-lambda"] == "auto";
    if (!settings.autoLambda) {
        for (const char *option : {"-nlambda", "-lambda-ratio"})
            if (values.count(option))
                return std::string(option) + " needs -lambda auto";
        return values.count("-lambda") ? readGrid(values["-lambda"], parseLambda, settings.lambdas)
                                       : "";
    }
    if (values.count("-nlambda")) {
        long long n = 0;
        const std::string message = readWholeNumber("-nlambda", values["-nlambda"], 2, 1000, n);
        if (!message.empty())
            return message;
        settings.nLambda = static_cast<int>(n);
    }
    if (values.count("-lambda-ratio")) {
        const std::string &text = values["-lambda-ratio"];
        char *end = nullptr;
        const double ratio = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(ratio > 0 && ratio < 1))
            return "-lambda-ratio takes a number above 0 and below 1, not \"" + text + "\"";
        settings.lambdaRatio = ratio;
    }
    return "";
}

std::string readSettings(std::map<std::string, std::string> &values, Settings &settings)
{
    for (const char *required : {"-d", "-l", "-t", "-n", "-k", "-s"})
        if (values.count(required) == 0)
            return std::string("missing option ") + required + " (see --help)";
    settings.samples = values["-d"];
    settings.labels = values["-l"];
    settings.tree = values["-t"];
    settings.setsPrefix = values["-s"];
    settings.logPrefix = values["-p"];
    settings.everyFit = values.count("-v") > 0;
    settings.resultLabel = values.count("-r") ? values["-r"] : settings.samples;
    // The label is one field of one line of the result log.
    if (settings.resultLabel.find_first_of("\t\n\r") != std::string::npos)
        return "the label of the run (-r, or the sample table's name) holds a tab or a line "
               "break, which would break the result log's line";

    std::string message =
        readRepetitionsAndFolds(values, settings.repetitions, settings.folds);
    if (!message.empty())
        return message;

    if (values.count("-j")) {
        long long jobs = 0;
        message = readWholeNumber("-j", values["-j"], 0, 1024, jobs);
        if (!message.empty())
            return message;
        settings.jobs = jobs > 0 ? static_cast<int>(jobs)
                                 : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    }
    if (values.count("-solver")) {
        message = parseSolver(values["-solver"], settings.converged);
        if (!message.empty())
            return message;
    }
    if (values.count("-tol")) {
        message = parseTolerance(values["-tol"], settings.options.tol);
        if (!message.empty())
            return message;
    }
    if (values.count("-w")) {
        message = readGrid(values["-w"], parseWeight, settings.ws);
        if (!message.empty())
            return message;
    }
    if (values.count("-nested")) {
        long long folds = 0;
        message = readWholeNumber("-nested", values["-nested"], 2, INT_MAX, folds);
        if (!message.empty())
            return message;
        settings.innerFolds = static_cast<int>(folds);
    }
    if (values.count("-seed")) {
        long long seed = 0;
        message = readWholeNumber("-seed", values["-seed"], 0, UINT32_MAX, seed);
        if (!message.empty())
            return message;
        settings.seed = static_cast<std::uint32_t>(seed);
    }
    if (values.count("-folds-seed")) {
        long long seed = 0;
        message = readWholeNumber("-folds-seed", values["-folds-seed"], 0, UINT32_MAX, seed);
        if (!message.empty())
            return message;
        settings.foldsSeed = static_cast<std::uint32_t>(seed);
        settings.foldsSeedGiven = true;
    }
    if (values.count("-g")) {
        settings.groups = values["-g"];
        if (settings.groups.empty())
            return "-g names no groups file";
    }
    return readLambdas(values, settings);
}

// One warning line when some converged fits stopped above the tolerance.
std::string convergenceWarnings(const std::vector<double> &gaps, const ConvergedOptions &options)
{
    const std::size_t above = std::count_if(gaps.begin(), gaps.end(),
                                            [&](double gap) { return gap > options.tol; });
    if (above == 0)
        return "";
    std::ostringstream text;
    text << "warning: " << above << " of " << gaps.size()
         << " converged fits stopped after " << options.maxIterations
         << " iterations with a relative duality gap above -tol " << options.tol << " (largest "
         << *std::max_element(gaps.begin(), gaps.end()) << ")\n";
    return text.str();
}

// Whether the sets files are, byte for byte, those Orvane-folds writes from
// settings.foldsSeed; refuses them when that seed was given (-folds-seed)
// and drew other folds.
std::string checkFoldsSeed(Settings &settings, int nSamples, const std::vector<int> &groupOfSample,
                           int nGroups)
{
    std::vector<int> classOfSample;
    int nClasses = 0;
    std::string message = checkLabels(settings.labels, nSamples, classOfSample, nClasses);
    if (!message.empty())
        return message;
    const std::vector<std::string> drawn =
        setsFilesOfSeed(classOfSample, nClasses, groupOfSample, nGroups, settings.folds,
                        settings.repetitions, settings.foldsSeed);
    settings.foldsFromSeed = true;
    for (int r = 0; r < settings.repetitions && settings.foldsFromSeed; r++) {
        const std::string path = settings.setsPrefix + std::to_string(r) + ".txt";
        std::ostringstream text;
        text << std::ifstream(path, std::ios::binary).rdbuf();
        settings.foldsFromSeed = text.str() == drawn[r];
        if (!settings.foldsFromSeed && settings.foldsSeedGiven)
            return path + ": not the folds Orvane-folds -seed " + std::to_string(settings.foldsSeed) +
                   " draws from " + settings.labels +
                   (settings.groups.empty() ? "" : " and " + settings.groups) + " (-folds-seed)";
    }
    return "";
}

// Reads and checks every input once; `inputs` keeps what the folds are fitted
// on, `groupOfSample` the groups of -g. Finds whether settings.foldsSeed drew the folds.
std::string checkInputs(Settings &settings, TrainingInputs &inputs, std::vector<int> &groupOfSample)
{
    std::string message = readTrainingInputs(settings.samples, settings.labels, settings.tree,
                                             settings.ws, inputs);
    int nGroups = 0;
    if (message.empty() && !settings.groups.empty())
        message = readSampleGroups(settings.groups, inputs.data.N, settings.samples, groupOfSample,
                                   nGroups);
    for (int i = 0; i < settings.repetitions && message.empty(); i++) {
        const std::string path = settings.setsPrefix + std::to_string(i) + ".txt";
        std::vector<FoldSamples> folds;
        message = readSetsFile(path, settings.folds, inputs.data.N, folds);
        // Every inner fold must hold out some sample.
        for (int j = 0; j < settings.folds && message.empty(); j++)
            if (static_cast<int>(folds[j].training.size()) < settings.innerFolds)
                message = path + ": fold " + std::to_string(j) + " has " +
                          std::to_string(folds[j].training.size()) +
                          " training samples, fewer than the " +
                          std::to_string(settings.innerFolds) + " inner folds of -nested";
        if (message.empty() && !settings.groups.empty())
            message = checkGroupedFolds(path, folds, groupOfSample, settings.groups,
                                        settings.innerFolds);
    }
    if (message.empty())
        message = checkFoldsSeed(settings, inputs.data.N, groupOfSample, nGroups);
    return message;
}

// The folder of a file path, with its final '/' ("" for the current folder).
std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The grid point the predictions are taken at, for the confusion plot's title.
std::string pointName(const CvSummary &summary)
{
    const PointSummary &point = summary.points[summary.minPoint];
    return "w " + shortestText(point.w) + ", lambda " + shortestText(point.lambda) + " (min)";
}

std::string listText(const std::vector<float> &values)
{
    std::string text;
    for (const float value : values)
        text += (text.empty() ? "" : ",") + shortestText(value);
    return text;
}

// What the run was asked to do, one "key<TAB>value" line each, for the
// report's methods paragraph: only settings the run used (groups: the -g
// file as given, whose groups every fold kept whole).
std::string settingsTable(const Settings &settings)
{
    std::ostringstream out;
    out << "key\tvalue\nsolver\t" << (settings.converged ? "converged" : "cyclic") << '\n';
    if (settings.converged)
        out << "tol\t" << settings.options.tol << '\n';
    out << "w\t" << listText(settings.ws) << '\n';
    if (settings.autoLambda)
        out << "lambda\tauto\nnlambda\t" << settings.nLambda << "\nlambda_ratio\t" << settings.lambdaRatio << '\n';
    else
        out << "lambda\t" << listText(settings.lambdas) << '\n';
    out << "repetitions\t" << settings.repetitions << "\nfolds\t" << settings.folds << '\n';
    if (settings.foldsFromSeed)
        out << "folds_seed\t" << settings.foldsSeed << '\n';
    if (!settings.groups.empty())
        out << "groups\t" << oneField(settings.groups) << '\n';
    if (settings.innerFolds > 0)
        out << "nested_inner_folds\t" << settings.innerFolds << "\nnested_seed\t" << settings.seed << '\n';
    return out.str();
}

// Writes the summary, the predictions, confusion matrix and selection shares
// at the point of least mean error, the two plots and the run's settings: all
// the files whole, or none.
std::string writeRunFiles(const Testing &search, const CvSummary &summary, const Data &all,
                          vessik::Tree *tree, const StudyNames &names, const Settings &settings,
                          const NestedResult *nested)
{
    const std::string &logPrefix = settings.logPrefix;
    const std::vector<std::vector<long>> counts = confusionCounts(search, summary.minPoint, all);
    std::vector<std::pair<std::string, std::string>> files = {
        {"cv_summary.tsv", summaryTable(summary)},
        {"cv_predictions.tsv", predictionsTable(search, summary.minPoint, all, names)},
        {"cv_probabilities.tsv", probabilitiesTable(search, summary.minPoint, all, names)},
        {"cv_confusion.tsv", confusionTable(counts, names)},
        {"cv_curve.svg", curveSvg(summary, majorityClassError(all))},
        {"cv_confusion.svg", confusionSvg(counts, names, pointName(summary))},
        {"cv_selection.tsv", selectionTable(search, summary.minPoint, tree, all.M, all.C, names)},
        {"cv_settings.tsv", settingsTable(settings)},
    };
    if (nested != nullptr)
        files.push_back({"cv_nested.tsv", nestedTable(*nested)});
    std::vector<OutputFile> outputs;
    for (const auto &file : files) {
        const std::string &text = file.second;
        outputs.push_back({logPrefix + file.first, [&text](std::ostream &out) { out << text; }});
    }
    return writeFilesAtomically(outputs);
}

// Makes sure every log can be appended to, without creating any: a log
// that does not exist yet must be creatable in its folder. A run that fails
// or is killed before its end then leaves no log of its own, not even an
// empty one.
std::string checkLogs(const std::string &logPrefix)
{
    for (const char *name : {"log_detailed.txt", "log_avr.txt", "log_result.txt"}) {
        const std::string path = logPrefix + name;
        std::error_code error;
        const std::string folder = folderOf(path);
        const bool writable = std::filesystem::exists(path, error)
                                  ? static_cast<bool>(std::ofstream(path, std::ios::app))
                                  : access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
        if (!writable)
            return path + ": cannot open the file for appending";
    }
    return "";
}

// What the nested cross-validation found, and why it is the number to publish.
std::string nestedNote(const NestedResult &nested, const CvSummary &summary)
{
    std::ostringstream note;
    note << "nested cross-validation error: " << static_cast<float>(nested.meanError)
         << " (standard error " << static_cast<float>(nested.stdError) << ") over "
         << nested.folds.size() << " outer folds, each choosing w and lambda on its own training "
         << "samples; publish this one, not the min choice's "
         << summary.points[summary.minPoint].meanError
         << ", which was chosen on the folds that measured it\n";
    return note.str();
}

// With -lambda auto, the grid of each w from lambda_max on every sample,
// printed so that a run can be repeated with it.
std::string autoGrids(const Settings &settings, const TrainingInputs &inputs,
                      std::vector<std::vector<float>> &grids)
{
    for (const float w : settings.ws) {
        const double top = lambdaMaxOf(inputs.data, inputs.tree.get(), w);
        if (!std::isfinite(top) || !(top > 0) || !std::isfinite(static_cast<float>(top)))
            return "-lambda auto: at w " + shortestText(w) + " lambda_max is " +
                   std::to_string(top) +
                   (top > 0 ? " (some coefficient carries no penalty)" : " (nothing to learn)") +
                   ": give the lambda values with -lambda";
        grids.push_back(logSpacedGrid(top, settings.nLambda, settings.lambdaRatio));
        std::string text;
        for (const float lambda : grids.back())
            text += (text.empty() ? "" : ",") + shortestText(lambda);
        std::cerr << "lambda grid at w " << shortestText(w) << " (lambda_max "
                  << shortestText(static_cast<float>(top)) << "): " << text << std::endl;
    }
    return "";
}

// Whether SIGINT or SIGTERM came while they were held off.
bool interruptPending()
{
    sigset_t pending;
    return sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1);
}

// Runs the search from inputs read once and writes everything it found.
// Returns the message to print after "error: " when something cannot be written.
std::string crossValidate(const Settings &settings, const TrainingInputs &inputs,
                          const std::vector<int> &groupOfSample)
{
    const Data &all = inputs.data;
    StudyNames names;
    std::string message = readStudyNames(folderOf(settings.samples), settings.labels, all, names);
    std::vector<std::vector<float>> grids;
    if (message.empty() && settings.autoLambda)
        message = autoGrids(settings, inputs, grids);
    const ProgressLines::Mode mode = settings.everyFit          ? ProgressLines::Mode::EveryFit
                                     : isatty(STDERR_FILENO) == 1 ? ProgressLines::Mode::InPlace
                                                                  : ProgressLines::Mode::Tenths;
    ProgressLines progressLines(std::cerr, mode);
    std::ostream progress(&progressLines);
    if (message.empty()) {
        const Testing search(all, inputs.tree.get(), settings.samples, settings.labels, settings.tree,
                             settings.repetitions, settings.folds, settings.setsPrefix,
                             settings.logPrefix, settings.resultLabel, settings.ws,
                             grids.empty() ? settings.lambdas : grids[0], settings.jobs,
                             &progress, settings.converged ? &settings.options : nullptr, grids);
        std::cerr << convergenceWarnings(search.gaps, settings.options);
        const CvSummary summary = summarise(search);
        NestedResult nested;
        if (settings.innerFolds > 0) {
            nested = nestedCrossValidation(search, all, inputs.tree.get(), settings.innerFolds,
                                           settings.seed, settings.jobs, &progress, groupOfSample,
                                           settings.converged ? &settings.options : nullptr);
            std::cerr << convergenceWarnings(nested.gaps, settings.options);
        }
        // The logs and the files beside them hold this run all or none: SIGINT
        // and SIGTERM wait until both are written, and one that came during
        // the append takes the run out of the logs again before it ends the
        // program. A rerun then never finds its run logged twice.
        const SignalsHeld held;
        std::vector<LogMark> marks;
        message = search.appendLogs(&marks);
        if (message.empty() && interruptPending()) {
            removeRun(marks);
            return "interrupted";
        }
        if (message.empty()) {
            message = writeRunFiles(search, summary, all, inputs.tree.get(), names, settings,
                                    settings.innerFolds > 0 ? &nested : nullptr);
            if (!message.empty())
                removeRun(marks);
        }
        if (message.empty()) {
            std::cerr << edgeWarnings(summary) << choicesNote(summary);
            if (settings.innerFolds > 0)
                std::cerr << nestedNote(nested, summary);
        }
    }
    return message;
}

} // namespace

int main(int argc, char **argv)
try {
    // Run bare, the program was not asked for anything: the usage goes to
    // standard error with status 1, so that a script that lost its arguments
    // stops here instead of carrying on as if a run had succeeded.
    if (argc < 2) {
        std::cerr << usage;
        return 1;
    }
    std::map<std::string, std::string> values;
    bool help = false;
    bool version = false;
    std::string message = scanOptions(
        argc, argv, {"-d", "-l", "-t", "-n", "-k", "-s", "-p", "-r", "-w", "-lambda", "-j", "-nested",
         "-seed", "-nlambda", "-lambda-ratio", "-solver", "-tol", "-g", "-folds-seed"}, values,
        help, version, {"-v"});
    if (version) {
        std::cout << "Orvane-cv " ORVANE_VERSION << std::endl;
        return 0;
    }
    if (help) {
        std::cout << usage;
        return 0;
    }
    Settings settings;
    if (message.empty())
        message = readSettings(values, settings);
    TrainingInputs inputs;
    std::vector<int> groupOfSample;
    if (message.empty())
        message = checkInputs(settings, inputs, groupOfSample);
    if (message.empty())
        message = checkLogs(settings.logPrefix);
    if (message.empty()) {
        try {
            message = crossValidate(settings, inputs, groupOfSample);
        } catch (const std::bad_alloc &) {
            message = "out of memory while fitting the folds (try a smaller -j)";
        }
    }
    if (!message.empty())
        return fail(message);
    return 0;
} catch (const std::bad_alloc &) { return outOfMemory(); } // one error line, not an abort
