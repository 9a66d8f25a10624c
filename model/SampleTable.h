// The sample table and the labels file, read and checked in one pass each,
// and the data set the model learns from built from what they hold.
#ifndef ORVANE_SAMPLETABLE_H
#define ORVANE_SAMPLETABLE_H

#include <memory>
#include <string>
#include <vector>

#include "model/Logistic.h"

// Every product of counts that sizes one of the program's arrays (samples x
// features, samples x classes, classes x features, internal nodes x classes)
// is at most this many cells: 2^28, one GiB of floats per array. Indexes stay
// far inside int, and an input that would ask for more is refused before
// anything is allocated.
const long long kMostCells = 1LL << 28;

// "46341 classes x 46341 features is more than this program can hold"; the
// nouns are given in the plural.
std::string tooLarge(long long a, const std::string &aWhat, long long b, const std::string &bWhat);
// True when a x b cells fit within kMostCells.
bool fits(long long a, long long b);

// "path:line: ", the start of a message about one line of a file.
std::string fileLine(const std::string &path, long long line);

// A sample table as read: line i + 1 holds sample i. Empty lines may only
// follow the last sample; every sample has nFeatures finite values that are
// not negative and do not sum to 0.
struct SampleTable {
    int nLines = 0; // every line, empty lines after the last sample included
    int nSamples = 0;
    int nFeatures = 0;
    // nSamples x nFeatures values, row-major, as written; the array may be
    // longer, and moves as it is into the data set.
    std::unique_ptr<float[]> values;
    std::size_t nValues = 0;
    std::size_t capacity = 0;

    void add(float value)
    {
        if (nValues == capacity)
            reserve(2 * capacity + 1024);
        values[nValues++] = value;
    }
    void reserve(std::size_t cells);
};

// Each reader returns an empty string when the file is sound, otherwise the
// message to print after "error: " (it names the file, and the line when
// there is one).
std::string readSampleTable(const std::string &path, SampleTable &table);

// classOfSample gets nSamples entries: the class number (1..nClasses) of
// sample i + 1. Every sample is in exactly one class.
std::string readLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                       int &nClasses);

// The data set of every sample of `table`, rows scaled to sum 1, with the
// classes when `classOfSample` is given (nClasses of them). The values move
// into the data set's arrays, which its holder frees (Logistic::del).
Data dataOf(SampleTable &table, const std::vector<int> *classOfSample = nullptr,
            int nClasses = 0);

#endif
