// Per-feature lists of a data set's nonzero entries, turned from its rows:
// the columns of the entries are counted, then every entry gets its place,
// dealt out in one pass over the rows, so every feature's rows come in
// ascending order. buildFeatureColumns copies the entries to their places;
// takeFeatureColumns moves them there within the rows' own arrays, following
// each cycle of the permutation, so that the entries are never held twice.
#include "model/FeatureColumns.h"

#include <algorithm>
#include <limits>

#include "model/Logistic.h"

namespace {

// The sizes and the offsets of the columns, counted from the rows' entries.
FeatureColumns columnOffsets(const Data &data)
{
    FeatureColumns columns;
    const int M = data.M > 0 ? data.M : 0;
    columns.nRows = data.N > 0 ? data.N : 0;
    columns.nFeatures = M;
    columns.start.assign(static_cast<std::size_t>(M) + 1, 0);
    const std::int64_t count = data.nonzeros();
    for (std::int64_t e = 0; e < count; e++)
        columns.start[data.cols[e] + 1]++;
    for (int j = 0; j < M; j++)
        columns.start[j + 1] += columns.start[j];
    return columns;
}

// The row of each entry of the rows, found by a search among the few rows
// that the entry's block of `blockSize` entries spans: the cycles of the
// permutation visit the entries in no order, and a search over every row
// per entry would cost more than the moves themselves.
class RowFinder {
public:
    explicit RowFinder(const Data &data) : data(data)
    {
        const std::int64_t count = data.nonzeros();
        firstRow.resize(static_cast<std::size_t>(count / blockSize) + 2);
        int row = 0;
        for (std::size_t b = 0; b < firstRow.size(); b++) {
            const std::int64_t e = static_cast<std::int64_t>(b) * blockSize;
            while (row < data.N && data.rowStart[row + 1] <= e)
                row++;
            firstRow[b] = row;
        }
    }

    std::int32_t operator()(std::int64_t e) const
    {
        const std::size_t b = static_cast<std::size_t>(e / blockSize);
        const std::int64_t *from = data.rowStart + firstRow[b];
        const std::int64_t *to = data.rowStart + firstRow[b + 1] + 1;
        return static_cast<std::int32_t>(std::upper_bound(from, to, e) - data.rowStart - 1);
    }

private:
    static const std::int64_t blockSize = 64;
    const Data &data;
    std::vector<std::int32_t> firstRow; // the row of each block's first entry
};

void releaseRows(Data &data)
{
    delete[] data.rowStart;
    delete[] data.cols;
    delete[] data.values;
    data.rowStart = nullptr;
    data.cols = nullptr;
    data.values = nullptr;
}

} // namespace

FeatureColumns buildFeatureColumns(const Data &data)
{
    FeatureColumns columns = columnOffsets(data);
    const std::int64_t count = data.nonzeros();
    columns.rows.reset(new std::int32_t[count]);
    columns.values.reset(new float[count]);
    std::vector<std::int64_t> next(columns.start.begin(), columns.start.end() - 1);
    for (int i = 0; i < columns.nRows; i++)
        for (std::int64_t e = data.rowStart[i]; e < data.rowStart[i + 1]; e++) {
            const std::int64_t at = next[data.cols[e]]++;
            columns.rows[at] = i;
            columns.values[at] = data.values[e];
        }
    return columns;
}

FeatureColumns takeFeatureColumns(Data &data)
{
    const std::int64_t count = data.nonzeros();
    // A place is kept in an entry's column field below: beyond its range, copy.
    if (count > std::numeric_limits<std::int32_t>::max()) {
        FeatureColumns columns = buildFeatureColumns(data);
        releaseRows(data);
        return columns;
    }
    FeatureColumns columns = columnOffsets(data);
    // Each entry's column becomes ~place (negative) while the entry waits to
    // move to its place; a moved entry holds its row (0 or more) instead.
    const RowFinder rowOf(data);
    std::vector<std::int64_t> next(columns.start.begin(), columns.start.end() - 1);
    for (std::int64_t e = 0; e < count; e++)
        data.cols[e] = ~static_cast<std::int32_t>(next[data.cols[e]]++);
    for (std::int64_t first = 0; first < count; first++) {
        if (data.cols[first] >= 0)
            continue;
        // Carry the entry at `first` to its place, the entry found there to
        // its own place, and so on round the cycle back to `first`.
        std::int32_t row = rowOf(first);
        float value = data.values[first];
        std::int64_t at = ~data.cols[first];
        while (at != first) {
            const std::int64_t then = ~data.cols[at];
            const std::int32_t displacedRow = rowOf(at);
            const float displacedValue = data.values[at];
            data.cols[at] = row;
            data.values[at] = value;
            row = displacedRow;
            value = displacedValue;
            at = then;
        }
        data.cols[first] = row;
        data.values[first] = value;
    }
    columns.rows.reset(data.cols);
    columns.values.reset(data.values);
    data.cols = nullptr;
    data.values = nullptr;
    releaseRows(data);
    return columns;
}
