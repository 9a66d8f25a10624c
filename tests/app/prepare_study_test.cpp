// Black-box tests of Orvane-prepare on the forms real exports take: BIOM 1.0
// JSON (sparse and dense, one line or pretty-printed, gzipped or plain),
// RFC 4180 quoting, old Mac line ends and files that are no table at all.
// The study is the one of prepare_test.cpp (tests/data/prepare).
#include <gtest/gtest.h>

#include "../test_support.h"

namespace {

const std::string kStudy = "-metadata metadata.tsv -column SampleType -tree tree.nwk ";
const char *const kFolderFiles[] = {"samples.txt", "labels.txt", "tree.tre", "features.tsv",
                                    "samples.tsv", "classes.tsv", "dropped.tsv"};

// table.tsv of tests/data/prepare as BIOM 1.0 JSON: sparse triples or dense rows,
// the taxonomy as a list for t2 and as one string for 'Taxon A'.
std::string biomJson(bool sparse, bool pretty)
{
    const std::string nl = pretty ? "\n  " : "";
    std::string rows = "[" + nl +
                       R"({"id": "t2", "metadata": {"taxonomy": ["k__Bacteria", "p__Firmicutes"]}},)" +
                       nl + R"({"id": "extra", "metadata": null},)" + nl +
                       R"({"id": "Taxon A", "metadata": {"taxonomy": "k__Bacteria; p__Bacteroidetes"}},)" +
                       nl + R"({"id": "tz", "metadata": {}}, {"id": "t 4", "metadata": null}])";
    std::string columns = "[";
    for (int s = 1; s <= 6; s++)
        columns += std::string(s > 1 ? ", " : "") + "{\"id\": \"S" + std::to_string(s) + "\", \"metadata\": null}";
    const char *data =
        sparse ? "[[0,0,1.0],[0,2,2.5],[0,3,3],[0,5,1],[1,0,5],[1,1,5],[1,2,5],[1,3,5],[1,4,5],"
                 "[1,5,5],[2,1,4],[2,2,1],[2,4,2],[3,2,7],[4,0,2],[4,1,10],[4,3,1],[4,4,1]]"
               : "[[1,0,2.5,3,0,1],[5,5,5,5,5,5],[0,4,1,0,2,0],[0,0,7,0,0,0],[2,10,0,1,1,0]]";
    return "{" + nl + "\"id\": null, \"format\": \"Biological Observation Matrix 1.0.0\"," + nl +
           "\"type\": \"OTU table\", \"matrix_type\": \"" + (sparse ? "sparse" : "dense") + "\"," +
           nl + "\"matrix_element_type\": \"float\", \"shape\": [5, 6]," + nl + "\"rows\": " + rows +
           "," + nl + "\"columns\": " + columns + "]," + nl + "\"data\": " + data + "\n}\n";
}

class PrepareFormats : public InTempFolder {
protected:
    void SetUp() override { fs::copy(fs::path(TEST_DATA_DIR) / "prepare", dir, fs::copy_options::recursive); }

    RunResult run(const std::string &args) const { return shell("'" PREPARE_PROGRAM "' " + args); }

    // The folder `name` holds the same files as `reference`, byte for byte
    // (all but dropped.tsv when `dropped` is false).
    void expectSameFolder(const std::string &name, const std::string &reference, bool dropped = true)
    {
        for (const char *file : kFolderFiles)
            if (dropped || std::string(file) != "dropped.tsv")
                EXPECT_EQ(readFile(dir / name / file), readFile(dir / reference / file)) << name << "/" << file;
    }

    void expectError(const std::string &args, const std::string &err)
    {
        const RunResult result = run(args + " -o refused");
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_EQ(result.err, "error: " + err + "\n") << args;
        EXPECT_FALSE(fs::exists(dir / "refused"));
    }
};

TEST_F(PrepareFormats, BiomJsonAndGzipGiveTheFolderOfTheTsvExport)
{
    // The TSV export with the taxonomy sheet is the reference.
    ASSERT_EQ(run("-table table.tsv " + kStudy + "-taxonomy taxonomy.tsv -o ref").status, 0);
    int n = 0;
    for (bool sparse : {true, false})
        for (bool pretty : {false, true}) {
            const std::string name = "t" + std::to_string(n++);
            writeFile(dir / (name + ".json"), biomJson(sparse, pretty));
            ASSERT_EQ(shell("gzip -c " + name + ".json > " + name + ".biom && gzip -c tree.nwk > tree.gz").status, 0);
            const RunResult plain = run("-table " + name + ".json " + kStudy + "-o " + name);
            EXPECT_EQ(plain.status, 0) << plain.err;
            expectSameFolder(name, "ref");
            // Told by their first bytes, whatever their names: a gzipped table and tree.
            const RunResult packed = run("-table " + name + ".biom -metadata metadata.tsv -column "
                                         "SampleType -tree tree.gz -o " + name + "z");
            EXPECT_EQ(packed.err.substr(0, packed.err.find("warning")),
                      plain.err.substr(0, plain.err.find("warning")));
            expectSameFolder(name + "z", "ref");
        }
}

TEST_F(PrepareFormats, CsvQuotingLineEndsAndUnknownFiles)
{
    // A quoted comma stays in its field; lines end in a lone CR.
    writeFile(dir / "q.csv", "sample,t2,\"Taxon A\",\"t 4\",\"x,y\"\rS1,1,0,2,0\rS2,0,4,10,1\r"
                             "S4,3,0,1,1\rS5,0,2,1,1\r");
    const RunResult quoted = run("-table q.csv " + kStudy + "-taxonomy taxonomy.tsv -o q");
    EXPECT_EQ(quoted.status, 0) << quoted.err;
    ASSERT_EQ(run("-table table.tsv " + kStudy + "-taxonomy taxonomy.tsv -o ref").status, 0);
    expectSameFolder("q", "ref", false);
    EXPECT_EQ(readFile(dir / "q" / "dropped.tsv"),
              "feature-id\treason\tcount\ttaxonomy\nx,y\tnot on the tree\t3\t\n");
    const std::string accepted =
        "accepted are BIOM's TSV export, a table with samples as rows (tab- or comma-separated), "
        "BIOM 1.0 (JSON) and BIOM 2.1 (HDF5), each gzipped or plain";
    writeFile(dir / "t.qza", "PK\x03\x04rest");
    expectError("-table t.qza " + kStudy,
                "t.qza: looks like a zip archive (such as a QIIME 2 .qza artifact or an .xlsx "
                "workbook), not a feature table; " + accepted);
    expectError("-table tree.nwk " + kStudy, "tree.nwk: looks like a Newick tree, not a feature table; " + accepted);
    expectError("-table table.tsv -metadata t.qza -column SampleType -tree tree.nwk",
                "t.qza: looks like a zip archive (such as a QIIME 2 .qza artifact or an .xlsx "
                "workbook), not a text file");
    ASSERT_EQ(shell("gzip -c table.tsv | head -c 40 > cut.gz").status, 0);
    expectError("-table cut.gz " + kStudy, "cut.gz: the gzip data is damaged or cut short");
    // JSON that is no BIOM table, and BIOM entries given twice or out of range.
    writeFile(dir / "a.json", "{\"rows\": []}");
    expectError("-table a.json " + kStudy, "a.json: JSON, but not a BIOM 1.0 table (it needs the "
                                          "arrays \"rows\", \"columns\" and \"data\")");
    std::string twice = biomJson(true, false);
    twice.replace(twice.find("[0,2,2.5]"), 9, "[0,0,2.5]");
    writeFile(dir / "twice.json", twice);
    expectError("-table twice.json " + kStudy,
                "twice.json: \"data\" entry 2 gives the count of sample 'S1' for feature 't2' a second time");
    std::string outside = biomJson(true, false);
    outside.replace(outside.find("[0,2,2.5]"), 9, "[0,6,2.5]");
    writeFile(dir / "outside.json", outside);
    expectError("-table outside.json " + kStudy,
                "outside.json: \"data\" entry 2 [0,6,2.5] is not [row, column, value] with a row "
                "from 0 to 4 and a column from 0 to 5");
}

} // namespace
