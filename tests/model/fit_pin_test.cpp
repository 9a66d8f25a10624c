// Trained models pinned bit for bit. Each case fits a small set and compares
// the model file with the one Orvane wrote when the case was made, and the
// exact bits of the coefficients, step bounds, scores and normalisers the fit
// leaves behind. The normalisers carry the rounding of every trial step the
// objective undid, so any change in the order or type of the arithmetic, or a
// skipped evaluation that leaves other bits than running it, shows up here.
//
// Between them the cases take every branch of a coordinate step many times:
// the Newton step from a positive and from a negative coefficient, the stop at
// zero from either side, the upward, downward and no step from zero, a zero
// curvature (feature 8 of mix and 11 of wide are 0 in every sample), the step
// bound, and both stops of the sweep loop (a rise; a stable objective).
#include <cstring>

#include <gtest/gtest.h>

#include "model_test_util.h"

namespace {

struct PinnedFit {
    const char *set;
    const char *w;
    const char *lambda;
};

const PinnedFit pinnedFits[] = {
    {"mix", "0.5", "1"},    {"mix", "1", "0.001"},  {"mix", "-1", "0.05"},  {"mix", "0", "0.01"},
    {"wide", "0.5", "0.1"}, {"wide", "-2", "0.02"}, {"wide", "0.3", "0.003"}, {"wide", "0.8", "0.3"},
};

std::string hexBits(const char *name, const float *values, int count)
{
    std::string text = name;
    for (int n = 0; n < count; n++) {
        unsigned int bits;
        std::memcpy(&bits, &values[n], sizeof bits);
        char word[10];
        std::snprintf(word, sizeof word, " %08x", bits);
        text += word;
    }
    return text;
}

// One line with the bits of everything a fit leaves behind.
std::string fitState(const Logistic &m)
{
    const int cells = m.nClasses * m.nFeatures;
    return hexBits("beta", m.beta, cells) + hexBits(" delta", m.delta, cells) +
           hexBits(" margin", m.margin, m.nClasses * m.nSamples) +
           hexBits(" sumExp", m.sumExp, m.nSamples) + hexBits(" fitSum", &m.fitSum, 1) +
           hexBits(" penaltySum", &m.penaltySum, 1);
}

} // namespace

TEST(PinnedFits, SameModelFilesAndStateBits)
{
    std::istringstream expectedStates(readFile(dataFile("fit_bits.txt")));
    for (const PinnedFit &fit : pinnedFits) {
        const std::string name = std::string(fit.set) + " w=" + fit.w + " lambda=" + fit.lambda;
        Logistic model(dataFile(std::string(fit.set) + ".txt"),
                       dataFile(std::string(fit.set) + "_labels.txt"),
                       dataFile(std::string(fit.set) + ".tre"), {});
        model.Train(std::stof(fit.lambda));
        model.Learn(std::stof(fit.w));

        std::ostringstream modelFile;
        model.output(modelFile);
        EXPECT_EQ(modelFile.str(),
                  readFile(dataFile("fit_" + std::string(fit.set) + "_" + fit.w + "_" + fit.lambda + ".txt")))
            << name;
        std::string expected;
        std::getline(expectedStates, expected);
        EXPECT_EQ(name + " " + fitState(model), expected);
        model.del();
    }
}

TEST(PinnedFits, PairedTrialStepsEqualTwoEvaluationsInARow)
{
    // Two models fitted alike hold the same bits; one evaluates each pair of
    // trial steps at once, the other one step after the other. Results and
    // normalisers must agree bit for bit, also when a step is 0 or clamped.
    auto fitted = [](Logistic &m) {
        m.Train(0.1f);
        m.Learn(0.5f);
    };
    Logistic paired(dataFile("wide.txt"), dataFile("wide_labels.txt"), dataFile("wide.tre"), {});
    Logistic single(dataFile("wide.txt"), dataFile("wide_labels.txt"), dataFile("wide.tre"), {});
    fitted(paired);
    fitted(single);
    const float steps[][2] = {{0.3f, -0.2f}, {-0.7f, 5.0f}, {0.0f, 0.4f}, {0.25f, 0.0f}, {1e-3f, -1e-3f}};
    for (int j : paired.leafFeatures) {
        for (int k = 0; k < paired.nClasses; k++) {
            for (const auto &step : steps) {
                float up, down;
                paired.evalUpDown(k, j, step[0], step[1], up, down);
                const float upAlone = single.eval(k, j, step[0]);
                const float downAlone = single.eval(k, j, step[1]);
                ASSERT_EQ(hexBits("", &up, 1), hexBits("", &upAlone, 1)) << k << " " << j;
                ASSERT_EQ(hexBits("", &down, 1), hexBits("", &downAlone, 1)) << k << " " << j;
                ASSERT_EQ(hexBits("", paired.sumExp, paired.nSamples), hexBits("", single.sumExp, single.nSamples));
            }
        }
    }
    paired.del();
    single.del();
}
