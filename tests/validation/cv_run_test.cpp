// Tests of a cross-validation run as a whole: folds fitted from inputs read
// once, the same outputs on any number of threads, the summary and its two
// choices, predictions, confusion matrix, plots, and logs that only ever gain
// whole runs.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <set>
#include <cmath>
#include <thread>

#include <sys/stat.h>

#include "model/Logistic.h"
#include "tree/newick.h"
#include "validation/LambdaGrid.h"
#include "validation/Nested.h"
#include "validation/folds.h"
#include "validation/Summary.h"
#include "validation/Testing.h"
#include "validation_test_util.h"

namespace {

const std::string x = data + "samples.txt", y = data + "labels.txt", t = data + "tree.tre";

template <class T>
bool sameBytes(const T *a, const T *b, int n)
{
    return n == 0 || std::memcmp(a, b, sizeof(T) * n) == 0;
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(InMemory, RowsAndFoldModelsEqualThoseReadFromTheFilesBitForBit)
{
    Data all(x, y, {});
    const std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(t.c_str()));
    ASSERT_TRUE(tree);
    for (const List &lines : {List{25, 3, 0, 7, 12}, List{}, List{5}}) {
        Data fromFile(x, y, lines), fromMemory = selectRows(all, lines);
        ASSERT_EQ(std::make_tuple(fromMemory.N, fromMemory.M, fromMemory.C),
                  std::make_tuple(fromFile.N, fromFile.M, fromFile.C));
        EXPECT_TRUE(sameBytes(fromMemory.rowStart, fromFile.rowStart, fromFile.N + 1));
        EXPECT_TRUE(sameBytes(fromMemory.cols, fromFile.cols, (int)fromFile.nonzeros()));
        EXPECT_TRUE(sameBytes(fromMemory.values, fromFile.values, (int)fromFile.nonzeros()));
        EXPECT_TRUE(sameBytes(fromMemory.classes, fromFile.classes, fromFile.N));
        EXPECT_TRUE(sameBytes(fromMemory.Y, fromFile.Y, fromFile.N * fromFile.C));
        freeData(fromFile), freeData(fromMemory);
    }
    const List train = {0, 1, 2, 4, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 20, 21, 22, 24, 25};
    const List test = {23, 3, 7, 10, 13, 16, 19}; // in no particular order, as a sets file may hold it
    for (const auto &[w, lambda] : {std::pair{0.4f, 0.5f}, std::pair{-1.0f, 0.05f}}) {
        Logistic fromFiles(x, y, t, train), fromMemory(selectRows(all, train), tree->copy());
        fromFiles.Train(lambda), fromMemory.Train(lambda);
        fromFiles.Learn(w), fromMemory.Learn(w);
        EXPECT_TRUE(sameBytes(fromFiles.beta, fromMemory.beta, fromFiles.nClasses * fromFiles.nFeatures)) << w;
        List predicted;
        const float error = fromMemory.TestRows(all, test, predicted);
        EXPECT_EQ(error, fromFiles.Test(x, y, test)) << w;
        List wrong;
        for (int k = 0; k < 7; k++) // rows in ascending line order
            if (predicted[k] != all.classes[List{3, 7, 10, 13, 16, 19, 23}[k]])
                wrong.push_back(k);
        EXPECT_EQ(error, wrong.size() / 7.0f);
        fromFiles.del(), fromMemory.del();
    }
    freeData(all);
}

// Six points, four fold errors each, worked by hand: standard error = sample
// standard deviation / sqrt(4). The least mean error is 0.25 at (0.2, 0.1) with
// standard error 0.144338, so every point up to 0.394338 qualifies for 1se; of
// those, lambda 1 is the largest, held by both w, and w 1 comes first in the grid.
TEST(Summary, StandardErrorsBothChoicesAndEdgesOfAHandWorkedGrid)
{
    const std::vector<std::vector<float>> errors = {
        {0.5f, 0, 0.5f, 0.5f}, {0.25f, 0.5f, 0.25f, 0.5f}, {1, 1, 1, 1},  // w 1
        {0, 0.5f, 0, 0.5f}, {0.5f, 0.25f, 0.25f, 0.5f}, {1, 1, 1, 1}}; // w 0.2
    const CvSummary summary = summarise({1.0f, 0.2f}, {0.1f, 1.0f, 10.0f}, errors,
                                        {0.375f, 0.375f, 1, 0.25f, 0.375f, 1}, 3);
    EXPECT_EQ(summaryTable(summary), "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n"
                                     "1\t0.1\t0.375\t0.125\t-\t-\n"
                                     "1\t1\t0.375\t0.0721688\t1se\t-\n" // w 1 is a bound, not an edge
                                     "1\t10\t1\t0\t-\t-\n"
                                     "0.2\t0.1\t0.25\t0.144338\tmin\tyes\n"
                                     "0.2\t1\t0.375\t0.0721688\t-\t-\n"
                                     "0.2\t10\t1\t0\t-\t-\n");
    EXPECT_EQ(edgeWarnings(summary), "warning: the min choice (w 0.2, lambda 0.1) is the grid's smallest lambda and no "
                                     "lambda inside the grid does as well: try lambda below 0.1\n"
                                     "warning: the min choice (w 0.2, lambda 0.1) is the grid's smallest w and no w "
                                     "inside the grid does as well: try w below 0.2\n");

    // 1se at the largest lambda, but the least error lies inside: no edge.
    const CvSummary wide = summarise({0.5f}, {0.0f, 1.0f, 10.0f}, {{0, 1}, {0.5f, 0.5f}, {1, 1}},
                                     {0.5f, 0.5f, 1}, 0);
    EXPECT_EQ(summaryTable(wide), "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n"
                                  "0.5\t0\t0.5\t0.5\tmin\t-\n" // lambda 0 is a bound, not an edge
                                  "0.5\t1\t0.5\t0\t-\t-\n"
                                  "0.5\t10\t1\t0\t1se\t-\n");
    EXPECT_EQ(edgeWarnings(wide), "");

    // A plateau of the least error reaching inside the grid: ties go to the
    // largest lambda, an end, yet widening would change nothing. A strict
    // least at the end is named for each choice, and the w 0.5 of a grid
    // with w -1 has no w axis.
    const std::vector<std::vector<float>> flat = {{0.3f}, {0.2f}, {0.2f}, {0.2f}};
    const CvSummary plateau = summarise({0.5f}, {0.1f, 1, 10, 100}, flat, {0.3f, 0.2f, 0.2f, 0.2f}, 3);
    EXPECT_EQ(edgeWarnings(plateau), "");
    EXPECT_EQ(summaryTable(plateau).substr(summaryTable(plateau).rfind("100")), "100\t0.2\tnan\tmin,1se\t-\n");
    const CvSummary strict = summarise({0.5f, -1}, {0.1f, 1, 10, 100}, {{0.3f}, {0.2f}, {0.2f}, {0.1f}, {1}, {1}, {1}, {1}},
                                       {0.3f, 0.2f, 0.2f, 0.1f, 1, 1, 1, 1}, 3);
    EXPECT_EQ(edgeWarnings(strict), "warning: the min choice (w 0.5, lambda 100) is the grid's largest lambda and no "
                                    "lambda inside the grid does as well: try lambda above 100\n"
                                    "warning: the 1se choice (w 0.5, lambda 100) is the grid's largest lambda and no "
                                    "lambda inside the grid does as well: try lambda above 100\n");

    // Texts that -w and -lambda read back to the same float, and no longer than needed.
    for (const auto &[value, text] : std::vector<std::pair<float, std::string>>{
             {0.1f, "0.1"}, {1e-5f, "1e-05"}, {1.0f / 3, "0.33333334"}, {-2.0f, "-2"}, {3.4028235e38f, "3.4028235e+38"}})
        EXPECT_EQ(shortestText(value), text);
}

// Trained on class A alone, every fold calls its held-out B samples A (see
// bonly0.txt): 2 samples x 2 folds x 2 repetitions, all B taken for A.
TEST(OrvaneCv, PredictionsConfusionAndPlotsUseTheStudysNames)
{
    TempDir dir;
    for (const std::string name : {"tiny_samples.txt", "tiny_labels.txt", "tiny_tree.tre", "bonly0.txt", "bonly1.txt"})
        std::filesystem::copy_file(data + name, dir.path + name);
    const std::string command = cv + " -d " + dir.path + "tiny_samples.txt -l " + dir.path + "tiny_labels.txt -t " +
                                dir.path + "tiny_tree.tre -n 2 -k 2 -s " + dir.path + "bonly -p " + dir.path + "out_";
    ASSERT_EQ(runCommand(command).status, 0);
    EXPECT_EQ(readFile(dir.path + "out_cv_summary.tsv"), "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n"
                                                         "0.4\t1\t1\t0\tmin,1se\t-\n");
    EXPECT_EQ(readFile(dir.path + "out_cv_confusion.tsv"), "true\\predicted\t1\t2\n1\t0\t0\n2\t8\t0\n");
    EXPECT_EQ(linesOf(readFile(dir.path + "out_cv_predictions.tsv"))[1], "3\t0\t0\t2\t1");
    // The probabilities follow the predictions row by row: the same first
    // columns, a sum of 1, and the predicted class A the likelier. The
    // repetitions share their folds, so they give the same numbers.
    const std::vector<std::string> predicted = linesOf(readFile(dir.path + "out_cv_predictions.tsv")),
                                    probable = linesOf(readFile(dir.path + "out_cv_probabilities.tsv"));
    ASSERT_EQ(probable.size(), 9u);
    EXPECT_EQ(probable[0], "line\trepetition\tfold\ttrue_class\t1\t2");
    for (std::size_t r = 1; r < probable.size(); r++) {
        EXPECT_EQ(probable[r].substr(0, 8), predicted[r].substr(0, 8));
        const double a = std::stod(probable[r].substr(8)), b = std::stod(probable[r].substr(probable[r].rfind('\t')));
        EXPECT_NEAR(a + b, 1.0, 1e-8);
        EXPECT_GT(a, b);
        EXPECT_EQ(probable[r].substr(3), probable[r <= 4 ? r + 4 : r - 4].substr(3)) << "the other repetition's";
    }

    // The name files list the classes in another order than the labels file:
    // names are matched by name, never by position.
    writeFile(dir.path + "tiny_labels.txt", ">A & <co>\n1 2\n>B\n3 4\n");
    writeFile(dir.path + "classes.tsv", "class\tname\n1\tB\n2\tA & <co>\n");
    const std::string samplesTsv = "line\tsample-id\tclass\n1\ts1\tA & <co>\n2\ts2\tA & <co>\n3\ts3\tB\n4\ts4\tB\n";
    writeFile(dir.path + "samples.tsv", samplesTsv);
    ASSERT_EQ(runCommand(command).status, 0);
    EXPECT_EQ(readFile(dir.path + "out_cv_predictions.tsv"),
              "sample-id\trepetition\tfold\ttrue_class\tpredicted_class\n"
              "s3\t0\t0\tB\tA & <co>\ns3\t0\t1\tB\tA & <co>\ns4\t0\t0\tB\tA & <co>\ns4\t0\t1\tB\tA & <co>\n"
              "s3\t1\t0\tB\tA & <co>\ns3\t1\t1\tB\tA & <co>\ns4\t1\t0\tB\tA & <co>\ns4\t1\t1\tB\tA & <co>\n");
    EXPECT_EQ(readFile(dir.path + "out_cv_confusion.tsv"), "true\\predicted\tA & <co>\tB\nA & <co>\t0\t0\nB\t8\t0\n");
    for (const std::string plot : {"out_cv_curve.svg", "out_cv_confusion.svg"})
        expectRenders(dir.path + plot);
    EXPECT_NE(readFile(dir.path + "out_cv_confusion.svg").find("A &amp; &lt;co&gt;"), std::string::npos);

    // Names of other classes than the labels file's stop the run before any log gains a line.
    writeFile(dir.path + "samples.tsv", std::regex_replace(samplesTsv, std::regex("s3\tB"), "s3\tA & <co>"));
    EXPECT_EQ(runCommand(command + "bad_"), (Outcome{1, "", "error: " + dir.path + "samples.tsv:4: sample s3 has class "
                                                            "\"A & <co>\", " + dir.path + "tiny_labels.txt gives it \"B\"\n"}));
    writeFile(dir.path + "classes.tsv", "class\tname\n1\tA\n2\tB\n");
    EXPECT_EQ(runCommand(command + "bad_"), (Outcome{1, "", "error: " + dir.path + "classes.tsv: has no class \"A & <co>\", "
                                                            "which " + dir.path + "tiny_labels.txt names\n"}));
    writeFile(dir.path + "classes.tsv", "class\tname\n1\tA\n2\tB\n3\tC\n");
    EXPECT_EQ(runCommand(command + "bad_"),
              (Outcome{1, "", "error: " + dir.path + "classes.tsv: names 3 classes, the labels file has 2\n"}));
    EXPECT_FALSE(std::filesystem::exists(dir.path + "out_bad_log_detailed.txt"));
}

TEST(OrvaneCv, ThreeThreadsWriteWhatOneWritesByteForByte)
{
    TempDir dir;
    ASSERT_EQ(runCommand(folds + example + " -n 2 -k 3 -s " + dir.path + "sets -seed 3"), (Outcome{0, "", ""}));
    const std::string command = cv + example + " -t " + t + " -n 2 -k 3 -s " + dir.path +
                                "sets -w 0,0.5,-1 -lambda 0.05,0.5,5 -r grid -v -p " + dir.path;
    const Outcome one = runCommand(command + "one_ -j 1"), three = runCommand(command + "three_ -j 3");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(three.status, 0);
    EXPECT_EQ(three.out, std::regex_replace(one.out, std::regex("one_"), "three_"));
    for (const std::string name : {"log_detailed.txt", "log_avr.txt", "log_result.txt", "cv_summary.tsv",
                                   "cv_predictions.tsv", "cv_probabilities.tsv", "cv_confusion.tsv", "cv_curve.svg",
                                   "cv_confusion.svg", "cv_selection.tsv"})
        EXPECT_EQ(readFile(dir.path + "three_" + name), readFile(dir.path + "one_" + name)) << name;
    // Standard error: one progress line per fit, in any order, then the same warnings.
    const auto progress = [](const std::string &err) {
        std::vector<std::string> fits, rest;
        for (const std::string &line : linesOf(err))
            if (line.rfind("fit ", 0) == 0)
                fits.push_back(line.substr(line.find("done")));
            else
                rest.push_back(line);
        std::sort(fits.begin(), fits.end());
        return std::make_pair(fits, rest);
    };
    EXPECT_EQ(progress(three.err), progress(one.err));
    EXPECT_EQ(progress(one.err).first.size(), 54u);

    // The confusion matrix holds every held-out sample of both repetitions at the
    // point of least mean error, and its diagonal matches that error.
    long total = 0, right = 0;
    const std::vector<std::string> rows = linesOf(readFile(dir.path + "one_cv_confusion.tsv"));
    ASSERT_EQ(rows.size(), 10u); // nine classes
    for (std::size_t r = 1; r < rows.size(); r++) {
        std::istringstream cells(rows[r]);
        std::string label;
        cells >> label;
        long n = 0;
        for (std::size_t c = 1; cells >> n; c++)
            total += n, right += c == r ? n : 0;
    }
    EXPECT_EQ(total, 52);
    float minError = -1;
    for (const std::string &line : linesOf(readFile(dir.path + "one_cv_summary.tsv")))
        if (line.find("\tmin") != std::string::npos)
            minError = std::stof(linesOf(std::regex_replace(line, std::regex("\t"), "\n"))[2]);
    EXPECT_NEAR(1.0 - right / 52.0, minError, 0.02); // folds of 8 or 9 samples: a mean of fold rates
    EXPECT_EQ(linesOf(readFile(dir.path + "one_cv_predictions.tsv")).size(), 53u);
    expectRenders(dir.path + "one_cv_curve.svg");
}

// The selection shares at the chosen point. Fold 1 trains on rows that hold
// feature 2 alone in both classes, so its model stays 0 and every share is
// 1/2; fold 0's model gives the means. Feature 1 is never present, so it is
// never selected, and node2 (leaves 0 and 1) goes with feature 0. All four
// grid points tie at an error of 1/2: the later lambda and the earlier w win.
TEST(OrvaneCv, SelectionSharesAreThoseOfTheChosenPointsFoldModels)
{
    TempDir dir;
    writeFile(dir.path + "x.txt", "1\t0\t0\t1\n2\t0\t0\t3\n3\t9\t0\t1\n4\t8\t0\t2\n"
                                  "5\t0\t0\t2\n6\t0\t0\t5\n7\t1\t0\t9\n8\t2\t0\t8\n");
    writeFile(dir.path + "y.txt", ">a\n1 2 3 4\n>b\n5 6 7 8\n");
    writeFile(dir.path + "t.tre", "((0:1,1:1):1,2:1);");
    writeFile(dir.path + "sets0.txt", "> 0\n0 1 4 5\n2 3 6 7\n> 1\n2 3 6 7\n0 1 4 5\n");
    const std::string run = cv + " -d " + dir.path + "x.txt -l " + dir.path + "y.txt -t " + dir.path +
                            "t.tre -n 1 -k 2 -s " + dir.path + "sets -w 0.5,0.8 -lambda 50,0.05 -p " + dir.path;
    ASSERT_EQ(runCommand(run).status, 0);
    EXPECT_EQ(readFile(dir.path + "cv_summary.tsv"), "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n"
                                                     "0.5\t50\t0.5\t0\t1se\tyes\n0.5\t0.05\t0.5\t0\tmin\tyes\n"
                                                     "0.8\t50\t0.5\t0\t-\t-\n0.8\t0.05\t0.5\t0\t-\t-\n");

    Data all((dir.path + "x.txt").c_str(), dir.path + "y.txt", {});
    const std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree((dir.path + "t.tre").c_str()));
    std::vector<std::vector<float>> beta;
    for (const List &train : {List{2, 3, 6, 7}, List{0, 1, 4, 5}}) {
        Logistic fold(selectRows(all, train), tree->copy());
        fold.Train(0.05f);
        fold.Learn(0.5f);
        beta.emplace_back(fold.beta, fold.beta + 6);
        fold.del();
    }
    freeData(all);
    ASSERT_EQ(beta[1], std::vector<float>(6, 0.0f));
    std::string expected = "feature\tclass\tshare\tmean_coefficient\n";
    for (const auto &[k, name] : {std::pair{0, "1"}, std::pair{1, "2"}}) {  // no names file: class numbers
        const float b0 = beta[0][k * 3], b2 = beta[0][k * 3 + 2];
        ASSERT_TRUE(b0 != 0 && b2 != 0 && beta[0][k * 3 + 1] == 0) << k;
        std::ostringstream lines;
        for (const auto &[feature, value] : std::fabs(b0) >= std::fabs(b2) ? std::vector<std::pair<std::string, double>>{{"0", b0}, {"2", b2}}
                                                                           : std::vector<std::pair<std::string, double>>{{"2", b2}, {"0", b0}})
            lines << feature << '\t' << name << "\t0.5\t" << value / 2 << '\n';
        lines << "node1\t" << name << "\t0.5\t" << std::sqrt(double(b0) * b0 + double(b2) * b2) / 2 << '\n';
        lines << "node2\t" << name << "\t0.5\t" << std::fabs(double(b0)) / 2 << '\n';
        expected += lines.str();
    }
    EXPECT_EQ(readFile(dir.path + "cv_selection.tsv"), expected);
}

// Converged fits: one warm-started path per w and fold, from the largest lambda
// down whatever the grid's order, on any number of threads with the same bytes.
TEST(OrvaneCv, ConvergedPathsWriteTheSameLogsOnAnyNumberOfThreads)
{
    TempDir dir;
    ASSERT_EQ(runCommand(folds + example + " -n 1 -k 3 -s " + dir.path + "sets -seed 3"), (Outcome{0, "", ""}));
    const std::string grid = cv + example + " -t " + t + " -n 1 -k 3 -s " + dir.path +
                             "sets -w 0.3,1 -lambda 0.05,2,0.5 -r grid -v -p " + dir.path;
    const Outcome one = runCommand(grid + "one_ -j 1 -solver converged"),
                  two = runCommand(grid + "two_ -j 2 -solver converged");
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(two.out, std::regex_replace(one.out, std::regex("one_"), "two_"));
    for (const std::string name : {"log_detailed.txt", "log_avr.txt", "log_result.txt", "cv_summary.tsv",
                                   "cv_predictions.tsv", "cv_probabilities.tsv", "cv_confusion.tsv", "cv_curve.svg",
                                   "cv_selection.tsv"})
        EXPECT_EQ(readFile(dir.path + "two_" + name), readFile(dir.path + "one_" + name)) << name;
    int paths = 0; // 2 w x 3 folds
    for (const std::string &line : linesOf(one.err))
        paths += std::regex_match(line, std::regex("path [1-6] of 6 done: w (0.3|1), 3 lambdas, repetition 0, fold [0-2]"));
    EXPECT_EQ(paths, 6) << one.err;
}

// A log on a full disk: the run is an error, and no log keeps any of its lines.
TEST(OrvaneCv, FailedLogWriteIsAnErrorAndEveryLogKeepsItsOldContent)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this machine";
    TempDir dir;
    writeFile(dir.path + "log_detailed.txt", "earlier run\n");
    writeFile(dir.path + "log_result.txt", "earlier\n");
    std::filesystem::create_symlink("/dev/full", dir.path + "log_avr.txt"); // a link of our own
    const Outcome outcome = runCommand(cv + " -d " + tx + " -l " + ty + " -t " + tt + " -n 2 -k 2 -s " + data +
                                    "bonly -p " + dir.path);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("error: " + dir.path +
                                        "log_avr.txt: cannot append this run to the log, so no log got it "
                                        "(No space left on device)\n"),
              std::string::npos)
        << outcome.err;
    EXPECT_EQ(readFile(dir.path + "log_detailed.txt"), "earlier run\n");
    EXPECT_EQ(readFile(dir.path + "log_result.txt"), "earlier\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "cv_summary.tsv"));
}

// A table of 60 samples x 200 features in 3 classes, a caterpillar tree over
// the features and 3 folds: enough fits for the run to be killed in the middle.
void writeSlowStudy(const std::string &folder)
{
    std::mt19937 random(5);
    std::ofstream samples(folder + "samples.txt"), labels(folder + "labels.txt"), sets(folder + "sets0.txt");
    for (int i = 0; i < 60; i++) {
        samples << i;
        for (int j = 0; j < 200; j++)
            samples << '\t' << random() % 20 + (j % 3 == i % 3 ? 10 : 0);
        samples << '\n';
    }
    for (int c = 0; c < 3; c++) {
        labels << ">c" << c << '\n';
        for (int i = c; i < 60; i += 3)
            labels << i + 1 << ' ';
        labels << '\n';
    }
    for (int f = 0; f < 3; f++) {
        std::string test, train;
        for (int i = 0; i < 60; i++)
            (i % 5 % 3 == f ? test : train) += std::to_string(i) + ' ';
        sets << "> " << f << '\n' << test << '\n' << train << '\n';
    }
    std::string tree = "0:1";
    for (int j = 1; j < 200; j++)
        tree = "(" + tree + "," + std::to_string(j) + ":1):1";
    std::ofstream(folder + "tree.tre") << tree << ";\n";
}

// Killed in the middle, a run leaves the logs as they were, and none at all
// in a folder that had none.
TEST(OrvaneCv, KilledRunLeavesNoLineInTheLogs)
{
    TempDir dir;
    writeSlowStudy(dir.path);
    for (const std::string log : {"log_detailed.txt", "log_avr.txt", "log_result.txt"})
        writeFile(dir.path + log, "earlier\n");
    std::string lambdas = "0.001";
    for (int l = 2; l <= 40; l++)
        lambdas += ",0.00" + std::to_string(l);
    const std::string err = dir.path + "stderr.capture";
    const std::string d = dir.path;
    for (const std::string prefix : {"", "new_"}) {
        const pid_t child = start({cv, "-d", d + "samples.txt", "-l", d + "labels.txt", "-t", d + "tree.tre", "-n",
                                   "1", "-k", "3", "-s", d + "sets", "-p", d + prefix, "-w", "0.5", "-lambda", lambdas, "-v"},
                                  err);
        ASSERT_GT(child, 0);
        for (int waited = 0; waited < 60000 && readFile(err).find("fit 2 of") == std::string::npos; waited++)
            usleep(1000);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        std::filesystem::remove(err);
        if (!WIFSIGNALED(status))
            GTEST_SKIP() << "the run ended before it could be killed";
        for (const std::string log : {"log_detailed.txt", "log_avr.txt", "log_result.txt"})
            if (prefix.empty())
                EXPECT_EQ(readFile(dir.path + log), "earlier\n") << log;
            else
                EXPECT_FALSE(std::filesystem::exists(dir.path + prefix + log)) << log;
        EXPECT_FALSE(std::filesystem::exists(dir.path + prefix + "cv_summary.tsv"));
    }
}

} // namespace

// Twelve samples in two classes that feature 0 (class A) or 1 (class B)
// tells apart, three outer folds of 2 A and 2 B each. Inside a fold's eight
// training samples, two stratified inner folds hold out 2 A and 2 B each:
// lambda 1000 leaves the model all zero, so it calls every sample A and errs
// on half; lambda 0.01 separates them. Every outer fold must choose 0.01 and
// classify its held-out samples without error.
TEST(OrvaneCv, NestedCrossValidationChoosesInsideEachFold)
{
    TempDir dir;
    std::ofstream samples(dir.path + "s.txt"), sets(dir.path + "sets0.txt");
    for (int i = 0; i < 12; i++)
        samples << i + 1 << '\t' << (i < 6 ? 20 : 1) << '\t' << (i < 6 ? 1 : 20) << "\t2\n";
    samples.close();
    writeFile(dir.path + "l.txt", ">A\n1 2 3 4 5 6\n>B\n7 8 9 10 11 12\n");
    for (int f = 0; f < 3; f++) {
        std::string test, train;
        for (int i = 0; i < 12; i++)
            (i % 3 == f ? test : train) += std::to_string(i) + ' ';
        sets << "> " << f << '\n' << test << '\n' << train << '\n';
    }
    sets.close();
    const std::string command = cv + " -d " + dir.path + "s.txt -l " + dir.path + "l.txt -t " + tt +
                                " -n 1 -k 3 -s " + dir.path + "sets -p " + dir.path +
                                " -w 0.5 -lambda 1000,0.01";
    const Outcome plain = runCommand(command);
    const Outcome nested = runCommand(command + " -nested 2 -j 2");
    ASSERT_EQ(nested.status, 0) << nested.err;
    const std::string nestedTable = readFile(dir.path + "cv_nested.tsv");
    EXPECT_EQ(nestedTable, "repetition\tfold\tw\tlambda\tinner_error\terror\n"
                                                    "0\t0\t0.5\t0.01\t0\t0\n0\t1\t0.5\t0.01\t0\t0\n"
                                                    "0\t2\t0.5\t0.01\t0\t0\nmean\t-\t-\t-\t-\t0\n"
                                                    "std_error\t-\t-\t-\t-\t0\n");
    EXPECT_NE(nested.err.find("nested cross-validation error: 0 (standard error 0) over 3 outer folds"),
              std::string::npos);
    // The plain run's logs and standard output are those of the same run without -nested.
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(nested.out, plain.out);
    for (const std::string log : {"log_detailed.txt", "log_avr.txt", "log_result.txt"}) {
        const std::string text = readFile(dir.path + log);
        EXPECT_EQ(text.substr(0, text.size() / 2), text.substr(text.size() / 2)) << log;
    }
    // Every point of this grid separates the classes inside every fold: equal
    // mean errors go to the later lambda within a w, and keep the earlier w.
    const std::string tied = command.substr(0, command.find(" -w ")) + " -w 0.5,0.3 -lambda 0.01,0.02";
    ASSERT_EQ(runCommand(tied + " -nested 2").status, 0);
    EXPECT_EQ(readFile(dir.path + "cv_nested.tsv"), "repetition\tfold\tw\tlambda\tinner_error\terror\n"
                                                    "0\t0\t0.5\t0.02\t0\t0\n0\t1\t0.5\t0.02\t0\t0\n"
                                                    "0\t2\t0.5\t0.02\t0\t0\nmean\t-\t-\t-\t-\t0\n"
                                                    "std_error\t-\t-\t-\t-\t0\n");
    // Inner folds need as many training samples in every fold.
    EXPECT_EQ(runCommand(command + " -nested 20").err, "error: " + dir.path + "sets0.txt: fold 0 has 8 training samples, "
                                                                    "fewer than the 20 inner folds of -nested\n");
    // Converged paths separate the classes at 0.01 as well, and choose it in every fold.
    const Outcome converged = runCommand(command + " -nested 2 -solver converged -p " + dir.path + "c_");
    ASSERT_EQ(converged.status, 0) << converged.err;
    EXPECT_EQ(readFile(dir.path + "c_cv_nested.tsv"), nestedTable);
}

// With -solver converged the inner choices are made on converged paths, and
// each outer fold's model is its path down to the chosen lambda: the model the
// plain run scored there, so its error is the one the detailed log gives.
TEST(OrvaneCv, NestedConvergedOuterFitsAreThePlainRunsFitsAtTheChosenPoints)
{
    TempDir dir;
    ASSERT_EQ(runCommand(folds + example + " -n 2 -k 3 -s " + dir.path + "sets -seed 3"), (Outcome{0, "", ""}));
    const std::string grid = cv + example + " -t " + t + " -n 2 -k 3 -s " + dir.path +
                             "sets -w 0.3,1 -lambda 0.05,2,0.5 -nested 2 -solver converged -v -p " + dir.path;
    const Outcome one = runCommand(grid + "one_ -j 1"), two = runCommand(grid + "two_ -j 2");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    const std::string nested = readFile(dir.path + "one_cv_nested.tsv");
    EXPECT_EQ(readFile(dir.path + "two_cv_nested.tsv"), nested);
    std::map<std::string, std::string> errorAt; // "w lambda i j" -> the fold's error in the detailed log
    for (const std::string &line : linesOf(readFile(dir.path + "one_log_detailed.txt"))) {
        std::istringstream fields(line);
        std::string w, lambda, i, j, error;
        if (std::getline(fields, w, '\t') && std::getline(fields, lambda, '\t') &&
            std::getline(fields, i, '\t') && std::getline(fields, j, '\t') && std::getline(fields, error))
            errorAt[w + ' ' + lambda + ' ' + i + ' ' + j] = error;
    }
    const std::vector<std::string> rows = linesOf(nested);
    ASSERT_EQ(rows.size(), 9u) << nested; // header, 6 outer folds, mean, standard error
    for (std::size_t r = 1; r <= 6; r++) {
        std::istringstream fields(rows[r]);
        std::string i, j, w, lambda, inner, error;
        fields >> i >> j >> w >> lambda >> inner >> error;
        EXPECT_EQ(errorAt[w + ' ' + lambda + ' ' + i + ' ' + j], error) << rows[r];
    }
    int inner = 0, outer = 0; // 6 outer folds x 2 w x 2 inner folds; 6 outer folds
    for (const std::string &line : linesOf(one.err)) {
        inner += std::regex_match(line, std::regex("inner path [0-9]+ of 24 done"));
        outer += std::regex_match(line, std::regex("outer path [1-6] of 6 done"));
    }
    EXPECT_EQ(std::make_pair(inner, outer), std::make_pair(24, 6)) << one.err;
    EXPECT_NE(one.err.find("nested cross-validation error: "), std::string::npos);
}

// The same study with each A sample paired with a B one (a patient's tumour
// and normal samples): the outer folds keep the pairs whole, and so must the
// inner ones; folds that split a pair, or leave fewer pairs than inner folds,
// are refused before any fit.
TEST(OrvaneCv, GroupsStayWholeInTheOuterAndInnerFolds)
{
    TempDir dir;
    std::ofstream samples(dir.path + "s.txt"), sets(dir.path + "sets0.txt");
    for (int i = 0; i < 12; i++)
        samples << i + 1 << '\t' << (i < 6 ? 20 : 1) << '\t' << (i < 6 ? 1 : 20) << "\t2\n";
    samples.close();
    writeFile(dir.path + "l.txt", ">A\n1 2 3 4 5 6\n>B\n7 8 9 10 11 12\n");
    std::string groups = "line\tgroup\n";
    for (int i = 0; i < 12; i++)
        groups += std::to_string(i + 1) + "\tp" + std::to_string(i % 6) + '\n';
    writeFile(dir.path + "g.tsv", groups);
    for (int f = 0; f < 3; f++) {
        std::string test, train;
        for (int i = 0; i < 12; i++)
            (i % 3 == f ? test : train) += std::to_string(i) + ' ';
        sets << "> " << f << '\n' << test << '\n' << train << '\n';
    }
    sets.close();
    const std::string command = cv + " -d " + dir.path + "s.txt -l " + dir.path + "l.txt -t " + tt +
                                " -n 1 -k 3 -p " + dir.path + " -w 0.5 -lambda 1000,0.01 -g " +
                                dir.path + "g.tsv -s " + dir.path + "sets";
    const Outcome nested = runCommand(command + " -nested 2");
    ASSERT_EQ(nested.status, 0) << nested.err;
    EXPECT_EQ(readFile(dir.path + "cv_nested.tsv"), "repetition\tfold\tw\tlambda\tinner_error\terror\n"
                                                    "0\t0\t0.5\t0.01\t0\t0\n0\t1\t0.5\t0.01\t0\t0\n"
                                                    "0\t2\t0.5\t0.01\t0\t0\nmean\t-\t-\t-\t-\t0\n"
                                                    "std_error\t-\t-\t-\t-\t0\n");
    EXPECT_EQ(runCommand(command + " -nested 5").err,
              "error: " + dir.path + "sets0.txt: fold 0 trains on 4 groups of " + dir.path +
                  "g.tsv, fewer than the 5 inner folds of -nested\n");
    writeFile(dir.path + "split0.txt", "> 0\n0 1 2 3 4 5\n6 7 8 9 10 11\n> 1\n6 7 8 9 10 11\n0 1 2 3 4 5\n");
    const Outcome split = runCommand(command + " -k 2 -s " + dir.path + "split");
    EXPECT_EQ(split.err, "error: " + dir.path + "split0.txt: fold 0 holds out sample line 1 and trains on "
                         "sample line 7, of one group in " + dir.path + "g.tsv (draw the folds with "
                         "Orvane-folds -g " + dir.path + "g.tsv)\n");
    EXPECT_EQ(split.status, 1);
}

// Inner folds drawn inside outer training sets of the example study, grouped
// in threes across classes: every group lies in one inner fold, no inner
// fold is empty, and without groups the draw is Orvane-folds' stratified one.
TEST(NestedCrossValidation, InnerFoldsNeverSplitAGroup)
{
    Data all(x, y, {});
    std::vector<int> groupOfSample;
    for (int s = 0; s < all.N; s++)
        groupOfSample.push_back(s / 3);
    for (std::uint32_t seed = 1; seed <= 20; seed++) {
        std::vector<int> rows;
        for (int s = 0; s < all.N; s++)
            if ((s / 3 + seed) % 4 != 0) // whole groups held out, as the outer folds do
                rows.push_back(s);
        for (const int nFolds : {2, 3, 5}) {
            std::mt19937 generator(seed);
            const List foldOfRow = innerFoldOfRows(rows, all, groupOfSample, nFolds, generator);
            ASSERT_EQ(foldOfRow.size(), rows.size());
            std::map<int, int> foldOfGroup;
            std::set<int> used;
            for (std::size_t r = 0; r < rows.size(); r++) {
                EXPECT_EQ(foldOfGroup.emplace(groupOfSample[rows[r]], foldOfRow[r]).first->second,
                          foldOfRow[r]) << "seed " << seed << ", row " << rows[r];
                used.insert(foldOfRow[r]);
            }
            EXPECT_EQ(used.size(), static_cast<std::size_t>(nFolds)) << seed;
            std::mt19937 plain(seed), again(seed);
            List classOfRow;
            for (const int row : rows)
                classOfRow.push_back(all.classes[row]);
            EXPECT_EQ(innerFoldOfRows(rows, all, {}, nFolds, plain),
                      drawFolds(classOfRow, all.C, nFolds, again));
        }
    }
    freeData(all);
}

// The tiny study scaled by rows gives g_A = -g_B = (0.5, 0, -0.5); at w 1
// every leaf weighs 1, so lambda_max is 0.5, and three values down to a
// hundredth of it are 0.005, 0.05 and 0.5.
TEST(OrvaneCv, AutomaticLambdaGridFromLambdaMax)
{
    EXPECT_EQ(logSpacedGrid(10.0, 3, 0.01), (std::vector<float>{0.1f, 1.0f, 10.0f}));

    TempDir dir;
    const std::string command = tiny + " -s " + data + "bonly -p " + dir.path + " -w 1 -lambda auto";
    const Outcome run = runCommand(command + " -nlambda 3 -lambda-ratio 0.01");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1), "lambda grid at w 1 (lambda_max 0.5): 0.005,0.05,0.5\n");
    EXPECT_EQ(linesOf(readFile(dir.path + "log_avr.txt")).size(), 3u);
    for (const auto &[options, message] : std::vector<std::pair<std::string, std::string>>{
             {" -nlambda 1", "-nlambda takes a whole number from 2 to 1000, not \"1\""},
             {" -lambda-ratio 1", "-lambda-ratio takes a number above 0 and below 1, not \"1\""},
             {" -lambda 1 -nlambda 5", "-nlambda needs -lambda auto"}})
        EXPECT_EQ(runCommand(command + options), (Outcome{1, "", "error: " + message + "\n"})) << options;
}

// Eleven w over thirteen lambdas with errors between 0.38 and 0.49: every w
// drawn in a style of its own, no two lambda labels overlapping (12 px text
// is about 7 px a character), the error axis fitted to the data, and the
// majority-class line drawn. The confusion plot names its grid point.
TEST(Plots, CurveTellsEveryWApartWithReadableAxes)
{
    std::vector<float> ws, lambdas, averages;
    for (int v = 0; v <= 10; v++)
        ws.push_back(v / 10.0f);
    for (int l = 0; l < 13; l++)
        lambdas.push_back(std::pow(10.0f, -4 + l / 2.0f));
    std::vector<std::vector<float>> errors;
    for (std::size_t p = 0; p < ws.size() * lambdas.size(); p++) {
        averages.push_back(0.38f + (p % 12) / 100.0f);
        errors.push_back({averages.back(), averages.back()});
    }
    const std::string svg = curveSvg(summarise(ws, lambdas, errors, averages, 0), 0.45);
    const std::regex style("<polyline fill=\"none\" (stroke=\"[^\"]*\" stroke-width=\"1.5\"[^p]*)points");
    std::set<std::string> styles;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), style); m != std::sregex_iterator(); ++m)
        styles.insert((*m)[1]);
    EXPECT_EQ(styles.size(), 11u);
    const std::regex label("<text x=\"([0-9.]+)\" y=\"408.00\" text-anchor=\"middle\">([^<]*)</text>");
    double end = -1e9;
    int labels = 0;
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), label); m != std::sregex_iterator(); ++m, labels++) {
        const double x = std::stod((*m)[1]), half = 3.5 * (*m)[2].length();
        EXPECT_GT(x - half, end) << (*m)[2];
        end = x + half;
    }
    EXPECT_GE(labels, 5);
    const std::regex tick("text-anchor=\"end\">([0-9.]+)</text>");
    std::smatch first;
    ASSERT_TRUE(std::regex_search(svg, first, tick));
    EXPECT_EQ(first[1], "0.36"); // the lowest tick: 0.38 less a margin, not 0
    EXPECT_NE(svg.find("always the majority class: 0.45"), std::string::npos);
    // At most 8 ticks an axis, each of at most 3 significant digits.
    const std::regex yLabel("text-anchor=\"end\">([^<]*)</text>");
    const std::regex threeDigits("0|0\\.0*[1-9]{1,3}|[1-9][0-9]{0,2}|[1-9]\\.[0-9]{1,2}|[1-9]e[-+][0-9]+");
    for (const std::regex &axis : {yLabel, label}) {
        int ticks = 0;
        for (auto m = std::sregex_iterator(svg.begin(), svg.end(), axis); m != std::sregex_iterator(); ++m, ticks++) {
            const std::string value = (*m)[axis.mark_count() == 2 ? 2 : 1];
            EXPECT_TRUE(std::regex_match(value, threeDigits)) << value;
        }
        EXPECT_LE(ticks, 8);
    }
    // Grids of their own for each w share one axis of lambda / lambda_max;
    // the legend's longest line ends inside the drawing.
    const std::vector<std::vector<float>> gridOfW = {{1.5f, 0.15f, 0.015f}, {0.73f, 0.073f, 0.0073f}};
    const std::string relative = curveSvg(
        summarise({0.2f, 0.9f}, gridOfW, std::vector<std::vector<float>>(6, {0.3f, 0.2f}),
                  std::vector<float>(6, 0.25f), 0),
        0.5);
    EXPECT_NE(relative.find(">lambda / lambda_max of each w (log scale)</text>"), std::string::npos);
    EXPECT_NE(relative.find(">0.01</text>"), std::string::npos);
    std::smatch width, legend;
    ASSERT_TRUE(std::regex_search(relative, width, std::regex("width=\"([0-9.]+)\"")));
    ASSERT_TRUE(std::regex_search(relative, legend, std::regex("x=\"([0-9.]+)\" y=\"[0-9.]+\">(min [^<]*)</text>")));
    EXPECT_EQ(legend[2], "min (w 0.2, lambda 1.5)");
    EXPECT_LT(std::stod(legend[1]) + 7.0 * legend[2].length(), std::stod(width[1]));

    StudyNames names;
    names.classes = {"a rather long class name", "B"};
    const std::string confusion = confusionSvg({{3, 1}, {0, 4}}, names, "w 0.5, lambda 1 (min)");
    EXPECT_NE(confusion.find("Confusion matrix at w 0.5, lambda 1 (min)"), std::string::npos);
    EXPECT_NE(confusion.find("share of true class"), std::string::npos);
}

// The logs and the summary hold a run all or none: a summary that cannot be
// written takes the run out of the logs (so a rerun does not log it twice),
// and a label that would
// break the result log's line is refused.
TEST(OrvaneCv, LogsAndSummaryHoldARunAllOrNone)
{
    TempDir dir;
    const std::string command = tiny + " -s " + data + "bonly -p " + dir.path;
    for (const std::string log : {"log_detailed.txt", "log_avr.txt"})
        writeFile(dir.path + log, "earlier\n");
    if (std::filesystem::exists("/dev/full")) {
        std::filesystem::create_symlink("/dev/full", dir.path + "cv_summary.tsv");
        const Outcome full = runCommand(command);
        EXPECT_EQ(full.status, 1);
        EXPECT_NE(full.err.find("error: " + dir.path + "cv_summary.tsv: cannot write the file"), std::string::npos);
        for (const std::string log : {"log_detailed.txt", "log_avr.txt"})
            EXPECT_EQ(readFile(dir.path + log), "earlier\n") << log;
        EXPECT_FALSE(std::filesystem::exists(dir.path + "log_result.txt")); // it had none
        std::filesystem::remove(dir.path + "cv_summary.tsv");
    }
    for (const std::string label : {"a\tb", "a\nb"})
        EXPECT_EQ(runCommand(command + " -r '" + label + "'"),
                  (Outcome{1, "", "error: the label of the run (-r, or the sample table's name) holds a tab or a "
                                  "line break, which would break the result log's line\n"}));
}

// SIGTERM while the run is appended to its logs: the append finishes, the run
// is taken out again, and the program ends by the signal. The result log is
// a pipe kept full, so the append waits on it until the signal has come.
TEST(OrvaneCv, SigtermDuringTheAppendLeavesEveryLogAsItWas)
{
    TempDir dir;
    for (const std::string log : {"log_detailed.txt", "log_avr.txt"})
        writeFile(dir.path + log, "earlier\n");
    const std::string pipe = dir.path + "log_result.txt";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK), writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    const std::string block(4096, 'x');
    while (write(writer, block.data(), block.size()) > 0) // the pipe is full
        ;
    const pid_t child = start({cv, "-d", tx, "-l", ty, "-t", tt, "-n", "1", "-k", "2", "-s", data + "bonly", "-p", dir.path});
    for (int waited = 0; waited < 30000 && readFile(dir.path + "log_avr.txt") == "earlier\n"; waited++)
        usleep(1000);
    kill(child, SIGTERM);
    usleep(100000);
    char buffer[4096];
    for (int drained = 0; drained < 200; drained++) // unblocks the append
        if (read(reader, buffer, sizeof buffer) <= 0)
            usleep(1000);
    int status = 0;
    waitpid(child, &status, 0), close(reader), close(writer);
    EXPECT_EQ(exitStatus(status), 128 + SIGTERM);
    for (const std::string log : {"log_detailed.txt", "log_avr.txt"})
        EXPECT_EQ(readFile(dir.path + log), "earlier\n") << log;
    EXPECT_FALSE(std::filesystem::exists(dir.path + "cv_summary.tsv"));
}

// More threads than the address space allows: fewer threads fit the folds,
// or the run ends with one error line; never an abort, never a broken log.
TEST(OrvaneCv, ThreadsThatCannotStartNeverAbort)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
    TempDir dir;
    const Outcome run = runCommand("ulimit -v 400000; " + tiny + " -n 2 -s " + data + "bonly -p " + dir.path +
                                   " -w 0.2,0.5 -lambda 0.1,0.2,0.5,1,2,5,10,20,50,100 -j 300");
    if (run.status == 0) {
        EXPECT_EQ(linesOf(readFile(dir.path + "log_avr.txt")).size(), 20u);
    } else { // one error line, and no log
        EXPECT_EQ(std::make_pair(run.err.substr(run.err.rfind("error:")), std::filesystem::is_empty(dir.path)),
                  std::make_pair(std::string("error: out of memory while fitting the folds (try a smaller -j)\n"), true));
    }
}
