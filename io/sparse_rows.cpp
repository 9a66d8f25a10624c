#include "io/sparse_rows.h"

#include "io/text.h"

std::string checkSparseOffsets(const std::vector<long long> &indptr, size_t nIndices,
                               size_t nValues, size_t nRows,
                               const std::vector<std::string> &rowName)
{
    const long long last = static_cast<long long>(nValues);
    if (indptr.size() != nRows + 1 || indptr[0] != 0 || indptr[nRows] != last)
        return "/observation/matrix/indptr does not hold " + std::to_string(nRows + 1) +
               " offsets from 0 to " + std::to_string(nValues) + " (the number of values)";
    if (nIndices != nValues)
        return "/observation/matrix/indices holds " + std::to_string(nIndices) +
               " entries, /observation/matrix/data " + std::to_string(nValues);
    for (size_t r = 0; r < nRows; r++)
        if (indptr[r] > indptr[r + 1])
            return "/observation/matrix/indptr decreases at observation " + quote(rowName[r]);
    return "";
}

SparseColumnsCheck::SparseColumnsCheck(const std::vector<long long> &indptr, size_t nColumns,
                                       const std::vector<std::string> &rowName,
                                       const std::vector<std::string> &columnName)
    : indptr(indptr), rowName(rowName), columnName(columnName),
      lastRow(nColumns, indptr.size())
{
}

std::string SparseColumnsCheck::next(const long long *columns, size_t n)
{
    const long long nColumns = static_cast<long long>(lastRow.size());
    for (size_t i = 0; i < n; i++, entry++) {
        while (indptr[row + 1] <= entry)
            row++;
        const long long column = columns[i];
        if (column < 0 || column >= nColumns)
            return "/observation/matrix/indices holds sample index " + std::to_string(column) +
                   " outside 0 to " + std::to_string(nColumns - 1);
        if (lastRow[column] == row)
            return "observation " + quote(rowName[row]) + " holds two entries for sample " +
                   quote(columnName[column]) + " (/observation/matrix/indices)";
        lastRow[column] = row;
    }
    return "";
}

std::string checkSparseRows(const std::vector<long long> &indptr,
                            const std::vector<long long> &indices, size_t nValues,
                            size_t nRows, size_t nColumns,
                            const std::vector<std::string> &rowName,
                            const std::vector<std::string> &columnName)
{
    const std::string problem = checkSparseOffsets(indptr, indices.size(), nValues, nRows, rowName);
    if (!problem.empty())
        return problem;
    return SparseColumnsCheck(indptr, nColumns, rowName, columnName).next(indices.data(), indices.size());
}
