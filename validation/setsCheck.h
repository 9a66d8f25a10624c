// Reads and checks a sets file before the cross-validation harness relies on it.
#ifndef ORVANE_SETSCHECK_H
#define ORVANE_SETSCHECK_H

#include <string>
#include <vector>

// The two sample index lists of one fold, in the order the file writes them.
struct FoldSamples {
    std::vector<int> test;
    std::vector<int> training;
};

// Returns an empty string when the sets file at `path` holds exactly one block
// for each fold 0 to KFold-1, each header carrying its fold number as the
// second word, and each test and training line a non-empty list of distinct
// sample indices from 0 to nSamples-1 that share no index with the other
// line; `folds` then holds the KFold folds' lists, fold j at index j.
// Otherwise returns the message to print after "error: ". One pass, with
// lines read field by field.
std::string readSetsFile(const std::string &path, int KFold, int nSamples,
                         std::vector<FoldSamples> &folds);
std::string checkSetsFile(const std::string &path, int KFold, int nSamples);

#endif
