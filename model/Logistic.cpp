// Construction and release of the model.
#include "model/Logistic.h"

#include <algorithm>
#include <numeric>

#include "tree/newick.h"

Logistic::Logistic(std::string samplePath, std::string labelsPath, std::string treePath,
                   std::vector<int> samples)
    : data(samplePath, labelsPath, samples), nSamples(data.N), nFeatures(data.M),
      nClasses(data.C)
{
    tree = vessik::readNewickTree(treePath.c_str(), nullptr);
    root = tree != nullptr ? tree->root : nullptr;
}

Logistic::Logistic(std::string samplePath, std::vector<int> samples)
    : data(samplePath, samples), nSamples(data.N), nFeatures(data.M)
{
}

Logistic::Logistic(const Data &data, vessik::Tree *tree)
    : data(data), root(tree != nullptr ? tree->root : nullptr), tree(tree), nSamples(data.N),
      nFeatures(data.M), nClasses(data.C)
{
}

void Logistic::freeData(Data &set)
{
    delete[] set.X;
    delete[] set.classes;
    delete[] set.Y;
    set.X = nullptr;
    set.classes = nullptr;
    set.Y = nullptr;
}

namespace {

template <class T>
void freeArray(T *&array)
{
    delete[] array;
    array = nullptr;
}

} // namespace

void Logistic::del()
{
    freeArray(beta);
    freeArray(delta);
    freeArray(featureRows);
    freeArray(leafDepth);
    freeArray(leafBranch);
    freeArray(nodeHeight);
    freeArray(groupWeight);
    freeArray(leafWeight);
    freeArray(nodePass);
    freeArray(nodeKeep);
    freeArray(pathWeight);
    freeArray(margin);
    freeArray(numBetas);
    freeArray(squareSums);
    freeArray(dPlus);
    freeArray(dMinus);
    freeArray(d2);
    freeArray(sumExp);
    freeArray(xty);
    freeData(data);
    // The last test set would otherwise outlive the model.
    freeData(testData);
    delete tree;
    tree = nullptr;
    root = nullptr;
}

// Ascending, distinct indices from 0 to n-1; an empty list stands for all of them.
static std::vector<int> sortedRows(std::vector<int> rows, int n)
{
    if (rows.empty()) {
        rows.resize(n > 0 ? n : 0);
        std::iota(rows.begin(), rows.end(), 0);
        return rows;
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    rows.erase(std::remove_if(rows.begin(), rows.end(), [n](int r) { return r < 0 || r >= n; }),
               rows.end());
    return rows;
}

Data selectRows(const Data &all, std::vector<int> lines)
{
    lines = sortedRows(std::move(lines), all.N);
    Data set;
    set.NLines = all.NLines;
    set.N = static_cast<int>(lines.size());
    set.M = all.M;
    set.C = all.C;
    const int M = std::max(all.M, 0);
    const int C = std::max(all.C, 0);
    set.X = new float[static_cast<size_t>(set.N) * M];
    set.classes = new int[set.N];
    set.Y = new int[static_cast<size_t>(set.N) * C];
    for (int k = 0; k < set.N; k++) {
        const int line = lines[k];
        std::copy(all.X + static_cast<size_t>(line) * M, all.X + static_cast<size_t>(line + 1) * M,
                  set.X + static_cast<size_t>(k) * M);
        set.classes[k] = all.classes[line];
        std::copy(all.Y + static_cast<size_t>(line) * C, all.Y + static_cast<size_t>(line + 1) * C,
                  set.Y + static_cast<size_t>(k) * C);
    }
    return set;
}

float Logistic::TestRows(const Data &set, std::vector<int> rows, std::vector<int> &predicted) const
{
    rows = sortedRows(std::move(rows), set.N);
    predicted.clear();
    int wrong = 0;
    int right = 0;
    for (const int i : rows) {
        predicted.push_back(predictRow(set.X + static_cast<size_t>(i) * set.M, set.M));
        if (predicted.back() != set.classes[i])
            wrong++;
        else
            right++;
    }
    return (float)wrong / (float)(wrong + right);
}
