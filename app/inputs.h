// Checks of the command-line programs' inputs, made before any model is built.
#ifndef ORVANE_INPUTS_H
#define ORVANE_INPUTS_H

#include <memory>
#include <string>
#include <vector>

#include "model/Converged.h"
#include "model/Logistic.h"
#include "tree/Tree.h"

// Each check returns an empty string when the input is sound, otherwise the
// message to print after "error: " (it names the file, and the line when there is one).
std::string checkSampleTable(const std::string &path, int &nSamples, int &nFeatures);
// classOfSample gets nSamples entries: the class number (1..nClasses) of sample i+1.
std::string checkLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                        int &nClasses);
// Reads the tree and checks that its leaves name distinct feature columns.
// The tree reader prints its own "error: ..." lines to stderr before this returns its message.
std::string readTree(const std::string &path, int nFeatures, std::unique_ptr<vessik::Tree> &tree);
std::string checkTree(const std::string &path, int nFeatures);
// A model file for a sample table of nFeatures features (see readModelFile).
std::string checkModelFile(const std::string &path, int nFeatures);

// Everything a training run reads: the data set of every line of the sample
// table, with its classes, and the tree. Owns the data set's arrays until
// takeData hands them over (to a Logistic, whose del frees them).
struct TrainingInputs {
    TrainingInputs() = default;
    ~TrainingInputs();
    TrainingInputs(const TrainingInputs &) = delete;
    TrainingInputs &operator=(const TrainingInputs &) = delete;
    Data takeData();

    Data data;
    std::unique_ptr<vessik::Tree> tree;
};

// Reads and checks the sample table, the labels file and the tree, each once,
// and refuses, before any fit, sizes too large to hold and a tree whose node
// heights cannot give weights for a w of -1 or -2 among `ws`. Orvane and
// Orvane-cv both start here, so they refuse the same inputs with the same messages.
std::string readTrainingInputs(const std::string &samples, const std::string &labels,
                               const std::string &tree, const std::vector<float> &ws,
                               TrainingInputs &out);

std::string parseWeight(const std::string &text, float &w);       // the -w value
std::string parseLambda(const std::string &text, float &lambda);  // the -lambda value
// The -solver value, cyclic or converged (then `converged` is set).
std::string parseSolver(const std::string &text, bool &converged);
// The -tol value: a relative duality gap from 1e-12 up to 1 (excluded).
std::string parseTolerance(const std::string &text, double &tol);
// A line "warning: ..." when a converged fit stopped above its tolerance, else "".
std::string convergenceWarning(const ConvergedResult &result, const ConvergedOptions &options);

// Prints "error: " and the message on standard error; returns the failure exit status, 1.
int fail(const std::string &message);
// For the programs' top level, when an allocation fails (std::bad_alloc):
// prints one "error: out of memory ..." line and returns the exit status, 1.
int outOfMemory();

#endif
