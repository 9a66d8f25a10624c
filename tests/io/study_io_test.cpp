// Tests of the readers of a study's own files: tree, table, metadata, taxonomy.
#include <gtest/gtest.h>

#ifdef ORVANE_HAVE_HDF5
#include <hdf5.h>
#endif

#include "io/metadata.h"
#include "io/study_tree.h"
#include "io/table.h"
#include "io/taxonomy.h"
#include "io/text.h"

#include "../test_support.h"
#include "count_table_support.h"

namespace {

class StudyFiles : public InTempFolder {
protected:
    std::string write(const std::string &name, const std::string &content) const
    {
        writeFile(dir / name, content);
        return (dir / name).string();
    }

    // Reads `newick` and returns the error, or the tree written back with its leaf names.
    std::string roundTrip(const std::string &newick) const
    {
        StudyTree tree;
        const std::string path = write("t.nwk", newick);
        const std::string problem = readStudyTree(path, tree);
        if (!problem.empty())
            return problem.substr(path.size());
        EXPECT_TRUE(tree.tree->assertTree());
        EXPECT_EQ(tree.tree->root->name, tree.tree->nnodes - 1);
        return written(*tree.tree);
    }

    static std::string written(const vessik::Tree &tree)
    {
        std::ostringstream out;
        writeOrvaneTree(out, tree, [](const vessik::Node *leaf) { return leaf->longname; });
        return out.str();
    }
};

TEST_F(StudyFiles, TreeReaderTakesWhatPhylogeneticToolsWrite)
{
    // Quotes (with '' for a quote), e-notation, support values and names kept,
    // comments and line breaks skipped, a length on the root ignored.
    EXPECT_EQ(roundTrip("(('A b':1E-3,'it''s;(x)':2.5e+1)0.97:0.5,\r\n[note] c_d:4)root:0.1;\n"),
              "((A b:0.001,it's;(x):25)0.97:0.5,c_d:4)root;\n");
    EXPECT_EQ(roundTrip("(a,b)"), "(a:0,b:0);\n");
    EXPECT_EQ(roundTrip("((a:1,b:1)my clade:x:1,c:1);"), ":1: unexpected 'c'");
    EXPECT_EQ(roundTrip("(a:1,b:1e999);"), ":1: branch length '1e999' of 'b' is not a finite number");
    EXPECT_EQ(roundTrip("(a:,b);"), ":1: branch length '' of 'a' is not a finite number");
    EXPECT_EQ(roundTrip("((a:1,\nb:-1e-9)x:1,c);"), ":2: branch length '-1e-9' of 'b' is negative");
    EXPECT_EQ(roundTrip("((a,b):-0.5,c);"), ":1: branch length '-0.5' of an unnamed internal node is negative");
    EXPECT_EQ(roundTrip("(a:-0,b:nan);"), ":1: branch length 'nan' of 'b' is not a finite number");
    EXPECT_EQ(roundTrip("(a,\n'b,c);\n"), ":2: a quoted label is not closed");
    EXPECT_EQ(roundTrip("(a,\n(b,c);"), ":2: ';' before every '(' is closed");
    EXPECT_EQ(roundTrip("(a,\n(b,c)\n"), ":2: the tree ends before every '(' is closed");
    EXPECT_EQ(roundTrip("(a,b));"), ":1: unexpected ')'");
    EXPECT_EQ(roundTrip("(a,b);(c,d);"), ":1: text after the tree's final ';'");
    EXPECT_EQ(roundTrip("(a,,b);"), ":1: expected a tip label, found ','");
    EXPECT_EQ(roundTrip(""), ":1: the tree ends where a tip should be");
    EXPECT_EQ(roundTrip(std::string(10001, '(') + "a"),
              ":1: the tree is nested more than 10000 levels deep");
}

TEST_F(StudyFiles, PruningMergesSingleChildNodesIntoTheirChild)
{
    StudyTree tree;
    ASSERT_EQ(readStudyTree(write("t.nwk", "(((a:1,b:2)x:3,c:4)y:5,(d:6,e:7)z:8)r;"), tree), "");
    const auto keeping = [&](const std::string &names) {
        const StudyTree pruned = pruneTree(tree, [&](const vessik::Node *leaf) {
            return names.find(leaf->longname) != std::string::npos;
        });
        if (!pruned.tree)
            return std::string("none");
        EXPECT_TRUE(pruned.tree->assertTree());
        EXPECT_EQ(pruned.tree->root->name, pruned.tree->nnodes - 1);
        EXPECT_EQ(pruned.tree->root->parent, nullptr);
        return written(*pruned.tree);
    };
    EXPECT_EQ(keeping("abcde"), "(((a:1,b:2)x:3,c:4)y:5,(d:6,e:7)z:8)r;\n");
    // b goes: a takes x's length; e goes: d takes z's.
    EXPECT_EQ(keeping("acd"), "((a:4,c:4)y:5,d:14)r;\n");
    // Only x's subtree is left: the chain r-y-x collapses onto x.
    EXPECT_EQ(keeping("ab"), "(a:1,b:2)x;\n");
    EXPECT_EQ(keeping("e"), "e;\n");
    EXPECT_EQ(keeping(""), "none");
    // The source tree is left as it was.
    EXPECT_EQ(written(*tree.tree), "(((a:1,b:2)x:3,c:4)y:5,(d:6,e:7)z:8)r;\n");
    // Merged lengths are added as written, then rounded once: 0.1 + 0.02 in
    // float would give 0.120000005.
    ASSERT_EQ(readStudyTree(write("t.nwk", "((a:0.02,b:1)x:0.1,c:1);"), tree), "");
    EXPECT_EQ(written(*pruneTree(tree, [](const vessik::Node *leaf) {
                          return leaf->longname != "b";
                      }).tree),
              "(a:0.12,c:1);\n");
}

TEST_F(StudyFiles, DeepestTreeReadPrunedAndWrittenOnASmallStack)
{
    // Tips 0 .. 10000, tip i at depth i + 1; every branch 1 long.
    const std::string comb = combNewick(kDeepestNesting, 1);
    const std::string path = write("deep.nwk", comb);
    const auto plain = [](std::string text) {
        for (size_t at = text.find(".000000"); at != std::string::npos; at = text.find(".000000", at))
            text.erase(at, 7);
        return text + "\n";
    };
    const bool ran = runWithStack(kOneMegabyte, [&] {
        StudyTree tree;
        ASSERT_EQ(readStudyTree(path, tree), "");
        EXPECT_EQ(written(*tree.tree), plain(comb));
        // Without the deepest tip its sibling takes its parent's length.
        const std::string last = std::to_string(kDeepestNesting);
        std::string expected = plain(combNewick(kDeepestNesting - 1, 1));
        expected.replace(expected.find("9999:1"), 6, "9999:2");
        EXPECT_EQ(written(*pruneTree(tree, [&](const vessik::Node *leaf) { return leaf->longname != last; }).tree),
                  expected);
        // With the two deepest tips alone, the whole chain above merges into their parent.
        const StudyTree cherry = pruneTree(tree, [](const vessik::Node *leaf) { return std::stoi(leaf->longname) >= 9999; });
        EXPECT_EQ(written(*cherry.tree), "(9999:1,10000:1);\n");
        EXPECT_EQ(cherry.lengths[cherry.tree->root->name], kDeepestNesting - 1.0);
    });
    EXPECT_TRUE(ran);
}

TEST_F(StudyFiles, FloatTextReadsBackExactly)
{
    EXPECT_EQ(floatText(12.0f), "12");
    EXPECT_EQ(floatText(0.0f), "0");
    EXPECT_EQ(floatText(100000.0f), "100000");
    EXPECT_EQ(floatText(0.1f), "0.1");
    EXPECT_EQ(floatText(0.0008f), "0.0008");
    EXPECT_EQ(floatText(1e-7f), "1e-07");
    EXPECT_EQ(floatText(3e20f), "3e+20");
    for (float value : {0.1f, 1.0f / 3.0f, 16777217.0f, 1e-30f, 3.4e38f}) {
        std::istringstream in(floatText(value));
        float back = 0.0f;
        in >> back;
        EXPECT_EQ(back, value) << floatText(value);
    }
}

// Names from a sheet in another encoding must still give well-formed SVG.
TEST_F(StudyFiles, XmlTextEscapesMarkupAndReplacesBytesXmlCannotHold)
{
    EXPECT_EQ(xmlText("a<b & 'c' \"d\">"), "a&lt;b &amp; &apos;c&apos; &quot;d&quot;&gt;");
    EXPECT_EQ(xmlText("caf\xc3\xa9\ttab"), "caf\xc3\xa9\ttab");
    EXPECT_EQ(xmlText("caf\xe9\x01|\xc3"), "caf??|?");
}

TEST_F(StudyFiles, TableOrientationComesFromTheHeaderOrTheIds)
{
    const std::unordered_set<std::string> samples = {"s1", "s2"};
    const std::unordered_set<std::string> features = {"f1", "f2", "f3"};
    OrientationHints hints;
    hints.sampleIds = &samples;
    hints.featureIds = &features;
    CountTable table;
    // BIOM's TSV export with its taxonomy column.
    const std::string biom = write("biom.tsv", "#OTU ID\ts2\ts1\ttaxonomy\nf3\t1.0\t2.0\tk__A\n"
                                               "f1\t0.0\t3.5\tk__B\n");
    ASSERT_EQ(readCountTable(biom, hints, table), "");
    EXPECT_EQ(table.samples, (std::vector<std::string>{"s2", "s1"}));
    EXPECT_EQ(table.features, (std::vector<std::string>{"f3", "f1"}));
    EXPECT_EQ(allCounts(table), (std::vector<float>{1, 0, 2, 3.5f}));
    EXPECT_EQ(table.taxonomy, (std::vector<std::string>{"k__A", "k__B"}));
    // Samples as rows, known by the feature IDs in the header.
    const std::string rows = write("rows.csv", "\n,f2,f1\ns1,1,2\nunknown,3,4e0\n");
    ASSERT_EQ(readCountTable(rows, hints, table), "");
    EXPECT_EQ(table.samples, (std::vector<std::string>{"s1", "unknown"}));
    EXPECT_EQ(table.features, (std::vector<std::string>{"f2", "f1"}));
    EXPECT_EQ(allCounts(table), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_TRUE(table.taxonomy.empty());
    // Features as rows without "#OTU ID", known by the sample IDs in the header.
    ASSERT_EQ(readCountTable(write("cols.tsv", "id\ts1\tx\nf9\t1\t2\n"), hints, table), "");
    EXPECT_EQ(table.features, (std::vector<std::string>{"f9"}));
    // IDs that match either way leave it to the option.
    const std::string both = write("both.tsv", "id\ts1\tf1\nf2\t1\t2\n");
    EXPECT_NE(readCountTable(both, hints, table).find("(IDs match either way); give -orientation"),
              std::string::npos);
    hints.forced = Orientation::SamplesAsRows;
    ASSERT_EQ(readCountTable(both, hints, table), "");
    EXPECT_EQ(table.samples, (std::vector<std::string>{"f2"}));
    // Malformed lines.
    EXPECT_EQ(readCountTable(write("short.tsv", "#OTU ID\ts1\ts2\nf1\t1\n"), hints, table),
              (dir / "short.tsv").string() + ":2: holds 2 fields, the header 3");
    EXPECT_EQ(readCountTable(write("hex.tsv", "#OTU ID\ts1\nf1\t0x10\n"), {}, table),
              (dir / "hex.tsv").string() +
                  ":2: count '0x10' of sample 's1' for feature 'f1' is not a finite number >= 0");
    EXPECT_EQ(readCountTable(write("big.tsv", "#OTU ID\ts1\nf1\t1e39\n"), {}, table),
              (dir / "big.tsv").string() +
                  ":2: count '1e39' of sample 's1' for feature 'f1' is not a finite number >= 0");
    EXPECT_EQ(readCountTable(write("empty.tsv", "#OTU ID\t\nf1\t1\n"), {}, table),
              (dir / "empty.tsv").string() + ":1: empty sample ID");
    EXPECT_EQ(readCountTable(write("head.tsv", "# Constructed from biom file\n"), {}, table),
              (dir / "head.tsv").string() + ": no header line (the file holds no table)");
    // Text in memory reads as the same file does, and is named as given.
    ASSERT_EQ(readCountTableText("\xEF\xBB\xBF#OTU ID\ts1\ts2\r\nf1\t1\t2\r\n", "mine", {}, table), "");
    EXPECT_EQ(allCounts(table), (std::vector<float>{1, 2}));
    EXPECT_EQ(readCountTableText("#OTU ID\ts1\nf1\t0x10\n", "mine", {}, table),
              "mine:2: count '0x10' of sample 's1' for feature 'f1' is not a finite number >= 0");
}

TEST_F(StudyFiles, Hdf5Tables)
{
    CountTable table;
#ifndef ORVANE_HAVE_HDF5
    const std::string path = write("t.biom", std::string("\x89HDF\r\n\x1a\n", 8) + "rest");
    const std::string problem = readCountTable(path, {}, table);
    EXPECT_NE(problem.find("rebuild Orvane with the HDF5 library installed (Debian: libhdf5-dev)"),
              std::string::npos);
    EXPECT_NE(problem.find("--to-tsv"), std::string::npos);
    GTEST_SKIP() << "built without HDF5: only the message is checked";
#else
    // A BIOM 2.1 table of 2 observations and 3 samples, written as the biom package does:
    // observation IDs as variable-length strings, here sample IDs as fixed-length ones.
    const std::string path = (dir / "t.biom").string();
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
    const hid_t varString = H5Tcopy(H5T_C_S1);
    H5Tset_size(varString, H5T_VARIABLE);
    const char *observations[] = {"OTU_1", "OTU 2"};
    dataset("/observation/ids", varString, 2, observations);
    const hid_t fixedString = H5Tcopy(H5T_C_S1);
    H5Tset_size(fixedString, 3);
    dataset("/sample/ids", fixedString, 3, "s1\0s2\0s3");
    const double data[] = {5, 1.5, 2};
    const int indices[] = {0, 2, 1};
    const int indptr[] = {0, 2, 3};
    dataset("/observation/matrix/data", H5T_NATIVE_DOUBLE, 3, data);
    dataset("/observation/matrix/indices", H5T_NATIVE_INT, 3, indices);
    dataset("/observation/matrix/indptr", H5T_NATIVE_INT, 3, indptr);
    H5Tclose(varString);
    H5Tclose(fixedString);
    H5Fclose(file);
    ASSERT_EQ(readCountTable(path, {}, table), "");
    EXPECT_EQ(table.features, (std::vector<std::string>{"OTU_1", "OTU 2"}));
    EXPECT_EQ(table.samples, (std::vector<std::string>{"s1", "s2", "s3"}));
    EXPECT_EQ(allCounts(table), (std::vector<float>{5, 0, 0, 2, 1.5f, 0}));
    // An HDF5 file that is not a BIOM table.
    H5Fclose(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    EXPECT_NE(readCountTable(path, {}, table).find("not a BIOM 2.1 table"), std::string::npos);
#endif
}

TEST_F(StudyFiles, MetadataAndTaxonomySheets)
{
    MetadataColumn column;
    // A spreadsheet's byte order mark and line ends.
    const std::string q1 = write("q1.tsv", "\xEF\xBB\xBF#SampleID\tBody Site\r\nA\t gut \r\nB\t\r\n");
    ASSERT_EQ(readMetadataColumn(q1, "Body Site", column), "");
    EXPECT_EQ(column.samples, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(column.values, (std::vector<std::string>{"gut", ""}));
    EXPECT_EQ(readMetadataColumn(write("m.csv", "sample-id,type\nA,gut\n"), "type", column),
              (dir / "m.csv").string() +
                  ":1: the first column is 'sample-id,type', not sample IDs (sample-id, "
                  "sampleid, id, #SampleID or sample_name; X.SampleID or an empty field as R "
                  "writes them; or a header one field short of the rows, above R's row names); "
                  "the sheet must be tab-separated");
    EXPECT_EQ(column.headerNote, "");
    // Sheets as R's write.table leaves them: each variant reads the same
    // samples and values, with a note on how its header was read.
    const std::string asR = "as R writes a table: ";
    const std::vector<std::pair<std::string, std::string>> fromR = {
        {"X.SampleID\tDiagnosis\nS1\tTumor\nS2\tNormal\n",
         "its first column, headed 'X.SampleID', was taken as the sample IDs"},
        {"\"\"\t\"Diagnosis\"\n\"S1\"\t\"Tumor\"\n\"S2\"\t\"Normal\"\n",
         "its first column, headed '', was taken as the sample IDs"},
        {"X.SampleID\tDiagnosis\n1\tS1\tTumor\n2\tS2\tNormal\n",
         "its header is one field short of the rows, whose first field (R's row names) was "
         "skipped; the sample IDs are in column 'X.SampleID'"},
        {"Diagnosis\tAge\nS1\tTumor\t61\nS2\tNormal\t\n",
         "its header is one field short of the rows, whose first field (R's row names) was "
         "taken as the sample IDs"},
    };
    for (const auto &[text, how] : fromR) {
        const std::string path = write("r.tsv", text);
        ASSERT_EQ(readMetadataColumn(path, "Diagnosis", column), "") << text;
        EXPECT_EQ(column.samples, (std::vector<std::string>{"S1", "S2"})) << text;
        EXPECT_EQ(column.values, (std::vector<std::string>{"Tumor", "Normal"})) << text;
        EXPECT_EQ(column.headerNote, "read " + path + " " + asR + how);
    }
    // Rows that disagree on R's row names, and a usual header over a row with
    // a stray tab at its end, are refused.
    EXPECT_EQ(readMetadataColumn(write("r2.tsv", "Diagnosis\nS1\tTumor\nS2\n"), "Diagnosis", column),
              (dir / "r2.tsv").string() + ":3: holds 1 fields, the header 1 and the first row 2 "
                                          "(read as a header above R's row names)");
    EXPECT_EQ(readMetadataColumn(write("r3.tsv", "#SampleID\tt\nA\tx\t\n"), "t", column),
              (dir / "r3.tsv").string() + ":2: holds 3 fields, the header 2");
    EXPECT_EQ(readMetadataColumn(write("d.tsv", "ID\tt\nA\tx\n#c\nA\ty\n"), "t", column),
              (dir / "d.tsv").string() + ":4: duplicate sample ID 'A'");
    EXPECT_EQ(readMetadataColumn(write("c.tsv", "ID\tt\tu\tt\nA\tx\ty\tz\n"), "t", column),
              (dir / "c.tsv").string() + ":1: two columns are named 't' (columns 2 and 4); rename one");
    EXPECT_EQ(readMetadataColumn(write("n.tsv", "# only\n"), "t", column),
              (dir / "n.tsv").string() + ": no header line");
    EXPECT_EQ(readMetadataColumn(dir.string(), "t", column), dir.string() + ": is a folder, not a file");

    std::unordered_map<std::string, std::string> taxonomy;
    ASSERT_EQ(readTaxonomy(write("t1.tsv", "Feature ID\tTaxon\tConfidence\n#q2:types\t\t\n"
                                           "f1\tk__A; p__B\t0.9\n"),
                           taxonomy),
              "");
    EXPECT_EQ(taxonomy, (std::unordered_map<std::string, std::string>{{"f1", "k__A; p__B"}}));
    ASSERT_EQ(readTaxonomy(write("t2.tsv", "f1\tk__A\nf2\tk__B\n"), taxonomy), "");
    EXPECT_EQ(taxonomy.size(), 2u);
    EXPECT_EQ(readTaxonomy(write("t3.tsv", "f1\tk__A\nf1\tk__B\n"), taxonomy),
              (dir / "t3.tsv").string() + ":2: duplicate feature ID 'f1'");
    EXPECT_EQ(readTaxonomy(write("t4.tsv", "f1 k__A\n"), taxonomy),
              (dir / "t4.tsv").string() + ":1: holds no tab-separated taxon after the feature ID");
}

} // namespace
