// Tree-regularised multinomial logistic regression: the data set it learns
// from, the tree indexing behind its penalty, the coordinate-descent fit,
// the model file and classification.
#ifndef ORVANE_LOGISTIC_H
#define ORVANE_LOGISTIC_H

#include <iosfwd>
#include <string>
#include <vector>

#include "tree/Tree.h"

// Sizes of the input files, counted before anything is allocated.
// An unreadable file reads as empty: 0 samples, -1 features, 0 classes.
int GetN(std::string fileName); // non-empty lines of the sample table
int GetM(std::string fileName); // fields on the first line, minus the leading label
int GetC(std::string fileName); // lines of the labels file that begin with '>'

// Samples as rows of relative abundances, with their classes when a labels
// file is given. `samples` lists zero-based sample-table lines to keep (in
// file order); an empty list keeps every line. Copies share the arrays;
// whoever ends up holding them frees them (Logistic::del).
class Data {
public:
    Data();
    Data(std::string samplePath, std::vector<int> samples);
    Data(std::string samplePath, std::string labelsPath, std::vector<int> samples);

    void GetData(std::string samplePath, std::vector<int> samples);
    void getClasses(std::string labelsPath, std::vector<int> samples);
    void normalize();

    int NLines;     // lines read from the sample table, selected or not
    int *classes;   // N class numbers, 1..C
    float *X;       // N x M, row-major, rows sum to 1
    int *Y;         // N x C one-hot, row-major
    int N;
    int M;
    int C;
};

class Logistic {
public:
    // Training: samples, labels and tree.
    Logistic(std::string samplePath, std::string labelsPath, std::string treePath,
             std::vector<int> samples);
    // Classification: samples only; the coefficients come from `input`.
    Logistic(std::string samplePath, std::vector<int> samples);
    // Frees the vector members only; `del` frees the arrays and the tree.
    ~Logistic() = default;

    Logistic(const Logistic &) = delete;
    Logistic &operator=(const Logistic &) = delete;

    void del();

    // Tree indexing and penalty weights.
    void LoadTheTree(float w);
    void TreePass(vessik::Node *node, int depth, float dist);
    float TreePassHeight(int v);
    void Weights(int v, int depth);

    // Penalty derivatives, recomputed once per sweep.
    void Derivatives();
    void PartialSquareSumsRecursion(int v);
    void PartialSquareSums();
    void TreePassNumBetas(int v);
    void TreePassSum(int v, int k, float multiNormSum, float multiCubeSum, float singleNormSum,
                     float singleCubeSum, float singleWeightSum, float zeroWeightSum);
    void Scalar();

    // Coordinate descent.
    void Train(float lambda);
    void Learn(float w);
    float compute(int k, int j);
    float eval(int k, int j, float step);
    void dl1(int k, int j, float &g, float &h);

    // Model file.
    void output(std::string fileName);
    void output(std::ostream &out) const;
    void input(std::string fileName);

    // Classification.
    int pred(int i);
    void Classify(std::string fileName);
    void Classify(std::ostream &out);
    float Test(std::string xFileName, std::string yFileName, std::vector<int> samples);

    Data data;
    vessik::Node *root;
    vessik::Tree *tree;
    float lambda;
    float *beta;   // C x M, class-major
    float *delta;  // C x M, step bounds
    int nSamples;
    int nFeatures;
    int nClasses;
    std::vector<int> *featureRows;  // M lists of samples where the feature is nonzero
    std::vector<int> leafFeatures;  // features of the tree's leaves, ascending
    float fitSum;
    float penaltySum;
    int nNodes;
    std::vector<std::vector<int>> nodeChildren;
    std::vector<std::vector<int>> nodeLeaves;
    std::vector<int> nodeDepth;
    std::vector<float> nodeRootDist;
    int *leafDepth;       // M
    float *leafBranch;    // M
    float *nodeHeight;    // V
    float *groupWeight;   // V
    float *leafWeight;    // M
    float *nodePass;      // V
    float *nodeKeep;      // V
    float *pathWeight;    // V
    float *margin;        // C x N, class-major
    float *numBetas;      // V x C, node-major
    float *squareSums;    // C x V, class-major
    float *dPlus;         // C x M
    float *dMinus;        // C x M
    float *d2;            // C x M
    float *sumExp;        // N
    float *xty;           // M x C, feature-major
    Data testData;

private:
    // Predicted class (1-based) of one row of `rowLength` values.
    int predictRow(const float *row, int rowLength) const;
};

#endif
