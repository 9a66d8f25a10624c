// Checks a sets file before the cross-validation harness relies on it.
#ifndef ORVANE_SETSCHECK_H
#define ORVANE_SETSCHECK_H

#include <string>

// Returns an empty string when the sets file at `path` holds exactly one block
// for each fold 0 to KFold-1, each header carrying its fold number as the
// second word, and each test and training line a non-empty list of distinct
// sample indices from 0 to nSamples-1 that share no index with the other
// line. Otherwise returns the message to print after "error: ".
std::string checkSetsFile(const std::string &path, int KFold, int nSamples);

#endif
