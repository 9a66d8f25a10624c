// Orvane: learns a tree-regularised multinomial logistic regression from a
// sample table, a labels file and a tree (-train), and classifies samples
// with a learnt model (-test).
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "app/inputs.h"
#include "app/version.h"
#include "io/outputs.h"
#include "model/Converged.h"
#include "model/Logistic.h"
#include "model/ModelFile.h"
#include "model/SampleTable.h"

void printHelp()
{
    std::cout << "Usage:" << std::endl;
    std::cout << "-h  --help\tPrint help message." << std::endl;
    std::cout << std::endl;
    std::cout << "Orvane can be run in two modes: training and testing (or classification of\n"
                 "new samples)."
              << std::endl;
    std::cout << std::endl;
    std::cout << "-train\t\tTraining mode." << std::endl;
    std::cout << "-test\t\tTraining mode." << std::endl;
    std::cout << "-d\t\tClass labels file (training mode)." << std::endl;
    std::cout << "-t\t\tPhylogenetic tree in the Newick format file (training mode)." << std::endl;
    std::cout << "-o\t\tOutput file (training and testing modes)." << std::endl;
    std::cout << "-c\t\tInput file for the testing mode produced during training phase." << std::endl;
    std::cout << "-w\t\tWeight parameter (training mode), value from 0 to 1." << std::endl;
    std::cout << "-lambda\t\tregularization parameter (training mode)." << std::endl;
    std::cout << std::endl;
    std::cout << "Examples." << std::endl;
    std::cout << "Training:" << std::endl;
    std::cout << "./Orvane -train -d example/samples.txt -t example/tree.tre -l example/labels.txt "
              << "-w 0.5 -lambda 1 -o example/out.txt" << std::endl;
    std::cout << std::endl;
    std::cout << "Testing:" << std::endl;
    std::cout << "./Orvane -test -d example/samples.txt -c example/out.txt -o example/result.txt"
              << std::endl;
    std::cout << std::endl;
}

namespace {

// The run's settings as the argument scan leaves them. The two numbers stay
// text until a training run reads them, so that testing, which ignores them,
// does not check them either; their start values read as 0.5 and 1.0.
struct Settings {
    std::string mode;
    std::string sampleFile;
    std::string labelsFile;
    std::string treeFile;
    std::string modelFile;
    std::string outputFile;
    std::string weightText = "0.5";
    std::string lambdaText = "1";
    std::string solverText = "cyclic";
    std::string tolText = "1e-6";
    bool verbose = false;
};

// The setting that a value option fills, or null when `arg` is no value option.
std::string *valueSetting(Settings &settings, const std::string &arg)
{
    if (arg == "-d")
        return &settings.sampleFile;
    if (arg == "-l")
        return &settings.labelsFile;
    if (arg == "-t")
        return &settings.treeFile;
    if (arg == "-o")
        return &settings.outputFile;
    if (arg == "-c")
        return &settings.modelFile;
    if (arg == "-w")
        return &settings.weightText;
    if (arg == "-lambda")
        return &settings.lambdaText;
    if (arg == "-solver")
        return &settings.solverText;
    if (arg == "-tol")
        return &settings.tolText;
    return nullptr;
}

struct RequiredOption {
    const char *option;
    const char *meaning;
    const std::string &value;
};

// A message about the first option in `options` that was not given.
std::string missingOption(std::initializer_list<RequiredOption> options)
{
    for (const RequiredOption &required : options)
        if (required.value.empty())
            return std::string("missing option ") + required.option + " (" + required.meaning + ")";
    return "";
}

int runTraining(const Settings &settings)
{
    std::string problem = missingOption({{"-d", "sample table", settings.sampleFile},
                                         {"-l", "labels file", settings.labelsFile},
                                         {"-t", "tree file", settings.treeFile},
                                         {"-o", "output file", settings.outputFile}});
    float w = 0.0f;
    float lambda = 0.0f;
    bool converged = false;
    ConvergedOptions options;
    TrainingInputs inputs;
    if (problem.empty())
        problem = parseWeight(settings.weightText, w);
    if (problem.empty())
        problem = parseLambda(settings.lambdaText, lambda);
    if (problem.empty())
        problem = parseSolver(settings.solverText, converged);
    if (problem.empty())
        problem = parseTolerance(settings.tolText, options.tol);
    if (problem.empty())
        problem = readTrainingInputs(settings.sampleFile, settings.labelsFile, settings.treeFile,
                                     {w}, inputs);
    if (!problem.empty())
        return fail(problem);

    Logistic model(inputs.takeData(), inputs.tree.release());
    if (converged) {
        const ConvergedResult result = fitConverged(model, w, lambda, options);
        if (settings.verbose)
            std::cerr << "converged solver: relative duality gap " << result.gap << " after "
                      << result.iterations << " iterations, objective " << result.objective
                      << std::endl;
        std::cerr << convergenceWarning(result, options);
    } else {
        model.Train(lambda);
        model.Learn(w);
    }
    problem = writeFileAtomically(settings.outputFile,
                                  [&model](std::ostream &out) { model.output(out); });
    model.del();
    return problem.empty() ? 0 : fail(problem);
}

int runTesting(const Settings &settings)
{
    std::string problem = missingOption({{"-d", "sample table", settings.sampleFile},
                                         {"-c", "model file", settings.modelFile},
                                         {"-o", "output file", settings.outputFile}});
    SampleTable table;
    if (problem.empty())
        problem = readSampleTable(settings.sampleFile, table);
    if (!problem.empty())
        return fail(problem);

    Logistic model(dataOf(table), nullptr);
    problem = readModelFile(settings.modelFile, model.nFeatures, model);
    if (problem.empty())
        problem = writeFileAtomically(settings.outputFile,
                                      [&model](std::ostream &out) { model.Classify(out); });
    model.del();
    return problem.empty() ? 0 : fail(problem);
}

// Runs a training or testing run; an allocation that fails (a machine short
// of memory) ends it with one error line instead of an abort.
int guarded(int (*run)(const Settings &), const Settings &settings)
{
    try {
        return run(settings);
    } catch (const std::bad_alloc &) {
        return outOfMemory();
    }
}

// Command-line errors go to standard output and end the process with status 1.
int commandLineError(const char *message)
{
    std::cout << message << std::endl;
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printHelp();
        return 0;
    }
    Settings settings;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-train" || arg == "-test") {
            const std::string mode = arg.substr(1);
            if (!settings.mode.empty() && settings.mode != "help" && settings.mode != mode)
                return commandLineError("Please, use either training or testing mode.");
            settings.mode = mode;
        } else if (arg == "--help" || arg == "-h") {
            // "--help" has always announced itself with a line "123"; the
            // short form prints the usage text alone.
            if (arg == "--help")
                std::cout << 123 << std::endl;
            settings.mode = "help";
        } else if (arg == "-v") {
            settings.verbose = true;
        } else if (arg == "--version") {
            std::cout << "Orvane " ORVANE_VERSION << std::endl;
            return 0;
        } else {
            std::string *setting = valueSetting(settings, arg);
            // An unknown argument, or a value option with no value after it.
            if (setting == nullptr || i + 1 >= argc)
                return commandLineError("Invalid arguments, please try again");
            *setting = argv[++i];
        }
    }
    if (settings.mode == "help") {
        printHelp();
        return 0;
    }
    if (settings.mode == "train")
        return guarded(runTraining, settings);
    if (settings.mode == "test")
        return guarded(runTesting, settings);
    return 0;
}
