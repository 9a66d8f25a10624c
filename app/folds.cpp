// Orvane-folds: writes the sets files that Orvane-cv reads, one per
// repetition, with folds stratified by class (validation/folds.h draws them),
// and with -g each group of samples kept in one fold.
#include <climits>
#include <cstdint>
#include <iostream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/inputs.h"
#include "app/version.h"
#include "io/outputs.h"
#include "io/sample_groups.h"
#include "validation/folds.h"
#include "validation/options.h"

namespace {

const char *const usage =
    "Usage: Orvane-folds -d SAMPLES -l LABELS -n REPETITIONS -k FOLDS -s PREFIX [-seed SEED]\n"
    "                    [-g GROUPS]\n"
    "Writes the sets files PREFIX0.txt, PREFIX1.txt, ... of a repeated K-fold\n"
    "cross-validation, one per repetition. Each class is spread over the folds as\n"
    "evenly as its size allows, and every sample is held out once per repetition.\n"
    "With -g, the samples of a group stay in one fold, and the classes are spread\n"
    "as evenly as whole groups allow.\n"
    "\n"
    "-d\t\tSample table.\n"
    "-l\t\tClass labels file.\n"
    "-n\t\tNumber of repetitions, 1 or more.\n"
    "-k\t\tNumber of folds, from 2 to the number of samples.\n"
    "-s\t\tPrefix of the sets files.\n"
    "-seed\t\tSeed of the random draws, from 0 to 4294967295 (default 1).\n"
    "-g\t\tGroups file (groups.tsv of Orvane-prepare -group): a header\n"
    "\t\t'line<TAB>group', then each sample line (from 1) with its group.\n"
    "-h, --help\tPrint this help message.\n"
    "--version\tPrint the program's name and version.\n"
    "\n"
    "Example:\n"
    "./Orvane-folds -d example/samples.txt -l example/labels.txt -n 2 -k 5 -s sets\n";

struct Settings {
    std::string samples;
    std::string labels;
    int repetitions = 0;
    int folds = 0;
    std::string prefix;
    std::uint32_t seed = 1;
    std::string groups;  // empty without -g
};

std::string readSettings(std::map<std::string, std::string> &values, Settings &settings)
{
    for (const char *required : {"-d", "-l", "-n", "-k", "-s"})
        if (values.count(required) == 0)
            return std::string("missing option ") + required + " (see --help)";
    settings.samples = values["-d"];
    settings.labels = values["-l"];
    settings.prefix = values["-s"];
    if (values.count("-g")) {
        settings.groups = values["-g"];
        if (settings.groups.empty())
            return "-g names no groups file";
    }

    std::string message =
        readRepetitionsAndFolds(values, settings.repetitions, settings.folds);
    if (!message.empty())
        return message;
    if (values.count("-seed")) {
        long long number = 0;
        message = readWholeNumber("-seed", values["-seed"], 0, UINT32_MAX, number);
        settings.seed = static_cast<std::uint32_t>(number);
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
    std::string message =
        scanOptions(argc, argv, {"-d", "-l", "-n", "-k", "-s", "-seed", "-g"}, values, help, version);
    if (version) {
        std::cout << "Orvane-folds " ORVANE_VERSION << std::endl;
        return 0;
    }
    if (help) {
        std::cout << usage;
        return 0;
    }
    Settings settings;
    if (message.empty())
        message = readSettings(values, settings);
    int nSamples = 0;
    int nFeatures = 0;
    int nClasses = 0;
    std::vector<int> classOfSample;
    if (message.empty())
        message = checkSampleTable(settings.samples, nSamples, nFeatures);
    if (message.empty())
        message = checkLabels(settings.labels, nSamples, classOfSample, nClasses);
    // Fewer samples than folds would leave a fold with nothing to hold out.
    if (message.empty() && settings.folds > nSamples)
        message = "-k " + std::to_string(settings.folds) + " asks for more folds than the " +
                  std::to_string(nSamples) + " samples of " + settings.samples;
    std::vector<int> groupOfSample;
    int nGroups = 0;
    if (message.empty() && !settings.groups.empty())
        message = readSampleGroups(settings.groups, nSamples, settings.samples, groupOfSample,
                                   nGroups);
    // Likewise a fold needs a group of its own.
    if (message.empty() && !settings.groups.empty() && settings.folds > nGroups)
        message = "-k " + std::to_string(settings.folds) + " asks for more folds than the " +
                  std::to_string(nGroups) + " groups of " + settings.groups;
    if (!message.empty())
        return fail(message);

    // The files are written all or none: a partial set would look complete.
    const std::vector<std::string> texts =
        setsFilesOfSeed(classOfSample, nClasses, groupOfSample, nGroups,
                        settings.folds, settings.repetitions, settings.seed);
    std::vector<OutputFile> files;
    for (int r = 0; r < settings.repetitions; r++)
        files.push_back({settings.prefix + std::to_string(r) + ".txt",
                         [&texts, r](std::ostream &out) { out << texts[r]; }});
    message = writeFilesAtomically(files);
    return message.empty() ? 0 : fail(message);
} catch (const std::bad_alloc &) { return outOfMemory(); } // one error line, not an abort
