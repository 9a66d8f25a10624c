#include "io/sparse_rows.h"

#include "io/text.h"

std::string checkSparseRows(const std::vector<long long> &indptr,
                            const std::vector<long long> &indices, size_t nValues,
                            size_t nRows, size_t nColumns,
                            const std::vector<std::string> &rowName,
                            const std::vector<std::string> &columnName)
{
    const long long last = static_cast<long long>(nValues);
    if (indptr.size() != nRows + 1 || indptr[0] != 0 || indptr[nRows] != last)
        return "/observation/matrix/indptr does not hold " + std::to_string(nRows + 1) +
               " offsets from 0 to " + std::to_string(nValues) + " (the number of values)";
    if (indices.size() != nValues)
        return "/observation/matrix/indices holds " + std::to_string(indices.size()) +
               " entries, /observation/matrix/data " + std::to_string(nValues);
    for (size_t r = 0; r < nRows; r++)
        if (indptr[r] > indptr[r + 1])
            return "/observation/matrix/indptr decreases at observation " + quote(rowName[r]);
    // The last row that named each column finds a column named twice in a row.
    std::vector<size_t> lastRow(nColumns, nRows);
    for (size_t r = 0; r < nRows; r++) {
        for (long long k = indptr[r]; k < indptr[r + 1]; k++) {
            const long long column = indices[k];
            if (column < 0 || column >= static_cast<long long>(nColumns))
                return "/observation/matrix/indices holds sample index " + std::to_string(column) +
                       " outside 0 to " + std::to_string(static_cast<long long>(nColumns) - 1);
            if (lastRow[column] == r)
                return "observation " + quote(rowName[r]) + " holds two entries for sample " +
                       quote(columnName[column]) + " (/observation/matrix/indices)";
            lastRow[column] = r;
        }
    }
    return "";
}
