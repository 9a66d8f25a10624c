#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "helpers.h"
#include "model/Logistic.h"

namespace {

const std::string cv = ORVANE_CV;
const std::string folds = ORVANE_FOLDS;
const std::string example = " -d " + dataDir + "samples.txt -l " + dataDir + "labels.txt";

using List = std::vector<int>;

List readList(std::istream &in)
{
    std::string line;
    std::getline(in, line);
    std::istringstream words(line);
    List list;
    for (int index = 0; words >> index;)
        list.push_back(index);
    return list;
}

// Reads the blocks of a file written by Orvane-folds, checking their headers.
std::vector<std::pair<List, List>> readBlocks(const std::string &path, int nFolds)
{
    std::ifstream in(path);
    std::vector<std::pair<List, List>> blocks;
    std::string header;
    for (int fold = 0; fold < nFolds; fold++) {
        std::getline(in, header);
        EXPECT_EQ(header, "> " + std::to_string(fold));
        List test = readList(in);
        blocks.emplace_back(test, readList(in));
    }
    return blocks;
}

std::string format(float value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

TEST(OrvaneCv, ExampleFoldsLogEveryFoldAsTheModelScoresIt)
{
    TempDir dir;
    const Outcome made = run(folds + example + " -n 2 -k 5 -s " + dir.path + "sets -seed 11", dir);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out + made.err, "");
    const Outcome search = run(cv + example + " -t " + dataDir + "tree.tre -n 2 -k 5 -s " + dir.path +
                               "sets -p " + dir.path + " -r example",
                           dir);
    ASSERT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(search.out, "2\n" + dir.path + "log_detailed.txt\n2\ni 0\ni 1\n");
    EXPECT_EQ(search.err, "");

    // Every fold refitted here, straight from the sets files.
    const std::string x = dataDir + "samples.txt", y = dataDir + "labels.txt";
    std::string detailed = "xFileName:\t" + x + "\nyFileName:\t" + y + "\ntFileName:\t" + dataDir +
                           "tree.tre\nNTests:\t2\nKFold:\t5\nW\tLambda\ti\tj\terror\n";
    float sum = 0.0f;
    for (int i = 0; i < 2; i++) {
        const auto blocks = readBlocks(dir.path + "sets" + std::to_string(i) + ".txt", 5);
        for (int j = 0; j < 5; j++) {
            Logistic model(x, y, dataDir + "tree.tre", blocks[j].second);
            model.Train(1.0f);
            model.Learn(0.4f);
            const float error = model.Test(x, y, blocks[j].first);
            model.del();
            sum += error;
            detailed += "0.4\t1\t" + std::to_string(i) + "\t" + std::to_string(j) + "\t" +
                        format(error) + "\n";
        }
    }
    const std::string average = format(sum / 10.0f);
    detailed += "Avr:\t0.4\t1\t" + average + "\nBest Lambda:\t0.4\t1\t" + average + "\n";
    EXPECT_EQ(readFile(dir.path + "log_detailed.txt"), detailed);
    EXPECT_EQ(readFile(dir.path + "log_avr.txt"), "0.4\t1\t" + average + "\n");
    const std::string best = sum / 10.0f < 1.0f ? average : "1";
    EXPECT_EQ(readFile(dir.path + "log_result.txt"), "example\t0.4\t" + best + "\n");
}

TEST(OrvaneCv, AcceptsBlocksInAnyOrderWithCarriageReturns)
{
    TempDir dir;
    writeFile(dir.path + "sets0.txt", "# two folds\r\n> 1\r\n1 3\r\n0 2\r\n> 0\r\n0 2\r\n1 3");
    const std::string tiny = " -d " + dataDir + "tiny_samples.txt -l " + dataDir +
                             "tiny_labels.txt -t " + dataDir + "tiny_tree.tre";
    const Outcome search = run(cv + tiny + " -n 1 -k 2 -s " + dir.path + "sets -p " + dir.path +
                               " -w 0.2 -lambda 0.5,2",
                           dir);
    EXPECT_EQ(search.status, 0) << search.err;
    EXPECT_EQ(search.out, "1\n" + dir.path + "log_detailed.txt\n1\ni 0\n1\ni 0\n");
}

TEST(OrvaneCv, RejectsUnsoundInputsBeforeWritingAnyLog)
{
    const std::string good = "> 0\n0 2\n1 3\n> 1\n1 3\n0 2\n";
    struct Case {
        std::string sets;
        std::string options;
        std::string message; // after "error: "; {} stands for the scratch folder
    };
    const std::vector<Case> cases = {
        {"> 0\n0 2\n1 3\n", "", "{}sets0.txt: no block for fold 1"},
        {good + "> 2\n0\n1\n", "", "{}sets0.txt:7: fold number \"2\" is not from 0 to 1"},
        {good + "> 1\n0\n1\n", "", "{}sets0.txt:7: a second block for fold 1"},
        {">1\n0 2\n1 3\n",
         "", "{}sets0.txt:1: the block header has no fold number (write \"> FOLD\")"},
        {"> 0\n0 2 0\n1 3\n", "", "{}sets0.txt:2: sample index 0 appears twice in the test list"},
        {"> 0\n0 4\n1 3\n", "", "{}sets0.txt:2: \"4\" is not a sample index from 0 to 3"},
        {"> 0\n0 2\n1 2\n",
         "", "{}sets0.txt:3: sample index 2 is in both the test and the training list"},
        {"> 0\n\n0 1 2 3\n", "", "{}sets0.txt:2: the test list of fold 0 is empty"},
        {"> 0\n0 2\n1 3\n> 1\n1 3", "", "{}sets0.txt:4: the block of fold 1 has no training line"},
        {good, "-n 2", "{}sets1.txt: cannot open the file"},
        {good, "-k 1", "-k takes a whole number from 2 to 2147483647, not \"1\""},
        {good, "-n x", "-n takes a whole number from 1 to 2147483647, not \"x\""},
        {good, "-p {}missing/", "{}missing/log_detailed.txt: cannot open the file for appending"},
        {good, "-p {}x_", "{}x_log_avr.txt: cannot open the file for appending"},
        {good, "-w", "-w needs a value"},
        {good, "-q 1", "unknown option \"-q\" (see --help)"},
    };
    for (const Case &c : cases) {
        TempDir dir;
        const auto expand = [&](std::string text) {
            for (auto at = text.find("{}"); at != std::string::npos; at = text.find("{}"))
                text.replace(at, 2, dir.path);
            return text;
        };
        writeFile(dir.path + "sets0.txt", c.sets);
        std::filesystem::create_directory(dir.path + "x_log_avr.txt");
        const Outcome search = run(cv + " -d " + dataDir + "tiny_samples.txt -l " + dataDir +
                                   "tiny_labels.txt -t " + dataDir + "tiny_tree.tre -n 1 -k 2 -s " +
                                   dir.path + "sets -p " + dir.path + " " + expand(c.options),
                               dir);
        EXPECT_EQ(search.status, 1) << c.message;
        EXPECT_EQ(search.out, "") << c.message;
        EXPECT_EQ(search.err, "error: " + expand(c.message) + "\n");
        std::set<std::string> left;
        for (const auto &entry : std::filesystem::directory_iterator(dir.path))
            left.insert(entry.path().filename().string());
        EXPECT_EQ(left, (std::set<std::string>{"sets0.txt", "x_log_avr.txt"})) << c.message;
    }
    // The checks of a training run apply to the grid too.
    TempDir dir;
    const Outcome search = run(cv + example + " -t " + dataDir + "tree.tre -n 1 -k 2 -s " + dir.path +
                               "sets -p " + dir.path + " -w 0.4,abc",
                           dir);
    EXPECT_EQ(search.status, 1);
    EXPECT_EQ(search.err.rfind("error: ", 0), 0u) << search.err;
}

TEST(OrvaneFolds, FixedSeedGivesPinnedFiles)
{
    TempDir dir;
    const std::string seven =
        " -d " + dataDir + "seven_samples.txt -l " + dataDir + "seven_labels.txt -n 2 -k 3 -s ";
    const Outcome made = run(folds + seven + dir.path + "sets -seed 7", dir);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out + made.err, "");
    EXPECT_EQ(readFile(dir.path + "sets0.txt"),
              "> 0\n1 2 3\n0 4 5 6\n> 1\n5 6\n0 1 2 3 4\n> 2\n0 4\n1 2 3 5 6\n");
    EXPECT_EQ(readFile(dir.path + "sets1.txt"),
              "> 0\n0 1 4\n2 3 5 6\n> 1\n5 6\n0 1 2 3 4\n> 2\n2 3\n0 1 4 5 6\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "sets2.txt"));
    // Without -seed the seed is 1.
    ASSERT_EQ(run(folds + seven + dir.path + "default", dir).status, 0);
    EXPECT_EQ(readFile(dir.path + "default0.txt"),
              "> 0\n0 2 6\n1 3 4 5\n> 1\n1 5\n0 2 3 4 6\n> 2\n3 4\n0 1 2 5 6\n");

    // More folds than samples is refused, and nothing is written.
    const Outcome refused = run(folds + " -d " + dataDir + "seven_samples.txt -l " + dataDir +
                                "seven_labels.txt -n 1 -k 8 -s " + dir.path + "many",
                            dir);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "error: -k 8 asks for more folds than the 7 samples of " + dataDir +
                               "seven_samples.txt\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "many0.txt"));
}

TEST(OrvaneFolds, FoldsAreStratifiedAndHoldEverySampleOutOnce)
{
    TempDir dir;
    ASSERT_EQ(run(folds + example + " -n 3 -k 5 -s " + dir.path + "sets -seed 5", dir).status, 0);
    // Class of each sample of the example labels file (nine classes).
    const List classOf = {8, 8, 8, 1, 1, 7, 7, 7, 9, 9, 2, 2, 3, 3, 3,
                          5, 5, 5, 6, 6, 6, 1, 1, 4, 4, 4};
    std::set<std::string> distinct;
    for (int r = 0; r < 3; r++) {
        const std::string path = dir.path + "sets" + std::to_string(r) + ".txt";
        distinct.insert(readFile(path));
        List heldOut(26, 0);
        std::vector<List> perClass(10, List(5, 0));
        const auto blocks = readBlocks(path, 5);
        for (int fold = 0; fold < 5; fold++) {
            const List &test = blocks[fold].first;
            List complement;
            for (int s = 0; s < 26; s++)
                if (std::find(test.begin(), test.end(), s) == test.end())
                    complement.push_back(s);
            EXPECT_TRUE(std::is_sorted(test.begin(), test.end()));
            EXPECT_EQ(blocks[fold].second, complement);
            EXPECT_TRUE(test.size() == 5 || test.size() == 6) << test.size();
            for (const int s : test) {
                heldOut[s]++;
                perClass[classOf[s]][fold]++;
            }
        }
        EXPECT_EQ(heldOut, List(26, 1));
        for (const List &counts : perClass) // classes of 2 or 3 samples: at most one per fold
            EXPECT_LE(*std::max_element(counts.begin(), counts.end()), 1);
    }
    EXPECT_EQ(distinct.size(), 3u);
}

} // namespace
