#include <cmath>

#include <gtest/gtest.h>

#include "model/Logistic.h"
#include "model_test_util.h"

namespace {

void expectRow(const Data &d, int row, std::vector<float> expected)
{
    ASSERT_EQ(d.M, (int)expected.size());
    for (int j = 0; j < d.M; j++)
        EXPECT_FLOAT_EQ(d.X[row * d.M + j], expected[j]) << "row " << row << " column " << j;
}

void release(Data &d)
{
    delete[] d.X;
    delete[] d.classes;
    delete[] d.Y;
}

} // namespace

TEST(Counts, LinesFieldsAndClasses)
{
    ScratchDir dir;
    // The empty second line is no sample; the missing final newline changes nothing.
    EXPECT_EQ(GetN(dataFile("table.txt")), 3);
    EXPECT_EQ(GetM(dataFile("table.txt")), 3);
    EXPECT_EQ(GetC(dataFile("table_labels.txt")), 2);

    writeText(dir.file("single.txt"), "7\n8\n");
    EXPECT_EQ(GetM(dir.file("single.txt")), 0);
    writeText(dir.file("blank_first.txt"), "\n1\t2\n");
    EXPECT_EQ(GetM(dir.file("blank_first.txt")), -1);
    EXPECT_EQ(GetN(dir.file("blank_first.txt")), 1);

    // A '>' line directly after another is the first one's member list, yet both count.
    writeText(dir.file("labels.txt"), ">a\n>b\n1\n");
    EXPECT_EQ(GetC(dir.file("labels.txt")), 2);

    EXPECT_EQ(GetN(dir.file("missing.txt")), 0);
    EXPECT_EQ(GetM(dir.file("missing.txt")), -1);
    EXPECT_EQ(GetC(dir.file("missing.txt")), 0);
}

TEST(DataSet, WholeTableScalesRowsAndKeepsLineNumbering)
{
    Data d(dataFile("table.txt"), dataFile("table_labels.txt"), {});
    EXPECT_EQ(d.N, 3);
    EXPECT_EQ(d.M, 3);
    EXPECT_EQ(d.C, 2);
    EXPECT_EQ(d.NLines, 4);
    expectRow(d, 0, {0.25f, 0.25f, 0.5f});
    expectRow(d, 1, {0.25f, 0.25f, 0.5f});
    expectRow(d, 2, {0.0f, 0.25f, 0.75f});
    // The empty line still takes a sample number and a class slot, so the
    // classes shift: the reason the command line rejects such tables.
    EXPECT_EQ(d.classes[0], 1);
    EXPECT_EQ(d.classes[1], 0);
    EXPECT_EQ(d.classes[2], 2);
    const int expectedY[] = {1, 0, 0, 0, 0, 1};
    for (int c = 0; c < 6; c++)
        EXPECT_EQ(d.Y[c], expectedY[c]) << "cell " << c;
    release(d);
}

TEST(DataSet, SampleListSelectsLinesInFileOrder)
{
    Data d(dataFile("table.txt"), dataFile("table_labels.txt"), {3, 0});
    EXPECT_EQ(d.N, 2);
    expectRow(d, 0, {0.25f, 0.25f, 0.5f});
    expectRow(d, 1, {0.0f, 0.25f, 0.75f});
    EXPECT_EQ(d.classes[0], 1);
    EXPECT_EQ(d.classes[1], 1);
    release(d);

    Data unlabelled(dataFile("four.txt"), {1});
    EXPECT_EQ(unlabelled.N, 1);
    EXPECT_EQ(unlabelled.C, 0);
    EXPECT_EQ(unlabelled.classes, nullptr);
    expectRow(unlabelled, 0, {0.4f, 0.3f, 0.2f, 0.1f});
    release(unlabelled);
}

TEST(DataSet, ShortRowsAndZeroRowsStayInBounds)
{
    ScratchDir dir;
    // Line 2 holds one value too few: the stream of values shifts, and the
    // last cell, which nothing reaches, stays 0. A row of zeros becomes NaN.
    writeText(dir.file("short.txt"), "1\t1\t3\n2\t2\n3\t0\t0\n");
    Data d(dir.file("short.txt"), {});
    ASSERT_EQ(d.N, 3);
    expectRow(d, 0, {0.25f, 0.75f});
    expectRow(d, 1, {1.0f, 0.0f});
    EXPECT_TRUE(std::isnan(d.X[4]));
    EXPECT_TRUE(std::isnan(d.X[5]));
    release(d);

    // A list naming a line twice reads it once; its second row stays 0.
    Data twice(dataFile("four.txt"), dataFile("four_labels.txt"), {1, 1});
    expectRow(twice, 0, {0.4f, 0.3f, 0.2f, 0.1f});
    EXPECT_EQ(twice.classes[0], 2);
    EXPECT_EQ(twice.classes[1], 0);
    EXPECT_EQ(twice.Y[2], 0);
    EXPECT_EQ(twice.Y[3], 0);
    release(twice);
}
