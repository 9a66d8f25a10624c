// What every program offers a new user: --version, -h and --help, the run
// without arguments, a build without GoogleTest, and `make install`'s files.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "app/version.h"

#include "../test_support.h"

namespace {

std::vector<std::string> builtPrograms()
{
    std::vector<std::string> names;
    std::istringstream list(ORVANE_PROGRAMS);
    for (std::string name; std::getline(list, name, ',');)
        names.push_back(name);
    return names;
}

using Result = RunResult;

class InTemporaryFolder : public InTempFolder {
protected:
    Result program(const std::string &name, const std::string &args) const
    {
        return shell("'" ORVANE_PROGRAM_DIR "/" + name + "' " + args);
    }
};

using Programs = InTemporaryFolder;

TEST_F(Programs, VersionAndHelpAnswerWithStatusZero)
{
    const std::vector<std::string> names = builtPrograms();
    ASSERT_GE(names.size(), 3u);
    for (const std::string &name : names) {
        const Result version = program(name, "--version");
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.out, name + " " ORVANE_VERSION "\n") << name;
        EXPECT_EQ(version.err, "") << name;

        const Result shortHelp = program(name, "-h");
        EXPECT_EQ(shortHelp.status, 0) << name;
        EXPECT_NE(shortHelp.out.find("Usage"), std::string::npos) << name;
        EXPECT_EQ(shortHelp.err, "") << name;
        if (name != "Orvane") {
            const Result longHelp = program(name, "--help");
            EXPECT_EQ(longHelp.status, 0) << name;
            EXPECT_EQ(longHelp.out, shortHelp.out) << name;
        }
    }
}

TEST_F(Programs, HelpAndVersionEndTheScanWhereTheyStand)
{
    // Orvane's -h ends nothing: a later mode still wins.
    EXPECT_EQ(program("Orvane", "-h -train").status, 1);
    EXPECT_EQ(program("Orvane", "-x --version").out, "Invalid arguments, please try again\n");
    EXPECT_EQ(program("Orvane", "--version -x").out, "Orvane " ORVANE_VERSION "\n");
    // A value option takes "--version" as its value.
    EXPECT_EQ(program("Orvane", "-d --version").out, "");

    for (const std::string name : {"Orvane-cv", "Orvane-folds"}) {
        const std::string usage = program(name, "--help").out;
        EXPECT_EQ(program(name, "-s prefix -h -q").out, usage) << name;
        const Result versionFirst = program(name, "--version -h");
        EXPECT_EQ(versionFirst.out, name + " " ORVANE_VERSION "\n") << name;
        const Result asValue = program(name, "-s --version");
        EXPECT_EQ(asValue.status, 1) << name;
        EXPECT_EQ(asValue.out, "") << name;
        EXPECT_EQ(asValue.err, "error: missing option -d (see --help)\n") << name;
        const Result unknownFirst = program(name, "-q --version");
        EXPECT_EQ(unknownFirst.status, 1) << name;
        EXPECT_EQ(unknownFirst.err, "error: unknown option \"-q\" (see --help)\n") << name;
    }
}

TEST_F(Programs, RunWithoutArgumentsPrintsTheUsage)
{
    // Orvane's bare run shows its help (see the Orvane tests); the helpers did
    // nothing that was asked for, so their usage is the error.
    for (const std::string name : {"Orvane-cv", "Orvane-folds"}) {
        const Result bare = program(name, "");
        EXPECT_EQ(bare.status, 1) << name;
        EXPECT_EQ(bare.out, "") << name;
        EXPECT_EQ(bare.err, program(name, "--help").out) << name;
    }
    EXPECT_EQ(std::set<fs::path>(fs::directory_iterator(dir), fs::directory_iterator()),
              std::set<fs::path>());
}

TEST_F(InTemporaryFolder, ConfiguringWithoutGoogleTestSaysWhatToInstall)
{
    const Result configure = shell("'" CMAKE_PROGRAM "' -S '" ORVANE_SOURCE_DIR
                                   "' -B build -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON");
    ASSERT_EQ(configure.status, 0) << configure.out << configure.err;
    EXPECT_NE(configure.err.find("libgtest-dev"), std::string::npos) << configure.err;
    // The test suite is then one failing test that repeats the advice.
    const Result tests = shell("(cd build && '" CTEST_PROGRAM "' --output-on-failure)");
    EXPECT_NE(tests.status, 0);
    EXPECT_NE(tests.out.find("googletest_missing"), std::string::npos) << tests.out;
    EXPECT_NE(tests.out.find("apt-get install libgtest-dev"), std::string::npos) << tests.out;
}

TEST_F(InTemporaryFolder, InstallPutsProgramsAndManualPagesUnderThePrefix)
{
    const Result install = shell("DESTDIR='" + dir.string() + "/stage' '" CMAKE_PROGRAM
                                 "' --install '" ORVANE_BUILD_DIR "' --prefix /opt/orvane");
    ASSERT_EQ(install.status, 0) << install.out << install.err;

    const fs::path prefix = dir / "stage/opt/orvane";
    std::set<fs::path> expected;
    for (const std::string &name : builtPrograms()) {
        const fs::path binary = prefix / "bin" / name;
        const fs::path page = prefix / "share/man/man1" / (name + ".1");
        expected.insert(binary);
        expected.insert(page);
        ASSERT_TRUE(fs::is_regular_file(binary)) << binary;
        EXPECT_NE(fs::status(binary).permissions() & fs::perms::others_exec, fs::perms::none);
        EXPECT_EQ(shell("'" + binary.string() + "' --version").out,
                  name + " " ORVANE_VERSION "\n");
        EXPECT_EQ(readFile(page), readFile(fs::path(ORVANE_SOURCE_DIR) / "man" / (name + ".1")))
            << page;
    }
    std::set<fs::path> installed;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(dir / "stage"))
        if (entry.is_regular_file())
            installed.insert(entry.path());
    EXPECT_EQ(installed, expected);
}

TEST_F(InTemporaryFolder, ManualPagesRenderWithoutWarnings)
{
    if (shell("command -v man").status != 0)
        GTEST_SKIP() << "man is not installed (Debian package man-db)";
    const fs::path pages = fs::path(ORVANE_SOURCE_DIR) / "man";
    for (const std::string &name : builtPrograms())
        EXPECT_TRUE(fs::exists(pages / (name + ".1"))) << name;
    for (const fs::directory_entry &page : fs::directory_iterator(pages)) {
        const std::string name = page.path().stem().string();
        const Result shown = shell("MANWIDTH=80 man --warnings -l '" + page.path().string() + "'");
        EXPECT_EQ(shown.status, 0) << name;
        EXPECT_EQ(shown.err, "") << name;
        // The NAME section starts with the program's own name.
        EXPECT_NE(shown.out.find("NAME\n       " + name + " "), std::string::npos) << shown.out;
    }
}

TEST_F(InTemporaryFolder, ManualPagesNameEveryOptionOfTheHelp)
{
    // An option of the help starts a word or follows '[', '(' or '|'; the
    // page's roff source writes it with escaped dashes, as a whole word.
    const std::regex option(R"((?:^|[\s\[(|])(--?[a-zA-Z][a-zA-Z-]*))");
    for (const std::string &name : builtPrograms()) {
        const std::string page = readFile(fs::path(ORVANE_SOURCE_DIR) / "man" / (name + ".1"));
        const std::string help = program(name, "--help").out;
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) {
            const std::string escaped = std::regex_replace((*it)[1].str(), std::regex("-"), R"(\\-)");
            EXPECT_TRUE(std::regex_search(page, std::regex(escaped + "(?![a-zA-Z\\\\])")))
                << name << " " << (*it)[1];
        }
    }
}

} // namespace
