#include <gtest/gtest.h>

#include "model/Logistic.h"
#include "model_test_util.h"

namespace {

// A model over pair.txt, whose samples are (1, 0) and (0, 1), with coefficients set by hand.
struct HandModel {
    HandModel(int C, std::vector<float> coefficients) : model(dataFile("pair.txt"), {})
    {
        model.nClasses = C;
        model.nFeatures = 2;
        model.beta = new float[coefficients.size() + 1];
        std::copy(coefficients.begin(), coefficients.end(), model.beta);
    }
    ~HandModel() { model.del(); }

    Logistic model;
};

} // namespace

TEST(Prediction, TiesUnderflowAndOverflow)
{
    // Equal scores: the lower class wins.
    EXPECT_EQ(HandModel(2, {1, 0, 1, 0}).model.pred(0), 1);
    // Class 2 scores higher on sample 1, class 3 on sample 2.
    HandModel three(3, {0, 0, 2, 1, 1, 3});
    EXPECT_EQ(three.model.pred(0), 2);
    EXPECT_EQ(three.model.pred(1), 3);
    // Every exp underflows to 0: class 1, even though class 2 scores higher.
    EXPECT_EQ(HandModel(2, {-2000, 0, -1000, 0}).model.pred(0), 1);
    // An underflowing class never beats one that does not.
    EXPECT_EQ(HandModel(2, {-2000, 0, -1, 0}).model.pred(0), 2);
    // Both overflow to infinity: a tie, the first wins.
    EXPECT_EQ(HandModel(2, {1000, 0, 2000, 0}).model.pred(0), 1);
    // One class: always class 1.
    EXPECT_EQ(HandModel(1, {-5, 5}).model.pred(0), 1);
}

TEST(Prediction, ModelWithMoreFeaturesThanTheRowReadsOnlyTheRow)
{
    HandModel wide(2, {0, 0, 0, 1, 0, 0});
    wide.model.nFeatures = 3;
    // Row (0, 1) against coefficients (0, 0 | 0) and (1, 0 | 0).
    EXPECT_EQ(wide.model.pred(1), 1);
    EXPECT_EQ(wide.model.pred(0), 2);
}

TEST(Classify, ResultFileHasOneClassPerLine)
{
    ScratchDir dir;
    HandModel swapped(2, {0, 1, 1, 0});
    writeText(dir.file("result.txt"), "old content that must go\n");
    swapped.model.Classify(dir.file("result.txt"));
    EXPECT_EQ(readText(dir.file("result.txt")), "2\n1\n");
}

TEST(Classify, ErrorRateOnATestSet)
{
    // pair_labels.txt puts sample 1 in class 1 and sample 2 in class 2.
    HandModel right(2, {1, 0, 0, 1});
    EXPECT_EQ(right.model.Test(dataFile("pair.txt"), dataFile("pair_labels.txt"), {}), 0.0f);
    EXPECT_EQ(right.model.testData.N, 2);
    // A second call replaces the test set.
    EXPECT_EQ(right.model.Test(dataFile("pair.txt"), dataFile("pair_labels.txt"), {1}), 0.0f);
    EXPECT_EQ(right.model.testData.N, 1);

    HandModel wrong(2, {0, 1, 1, 0});
    EXPECT_EQ(wrong.model.Test(dataFile("pair.txt"), dataFile("pair_labels.txt"), {}), 1.0f);
    EXPECT_EQ(wrong.model.Test(dataFile("pair.txt"), dataFile("pair_labels.txt"), {0}), 1.0f);

    // four.txt: three samples of classes 1, 2, 1, all with a positive first
    // feature, which this model reads as a vote for class 2.
    HandModel mixed(2, {0, 0, 1, 0});
    EXPECT_EQ(mixed.model.Test(dataFile("four.txt"), dataFile("four_labels.txt"), {}),
              2.0f / 3.0f);
}
