// Predicted classes, the result file and the error rate on a test set.
#include <cmath>
#include <fstream>
#include <ostream>

#include "model/Logistic.h"

float Logistic::classScore(const float *row, int rowLength, int k) const
{
    // Never read past the row, even if the model was fitted on more features.
    const int features = nFeatures < rowLength ? nFeatures : rowLength;
    float s = 0.0f;
    for (int j = 0; j < features; j++)
        s += beta[k * nFeatures + j] * row[j];
    return s;
}

int Logistic::predictRow(const float *row, int rowLength) const
{
    int best = 0;
    float bestScore = 0.0f;
    for (int k = 0; k < nClasses; k++) {
        const float s = classScore(row, rowLength, k);
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
    return predictRow(data.X + i * data.M, data.M);
}

void Logistic::Classify(std::string fileName)
{
    std::ofstream out(fileName);
    Classify(out);
}

void Logistic::Classify(std::ostream &out)
{
    for (int i = 0; i < nSamples; i++)
        out << pred(i) << std::endl;
}

float Logistic::Test(std::string xFileName, std::string yFileName, std::vector<int> samples)
{
    freeData(testData);
    testData = Data(xFileName, yFileName, samples);
    int wrong = 0;
    int right = 0;
    for (int i = 0; i < testData.N; i++) {
        const int predicted = predictRow(testData.X + i * testData.M, testData.M);
        if (predicted != testData.classes[i])
            wrong++;
        else
            right++;
    }
    return (float)wrong / (float)(wrong + right);
}
