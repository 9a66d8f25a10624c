#include <cmath>

#include <gtest/gtest.h>

#include "model_test_util.h"

namespace {

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

} // namespace

TEST(Derivatives, GroupNormSlopesAndCurvature)
{
    // A root with leaves 0 and 1; w = 0 gives the root's group weight 1 and
    // both leaf weights 0. The fit only sets up the arrays.
    FittedModel fitted("pair.txt", "pair_labels.txt", "pair.tre", 0.0f, 1.0f);
    Logistic &m = fitted.model;
    // Class 1: coefficients 3 and 4, a group of norm 5. Class 2: a zero beside a 2.
    const float beta[] = {3.0f, 4.0f, 0.0f, 2.0f};
    std::copy(beta, beta + 4, m.beta);
    m.Derivatives();
    EXPECT_EQ(std::vector<float>(m.numBetas, m.numBetas + 2), (std::vector<float>{2, 1}));
    EXPECT_FLOAT_EQ(m.dPlus[0], 0.6f);
    EXPECT_FLOAT_EQ(m.dMinus[0], 0.6f);
    EXPECT_FLOAT_EQ(m.d2[0], 0.128f);
    // The lone nonzero coefficient sees its group as an absolute value; the
    // zero beside it sees a smooth group of norm 2.
    EXPECT_EQ(std::vector<float>({m.dPlus[3], m.dMinus[3], m.d2[3]}), (std::vector<float>{1, -1, 0}));
    EXPECT_EQ(std::vector<float>({m.dPlus[2], m.dMinus[2], m.d2[2]}), (std::vector<float>{0, 0, 0.5f}));

    // With every coefficient 0, each leaf's absolute-value weight is its own
    // plus every group weight above it, which adds up to 1 for any w.
    FittedModel zero("four.txt", "four_labels.txt", "deep.tre", 0.3f, 1e6f);
    zero.model.lambda = 2.0f;
    zero.model.Derivatives();
    for (int p = 0; p < 2 * 4; p++) {
        EXPECT_NEAR(zero.model.dPlus[p], 2.0f, 1e-6f) << "coefficient " << p;
        EXPECT_NEAR(zero.model.dMinus[p], -2.0f, 1e-6f) << "coefficient " << p;
        EXPECT_EQ(zero.model.d2[p], 0.0f) << "coefficient " << p;
    }
}

TEST(Optimiser, StableObjectiveStopsAfterTenSweeps)
{
    // The leaves are features 1 and 2, zero in every sample: no step is ever
    // taken and the objective stays N log C exactly.
    FittedModel fitted("zeros.txt", "four_labels.txt", "zeros.tre", 0.5f, 1.0f);
    Logistic &m = fitted.model;
    EXPECT_EQ(m.eval(0, 0, 0.0f), objectiveAtZero(3, 2));
    // Eleven evaluations: the bound of every visited coefficient was halved in
    // each of the ten sweeps before. Feature 0, no leaf, is never visited.
    const float halved = 1.0f / 1024.0f;
    EXPECT_EQ(std::vector<float>(m.delta, m.delta + 6),
              (std::vector<float>{1, halved, halved, 1, halved, halved}));
    EXPECT_EQ(std::vector<float>(m.beta, m.beta + 6), (std::vector<float>(6, 0.0f)));
}

TEST(Optimiser, FirstStepFromZeroWorkedByHand)
{
    // pair.txt: sample 1 = (1, 0) in class 1, sample 2 = (0, 1) in class 2;
    // w = 1 makes the penalty a plain lasso, which a huge lambda keeps at 0.
    FittedModel fitted("pair.txt", "pair_labels.txt", "pair.tre", 1.0f, 1e6f);
    Logistic &m = fitted.model;
    EXPECT_EQ(std::vector<float>(m.beta, m.beta + 4), (std::vector<float>(4, 0.0f)));
    // Back to the state before the first sweep, with a weaker penalty.
    m.lambda = 0.25f;
    std::fill(m.delta, m.delta + 4, 1.0f);
    std::fill(m.sumExp, m.sumExp + 2, 2.0f);
    m.refreshCaches();
    m.Derivatives();

    // Feature 0 in class 1: g = -1 + 1/2, h = 1/2 - 1/4, lasso slope 0.25,
    // so the upward step is (0.5 - 0.25) / 0.25.
    float g = 0, h = 0;
    m.dl1(0, 0, g, h);
    EXPECT_EQ(g, -0.5f);
    EXPECT_EQ(h, 0.25f);
    EXPECT_EQ(m.compute(0, 0), 1.0f);
    // F after that step: -1 + log(e + 1) + log 2 + 0.25 * |1|; a step of 3 is clamped to 1.
    EXPECT_NEAR(m.eval(0, 0, 1.0f), -1.0f + std::log(std::exp(1.0) + 1) + std::log(2.0) + 0.25f,
                1e-5);
    EXPECT_EQ(m.eval(0, 0, 3.0f), m.eval(0, 0, 1.0f));
    // Evaluating changes nothing.
    EXPECT_EQ(m.beta[0], 0.0f);
    EXPECT_NEAR(m.sumExp[0], 2.0f, 1e-6f);
}
