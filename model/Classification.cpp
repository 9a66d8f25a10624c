// Predicted classes, the result file and the error rate on a test set. A
// class score sums the coefficients times a row's nonzero entries, in
// ascending column order.
#include <cmath>
#include <fstream>
#include <ostream>

#include "model/Logistic.h"

std::vector<char> Logistic::finiteClasses() const
{
    std::vector<char> finite(nClasses > 0 ? nClasses : 0, 1);
    for (int k = 0; k < nClasses; k++)
        for (int j = 0; j < nFeatures && finite[k]; j++)
            finite[k] = std::isfinite(beta[k * nFeatures + j]);
    return finite;
}

float Logistic::classScore(const Data &set, int i, int k, bool finite) const
{
    const float *coefficients = beta + static_cast<std::size_t>(k) * nFeatures;
    const std::int64_t first = set.rowStart[i], last = set.rowStart[i + 1];
    float s = 0.0f;
    // Never read past the row, even if the model was fitted on more features.
    if (finite) {
        for (std::int64_t e = first; e < last && set.cols[e] < nFeatures; e++)
            s += coefficients[set.cols[e]] * set.values[e];
        return s;
    }
    const int features = nFeatures < set.M ? nFeatures : set.M;
    std::int64_t e = first;
    for (int j = 0; j < features; j++) {
        const float x = e < last && set.cols[e] == j ? set.values[e++] : 0.0f;
        s += coefficients[j] * x;
    }
    return s;
}

int Logistic::predictRow(const Data &set, int i, const std::vector<char> &finite) const
{
    int best = 0;
    float bestScore = 0.0f;
    for (int k = 0; k < nClasses; k++) {
        const float s = classScore(set, i, k, finite[k]);
        // Compared after exponentiation: an underflow to 0 never wins, and the
        // lower class wins a tie.
        const float p = expf(s);
        if (p > bestScore) {
            bestScore = p;
            best = k;
        }
    }
    return best + 1;
}

int Logistic::pred(int i)
{
    return predictRow(data, i, finiteClasses());
}

void Logistic::Classify(std::string fileName)
{
    std::ofstream out(fileName);
    Classify(out);
}

void Logistic::Classify(std::ostream &out)
{
    const std::vector<char> finite = finiteClasses();
    for (int i = 0; i < nSamples; i++)
        out << predictRow(data, i, finite) << std::endl;
}

float Logistic::Test(std::string xFileName, std::string yFileName, std::vector<int> samples)
{
    freeData(testData);
    testData = Data(xFileName, yFileName, samples);
    const std::vector<char> finite = finiteClasses();
    int wrong = 0;
    int right = 0;
    for (int i = 0; i < testData.N; i++) {
        const int predicted = predictRow(testData, i, finite);
        if (predicted != testData.classes[i])
            wrong++;
        else
            right++;
    }
    return (float)wrong / (float)(wrong + right);
}
