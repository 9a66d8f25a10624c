// Stratified folds drawn from a seed: each class's members, shuffled, are
// dealt round-robin over the folds. Orvane-folds writes its sets files with
// it, and nested cross-validation draws its inner folds with it.
#ifndef ORVANE_FOLDDRAW_H
#define ORVANE_FOLDDRAW_H

#include <random>
#include <vector>

// The fold of every sample for one repetition (classOfSample[s] from 1 to
// nClasses): the shuffled members of each class in turn are dealt over the
// folds, each class starting where the previous one stopped, so that both
// every class and the folds overall are as even as the sizes allow. Only the
// generator's raw 32-bit outputs are used, so a seed gives the same folds
// with every compiler and standard library.
std::vector<int> drawFolds(const std::vector<int> &classOfSample, int nClasses, int nFolds,
                           std::mt19937 &generator);

#endif
