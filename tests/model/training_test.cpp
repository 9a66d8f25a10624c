#include <cmath>

#include <gtest/gtest.h>

#include "model/Logistic.h"
#include "model_test_util.h"

namespace {

// pair.txt holds sample 1 = (1, 0) in class 1 and sample 2 = (0, 1) in class 2,
// under a tree whose root has the two leaves as children.
struct FittedModel {
    FittedModel(const std::string &samples, const std::string &labels, const std::string &tree,
                float w, float lambda)
        : model(dataFile(samples), dataFile(labels), dataFile(tree), {})
    {
        model.Train(lambda);
        model.Learn(w);
    }
    ~FittedModel() { model.del(); }

    Logistic model;
};

// Objective with every coefficient 0: the sum of N logarithms of C, in order.
float objectiveAtZero(int N, int C)
{
    float v = -0.0f;
    for (int i = 0; i < N; i++)
        v += logf((float)C);
    return v;
}

const float hugeLambda = 1e6f;

} // namespace

TEST(Derivatives, GroupNormSlopesAndCurvature)
{
    // w = 0: the root's group weight is 1 and both leaf weights are 0.
    FittedModel fitted("pair.txt", "pair_labels.txt", "pair.tre", 0.0f, hugeLambda);
    Logistic &m = fitted.model;
    m.lambda = 1.0f;
    // Class 1: coefficients 3 and 4, a group of norm 5.
    // Class 2: one nonzero coefficient, 2, beside a zero.
    const float beta[] = {3.0f, 4.0f, 0.0f, 2.0f};
    std::copy(beta, beta + 4, m.beta);
    m.Derivatives();

    EXPECT_EQ(m.numBetas[0], 2.0f);
    EXPECT_EQ(m.numBetas[1], 1.0f);
    EXPECT_EQ(m.squareSums[0], 25.0f);
    EXPECT_EQ(m.squareSums[1], 4.0f);

    EXPECT_FLOAT_EQ(m.dPlus[0], 0.6f);
    EXPECT_FLOAT_EQ(m.dMinus[0], 0.6f);
    EXPECT_FLOAT_EQ(m.d2[0], 0.128f);
    EXPECT_FLOAT_EQ(m.dPlus[1], 0.8f);
    EXPECT_FLOAT_EQ(m.d2[1], 0.2f - 16.0f / 125.0f);

    // The lone nonzero coefficient sees the group as an absolute value ...
    EXPECT_EQ(m.dPlus[3], 1.0f);
    EXPECT_EQ(m.dMinus[3], -1.0f);
    EXPECT_EQ(m.d2[3], 0.0f);
    // ... and the zero beside it sees a smooth group of norm 2.
    EXPECT_EQ(m.dPlus[2], 0.0f);
    EXPECT_EQ(m.dMinus[2], 0.0f);
    EXPECT_EQ(m.d2[2], 0.5f);
}

TEST(Derivatives, AllZeroCoefficientsSitAtEveryKink)
{
    // With every coefficient 0 each leaf's absolute-value weight is its own
    // weight plus every group weight above it, which adds up to 1 for any w.
    FittedModel fitted("four.txt", "four_labels.txt", "deep.tre", 0.3f, hugeLambda);
    Logistic &m = fitted.model;
    m.lambda = 2.0f;
    m.Derivatives();
    for (int p = 0; p < 2 * 4; p++) {
        EXPECT_NEAR(m.dPlus[p], 2.0f, 1e-6f) << "coefficient " << p;
        EXPECT_NEAR(m.dMinus[p], -2.0f, 1e-6f) << "coefficient " << p;
        EXPECT_EQ(m.d2[p], 0.0f) << "coefficient " << p;
    }
}

TEST(Optimiser, StableObjectiveStopsAfterTenSweeps)
{
    // The tree's leaves are features 1 and 2, zero in every sample: no step is
    // ever taken, and the objective stays N log C exactly.
    FittedModel fitted("zeros.txt", "four_labels.txt", "zeros.tre", 0.5f, 1.0f);
    Logistic &m = fitted.model;
    EXPECT_EQ(m.eval(0, 0, 0.0f), objectiveAtZero(3, 2));
    // The objective is evaluated eleven times: the bound of every visited
    // coefficient has been halved in each of the ten sweeps before that.
    for (int k = 0; k < 2; k++) {
        // Feature 0 is no leaf of the tree: never visited.
        EXPECT_EQ(m.delta[k * 3 + 0], 1.0f);
        EXPECT_EQ(m.delta[k * 3 + 1], 1.0f / 1024.0f);
        EXPECT_EQ(m.delta[k * 3 + 2], 1.0f / 1024.0f);
        for (int j = 0; j < 3; j++)
            EXPECT_EQ(m.beta[k * 3 + j], 0.0f);
    }
}

TEST(Optimiser, HugeLassoPenaltyKeepsEveryCoefficientAtZero)
{
    // w = 1 makes the penalty a plain lasso; no coefficient can leave 0.
    FittedModel fitted("four.txt", "four_labels.txt", "deep.tre", 1.0f, hugeLambda);
    Logistic &m = fitted.model;
    for (int p = 0; p < 2 * 4; p++)
        EXPECT_EQ(m.beta[p], 0.0f);
    EXPECT_NEAR(m.eval(0, 0, 0.0f), objectiveAtZero(3, 2), 1e-5f);
}

TEST(Optimiser, FirstStepFromZeroWorkedByHand)
{
    FittedModel fitted("pair.txt", "pair_labels.txt", "pair.tre", 1.0f, hugeLambda);
    Logistic &m = fitted.model;
    // Back to the state before the first sweep, with a weaker penalty.
    m.lambda = 0.25f;
    std::fill(m.delta, m.delta + 4, 1.0f);
    std::fill(m.sumExp, m.sumExp + 2, 2.0f);
    m.Derivatives();

    // Coefficient of feature 0 in class 1: g = -1 + 1/2, h = 1/2 - 1/4, the
    // lasso slope upwards is 0.25, so the upward step is (0.5 - 0.25) / 0.25.
    float g = 0, h = 0;
    m.dl1(0, 0, g, h);
    EXPECT_EQ(g, -0.5f);
    EXPECT_EQ(h, 0.25f);
    EXPECT_EQ(m.dPlus[0], 0.25f);
    EXPECT_EQ(m.compute(0, 0), 1.0f);

    // F after that step: -1 + log(e + 1) + log 2 + 0.25 * |1|.
    EXPECT_NEAR(m.eval(0, 0, 1.0f), -1.0f + std::log(std::exp(1.0) + 1) + std::log(2.0) + 0.25f,
                1e-5);
    // A step is clamped to the bound: 3 is taken as 1.
    EXPECT_EQ(m.eval(0, 0, 3.0f), m.eval(0, 0, 1.0f));
    // Evaluating leaves the state as it was.
    EXPECT_EQ(m.beta[0], 0.0f);
    EXPECT_NEAR(m.sumExp[0], 2.0f, 1e-6f);
    EXPECT_EQ(m.eval(0, 0, 0.0f), objectiveAtZero(2, 2));
}

TEST(Optimiser, WeakPenaltySeparatesTheClasses)
{
    FittedModel fitted("pair.txt", "pair_labels.txt", "pair.tre", 1.0f, 0.01f);
    const Logistic &m = fitted.model;
    // Each class's own feature gets a positive coefficient, the other's a
    // negative or zero one, and every sample is then classified correctly.
    EXPECT_GT(m.beta[0], 0.0f);
    EXPECT_GT(m.beta[3], 0.0f);
    EXPECT_LE(m.beta[1], 0.0f);
    EXPECT_LE(m.beta[2], 0.0f);
    Logistic &model = fitted.model;
    EXPECT_EQ(model.pred(0), 1);
    EXPECT_EQ(model.pred(1), 2);
    EXPECT_LT(model.eval(0, 0, 0.0f), objectiveAtZero(2, 2));
}
