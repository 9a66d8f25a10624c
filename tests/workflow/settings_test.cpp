// The workflow refuses a wrong setting before any job runs, naming it on the
// console, and leaves no result behind.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

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
        {"group: Nope", "has no column 'Nope'"},
        {"graft: 2", "graft must be true or false, not 2"},
        {"tree: taxonomy\ngraft: true", "graft: true does not go with tree: taxonomy"},
        {"min_count: -1", "min_count must be a number of 0 or more, not -1"},
        {"missing: [NA, \"a,b\"]", "missing: 'a,b' is not a text without commas (give a list)"},
    };
    for (const auto &[setting, message] : cases) {
        // Each line of the setting replaces its key's line; a key the config
        // leaves out is added at its end.
        std::string edited = config;
        std::istringstream lines(setting);
        for (std::string entry; std::getline(lines, entry);) {
            const std::regex line("\n" + entry.substr(0, entry.find(':')) + ":[^\n]*");
            edited = std::regex_search(edited, line) ? std::regex_replace(edited, line, "\n" + entry)
                                                     : edited + entry + "\n";
        }
        writeFile(dir / "config.yaml", edited);
        const RunResult run = shell("snakemake -s '" WORKFLOW_SNAKEFILE "' --configfile config.yaml --cores 1");
        EXPECT_NE(run.status, 0) << setting;
        EXPECT_NE((run.out + run.err).find(message), std::string::npos) << setting << "\n" << run.err;
        EXPECT_FALSE(fs::exists(dir / "results")) << setting;
    }
}

} // namespace
