#include <gtest/gtest.h>

#include "model/Logistic.h"
#include "model_test_util.h"

namespace {

// A model whose tree is indexed for `w`, as the first step of training does.
struct IndexedModel {
    IndexedModel(const std::string &samples, const std::string &labels, const std::string &tree,
                 float w)
        : model(dataFile(samples), dataFile(labels), dataFile(tree), {})
    {
        model.Train(1.0f);
        model.LoadTheTree(w);
    }
    ~IndexedModel() { model.del(); }

    Logistic model;
};

} // namespace

TEST(TreeIndex, PreorderNumberingDepthsAndHeights)
{
    // (((0:1,1:1):3,2:1):2,3:1); : root 0, its inner child 1 (branch 2), whose
    // inner child 2 (branch 3) holds leaves 0 and 1.
    IndexedModel indexed("four.txt", "four_labels.txt", "deep.tre", 0.5f);
    const Logistic &m = indexed.model;
    ASSERT_EQ(m.nNodes, 3);
    EXPECT_EQ(m.nodeChildren, (std::vector<std::vector<int>>{{1}, {2}, {}}));
    EXPECT_EQ(m.nodeLeaves, (std::vector<std::vector<int>>{{3}, {2}, {0, 1}}));
    EXPECT_EQ(m.nodeDepth, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(m.nodeRootDist, (std::vector<float>{0.0f, 0.0f, 2.0f}));
    EXPECT_EQ(m.leafFeatures, (std::vector<int>{0, 1, 2, 3}));
    const int leafDepth[] = {3, 3, 2, 1};
    // A leaf records the branch above its parent, not its own.
    const float leafBranch[] = {3.0f, 3.0f, 2.0f, 0.0f};
    for (int f = 0; f < 4; f++) {
        EXPECT_EQ(m.leafDepth[f], leafDepth[f]);
        EXPECT_EQ(m.leafBranch[f], leafBranch[f]);
    }
    // Node 2: max(3, 3) = 3, passed up as 3 + 2; node 1: max(5, 2); root: max(5, 0).
    EXPECT_EQ(m.nodeHeight[0], 5.0f);
    EXPECT_EQ(m.nodeHeight[1], 5.0f);
    EXPECT_EQ(m.nodeHeight[2], 3.0f);
}

TEST(TreeIndex, ConstantWeightHalvesDownTheTree)
{
    // A root with one inner child holding both leaves; feature 2 is no leaf.
    IndexedModel indexed("table.txt", "table_labels.txt", "chain.tre", 0.5f);
    const Logistic &m = indexed.model;
    ASSERT_EQ(m.nNodes, 2);
    EXPECT_EQ(m.groupWeight[0], 0.5f);
    EXPECT_EQ(m.groupWeight[1], 0.25f);
    EXPECT_EQ(m.leafWeight[0], 0.25f);
    EXPECT_EQ(m.leafWeight[1], 0.25f);
    EXPECT_EQ(m.leafWeight[2], 0.0f);
    EXPECT_EQ(m.leafFeatures, (std::vector<int>{0, 1}));
}

TEST(TreeIndex, StarTreeAndVisitingOrder)
{
    IndexedModel star("pair.txt", "pair_labels.txt", "pair.tre", 0.3f);
    ASSERT_EQ(star.model.nNodes, 1);
    EXPECT_TRUE(star.model.nodeChildren[0].empty());
    EXPECT_FLOAT_EQ(star.model.groupWeight[0], 0.7f);
    EXPECT_FLOAT_EQ(star.model.leafWeight[0], 0.3f);
    EXPECT_FLOAT_EQ(star.model.leafWeight[1], 0.3f);

    // Leaves 2 and 0 below the inner node, 1 below the root: visited sorted.
    IndexedModel unsorted("table.txt", "table_labels.txt", "unsorted.tre", 0.5f);
    EXPECT_EQ(unsorted.model.nodeLeaves[1], (std::vector<int>{2, 0}));
    EXPECT_EQ(unsorted.model.leafFeatures, (std::vector<int>{0, 1, 2}));
}

TEST(TreeIndex, HeightDerivedShares)
{
    // Heights 5, 5, 3 over a maximum of 5.
    IndexedModel byHeight("four.txt", "four_labels.txt", "deep.tre", -1.0f);
    const Logistic &m = byHeight.model;
    EXPECT_FLOAT_EQ(m.nodePass[2], 0.6f);
    EXPECT_FLOAT_EQ(m.nodeKeep[2], 0.4f);
    EXPECT_EQ(m.groupWeight[0], 0.0f);
    EXPECT_EQ(m.groupWeight[1], 0.0f);
    EXPECT_FLOAT_EQ(m.groupWeight[2], 0.4f);
    EXPECT_FLOAT_EQ(m.leafWeight[0], 0.6f);
    EXPECT_FLOAT_EQ(m.leafWeight[1], 0.6f);
    EXPECT_EQ(m.leafWeight[2], 1.0f);
    EXPECT_EQ(m.leafWeight[3], 1.0f);

    IndexedModel inverse("four.txt", "four_labels.txt", "deep.tre", -2.0f);
    const Logistic &n = inverse.model;
    EXPECT_EQ(n.groupWeight[0], 1.0f);
    EXPECT_EQ(n.groupWeight[1], 0.0f);
    EXPECT_EQ(n.groupWeight[2], 0.0f);
    for (int f = 0; f < 4; f++)
        EXPECT_EQ(n.leafWeight[f], 0.0f);

    // Any other negative weight gives no shares at all, never garbage.
    IndexedModel other("four.txt", "four_labels.txt", "deep.tre", -0.5f);
    for (int v = 0; v < 3; v++)
        EXPECT_EQ(other.model.groupWeight[v], 0.0f);
    for (int f = 0; f < 4; f++)
        EXPECT_EQ(other.model.leafWeight[f], 0.0f);
}

TEST(TreeIndex, LeavesOutsideTheTableAreLeftOut)
{
    ScratchDir dir;
    writeText(dir.file("tree.tre"), "(0:1,7:1,-1:1,x:1);");
    Logistic m(dataFile("pair.txt"), dataFile("pair_labels.txt"), dir.file("tree.tre"), {});
    m.Train(1.0f);
    m.LoadTheTree(0.5f);
    // "x" reads as feature 0, as atoi has it; 7 and -1 name no column.
    EXPECT_EQ(m.leafFeatures, (std::vector<int>{0, 0}));
    EXPECT_EQ(m.nodeLeaves[0], (std::vector<int>{0, 0}));
    m.del();
}
