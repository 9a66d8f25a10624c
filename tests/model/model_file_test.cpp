#include <sstream>

#include <gtest/gtest.h>

#include "model/Logistic.h"
#include "model_test_util.h"

namespace {

// A classification model over pair.txt (two features) with coefficients set by hand.
struct HandModel {
    HandModel(int C, int M, std::vector<float> coefficients)
        : model(dataFile("pair.txt"), {})
    {
        model.nClasses = C;
        model.nFeatures = M;
        model.beta = new float[coefficients.size()];
        std::copy(coefficients.begin(), coefficients.end(), model.beta);
    }
    ~HandModel() { model.del(); }

    Logistic model;
};

} // namespace

TEST(ModelFile, WritesCountsThenOneLinePerClass)
{
    HandModel hand(2, 3, {0.5f, 0.0f, -1.0f, 0.25f, 2.0f, 1e-05f});
    std::ostringstream out;
    hand.model.output(out);
    EXPECT_EQ(out.str(), "2 3\n0.5 0 -1 \n0.25 2 1e-05 \n");

    HandModel rounded(1, 2, {1.0f / 3.0f, -123456.7f});
    std::ostringstream six;
    rounded.model.output(six);
    EXPECT_EQ(six.str(), "1 2\n0.333333 -123457 \n");

    HandModel empty(0, 3, {0.0f});
    std::ostringstream none;
    empty.model.output(none);
    EXPECT_EQ(none.str(), "0 3\n");
}

TEST(ModelFile, ReadsBackWhatWasWritten)
{
    ScratchDir dir;
    HandModel hand(2, 3, {0.5f, 1.0f / 3.0f, -1.0f, 0.25f, 2.0f, 1e-05f});
    hand.model.output(dir.file("model.txt"));

    Logistic loaded(dataFile("pair.txt"), {});
    loaded.input(dir.file("model.txt"));
    EXPECT_EQ(loaded.nClasses, 2);
    EXPECT_EQ(loaded.nFeatures, 3);
    const float expected[] = {0.5f, 0.333333f, -1.0f, 0.25f, 2.0f, 1e-05f};
    for (int p = 0; p < 6; p++)
        EXPECT_EQ(loaded.beta[p], expected[p]) << "coefficient " << p;
    loaded.del();
}

TEST(ModelFile, ReadingStaysInsideTheDeclaredShape)
{
    ScratchDir dir;
    // No final newline; a short line; a surplus value; a surplus line.
    writeText(dir.file("odd.txt"), "3 2\n1 2 99\n3\n4 5\n6 7");
    Logistic odd(dataFile("pair.txt"), {});
    odd.input(dir.file("odd.txt"));
    ASSERT_EQ(odd.nClasses, 3);
    ASSERT_EQ(odd.nFeatures, 2);
    const float expected[] = {1, 2, 3, 0, 4, 5};
    for (int p = 0; p < 6; p++)
        EXPECT_EQ(odd.beta[p], expected[p]) << "coefficient " << p;
    odd.del();

    // An unreadable file reads nothing and ends at once.
    Logistic missing(dataFile("pair.txt"), {});
    missing.input(dir.file("missing.txt"));
    EXPECT_EQ(missing.nClasses, 0);
    EXPECT_EQ(missing.nFeatures, 0);
    missing.del();
}
