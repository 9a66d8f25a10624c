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

// The first repetition (from 0) whose folds, foldOfSample[r], differ from
// those Orvane-folds draws from `seed`: every repetition in turn from one
// generator, by drawGroupFolds when nGroups > 0, else by drawFolds; -1 when
// none differs. Tells which seed drew the folds a run was given.
int firstRepetitionNotDrawn(const std::vector<std::vector<int>> &foldOfSample,
                            const std::vector<int> &classOfSample, int nClasses,
                            const std::vector<int> &groupOfSample, int nGroups, int nFolds,
                            std::uint32_t seed);

// Writes the sets file of one repetition, the file Orvane-cv reads: for each
// fold a header "> FOLD", then its held-out samples, then its training
// samples, each list ascending and separated by spaces.
void writeSets(std::ostream &out, const std::vector<int> &foldOfSample, int nFolds);

#endif
