
#include <gtest/gtest.h>

#include "model_test_util.h"

namespace {

std::string written(const HandModel &hand)
{
    std::ostringstream out;
    hand.model.output(out);
    return out.str();
}

} // namespace

TEST(ModelFile, WritesCountsThenOneLinePerClass)
{
    EXPECT_EQ(written(HandModel(2, 3, {0.5f, 0.0f, -1.0f, 0.25f, 2.0f, 1e-05f})),
              "2 3\n0.5 0 -1 \n0.25 2 1e-05 \n");
    EXPECT_EQ(written(HandModel(1, 2, {1.0f / 3.0f, -123456.7f})), "1 2\n0.333333 -123457 \n");
    EXPECT_EQ(written(HandModel(0, 3, {0.0f})), "0 3\n");
}

TEST(ModelFile, ReadsBackWithinTheDeclaredShape)
{
    const std::string path = scratchFile("model.txt", "");
    HandModel(2, 3, {0.5f, 1.0f / 3.0f, -1.0f, 0.25f, 2.0f, 1e-05f}).model.output(path);
    HandModel loaded(0, 0, {});
    loaded.model.input(path);
    EXPECT_EQ(loaded.model.nClasses, 2);
    EXPECT_EQ(loaded.model.nFeatures, 3);
    EXPECT_EQ(std::vector<float>(loaded.model.beta, loaded.model.beta + 6),
              (std::vector<float>{0.5f, 0.333333f, -1.0f, 0.25f, 2.0f, 1e-05f}));

    // No final newline, a short line, a surplus value, a surplus line.
    HandModel odd(0, 0, {});
    odd.model.input(scratchFile("odd.txt", "3 2\n1 2 99\n3\n4 5\n6 7"));
    EXPECT_EQ(odd.model.nClasses, 3);
    EXPECT_EQ(std::vector<float>(odd.model.beta, odd.model.beta + 6),
              (std::vector<float>{1, 2, 3, 0, 4, 5}));

    // An unreadable file reads nothing and ends at once.
    HandModel missing(0, 0, {});
    missing.model.input("/nonexistent/model.txt");
    EXPECT_EQ(missing.model.nClasses, 0);
    EXPECT_EQ(missing.model.nFeatures, 0);
}
