// The workflow's summary step: the summaries of one cross-validation job per
// w, combined and marked as one run over the whole grid would mark them.
#include <gtest/gtest.h>

#include "../test_support.h"

namespace {

const std::string kHeader = "w\tlambda\tmean_error\tstd_error\tchoice\tedge\n";

struct Result {
    int status;
    std::string err;
};

class CombineSummaries : public InTempFolder {
protected:
    void SetUp() override
    {
        if (std::system("command -v python3 >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "python3 is not installed";
    }

    // Writes each job's lines (after the header) to its own file and combines them.
    Result combine(const std::vector<std::string> &jobs)
    {
        std::string command = "python3 '" COMBINE_SCRIPT "' -o out.tsv";
        for (std::size_t i = 0; i < jobs.size(); i++) {
            const std::string name = "job" + std::to_string(i) + ".tsv";
            writeFile(dir / name, jobs[i]);
            command += " " + name;
        }
        const RunResult result = shell(command);
        return {result.status, result.err};
    }
};

TEST_F(CombineSummaries, ChoicesFollowTheTieRulesOfOneRunOverTheGrid)
{
    // Least mean 0.08 at w 0.5 and at w 0.8: the earlier w wins. Within one
    // standard error of it (0.08 + 0.03) the largest lambda is 10, at w 0.5
    // and at w 0.8: again the earlier w. Lambda 10 is the grid's largest, but
    // the least error along both of its axes lies inside the grid: no edge.
    const Result result = combine({
        kHeader + "0.2\t0.1\t0.3\t0.02\t-\t-\n0.2\t1\t0.1\t0.02\tmin\t-\n0.2\t10\t0.4\t0.03\t-\t-\n",
        kHeader + "0.5\t0.1\t0.25\t0.02\t-\t-\n0.5\t1\t0.08\t0.03\tmin\t-\n0.5\t10\t0.1\t0.02\t-\tyes\n",
        kHeader + "0.8\t0.1\t0.2\t0.02\t-\t-\n0.8\t1\t0.08\t0.01\tmin\t-\n0.8\t10\t0.105\t0.02\t-\t-\n",
    });
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(dir / "out.tsv"), kHeader +
                                             "0.2\t0.1\t0.3\t0.02\t-\t-\n"
                                             "0.2\t1\t0.1\t0.02\t-\t-\n"
                                             "0.2\t10\t0.4\t0.03\t-\t-\n"
                                             "0.5\t0.1\t0.25\t0.02\t-\t-\n"
                                             "0.5\t1\t0.08\t0.03\tmin\t-\n"
                                             "0.5\t10\t0.1\t0.02\t1se\t-\n"
                                             "0.8\t0.1\t0.2\t0.02\t-\t-\n"
                                             "0.8\t1\t0.08\t0.01\t-\t-\n"
                                             "0.8\t10\t0.105\t0.02\t-\t-\n");
}

TEST_F(CombineSummaries, EdgesAndAPointThatIsBothChoices)
{
    // Lambda 0 and w 1 cannot be passed, so they are no edge; a w of 0.5 at
    // the end of the w values is.
    EXPECT_EQ(combine({kHeader + "1\t0\t0.1\t0\tmin\t-\n1\t0.5\t0.15\t0\t-\t-\n1\t2\t0.3\t0\t-\t-\n",
                       kHeader + "0.5\t0\t0.2\t0\tmin\t-\n0.5\t0.5\t0.3\t0\t-\t-\n0.5\t2\t0.4\t0\t-\t-\n"})
                  .status,
              0);
    EXPECT_EQ(readFile(dir / "out.tsv"), kHeader +
                                             "1\t0\t0.1\t0\tmin,1se\t-\n"
                                             "1\t0.5\t0.15\t0\t-\t-\n"
                                             "1\t2\t0.3\t0\t-\t-\n"
                                             "0.5\t0\t0.2\t0\t-\t-\n"
                                             "0.5\t0.5\t0.3\t0\t-\t-\n"
                                             "0.5\t2\t0.4\t0\t-\t-\n");

    const Result edge = combine({kHeader + "0.5\t1\t0.2\t0\tmin\t-\n",
                                 kHeader + "0.1\t1\t0.1\t0\tmin\t-\n"});
    EXPECT_EQ(edge.err, "warning: the min choice (w 0.1, lambda 1) is the grid's smallest w and no w inside "
                        "the grid does as well: try w below 0.1\n"
                        "warning: the 1se choice (w 0.1, lambda 1) is the grid's smallest w and no w inside "
                        "the grid does as well: try w below 0.1\n");
    EXPECT_EQ(readFile(dir / "out.tsv"),
              kHeader + "0.5\t1\t0.2\t0\t-\t-\n0.1\t1\t0.1\t0\tmin,1se\tyes\n");
}

TEST_F(CombineSummaries, RefusesSummariesItCannotCombine)
{
    const std::string good = kHeader + "0.5\t1\t0.2\t0\tmin\t-\n";
    const struct {
        std::vector<std::string> jobs;
        std::string err;
    } cases[] = {
        {{"w\tlambda\n"}, "error: job0.tsv:1: the header is not w\\tlambda\\tmean_error\\tstd_error"
                          "\\tchoice\\tedge\n"},
        {{kHeader}, "error: job0.tsv: no grid point\n"},
        {{kHeader + "0.5\t1\t0.2\t0\tmin\n"}, "error: job0.tsv:2: 6 tab-separated fields expected\n"},
        {{kHeader + "0.5\t1\tx\t0\tmin\t-\n"},
         "error: job0.tsv:2: w, lambda, mean_error and std_error must be numbers\n"},
        {{kHeader + "0.5\t1\t0.2\t0\t-\t-\n"}, "error: job0.tsv: exactly one line must be marked min\n"},
        {{kHeader + "0.5\t1\t0.2\t0\tmin\t-\n0.2\t1\t0.2\t0\t-\t-\n"},
         "error: job0.tsv: holds more than one w\n"},
        {{good, good}, "error: a grid point appears twice\n"},
    };
    for (const auto &c : cases) {
        const Result result = combine(c.jobs);
        EXPECT_EQ(result.status, 1) << c.err;
        EXPECT_EQ(result.err, c.err);
        EXPECT_FALSE(fs::exists(dir / "out.tsv")) << c.err;
    }
    EXPECT_EQ(combine({good}).status, 0);
}

} // namespace
