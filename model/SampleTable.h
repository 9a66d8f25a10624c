// The sample table and the labels file, read and checked in one pass each,
// and the data set the model learns from built from what they hold.
#ifndef ORVANE_SAMPLETABLE_H
#define ORVANE_SAMPLETABLE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/Logistic.h"

// Every product of counts that sizes one of the program's arrays (samples x
// classes, classes x features, internal nodes x classes) is at most this
// many cells: 2^28, one GiB of floats per array; so is the number of samples
// and of features. Indexes stay far inside int, and an input that would ask
// for more is refused before anything is allocated.
const long long kMostCells = 1LL << 28;
// The sample table is held as its nonzero values, at most 2^30 of them (8 GiB
// with their columns; the fit turns them into its per-feature lists in place).
const long long kMostNonzeros = 1LL << 30;

// "46341 classes x 46341 features is more than this program can hold"; the
// nouns are given in the plural.
std::string tooLarge(long long a, const std::string &aWhat, long long b, const std::string &bWhat);
// True when a x b cells fit within kMostCells.
bool fits(long long a, long long b);

// The limits a sample table is read within; tests lower them.
struct TableLimits {
    long long samples = kMostCells;
    long long features = kMostCells;
    long long nonzeros = kMostNonzeros;
};
// The problem of a table of this size ("" when it fits), as the sample
// table reader reports it: "1073741825 nonzero values are more than this
// program can hold".
std::string tableSizeProblem(long long nSamples, long long nFeatures, long long nNonzeros,
                             const TableLimits &limits = TableLimits());

// "path:line: ", the start of a message about one line of a file.
std::string fileLine(const std::string &path, long long line);

// A sample table as read: line i + 1 holds sample i. Empty lines may only
// follow the last sample; every sample has nFeatures finite values that are
// not negative and do not sum to 0. Only the nonzero values are kept, row by
// row in column order, in blocks of fixed size: reading never moves what it
// has read (as a growing array would at each doubling) and never holds much
// more than it keeps; dataOf then copies each block once.
struct SampleTable {
    static const std::size_t kBlock = 1 << 18;

    int nLines = 0; // every line, empty lines after the last sample included
    int nSamples = 0;
    int nFeatures = 0;
    // Where each sample's values begin, then the running count of values.
    std::vector<std::int64_t> rowStart{0, 0};
    std::vector<std::unique_ptr<std::int32_t[]>> colBlocks;
    std::vector<std::unique_ptr<float[]>> valueBlocks;

    std::int64_t nonzeros() const { return rowStart.back(); }
    void add(std::int32_t col, float value)
    {
        const std::size_t n = static_cast<std::size_t>(rowStart.back());
        if (n == colBlocks.size() * kBlock) {
            colBlocks.emplace_back(new std::int32_t[kBlock]);
            valueBlocks.emplace_back(new float[kBlock]);
        }
        colBlocks.back()[n % kBlock] = col;
        valueBlocks.back()[n % kBlock] = value;
        rowStart.back()++;
    }
};

// Each reader returns an empty string when the file is sound, otherwise the
// message to print after "error: " (it names the file, and the line when
// there is one).
std::string readSampleTable(const std::string &path, SampleTable &table,
                            const TableLimits &limits = TableLimits());

// classOfSample gets nSamples entries: the class number (1..nClasses) of
// sample i + 1. Every sample is in exactly one class.
std::string readLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                       int &nClasses);

// The data set of every sample of `table`, rows scaled to sum 1, with the
// classes when `classOfSample` is given (nClasses of them). The values move
// block by block into the data set's arrays, which its holder frees
// (Logistic::del, freeData), and the table is left empty.
Data dataOf(SampleTable &table, const std::vector<int> *classOfSample = nullptr,
            int nClasses = 0);

#endif
