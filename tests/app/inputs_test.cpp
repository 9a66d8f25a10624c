// Black-box tests of the training inputs as Orvane and Orvane-cv read them:
// sizes too large to hold, lines of any length, read failures, the heights
// rule of -w -1 and -2, and running out of memory. Inputs are generated here.
#include <gtest/gtest.h>

#include "../test_support.h"

namespace {

// Exit status and standard error of one run.
struct Outcome {
    int status;
    std::string err;
    bool operator==(const Outcome &other) const { return status == other.status && err == other.err; }
};

void PrintTo(const Outcome &o, std::ostream *os)
{
    *os << "status " << o.status << ", err \"" << o.err.substr(0, 300) << "\"";
}

class Inputs : public InTempFolder {
protected:
    void SetUp() override
    {
        write("samples.txt", "1\t3\t1\t1\n2\t3\t1\t1\n3\t1\t3\t1\n4\t1\t3\t1\n");
        write("labels.txt", ">A\n1 2\n>B\n3 4\n");
        write("tree.tre", "((0:1,1:1):0.5,2:1);\n");
        write("flat.tre", "(0,1,2);\n");
        write("sets0.txt", "> 0\n0 2\n1 3\n> 1\n1 3\n0 2\n");
    }

    void write(const std::string &name, const std::string &text) const { writeFile(dir / name, text); }

    // Runs `program` with `args` in the folder, after `limits` (shell commands
    // such as ulimit).
    Outcome run(const std::string &program, const std::string &args,
                const std::string &limits = "") const
    {
        const RunResult result = shell(limits + " '" + program + "' " + args);
        return {result.status, result.err};
    }

    // Orvane -train and Orvane-cv on the same inputs must both fail with `message`.
    void expectBothRefuse(const std::string &inputs, const std::string &message)
    {
        const Outcome expected{1, "error: " + message + "\n"};
        EXPECT_EQ(run(ORVANE_PROGRAM, "-train " + inputs + " -o model.txt"), expected);
        EXPECT_EQ(run(ORVANE_CV, inputs + " -n 1 -k 2 -s sets"), expected);
        EXPECT_FALSE(fs::exists(dir / "model.txt"));
        EXPECT_FALSE(fs::exists(dir / "log_detailed.txt"));
    }

    // True when a small training run succeeds within `limits`; not so in
    // sanitizer builds, which reserve far more address space.
    bool runsWithin(const std::string &limits)
    {
        const Outcome probe =
            run(ORVANE_PROGRAM, "-train -d samples.txt -l labels.txt -t tree.tre -o probe.txt", limits);
        fs::remove(dir / "probe.txt");
        return probe.status == 0;
    }
};

// n lines of "> class" and, after each, the member line.
std::string labelsOf(int classes, const std::string &firstMembers)
{
    std::string text = ">c\n" + firstMembers + "\n";
    for (int c = 1; c < classes; c++)
        text += ">c\n\n";
    return text;
}

TEST_F(Inputs, ProductsOfCountsAreBoundedBeforeAnythingIsAllocated)
{
    // 46341 samples of one feature in 46341 one-member classes: samples x classes.
    std::string samples, labels;
    for (int i = 1; i <= 46341; i++) {
        samples += std::to_string(i) + " 1\n";
        labels += ">c\n" + std::to_string(i) + "\n";
    }
    write("many_samples.txt", samples);
    write("one_each.txt", labels);
    write("leaf0.tre", "(0);\n");
    expectBothRefuse("-d many_samples.txt -l one_each.txt -t leaf0.tre",
                     "one_each.txt: 46341 samples x 46341 classes is more than this program can hold");

    // One sample of 46341 features, 46341 classes of which 46340 are empty: classes x features.
    std::string wide = "1";
    for (int j = 0; j < 46341; j++)
        wide += " 1";
    write("wide.txt", wide + "\n");
    write("empty_classes.txt", labelsOf(46341, "1"));
    expectBothRefuse("-d wide.txt -l empty_classes.txt -t leaf0.tre",
                     "empty_classes.txt: 46341 classes x 46341 features is more than this program "
                     "can hold");
    // The same shape in a model file, for testing.
    write("wide_model.txt", "46341 46341\n");
    EXPECT_EQ(run(ORVANE_PROGRAM, "-test -d wide.txt -c wide_model.txt -o result.txt"),
              (Outcome{1, "error: wide_model.txt:1: 46341 classes x 46341 features is more than "
                          "this program can hold\n"}));

    // A chain of 5794 internal nodes above one leaf, with 46341 classes: nodes x classes.
    write("chain.tre", std::string(5794, '(') + "0" + std::string(5794, ')') + ";\n");
    write("one.txt", "1 1\n");
    expectBothRefuse("-d one.txt -l empty_classes.txt -t chain.tre",
                     "chain.tre: 5794 internal nodes x 46341 classes is more than this program can "
                     "hold");
    EXPECT_FALSE(fs::exists(dir / "result.txt"));
}

TEST_F(Inputs, LongLinesAreReadInLittleMemoryAndQuotedShort)
{
    // A 16 MB field: reading it whole would need several times that, more
    // than the 40 MB of address space the runs get.
    std::string huge(16 << 20, '7');
    huge[0] = 'x';
    write("long_value.txt", "1 " + huge + " 1\n");
    write("long_member.txt", ">A\n1 2 " + huge + "\n>B\n3 4\n");
    const std::string limit = "ulimit -v 40000 &&";
    if (!runsWithin(limit))
        GTEST_SKIP() << "the program does not run with " << limit;
    const std::string shown = "'x" + std::string(39, '7') + "...'";
    EXPECT_EQ(run(ORVANE_PROGRAM, "-train -d long_value.txt -l labels.txt -t tree.tre -o m.txt", limit),
              (Outcome{1, "error: long_value.txt:1: value " + shown + " is not a finite number\n"}));
    EXPECT_EQ(run(ORVANE_PROGRAM, "-train -d samples.txt -l long_member.txt -t tree.tre -o m.txt", limit),
              (Outcome{1, "error: long_member.txt:2: member " + shown + " is not a whole number\n"}));
    // A 16 MB number of digits only is read too: too large for a float.
    huge[0] = '1';
    write("long_number.txt", "1 " + huge + " 1 1\n");
    EXPECT_EQ(run(ORVANE_PROGRAM, "-train -d long_number.txt -l labels.txt -t tree.tre -o m.txt", limit),
              (Outcome{1, "error: long_number.txt:1: value '" + huge.substr(0, 40) +
                              "...' is not a finite number\n"}));
    EXPECT_FALSE(fs::exists(dir / "m.txt"));
}

TEST_F(Inputs, UnreadableFilesAndTheHeightsRuleRefuseTheSameInBothPrograms)
{
    // A folder opens but cannot be read.
    fs::create_directory(dir / "folder");
    expectBothRefuse("-d folder -l labels.txt -t tree.tre",
                     "folder: cannot read the file (Is a directory)");
    expectBothRefuse("-d samples.txt -l folder -t tree.tre",
                     "folder: cannot read the file (Is a directory)");
    // Node heights come from the lengths above internal nodes; here there are none.
    const std::string flat = "flat.tre: with -w -2 the penalty weights are not numbers: the node "
                             "heights, made from the branch lengths above the internal nodes, are all 0";
    EXPECT_EQ(run(ORVANE_PROGRAM, "-train -d samples.txt -l labels.txt -t flat.tre -w -2 -o m.txt"),
              (Outcome{1, "error: " + flat + "\n"}));
    EXPECT_EQ(run(ORVANE_CV, "-d samples.txt -l labels.txt -t flat.tre -n 1 -k 2 -s sets -w 0.5,-2,-1"),
              (Outcome{1, "error: " + flat + "\n"}));
    EXPECT_FALSE(fs::exists(dir / "log_detailed.txt"));
    EXPECT_EQ(run(ORVANE_CV, "-d samples.txt -l labels.txt -t tree.tre -n 1 -k 2 -s sets -w 0.5,-2,-1").status, 0);
}

TEST_F(Inputs, ALineIsJudgedByItsCountBeforeItsValues)
{
    // Read in one pass, a line's problems still come in the order: count, first bad value.
    write("count.txt", "1 3 1 1\n2 x 1\n");
    expectBothRefuse("-d count.txt -l labels.txt -t tree.tre",
                     "count.txt:2: holds 2 values, the first sample 3");
    write("first.txt", "1 3 1 1\n2 -1 x 1\n3 1 1 1\n4 1 1 1\n");
    expectBothRefuse("-d first.txt -l labels.txt -t tree.tre", "first.txt:2: value '-1' is negative");
    write("three.txt", "1 1 1 1\n");
    write("model.txt", "1 3\n1 x\n");
    EXPECT_EQ(run(ORVANE_PROGRAM, "-test -d three.txt -c model.txt -o result.txt"),
              (Outcome{1, "error: model.txt:2: 2 coefficients, the first line declares 3\n"}));
    write("model.txt", "1 3\nnan 1 x\n");
    EXPECT_EQ(run(ORVANE_PROGRAM, "-test -d three.txt -c model.txt -o result.txt"),
              (Outcome{1, "error: model.txt:2: coefficient 'nan' is not a finite number\n"}));
}

TEST_F(Inputs, AnAllocationThatFailsEndsWithOneErrorLine)
{
    // 16384 classes x 16384 features is within bounds, but each coefficient
    // array takes 1 GiB, more than the run may have.
    const std::string limit = "ulimit -v 400000 &&";
    if (!runsWithin(limit))
        GTEST_SKIP() << "the program does not run with " << limit;
    std::string wide = "1";
    for (int j = 0; j < 16384; j++)
        wide += " 1";
    write("wide.txt", wide + "\n");
    write("classes.txt", labelsOf(16384, "1"));
    write("pair.tre", "(0,1);\n");
    EXPECT_EQ(run(ORVANE_PROGRAM, "-train -d wide.txt -l classes.txt -t pair.tre -o m.txt", limit),
              (Outcome{1, "error: out of memory: this machine could not give the run the memory its "
                          "input needs\n"}));
    EXPECT_FALSE(fs::exists(dir / "m.txt"));
}

} // namespace
