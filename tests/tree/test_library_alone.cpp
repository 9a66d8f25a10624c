// The tree library used on its own, with no message sink installed: what a
// program built against it alone writes on its standard streams.
#include <gtest/gtest.h>

#include "../test_support.h"

TEST(LibraryAlone, WritesItsMessagesAndPrintoutsOnTheStandardStreams)
{
    TempDir dir;
    const std::string missing = dir.path + "no/such/file.tre", empty = dir.path + "empty.tre",
                      badLength = dir.path + "length.tre", unclosed = dir.path + "unclosed.tre",
                      good = dir.path + "good.tre", unwritable = dir.path + "no/such/dir/out.tre";
    writeFile(empty, "");
    writeFile(badLength, "(A:x,B);");
    writeFile(unclosed, "(A,B");
    writeFile(good, "((A:1,B:2)X:3,C:4);\n");

    const RunResult run = runCommand(std::string(TREE_LIBRARY_ALONE) + " '" + missing + "' '" +
                                     empty + "' '" + badLength + "' '" + unclosed + "' '" + good +
                                     "' '" + unwritable + "'");
    const std::string out = "4=(\n"
                            "  3=(\n"
                            "    1=A:1.000000,\n"
                            "    2=B:2.000000\n"
                            "  ):3.000000,\n"
                            "  0=C:4.000000\n"
                            ");\n"
                            "((A:1.000000,B:2.000000)X:3.000000,C:4.000000);\n"
                            "1 2 \n"
                            "\n"
                            "0.500000 0.000010 \n"
                            "caught [cannot read file '" + missing + "'\nlog\n]\n";
    const std::string err = "error: cannot read file '" + missing + "'\n\n"
                            "error: unexpected end of file\n"
                            "error: format error in '" + empty + "'\n\n"
                            "error: expected branch length for node\n"
                            "error: format error in '" + badLength + "'\n\n"
                            "error: format error in '" + unclosed + "'\n\n"
                            "error: cannot write file '" + unwritable + "'\n\n"
                            "log level 0\n"
                            "error: cannot read file '" + missing + "'\n\n";
    EXPECT_EQ(run, (RunResult{0, out, err}));
}
