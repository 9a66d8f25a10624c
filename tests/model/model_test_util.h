// Helpers shared by the model tests.
#ifndef ORVANE_MODEL_TEST_UTIL_H
#define ORVANE_MODEL_TEST_UTIL_H

#include "model/Logistic.h"

#include "../test_support.h"

inline std::string dataFile(const std::string &name)
{
    return std::string(MODEL_DATA_DIR) + name;
}

// The rows of a data set written out cell by cell, row-major.
inline std::vector<float> denseRows(const Data &d)
{
    std::vector<float> cells(static_cast<std::size_t>(d.N) * d.M, 0.0f);
    for (int i = 0; i < d.N; i++)
        for (std::int64_t e = d.rowStart[i]; e < d.rowStart[i + 1]; e++)
            cells[static_cast<std::size_t>(i) * d.M + d.cols[e]] = d.values[e];
    return cells;
}

// A classification model over pair.txt, whose samples are (1, 0) and (0, 1),
// with coefficients set by hand.
struct HandModel {
    HandModel(int C, int M, std::vector<float> coefficients) : model(dataFile("pair.txt"), {})
    {
        model.nClasses = C;
        model.nFeatures = M;
        model.beta = new float[coefficients.size()];
        std::copy(coefficients.begin(), coefficients.end(), model.beta);
    }
    ~HandModel() { model.del(); }

    Logistic model;
};

#endif
