// Inputs read as streams: gzip inflated as it is read and capped, a UTF-8
// byte order mark skipped before any input, and a sparse table read within
// memory that follows its entries rather than its samples x features.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <unordered_map>

#ifdef ORVANE_HAVE_ZLIB
#include <zlib.h>
#endif

#include "io/metadata.h"
#include "io/study_tree.h"
#include "io/table.h"
#include "io/taxonomy.h"
#include "io/text.h"

#include "../test_support.h"

namespace {

class Streams : public InTempFolder {
protected:
    std::string write(const std::string &name, const std::string &content) const
    {
        writeFile(dir / name, content);
        return (dir / name).string();
    }
};

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

#ifdef ORVANE_HAVE_ZLIB
// A gzip member holding `text`, then `zeroMegabytes` MB of zero bytes made
// cheaply: one flushed deflate block of 1 MB of zeros refers only to the
// zeros before it, so copies of it inflate to more zeros. The trailer is left
// out: the reader must stop long before it.
std::string gzipped(const std::string &text, size_t zeroMegabytes = 0)
{
    z_stream zip{};
    deflateInit2(&zip, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string packed;
    const auto deflateSome = [&](const std::string &in, int flush) {
        zip.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
        zip.avail_in = static_cast<uInt>(in.size());
        std::string out(in.size() + 1024, '\0');
        zip.next_out = reinterpret_cast<Bytef *>(&out[0]);
        zip.avail_out = static_cast<uInt>(out.size());
        deflate(&zip, flush);
        out.resize(out.size() - zip.avail_out);
        return out;
    };
    const std::string megabyte(1 << 20, '\0');
    if (zeroMegabytes == 0) {
        packed = deflateSome(text, Z_FINISH);
    } else {
        packed = deflateSome(text + megabyte, Z_SYNC_FLUSH);
        const std::string block = deflateSome(megabyte, Z_SYNC_FLUSH);
        for (size_t i = 1; i < zeroMegabytes; i++)
            packed += block;
    }
    deflateEnd(&zip);
    return packed;
}

TEST_F(Streams, GzipIsInflatedAsReadCappedAndReadMemberAfterMember)
{
    CountTable table;
    // 1 GB of zeros in a 1 MB file: binary data, known from its first bytes.
    const std::string bomb = write("bomb.tsv.gz", gzipped("", 1024));
    const long before = peakKilobytes();
    EXPECT_EQ(readCountTable(bomb, {}, table),
              bomb + ": looks like binary data, not a feature table; accepted are BIOM's TSV "
                     "export, a table with samples as rows (tab- or comma-separated), BIOM 1.0 "
                     "(JSON) and BIOM 2.1 (HDF5), each gzipped or plain");
    std::unordered_map<std::string, std::string> taxonomy;
    EXPECT_NE(readTaxonomy(bomb, taxonomy).find("looks like binary data"), std::string::npos);
    EXPECT_LT(peakKilobytes() - before, 100 * 1024);

    // Text past the cap ends in one message naming the file and the cap.
    std::string lines = "#OTU ID\ts1\n";
    for (int i = 0; lines.size() < 3000000; i++)
        lines += "f" + std::to_string(i) + "\t1\n";
    const std::string big = write("big.tsv.gz", gzipped(lines));
    setGunzipCap(2000000);
    const std::string capped = readCountTable(big, {}, table);
    MetadataColumn metadata;
    const std::string cappedSheet = readMetadataColumn(big, "s1", metadata);
    setGunzipCap(64000000000ULL);
    EXPECT_EQ(capped, big + ": inflates to more than 0.002 GB, the cap on gzipped input "
                            "(Orvane-prepare -max-gunzipped GB raises it)");
    EXPECT_EQ(cappedSheet, capped);
    ASSERT_EQ(readCountTable(big, {}, table), "");
    EXPECT_EQ(table.features.size(), std::count(lines.begin(), lines.end(), '\n') - 1);

    // Members one after another (cat a.gz b.gz) read as their texts joined,
    // whatever the line ends at the join; a cut member is damaged data.
    const std::string joined =
        write("joined.gz", gzipped("#OTU ID\ts1\ts2\r") + gzipped("\nf1\t1\t2\nf2\t0\t3"));
    ASSERT_EQ(readCountTable(joined, {}, table), "");
    EXPECT_EQ(table.features, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(table.rows[1], (std::vector<std::pair<int, float>>{{0, 2.0f}, {1, 3.0f}}));
    const std::string whole = gzipped("#OTU ID\ts1\nf1\t1\n");
    const std::string cut = write("cut.gz", whole + whole.substr(0, whole.size() - 5));
    EXPECT_EQ(readCountTable(cut, {}, table), cut + ": the gzip data is damaged or cut short");
}
#endif

TEST_F(Streams, ByteOrderMarkIsSkippedBeforeEveryInput)
{
    const std::string mark = "\xEF\xBB\xBF";
    CountTable table;
    const std::string json = R"({"rows": [{"id": "f1"}, {"id": "f2"}], "columns": [{"id": "s1"}],
        "matrix_type": "sparse", "shape": [2, 1], "data": [[1, 0, 4]]})";
#ifdef ORVANE_HAVE_JSON
    ASSERT_EQ(readCountTable(write("t.json", mark + json), {}, table), "");
    EXPECT_EQ(table.rows[0], (std::vector<std::pair<int, float>>{{1, 4.0f}}));
#endif
    for (const char *text : {"#OTU ID\ts1\nf1\t2\n", "#OTU ID,s1\r\nf1,2\r\n"}) {
        ASSERT_EQ(readCountTable(write("t.txt", mark + text), {}, table), "");
        EXPECT_EQ(table.samples, (std::vector<std::string>{"s1"}));
        EXPECT_EQ(table.features, (std::vector<std::string>{"f1"}));
    }
    MetadataColumn metadata;
    ASSERT_EQ(readMetadataColumn(write("m.tsv", mark + "sample-id\tsite\ns1\tgut\n"), "site", metadata), "");
    EXPECT_EQ(metadata.samples, (std::vector<std::string>{"s1"}));
    std::unordered_map<std::string, std::string> taxonomy;
    ASSERT_EQ(readTaxonomy(write("x.tsv", mark + "Feature ID\tTaxon\nf1\tk__A\n"), taxonomy), "");
    EXPECT_EQ(taxonomy.at("f1"), "k__A");
    StudyTree tree;
    ASSERT_EQ(readStudyTree(write("t.nwk", mark + "(f1:1,f2:1);\n"), tree), "");
    EXPECT_EQ(tree.tree->nnodes, 3);
}

// A sparse table declaring 10,000 samples x 100,000 features (4 GB as a
// dense array of floats) with a few entries reads within memory that
// follows its names and entries.
TEST_F(Streams, SparseJsonOfAHugeShapeReadsInLittleMemory)
{
#ifdef ORVANE_HAVE_JSON
    std::string json = "{\"id\": null, \"format\": \"Biological Observation Matrix 1.0.0\", \"rows\": [";
    for (int f = 0; f < 100000; f++)
        json += std::string(f > 0 ? "," : "") + "{\"id\": \"f" + std::to_string(f) + "\", \"metadata\": null}";
    json += "], \"columns\": [";
    for (int s = 0; s < 10000; s++)
        json += std::string(s > 0 ? "," : "") + "{\"id\": \"s" + std::to_string(s) + "\"}";
    json += "], \"matrix_type\": \"sparse\", \"shape\": [100000, 10000], \"data\": [";
    for (int k = 0; k < 1000; k++)
        json += std::string(k > 0 ? "," : "") + "[" + std::to_string(k * 97) + ", " +
                std::to_string(k * 7 % 10000) + ", " + std::to_string(k + 1) + "]";
    json += "]}";
    const std::string path = write("huge.json", json);
    json.clear();
    json.shrink_to_fit();
    const long before = peakKilobytes();
    CountTable table;
    ASSERT_EQ(readCountTable(path, {}, table), "");
    EXPECT_LT(peakKilobytes() - before, 200 * 1024);
    EXPECT_EQ(table.samples.size(), 10000u);
    EXPECT_EQ(table.features.size(), 100000u);
    EXPECT_EQ(table.count(7, 97), 2.0f);
    EXPECT_EQ(table.count(7, 96), 0.0f);
    // A cell given twice is named at the entry that gives it again.
    writeFile(path, R"({"rows": [{"id": "f1"}, {"id": "f2"}], "columns": [{"id": "s1"}, {"id": "s2"}],
        "matrix_type": "sparse", "data": [[1, 0, 4], [0, 1, 1], [0, 1, 2], [1, 0, 5]]})");
    EXPECT_EQ(readCountTable(path, {}, table),
              path + ": \"data\" entry 3 gives the count of sample 's2' for feature 'f1' a second time");
    // Keys in an unusual order: the entries wait in the document.
    writeFile(path, R"({"data": [[0, 1, 3]], "rows": [{"id": "f1"}], "columns": [{"id": "s1"}, {"id": "s2"}]})");
    ASSERT_EQ(readCountTable(path, {}, table), "");
    EXPECT_TRUE(table.rows[0].empty());
    EXPECT_EQ(table.count(1, 0), 3.0f);
#endif
}

} // namespace
