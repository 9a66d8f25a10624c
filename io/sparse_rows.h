// The checks of a compressed sparse row matrix as BIOM 2.1 files store their
// counts (one row per observation): made on the whole index before any entry
// is used, since a file's index may be damaged or hostile.
#ifndef ORVANE_IO_SPARSE_ROWS_H
#define ORVANE_IO_SPARSE_ROWS_H

#include <string>
#include <vector>

// Row r holds the entries indptr[r] to indptr[r+1]-1 of `indices` (their
// column numbers) and of the values. Returns "" when indptr holds nRows + 1
// offsets, starting at 0, never decreasing, ending at nValues; `indices`
// holds nValues column numbers from 0 to nColumns-1; and no row names a
// column twice. Otherwise returns what is wrong, naming the dataset and the
// row and column by `rowName` and `columnName`.
std::string checkSparseRows(const std::vector<long long> &indptr,
                            const std::vector<long long> &indices, size_t nValues,
                            size_t nRows, size_t nColumns,
                            const std::vector<std::string> &rowName,
                            const std::vector<std::string> &columnName);

#endif
