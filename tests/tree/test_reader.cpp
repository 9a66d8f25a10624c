// Reading Newick text: numbering, labels, lengths, whitespace and every error.
#include <random>

#include "helpers.h"

using namespace vessik_test;

namespace {
std::string visit(void (*walk)(Tree *, ExtendArray<Node *> *, Node *), Tree *tree)
{
    ExtendArray<Node *> nodes;
    walk(tree, &nodes, nullptr);
    walk(tree, &nodes, nullptr); // appends after what the array holds
    std::string text;
    for (int i = 0; i < nodes.size(); i++)
        text += nodes[i]->isLeaf() ? nodes[i]->longname : std::to_string(nodes[i]->name);
    return text;
}
} // namespace

TEST(NewickReader, NumbersLeavesFirstInReadingOrderWithTheRootLast)
{
    Tree *tree = readText("((A,B),C);");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(labels(tree), "C,A,B,,");
    EXPECT_EQ(tree->root, tree->nodes[4]);
    EXPECT_TRUE(tree->assertTree());
    EXPECT_EQ(visit(getTreePostOrder, tree), "AB3C4AB3C4");
    EXPECT_EQ(visit(getTreePreOrder, tree), "43ABC43ABC");
    delete tree;
}

TEST(NewickReader, KeepsNamesAndDropsSupportValues)
{
    const char *cases[][2] = {
        {"((A,B)X,C);", "C,A,B,X,"},       {"((A,B)95,C);", "C,A,B,,"},
        {"((A,B)-1,C)R;", "C,A,B,,R"},     {"((A,B).9,C)1.000.2;", "C,A,B,,"},
        {"(123:1,456:1);", "456,123,"},    {"(Homo sapiens, [x]'y'_z);", "[x]'y'_z,Homosapiens,"},
        {"(A,B)", "B,A,"},                 {"A,", "A"},
    };
    for (const auto &c : cases) {
        Tree *tree = readText(c[0]);
        ASSERT_NE(tree, nullptr) << c[0];
        EXPECT_EQ(labels(tree), c[1]) << c[0];
        EXPECT_TRUE(tree->assertTree()) << c[0];
        delete tree;
    }
    Tree *tree = readText("(" + std::string(150, 'n') + ",B);");
    EXPECT_EQ(labels(tree), "B," + std::string(101, 'n') + ","); // first character + 100
    delete tree;
}

TEST(NewickReader, ReadsBranchLengthsIncludingTheRoots)
{
    Tree *tree = readText("((A:0.1,B:2.5e-1)0.95:0.3,C:-4 ignored):0.5;");
    ASSERT_NE(tree, nullptr);
    const float dists[] = {-4.0f, 0.1f, 0.25f, 0.3f, 0.5f}; // C, A, B, inner, root
    for (int i = 0; i < 5; i++)
        EXPECT_FLOAT_EQ(tree->nodes[i]->dist, dists[i]) << i;
    delete tree;
    EXPECT_EQ(reformat("(A:1,B:2):0.5"), "(A:1.000000,B:2.000000);");
}

TEST(NewickReader, SkipsSpacesTabsAndLineBreaksAnywhere)
{
    const char *expected = "((A:1.000000,B:2.000000)X:3.000000,C:4.000000);";
    EXPECT_EQ(reformat("\t(\r\n(A : 1,\r\n\tB:2\t)\tX:\t3,\r\nC:4)\r\n;\r\n"), expected);
    EXPECT_EQ(reformat(" ( ( A\n:\n1 , B : 2 ) X : 3 ,\n C : 4 ) ; "), expected);
}

TEST(NewickReader, ReportsEachErrorWithTheFileNameAndABlankLine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "error: unexpected end of file\n"},
        {"(A,(B,", "error: unexpected end of file\n"},
        {std::string("(A,\0B);", 7), "error: unexpected end of file\n"},
        {"(A:x,B);", "error: expected branch length for node\n"},
        {"(A,B):;", "error: expected branch length for node\n"},
        {"A;", ""}, {"(A,B", ""}, {"(A:1", ""}, {"((A,B):1", ""},
    };
    TempDir dir;
    const std::string path = dir.path + "/tree.tre";
    for (const auto &c : cases) {
        std::ofstream(path, std::ios::binary) << c.first;
        CaptureStderr();
        EXPECT_EQ(readNewickTree(path.c_str(), nullptr), nullptr) << c.first;
        EXPECT_EQ(GetCapturedStderr(), c.second + "error: format error in '" + path + "'\n\n");
    }
    const std::string missing = dir.path + "/missing.tre";
    CaptureStderr();
    EXPECT_EQ(readNewickTree(missing.c_str(), nullptr), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "error: cannot read file '" + missing + "'\n\n");
}

TEST(NewickReader, ReadsAFileWithSupportValuesOverSeveralLines)
{
    Tree *tree = readNewickTree(TEST_DATA_DIR "/tree/support.tre", nullptr);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(labels(tree), "4,0,1,2,3,,,,");
    EXPECT_TRUE(tree->assertTree());
    EXPECT_EQ(writeText(tree), "(((0:0.008920,1:0.014080):0.121960,2:0.160220):0.018690,"
                               "(3:0.089760,4:0.048680):0.034690);");
    delete tree;
}

TEST(NewickReader, CallerTreeKeepsThePartialNodesAfterAFailure)
{
    Tree tree;
    CaptureStderr();
    EXPECT_EQ(readText("(A,(B,", &tree), nullptr);
    GetCapturedStderr();
    EXPECT_EQ(tree.root, nullptr);
    EXPECT_EQ(labels(&tree), ",A,,B");
    Tree fresh;
    EXPECT_EQ(readText("(A,B);", &fresh), &fresh);
}

TEST(NewickReader, RejectsNestingDeeperThanTenThousandLevels)
{
    std::string closing;
    for (int i = 0; i < 10000; i++)
        closing += ",B)";
    Tree *tree = readText(std::string(10000, '(') + "A" + closing + ";");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->nnodes, 20001);
    delete tree;
    CaptureStderr();
    EXPECT_EQ(readText(std::string(10001, '(') + "A" + closing + ",B));"), nullptr);
    EXPECT_EQ(GetCapturedStderr(), "error: tree is nested more than 10000 levels deep\n");
}

TEST(NewickReader, TruncatedOrGarbledTextFailsCleanlyOrGivesASoundTree)
{
    const std::string text = "((A:1,B:2)X:3,C:4);";
    CaptureStderr();
    for (size_t length = 0; length + 1 < text.size(); length++)
        EXPECT_EQ(readText(text.substr(0, length)), nullptr) << length;
    std::mt19937 random(7);
    const std::string alphabet = "(((),,:;AB1.-e \n\t\r";
    for (int round = 0; round < 3000; round++) {
        std::string garbage(random() % 24, ' ');
        for (char &c : garbage)
            c = alphabet[random() % alphabet.size()];
        Tree *tree = readText(garbage);
        EXPECT_TRUE(tree == nullptr || tree->assertTree()) << garbage;
        delete tree;
    }
    GetCapturedStderr();
}
