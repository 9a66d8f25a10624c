// Checks of the command-line programs' inputs, made before any model is built.
#ifndef ORVANE_INPUTS_H
#define ORVANE_INPUTS_H

#include <string>
#include <vector>

// Each check returns an empty string when the input is sound, otherwise the
// message to print after "error: " (it names the file, and the line when there is one).
std::string checkSampleTable(const std::string &path, int &nSamples, int &nFeatures);
// classOfSample gets nSamples entries: the class number (1..nClasses) of sample i+1.
std::string checkLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                        int &nClasses);
// The tree reader prints its own "error: ..." lines to stderr before this returns its message.
std::string checkTree(const std::string &path, int nFeatures);
std::string parseWeight(const std::string &text, float &w);       // the -w value
std::string parseLambda(const std::string &text, float &lambda);  // the -lambda value
std::string checkModelFile(const std::string &path, int nFeatures);

// Prints "error: " and the message on standard error; returns the failure exit status, 1.
int fail(const std::string &message);

#endif
