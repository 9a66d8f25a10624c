// Repeated K-fold cross-validation of the tree-regularised model over a grid
// of weights `w` and regularisation strengths `lambda`. The folds come from
// prepared sets files, one per repetition; every fold's error, every average
// and the best parameters are appended to three text logs.
#ifndef ORVANE_TESTING_H
#define ORVANE_TESTING_H

#include <string>
#include <vector>

// Appends to testSamples and trainSamples the sample indices of every block
// of fold `fold` in the sets file fileName (a ">" header whose second word is
// the fold number, then the test line, then the training line). Neither list
// is cleared; a fold without a block, or an unreadable file, adds nothing.
void setSets(int fold, std::string fileName, std::vector<int> &testSamples,
             std::vector<int> &trainSamples);

class Testing {
public:
    // Runs the whole search over the fixed grid w = {0.4}, lambda = {1.0}.
    Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
            int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel);
    // Runs the whole search over the given grids.
    Testing(std::string xFileName, std::string yFileName, std::string tFileName, int NTests,
            int KFold, std::string setsPrefix, std::string logPrefix, std::string resultLabel,
            std::vector<float> ws, std::vector<float> lambdas);

    // Cross-validates every lambda of the grid at weight w, appends to the
    // detailed and averages logs and returns the best average error. The tree
    // is always the object's tFileName.
    float Test(std::string xFileName, std::string yFileName, std::string tFileName, float w);

    std::string xFileName;
    std::string yFileName;
    std::string tFileName;
    int NTests;
    int KFold;
    std::vector<std::string> setsFileNames; // one per repetition
    int NW;
    int NLambdas;
    std::vector<float> Ws;
    std::vector<float> Lambdas;
    std::string detailedLogName;
    std::string resultLogName;
    std::string avrLogName;
};

#endif
