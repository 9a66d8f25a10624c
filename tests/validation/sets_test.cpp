#include <gtest/gtest.h>

#include "helpers.h"
#include "validation/Testing.h"

namespace {

std::string joined(const std::vector<int> &list)
{
    std::string text;
    for (const int index : list)
        text += (text.empty() ? "" : " ") + std::to_string(index);
    return text;
}

// A fold's two lists as "test | training", starting from `start` in both.
std::string readFold(int fold, const std::string &path, std::vector<int> start = {})
{
    std::vector<int> test = start, train = start;
    setSets(fold, path, test, train);
    return joined(test) + " | " + joined(train);
}

TEST(SetSets, ReadsBlocksInAnyOrderAndSkipsOtherLines)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "# folds\n> 2\n5\n0 1\n\n> 0\n3 4\n0 1 2 5\n>\t1\n0 1\n2 3 4 5\n");
    EXPECT_EQ(readFold(0, path), "3 4 | 0 1 2 5");
    EXPECT_EQ(readFold(1, path), "0 1 | 2 3 4 5");
    EXPECT_EQ(readFold(2, path), "5 | 0 1");
    // A fold without a block, and a file that cannot be read, add nothing.
    EXPECT_EQ(readFold(3, path), " | ");
    EXPECT_EQ(readFold(0, dir.path + "absent.txt"), " | ");
    EXPECT_EQ(readFold(0, dir.path), " | "); // a folder: the first read fails
}

TEST(SetSets, ConcatenatesRepeatedBlocksAndAppendsToTheLists)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "> 1\n3 4\n0\n> 0\n9\n9\n> 1\n5\n1 2\n");
    EXPECT_EQ(readFold(1, path, {7}), "7 3 4 5 | 7 0 1 2");
}

TEST(SetSets, ReadsEmptyLinesCarriageReturnsAndAMissingFinalNewline)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "> 0\r\n\r\n0 1\r\n> 1\r\n2\t3 \r\n0 1");
    EXPECT_EQ(readFold(0, path), " | 0 1");
    EXPECT_EQ(readFold(1, path), "2 3 | 0 1");
    // A header of ">" alone is fold 0; a missing training line adds nothing.
    writeFile(path, ">\n4\n");
    EXPECT_EQ(readFold(0, path), "4 | ");
    // The two lines after a header are index lines whatever they hold.
    writeFile(path, "> 0\n>1 2\n3\n");
    EXPECT_EQ(readFold(0, path), "0 2 | 3");
}

} // namespace
