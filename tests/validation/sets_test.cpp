#include <gtest/gtest.h>

#include "helpers.h"
#include "validation/Testing.h"

namespace {

using List = std::vector<int>;

struct Fold {
    List test;
    List train;
};

Fold readFold(int fold, const std::string &path)
{
    Fold lists;
    setSets(fold, path, lists.test, lists.train);
    return lists;
}

TEST(SetSets, ReadsBlocksInAnyOrderAndSkipsOtherLines)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "# folds\n> 2\n5\n0 1\n\n> 0\n3 4\n0 1 2 5\n>\t1\n0 1\n2 3 4 5\n");
    EXPECT_EQ(readFold(0, path).test, (List{3, 4}));
    EXPECT_EQ(readFold(0, path).train, (List{0, 1, 2, 5}));
    EXPECT_EQ(readFold(1, path).test, (List{0, 1}));
    EXPECT_EQ(readFold(1, path).train, (List{2, 3, 4, 5}));
    EXPECT_EQ(readFold(2, path).test, (List{5}));
    EXPECT_EQ(readFold(2, path).train, (List{0, 1}));
    // A fold without a block, and a file that cannot be read, leave the lists empty.
    EXPECT_TRUE(readFold(3, path).test.empty() && readFold(3, path).train.empty());
    EXPECT_TRUE(readFold(0, dir.path + "absent.txt").test.empty());
    EXPECT_TRUE(readFold(0, dir.path).test.empty()); // a folder: the first read fails
}

TEST(SetSets, ConcatenatesRepeatedBlocksAndKeepsLists)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "> 1\n3 4\n0\n> 0\n9\n9\n> 1\n5\n1 2\n");
    Fold lists{{7}, {8}}; // setSets appends, it never clears
    setSets(1, path, lists.test, lists.train);
    EXPECT_EQ(lists.test, (List{7, 3, 4, 5}));
    EXPECT_EQ(lists.train, (List{8, 0, 1, 2}));
}

TEST(SetSets, ReadsEmptyLinesCarriageReturnsAndAMissingFinalNewline)
{
    TempDir dir;
    const std::string path = dir.path + "sets0.txt";
    writeFile(path, "> 0\r\n\r\n0 1\r\n> 1\r\n2\t3 \r\n0 1");
    EXPECT_TRUE(readFold(0, path).test.empty());
    EXPECT_EQ(readFold(0, path).train, (List{0, 1}));
    EXPECT_EQ(readFold(1, path).test, (List{2, 3}));
    EXPECT_EQ(readFold(1, path).train, (List{0, 1}));
    // A header made of ">" alone is fold 0; a missing training line gives no indices.
    writeFile(path, ">\n4\n");
    EXPECT_EQ(readFold(0, path).test, (List{4}));
    EXPECT_TRUE(readFold(0, path).train.empty());
    // The two lines after a header are index lines whatever they hold.
    writeFile(path, "> 0\n>1 2\n3\n");
    EXPECT_EQ(readFold(0, path).test, (List{0, 2}));
    EXPECT_EQ(readFold(0, path).train, (List{3}));
}

} // namespace
