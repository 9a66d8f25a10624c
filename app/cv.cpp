// Orvane-cv: runs the repeated K-fold cross-validation over a grid of w and
// lambda values from the shell. Every input is checked, then read once, before
// the first fold is fitted; the harness's progress lines are the only standard
// output. The logs gain the whole run at its end, and the summary, the
// out-of-fold predictions, the confusion matrix and two plots are written
// beside them.
#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/inputs.h"
#include "io/outputs.h"
#include "app/version.h"
#include "validation/Summary.h"
#include "validation/Testing.h"
#include "validation/runFiles.h"
#include "validation/options.h"
#include "validation/setsCheck.h"

namespace {

const char *const usage =
    "Usage: Orvane-cv -d SAMPLES -l LABELS -t TREE -n REPETITIONS -k FOLDS -s SETS_PREFIX\n"
    "                 [-p LOG_PREFIX] [-r LABEL] [-w W1,W2,...] [-lambda L1,L2,...] [-j JOBS]\n"
    "Repeated K-fold cross-validation of the tree-regularised model over a grid of\n"
    "w and lambda values. Repetition i reads its folds from SETS_PREFIXi.txt\n"
    "(written by Orvane-folds). Beside the logs it writes LOG_PREFIXcv_summary.tsv,\n"
    "LOG_PREFIXcv_predictions.tsv, LOG_PREFIXcv_confusion.tsv, LOG_PREFIXcv_curve.svg\n"
    "and LOG_PREFIXcv_confusion.svg.\n"
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
    "-lambda\t\tComma-separated regularization values (default 1).\n"
    "-j\t\tNumber of fits run at once, on as many threads (default 1; 0: one per\n"
    "\t\tprocessor). The outputs do not depend on it.\n"
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
    settings.resultLabel = values.count("-r") ? values["-r"] : settings.samples;

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
    if (values.count("-w")) {
        message = readGrid(values["-w"], parseWeight, settings.ws);
        if (!message.empty())
            return message;
    }
    if (values.count("-lambda"))
        return readGrid(values["-lambda"], parseLambda, settings.lambdas);
    return "";
}

// Removes the logs this run created, if they are still empty.
void removeEmpty(const std::vector<std::string> &created)
{
    for (const std::string &file : created) {
        std::error_code error;
        if (std::filesystem::is_regular_file(file, error) &&
            std::filesystem::file_size(file, error) == 0)
            std::filesystem::remove(file, error);
    }
}

// Reads and checks every input once; `inputs` keeps what the folds are fitted on.
std::string checkInputs(const Settings &settings, TrainingInputs &inputs)
{
    std::string message = readTrainingInputs(settings.samples, settings.labels, settings.tree,
                                             settings.ws, inputs);
    for (int i = 0; i < settings.repetitions && message.empty(); i++)
        message = checkSetsFile(settings.setsPrefix + std::to_string(i) + ".txt", settings.folds,
                                inputs.data.N);
    return message;
}

// Makes sure every log can be opened for appending. Logs this check had to
// create are removed again when a later one fails, so a failed run leaves
// no trace; `created` names them for a failure after the check.
std::string checkLogs(const std::string &logPrefix, std::vector<std::string> &created)
{
    for (const char *name : {"log_detailed.txt", "log_avr.txt", "log_result.txt"}) {
        const std::string path = logPrefix + name;
        std::error_code error;
        const bool existed = std::filesystem::exists(path, error);
        std::ofstream log(path, std::ios::app);
        if (!log) {
            removeEmpty(created);
            return path + ": cannot open the file for appending";
        }
        if (!existed)
            created.push_back(path);
    }
    return "";
}

// The folder of a file path, with its final '/' ("" for the current folder).
std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Writes the summary, the predictions and confusion matrix at the point of
// least mean error, and the two plots: all five files whole, or none.
std::string writeRunFiles(const Testing &search, const CvSummary &summary, const Data &all,
                          const StudyNames &names, const std::string &logPrefix)
{
    const std::vector<std::vector<long>> counts = confusionCounts(search, summary.minPoint, all);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"cv_summary.tsv", summaryTable(summary)},
        {"cv_predictions.tsv", predictionsTable(search, summary.minPoint, all, names)},
        {"cv_confusion.tsv", confusionTable(counts, names)},
        {"cv_curve.svg", curveSvg(summary)},
        {"cv_confusion.svg", confusionSvg(counts, names)},
    };
    std::vector<OutputFile> outputs;
    for (const auto &file : files) {
        const std::string &text = file.second;
        outputs.push_back({logPrefix + file.first, [&text](std::ostream &out) { out << text; }});
    }
    return writeFilesAtomically(outputs);
}

// Runs the search from inputs read once and writes everything it found.
// Returns the message to print after "error: " when something cannot be written.
std::string crossValidate(const Settings &settings, const TrainingInputs &inputs,
                          const std::vector<std::string> &createdLogs)
{
    const Data &all = inputs.data;
    StudyNames names;
    std::string message = readStudyNames(folderOf(settings.samples), all.N, all.C, names);
    if (message.empty()) {
        const Testing search(all, inputs.tree.get(), settings.samples, settings.labels, settings.tree,
                             settings.repetitions, settings.folds, settings.setsPrefix,
                             settings.logPrefix, settings.resultLabel, settings.ws,
                             settings.lambdas, settings.jobs, &std::cerr);
        const CvSummary summary = summarise(search);
        message = search.appendLogs();
        if (message.empty()) {
            std::cerr << edgeWarnings(summary);
            message = writeRunFiles(search, summary, all, names, settings.logPrefix);
        }
    }
    if (!message.empty())
        removeEmpty(createdLogs);
    return message;
}

} // namespace

int main(int argc, char **argv)
try {
    sendLibraryMessagesToStandardStreams();
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
        argc, argv, {"-d", "-l", "-t", "-n", "-k", "-s", "-p", "-r", "-w", "-lambda", "-j"}, values,
        help, version);
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
    if (message.empty())
        message = checkInputs(settings, inputs);
    std::vector<std::string> createdLogs;
    if (message.empty())
        message = checkLogs(settings.logPrefix, createdLogs);
    if (message.empty()) {
        try {
            message = crossValidate(settings, inputs, createdLogs);
        } catch (const std::bad_alloc &) {
            removeEmpty(createdLogs);
            message = "out of memory while fitting the folds (try a smaller -j)";
        }
    }
    if (!message.empty())
        return fail(message);
    return 0;
} catch (const std::bad_alloc &) { return outOfMemory(); } // one error line, not an abort
