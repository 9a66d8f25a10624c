// The checks of a compressed sparse row matrix as BIOM 2.1 files store their
// counts (one row per observation): made on the offsets, then on every column
// number in order (block by block, as a reader takes them), before any entry
// is used, since a file's index may be damaged or hostile.
#ifndef ORVANE_IO_SPARSE_ROWS_H
#define ORVANE_IO_SPARSE_ROWS_H

#include <string>
#include <vector>

// Row r holds the entries indptr[r] to indptr[r+1]-1 of the column numbers
// and of the values. Returns "" when indptr holds nRows + 1 offsets, starting
// at 0, never decreasing, ending at nValues, and there are nIndices = nValues
// column numbers; otherwise what is wrong, naming the dataset and the row by
// `rowName`.
std::string checkSparseOffsets(const std::vector<long long> &indptr, size_t nIndices,
                               size_t nValues, size_t nRows,
                               const std::vector<std::string> &rowName);

// The column numbers of offsets that checkSparseOffsets accepted, given in
// order from entry 0: each from 0 to nColumns-1, and no row naming a column twice.
class SparseColumnsCheck {
public:
    SparseColumnsCheck(const std::vector<long long> &indptr, size_t nColumns,
                       const std::vector<std::string> &rowName,
                       const std::vector<std::string> &columnName);

    // The next n column numbers: "" or what is wrong, naming the row and column.
    std::string next(const long long *columns, size_t n);

private:
    const std::vector<long long> &indptr;
    const std::vector<std::string> &rowName;
    const std::vector<std::string> &columnName;
    std::vector<size_t> lastRow;  // the last row that named each column
    size_t row = 0;
    long long entry = 0;
};

// Both checks on a whole index.
std::string checkSparseRows(const std::vector<long long> &indptr,
                            const std::vector<long long> &indices, size_t nValues,
                            size_t nRows, size_t nColumns,
                            const std::vector<std::string> &rowName,
                            const std::vector<std::string> &columnName);

#endif
