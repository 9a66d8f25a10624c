// Orvane-cv: runs the repeated K-fold cross-validation over a grid of w and
// lambda values from the shell. Every input is checked before the first fold
// is fitted; the harness's progress lines are the only standard output.
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "app/inputs.h"
#include "app/version.h"
#include "validation/Testing.h"
#include "validation/options.h"
#include "validation/setsCheck.h"

namespace {

const char *const usage =
    "Usage: Orvane-cv -d SAMPLES -l LABELS -t TREE -n REPETITIONS -k FOLDS -s SETS_PREFIX\n"
    "                 [-p LOG_PREFIX] [-r LABEL] [-w W1,W2,...] [-lambda L1,L2,...]\n"
    "Repeated K-fold cross-validation of the tree-regularised model over a grid of\n"
    "w and lambda values. Repetition i reads its folds from SETS_PREFIXi.txt\n"
    "(written by Orvane-folds).\n"
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

    if (values.count("-w")) {
        message = readGrid(values["-w"], parseWeight, settings.ws);
        if (!message.empty())
            return message;
    }
    if (values.count("-lambda"))
        return readGrid(values["-lambda"], parseLambda, settings.lambdas);
    return "";
}

std::string checkInputs(const Settings &settings)
{
    TrainingInputs inputs;
    std::string message = readTrainingInputs(settings.samples, settings.labels, settings.tree,
                                             settings.ws, inputs);
    for (int i = 0; i < settings.repetitions && message.empty(); i++)
        message = checkSetsFile(settings.setsPrefix + std::to_string(i) + ".txt", settings.folds,
                                inputs.data.N);
    return message;
}

// Makes sure every log can be opened for appending. Logs this check had to
// create are removed again when a later one fails, so a failed run leaves
// no trace.
std::string checkLogs(const std::string &logPrefix)
{
    std::vector<std::string> created;
    for (const char *name : {"log_detailed.txt", "log_avr.txt", "log_result.txt"}) {
        const std::string path = logPrefix + name;
        std::error_code error;
        const bool existed = std::filesystem::exists(path, error);
        std::ofstream log(path, std::ios::app);
        if (!log) {
            for (const std::string &file : created)
                std::filesystem::remove(file, error);
            return path + ": cannot open the file for appending";
        }
        if (!existed)
            created.push_back(path);
    }
    return "";
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
        argc, argv, {"-d", "-l", "-t", "-n", "-k", "-s", "-p", "-r", "-w", "-lambda"}, values,
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
    if (message.empty())
        message = checkInputs(settings);
    if (message.empty())
        message = checkLogs(settings.logPrefix);
    if (!message.empty())
        return fail(message);

    // Constructing the harness runs the whole search and completes the logs.
    const Testing search(settings.samples, settings.labels, settings.tree, settings.repetitions,
                         settings.folds, settings.setsPrefix, settings.logPrefix,
                         settings.resultLabel, settings.ws, settings.lambdas);
    return 0;
} catch (const std::bad_alloc &) { return outOfMemory(); } // one error line, not an abort
