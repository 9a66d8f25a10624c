// Helpers shared by the model tests.
#ifndef ORVANE_MODEL_TEST_UTIL_H
#define ORVANE_MODEL_TEST_UTIL_H

#include "model/Logistic.h"

#include "../test_support.h"

inline std::string dataFile(const std::string &name)
{
    return std::string(MODEL_DATA_DIR) + name;
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
