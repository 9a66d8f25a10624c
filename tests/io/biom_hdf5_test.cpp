// BIOM 2.1 (HDF5) tables from damaged or hostile files: the sparse index is
// checked whole before any count is placed, a row naming a sample twice is
// refused, and the reading runs in a child process whose crash becomes one
// message.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#ifdef ORVANE_HAVE_HDF5
#include <hdf5.h>
#endif

#include "io/contained.h"
#include "io/table.h"

#include "../test_support.h"
#include "count_table_support.h"

namespace {

TEST(Contained, AnAnswerComesBackWholeAndACrashOrACutAnswerBecomesAMessage)
{
    std::string got;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const auto printAndAnswer = [](AnswerWriter &out) {
        std::puts("the child cannot print");
        std::fputs("nor here\n", stderr);
        out.text(std::string(200000, 'x'));
    };
    EXPECT_EQ(runContained(printAndAnswer, [&](AnswerReader &in) { return in.text(got); }), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(got, std::string(200000, 'x'));
    const auto halfAndCrash = [](AnswerWriter &out) {
        out.text("half");
        out.flush();
        raise(SIGSEGV);
    };
    EXPECT_EQ(runContained(halfAndCrash, [&](AnswerReader &in) { return in.text(got) && in.text(got); }),
              "the process reading it crashed (Segmentation fault)");
    // A length claimed but never sent.
    EXPECT_EQ(runContained([](AnswerWriter &out) { out.number(std::uint64_t(1) << 60); },
                           [&](AnswerReader &in) { return in.text(got); }),
              "the process reading it ended without a whole answer");
}

#ifdef ORVANE_HAVE_HDF5

class Hdf5Tables : public InTempFolder {
protected:
    // Writes a BIOM 2.1 file of observations o1, o2 and samples s1, s2, s3
    // with these sparse rows; returns its path.
    std::string write(const std::vector<int> &indptr, const std::vector<int> &indices,
                      const std::vector<double> &data)
    {
        const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const auto dataset = [&](const char *name, hid_t type, hsize_t n, const void *values) {
            const hid_t space = H5Screate_simple(1, &n, nullptr);
            const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
            H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values);
            H5Dclose(set);
            H5Sclose(space);
        };
        for (const char *group : {"/observation", "/observation/matrix", "/sample"})
            H5Gclose(H5Gcreate2(file, group, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        const hid_t text = H5Tcopy(H5T_C_S1);
        H5Tset_size(text, 2);
        dataset("/observation/ids", text, 2, "o1o2");
        dataset("/sample/ids", text, 3, "s1s2s3");
        dataset("/observation/matrix/data", H5T_NATIVE_DOUBLE, data.size(), data.data());
        dataset("/observation/matrix/indices", H5T_NATIVE_INT, indices.size(), indices.data());
        dataset("/observation/matrix/indptr", H5T_NATIVE_INT, indptr.size(), indptr.data());
        H5Tclose(text);
        H5Fclose(file);
        return path;
    }

    // The message of reading a file with these rows, after the path.
    std::string problem(const std::vector<int> &indptr, const std::vector<int> &indices)
    {
        write(indptr, indices, std::vector<double>(indices.size(), 1.0));
        const std::string message = readCountTable(path, {}, table);
        return message.substr(std::min(path.size(), message.size()));
    }

    const std::string path = (dir / "t.biom").string();
    CountTable table;
};

TEST_F(Hdf5Tables, TheWholeIndexIsCheckedBeforeAnyCountIsPlaced)
{
    ASSERT_EQ(readCountTable(write({0, 2, 3}, {2, 0, 1}, {5, 1.5, 2}), {}, table), "");
    EXPECT_EQ(allCounts(table), (std::vector<float>{1.5f, 0, 0, 2, 5, 0}));
    // o1 ending past the last value made the reader read beyond the index.
    EXPECT_EQ(problem({0, 5, 3}, {0, 1, 2}), ": /observation/matrix/indptr decreases at observation 'o2'");
    EXPECT_EQ(problem({0, 2}, {0, 1}), ": /observation/matrix/indptr does not hold 3 offsets from 0 to 2 (the number of values)");
    EXPECT_EQ(problem({0, 1, 3}, {0, 1, -1}), ": /observation/matrix/indices holds sample index -1 outside 0 to 2");
    EXPECT_EQ(problem({0, 1, 3}, {3, 1, 0}), ": /observation/matrix/indices holds sample index 3 outside 0 to 2");
    // A row naming a sample twice: which count is meant cannot be told.
    EXPECT_EQ(problem({0, 1, 4}, {0, 2, 1, 2}), ": observation 'o2' holds two entries for sample 's3' (/observation/matrix/indices)");
    EXPECT_EQ(problem({0, 2, 3}, {1, 0, 0}), "");  // one sample in two rows is fine
}

TEST_F(Hdf5Tables, ADamagedFileGivesOneMessageAndNeverEndsTheReader)
{
    const std::string good = readFile(write({0, 2, 3}, {2, 0, 1}, {5, 1.5, 2}));
    // One byte changed at places of the first 4 KB, where the superblock,
    // the object headers and the index trees lie.
    for (size_t at = 8; at < std::min<size_t>(good.size(), 4096); at += 97) {
        std::string damaged = good;
        damaged[at] = static_cast<char>(~damaged[at]);
        writeFile(path, damaged);
        const std::string message = readCountTable(path, {}, table);
        EXPECT_TRUE(message.empty() || message.rfind(path + ": ", 0) == 0) << at << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << at;
    }
}

#endif

} // namespace
