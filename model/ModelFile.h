// Reading a model file for classification, checked in the same pass.
#ifndef ORVANE_MODELFILE_H
#define ORVANE_MODELFILE_H

#include <string>

#include "model/Logistic.h"

// Reads the model file at `path` for samples of `nFeatures` features. The
// first line holds the class and feature counts (both at least 1, the
// features those of the samples), then come exactly that many lines of that
// many finite coefficients; only empty lines may follow. On success sets
// model.nClasses, model.nFeatures and model.beta and returns an empty string;
// otherwise leaves the model alone and returns the message to print after
// "error: ".
std::string readModelFile(const std::string &path, int nFeatures, Logistic &model);

#endif
