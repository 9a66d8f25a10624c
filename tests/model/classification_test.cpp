#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "model/SampleTable.h"

#include "model_test_util.h"

TEST(Prediction, TiesUnderflowOverflowAndShortRows)
{
    // pair.txt: sample 1 = (1, 0), sample 2 = (0, 1).
    EXPECT_EQ(HandModel(2, 2, {1, 0, 1, 0}).model.pred(0), 1); // equal scores: lower class
    HandModel three(3, 2, {0, 0, 2, 1, 1, 3});
    EXPECT_EQ(three.model.pred(0), 2);
    EXPECT_EQ(three.model.pred(1), 3);
    // Both exps underflow to 0: class 1, though class 2 scores higher.
    EXPECT_EQ(HandModel(2, 2, {-2000, 0, -1000, 0}).model.pred(0), 1);
    EXPECT_EQ(HandModel(2, 2, {-2000, 0, -1, 0}).model.pred(0), 2);
    // Both overflow to infinity: a tie, the first wins.
    EXPECT_EQ(HandModel(2, 2, {1000, 0, 2000, 0}).model.pred(0), 1);
    EXPECT_EQ(HandModel(1, 2, {-5, 5}).model.pred(0), 1);
    // A model with more features than the row reads only the row.
    HandModel wide(2, 3, {0, 0, 0, 1, 0, 0});
    EXPECT_EQ(wide.model.pred(0), 2);
    EXPECT_EQ(wide.model.pred(1), 1);
}

TEST(Classify, ResultFileAndErrorRate)
{
    const std::string result = scratchFile("result.txt", "old content that must go\n");
    HandModel swapped(2, 2, {0, 1, 1, 0});
    swapped.model.Classify(result);
    EXPECT_EQ(readFile(result), "2\n1\n");

    // pair_labels.txt: sample 1 in class 1, sample 2 in class 2.
    const std::string samples = dataFile("pair.txt"), labels = dataFile("pair_labels.txt");
    EXPECT_EQ(swapped.model.Test(samples, labels, {}), 1.0f);
    HandModel right(2, 2, {1, 0, 0, 1});
    EXPECT_EQ(right.model.Test(samples, labels, {}), 0.0f);
    // A second call evaluates its own samples only.
    EXPECT_EQ(right.model.Test(samples, labels, {1}), 0.0f);
    EXPECT_EQ(right.model.testData.N, 1);
    // four.txt: classes 1, 2, 1, each with a positive first feature, which
    // this model reads as a vote for class 2.
    EXPECT_EQ(HandModel(2, 2, {0, 0, 1, 0}).model.Test(dataFile("four.txt"),
                                                       dataFile("four_labels.txt"), {}),
              2.0f / 3.0f);
}

TEST(Prediction, SkippingZeroEntriesGivesTheBitsOfTheFullSum)
{
    // Row 1 holds a -0 entry; row 2 a value that scaling takes to 0.
    SampleTable table;
    ASSERT_EQ(readSampleTable(scratchFile("zeros.txt", "1 -0 3 1\n2 1e-45 0 1e30\n"), table), "");
    Data set = dataOf(table);
    EXPECT_EQ(std::vector<std::int64_t>(set.rowStart, set.rowStart + 3), (std::vector<std::int64_t>{0, 2, 3}));
    const std::vector<std::vector<float>> rows = {{-0.0f, 0.75f, 0.25f}, {0.0f, 0.0f, 1.0f}};
    const float inf = INFINITY, nan = NAN;
    Logistic model(set, nullptr);
    model.nClasses = 5;
    model.beta = new float[15]{-1, 2, 3, 0.0f, -0.0f, -1e-38f, 1e-38f, -1e-38f, 0, inf, 1, 1, 2, nan, 1};
    const std::vector<char> finite = model.finiteClasses();
    EXPECT_EQ(finite, (std::vector<char>{1, 1, 1, 0, 0}));
    for (int i = 0; i < 2; i++)
        for (int k = 0; k < 5; k++) {
            float full = 0.0f;
            for (int j = 0; j < 3; j++)
                full += model.beta[k * 3 + j] * rows[i][j];
            const float score = model.classScore(set, i, k, finite[k]);
            EXPECT_EQ(std::memcmp(&score, &full, sizeof full), 0) << "row " << i << ", class " << k;
        }
    model.del();
}
