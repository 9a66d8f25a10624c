// The checks of a BIOM 2.1 sparse index against hostile offsets and indices:
// an index the checks accept is walked within its bounds and names no cell
// of the table twice.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/sparse_rows.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    // Up to 7 rows and 7 columns; one signed byte per offset, then one per
    // index; the high bit of the second byte claims one value more than
    // the indices hold.
    const size_t nRows = data[0] % 8, nColumns = data[1] % 8;
    size_t at = 2;
    std::vector<long long> indptr, indices;
    for (size_t r = 0; r <= nRows && at < size; r++)
        indptr.push_back(static_cast<int8_t>(data[at++]));
    while (at < size)
        indices.push_back(static_cast<int8_t>(data[at++]));
    const size_t nValues = indices.size() + (data[1] >> 7);
    const std::vector<std::string> rows(nRows, "r"), columns(nColumns, "c");
    if (!checkSparseRows(indptr, indices, nValues, nRows, nColumns, rows, columns).empty())
        return 0;
    std::vector<bool> seen(nRows * nColumns, false);
    for (size_t r = 0; r < nRows; r++) {
        for (long long k = indptr.at(r); k < indptr.at(r + 1); k++) {
            const long long column = indices.at(static_cast<size_t>(k));
            if (column < 0 || column >= static_cast<long long>(nColumns) ||
                seen[r * nColumns + static_cast<size_t>(column)])
                std::abort();
            seen[r * nColumns + static_cast<size_t>(column)] = true;
        }
    }
    return 0;
}
