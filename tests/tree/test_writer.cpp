// Writing Newick text in both forms and printing trees and two-child tables.
#include "helpers.h"

using namespace vessik_test;

TEST(NewickWriter, WritesOneLineAndIndentedForms)
{
    Tree *tree = readText("((A:1,B:2)X:3,C:4);");
    EXPECT_EQ(writeText(tree, true), "((A:1.000000,B:2.000000)X:3.000000,C:4.000000);");
    EXPECT_EQ(writeText(tree, false),
              "(\n  (\n    A:1.000000,\n    B:2.000000\n  )X:3.000000,\n  C:4.000000\n);\n");
    CaptureStdout();
    printTree(tree);
    printTree(tree, tree->nodes[3], 0);
    EXPECT_EQ(GetCapturedStdout(), "4=(\n  3=(\n    1=A:1.000000,\n    2=B:2.000000\n"
                                   "  ):3.000000,\n  0=C:4.000000\n);\n"
                                   "3=(\n  1=A:1.000000,\n  2=B:2.000000\n)");
    delete tree;
    EXPECT_EQ(reformat("((A,B):3,C)R;"), "((A:0.000000,B:0.000000):3.000000,C:0.000000)R;");
    tree = readText("A:2,");
    EXPECT_EQ(writeText(tree, false), "A:2.000000;\n");
    delete tree;
    Tree empty; // nothing to write or print without a root
    CaptureStdout();
    printTree(&empty);
    EXPECT_EQ(GetCapturedStdout() + writeText(&empty), "");
}

TEST(NewickWriter, WritesFilesAndReportsFailuresIncludingAFullDisk)
{
    TempDir dir;
    Tree *tree = readText("((A:1,B:2)X:3,C:4);");
    const std::string path = dir.path + "/out.tre";
    EXPECT_TRUE(writeNewickTree(path.c_str(), tree, false));
    EXPECT_EQ(slurp(path), writeText(tree, false));
    for (const std::string &bad : {dir.path + "/no/such/dir.tre", std::string("/dev/full")}) {
        CaptureStderr();
        EXPECT_FALSE(writeNewickTree(bad.c_str(), tree, true));
        EXPECT_EQ(GetCapturedStderr(), "error: cannot write file '" + bad + "'\n\n");
    }
    delete tree;
}
