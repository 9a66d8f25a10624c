// Tree-regularised multinomial logistic regression: the data set it learns
// from, the tree indexing behind its penalty, the coordinate-descent fit,
// the model file and classification.
#ifndef ORVANE_LOGISTIC_H
#define ORVANE_LOGISTIC_H

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "model/FeatureColumns.h"
#include "tree/Tree.h"

// Sizes of the input files, counted before anything is allocated.
// An unreadable file reads as empty: 0 samples, -1 features, 0 classes.
int GetN(std::string fileName); // non-empty lines of the sample table
int GetM(std::string fileName); // fields on the first line, minus the leading label
int GetC(std::string fileName); // lines of the labels file that begin with '>'

// Samples as rows of relative abundances, with their classes when a labels
// file is given. `samples` lists zero-based sample-table lines to keep (in
// file order); an empty list keeps every line. Copies share the arrays;
// whoever ends up holding them frees them (Logistic::del, freeData).
//
// The rows are held as their nonzero entries only: row i is entries
// rowStart[i] .. rowStart[i + 1] - 1 of `cols` and `values`, in ascending
// column order. An entry is listed exactly when its value is not 0 (a -0 or
// a value that scaling took to 0 is not; a NaN is).
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
    std::int64_t *rowStart; // N + 1 offsets into cols and values
    std::int32_t *cols;     // column of each entry
    float *values;          // value of each entry; rows sum to 1
    int *Y;         // N x C one-hot, row-major
    int N;
    int M;
    int C;

    std::int64_t nonzeros() const { return rowStart != nullptr ? rowStart[N] : 0; }
};

// Frees the arrays of a data set and leaves it empty.
void freeData(Data &set);

// Building from data already in memory (cross-validation reads its inputs
// once per run and fits every fold from them).
// The rows of `all` at the given zero-based line indices, in ascending line
// order, with their classes: the data set that reading the same files with
// the list `lines` gives, since rows are scaled one by one. An empty list
// keeps every row; repeated and out-of-range indices are dropped. Costs time
// and memory in proportion to the rows' entries, not to rows x features.
Data selectRows(const Data &all, std::vector<int> lines);

class Logistic;

// Checks of a tree before a fit, made by every program and module that trains.
int countInternalNodes(const vessik::Tree &tree);
// -w -1 and -2 divide node heights by the largest one, so a tree without
// branch lengths above its internal nodes gives weights that are not numbers,
// and training would silently end with every coefficient 0. False then; the
// weights are worked out as the model works them out, on a tree that stays
// with the caller.
bool penaltyWeightsAreNumbers(vessik::Tree *tree, int nFeatures, float w);

class Logistic {
public:
    // Training: samples, labels and tree.
    Logistic(std::string samplePath, std::string labelsPath, std::string treePath,
             std::vector<int> samples);
    // Classification: samples only; the coefficients come from `input`.
    Logistic(std::string samplePath, std::vector<int> samples);
    // A data set and a tree already read and checked; the model takes both
    // over (the tree may be null, as for classification).
    Logistic(const Data &data, vessik::Tree *tree);
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

    // The data set as feature columns, the layout every fit reads. The first
    // call turns the rows into `columns` in place: from then on the data are
    // held once, as columns, and `data` keeps its sizes, classes and labels
    // but no rows (classification and TestRows read rows: give them the
    // rows of another data set).
    const FeatureColumns &featureColumns();
    // Cross-validation: makes an empty model (built from Data()) the model of
    // the rows of `all` at `lines` (as selectRows takes them) with `tree`,
    // which it takes over; the rows go straight into the feature columns,
    // never held as rows of their own.
    void selectFrom(const Data &all, std::vector<int> lines, vessik::Tree *tree);

    // Coordinate descent. Train makes the feature columns.
    void Train(float lambda);
    void Learn(float w);
    float compute(int k, int j);
    float eval(int k, int j, float step);
    // eval (k, j, sUp) then eval (k, j, sDown), with the same results and effects.
    void evalUpDown(int k, int j, float sUp, float sDown, float &fUp, float &fDown);
    void dl1(int k, int j, float &g, float &h);
    // Rebuilds the fit's caches from `margin`, `sumExp` and `fitSum`; needed
    // only after changing those fields from outside the optimiser.
    void refreshCaches();

    // Cross-validation from data in memory: build with the constructor from a
    // data set and a tree (selectRows(...) and a copy of a tree read once).
    // Error rate on the rows `rows` of a data set in memory (an empty list:
    // every row), as Test gives on the same lines; the predicted class of each
    // row, in ascending row order, goes to `predicted`.
    float TestRows(const Data &set, std::vector<int> rows, std::vector<int> &predicted) const;

    // Model file.
    void output(std::string fileName);
    void output(std::ostream &out) const;
    void input(std::string fileName);
    void input(std::istream &in);

    // Classification.
    int pred(int i);
    // Per class, whether all its coefficients are finite: such a class is
    // scored over a row's nonzero entries only, which adds the same bits as
    // the full sum (s + (+-0) is s for any s but -0, and a sum from +0 never
    // becomes -0). Any other class is summed over every column, as inf x 0
    // is NaN.
    std::vector<char> finiteClasses() const;
    // Score of class k (0-based) for row i of `set`: the sum whose exponential
    // the prediction compares across classes. `finite` is finiteClasses()[k].
    float classScore(const Data &set, int i, int k, bool finite) const;
    // Predicted class (1-based) of row i of `set`; `finite` is finiteClasses().
    int predictRow(const Data &set, int i, const std::vector<char> &finite) const;
    void Classify(std::string fileName);
    void Classify(std::ostream &out);
    float Test(std::string xFileName, std::string yFileName, std::vector<int> samples);

    Data data;
    vessik::Node *root = nullptr;
    vessik::Tree *tree = nullptr;
    float lambda = 0.0f;
    float *beta = nullptr;   // C x M, class-major
    float *delta = nullptr;  // C x M, step bounds
    int nSamples = 0;
    int nFeatures = 0;
    int nClasses = 0;
    FeatureColumns columns; // each feature's samples where it is nonzero, with the values (featureColumns)
    std::vector<int> leafFeatures;           // features of the tree's leaves, ascending
    float fitSum = 0.0f;
    float penaltySum = 0.0f;
    int nNodes = 0;
    std::vector<std::vector<int>> nodeChildren;
    std::vector<std::vector<int>> nodeLeaves;
    std::vector<int> nodeDepth;
    std::vector<float> nodeRootDist;
    int *leafDepth = nullptr;      // M
    float *leafBranch = nullptr;   // M
    float *nodeHeight = nullptr;   // V
    float *groupWeight = nullptr;  // V
    float *leafWeight = nullptr;   // M
    float *nodePass = nullptr;     // V
    float *nodeKeep = nullptr;     // V
    float *pathWeight = nullptr;   // V
    float *margin = nullptr;       // C x N, class-major
    float *numBetas = nullptr;     // V x C, node-major
    float *squareSums = nullptr;   // C x V, class-major
    float *dPlus = nullptr;        // C x M
    float *dMinus = nullptr;       // C x M
    float *d2 = nullptr;           // C x M
    float *sumExp = nullptr;       // N
    float *xty = nullptr;          // M x C, feature-major
    Data testData;

    // Caches of the fit. Each holds exactly the bits a fresh computation from
    // the fields it stands for would give (checked in ORVANE_CHECK_CACHES builds).
    std::vector<float> expMargin;  // C x N: expf(margin)
    std::vector<float> logSumExp;  // N: logf(sumExp)
    std::vector<float> logSumExpTwin; // N: the same again, so that two trial steps sum side by side
    // logPrefix[0] = -(0 + fitSum), then logPrefix[i + 1] = logPrefix[i] + logSumExp[i]:
    // the partial sums of the objective with no step. Entries 0..prefixValid are current.
    std::vector<float> logPrefix;
    int prefixValid = -1;
    std::vector<float> trialRows; // scratch of a trial step: three values per row of its feature
};

#endif
