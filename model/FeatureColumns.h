// The nonzero entries of a row-scaled sample table, feature by feature: the
// one sparse layout every fit reads (the coordinate-descent fit and the
// converged solver alike).
#ifndef ORVANE_FEATURE_COLUMNS_H
#define ORVANE_FEATURE_COLUMNS_H

#include <cstdint>
#include <vector>

class Data;

// Feature j's entries are rows[start[j] .. start[j + 1]), in ascending row
// order, with their values in values[...] at the same positions. A value is
// listed exactly when it is nonzero (a -0 or an underflowed 0 is not).
struct FeatureColumns {
    int nRows = 0;
    int nFeatures = 0;
    std::vector<std::int64_t> start; // nFeatures + 1 offsets
    std::vector<std::int32_t> rows;
    std::vector<float> values;

    std::int64_t count(int j) const { return start[j + 1] - start[j]; }
};

// The columns of a data set's scaled rows.
FeatureColumns buildFeatureColumns(const Data &data);

#endif
