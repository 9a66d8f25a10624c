// The nonzero entries of a row-scaled sample table, feature by feature: the
// one sparse layout every fit reads (the coordinate-descent fit and the
// converged solver alike).
#ifndef ORVANE_FEATURE_COLUMNS_H
#define ORVANE_FEATURE_COLUMNS_H

#include <cstdint>
#include <memory>
#include <vector>

class Data;

// Feature j's entries are rows[start[j] .. start[j + 1]), in ascending row
// order, with their values in values[...] at the same positions. A value is
// listed exactly when it is nonzero (a -0 or an underflowed 0 is not).
// The entry arrays are plain owned arrays so that the columns can take over
// the arrays of a data set's rows (takeFeatureColumns) instead of copying them.
struct FeatureColumns {
    int nRows = 0;
    int nFeatures = 0;
    std::vector<std::int64_t> start; // nFeatures + 1 offsets; empty until built
    std::unique_ptr<std::int32_t[]> rows;
    std::unique_ptr<float[]> values;

    bool built() const { return !start.empty(); }
    std::int64_t count(int j) const { return start[j + 1] - start[j]; }
};

// The columns of a data set's scaled rows, as a copy: the rows stay.
FeatureColumns buildFeatureColumns(const Data &data);

// The same columns, made from the rows' own arrays in place: the data set
// keeps its sizes, classes and one-hot labels, but its rows are gone
// (rowStart, cols and values are null). At no point are the entries held
// twice: the work space beyond the entries is a few arrays of one entry per
// feature.
FeatureColumns takeFeatureColumns(Data &data);

#endif
