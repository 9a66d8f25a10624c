#include "validation/Testing.h"

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

#include "model/Logistic.h"

namespace {

// Reads a word as atoi does (optional sign, then the leading digits; no
// digits read as 0), but saturates at int's range instead of overflowing.
int wordToInt(const std::string &word)
{
    const long long value = std::strtoll(word.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// The fold number of a header line: its second word, or its only word.
int headerFold(const std::string &line)
{
    std::istringstream words(line);
    std::string first, second;
    words >> first;
    if (words >> second)
        return wordToInt(second);
    return wordToInt(first);
}

void appendIndices(const std::string &line, std::vector<int> &indices)
{
    std::istringstream words(line);
    std::string word;
    while (words >> word)
        indices.push_back(wordToInt(word));
}

// First value of a grid; NaN stands in for the value of an empty grid.
float firstOf(const std::vector<float> &grid)
{
    return grid.empty() ? std::numeric_limits<float>::quiet_NaN() : grid[0];
}

} // namespace

void setSets(int fold, std::string fileName, std::vector<int> &testSamples,
             std::vector<int> &trainSamples)
{
    std::ifstream in(fileName);
    std::string line;
    // getline fails at the end of the file and on any read error alike, so an
    // unreadable file ends the scan at once.
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '>' || headerFold(line) != fold)
            continue;
        if (!std::getline(in, line))
            break;
        appendIndices(line, testSamples);
        if (!std::getline(in, line))
            break;
        appendIndices(line, trainSamples);
    }
}

Testing::Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
                 int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel)
    : Testing(xFileName, yFileName, tFileName, NTests, KFold, setsPrefix, logPrefix, resultLabel,
              {0.4f}, {1.0f})
{
}

Testing::Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
                 int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel,
                 std::vector<float> ws, std::vector<float> lambdas)
    : xFileName(xFileName), yFileName(yFileName), tFileName(tFileName), NTests(NTests),
      KFold(KFold), setsFileNames(NTests > 0 ? NTests : 0), NW(static_cast<int>(ws.size())),
      NLambdas(static_cast<int>(lambdas.size())), Ws(ws), Lambdas(lambdas),
      detailedLogName(logPrefix + "log_detailed.txt"), resultLogName(logPrefix + "log_result.txt"),
      avrLogName(logPrefix + "log_avr.txt")
{
    for (int i = 0; i < NTests; i++)
        setsFileNames[i] = setsPrefix + std::to_string(i) + ".txt";
    std::cout << NTests << std::endl;
    std::cout << detailedLogName << std::endl;

    std::ofstream resultLog(resultLogName, std::ios::app);
    float bestError = 1.0f;
    float bestW = firstOf(Ws);
    for (int v = 0; v < NW; v++) {
        const float error = Test(xFileName, yFileName, tFileName, Ws[v]);
        // Strictly less: ties keep the earlier w, and a NaN never wins.
        if (error < bestError) {
            bestError = error;
            bestW = Ws[v];
        }
    }
    resultLog << resultLabel << '\t' << bestW << '\t' << bestError << std::endl;
}

float Testing::Test(std::string xFileName, std::string yFileName, std::string /*tFileName*/,
                    float w)
{
    float bestError = 1.0f;
    float bestLambda = firstOf(Lambdas);

    std::ofstream detailedLog(detailedLogName, std::ios::app);
    std::ofstream avrLog(avrLogName, std::ios::app);
    detailedLog << "xFileName:\t" << xFileName << std::endl;
    detailedLog << "yFileName:\t" << yFileName << std::endl;
    detailedLog << "tFileName:\t" << tFileName << std::endl;
    detailedLog << "NTests:\t" << NTests << std::endl;
    detailedLog << "KFold:\t" << KFold << std::endl;
    detailedLog << "W\tLambda\ti\tj\terror" << std::endl;

    for (int l = 0; l < NLambdas; l++) {
        const float lambda = Lambdas[l];
        std::cout << NTests << std::endl;
        float sum = 0.0f;
        int count = 0;
        for (int i = 0; i < NTests; i++) {
            std::cout << "i " << i << std::endl;
            for (int j = 0; j < KFold; j++) {
                std::vector<int> testSamples;
                std::vector<int> trainSamples;
                setSets(j, setsFileNames[i], testSamples, trainSamples);

                Logistic model(xFileName, yFileName, tFileName, trainSamples);
                model.Train(lambda);
                model.Learn(w);
                const float error = model.Test(xFileName, yFileName, testSamples);
                model.del();

                sum += error;
                count++;
                detailedLog << w << '\t' << lambda << '\t' << i << '\t' << j << '\t' << error
                            << std::endl;
            }
        }
        const float average = sum / static_cast<float>(count);
        detailedLog << "Avr:\t" << w << '\t' << lambda << '\t' << average << std::endl;
        avrLog << w << '\t' << lambda << '\t' << average << std::endl;
        // Less or equal: ties go to the later lambda; a NaN never wins.
        if (average <= bestError) {
            bestError = average;
            bestLambda = lambda;
        }
    }
    detailedLog << "Best Lambda:\t" << w << '\t' << bestLambda << '\t' << bestError << std::endl;
    return bestError;
}
