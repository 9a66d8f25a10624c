// Black-box tests of Orvane-report: outputs byte for byte on a small data
// folder, agreement with Orvane -test, and every refusal.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <utility>

#include "../test_support.h"

namespace {

using Result = RunResult;

// Runs in a fresh copy of tests/data/report.
class Report : public InTempFolder {
protected:
    void SetUp() override { fs::copy(REPORT_DATA_DIR, dir, fs::copy_options::recursive); }

    Result run(const std::string &program, const std::string &args) const
    {
        return shell("'" + program + "' " + args);
    }
    Result report(const std::string &args) const { return run(REPORT_PROGRAM, args); }
};

// The class names of predictions.tsv, one per line, as Orvane -test numbers them.
std::string predictedNumbers(const std::string &predictions)
{
    const std::vector<std::string> classes = {"gut", "skin", "soil"};
    std::istringstream lines(predictions);
    std::string line;
    std::string numbers;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, name;
        fields >> id >> name;
        double sum = 0, p = 0;
        while (fields >> p)
            sum += p;
        EXPECT_NEAR(sum, 1.0, 1e-8) << line;
        for (std::size_t k = 0; k < classes.size(); k++)
            if (classes[k] == name)
                numbers += std::to_string(k + 1) + "\n";
    }
    return numbers;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
        fields.push_back(field);
    return fields;
}

// A note of Orvane-prepare for tests/data/report/dir: 6 samples, 4 features.
const std::string kNote = "key\tvalue\ntable\tt.tsv\nmetadata\tm.tsv\ncolumn\tSite\ntree\tt.nwk\n"
                          "tree_source\tgiven\nsamples_in_table\t7\nsamples_kept\t6\nfeatures_in_table\t5\n"
                          "features_kept\t4\nreads\t100\nreads_kept\t90\nreads_kept_share\t0.9\n"
                          "median_sample_share\t0.9\nlowest_sample_share\t0.8\nlowest_sample\tS1\n";

std::string threeDigits(const std::string &number)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", std::stod(number));
    return text;
}

// The methods paragraph between "<p id=\"methods-text\">" and "</p>".
std::string methodsOf(const std::string &page)
{
    const std::string start = "<p id=\"methods-text\">";
    const auto from = page.find(start) + start.size();
    return page.substr(from, page.find("</p>", from) - from);
}

// The (w, lambda) of the min rule's row of a cv_summary.tsv.
std::pair<std::string, std::string> minPoint(const std::string &summary)
{
    for (const std::string &line : splitLines(summary)) {
        const std::vector<std::string> fields = splitTabs(line);
        if (fields.size() > 4 && (fields[4] == "min" || fields[4] == "min,1se"))
            return {fields[0], fields[1]};
    }
    return {};
}

// The mean and standard error of a cv_nested.tsv, as the page writes them.
std::pair<std::string, std::string> nestedError(const std::string &nested)
{
    std::string mean, stdError;
    for (const std::string &line : splitLines(nested)) {
        const std::vector<std::string> fields = splitTabs(line);
        if (fields[0] == "mean")
            mean = threeDigits(fields.back());
        if (fields[0] == "std_error")
            stdError = threeDigits(fields.back());
    }
    return {mean, stdError};
}

} // namespace

TEST_F(Report, HelpEndsTheScan)
{
    // -h and --help alone are checked with every program's.
    const Result result = report("-data dir -h");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("Usage: Orvane-report -data DIR -c MODEL -o OUTDIR [-samples NEWDIR] [-cv CVDIR [-choice RULE]]\n", 0), 0u);
    EXPECT_EQ(result.err, "");
}

TEST_F(Report, TrainedModelOutputsByteForByte)
{
    // The fixture's model is what Orvane -train fits on the folder.
    ASSERT_EQ(run(ORVANE_PROGRAM, "-train -d dir/samples.txt -l dir/labels.txt -t dir/tree.tre -w 0.5 -lambda 0.1 "
                                  "-o trained.txt")
                  .status,
              0);
    EXPECT_EQ(readFile(dir / "trained.txt"), readFile(dir / "model.txt"));

    // cv/ holds a summary and a curve, no confusion matrix: the page shows what there is.
    const Result result = report("-data dir -c model.txt -o out -cv cv");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out + result.err, "");
    for (const char *name : {"predictions.tsv", "taxa.tsv", "clades.tsv", "tree.svg", "report.html"})
        EXPECT_EQ(readFile(dir / "out" / name), readFile(dir / "expected" / name)) << name;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 5);

    ASSERT_EQ(run(ORVANE_PROGRAM, "-test -d dir/samples.txt -c model.txt -o classes.txt").status, 0);
    EXPECT_EQ(predictedNumbers(readFile(dir / "out/predictions.tsv")), readFile(dir / "classes.txt"));
}

TEST_F(Report, HandModelOnNewSamples)
{
    // Classes gut (1, 0, 0, 0), skin (0, -2, 2, 0), soil (0, 0, 2, 0) over
    // otuA..otuD. New samples N1..N4 have relative abundances (1, 0, 0, 0),
    // (0.5, 0.5, 0, 0), (0, 0, 1, 0), (0, 0, 0, 1): scores (1, 0, 0),
    // (0.5, -1, 0), (0, 2, 2) where skin and soil tie and skin wins, and
    // (0, 0, 0) where gut wins. hand_predictions.tsv holds exp(s_k) / sum exp(s_c).
    const Result result = report("-data dir -c hand_model.txt -o out -samples new/");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(dir / "out/predictions.tsv"), readFile(dir / "hand_predictions.tsv"));
    ASSERT_EQ(run(ORVANE_PROGRAM, "-test -d new/samples.txt -c hand_model.txt -o classes.txt").status, 0);
    EXPECT_EQ(readFile(dir / "classes.txt"), "1\n1\n2\n1\n");
    EXPECT_EQ(predictedNumbers(readFile(dir / "out/predictions.tsv")), "1\n1\n2\n1\n");

    // Equal magnitudes keep the column order: otuB before otuC.
    EXPECT_EQ(readFile(dir / "out/taxa.tsv"),
              "class\tfeature-id\ttaxonomy\tcoefficient\n"
              "gut\totuA\tk__Bacteria; p__Firmicutes; c__Bacilli\t1\n"
              "skin\totuB\tk__Bacteria; p__Firmicutes; c__Clostridia\t-2\n"
              "skin\totuC\tk__Bacteria; p__Bacteroidetes; c__Bacteroidia\t2\n"
              "soil\totuC\tk__Bacteria; p__Bacteroidetes; c__Bacteroidia\t2\n");
    // Tree ((otuA, otuB)Firmicutes, (otuC, otuD)): node1 the root, node2
    // Firmicutes, node3 the other pair; otuD's lineage ends at p__Bacteroidetes.
    // The labels are nodes.tsv's, as the study's tree wrote them: tree.tre
    // holds only a plain form.
    EXPECT_EQ(readFile(dir / "out/clades.tsv"),
              "class\tnode\tlabel\tparent\tleaves\tnonzero\tnorm\ttaxonomy\n"
              "gut\tnode1\t\t-\t4\t1\t1\tk__Bacteria\n"
              "gut\tnode2\t0.998:p__Firmicutes; c__Bacilli\tnode1\t2\t1\t1\tk__Bacteria; p__Firmicutes\n"
              "skin\tnode1\t\t-\t4\t2\t2.82843\tk__Bacteria\n"
              "skin\tnode2\t0.998:p__Firmicutes; c__Bacilli\tnode1\t2\t1\t2\tk__Bacteria; p__Firmicutes\n"
              "skin\tnode3\t0.87\tnode1\t2\t1\t2\tk__Bacteria; p__Bacteroidetes\n"
              "soil\tnode1\t\t-\t4\t1\t2\tk__Bacteria\n"
              "soil\tnode3\t0.87\tnode1\t2\t1\t2\tk__Bacteria; p__Bacteroidetes\n");
}

TEST_F(Report, RefusalsWriteNothing)
{
    struct Case {
        std::function<void(const fs::path &)> prepare;  // edits a copy of the data folder, "bad"
        std::string args;
        std::string err;
    };
    const auto none = [](const fs::path &) {};
    const Case cases[] = {
        {none, "", "missing option -data (data folder)"},
        {none, "-data dir -c model.txt", "missing option -o (output folder)"},
        {none, "-data dir -c model.txt -o out -x 1", "unknown option '-x' (see Orvane-report --help)"},
        {none, "-data dir -data dir -c model.txt -o out", "option -data given twice"},
        {none, "-data dir -c model.txt -o", "option -o needs a value"},
        {none, "-data nowhere -c model.txt -o out", "nowhere/features.tsv: cannot open the file"},
        {[](const fs::path &bad) { fs::remove(bad / "classes.tsv"); }, "-data bad -c model.txt -o out",
         "bad/classes.tsv: cannot open the file"},
        {[](const fs::path &bad) { writeFile(bad / "features.tsv", "column\tfeature-id\n0\ta\n1\tb\n2\tc\n"); },
         "-data bad -c model.txt -o out", "bad/features.tsv: names 3 features, bad/samples.txt holds 4"},
        {[](const fs::path &bad) { writeFile(bad / "samples.tsv", "line\tsample-id\tclass\n1\tS1\tgut\n"); },
         "-data bad -c model.txt -o out", "bad/samples.tsv: names 1 samples, bad/samples.txt holds 6"},
        {[](const fs::path &bad) {
             writeFile(bad / "samples.tsv", "line\tsample-id\tclass\n1\tS1\tgut\n2\tS2\tsky\n3\tS3\tskin\n"
                                            "4\tS4\tskin\n5\tS5\tsoil\n6\tS6\tsoil\n");
         },
         "-data bad -c model.txt -o out", "bad/samples.tsv:3: class 'sky' is not in bad/classes.tsv"},
        {[](const fs::path &bad) { writeFile(bad / "tree.tre", "((0,1),(2,7));"); }, "-data bad -c model.txt -o out",
         "bad/tree.tre: leaf '7' does not name a feature column from 0 to 3"},
        {[](const fs::path &bad) { writeFile(bad / "m.txt", "3 5\n1 0 0 0 0 \n0 1 0 0 0 \n0 0 1 0 0 \n"); },
         "-data dir -c bad/m.txt -o out", "bad/m.txt: the model has 5 features, the sample table 4"},
        {[](const fs::path &bad) { writeFile(bad / "m.txt", "2 4\n1 0 0 0 \n0 1 0 0 \n"); },
         "-data dir -c bad/m.txt -o out", "bad/m.txt: the model has 2 classes, dir/classes.tsv names 3"},
        {[](const fs::path &bad) { writeFile(bad / "samples.txt", "1 1 2 3 4 5\n"); },
         "-data dir -c model.txt -o out -samples bad",
         "bad/samples.txt: holds 5 features, dir/samples.txt holds 4 (make new samples with Orvane-prepare -like DIR)"},
        {[](const fs::path &bad) {
             writeFile(bad / "features.tsv", "column\tfeature-id\n0\totuB\n1\totuA\n2\totuC\n3\totuD\n");
         },
         "-data dir -c model.txt -o out -samples bad",
         "bad/features.tsv: column 0 is feature 'otuB', dir/features.tsv has 'otuA' (make new samples with "
         "Orvane-prepare -like DIR)"},
        {[](const fs::path &bad) { fs::remove(bad / "features.tsv"); }, "-data dir -c model.txt -o out -samples bad",
         "bad/features.tsv: cannot open the file (make new samples with Orvane-prepare -like DIR)"},
        {[](const fs::path &bad) { writeFile(bad / "nodes.tsv", "node\tlabel\n1\t\n2\tx\n"); },
         "-data bad -c model.txt -o out", "bad/nodes.tsv: labels 2 nodes, bad/tree.tre has 3 internal nodes"},
        {[](const fs::path &bad) { writeFile(bad / "prepare_note.tsv", "key\tvalue\ntable\tt.tsv\n"); },
         "-data bad -c model.txt -o out", "bad/prepare_note.tsv: lacks the key metadata"},
        {[](const fs::path &bad) { writeFile(bad / "prepare_note.tsv", kNote + "reads\t9\n"); },
         "-data bad -c model.txt -o out", "bad/prepare_note.tsv:17: key 'reads' given twice"},
        {[](const fs::path &bad) { writeFile(bad / "prepare_note.tsv", "key\tvalue\ntable\n"); },
         "-data bad -c model.txt -o out", "bad/prepare_note.tsv:2: not a key<TAB>value line"},
        {[](const fs::path &bad) {
             writeFile(bad / "prepare_note.tsv", std::regex_replace(kNote, std::regex("given"), "drawn"));
         },
         "-data bad -c model.txt -o out",
         "bad/prepare_note.tsv:6: tree_source is 'drawn', not given, grafted or taxonomy"},
        {[](const fs::path &bad) {
             writeFile(bad / "prepare_note.tsv", std::regex_replace(kNote, std::regex("kept\t4\n"), "kept\t4.5\n"));
         },
         "-data bad -c model.txt -o out", "bad/prepare_note.tsv:10: features_kept is '4.5', not a whole number"},
        {[](const fs::path &bad) {
             writeFile(bad / "prepare_note.tsv", std::regex_replace(kNote, std::regex("kept\t6\n"), "kept\t5\n"));
         },
         "-data bad -c model.txt -o out",
         "bad/prepare_note.tsv: tells of 5 samples and 4 features, the folder holds 6 and 4 (the note of another "
         "folder)"},
        {[](const fs::path &) {}, "-data dir -c model.txt -o model.txt", "model.txt: exists and is not a folder"},
        {none, "-data dir -c model.txt -o out -cv dir",
         "dir: holds none of cv_summary.tsv, cv_nested.tsv, cv_curve.svg, cv_confusion.svg (give the folder "
         "Orvane-cv -p wrote to)"},
        {none, "-data dir -c model.txt -o out -cv cv -choice max", "-choice takes min or 1se, not \"max\""},
        {none, "-data dir -c model.txt -o out -choice 1se",
         "-choice needs -cv (the cross-validation that made the choice)"},
        {[](const fs::path &bad) { writeFile(bad / "cv_curve.svg", "<svg><SCRIPT>alert(1)</SCRIPT></svg>"); },
         "-data dir -c model.txt -o out -cv bad", "bad/cv_curve.svg: not a drawing Orvane-cv writes"},
        {[](const fs::path &bad) { writeFile(bad / "cv_curve.svg", "<svg><script>alert(1)</script></svg>"); },
         "-data dir -c model.txt -o out -cv bad", "bad/cv_curve.svg: not a drawing Orvane-cv writes"},
    };
    for (const Case &c : cases) {
        fs::copy(dir / "dir", dir / "bad");
        c.prepare(dir / "bad");
        const auto before = snapshot();
        const Result result = report(c.args);
        EXPECT_EQ(result.status, 1) << c.args;
        EXPECT_EQ(result.out, "") << c.args;
        EXPECT_EQ(result.err, "error: " + c.err + "\n") << c.args;
        EXPECT_EQ(snapshot(), before) << c.args;
        fs::remove_all(dir / "bad");
    }
}

TEST_F(Report, ExistingFolderChangesOnlyOnSuccess)
{
    fs::create_directory(dir / "out");
    writeFile(dir / "out/predictions.tsv", "old\n");
    writeFile(dir / "out/notes.txt", "mine\n");
    writeFile(dir / "empty.txt", "");
    const auto before = snapshot();
    EXPECT_EQ(report("-data dir -c empty.txt -o out").status, 1);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(readFile(dir / "out/predictions.tsv"), "old\n");

    // A folder in the place of one of the files: refused before any file is replaced.
    fs::create_directories(dir / "out/tree.svg/inside");
    const auto withFolder = snapshot();
    const Result refused = report("-data dir -c model.txt -o out");
    EXPECT_EQ(refused.err, "error: out/tree.svg: exists and is not a file\n");
    EXPECT_EQ(snapshot(), withFolder);
    fs::remove_all(dir / "out/tree.svg");

    ASSERT_EQ(report("-data dir -c model.txt -o out/").status, 0);
    EXPECT_EQ(readFile(dir / "out/predictions.tsv"), readFile(dir / "expected/predictions.tsv"));
    EXPECT_EQ(readFile(dir / "out/notes.txt"), "mine\n");
    // Nothing is left beside the folder: only the four other reports were added.
    EXPECT_EQ(snapshot().size(), before.size() + 4);
}

TEST_F(Report, SignalsLeaveTheFolderWholeOrAbsent)
{
    // SIGTERM at times from before the start to after the end: OUTDIR is
    // either absent or complete, and no temporary folder is left.
    for (int delay = 0; delay < 40; delay += 2) {
        const std::string out = "out" + std::to_string(delay);
        shell("'" + std::string(REPORT_PROGRAM) + "' -data dir -c model.txt -o " + out + " & pid=$!; sleep 0.00" +
              std::to_string(delay / 10) + std::to_string(delay % 10) + "; kill -TERM $pid; wait $pid");
        if (fs::exists(dir / out)) {
            EXPECT_EQ(readFile(dir / out / "tree.svg"), readFile(dir / "expected/tree.svg")) << out;
        }
    }
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".partial-"), std::string::npos) << entry.path();
}

// Every name that enters the page, from the data folder, the cross-validation
// folder or the command line, is text, never markup: a class named
// <script>...</script> shows as such in the prediction and taxa tables and runs
// nowhere. The page's one script is its own.
TEST_F(Report, EveryNameEntersThePageAsText)
{
    const fs::path data = dir / "<i>d&";
    fs::copy(dir / "dir", data);
    fs::copy(dir / "cv", dir / "<s>cv");
    fs::copy_file(dir / "model.txt", dir / "<b>m.txt");
    const std::string klass = "<script>alert(1)</script>";
    writeFile(data / "classes.tsv", "class\tname\n1\t" + klass + "\n2\tskin\n3\tsoil\n");
    writeFile(data / "samples.tsv", "line\tsample-id\tclass\n1\t<u>S1\t" + klass + "\n2\tS2\t" + klass +
                                        "\n3\tS3\tskin\n4\tS4\tskin\n5\tS5\tsoil\n6\tS6\tsoil\n");
    writeFile(data / "features.tsv", "column\tfeature-id\ttaxonomy\n0\t<em>otuA\tk__Bacteria; p__<img src=x>\n"
                                     "1\totuB\tk__Bacteria\n2\totuC\tk__Bacteria\n3\totuD\tk__Bacteria\n");
    writeFile(data / "nodes.tsv", "node\tlabel\n1\t\n2\t<svg onload=alert(2)>\n3\t0.87\n");
    writeFile(dir / "<s>cv" / "cv_selection.tsv", "feature\tclass\tshare\tmean_coefficient\n<em>otuA\t" + klass +
                                                     "\t<q>1\t2\n");
    const Result result = report("-data '<i>d&' -c '<b>m.txt' -o out -cv '<s>cv'");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string page = readFile(dir / "out/report.html");
    for (const char *markup : {"<u>", "<em>", "<img", "<svg onload", "<i>d", "<b>m", "<s>cv", "<q>1", "alert(1)</script>"})
        EXPECT_EQ(page.find(markup), std::string::npos) << markup;
    EXPECT_EQ(page.find("<script"), page.rfind("<script"));
    // The fitted values predict the first class for S1: the table names it as text.
    EXPECT_NE(page.find("<td>&lt;u&gt;S1</td><td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"
                        "<td>&lt;script&gt;alert(1)&lt;/script&gt;</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>&lt;em&gt;otuA</td>"), std::string::npos);
    EXPECT_NE(page.find("&lt;i&gt;d&amp;"), std::string::npos);
    expectWellFormedXml((dir / "out/tree.svg").string());
}

// The methods paragraph says what the run did, read from its own files: the
// study's sizes, the grid, the folds, the rule's point and the nested error.
TEST_F(Report, MethodsParagraphFollowsTheRunsSettings)
{
    fs::create_directory(dir / "run");
    ASSERT_EQ(run(FOLDS_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -n 1 -k 2 -s run/sets -seed 4").status, 0);
    const Result cv = run(CV_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -t dir/tree.tre -n 1 -k 2 -s run/sets "
                                      "-p run/ -w 0.2,0.5 -lambda 0.1,1 -nested 2 -seed 5 -folds-seed 4");
    ASSERT_EQ(cv.status, 0) << cv.err;
    EXPECT_EQ(readFile(dir / "run/cv_settings.tsv"), "key\tvalue\nsolver\tcyclic\nw\t0.2,0.5\nlambda\t0.1,1\n"
                                                     "repetitions\t1\nfolds\t2\nfolds_seed\t4\n"
                                                     "nested_inner_folds\t2\nnested_seed\t5\n");
    const auto [w, lambda] = minPoint(readFile(dir / "run/cv_summary.tsv"));
    const auto [mean, stdError] = nestedError(readFile(dir / "run/cv_nested.tsv"));
    ASSERT_FALSE(w.empty() || mean.empty() || stdError.empty());
    const Result result = report("-data dir -c model.txt -o out -cv run -choice min");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string page = readFile(dir / "out/report.html");
    const std::string version = report("--version").out;
    EXPECT_EQ(methodsOf(page),
              "Samples were classified with Orvane " + version.substr(14, version.size() - 15) +
                  ", a multinomial logistic regression whose coefficients are penalised along the phylogenetic "
                  "tree of the taxa (a lasso term for each taxon and a group term for each clade). The training "
                  "data (dir) held 6 samples in 3 classes (gut: 2, skin: 2, soil: 2) and 4 taxa. The model was "
                  "fitted to all training samples at w = " + w + " and lambda = " + lambda +
                  ", the point chosen by the least mean cross-validation error over a grid of 2 values of w (0.2 "
                  "and 0.5) and 2 values of lambda, in 1 repetition of 2-fold cross-validation (folds drawn by "
                  "Orvane-folds with seed 4). Each fit used the "
                  "cyclic coordinate-descent solver. A nested cross-validation, in which each of 2 outer folds "
                  "chose w and lambda by cross-validating its own training samples (2-fold, folds drawn with seed "
                  "5), gave an error of " + mean + " \u00b1 " + stdError +
                  " (mean \u00b1 standard error). The model keeps 3 taxa with a nonzero coefficient.");
    // The summary comes first and gives the error to publish.
    EXPECT_EQ(page.find("<section id=\"summary\">"), page.find("<section"));
    EXPECT_NE(page.find("<b>" + mean + " \u00b1 " + stdError + "</b>"), std::string::npos);

    // Folds that keep groups whole are known by their seed too, and a wrong seed is refused.
    writeFile(dir / "groups.tsv", "line\tgroup\n1\ta\n2\tb\n3\ta\n4\tc\n5\tb\n6\tc\n");
    ASSERT_EQ(run(FOLDS_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -n 2 -k 2 -s g -seed 9 -g groups.tsv").status, 0);
    const std::string grouped = "-d dir/samples.txt -l dir/labels.txt -t dir/tree.tre -n 2 -k 2 -s g -w 0.5 "
                                "-lambda 1 -g groups.tsv -p g_";
    ASSERT_EQ(run(CV_PROGRAM, grouped + " -folds-seed 9").status, 0);
    EXPECT_NE(readFile(dir / "g_cv_settings.tsv").find("\nfolds\t2\nfolds_seed\t9\n"), std::string::npos);
    // Without -folds-seed, folds that seed 1 did not draw are run with no seed recorded.
    ASSERT_EQ(run(CV_PROGRAM, grouped).status, 0);
    EXPECT_EQ(readFile(dir / "g_cv_settings.tsv").find("folds_seed"), std::string::npos);
    EXPECT_EQ(run(CV_PROGRAM, grouped + " -folds-seed 1").err,
              "error: g0.txt: not the folds Orvane-folds -seed 1 draws from dir/labels.txt and groups.tsv "
              "(-folds-seed)\n");

    // Converged paths over grids of their own: the paragraph says so, and no
    // nested run. Folds of Orvane-folds' default seed are known without -folds-seed.
    fs::remove_all(dir / "run");
    fs::create_directory(dir / "run");
    ASSERT_EQ(run(FOLDS_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -n 1 -k 2 -s run/sets").status, 0);
    ASSERT_EQ(run(CV_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -t dir/tree.tre -n 1 -k 2 -s run/sets -p run/ "
                              "-lambda auto -nlambda 3 -lambda-ratio 0.01 -solver converged -tol 1e-4").status, 0);
    ASSERT_EQ(report("-data dir -c model.txt -o out2 -cv run -choice min").status, 0);
    const std::string converged = readFile(dir / "out2/report.html");
    EXPECT_NE(converged.find(", in 1 repetition of 2-fold cross-validation (folds drawn by Orvane-folds with seed 1). "
                             "In each fold the lambda values of each w "
                             "were fitted as one warm-started path, from the largest down, each fit to a relative "
                             "duality gap below 0.0001. The lambda values of each w were 3 values log-spaced from "
                             "lambda_max (the least lambda that keeps every coefficient at zero) down to 0.01 x "
                             "lambda_max. The model keeps"),
              std::string::npos);
    EXPECT_EQ(converged.find("A nested"), std::string::npos);
    // The summary names the solver beside the rule that chose the point.
    EXPECT_NE(converged.find("chosen by the min rule of the cross-validation, whose fits used the converged solver"),
              std::string::npos);
}

// Folds that keep groups whole (-g) are recorded in cv_settings.tsv by the
// file as given, and the paragraph says so by its base name, for the nested
// run's inner folds too; the same folds run without -g say nothing of groups.
TEST_F(Report, MethodsParagraphSaysTheFoldsKeptGroupsWhole)
{
    fs::create_directories(dir / "study");
    fs::create_directories(dir / "grouped");
    fs::create_directories(dir / "alone");
    fs::create_directories(dir / "plain");
    writeFile(dir / "study/groups.tsv", "line\tgroup\n1\ta\n2\tb\n3\ta\n4\tc\n5\tb\n6\tc\n");
    ASSERT_EQ(run(FOLDS_PROGRAM, "-d dir/samples.txt -l dir/labels.txt -n 1 -k 3 -s g -seed 9 "
                                 "-g study/groups.tsv").status, 0);
    const std::string cvArgs = "-d dir/samples.txt -l dir/labels.txt -t dir/tree.tre -n 1 -k 3 -s g -w 0.5 -lambda 1 ";
    const Result grouped = run(CV_PROGRAM, cvArgs + "-g study/groups.tsv -folds-seed 9 -nested 2 -p grouped/");
    ASSERT_EQ(grouped.status, 0) << grouped.err;
    EXPECT_EQ(readFile(dir / "grouped/cv_settings.tsv"),
              "key\tvalue\nsolver\tcyclic\nw\t0.5\nlambda\t1\nrepetitions\t1\nfolds\t3\nfolds_seed\t9\n"
              "groups\tstudy/groups.tsv\nnested_inner_folds\t2\nnested_seed\t1\n");
    ASSERT_EQ(report("-data dir -c model.txt -o out -cv grouped").status, 0);
    EXPECT_NE(methodsOf(readFile(dir / "out/report.html"))
                  .find(", in 1 repetition of 3-fold cross-validation (folds drawn by Orvane-folds with seed 9). "
                        "The folds and the inner folds of the nested cross-validation kept the samples of each group "
                        "of groups.tsv together, so that no model was tested on a group it was trained on. Each "
                        "fit used the cyclic coordinate-descent solver. A nested"),
              std::string::npos);

    // Without -nested the sentence names the folds alone.
    ASSERT_EQ(run(CV_PROGRAM, cvArgs + "-g study/groups.tsv -p alone/").status, 0);
    ASSERT_EQ(report("-data dir -c model.txt -o out2 -cv alone").status, 0);
    EXPECT_NE(methodsOf(readFile(dir / "out2/report.html"))
                  .find("3-fold cross-validation. The folds kept the samples of each group of groups.tsv "
                        "together, so that no model was tested on a group it was trained on. Each fit"),
              std::string::npos);

    const Result plain = run(CV_PROGRAM, cvArgs + "-p plain/");
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(readFile(dir / "plain/cv_settings.tsv").find("groups"), std::string::npos);
    ASSERT_EQ(report("-data dir -c model.txt -o out3 -cv plain").status, 0);
    const std::string methods = methodsOf(readFile(dir / "out3/report.html"));
    EXPECT_NE(methods.find(", in 1 repetition of 3-fold cross-validation. Each fit used"), std::string::npos);
    EXPECT_EQ(methods.find("each group"), std::string::npos);
}

// A study from its own files to the page: the paragraph tells what
// Orvane-prepare kept (from prepare_note.tsv) and names the seeds of both
// the outer folds and the inner ones; the summary gives the share of reads
// kept. The study is Orvane-prepare's test study (see its tests): 4 of 6
// samples and 3 of 5 features kept, holding 24 of the 44 reads (54.5%).
TEST_F(Report, MethodsParagraphTellsHowTheDataWerePrepared)
{
    fs::copy(PREPARE_DATA_DIR, dir / "study", fs::copy_options::recursive);
    const Result prepared = run(PREPARE_PROGRAM, "-table study/table.tsv -metadata study/metadata.tsv -column "
                                                 "SampleType -tree study/tree.nwk -min-count 3 -o data");
    ASSERT_EQ(prepared.status, 0) << prepared.err;
    ASSERT_EQ(run(FOLDS_PROGRAM, "-d data/samples.txt -l data/labels.txt -n 1 -k 2 -s sets -seed 3").status, 0);
    const std::string cvArgs = "-d data/samples.txt -l data/labels.txt -t data/tree.tre -n 1 -k 2 -s sets "
                               "-w 0.5 -lambda 0.1,1 -nested 2 -seed 5 -folds-seed ";
    // Another seed draws other folds: the run is refused, nothing written.
    const Result wrong = run(CV_PROGRAM, cvArgs + "1 -p wrong_");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "error: sets0.txt: not the folds Orvane-folds -seed 1 draws from data/labels.txt "
                         "(-folds-seed)\n");
    EXPECT_FALSE(fs::exists(dir / "wrong_cv_settings.tsv"));
    fs::create_directory(dir / "run");
    const Result cv = run(CV_PROGRAM, cvArgs + "3 -p run/");
    ASSERT_EQ(cv.status, 0) << cv.err;
    const auto [w, lambda] = minPoint(readFile(dir / "run/cv_summary.tsv"));
    ASSERT_EQ(run(ORVANE_PROGRAM, "-train -d data/samples.txt -l data/labels.txt -t data/tree.tre -w " + w +
                                      " -lambda " + lambda + " -o model.txt").status, 0);
    const Result result = report("-data data -c model.txt -o out -cv run -choice min");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string page = readFile(dir / "out/report.html");
    const auto [mean, stdError] = nestedError(readFile(dir / "run/cv_nested.tsv"));
    const std::string version = report("--version").out;
    EXPECT_EQ(methodsOf(page),
              "Samples were classified with Orvane " + version.substr(14, version.size() - 15) +
                  ", a multinomial logistic regression whose coefficients are penalised along the phylogenetic "
                  "tree of the taxa (a lasso term for each taxon and a group term for each clade). The training "
                  "data (data) held 4 samples in 3 classes (Gut: 1, Soil: 2, gut: 1) and 3 taxa. They were "
                  "prepared with Orvane-prepare from the feature table table.tsv and the column SampleType of "
                  "metadata.tsv, keeping 4 of its 6 samples (0 left out for fewer than 3 reads on the kept taxa) "
                  "and 3 of its 5 taxa, which hold 54.5% of the kept samples&apos; reads; the tree is the "
                  "study&apos;s own (tree.nwk), pruned to the kept taxa. The model was fitted to all training "
                  "samples at w = " + w + " and lambda = " + lambda +
                  ", the point chosen by the least mean cross-validation error over a grid of 1 value of w (0.5) "
                  "and 2 values of lambda, in 1 repetition of 2-fold cross-validation (folds drawn by "
                  "Orvane-folds with seed 3). Each fit used the cyclic coordinate-descent solver. A nested "
                  "cross-validation, in which each of 2 outer folds chose w and lambda by cross-validating its "
                  "own training samples (2-fold, folds drawn with seed 5), gave an error of " + mean + " \u00b1 " +
                  stdError + " (mean \u00b1 standard error). The model keeps 3 taxa with a nonzero coefficient.");
    const std::string summary = page.substr(0, page.find("<section id=\"methods\">"));
    EXPECT_NE(summary.find("54.5% of the reads kept: 4 of 6 samples and 3 of 5 taxa of table.tsv"),
              std::string::npos);
    // A folder without the note (made before it was written) gets neither.
    fs::remove(dir / "data/prepare_note.tsv");
    ASSERT_EQ(report("-data data -c model.txt -o out2 -cv run -choice min").status, 0);
    const std::string older = readFile(dir / "out2/report.html");
    EXPECT_EQ(older.find("Orvane-prepare from"), std::string::npos);
    EXPECT_EQ(older.find("reads kept"), std::string::npos);
}

// Two classes: the summary shows the mean of the repetitions' ROC areas from
// the out-of-fold probabilities, with one curve each. Repetition 0: skin
// 0.9, 0.4 against gut 0.4, 0.2 (3.5 of 4 pairs); repetition 1: 0.8, 0.3
// against 0.7, 0.1 (3 of 4); the mean is 0.8125.
TEST_F(Report, TwoClassesShowTheAreaUnderTheRocCurves)
{
    writeFile(dir / "dir/classes.tsv", "class\tname\n1\tgut\n2\tskin\n");
    writeFile(dir / "dir/labels.txt", ">gut\n1 2\n>skin\n3 4\n");
    writeFile(dir / "dir/samples.tsv", "line\tsample-id\tclass\n1\tS1\tgut\n2\tS2\tgut\n3\tS3\tskin\n4\tS4\tskin\n");
    writeFile(dir / "dir/samples.txt", "1 8 2 0 0\n2 6 1 1 0\n3 0 1 7 2\n4 1 0 6 3\n");
    writeFile(dir / "model2.txt", "2 4\n1 0 -0.5 -1\n-1 0 2 0\n");
    fs::create_directory(dir / "roc");
    writeFile(dir / "roc/cv_summary.tsv", "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n0.5\t1\t0.25\t0.1\tmin,1se\t-\n");
    const std::string probabilities = "sample-id\trepetition\tfold\ttrue_class\tgut\tskin\n"
                                      "S1\t0\t0\tgut\t0.6\t0.4\nS2\t0\t1\tgut\t0.8\t0.2\n"
                                      "S3\t0\t0\tskin\t0.1\t0.9\nS4\t0\t1\tskin\t0.6\t0.4\n"
                                      "S1\t1\t1\tgut\t0.3\t0.7\nS2\t1\t0\tgut\t0.9\t0.1\n"
                                      "S3\t1\t0\tskin\t0.2\t0.8\nS4\t1\t1\tskin\t0.7\t0.3\n";
    writeFile(dir / "roc/cv_probabilities.tsv", probabilities);
    ASSERT_EQ(report("-data dir -c model2.txt -o out -cv roc -choice min").status, 0);
    const std::string page = readFile(dir / "out/report.html");
    EXPECT_NE(page.find("AUC (skin positive)<b>0.812</b>"), std::string::npos);
    EXPECT_NE(page.find("points=\"38.0,158.0 38.0,83.0 113.0,8.0 188.0,8.0 \""), std::string::npos);
    EXPECT_NE(page.find("points=\"38.0,158.0 38.0,83.0 113.0,83.0 113.0,8.0 188.0,8.0 \""), std::string::npos);
    // The files are taken at the min point: a 1se model gets no area, nor does a file of other classes.
    writeFile(dir / "roc/cv_summary.tsv", "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n"
                                          "0.5\t1\t0.25\t0.1\tmin\t-\n0.5\t2\t0.3\t0.1\t1se\t-\n");
    ASSERT_EQ(report("-data dir -c model2.txt -o out -cv roc -choice 1se").status, 0);
    EXPECT_EQ(readFile(dir / "out/report.html").find("AUC"), std::string::npos);
    writeFile(dir / "roc/cv_probabilities.tsv", std::regex_replace(probabilities, std::regex("skin"), "soil"));
    ASSERT_EQ(report("-data dir -c model2.txt -o out -cv roc -choice min").status, 0);
    EXPECT_EQ(readFile(dir / "out/report.html").find("AUC"), std::string::npos);
}
