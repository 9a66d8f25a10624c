// Black-box tests of Orvane-prepare on the forms real exports take: BIOM 1.0
// JSON (sparse and dense, one line or pretty-printed, gzipped or plain),
// RFC 4180 quoting, old Mac line ends and files that are no table at all;
// missing class values, -min-count, -group, grafting, taxonomy trees and the
// canonical order. The study is the one of prepare_test.cpp (tests/data/prepare).
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
        for (const char *file : kFolderFiles) {
            if (dropped || std::string(file) != "dropped.tsv") {
                EXPECT_EQ(readFile(dir / name / file), readFile(dir / reference / file)) << name << "/" << file;
            }
        }
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
    writeFile(dir / "u16.tsv", std::string("\xFF\xFEs\0", 4));
    expectError("-table table.tsv -metadata u16.tsv -column SampleType -tree tree.nwk",
                "u16.tsv: looks like UTF-16 text (as spreadsheets save 'Unicode text'; save it as "
                "UTF-8), not a text file");
    expectError("-table tree.nwk " + kStudy, "tree.nwk: looks like a Newick tree, not a feature table; " + accepted);
    expectError("-table table.tsv -metadata t.qza -column SampleType -tree tree.nwk",
                "t.qza: looks like a zip archive (such as a QIIME 2 .qza artifact or an .xlsx "
                "workbook), not a text file");
    ASSERT_EQ(shell("gzip -c table.tsv | head -c 40 > cut.gz").status, 0);
    expectError("-table cut.gz " + kStudy, "cut.gz: the gzip data is damaged or cut short");
    // The cap on inflated input, lowered to 0.0001 GB (100 kB), which the table with its last
    // line repeated 20000 times passes.
    ASSERT_EQ(shell("(cat table.tsv; echo; yes \"$(tail -n 1 table.tsv)\" | head -n 20000) | gzip -c > big.gz").status, 0);
    expectError("-max-gunzipped 0.0001 -table big.gz " + kStudy,
                "big.gz: inflates to more than 0.0001 GB, the cap on gzipped input "
                "(Orvane-prepare -max-gunzipped GB raises it)");
    expectError("-max-gunzipped 0 -table table.tsv " + kStudy,
                "-max-gunzipped value '0' is not a number of GB above 0 (at most 1e9)");
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

TEST_F(PrepareFormats, ShuffledInputsGiveTheSameFolderAndModel)
{
    // Rows, columns, metadata lines and the tree's children in other orders.
    writeFile(dir / "shuffled.tsv", "#OTU ID\tS6\tS5\tS4\tS3\tS2\tS1\n"
                                    "t 4\t0\t1\t1\t0\t10\t2\ntz\t0\t0\t0\t7\t0\t0\n"
                                    "Taxon A\t0\t2\t0\t1\t4\t0\nextra\t5\t5\t5\t5\t5\t5\n"
                                    "t2\t1\t0\t3\t2.5\t0\t1\n");
    writeFile(dir / "shuffled.nwk", "(t5:0.4,((('t 4':0.25,t3:1.5e-1)0.95:0.5,t2:0.2)inner:3E-1,"
                                    "(tz:0.2,'Taxon A':0.125)0.9:0.25));");
    writeFile(dir / "shuffled_metadata.tsv", "sample-id\tSampleType\nS5\tgut\nS4\tSoil\nS9\tSoil\n"
                                             "S3\t\nS2\tGut\nS1\tSoil\n");
    ASSERT_EQ(run("-table table.tsv " + kStudy + "-o a").status, 0);
    ASSERT_EQ(run("-table shuffled.tsv -metadata shuffled_metadata.tsv -column SampleType "
                  "-tree shuffled.nwk -o b").status, 0);
    expectSameFolder("b", "a");
    for (const char *folder : {"a", "b"})
        ASSERT_EQ(shell(std::string("'" ORVANE_PROGRAM "' -train -d ") + folder + "/samples.txt -l " +
                        folder + "/labels.txt -t " + folder + "/tree.tre -o " + folder + ".model")
                      .status,
                  0);
    EXPECT_EQ(readFile(dir / "b.model"), readFile(dir / "a.model"));
}

TEST_F(PrepareFormats, MissingValuesMinCountGroupsAndTooFewFeatures)
{
    writeFile(dir / "m.tsv", "sample-id\tSampleType\tPatient\nS1\tSoil\tp1\nS2\tGut\tNA\nS3\tNone\tp1\n"
                             "S4\tna\tp3\nS5\tmissing: not collected\tp3\nS6\tGut\t\n");
    RunResult result = run("-table table.tsv -metadata m.tsv -column SampleType -tree tree.nwk -group Patient -o a");
    EXPECT_EQ(result.err.substr(0, result.err.find(", and")),
              "note: kept 3 of 6 samples of the table (0 not in the metadata, 3 with no SampleType) "
              "in 2 classes (Gut 2, Soil 1)");
    EXPECT_NE(result.err.find("\nnote: left out for no SampleType: S3, S4, S5 (values taken as "
                              "missing: 'None' 1, 'missing: not collected' 1, 'na' 1)\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(readFile(dir / "a" / "samples.tsv"), "line\tsample-id\tclass\n1\tS1\tSoil\n2\tS2\tGut\n3\tS6\tGut\n");
    // Missing patients are no group: S2 and S6 stay, each a group of its own.
    EXPECT_EQ(readFile(dir / "a" / "groups.tsv"), "line\tgroup\n1\tp1\n2\t\n3\t\n");
    EXPECT_NE(result.err.find("\nnote: 2 kept samples with no Patient (-group): each is a group of "
                              "its own\nwarning: "),
              std::string::npos)
        << result.err;
    // Past ten samples left out, the rest are counted; 99.98% of the reads
    // kept reads as such, never as 100.0%, and warns of nothing.
    std::string many = "#OTU ID\tA1\tB1", manyMetadata = "sample-id\tSampleType\nA1\tSoil\nB1\tGut\n";
    std::string t2 = "t2\t4999\t4999", taxonA = "Taxon A\t5000\t5000", extra = "extra\t2\t2";
    for (int i = 1; i <= 12; i++) {
        const std::string id = (i < 10 ? "M0" : "M") + std::to_string(i);
        many += "\t" + id;
        manyMetadata += id + "\tNA\n";
        t2 += "\t1", taxonA += "\t1", extra += "\t0";
    }
    writeFile(dir / "many.tsv", many + "\n" + t2 + "\n" + taxonA + "\n" + extra + "\n");
    writeFile(dir / "many_metadata.tsv", manyMetadata);
    result = run("-table many.tsv -metadata many_metadata.tsv -column SampleType -tree tree.nwk -o m");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.substr(result.err.find("\n") + 1),
              "note: left out for no SampleType: M01, M02, M03, M04, M05, M06, M07, M08, M09, M10 "
              "and 2 more (values taken as missing: 'NA' 12)\n"
              "note: the kept features hold 99.98% of the kept samples' counts (median sample "
              "99.98%, lowest 99.98% in sample 'A1')\n");
    // -missing replaces the markers: None and 'missing: ...' become classes.
    result = run("-table table.tsv -metadata m.tsv -column SampleType -tree tree.nwk -missing NA,n/a -o b");
    EXPECT_EQ(readFile(dir / "b" / "classes.tsv"),
              "class\tname\n1\tGut\n2\tNone\n3\tSoil\n4\tmissing: not collected\n");
    // S1 and S5 keep 3 counts each, S2 14 and S4 4: -min-count 4 leaves two out.
    result = run("-table table.tsv " + kStudy + "-min-count 4 -o c");
    EXPECT_EQ(result.err.substr(0, result.err.find(" in 2")),
              "note: kept 2 of 6 samples of the table (1 not in the metadata, 1 with no SampleType, "
              "2 with kept counts below 4)");
    EXPECT_EQ(readFile(dir / "c" / "samples.tsv"), "line\tsample-id\tclass\n1\tS2\tGut\n2\tS4\tSoil\n");
    const std::string note = readFile(dir / "c" / "prepare_note.tsv");
    EXPECT_NE(note.find("\nmin_count\t4\ntree_source\tgiven\nsamples_in_table\t6\nsamples_kept\t2\n"
                        "samples_not_in_metadata\t1\nsamples_without_class\t1\nsamples_below_min_count\t2\n"),
              std::string::npos)
        << note;
    writeFile(dir / "one.tsv", "#OTU ID\tS1\tS2\nt2\t1\t2\nextra\t1\t1\n");
    expectError("-table one.tsv " + kStudy,
                "only one feature of one.tsv ('t2') is on tree.nwk with counts in the kept "
                "samples; Orvane needs at least two");
    expectError("-table table.tsv " + kStudy + "-min-count x", "-min-count value 'x' is not a number >= 0");
    expectError("-table table.tsv -metadata m.tsv -column SampleType -tree taxonomy -graft",
                "option -graft does not go with -tree taxonomy (every feature with a taxonomy is on "
                "that tree)");
    // -like: the table's first column is the folder's first column ('Taxon A').
    writeFile(dir / "like.tsv", "id\tTaxon A\tt 4\tt2\nS1\t5\t2\t1\n");
    ASSERT_EQ(run("-table like.tsv -like a -o new").status, 0);
    EXPECT_EQ(readFile(dir / "new" / "samples.txt"), "1\t5\t2\t1\n");
}

TEST_F(PrepareFormats, GraftingAndTaxonomyTrees)
{
    // e shares a's and b's genus, f only c's and d's phylum, g only d's genus;
    // h has only a kingdom, i no relative on the tree, j no taxonomy.
    writeFile(dir / "g.nwk", "((a:1,b:1):1,(c:1,d:1):1);");
    writeFile(dir / "g_tax.tsv", "a\tk__B; p__F; g__X\nb\tk__B; p__F; g__X\nc\tk__B; p__G; g__Y\n"
                                 "d\tk__B; p__G; g__Z\ne\tk__B; p__F; g__X\nf\tk__B; p__G; g__W\n"
                                 "g\tk__B; p__G; g__Z\nh\tk__B; p__; g__\ni\tk__Q; p__R\n");
    std::string table = "#OTU ID\tS1\tS2\tS4\tS5\n";
    for (const char *id : {"j", "i", "h", "g", "f", "e", "d", "c", "b", "a"})
        table += std::string(id) + "\t1\t1\t1\t1\n";
    writeFile(dir / "g.tsv", table);
    const std::string study = "-table g.tsv -metadata metadata.tsv -column SampleType -taxonomy g_tax.tsv ";
    RunResult result = run(study + "-tree g.nwk -graft -o g");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(dir / "g" / "tree.tre"), "((0:1,1:1,2:0):1,(3:1,(4:0,5:0):1,6:0):1);\n");
    EXPECT_NE(result.err.find("and 7 of 10 features (2 not on the tree without a taxonomy to graft, "
                              "1 not on the tree with no relative on it, 0 with zero counts in the "
                              "kept samples; 3 grafted onto the tree, holding 30.0% of the counts); "
                              "pruned 0 of 4 tips from the tree\n"),
              std::string::npos)
        << result.err;
    // The warning suggests only what is not in use already.
    EXPECT_NE(result.err.find("dropped.tsv lists the features left out with their counts. To keep "
                              "more: -tree taxonomy builds the tree from the taxonomy and -min-count "
                              "N leaves out samples that keep fewer than N counts\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(readFile(dir / "g" / "features.tsv"),
              "column\tfeature-id\ttaxonomy\tgrafted\n0\ta\tk__B; p__F; g__X\tno\n1\tb\tk__B; p__F; g__X\tno\n"
              "2\te\tk__B; p__F; g__X\tyes\n3\tc\tk__B; p__G; g__Y\tno\n4\td\tk__B; p__G; g__Z\tno\n"
              "5\tg\tk__B; p__G; g__Z\tyes\n6\tf\tk__B; p__G; g__W\tyes\n");
    EXPECT_EQ(readFile(dir / "g" / "dropped.tsv"), "feature-id\treason\tcount\ttaxonomy\n"
                                                   "h\tno taxonomy to graft\t4\tk__B; p__; g__\n"
                                                   "i\tno relative on the tree\t4\tk__Q; p__R\n"
                                                   "j\tno taxonomy to graft\t4\t\n");
    // The note file counts the grafted features and their reads: every sample
    // counts 1 of each of the 10 features, of which 7 are kept, 3 of them
    // grafted, on a tree of 4 tips none of which is pruned.
    EXPECT_EQ(readFile(dir / "g" / "prepare_note.tsv"),
              "key\tvalue\ntable\tg.tsv\nmetadata\tmetadata.tsv\ncolumn\tSampleType\ntree\tg.nwk\n"
              "taxonomy\tg_tax.tsv\ntree_source\tgrafted\nsamples_in_table\t4\nsamples_kept\t4\n"
              "samples_not_in_metadata\t0\nsamples_without_class\t0\nclasses\t3\nfeatures_in_table\t10\n"
              "features_kept\t7\nfeatures_no_taxonomy_to_graft\t2\nfeatures_no_relative_on_the_tree\t1\n"
              "features_zero_counts\t0\nfeatures_grafted\t3\ntree_tips\t4\ntree_tips_pruned\t0\nreads\t40\n"
              "reads_kept\t28\nreads_kept_share\t0.7\nmedian_sample_share\t0.7\nlowest_sample_share\t0.7\n"
              "lowest_sample\tS1\nreads_grafted_share\t0.3\n");
    // A tree from the lineages: unnamed levels skipped, '|' separated levels
    // read, single-child chains merged into their child.
    writeFile(dir / "t_tax.tsv", "a\tk__B; p__F; c__; g__X\nb\tk__B; p__F; g__X\nc\tk__B|p__G|g__Y\n"
                                 "d\tk__B; p__G; g__Z\n");
    result = run("-table g.tsv -metadata metadata.tsv -column SampleType -taxonomy t_tax.tsv -tree taxonomy -o t");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(dir / "t" / "tree.tre"), "((0:1,1:1)g__X:2,(2:2,3:2)p__G:1)k__B;\n");
    EXPECT_NE(result.err.find("(6 without a taxonomy, 0 with zero counts in the kept samples); "
                              "built the tree from their taxonomy\n"),
              std::string::npos)
        << result.err;
    EXPECT_NE(readFile(dir / "t" / "prepare_note.tsv")
                  .find("\ntree\ttaxonomy\ntaxonomy\tt_tax.tsv\ntree_source\ttaxonomy\n"),
              std::string::npos);
}

} // namespace
