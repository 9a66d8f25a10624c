// The model file: the class and feature counts, then one line of
// coefficients per class.
#include <fstream>
#include <ostream>
#include <sstream>

#include "model/Logistic.h"

void Logistic::output(std::string fileName)
{
    std::ofstream out(fileName);
    output(out);
}

void Logistic::output(std::ostream &out) const
{
    out << nClasses << " " << nFeatures << std::endl;
    for (int k = 0; k < nClasses; k++) {
        for (int j = 0; j < nFeatures; j++)
            out << (double)beta[k * nFeatures + j] << " ";
        out << std::endl;
    }
}

void Logistic::input(std::string fileName)
{
    std::ifstream in(fileName);
    std::string line;
    std::getline(in, line);
    std::istringstream header(line);
    nClasses = 0;
    nFeatures = 0;
    header >> nClasses >> nFeatures;

    // Surplus lines and values are ignored; cells that no value reaches stay 0.
    const int rows = nClasses > 0 ? nClasses : 0;
    const int columns = nFeatures > 0 ? nFeatures : 0;
    delete[] beta;
    beta = new float[rows * columns]();
    for (int r = 0; r < rows && std::getline(in, line); r++) {
        std::istringstream values(line);
        float value = 0.0f;
        for (int j = 0; j < columns && values >> value; j++)
            beta[r * columns + j] = value;
    }
}
