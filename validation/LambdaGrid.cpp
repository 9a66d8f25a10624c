#include "validation/LambdaGrid.h"

#include <cmath>

#include "model/LambdaMax.h"

double lambdaMaxOf(const Data &all, vessik::Tree *tree, float w)
{
    Logistic model(selectRows(all, {}), tree != nullptr ? tree->copy() : nullptr);
    model.Train(1.0f);
    model.LoadTheTree(w);
    const double value = lambdaMax(model);
    model.del();
    return value;
}

std::vector<float> logSpacedGrid(double top, int n, double ratio)
{
    // From the top as a float, the value the grid ends at and prints.
    top = static_cast<float>(top);
    std::vector<float> grid;
    for (int i = 0; i < n; i++) {
        // Exponents counted from the top, so the top itself is ratio^0 exactly.
        const double below = static_cast<double>(n - 1 - i) / (n - 1);
        grid.push_back(static_cast<float>(top * std::pow(ratio, below)));
    }
    return grid;
}
