// Construction and release of the model.
#include "model/Logistic.h"

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
