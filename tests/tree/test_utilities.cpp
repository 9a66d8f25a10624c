// Logging, string helpers and numeric helpers.
#include <climits>
#include <vector>

#include "helpers.h"
#include "tree/common.h"
#include "tree/logging.h"
#include "tree/parsing.h"

using namespace vessik_test;

// This program replaces the C library's rand by a scripted sequence, so that
// normal variates can be checked exactly.
namespace {
std::vector<int> scriptedRand;
size_t randCalls = 0;
} // namespace
extern "C" int rand() noexcept
{
    return randCalls < scriptedRand.size() ? scriptedRand[randCalls++] : 0;
}

TEST(Logging, LevelsAndLogStreams)
{
    EXPECT_EQ(getLogFile(), stderr);
    EXPECT_TRUE(isLogLevel(0));
    EXPECT_FALSE(isLogLevel(1));
    TempDir dir;
    const std::string path = dir.path + "/log.txt";
    ASSERT_TRUE(openLogFile(path.c_str()));
    EXPECT_FALSE(openLogFile("/no/such/dir/log.txt")); // keeps the open one
    printLog(1, "hidden");
    setLogLevel(1);
    printLog(1, "shown %d", 1);
    EXPECT_EQ(slurp(path), "shown 1"); // flushed at once
    closeLogFile();
    EXPECT_EQ(getLogFile(), nullptr);
    printLog(0, "dropped once closed");
    EXPECT_EQ(slurp(path), "shown 1");
    openLogFile(stderr);
    closeLogFile(); // detaches standard error without closing it
    CaptureStderr();
    printError("still open");
    EXPECT_EQ(GetCapturedStderr(), "error: still open\n");
    openLogFile(stderr);
    setLogLevel(0);
}

TEST(Parsing, CharacterSetsChompAndSplit)
{
    EXPECT_TRUE(inChars('b', "abc"));
    EXPECT_FALSE(inChars('d', "abc") || inChars('\0', "abc") || inChars('a', nullptr));
    const char *chomps[][2] = {{"x\r\n", "x"}, {"x", "x"}, {"\n", ""}, {"", ""}, {"x\r", "x\r"}};
    for (const auto &c : chomps) {
        std::string text = c[0];
        const bool removed = text != c[1];
        EXPECT_EQ(chomp(text.data()), removed) << c[0];
        EXPECT_STREQ(text.c_str(), c[1]);
    }
    using Fields = std::vector<std::string>;
    EXPECT_EQ(split("a,b", ","), Fields({"a", "b"}));
    EXPECT_EQ(split("a,b,", ","), Fields({"a", "b"}));
    EXPECT_EQ(split("a,,b", ","), Fields({"a"}));
    EXPECT_EQ(split(",a", ","), Fields());
    EXPECT_EQ(split("", ","), Fields());
    EXPECT_EQ(split("a b\tc", " \t"), Fields({"a", "b", "c"}));
    EXPECT_EQ(split("a,b", nullptr), Fields({"a,b"}));
}

TEST(Numeric, BinomialsAndPoissonProbabilities)
{
    const int chooses[][3] = {{5, 2, 10}, {5, 0, 1}, {5, 5, 1}, {5, 6, 0}, {-1, 0, 0},
                              {5, -1, 0}, {10, 7, 120}, {30, 15, 155117520}, {100, 50, INT_MAX}};
    for (const auto &c : chooses)
        EXPECT_EQ(choose(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    EXPECT_EQ(fchoose(10, 3), 120.0);
    EXPECT_NEAR(fchoose(100, 50) / 1.0089134454556417e29, 1.0, 1e-12);
    EXPECT_FLOAT_EQ(poisson(0, 2.0f), 0.13533528f);  // e^-2
    EXPECT_FLOAT_EQ(poisson(2, 3.0f), 0.22404181f);  // 4.5 e^-3
    EXPECT_EQ(poisson(2, 0.0f), 0.0f);
    EXPECT_EQ(poisson(-1, 1.0f), 0.0f);
}

TEST(Numeric, NormalVariatesFromScriptedDraws)
{
    const struct {
        std::vector<int> draws;
        float mu, expected;
    } cases[] = {
        {{1 << 30, 0}, 3.0f, 3.0f},                        // u1 = 0.5 gives z = 0
        {{0, 1 << 30, 3 << 29, 1 << 30}, 1.0f, 2.7155278f}, // z = -1.7155 rejected, then 0.85776
        {{5, INT_MAX, 1 << 30, 0}, 3.0f, 3.0f},            // u2 = 0 is drawn again
    };
    for (const auto &c : cases) {
        scriptedRand = c.draws;
        randCalls = 0;
        EXPECT_FLOAT_EQ(normalvariate(c.mu, 2.0f), c.expected);
        EXPECT_EQ(randCalls, c.draws.size());
    }
}

TEST(Numeric, PermutationsAndArrayPrinters)
{
    int perm[] = {2, 0, 1};
    int inv[3];
    invertPerm(perm, inv, 3);
    EXPECT_EQ(std::vector<int>(inv, inv + 3), std::vector<int>({1, 2, 0}));
    int ints[] = {1, 2};
    float floats[] = {0.5f, -1.0f};
    CaptureStdout();
    printIntArray(ints, 2);
    printFloatArray(floats, 2);
    printIntArray(ints, 0);
    EXPECT_EQ(GetCapturedStdout(), "1 2 \n0.500000 -1.000000 \n\n");
}
