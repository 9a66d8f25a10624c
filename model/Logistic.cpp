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

const FeatureColumns &Logistic::featureColumns()
{
    if (!columns.built())
        columns = takeFeatureColumns(data);
    return columns;
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
    columns = FeatureColumns();
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

// The sizes, classes and labels of the rows of `all` at `lines` (sorted), without the rows.
static Data selectLabels(const Data &all, const std::vector<int> &lines)
{
    Data set;
    set.NLines = all.NLines;
    set.N = static_cast<int>(lines.size());
    set.M = all.M;
    set.C = all.C;
    const int C = std::max(all.C, 0);
    set.classes = new int[set.N];
    set.Y = new int[static_cast<size_t>(set.N) * C];
    for (int k = 0; k < set.N; k++) {
        set.classes[k] = all.classes[lines[k]];
        std::copy(all.Y + static_cast<size_t>(lines[k]) * C, all.Y + static_cast<size_t>(lines[k] + 1) * C,
                  set.Y + static_cast<size_t>(k) * C);
    }
    return set;
}

Data selectRows(const Data &all, std::vector<int> lines)
{
    lines = sortedRows(std::move(lines), all.N);
    Data set = selectLabels(all, lines);
    set.rowStart = new std::int64_t[set.N + 1];
    set.rowStart[0] = 0;
    for (int k = 0; k < set.N; k++)
        set.rowStart[k + 1] = set.rowStart[k] + all.rowStart[lines[k] + 1] - all.rowStart[lines[k]];
    set.cols = new std::int32_t[set.rowStart[set.N]];
    set.values = new float[set.rowStart[set.N]];
    for (int k = 0; k < set.N; k++) {
        const std::int64_t from = all.rowStart[lines[k]], to = all.rowStart[lines[k] + 1];
        std::copy(all.cols + from, all.cols + to, set.cols + set.rowStart[k]);
        std::copy(all.values + from, all.values + to, set.values + set.rowStart[k]);
    }
    return set;
}

void Logistic::selectFrom(const Data &all, std::vector<int> lines, vessik::Tree *tree)
{
    lines = sortedRows(std::move(lines), all.N);
    data = selectLabels(all, lines);
    nSamples = data.N;
    nFeatures = data.M;
    nClasses = data.C;
    this->tree = tree;
    root = tree != nullptr ? tree->root : nullptr;
    // Counted, then dealt out row by row, as buildFeatureColumns does with the selected rows.
    columns.nRows = data.N;
    columns.nFeatures = std::max(data.M, 0);
    columns.start.assign(static_cast<std::size_t>(columns.nFeatures) + 1, 0);
    for (const int line : lines)
        for (std::int64_t e = all.rowStart[line]; e < all.rowStart[line + 1]; e++)
            columns.start[all.cols[e] + 1]++;
    for (int j = 0; j < columns.nFeatures; j++)
        columns.start[j + 1] += columns.start[j];
    columns.rows.reset(new std::int32_t[columns.start.back()]);
    columns.values.reset(new float[columns.start.back()]);
    std::vector<std::int64_t> next(columns.start.begin(), columns.start.end() - 1);
    for (int k = 0; k < data.N; k++)
        for (std::int64_t e = all.rowStart[lines[k]]; e < all.rowStart[lines[k] + 1]; e++) {
            const std::int64_t at = next[all.cols[e]]++;
            columns.rows[at] = k;
            columns.values[at] = all.values[e];
        }
}

float Logistic::TestRows(const Data &set, std::vector<int> rows, std::vector<int> &predicted) const
{
    rows = sortedRows(std::move(rows), set.N);
    const std::vector<char> finite = finiteClasses();
    predicted.clear();
    int wrong = 0;
    int right = 0;
    for (const int i : rows) {
        predicted.push_back(predictRow(set, i, finite));
        if (predicted.back() != set.classes[i])
            wrong++;
        else
            right++;
    }
    return (float)wrong / (float)(wrong + right);
}
