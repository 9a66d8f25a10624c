// Drawing the folds of a repeated K-fold cross-validation, stratified by
// class, optionally with groups of samples (a patient's repeated samples, the
// two of a pair) kept whole. The draws use only the Mersenne Twister's raw
// 32-bit outputs, so a seed gives the same folds with every compiler and
// standard library.
#ifndef ORVANE_VALIDATION_FOLDS_H
#define ORVANE_VALIDATION_FOLDS_H

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// The fold (0 to nFolds-1) of every sample for one repetition, each class
// spread over the folds as evenly as its size allows. classOfSample holds
// class numbers from 1 to nClasses.
std::vector<int> drawFolds(const std::vector<int> &classOfSample, int nClasses, int nFolds,
                           std::mt19937 &generator);

// As drawFolds, but every group's samples go to one fold. groupOfSample holds
// group numbers from 0 to nGroups-1, every one used; nGroups is at least nFolds,
// and then no fold is left empty.
std::vector<int> drawGroupFolds(const std::vector<int> &classOfSample, int nClasses,
                                const std::vector<int> &groupOfSample, int nGroups, int nFolds,
                                std::mt19937 &generator);

// The sets files Orvane-folds writes from `seed`, one text per repetition:
// every repetition in turn from one generator, drawn by drawGroupFolds when
// nGroups > 0, else by drawFolds, and written by writeSets. Compared with a
// run's sets files, it tells which seed drew them.
std::vector<std::string> setsFilesOfSeed(const std::vector<int> &classOfSample, int nClasses,
                                         const std::vector<int> &groupOfSample, int nGroups,
                                         int nFolds, int repetitions, std::uint32_t seed);

// Writes the sets file of one repetition, the file Orvane-cv reads: for each
// fold a header "> FOLD", then its held-out samples, then its training
// samples, each list ascending and separated by spaces.
void writeSets(std::ostream &out, const std::vector<int> &foldOfSample, int nFolds);

#endif
