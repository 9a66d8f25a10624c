// Black-box tests: the Orvane program run on small files in a fresh folder.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>


#include "app/inputs.h"

#include "../test_support.h"

namespace {

const std::string kTrain = "-train -d samples.txt -l labels.txt -t tree.tre ";
const std::string kTest = "-test -d samples3.txt -c model3.txt ";
const std::string kInvalid = "Invalid arguments, please try again\n";
const std::string kConflict = "Please, use either training or testing mode.\n";

using Result = RunResult;

class Orvane : public InTempFolder {
protected:
    void SetUp() override { fs::copy(fs::path(TEST_DATA_DIR) / "app", dir); }

    Result run(const std::string &args) const { return shell("'" ORVANE_PROGRAM "' " + args); }

    // A run that must fail with exactly `err`, creating and changing no file.
    void expectFailure(const std::string &args, const std::string &err)
    {
        const auto before = snapshot();
        EXPECT_EQ(run(args), (Result{1, "", err})) << args;
        EXPECT_EQ(snapshot(), before) << args;
    }

    // The model file's sizes, then the sign of each coefficient as +, - or 0.
    std::string signsOf(const std::string &modelFile) const
    {
        std::istringstream model(readFile(dir / modelFile));
        std::string text, field;
        for (int i = 0; i < 2 && model >> field; i++)
            text += field + " ";
        for (float value = 0; model >> value;)
            text += value > 0 ? '+' : value < 0 ? '-' : '0';
        return text;
    }
};

TEST_F(Orvane, HelpAndArgumentScan)
{
    const std::string help = readFile(dir / "help.txt");
    EXPECT_EQ(run(""), (Result{0, help, ""}));
    EXPECT_EQ(run("--help"), (Result{0, "123\n" + help, ""}));
    EXPECT_EQ(run("-h"), (Result{0, help, ""}));
    EXPECT_EQ(run("help"), (Result{1, kInvalid, ""}));
    EXPECT_EQ(run("--help -x"), (Result{1, "123\n" + kInvalid, ""}));
    EXPECT_EQ(run("-o"), (Result{1, kInvalid, ""}));
    EXPECT_EQ(run("-train -d samples.txt -o"), (Result{1, kInvalid, ""}));
    EXPECT_EQ(run("-train -test"), (Result{1, kConflict, ""}));
    EXPECT_EQ(run(kTest + "-o out.txt -train"), (Result{1, kConflict, ""}));
    EXPECT_EQ(run("-d -test"), (Result{0, "", ""}));
    EXPECT_EQ(run("-d samples.txt -o out.txt"), (Result{0, "", ""}));
    EXPECT_FALSE(fs::exists(dir / "out.txt"));
    // "--help" between the modes resets the mode: testing runs, without help text.
    EXPECT_EQ(run("-train --help -test -d samples3.txt -o out.txt"),
              (Result{1, "123\n", "error: missing option -c (model file)\n"}));
}

TEST_F(Orvane, TrainingWithLargeLambdaKeepsEveryCoefficientZero)
{
    // With w = 1 the penalty is lambda * |beta| for each coefficient. At beta = 0
    // every slope of the loss is at most 4 samples * 0.6 * 0.5, far below lambda = 100.
    EXPECT_EQ(run("--help -train -train " + kTrain + "-w 1 -lambda 100 -o model.txt"),
              (Result{0, "123\n", ""}));
    EXPECT_EQ(readFile(dir / "model.txt"), "2 3\n0 0 0 \n0 0 0 \n");
}

TEST_F(Orvane, ConvergedSolverReachesTheHandComputedMinimum)
{
    // With w = 1 the penalty is lambda times the sum of |beta|. Feature 2 is 0.2
    // in every row and carries nothing; features 0 and 1 enter as a difference
    // d of the two classes' coefficients, d for feature 0 and -d for feature 1,
    // costing lambda |d| each. The loss 4 log(1 + exp(-0.4 d)) plus 2 lambda d
    // is least where sigmoid(-0.4 d) = 1.25 lambda: nothing up to lambda = 0.4,
    // and d = 2.5 log(5/3) at lambda = 0.3.
    const std::string converged = kTrain + "-w 1 -solver converged ";
    EXPECT_EQ(run(converged + "-lambda 0.4 -o zero.txt"), (Result{0, "", ""}));
    EXPECT_EQ(readFile(dir / "zero.txt"), "2 3\n0 0 0 \n0 0 0 \n");

    const Result verbose = run(converged + "-lambda 0.3 -tol 1e-9 -v -o model.txt");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_TRUE(std::regex_match(verbose.err, std::regex("converged solver: relative duality gap "
                                                         "[0-9.e-]+ after [0-9]+ iterations, "
                                                         "objective [0-9.]+\n")))
        << verbose.err;
    double b[8] = {}; // C, M, then the coefficients
    std::istringstream(readFile(dir / "model.txt")) >> b[0] >> b[1] >> b[2] >> b[3] >> b[4] >> b[5] >> b[6] >> b[7];
    EXPECT_NEAR(b[2] - b[5], 2.5 * std::log(5.0 / 3), 1e-4);
    EXPECT_NEAR(b[3] - b[6], -2.5 * std::log(5.0 / 3), 1e-4);
    EXPECT_EQ(signsOf("model.txt"), "2 3 +-0-+0");

    // The same bytes on every run.
    EXPECT_EQ(run(converged + "-lambda 0.3 -tol 1e-9 -o again.txt"), (Result{0, "", ""}));
    EXPECT_EQ(readFile(dir / "again.txt"), readFile(dir / "model.txt"));
}

// A small lambda on 60 samples of 40 features, where the step's curvature
// estimate once grew without bound and the fit never returned.
TEST_F(Orvane, ConvergedSolverReturnsAtSmallLambda)
{
    std::string samples, labels[3], tree = "0";
    for (int j = 1; j < 40; j++)
        tree = "(" + tree + ":1," + std::to_string(j) + ":1)";
    for (int i = 0; i < 60; i++) {
        samples += std::to_string(i + 1);
        for (int j = 0; j < 40; j++)
            samples += "\t" + std::to_string((i * 13 + j * 7) % 11 < 5 ? 0 : (i * 31 + j * 17) % 50 + 1);
        samples += "\n";
        labels[(i * 5 + i / 7) % 3] += std::to_string(i + 1) + " ";
    }
    writeFile(dir / "s60.txt", samples);
    writeFile(dir / "l60.txt", ">a\n" + labels[0] + "\n>b\n" + labels[1] + "\n>c\n" + labels[2] + "\n");
    writeFile(dir / "t60.tre", tree + ";\n");
    for (const std::string lambda : {"1e-4", "3e-5", "1e-7"}) {
        const Result result = run("-train -d s60.txt -l l60.txt -t t60.tre -w 1 -lambda " + lambda +
                                  " -solver converged -o m60.txt");
        EXPECT_EQ(result, (Result{0, "", ""})) << lambda;
    }
}

TEST_F(Orvane, TrainingFindsTheSignsAndTestingUsesTheModel)
{
    // Class 1 holds three times as much of feature 0 as of feature 1, class 2
    // the reverse; feature 2 is no leaf of the tree, so its coefficients stay 0.
    EXPECT_EQ(run("-train -d nowhere.txt -d samples.txt -l labels.txt -t tree_two.tre -c ignored "
                  "-w 1 -lambda 0.1 -o model.txt"),
              (Result{0, "", ""}));
    EXPECT_EQ(signsOf("model.txt"), "2 3 +-0-+0");
    EXPECT_EQ(run("-test -d samples.txt -c model.txt -o result.txt"), (Result{0, "", ""}));
    EXPECT_EQ(readFile(dir / "result.txt"), "1\n1\n2\n2\n");
}

TEST_F(Orvane, TrainingAcceptsWhatTheChecksAllow)
{
    // The defaults are w = 0.5 and lambda = 1; empty lines may follow the last
    // sample; a class may have no members; -w -1 and -2 use the branch lengths.
    EXPECT_EQ(run(kTrain + "-o defaults.txt").status, 0);
    EXPECT_EQ(run("-train -d samples_trailing.txt -l labels.txt -t tree.tre -w 0.5 -lambda 1 "
                  "-o explicit.txt").status, 0);
    EXPECT_EQ(readFile(dir / "defaults.txt"), readFile(dir / "explicit.txt"));
    EXPECT_EQ(run("-train -d samples.txt -l l_emptyclass.txt -t tree.tre -o empty.txt").status, 0);
    EXPECT_EQ(signsOf("empty.txt").substr(0, 4), "3 3 ");
    EXPECT_EQ(run(kTrain + "-w -1 -o heights1.txt"), (Result{0, "", ""}));
    EXPECT_EQ(run(kTrain + "-w -2 -o heights2.txt"), (Result{0, "", ""}));
}

TEST_F(Orvane, TestingWritesTheHandComputedClasses)
{
    // Rows (.5 .3 .2), (0 .25 .75), (.2 .8 0) and (.5 .5 0) under the identity
    // model give classes 1, 3, 2, and 1 for the tie between classes 1 and 2.
    // Options of training only are ignored, unchecked.
    writeFile(dir / "result.txt", "old content\n");
    EXPECT_EQ(run(kTest + "-l x -t y -w abc -lambda z -o result.txt"), (Result{0, "", ""}));
    EXPECT_EQ(readFile(dir / "result.txt"), "1\n3\n2\n1\n");
}

TEST_F(Orvane, InputChecksStopBeforeWritingAnything)
{
    // checks.txt: the arguments, a tab, and the message; OUT stands for -o with an
    // output file that does not exist, then with one that does.
    writeFile(dir / "old.txt", "previous content\n");
    std::ifstream cases(dir / "checks.txt");
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string args = line.substr(0, tab);
        const size_t out = args.find("OUT");
        for (const char *output : {"-o new.txt", "-o old.txt"})
            expectFailure(out == std::string::npos ? args : std::string(args).replace(out, 3, output),
                          "error: " + line.substr(tab + 1) + "\n");
    }
    EXPECT_EQ(readFile(dir / "old.txt"), "previous content\n");
}

TEST_F(Orvane, FailuresOfTheTreeReaderAndOfWriting)
{
    expectFailure(kTrain + "-t t_unclosed.tre -o out.txt",
                  "error: format error in 't_unclosed.tre'\n\n"
                  "error: t_unclosed.tre: not a readable tree in the Newick format\n");
    expectFailure(kTrain + "-t nosuch.tre -o out.txt",
                  "error: cannot read file 'nosuch.tre'\n\n"
                  "error: nosuch.tre: not a readable tree in the Newick format\n");
    expectFailure(kTrain + "-o nodir/out.txt",
                  "error: nodir/out.txt: cannot write the file (No such file or directory)\n");
    expectFailure(kTest + "-o nodir/out.txt",
                  "error: nodir/out.txt: cannot write the file (No such file or directory)\n");
}

} // namespace
