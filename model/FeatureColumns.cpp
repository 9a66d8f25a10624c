// Per-feature lists of a data set's nonzero entries, turned from its rows:
// the columns of the entries are counted, then the entries are dealt out in
// one pass over the rows, so each array is allocated once at its final size
// and every feature's rows come in ascending order.
#include "model/FeatureColumns.h"

#include "model/Logistic.h"

FeatureColumns buildFeatureColumns(const Data &data)
{
    FeatureColumns columns;
    const int N = data.N > 0 ? data.N : 0;
    const int M = data.M > 0 ? data.M : 0;
    columns.nRows = N;
    columns.nFeatures = M;
    columns.start.assign(static_cast<std::size_t>(M) + 1, 0);
    const std::int64_t count = data.nonzeros();
    for (std::int64_t e = 0; e < count; e++)
        columns.start[data.cols[e] + 1]++;
    for (int j = 0; j < M; j++)
        columns.start[j + 1] += columns.start[j];
    columns.rows.resize(static_cast<std::size_t>(count));
    columns.values.resize(static_cast<std::size_t>(count));
    std::vector<std::int64_t> next(columns.start.begin(), columns.start.end() - 1);
    for (int i = 0; i < N; i++)
        for (std::int64_t e = data.rowStart[i]; e < data.rowStart[i + 1]; e++) {
            const std::int64_t at = next[data.cols[e]]++;
            columns.rows[at] = i;
            columns.values[at] = data.values[e];
        }
    return columns;
}
