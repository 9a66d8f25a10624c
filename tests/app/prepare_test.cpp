// Black-box tests: Orvane-prepare run on a small study in a fresh folder.
//
// The study (tests/data/prepare): six samples S1..S6 and five taxa; S3 has no
// class, S6 is not in the metadata; "extra" is not on the tree, "tz" counts
// only in S3; the tree holds t3 and t5, which the table lacks. Pruning merges
// the cherry ('Taxon A':0.125,tz:0.2):0.25 into 'Taxon A':0.375 and
// (t3,'t 4':0.25):0.5 into 't 4':0.75, which expected/tree.tre shows.
#include <gtest/gtest.h>

#include <map>

#include "../test_support.h"

namespace {

const std::string kStudy = "-metadata metadata.tsv -column SampleType -tree tree.nwk ";
// The kept features hold 3 of S1's 8 counts, 14 of S2's 19, 4 of S4's 9 and
// 3 of S5's 8: 24 of 44 in all, a median of (3/8 + 4/9) / 2.
const std::string kNote =
    "note: kept 4 of 6 samples of the table (1 not in the metadata, 1 with no SampleType)"
    " in 3 classes (Gut 1, Soil 2, gut 1), and 3 of 5 features (1 not on the tree, 1 with zero"
    " counts in the kept samples); pruned 3 of 6 tips from the tree\n"
    "note: left out for no SampleType: S3 (values taken as missing: '' 1)\n"
    "note: the kept features hold 54.5% of the kept samples' counts (median sample 41.0%, lowest"
    " 37.5% in sample 'S1')\n";

std::string warning(const std::string &dir)
{
    return "warning: the kept features hold only 54.5% of the kept samples' counts, and sample "
           "'S1' keeps 37.5% of its own; " + dir + "/dropped.tsv lists the features left out "
           "with their counts. To keep more: -graft places features off the tree beside their "
           "relatives by taxonomy, -tree taxonomy builds the tree from the taxonomy, and "
           "-min-count N leaves out samples that keep fewer than N counts\n";
}

// prepare_note.tsv of the study run with -taxonomy taxonomy.tsv, from the
// table `table`: the counts of the note above, 44 and 24 reads, 24 / 44 =
// 0.545455, and the tips of the tree: 6, of which 3 are left.
std::string noteFile(const std::string &table)
{
    return "key\tvalue\ntable\t" + table +
           "\nmetadata\tmetadata.tsv\ncolumn\tSampleType\ntree\ttree.nwk\ntaxonomy\ttaxonomy.tsv\n"
           "tree_source\tgiven\nsamples_in_table\t6\nsamples_kept\t4\nsamples_not_in_metadata\t1\n"
           "samples_without_class\t1\nclasses\t3\nfeatures_in_table\t5\nfeatures_kept\t3\n"
           "features_not_on_the_tree\t1\nfeatures_zero_counts\t1\ntree_tips\t6\ntree_tips_pruned\t3\n"
           "reads\t44\nreads_kept\t24\nreads_kept_share\t0.545455\nmedian_sample_share\t0.409722\n"
           "lowest_sample_share\t0.375\nlowest_sample\tS1\n";
}

using Result = RunResult;

class Prepare : public InTempFolder {
protected:
    void SetUp() override { fs::copy(fs::path(TEST_DATA_DIR) / "prepare", dir, fs::copy_options::recursive); }

    // Runs the program with `args`, after the shell commands `setup` when given.
    Result run(const std::string &args, const std::string &setup = "") const
    {
        return shell(setup + "'" PREPARE_PROGRAM "' " + args);
    }

    // A run that must fail with exactly `err`, leaving every file as it was.
    void expectFailure(const std::string &args, const std::string &err)
    {
        const auto before = snapshot();
        const Result result = run(args);
        EXPECT_EQ(result.status, 1) << args;
        EXPECT_EQ(result.out, "") << args;
        EXPECT_EQ(result.err, "error: " + err + "\n") << args;
        EXPECT_EQ(snapshot(), before) << args;
    }

    // The files of folder `name` equal those of expected/, byte for byte.
    void expectDataFolder(const std::string &name)
    {
        for (const char *file : {"samples.txt", "labels.txt", "tree.tre", "features.tsv",
                                 "samples.tsv", "classes.tsv", "dropped.tsv", "nodes.tsv"})
            EXPECT_EQ(readFile(dir / name / file), readFile(dir / "expected" / file)) << file;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / name), fs::directory_iterator()), 9);
    }
};

TEST_F(Prepare, HelpAndArgumentScan)
{
    // -h and --help alone are checked with every program's; here help ends the scan.
    const Result help = run("-table x.tsv --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage:\n  Orvane-prepare -table TABLE -metadata", 0), 0u);
    EXPECT_EQ(help.err, "");
    expectFailure("", "missing option -table (see Orvane-prepare --help)");
    expectFailure("-table table.tsv -o out", "missing option -metadata (see Orvane-prepare --help)");
    expectFailure("-table table.tsv -x 1", "unknown option '-x' (see Orvane-prepare --help)");
    expectFailure("-table table.tsv -table t.tsv", "option -table given twice");
    expectFailure("-table table.tsv -o", "option -o needs a value");
    expectFailure("-table table.tsv -like expected -tree tree.nwk -o out",
                  "option -tree does not go with -like (new samples take DIR's features and tree)");
    expectFailure("-table table.tsv " + kStudy + "-o out -orientation rows",
                  "-orientation value 'rows' is neither 'features' nor 'samples'");
}

TEST_F(Prepare, BothTableOrientationsGiveTheNamedDataFolder)
{
    // Features as rows (BIOM's TSV export), counts written as 2.0 and 1e1.
    Result result = run("-table table.tsv " + kStudy + "-taxonomy taxonomy.tsv -o out");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kNote + warning("out"));
    expectDataFolder("out");
    EXPECT_EQ(readFile(dir / "out" / "prepare_note.tsv"), noteFile("table.tsv"));
    // Samples as rows, comma-separated, a quoted header field, Windows line ends;
    // an empty existing folder is filled.
    fs::create_directory(dir / "empty");
    result = run("-table table_rows.csv " + kStudy + "-taxonomy taxonomy.tsv -o empty/");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, kNote + warning("empty"));
    expectDataFolder("empty");
    EXPECT_EQ(readFile(dir / "empty" / "prepare_note.tsv"), noteFile("table_rows.csv"));
    // Without a taxonomy the feature names have two columns.
    result = run("-table table.tsv " + kStudy + "-o plain");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(dir / "plain" / "features.tsv"),
              "column\tfeature-id\n0\tTaxon A\n1\tt 4\n2\tt2\n");
}

TEST_F(Prepare, LikeLaysOutNewSamplesInTheFolderColumns)
{
    // Taxa in another order and an unknown one: the same sample table as before.
    Result result = run("-table new.tsv -like expected -o new");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "note: wrote 4 samples in the 3 feature columns of expected (0 not in "
                          "the table, counted 0); ignored 1 of 4 features of the table that "
                          "expected lacks\n");
    EXPECT_EQ(readFile(dir / "new" / "samples.txt"), readFile(dir / "expected" / "samples.txt"));
    EXPECT_EQ(readFile(dir / "new" / "samples.tsv"),
              "line\tsample-id\n1\tS1\n2\tS2\n3\tS4\n4\tS5\n");
    EXPECT_EQ(readFile(dir / "new" / "features.tsv"), readFile(dir / "expected" / "features.tsv"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "new"), fs::directory_iterator()), 3);
    // 'Taxon A' missing from the table counts 0; S7 has counts only in taxa DIR lacks.
    expectFailure("-table new_empty.tsv -like expected -o new2",
                  "new_empty.tsv: sample 'S7' has no counts in the features of expected");
    writeFile(dir / "new_missing.tsv", "id\tunknown\tt 4\tt2\nS1\t9\t2\t1\n");
    result = run("-table new_missing.tsv -like expected -o new3");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(dir / "new3" / "samples.txt"), "1\t0\t2\t1\n");
    EXPECT_EQ(result.err, "note: wrote 1 sample in the 3 feature columns of expected (1 not in "
                          "the table, counted 0); ignored 1 of 3 features of the table that "
                          "expected lacks\n");
}

TEST_F(Prepare, RefusalsNameTheProblemAndWriteNothing)
{
    const std::string out = " -o out";
    expectFailure("-table dup_sample.tsv " + kStudy + out, "dup_sample.tsv:1: duplicate sample ID 'S1'");
    expectFailure("-table dup_feature.tsv " + kStudy + out,
                  "dup_feature.tsv:4: duplicate feature ID 't2'");
    expectFailure("-table table.tsv -metadata metadata.tsv -column SampleType -tree dup_tip.nwk" + out,
                  "dup_tip.nwk:1: duplicate tip label 't2'");
    expectFailure("-table negative.tsv " + kStudy + out,
                  "negative.tsv:3: count '-1.0' of sample 'S2' for feature 'Taxon A' is not a "
                  "finite number >= 0");
    expectFailure("-table nan.tsv " + kStudy + out,
                  "nan.tsv:2: count 'nan' of sample 'S2' for feature 't2' is not a finite number >= 0");
    expectFailure("-table table.tsv -metadata metadata.tsv -column Class -tree tree.nwk" + out,
                  "metadata.tsv: no column 'Class'; the columns are 'Site', 'SampleType'");
    expectFailure("-table table.tsv -metadata one_class.tsv -column SampleType -tree tree.nwk" + out,
                  "the 2 samples of table.tsv with a class in column 'SampleType' of "
                  "one_class.tsv are all in class 'Soil'; Orvane needs at least two classes");
    expectFailure("-table table.tsv -metadata metadata.tsv -column SampleType -tree other_tips.nwk" +
                      out,
                  "no feature ID of table.tsv is a tip of other_tips.nwk");
    expectFailure("-table table.tsv -metadata fields.tsv -column SampleType -tree tree.nwk" + out,
                  "fields.tsv:3: holds 3 fields, the header 2");
    expectFailure("-table unknown_ids.tsv " + kStudy + out,
                  "unknown_ids.tsv: cannot tell whether the table has features or samples as rows "
                  "(no ID matches the other inputs); give -orientation features (one line per "
                  "feature, as BIOM exports) or -orientation samples (one line per sample)");
    expectFailure("-table table.tsv " + kStudy + "-o expected",
                  "expected: the folder exists and is not empty; remove it or name a new one");
    expectFailure("-table missing.tsv " + kStudy + out,
                  "missing.tsv: cannot open the file (No such file or directory)");
    // The option settles what the header cannot: here it makes a, b, c the samples.
    expectFailure("-table unknown_ids.tsv " + kStudy + out + " -orientation features",
                  "no sample of unknown_ids.tsv has a class in column 'SampleType' of "
                  "metadata.tsv (do the sample IDs match?)");
    // Orvane's size limits, with its messages: 46341 samples, each its own class.
    std::string table = "id\tt2\tt3\n", metadata = "id\tSampleType\n";
    for (int i = 0; i < 46341; i++) {
        table += "s" + std::to_string(i) + "\t1\t1\n";
        metadata += "s" + std::to_string(i) + "\tc" + std::to_string(i) + "\n";
    }
    writeFile(dir / "tall.tsv", table);
    writeFile(dir / "each_own.tsv", metadata);
    expectFailure("-table tall.tsv -metadata each_own.tsv -column SampleType -tree tree.nwk -orientation samples" + out,
                  "each_own.tsv: 46341 samples x 46341 classes is more than this program can hold");
    // No temporary folder is left beside the output.
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".out.tmp"), std::string::npos);
}

TEST_F(Prepare, OutputFolderIsSettledBeforeAnyInputIsRead)
{
    // "-o ." in an empty folder fills it; the shell's folder stays the same folder.
    fs::create_directory(dir / "here");
    Result result = run("-table ../table.tsv -metadata ../metadata.tsv -column SampleType "
                        "-tree ../tree.nwk -taxonomy ../taxonomy.tsv -o . && ls -A",
                        "cd here && ");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "classes.tsv\ndropped.tsv\nfeatures.tsv\nlabels.txt\nnodes.tsv\nprepare_note.tsv\n"
                          "samples.tsv\nsamples.txt\ntree.tre\n");
    expectDataFolder("here");
    // Refused before the missing table is looked at.
    fs::create_symlink("nowhere", dir / "dangling");
    expectFailure("-table missing.tsv " + kStudy + "-o dangling",
                  "dangling: is a symbolic link to a folder that does not exist; create that "
                  "folder or name another");
    expectFailure("-table missing.tsv " + kStudy + "-o no/such",
                  "no/such: cannot create the folder (No such file or directory)");
}

} // namespace

TEST_F(Prepare, TreeAsDeepAsTheReadersTakeOnASmallStack)
{
    // Tips 0 .. 10000 down a 10000-level comb, named t00000, t00001, ... so
    // that the canonical order (children by their smallest tip ID) is the
    // comb's own; the table lacks the deepest.
    const auto id = [](int tip) {
        const std::string digits = std::to_string(tip);
        return "t" + std::string(5 - digits.size(), '0') + digits;
    };
    std::string newick = combNewick(kDeepestNesting, 1);
    for (int tip = kDeepestNesting; tip >= 0; tip--) {
        const std::string label = std::to_string(tip) + ":";
        for (const char *before : {"(", ","}) {
            const size_t at = newick.find(before + label);
            if (at != std::string::npos)
                newick.replace(at + 1, label.size() - 1, id(tip));
        }
    }
    writeFile(dir / "deep.nwk", newick);
    std::ofstream table(dir / "deep.tsv");
    table << "#OTU ID\tS1\tS2\tS4\n";
    for (int tip = 0; tip < kDeepestNesting; tip++)
        table << id(tip) << "\t1\t2\t3\n";
    table.close();
    const Result result = run("-table deep.tsv -metadata metadata.tsv -column SampleType -tree deep.nwk -o deep",
                              "ulimit -s 1024 && ");
    EXPECT_EQ(result.status, 0) << result.err;
    // Each tip's column is its number; the deepest tip's sibling takes their
    // parent's branch.
    std::string expected = combNewick(kDeepestNesting - 1, 1) + "\n";
    for (size_t at = expected.find(".000000"); at != std::string::npos; at = expected.find(".000000", at))
        expected.erase(at, 7);
    expected.replace(expected.find("9999:1"), 6, "9999:2");
    EXPECT_TRUE(readFile(dir / "deep" / "tree.tre") == expected);  // too long to print
}
