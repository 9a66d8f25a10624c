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

// With groups (a group number per sample, read from `groupsPath`): returns
// an empty string when no fold of `folds` (read from `path`) holds out a
// sample of a group it trains on, and every fold trains on at least
// `innerFolds` groups (0: no inner folds), so that the inner folds of a
// nested run can keep groups whole too; otherwise the message to print
// after "error: ".
std::string checkGroupedFolds(const std::string &path, const std::vector<FoldSamples> &folds,
                              const std::vector<int> &groupOfSample, const std::string &groupsPath,
                              int innerFolds);

#endif
