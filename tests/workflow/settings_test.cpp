// The workflow refuses a wrong setting before any job runs, naming it on the
// console, and leaves no result behind.
#include <gtest/gtest.h>

#include <regex>

#include "../test_support.h"

namespace {

class WorkflowSettings : public InTempFolder {};

TEST_F(WorkflowSettings, AreCheckedBeforeTheFirstJob)
{
    if (std::system("command -v snakemake >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "snakemake is not installed";
    const std::string config = std::regex_replace(readFile(WORKFLOW_CONFIG), std::regex("example/"),
                                                  std::string(SOURCE_DIR) + "/example/");
    const std::pair<std::string, std::string> cases[] = {
        {"w: [0.2, 1.5]", "w: 1.5 is not a number from 0 to 1, or -1 or -2"},
        {"lambda: [-1, 1]", "lambda: -1 is not a number of 0 or more (or say lambda: auto)"},
        {"folds: 1", "folds must be a whole number from 2 to 2147483647, not 1"},
        {"w: \"0.2,0.5\"", "w: '0.2,0.5' is not a number from 0 to 1, or -1 or -2"},
        {"column: Nope", "has no column 'Nope'"},
    };
    for (const auto &[setting, message] : cases) {
        const std::string key = setting.substr(0, setting.find(':'));
        writeFile(dir / "config.yaml",
                  std::regex_replace(config, std::regex("\n" + key + ":[^\n]*"), "\n" + setting));
        const RunResult run = shell("snakemake -s '" WORKFLOW_SNAKEFILE "' --configfile config.yaml --cores 1");
        EXPECT_NE(run.status, 0) << setting;
        EXPECT_NE((run.out + run.err).find(message), std::string::npos) << setting << "\n" << run.err;
        EXPECT_FALSE(fs::exists(dir / "results")) << setting;
    }
}

} // namespace
