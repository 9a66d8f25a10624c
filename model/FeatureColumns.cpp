// Per-feature lists of a data set's nonzero entries, built in two passes
// (count, then fill) so that each array is allocated once at its final size.
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
    for (int i = 0; i < N; i++)
        for (int j = 0; j < M; j++)
            if (data.X[static_cast<std::size_t>(i) * M + j] != 0)
                columns.start[j + 1]++;
    for (int j = 0; j < M; j++)
        columns.start[j + 1] += columns.start[j];
    columns.rows.resize(static_cast<std::size_t>(columns.start[M]));
    columns.values.resize(columns.rows.size());
    std::vector<std::int64_t> next(columns.start.begin(), columns.start.end() - 1);
    for (int i = 0; i < N; i++)
        for (int j = 0; j < M; j++) {
            const float x = data.X[static_cast<std::size_t>(i) * M + j];
            if (x != 0) {
                columns.rows[next[j]] = i;
                columns.values[next[j]++] = x;
            }
        }
    return columns;
}
