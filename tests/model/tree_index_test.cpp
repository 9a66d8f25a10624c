#include <gtest/gtest.h>

#include "model_test_util.h"

namespace {

// A model whose tree is indexed for `w`, as the first step of training does.
struct IndexedModel {
    IndexedModel(const std::string &samples, const std::string &labels, const std::string &tree,
                 float w)
        : model(dataFile(samples), dataFile(labels), tree, {})
    {
        model.Train(1.0f);
        model.LoadTheTree(w);
    }
    ~IndexedModel() { model.del(); }

    Logistic model;
};

std::vector<float> weights(const float *array, int n)
{
    return std::vector<float>(array, array + n);
}

} // namespace

TEST(TreeIndex, PreorderNumberingDepthsAndHeights)
{
    // (((0:1,1:1):3,2:1):2,3:1); : root 0, its inner child 1 (branch 2), whose
    // inner child 2 (branch 3) holds leaves 0 and 1.
    IndexedModel indexed("four.txt", "four_labels.txt", dataFile("deep.tre"), -1.0f);
    const Logistic &m = indexed.model;
    ASSERT_EQ(m.nNodes, 3);
    EXPECT_EQ(m.nodeChildren, (std::vector<std::vector<int>>{{1}, {2}, {}}));
    EXPECT_EQ(m.nodeLeaves, (std::vector<std::vector<int>>{{3}, {2}, {0, 1}}));
    EXPECT_EQ(m.nodeDepth, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m.nodeRootDist, (std::vector<float>{0.0f, 0.0f, 2.0f}));
    EXPECT_EQ(std::vector<int>(m.leafDepth, m.leafDepth + 4), (std::vector<int>{3, 3, 2, 1}));
    // A leaf records the branch above its parent, not its own.
    EXPECT_EQ(weights(m.leafBranch, 4), (std::vector<float>{3, 3, 2, 0}));
    // Node 2: max(3, 3), passed up as 3 + 2; node 1: max(5, 2); root: max(5, 0).
    EXPECT_EQ(weights(m.nodeHeight, 3), (std::vector<float>{5, 5, 3}));
    // w = -1: each node passes on height / 5 and keeps the rest.
    EXPECT_EQ(weights(m.groupWeight, 3), (std::vector<float>{0, 0, 1 - 3.0f / 5}));
    EXPECT_EQ(weights(m.leafWeight, 4), (std::vector<float>{0.6f, 0.6f, 1, 1}));

    IndexedModel inverse("four.txt", "four_labels.txt", dataFile("deep.tre"), -2.0f);
    EXPECT_EQ(weights(inverse.model.groupWeight, 3), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(weights(inverse.model.leafWeight, 4), (std::vector<float>(4, 0.0f)));

    // Any other negative w gives no shares at all, never garbage.
    IndexedModel other("four.txt", "four_labels.txt", dataFile("deep.tre"), -0.5f);
    EXPECT_EQ(weights(other.model.groupWeight, 3), (std::vector<float>(3, 0.0f)));
    EXPECT_EQ(weights(other.model.leafWeight, 4), (std::vector<float>(4, 0.0f)));
}

TEST(TreeIndex, ConstantWeightAndVisitingOrder)
{
    // A root with one inner child holding leaves 0 and 1; feature 2 is no leaf.
    IndexedModel chain("table.txt", "table_labels.txt", dataFile("chain.tre"), 0.5f);
    EXPECT_EQ(weights(chain.model.groupWeight, 2), (std::vector<float>{0.5f, 0.25f}));
    EXPECT_EQ(weights(chain.model.leafWeight, 3), (std::vector<float>{0.25f, 0.25f, 0}));

    // Leaves 2 and 0 below the inner node, 1 below the root: visited sorted.
    IndexedModel unsorted("table.txt", "table_labels.txt", dataFile("unsorted.tre"), 0.5f);
    EXPECT_EQ(unsorted.model.nodeLeaves[1], (std::vector<int>{2, 0}));
    EXPECT_EQ(unsorted.model.leafFeatures, (std::vector<int>{0, 1, 2}));

    // "x" reads as feature 0, as atoi has it; 7 and -1 name no column and are left out.
    IndexedModel outside("pair.txt", "pair_labels.txt",
                         scratchFile("outside.tre", "(0:1,7:1,-1:1,x:1);"), 0.3f);
    EXPECT_EQ(outside.model.leafFeatures, (std::vector<int>{0, 0}));
    EXPECT_FLOAT_EQ(outside.model.groupWeight[0], 0.7f);
    EXPECT_FLOAT_EQ(outside.model.leafWeight[0], 0.3f);
}
