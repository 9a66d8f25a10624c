#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "model_test_util.h"
#include "model/FeatureColumns.h"
#include "model/SampleTable.h"

namespace {

void expectRows(const Data &d, std::vector<float> expected)
{
    const std::vector<float> cells = denseRows(d);
    ASSERT_EQ(cells.size(), expected.size());
    for (std::size_t c = 0; c < cells.size(); c++)
        EXPECT_FLOAT_EQ(cells[c], expected[c]) << "cell " << c;
}

} // namespace

TEST(Counts, LinesFieldsAndClasses)
{
    // table.txt: an empty second line (no sample) and no final newline.
    EXPECT_EQ(GetN(dataFile("table.txt")), 3);
    EXPECT_EQ(GetM(dataFile("table.txt")), 3);
    EXPECT_EQ(GetM(scratchFile("single.txt", "7\n8\n")), 0);
    EXPECT_EQ(GetM(scratchFile("blank_first.txt", "\n1\t2\n")), -1);
    // A '>' line right after another is its member list, yet both count.
    EXPECT_EQ(GetC(scratchFile("labels.txt", ">a\n>b\n1\n")), 2);
    EXPECT_EQ(GetN("/nonexistent/table"), 0);
    EXPECT_EQ(GetM("/nonexistent/table"), -1);
    EXPECT_EQ(GetC("/nonexistent/labels"), 0);
}

TEST(DataSet, RowsScaledClassesByLineNumber)
{
    Data d(dataFile("table.txt"), dataFile("table_labels.txt"), {});
    EXPECT_EQ(d.NLines, 4);
    EXPECT_EQ(d.C, 2);
    expectRows(d, {0.25f, 0.25f, 0.5f, 0.25f, 0.25f, 0.5f, 0.0f, 0.25f, 0.75f});
    // The empty line still takes a sample number and a class slot, so the
    // classes shift (the reason the command line refuses such tables), and
    // the row of class 0 gets no indicator.
    EXPECT_EQ(std::vector<int>(d.classes, d.classes + 3), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(std::vector<int>(d.Y, d.Y + 6), (std::vector<int>{1, 0, 0, 0, 0, 1}));
    freeData(d);

    // Listed lines become rows in file order, not list order.
    Data listed(dataFile("table.txt"), dataFile("table_labels.txt"), {3, 0});
    expectRows(listed, {0.25f, 0.25f, 0.5f, 0.0f, 0.25f, 0.75f});
    EXPECT_EQ(std::vector<int>(listed.classes, listed.classes + 2), (std::vector<int>{1, 1}));
    freeData(listed);
}

TEST(DataSet, ShortRowsRepeatsAndZeroRowsStayInBounds)
{
    // Line 2 holds one value too few: later values shift, the last cell stays
    // 0, and the row of zeros becomes NaN.
    Data d(scratchFile("short.txt", "1\t1\t3\n2\t2\n3\t0\t0\n"), {});
    ASSERT_EQ(d.N, 3);
    const std::vector<float> cells = denseRows(d);
    EXPECT_EQ(std::vector<float>(cells.begin(), cells.begin() + 4), (std::vector<float>{0.25f, 0.75f, 1.0f, 0.0f}));
    EXPECT_TRUE(std::isnan(cells[4]) && std::isnan(cells[5]));
    freeData(d);

    // A line listed twice is read once; the second row, never filled, is
    // classless and scales to NaN.
    Data twice(dataFile("four.txt"), dataFile("four_labels.txt"), {1, 1});
    const std::vector<float> twiceCells = denseRows(twice);
    EXPECT_EQ(std::vector<float>(twiceCells.begin(), twiceCells.begin() + 4), (std::vector<float>{0.4f, 0.3f, 0.2f, 0.1f}));
    EXPECT_TRUE(std::isnan(twiceCells[4]));
    EXPECT_EQ(std::vector<int>(twice.classes, twice.classes + 2), (std::vector<int>{2, 0}));
    EXPECT_EQ(std::vector<int>(twice.Y, twice.Y + 4), (std::vector<int>{0, 1, 0, 0}));
    freeData(twice);
}

TEST(SampleTableReader, SizeCapsAreCheckedBeforeTheValuesAreKept)
{
    TableLimits limits;
    limits.samples = 2, limits.features = 3, limits.nonzeros = 4;
    const auto problem = [&limits](const std::string &name, const std::string &text) {
        SampleTable table;
        const std::string path = scratchFile(name, text);
        const std::string message = readSampleTable(path, table, limits);
        return message.empty() ? message : name + message.substr(path.size());
    };
    EXPECT_EQ(problem("tall.txt", "1 1 0 2\n2 0 0 3\n3\t0 5 0\n"), "tall.txt:3: 3 samples are more than this program can hold");
    EXPECT_EQ(problem("wide.txt", "1 1 0 2 0\n"), "wide.txt:1: 1 sample x 4 features is more than this program can hold");
    EXPECT_EQ(problem("dense.txt", "1 1 0 2\n2 3 0 4\n"), "");
    EXPECT_EQ(problem("denser.txt", "1 1 0 2\n2 3 4 5\n"),
              "denser.txt:2: 5 nonzero values are more than this program can hold");
    EXPECT_EQ(tableSizeProblem(3, 3, 5, limits), "3 samples are more than this program can hold");
    EXPECT_EQ(tableSizeProblem(1, 1, kMostNonzeros + 1), "1073741825 nonzero values are more than this program can hold");
}

namespace {

// Random sparse rows, every seventh one empty, in the layout the readers give.
Data randomRows(int N, int M, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::int32_t> cols;
    std::vector<float> values;
    Data d;
    d.N = N;
    d.M = M;
    d.rowStart = new std::int64_t[N + 1];
    d.rowStart[0] = 0;
    for (int i = 0; i < N; i++) {
        for (int j = 0; j < M && i % 7 != 3; j++)
            if (random() % 3 == 0) {
                cols.push_back(j);
                values.push_back(static_cast<float>(random() % 1000 + 1) / 7.0f);
            }
        d.rowStart[i + 1] = static_cast<std::int64_t>(cols.size());
    }
    d.cols = new std::int32_t[cols.size()];
    d.values = new float[values.size()];
    std::copy(cols.begin(), cols.end(), d.cols);
    std::copy(values.begin(), values.end(), d.values);
    return d;
}

} // namespace

// The columns made in place are the copied ones, and the rows are gone:
// the data are never held twice, and a fit holds only its columns. Short
// rows and empty ones share blocks of entries, long rows span several.
TEST(FeatureColumns, MadeInPlaceAsCopiedAndTheRowsReleased)
{
    for (const auto &[N, M, seed] : {std::tuple{40, 25, 1u}, {40, 25, 2u}, {40, 25, 3u}, {9, 400, 4u}}) {
        Data d = randomRows(N, M, seed);
        const FeatureColumns copied = buildFeatureColumns(d);
        const FeatureColumns taken = takeFeatureColumns(d);
        EXPECT_EQ(taken.start, copied.start);
        const std::int64_t count = copied.start.back();
        EXPECT_TRUE(std::equal(copied.rows.get(), copied.rows.get() + count, taken.rows.get()));
        EXPECT_EQ(std::memcmp(copied.values.get(), taken.values.get(), count * sizeof(float)), 0);
        EXPECT_TRUE(d.rowStart == nullptr && d.cols == nullptr && d.values == nullptr);
        EXPECT_EQ(d.N, N);
        EXPECT_EQ(d.M, M);
        freeData(d);
    }

    Logistic model(dataFile("four.txt"), dataFile("four_labels.txt"), dataFile("deep.tre"), {});
    const std::vector<float> cells = denseRows(model.data);
    model.Train(1.0f);
    EXPECT_EQ(model.data.cols, nullptr);
    std::vector<float> fromColumns(cells.size(), 0.0f);
    for (int j = 0; j < model.nFeatures; j++)
        for (std::int64_t e = model.columns.start[j]; e < model.columns.start[j + 1]; e++)
            fromColumns[static_cast<std::size_t>(model.columns.rows[e]) * model.nFeatures + j] =
                model.columns.values[e];
    EXPECT_EQ(fromColumns, cells);
    EXPECT_EQ(model.data.classes[0], 1);
    model.del();
}

// A fold's model made straight from the rows of all samples holds the
// columns, classes and labels that the fold's own rows give.
TEST(FeatureColumns, SelectedStraightFromAllRowsAsFromTheFoldsRows)
{
    Data all = randomRows(30, 12, 4);
    all.C = 2;
    all.classes = new int[30];
    all.Y = new int[60];
    for (int i = 0; i < 30; i++) {
        all.classes[i] = 1 + i % 2;
        all.Y[2 * i] = i % 2 == 0, all.Y[2 * i + 1] = i % 2 == 1;
    }
    const std::vector<int> lines = {29, 3, 4, 3, 10, 17, 0, 40};
    Data fold = selectRows(all, lines);
    const FeatureColumns expected = buildFeatureColumns(fold);
    Logistic model(Data(), nullptr);
    model.selectFrom(all, lines, nullptr);
    EXPECT_EQ(std::make_tuple(model.nSamples, model.nFeatures, model.nClasses), std::make_tuple(6, 12, 2));
    EXPECT_EQ(model.columns.start, expected.start);
    const std::int64_t count = expected.start.back();
    EXPECT_TRUE(std::equal(expected.rows.get(), expected.rows.get() + count, model.columns.rows.get()));
    EXPECT_EQ(std::memcmp(expected.values.get(), model.columns.values.get(), count * sizeof(float)), 0);
    EXPECT_TRUE(std::equal(fold.classes, fold.classes + 6, model.data.classes));
    EXPECT_TRUE(std::equal(fold.Y, fold.Y + 12, model.data.Y));
    EXPECT_EQ(model.data.rowStart, nullptr);
    model.del();
    freeData(fold);
    freeData(all);
}
