// Tests of setSets, of the harness Testing and of the programs Orvane-cv and Orvane-folds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <new>
#include <optional>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "model/Logistic.h"
#include "tree/messages.h"
#include "validation/Progress.h"
#include "validation/Testing.h"
#include "validation_test_util.h"

namespace {

// Both lists start as {7}, which must stay first: setSets appends.
TEST(SetSets, ReadsEveryBlockOfAFoldAndAppendsToTheLists)
{
    using Lists = std::pair<List, List>; // test, training
    const auto readFold = [](int fold, const std::string &path) {
        Lists lists{{7}, {7}};
        setSets(fold, path, lists.first, lists.second);
        return lists;
    };
    const std::vector<std::pair<std::string, std::vector<Lists>>> cases = { // text, folds 0, 1, ...
        {"# f\n> 2\n5\n0 1\n\n> 0\n3 4\n0 1 2 5\n>\t1\n0 1\n2 3 4 5\n", {{{7, 3, 4}, {7, 0, 1, 2, 5}}, {{7, 0, 1}, {7, 2, 3, 4, 5}}, {{7, 5}, {7, 0, 1}}, {{7}, {7}}}},
        {"> 1\n3 4\n0\n> 0\n9\n9\n> 1\n5\n1 2\n", {{{7, 9}, {7, 9}}, {{7, 3, 4, 5}, {7, 0, 1, 2}}}}, // repeated blocks
        {"> 0\r\n\r\n0 1\r\n> 1\r\n2\t3 \r\n0 1", {{{7}, {7, 0, 1}}, {{7, 2, 3}, {7, 0, 1}}}},     // empty test line
        {">\n4\n", {{{7, 4}, {7}}}},               // ">" alone is fold 0; no training line adds nothing
        {"> 0\n>1 2\n3\n", {{{7, 0, 2}, {7, 3}}}}, // the two lines after a header are index lines
    };
    TempDir dir;
    for (const auto &[text, expected] : cases) {
        writeFile(dir.path + "sets0.txt", text);
        for (int fold = 0; fold < static_cast<int>(expected.size()); fold++)
            EXPECT_EQ(readFold(fold, dir.path + "sets0.txt"), expected[fold]) << text << fold;
    }
    EXPECT_EQ(readFold(0, dir.path + "absent.txt"), Lists({7}, {7})); // unreadable: adds nothing
    EXPECT_EQ(readFold(0, dir.path), Lists({7}, {7}));
}

// Trained on class A alone, the model calls every sample A, whatever w and lambda: holding out
// B samples only (bonly*.txt, wrong0.txt) gives error 1, an A and a B sample (half0.txt) 0.5.
TEST(Testing, LogsEveryFoldBreaksTiesBothWaysAndAppends)
{
    TempDir dir;
    std::optional<CapturedMessages> output; // the lines Orvane-cv prints
    output.emplace();
    Testing fixed(tx, ty, tt, 2, 2, data + "bonly", dir.path, "fixed"); // the fixed grid
    EXPECT_EQ(output->text, fill("2\n{dir}log_detailed.txt\n2\ni 0\ni 1\n", dir));
    EXPECT_EQ(fixed.logError, "");
    // Test at one more w: its lines follow the run's in the kept text, not in the logs.
    const std::string kept = fixed.detailedText;
    output.emplace();
    EXPECT_EQ(fixed.Test(tx, ty, tt, 0.7f), 1.0f);
    EXPECT_EQ(output->text, "2\ni 0\ni 1\n");
    std::string atW = fill(readFile(data + "fixed_detailed.txt"), dir);
    for (auto at = atW.find("0.4\t"); at != std::string::npos; at = atW.find("0.4\t"))
        atW.replace(at, 4, "0.7\t");
    EXPECT_EQ(fixed.detailedText, kept + atW);
    EXPECT_EQ(readFile(dir.path + "log_detailed.txt"), fill(readFile(data + "fixed_detailed.txt"), dir));
    EXPECT_EQ(readFile(dir.path + "log_avr.txt"), "0.4\t1\t1\n");
    EXPECT_EQ(readFile(dir.path + "log_result.txt"), "fixed\t0.4\t1\n");

    // Every grid point ties: the later lambda and the earlier w win. The second run appends.
    output.emplace();
    for (const std::string name : {"half", "wrong"})
        Testing(tx, ty, tt, 1, 1, data + name, dir.path + "cv_", name, {0.2f, 0.6f}, {0.5f, 2.0f});
    const std::string oneRun = fill("1\n{dir}cv_log_detailed.txt\n1\ni 0\n1\ni 0\n1\ni 0\n1\ni 0\n", dir);
    EXPECT_EQ(output->text, oneRun + oneRun);
    EXPECT_EQ(readFile(dir.path + "cv_log_detailed.txt"), fill(readFile(data + "ties_detailed.txt"), dir));
    EXPECT_EQ(readFile(dir.path + "cv_log_avr.txt"), readFile(data + "ties_avr.txt"));
    EXPECT_EQ(readFile(dir.path + "cv_log_result.txt"), "half\t0.2\t0.5\nwrong\t0.2\t1\n");

    output.reset(); // a log that cannot be opened: no log gets the run
    const Testing lost(tx, ty, tt, 1, 1, data + "half", dir.path + "missing/", "lost");
    EXPECT_EQ(lost.logError, dir.path + "missing/log_detailed.txt: cannot open the log for appending "
                                        "(No such file or directory)");
}

TEST(OrvaneCv, ExampleFoldsLogEveryFoldAsTheModelScoresIt)
{
    TempDir dir;
    const std::string x = data + "samples.txt", y = data + "labels.txt", t = data + "tree.tre";
    ASSERT_EQ(runCommand(folds + example + " -n 2 -k 5 -s " + dir.path + "sets -seed 11"), (Outcome{0, "", ""}));
    const Outcome outcome = runCommand(cv + example + " -t " + t + " -n 2 -k 5 -s " + dir.path + "sets -p " + dir.path + " -r example -v");
    std::ostringstream detailed, average, result, progress; // every fold refitted here from the sets files
    detailed << "xFileName:\t" << x << "\nyFileName:\t" << y << "\ntFileName:\t" << t
             << "\nNTests:\t2\nKFold:\t5\nW\tLambda\ti\tj\terror\n";
    float sum = 0.0f;
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 5; j++) {
            List test, train;
            setSets(j, dir.path + "sets" + std::to_string(i) + ".txt", test, train);
            Logistic model(x, y, t, train);
            model.Train(1.0f);
            model.Learn(0.4f);
            const float error = model.Test(x, y, test);
            model.del();
            sum += error;
            detailed << "0.4\t1\t" << i << '\t' << j << '\t' << error << '\n';
            progress << "fit " << i * 5 + j + 1 << " of 10 done: w 0.4, lambda 1, repetition " << i << ", fold " << j << '\n';
        }
    // -v: a line per fit, then the two choices, here the one point of the grid.
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, fill("2\n{dir}log_detailed.txt\n2\ni 0\ni 1\n", dir));
    std::ostringstream mean;
    mean << sum / 10.0f;
    const std::string chosen = ": w 0.4, lambda 1, cross-validation error " + mean.str() + " \\(standard error [0-9.e-]+\\)\n";
    EXPECT_TRUE(std::regex_match(outcome.err, std::regex(std::regex_replace(progress.str(), std::regex("[.()]"), "\\$&") +
                                                         "chosen \\(min\\)" + chosen + "chosen \\(1se\\)" + chosen)))
        << outcome.err;
    average << "0.4\t1\t" << sum / 10.0f << '\n';
    detailed << "Avr:\t" << average.str() << "Best Lambda:\t" << average.str();
    result << "example\t0.4\t" << std::min(sum / 10.0f, 1.0f) << '\n';
    EXPECT_EQ(readFile(dir.path + "log_detailed.txt"), detailed.str());
    EXPECT_EQ(readFile(dir.path + "log_avr.txt"), average.str());
    EXPECT_EQ(readFile(dir.path + "log_result.txt"), result.str());
}

// One line per case: the sets file, more options, and the message after "error: ".
TEST(OrvaneCv, AcceptsSoundSetsAndRejectsUnsoundInputsBeforeWritingAnyLog)
{
    const std::string good = "> 0\n0 2\n1 3\n> 1\n1 3\n0 2\n";
    const std::vector<std::array<std::string, 3>> cases = {
        {"> 0\n0 2\n1 3\n", "", "{dir}sets0.txt: no block for fold 1"},
        {good + "> 2\n0\n1\n", "", "{dir}sets0.txt:7: fold number \"2\" is not from 0 to 1"},
        {good + "> 1\n0\n1\n", "", "{dir}sets0.txt:7: a second block for fold 1"},
        {">1\n0 2\n1 3\n", "", "{dir}sets0.txt:1: the block header has no fold number (write \"> FOLD\")"},
        {"> 0\n0 2 0\n1 3\n", "", "{dir}sets0.txt:2: sample index 0 appears twice in the test list"},
        {"> 0\n0 4\n1 3\n", "", "{dir}sets0.txt:2: \"4\" is not a sample index from 0 to 3"},
        {"> 0\n0 2\n1 2\n", "", "{dir}sets0.txt:3: sample index 2 is in both the test and the training list"},
        {"> 0\n\n0 1 2 3\n", "", "{dir}sets0.txt:2: the test list of fold 0 is empty"},
        {"> 0\n0 2\n1 3\n> 1\n1 3", "", "{dir}sets0.txt:4: the block of fold 1 has no training line"},
        {good, "-n 2", "{dir}sets1.txt: cannot open the file"},
        {good, "-k 1", "-k takes a whole number from 2 to 2147483647, not \"1\""},
        {good, "-n x", "-n takes a whole number from 1 to 2147483647, not \"x\""},
        {good, "-p {dir}missing/", "{dir}missing/log_detailed.txt: cannot open the file for appending"},
        {good, "-p {dir}x_", "{dir}x_log_avr.txt: cannot open the file for appending"},
        {good, "-w", "-w needs a value"},
        {good, "-w 0.4,abc", "-w value 'abc' is not a number"},
        {good, "-q 1", "unknown option \"-q\" (see --help)"},
    };
    for (const auto &[sets, options, message] : cases) {
        TempDir dir;
        writeFile(dir.path + "sets0.txt", sets);
        std::filesystem::create_directory(dir.path + "x_log_avr.txt");
        EXPECT_EQ(runCommand(tiny + " -s " + dir.path + "sets -p " + dir.path + " " + fill(options, dir)),
                  (Outcome{1, "", "error: " + fill(message, dir) + "\n"}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2) << message; // no log
    }
    TempDir dir; // blocks in any order, carriage returns and no final newline are sound
    writeFile(dir.path + "sets0.txt", "# two folds\r\n> 1\r\n1 3\r\n0 2\r\n> 0\r\n0 2\r\n1 3");
    EXPECT_EQ(runCommand(tiny + " -s " + dir.path + "sets -p " + dir.path + " -w 0.2 -lambda 0.5,2 -v"),
              (Outcome{0, fill("1\n{dir}log_detailed.txt\n1\ni 0\n1\ni 0\n", dir),
                       "fit 1 of 4 done: w 0.2, lambda 0.5, repetition 0, fold 0\n"
                       "fit 2 of 4 done: w 0.2, lambda 0.5, repetition 0, fold 1\n"
                       "fit 3 of 4 done: w 0.2, lambda 2, repetition 0, fold 0\n"
                       "fit 4 of 4 done: w 0.2, lambda 2, repetition 0, fold 1\n"
                       "warning: the min choice (w 0.2, lambda 0.5) is the grid's smallest lambda and no lambda "
                       "inside the grid does as well: try lambda below 0.5\n"
                       "warning: the 1se choice (w 0.2, lambda 0.5) is the grid's smallest lambda and no lambda "
                       "inside the grid does as well: try lambda below 0.5\n"
                       "chosen (min): w 0.2, lambda 0.5, cross-validation error 0 (standard error 0)\n"
                       "chosen (1se): w 0.2, lambda 0.5, cross-validation error 0 (standard error 0)\n"}));
}

TEST(OrvaneFolds, FixedSeedGivesPinnedStratifiedFilesAndTooManyFoldsAreRefused)
{
    TempDir dir;
    const std::string seven = folds + " -d " + data + "seven_samples.txt -l " + data + "seven_labels.txt -n ";
    ASSERT_EQ(runCommand(seven + "2 -k 3 -s " + dir.path + "sets -seed 7"), (Outcome{0, "", ""}));
    EXPECT_EQ(readFile(dir.path + "sets0.txt"), "> 0\n1 2 3\n0 4 5 6\n> 1\n5 6\n0 1 2 3 4\n> 2\n0 4\n1 2 3 5 6\n");
    EXPECT_EQ(readFile(dir.path + "sets1.txt"), "> 0\n0 1 4\n2 3 5 6\n> 1\n5 6\n0 1 2 3 4\n> 2\n2 3\n0 1 4 5 6\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "sets2.txt"));
    ASSERT_EQ(runCommand(seven + "2 -k 3 -s " + dir.path + "default"), (Outcome{0, "", ""})); // seed 1
    EXPECT_EQ(readFile(dir.path + "default0.txt"), "> 0\n0 2 6\n1 3 4 5\n> 1\n1 5\n0 2 3 4 6\n> 2\n3 4\n0 1 2 5 6\n");
    EXPECT_EQ(runCommand(seven + "1 -k 8 -s " + dir.path + "many"),
              (Outcome{1, "", fill("error: -k 8 asks for more folds than the 7 samples of {data}seven_samples.txt\n", dir)}));
    EXPECT_FALSE(std::filesystem::exists(dir.path + "many0.txt"));
    ASSERT_EQ(runCommand(folds + example + " -n 3 -k 5 -s " + dir.path + "strat -seed 5"), (Outcome{0, "", ""}));
    // Stratified: each sample held out once per repetition, and each of the nine classes of
    // the example (2 or 3 samples each, as below) at most once per fold.
    const List classOf = {8, 8, 8, 1, 1, 7, 7, 7, 9, 9, 2, 2, 3, 3, 3, 5, 5, 5, 6, 6, 6, 1, 1, 4, 4, 4};
    std::set<std::string> distinct;
    for (int r = 0; r < 3; r++) {
        const std::string path = dir.path + "strat" + std::to_string(r) + ".txt";
        distinct.insert(readFile(path));
        List heldOut(26, 0), everyone(26);
        std::iota(everyone.begin(), everyone.end(), 0);
        for (int fold = 0; fold < 5; fold++) {
            List test, train, merged, perClass(10, 0);
            setSets(fold, path, test, train);
            std::merge(test.begin(), test.end(), train.begin(), train.end(), std::back_inserter(merged));
            EXPECT_EQ(merged, everyone) << readFile(path); // both ascending, apart, and complete
            EXPECT_TRUE(test.size() == 5 || test.size() == 6) << readFile(path);
            for (const int s : test)
                heldOut[s]++, perClass[classOf[s]]++;
            EXPECT_LE(*std::max_element(perClass.begin(), perClass.end()), 1);
        }
        EXPECT_EQ(heldOut, List(26, 1));
    }
    EXPECT_EQ(distinct.size(), 3u);
}

} // namespace

namespace {

// A sample table of one line per group entry, its labels, and a groups
// file naming each sample line (from 1) with its group.
void writeGroupedStudy(const TempDir &dir, const std::vector<std::string> &groups,
                       const std::string &labels)
{
    std::string samples, groupsText = "line\tgroup\n";
    for (size_t i = 1; i <= groups.size(); i++) {
        samples += std::to_string(i) + "\t1\t2\n";
        groupsText += std::to_string(i) + "\t" + groups[i - 1] + "\n";
    }
    writeFile(dir.path + "s.txt", samples);
    writeFile(dir.path + "l.txt", labels);
    writeFile(dir.path + "g.tsv", groupsText);
}

std::string groupFolds(const TempDir &dir, const std::string &options)
{
    return folds + " -d " + dir.path + "s.txt -l " + dir.path + "l.txt -g " + dir.path + "g.tsv " +
           options + " -s " + dir.path + "sets";
}

TEST(OrvaneFolds, GroupsStayWholeAndClassesAreSpreadAsTheGroupsAllow)
{
    TempDir dir;
    // Three pairs of each class in three folds: every fold gets one of each,
    // whatever the seed; the pairs are named out of line order.
    writeGroupedStudy(dir, {"a", "a", "c", "c", "b", "b", "e", "e", "d", "d", "f", "f"},
                      ">A\n1 2 3 4 5 6\n>B\n7 8 9 10 11 12\n");
    for (const std::string seed : {"1", "2", "99"}) {
        ASSERT_EQ(runCommand(groupFolds(dir, "-n 3 -k 3 -seed " + seed)), (Outcome{0, "", ""}));
        for (int r = 0; r < 3; r++) {
            for (int fold = 0; fold < 3; fold++) {
                List test, train;
                setSets(fold, dir.path + "sets" + std::to_string(r) + ".txt", test, train);
                ASSERT_EQ(test.size(), 4u);
                EXPECT_TRUE(test[0] % 2 == 0 && test[1] == test[0] + 1 && test[0] < 6) << seed;
                EXPECT_TRUE(test[2] % 2 == 0 && test[3] == test[2] + 1 && test[2] >= 6) << seed;
            }
        }
    }
    EXPECT_NE(readFile(dir.path + "sets0.txt"), readFile(dir.path + "sets1.txt"));

    // A class without samples, listed first or last, has no share to spread:
    // ten pairs of each of two classes still give four folds of ten, and
    // groups of mixed classes and sizes the folds drawn without that class.
    const auto withEmptyClass = [](const std::string &a, const std::string &b) {
        return std::vector<std::string>{">A\n" + a + "\n>B\n" + b + "\n",
                                        ">none\n\n>A\n" + a + "\n>B\n" + b + "\n",
                                        ">A\n" + a + "\n>B\n" + b + "\n>none\n\n"};
    };
    std::vector<std::string> pairs, mixed;
    std::string pairsA, pairsB, mixedA, mixedB;
    for (int i = 0; i < 40; i++) {
        pairs.push_back("p" + std::to_string(i / 2));
        mixed.push_back("m" + std::to_string((i * i + i / 5) % 10));
        std::string &pairClass = i / 2 % 2 ? pairsB : pairsA, &mixedClass = i * 7 / 3 % 2 ? mixedB : mixedA;
        pairClass += (pairClass.empty() ? "" : " ") + std::to_string(i + 1);
        mixedClass += (mixedClass.empty() ? "" : " ") + std::to_string(i + 1);
    }
    for (const std::string &labels : withEmptyClass(pairsA, pairsB)) {
        writeGroupedStudy(dir, pairs, labels);
        ASSERT_EQ(runCommand(groupFolds(dir, "-n 1 -k 4 -seed 3")), (Outcome{0, "", ""})) << labels;
        for (int fold = 0; fold < 4; fold++) {
            List test, train;
            setSets(fold, dir.path + "sets0.txt", test, train);
            EXPECT_EQ(test.size(), 10u) << labels << "fold " << fold;
        }
    }
    std::string drawnWithout;
    for (const std::string &labels : withEmptyClass(mixedA, mixedB)) {
        writeGroupedStudy(dir, mixed, labels);
        ASSERT_EQ(runCommand(groupFolds(dir, "-n 1 -k 4 -seed 3")), (Outcome{0, "", ""})) << labels;
        if (drawnWithout.empty())
            drawnWithout = readFile(dir.path + "sets0.txt");
        EXPECT_EQ(readFile(dir.path + "sets0.txt"), drawnWithout) << labels;
    }

    // A group of three A, three single A, a B pair and a single B in two
    // folds: the big group goes first (fold 0), the B pair next (to fold 1,
    // the emptier), each single A to fold 1 and the single B to fold 0,
    // whatever the order of the singles.
    writeGroupedStudy(dir, {"big", "big", "big", "x", "y", "z", "pair", "one", "pair"},
                      ">A\n1 2 3 4 5 6\n>B\n7 8 9\n");
    for (const std::string seed : {"1", "5"}) {
        ASSERT_EQ(runCommand(groupFolds(dir, "-n 1 -k 2 -seed " + seed)), (Outcome{0, "", ""}));
        EXPECT_EQ(readFile(dir.path + "sets0.txt"),
                  "> 0\n0 1 2 7\n3 4 5 6 8\n> 1\n3 4 5 6 8\n0 1 2 7\n");
    }
}

TEST(OrvaneFolds, GroupsFileIsCheckedBeforeAnyFileIsWritten)
{
    TempDir dir;
    writeGroupedStudy(dir, {"a", "a", "b"}, ">A\n1 2\n>B\n3\n");
    const std::string g = dir.path + "g.tsv", s = dir.path + "s.txt";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"line\tgroup\n1\ta\n2\ta\n3\tb\n", "-k 3 asks for more folds than the 2 groups of " + g},
        {"sample\tgroup\n", g + ":1: the header must be 'line<TAB>group'"},
        {"line\tgroup\n1\ta\n3\tb\n1\tc\n", g + ":4: sample line 1 is listed twice (first on line 2)"},
        {"line\tgroup\n1\ta\n4\tb\n", g + ":3: sample line '4' is not a whole number from 1 to 3 (the samples of " + s + ")"},
        {"line\tgroup\n3\ta\n\n1\tb\n", g + ": lists 2 sample lines, but " + s + " holds 3 samples (sample line 2 is missing)"},
    };
    for (const auto &[text, message] : cases) {
        writeFile(g, text);
        EXPECT_EQ(runCommand(groupFolds(dir, "-n 1 -k 3")), (Outcome{1, "", "error: " + message + "\n"}));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path + "sets0.txt"));
    // An empty group is no group: sample line 2 is a group of its own, and
    // being of one class (group a holds one of each) it is placed first, in fold 0.
    writeFile(g, "line\tgroup\n1\ta\n2\t\n3\ta\n");
    EXPECT_EQ(runCommand(groupFolds(dir, "-n 1 -k 3")).err,
              "error: -k 3 asks for more folds than the 2 groups of " + g + "\n");
    ASSERT_EQ(runCommand(groupFolds(dir, "-n 1 -k 2")), (Outcome{0, "", ""}));
    EXPECT_EQ(readFile(dir.path + "sets0.txt"), "> 0\n1\n0 2\n> 1\n0 2\n1\n");
}

} // namespace

// A fit that fails (out of memory, say) reaches whoever asks for its result,
// on one thread or several, and is never read as a fit with no errors.
TEST(FitQueue, AFailedFitIsRethrownNeverScored)
{
    for (const int jobs : {1, 3}) {
        std::vector<FitTask> tasks;
        for (int t = 0; t < 6; t++)
            tasks.push_back({0.5f, 1.0f, 0, t});
        FitQueue queue(tasks, jobs,
                       [](const FitTask &task) {
                           if (task.fold == 3)
                               throw std::bad_alloc();
                           return FitResult{0.25f, {task.fold}, {}, {}};
                       },
                       nullptr);
        for (std::size_t t = 0; t < 3; t++)
            EXPECT_EQ(queue.result(t).predicted, std::vector<int>{static_cast<int>(t)}) << jobs;
        EXPECT_THROW(queue.result(3), std::bad_alloc) << jobs;
        EXPECT_EQ(queue.result(5).error, 0.25f) << jobs;
    }
}

// The per-fit lines of a long run: a line every tenth of a stage's fits when
// standard error is a file, one line rewritten in place on a terminal, every
// line with -v; the time left is the time so far scaled by the fits to come,
// and any other line passes through whole.
TEST(Progress, TenthsInPlaceAndEveryFit)
{
    double now = 0;
    const auto clock = [&now] { return now; };
    std::ostringstream tenths;
    {
        ProgressLines lines(tenths, ProgressLines::Mode::Tenths, clock);
        std::ostream out(&lines);
        for (int n = 1; n <= 20; n++) {
            now = 3 * n;
            out << "fit " << n << " of 20 done: w 0.4, lambda 1, repetition 0, fold " << n % 5 << '\n';
        }
        out << "warning: kept whole\n";
        now = 100;
        out << "outer fit 1 of 2 done\n";
        now = 3785;
        out << "outer fit 2 of 2 done" << std::flush;
    }
    EXPECT_EQ(tenths.str(), "fits: 1 of 20 done, 0:03 elapsed, about 0:57 left\n"
                            "fits: 2 of 20 done, 0:06 elapsed, about 0:54 left\n"
                            "fits: 4 of 20 done, 0:12 elapsed, about 0:48 left\n"
                            "fits: 6 of 20 done, 0:18 elapsed, about 0:42 left\n"
                            "fits: 8 of 20 done, 0:24 elapsed, about 0:36 left\n"
                            "fits: 10 of 20 done, 0:30 elapsed, about 0:30 left\n"
                            "fits: 12 of 20 done, 0:36 elapsed, about 0:24 left\n"
                            "fits: 14 of 20 done, 0:42 elapsed, about 0:18 left\n"
                            "fits: 16 of 20 done, 0:48 elapsed, about 0:12 left\n"
                            "fits: 18 of 20 done, 0:54 elapsed, about 0:06 left\n"
                            "fits: 20 of 20 done, 1:00 elapsed\n"
                            "warning: kept whole\n"
                            "outer fits: 1 of 2 done, 0:40 elapsed, about 0:40 left\n"
                            "outer fits: 2 of 2 done, 1:02:05 elapsed\n");

    const std::string fits[] = {"fit 1 of 3 done: w 1, lambda 2, repetition 0, fold 0\n",
                                "fit 2 of 3 done: w 1, lambda 2, repetition 0, fold 1\n",
                                "fit 3 of 3 done: w 1, lambda 2, repetition 0, fold 2\n"};
    std::ostringstream inPlace, every;
    for (std::ostringstream *shown : {&inPlace, &every}) {
        now = 0;
        ProgressLines lines(*shown, shown == &inPlace ? ProgressLines::Mode::InPlace : ProgressLines::Mode::EveryFit,
                            clock);
        std::ostream out(&lines);
        now = 2;
        out << fits[0] << "warning: between\n";
        now = 4;
        out << fits[1];
        now = 63;
        out << fits[2];
    }
    EXPECT_EQ(inPlace.str(), "\rfits: 1 of 3 done, 0:02 elapsed, about 0:04 left\n"
                             "warning: between\n"
                             "\rfits: 2 of 3 done, 0:04 elapsed, about 0:02 left"
                             "\rfits: 3 of 3 done, 1:03 elapsed" + std::string(17, ' ') + "\n");
    EXPECT_EQ(every.str(), fits[0] + "warning: between\n" + fits[1] + fits[2]);
}
