#include <cmath>

#include <gtest/gtest.h>

#include "../test_support.h"
#include "model_test_util.h"

// A comb 10000 levels deep, the deepest the reader takes, indexed and
// penalised in a thread with a 1 MB stack. Node v of the comb (v = 0 the
// root) holds leaf v and node v+1; node 9999 holds leaves 9999 and 10000.
TEST(DeepTree, IndexingAndPenaltyPassesFitAOneMegabyteStack)
{
    const int V = kDeepestNesting, M = V + 1, C = 2;
    std::string samples;
    for (int i = 0; i < 4; i++) { // sample i holds every fourth feature from i
        samples += std::to_string(i + 1);
        for (int j = 0; j < M; j++)
            samples += j % 4 == i ? "\t1" : "\t0";
        samples += "\n";
    }
    const std::string samplePath = scratchFile("deep_samples.txt", samples);
    const std::string labelsPath = scratchFile("deep_labels.txt", ">a\n1 2\n>b\n3 4\n");
    const std::string treePath = scratchFile("deep.tre", combNewick(V, 1));

    const bool ran = runWithStack(kOneMegabyte, [&] {
        Logistic m(samplePath, labelsPath, treePath, {});
        ASSERT_NE(m.tree, nullptr);
        m.Train(0.5f);
        m.Learn(0.5f);
        ASSERT_EQ(m.nNodes, V);
        bool shaped = true, weighted = true;
        for (int v = 0; v < V; v++) {
            const bool deepest = v == V - 1;
            shaped = shaped && m.nodeDepth[v] == v &&
                     m.nodeChildren[v] == (deepest ? std::vector<int>{} : std::vector<int>{v + 1}) &&
                     m.nodeLeaves[v] == (deepest ? std::vector<int>{v, v + 1} : std::vector<int>{v});
            // With w = 0.5, node v keeps 2^-(v+1) and passes on as much: exact
            // powers of two, until they fall below the least float and become 0.
            weighted = weighted && m.groupWeight[v] == std::ldexp(1.0f, -(v + 1)) &&
                       m.leafWeight[v] == std::ldexp(1.0f, -(v + 1));
        }
        EXPECT_TRUE(shaped);
        EXPECT_TRUE(weighted);
        EXPECT_EQ(m.leafWeight[V], m.leafWeight[V - 1]);
        EXPECT_EQ(m.leafFeatures.size(), size_t(M));
        EXPECT_EQ(m.leafFeatures.back(), V);
        EXPECT_EQ(m.nodeHeight[V - 1], 1.0f); // its leaves hang from its own branch of 1
        EXPECT_EQ(m.nodeRootDist[V - 1], V - 2.0f); // the root's branch has no length

        // With every coefficient 1, the group below node v counts and sums M - v.
        std::fill(m.beta, m.beta + C * M, 1.0f);
        m.Derivatives();
        bool counted = true;
        for (int v = 0; v < V; v++)
            for (int k = 0; k < C; k++)
                counted = counted && m.numBetas[v * C + k] == M - v && m.squareSums[k * V + v] == M - v;
        EXPECT_TRUE(counted);
        // With every coefficient 0, a leaf's slope is lambda times its own
        // weight plus those of all groups above it, which add up to 1.
        std::fill(m.beta, m.beta + C * M, 0.0f);
        m.Derivatives();
        float furthest = 0.0f;
        for (int p = 0; p < C * M; p++)
            furthest = std::max(furthest, std::fabs(m.dPlus[p] - 0.5f) + std::fabs(m.dMinus[p] + 0.5f));
        EXPECT_LT(furthest, 1e-6f);
        m.del();
    });
    EXPECT_TRUE(ran);
}
