#include <gtest/gtest.h>

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
