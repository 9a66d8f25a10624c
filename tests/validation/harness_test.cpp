#include <gtest/gtest.h>

#include "helpers.h"
#include "validation/Testing.h"

namespace {

const std::string samples = dataDir + "tiny_samples.txt";
const std::string labels = dataDir + "tiny_labels.txt";
const std::string tree = dataDir + "tiny_tree.tre";

std::string header(int nTests, int kFold)
{
    return "xFileName:\t" + samples + "\nyFileName:\t" + labels + "\ntFileName:\t" + tree +
           "\nNTests:\t" + std::to_string(nTests) + "\nKFold:\t" + std::to_string(kFold) +
           "\nW\tLambda\ti\tj\terror\n";
}

// Trained on class A alone, the model calls every sample A: the fold of
// sets file wrong0.txt holds out only B samples (error 1), that of half0.txt
// one A and one B sample (error 0.5), whatever w and lambda are.
TEST(Testing, FixedGridRunsEveryFoldAndLogsTheWorstErrorAsFirstW)
{
    TempDir dir;
    const std::string sets = "> 1\n2 3\n0 1\n> 0\n3 2\n1 0\n";
    writeFile(dir.path + "sets0.txt", sets);
    writeFile(dir.path + "sets1.txt", sets);
    testing::internal::CaptureStdout();
    const Testing search(samples, labels, tree, 2, 2, dir.path + "sets", dir.path, "fixed");
    const std::string progress = testing::internal::GetCapturedStdout();

    EXPECT_EQ(search.setsFileNames, (std::vector<std::string>{dir.path + "sets0.txt",
                                                               dir.path + "sets1.txt"}));
    EXPECT_EQ(search.Ws, std::vector<float>{0.4f});
    EXPECT_EQ(search.Lambdas, std::vector<float>{1.0f});
    EXPECT_EQ(progress, "2\n" + dir.path + "log_detailed.txt\n2\ni 0\ni 1\n");
    EXPECT_EQ(readFile(dir.path + "log_detailed.txt"),
              header(2, 2) + "0.4\t1\t0\t0\t1\n0.4\t1\t0\t1\t1\n0.4\t1\t1\t0\t1\n0.4\t1\t1\t1\t1\n"
                             "Avr:\t0.4\t1\t1\nBest Lambda:\t0.4\t1\t1\n");
    EXPECT_EQ(readFile(dir.path + "log_avr.txt"), "0.4\t1\t1\n");
    EXPECT_EQ(readFile(dir.path + "log_result.txt"), "fixed\t0.4\t1\n");
}

// Every grid point ties: the later lambda and the earlier w win. A second
// run with the same log prefix appends after the first.
TEST(Testing, TiesGoToTheLaterLambdaAndTheEarlierWAndRunsAppend)
{
    TempDir dir;
    const std::string logs = dir.path + "cv_";
    testing::internal::CaptureStdout();
    Testing(samples, labels, tree, 1, 1, dataDir + "half", logs, "half", {0.2f, 0.6f},
            {0.5f, 2.0f});
    Testing(samples, labels, tree, 1, 1, dataDir + "wrong", logs, "wrong", {0.2f, 0.6f},
            {0.5f, 2.0f});
    const std::string progress = testing::internal::GetCapturedStdout();

    std::string detailed;
    std::string averages;
    for (const std::string error : {"0.5", "1"})
        for (const std::string w : {"0.2", "0.6"}) {
            detailed += header(1, 1);
            for (const std::string lambda : {"0.5", "2"}) {
                detailed += w + "\t" + lambda + "\t0\t0\t" + error + "\n";
                detailed += "Avr:\t" + w + "\t" + lambda + "\t" + error + "\n";
                averages += w + "\t" + lambda + "\t" + error + "\n";
            }
            detailed += "Best Lambda:\t" + w + "\t2\t" + error + "\n";
        }
    const std::string oneRun = "1\n" + logs + "log_detailed.txt\n1\ni 0\n1\ni 0\n1\ni 0\n1\ni 0\n";
    EXPECT_EQ(progress, oneRun + oneRun);
    EXPECT_EQ(readFile(logs + "log_detailed.txt"), detailed);
    EXPECT_EQ(readFile(logs + "log_avr.txt"), averages);
    EXPECT_EQ(readFile(logs + "log_result.txt"), "half\t0.2\t0.5\nwrong\t0.2\t1\n");
}

} // namespace
