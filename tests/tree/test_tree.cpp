// The tree library: Newick text, tree operations, parent arrays, logging and helpers.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <stdexcept>
#include <random>

#include "tree/common.h"
#include "tree/logging.h"
#include "tree/messages.h"
#include "tree/newick.h"
#include "tree/parsing.h"

#include "../test_support.h"

using namespace vessik;

// A scripted sequence of uniform draws, to check normal variates exactly.
static std::vector<int> scriptedRand;
static size_t randCalls = 0;
static int scriptedDraw(void *)
{
    return randCalls < scriptedRand.size() ? scriptedRand[randCalls++] : 0;
}

// What the printers write to a memory stream.
template <class Print>
std::string printed(Print print)
{
    char *buffer = nullptr;
    size_t length = 0;
    FILE *out = open_memstream(&buffer, &length);
    print(out);
    fclose(out);
    std::string text(buffer, length);
    free(buffer);
    return text;
}

namespace {
const std::string scratch = testing::TempDir() + "vessik-" + std::to_string(getpid()) + "-";

std::string check(Tree *tree)
{
    CapturedMessages messages;
    const bool sound = tree->assertTree();
    return sound ? "sound" + messages.text : messages.text;
}

std::string reformat(const std::string &text)
{
    Tree *tree = readText(text);
    const std::string result = tree ? writeText(tree) + " " + check(tree) : "(unreadable)";
    delete tree;
    return result;
}

std::string labels(Tree *tree)
{
    std::string text;
    for (int i = 0; i < tree->nnodes; i++)
        text += (i ? "," : "") + tree->nodes[i]->longname;
    return text;
}

Tree *readOrdered(const char *text, std::vector<std::string> names)
{
    Tree *tree = readText(text);
    tree->reorderLeaves(names.data());
    return tree;
}
} // namespace

TEST(NewickReader, NumbersLabelsLengthsAndWhitespace)
{
    Tree *tree = readText("((A,B),C);");
    ExtendArray<Node *> order;
    for (int twice = 0; twice < 2; twice++) // each walk appends after what the array holds
        getTreePostOrder(tree, &order), getTreePreOrder(tree, &order);
    std::string names;
    for (int i = 0; i < order.size(); i++)
        names += std::to_string(order[i]->name);
    EXPECT_EQ(names, "12304" "43120" "12304" "43120"); // C 0, A 1, B 2, inner 3, root 4
    delete tree;
    const std::pair<std::string, std::string> cases[] = {
        {"((A,B),C);", "C,A,B,,"},         {"((A,B)X,C);", "C,A,B,X,"},
        {"((A,B)95,C);", "C,A,B,,"},       {"((A,B)-1,C)R;", "C,A,B,,R"},
        {"(123:1,456:1);", "456,123,"},    {"((A,B).9,C)1.000.2;", "C,A,B,,"},
        {"(A,B)", "B,A,"},                 {"(Homo sapiens, [x]'y'_z);", "[x]'y'_z,Homosapiens,"},
        {"A,", "A"},                       {"(" + std::string(150, 'n') + ",B);", "B," + std::string(101, 'n') + ","},
    };
    for (const auto &c : cases) {
        tree = readText(c.first);
        ASSERT_NE(tree, nullptr) << c.first;
        EXPECT_EQ(labels(tree) + " " + check(tree), c.second + " sound") << c.first;
        delete tree;
    }
    tree = readNewickTree(TEST_DATA_DIR "/tree/support.tre", nullptr); // over several lines
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(labels(tree) + " " + writeText(tree), "4,0,1,2,3,,,, (((0:0.008920,1:0.014080):0.121960,"
              "2:0.160220):0.018690,(3:0.089760,4:0.048680):0.034690);");
    delete tree;
    tree = readText("((A:0.1,B:2.5e-1)0.95:0.3,C:-4 ignored):0.5;"); // the root's length is kept
    EXPECT_EQ(writeText(tree), "((A:0.100000,B:0.250000):0.300000,C:-4.000000);");
    EXPECT_FLOAT_EQ(tree->root->dist, 0.5f);
    delete tree;
    const char *expected = "((A:1.000000,B:2.000000)X:3.000000,C:4.000000); sound";
    EXPECT_EQ(reformat("\t(\r\n(A : 1,\r\n\tB:2\t)\tX:\t3,\r\nC:4)\r\n;\r\n"), expected);
    EXPECT_EQ(reformat(" ( ( A\n:\n1 , B : 2 ) X : 3 ,\n C : 4 ) ; "), expected);
}

TEST(NewickReader, ReportsEachFailureExactly)
{
    const std::string eof = "error: unexpected end of file\n", length = "error: expected branch length for node\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", eof},           {"(A,(B,", eof}, {std::string("(A,\0B);", 7), eof}, {"(A:x,B);", length},
        {"(A,B):;", length}, {"A;", ""},      {"(A,B", ""}, {"(A:1", ""},         {"((A,B):1", ""},
    };
    const std::string path = scratch + "tree.tre", missing = scratch + "missing.tre";
    for (const auto &c : cases) { // the file name, then a blank line
        writeFile(path, c.first);
        CapturedMessages messages;
        EXPECT_EQ(readNewickTree(path.c_str(), nullptr), nullptr) << c.first;
        EXPECT_EQ(messages.text, c.second + "error: format error in '" + path + "'\n\n");
        CapturedMessages fromText;
        EXPECT_EQ(readNewickText(c.first), nullptr) << c.first;
        EXPECT_EQ(fromText.text, c.second);
    }
    CapturedMessages missed;
    EXPECT_EQ(readNewickTree(missing.c_str(), nullptr), nullptr);
    EXPECT_EQ(missed.text, "error: cannot read file '" + missing + "'\n\n");
    std::remove(path.c_str());
    Tree tree, fresh; // a caller's tree keeps the nodes read before the failure
    EXPECT_EQ(readText("(A,(B,", &tree), nullptr);
    EXPECT_EQ(labels(&tree) + " " + check(&tree), ",A,,B root == NULL\n");
    EXPECT_EQ(readText("(A,B);", &fresh), &fresh);
    std::string closing;
    for (int i = 0; i < 10000; i++)
        closing += ",B)";
    Tree *deep = readText(std::string(10000, '(') + "A" + closing + ";");
    EXPECT_EQ(deep ? deep->nnodes : 0, 20001);
    delete deep;
    CapturedMessages messages;
    EXPECT_EQ(readText(std::string(10001, '(') + "A" + closing + ",B));"), nullptr);
    EXPECT_EQ(messages.text, "error: tree is nested more than 10000 levels deep\n");
}

TEST(NewickReader, GarbledTextFailsCleanlyOrGivesASoundTree)
{
    const std::string alphabet = "(((),,:;AB1.-e \n\t\r";
    std::mt19937 random(7);
    for (int round = 0; round < 3000; round++) {
        std::string garbage(random() % 24, ' ');
        for (char &c : garbage)
            c = alphabet[random() % alphabet.size()];
        Tree *tree = readText(garbage);
        EXPECT_TRUE(tree == nullptr || tree->assertTree()) << garbage;
        delete tree;
    }
}

TEST(NewickWriter, WritesBothFormsFilesAndPrintsTrees)
{
    Tree *tree = readText("((A:1,B:2)X:3,C:4);");
    EXPECT_EQ(writeText(tree, true), "((A:1.000000,B:2.000000)X:3.000000,C:4.000000);");
    EXPECT_EQ(writeText(tree, false), readFile(TEST_DATA_DIR "/tree/indented.tre"));
    EXPECT_EQ(printed([&](FILE *out) {
                  printTree(out, tree);
                  printTree(out, tree, tree->nodes[3], 0);
              }),
              readFile(TEST_DATA_DIR "/tree/printed.txt"));
    EXPECT_TRUE(writeNewickTree((scratch + "out.tre").c_str(), tree, false));
    EXPECT_EQ(readFile(scratch + "out.tre"), writeText(tree, false));
    for (const std::string &bad : {std::string("/no/such/dir.tre"), std::string("/dev/full")}) {
        CapturedMessages messages;
        EXPECT_FALSE(writeNewickTree(bad.c_str(), tree, true));
        EXPECT_EQ(messages.text, "error: cannot write file '" + bad + "'\n\n");
    }
    delete tree;
    std::remove((scratch + "out.tre").c_str());
    EXPECT_EQ(reformat("((A,B):3,C)R;"), "((A:0.000000,B:0.000000):3.000000,C:0.000000)R; sound");
    tree = readText("A:2,");
    EXPECT_EQ(writeText(tree, false), "A:2.000000;\n");
    delete tree;
    Tree empty; // nothing to write or print without a root
    EXPECT_EQ(printed([&](FILE *out) { printTree(out, &empty); }) + writeText(&empty), "");
}

TEST(TreeEditing, ConsistencyCheckCopyAndReroot)
{
    Tree *star = readText("(A,B,C);");
    std::swap(star->nodes[2], star->nodes[3]); // internal node before a leaf
    std::swap(star->nodes[2]->name, star->nodes[3]->name);
    EXPECT_EQ(check(star), "!leaves\n");
    star->nnodes = 2; // the destructor still frees all four nodes
    EXPECT_EQ(check(star), "nnodes != nodes.size()\n");
    delete star;
    Tree *tree = readText("((A:1,B:2)X:3,C:4)R;"), *copy = tree->copy();
    delete tree;
    EXPECT_EQ(writeText(copy) + " " + check(copy), "((A:1.000000,B:2.000000)X:3.000000,C:4.000000)R; sound");
    delete copy;
    // Text, node1, node2 (-1: on the branch above node1), result; the root's branches merge.
    const char *same = "((A:1.000000,B:2.000000):3.000000,C:4.000000);", *t = "((A:1,B:2):3,C:4);";
    const std::tuple<const char *, int, int, const char *> reroots[] = {
        {"((A:2,B:2):1,C:3);", 1, -1, "(A:1.000000,(C:4.000000,B:2.000000):1.000000);"},
        // Numbered D, A, B, C, then the inner nodes above C and above A: two branches turn around.
        {"(((A:1,B:1):2,C:3):4,D:5);", 1, 5, "(A:0.500000,((D:9.000000,C:3.000000):2.000000,B:1.000000):0.500000);"},
        {t, 4, -1, same}, {t, 3, -1, same}, {t, 3, 0, same}, // the root, or already there
    };
    for (const auto &[text, node1, node2, expected] : reroots) {
        tree = readText(text);
        node2 < 0 ? tree->reroot(tree->nodes[node1]) : tree->reroot(tree->nodes[node1], tree->nodes[node2]);
        EXPECT_EQ(writeText(tree) + " " + check(tree), std::string(expected) + " sound") << text;
        delete tree;
    }
}

TEST(TreeEditing, LeafOrderTopologyKeysAndParentArrays)
{
    Tree *tree = readOrdered("((A,B),C);", {"B", "C", "A"});
    EXPECT_EQ(labels(tree) + " " + check(tree), "B,C,A,, sound");
    delete tree;
    const std::vector<std::string> names = {"0", "1", "2"};
    Tree *a = readOrdered("((0,1),2);", names), *b = readOrdered("(2,(1,0));", names);
    Tree *c = readOrdered("((0,2),1);", names), *star = readOrdered("(0,1,2);", names), empty1, empty2;
    int key[5], ptree[] = {3, 3, 4, 4, -1}, back[5], small[] = {2, 2, -1}, **ftree = nullptr;
    b->hashkey(key);
    EXPECT_EQ(std::vector<int>(key, key + 5), std::vector<int>({0, 1, -1, 2, -1}));
    EXPECT_TRUE(a->sameTopology(b) && empty1.sameTopology(&empty2)); // rootless trees
    EXPECT_EQ(check(&empty1), "root == NULL\n");
    EXPECT_FALSE(a->sameTopology(c) || a->sameTopology(star));
    c->setTopology(a);
    EXPECT_EQ(std::to_string(c->sameTopology(a)) + check(c), "1sound");
    for (Tree *t : {a, b, c, star})
        delete t;
    float dists[] = {1, 2, 3, 4, 5};
    tree = makeTree(5, ptree);
    EXPECT_EQ(check(tree), "sound");
    tree2ptree(tree, back);
    EXPECT_EQ(std::vector<int>(back, back + 5), std::vector<int>(ptree, ptree + 5));
    setTreeDists(tree, dists);
    EXPECT_EQ(writeText(tree), "(:3.000000,(:1.000000,:2.000000):4.000000);");
    deleteTree(tree);
    makeFtree(3, small, &ftree);
    EXPECT_EQ(printed([&](FILE *out) { printFtree(out, 3, ftree); }), " 0: -1 -1\n 1: -1 -1\n 2:  0  1\n");
    freeFtree(3, ftree);
}

// Broken preconditions throw, naming the condition, and leave nothing behind.
TEST(TreeEditing, BrokenPreconditionsThrowNamingTheCondition)
{
    Tree *tree = readText("(((A,B),C),D);"), *twins = readText("((A,A),C);"); // D, A, B, C, ...
    std::string missing[] = {"A", "B", "C", "E"}, repeated[] = {"A", "C", "B"};
    int threeChildren[] = {3, 3, 3, -1}, rootNotLast[] = {-1, 0};
    const auto thrown = [](const std::function<void()> &operation) { // without "Tree:LINE: "
        try {
            operation();
        } catch (const std::logic_error &e) {
            const std::string what = e.what();
            return what.rfind("Tree:", 0) == 0 ? what.substr(what.find(": ") + 2) : what;
        }
        return std::string("nothing thrown");
    };
    EXPECT_EQ(thrown([&] { tree->reroot(tree->nodes[1], false); }), "reroot: Assertion `0' failed.");
    EXPECT_EQ(thrown([&] { tree->reroot(tree->nodes[1], tree->nodes[2]); }), "reroot: Assertion `0' failed.");
    EXPECT_EQ(thrown([&] { tree->reorderLeaves(missing); }), "reorderLeaves: Assertion `found' failed.");
    EXPECT_EQ(thrown([&] { twins->reorderLeaves(repeated); }),
              "reorderLeaves: Assertion `leaves[j] == NULL' failed.");
    EXPECT_EQ(thrown([&] { makeTree(4, threeChildren); }),
              "ptree2tree: Assertion `parent->nchildren < 2' failed.");
    CapturedMessages messages;
    EXPECT_EQ(thrown([&] { makeTree(2, rootNotLast); }), "ptree2tree: Assertion `tree->assertTree()' failed.");
    EXPECT_EQ(messages.text, "root->parent != NULL\n");
    delete tree;
    delete twins;
}

// The log goes to standard error, through the message sink, until a file is
// opened; errors always go through the sink.
TEST(Logging, LevelsAndLogStreams)
{
    CapturedMessages messages;
    EXPECT_EQ(getLogFile(), stderr);
    EXPECT_TRUE(isLogLevel(0) && !isLogLevel(1));
    printLog(0, "to the sink %d", 0);
    const std::string path = scratch + "log.txt";
    ASSERT_TRUE(openLogFile(path.c_str()));
    EXPECT_FALSE(openLogFile("/no/such/dir/log.txt")); // keeps the open one
    printLog(1, "hidden");
    setLogLevel(1);
    printLog(1, "shown %d", 1);
    EXPECT_EQ(readFile(path), "shown 1"); // flushed at once
    closeLogFile();
    EXPECT_EQ(getLogFile(), nullptr);
    printLog(0, "dropped once closed");
    EXPECT_EQ(readFile(path), "shown 1");
    printError("still %s", "open");
    openLogFile(stderr);
    printLog(0, ", back");
    EXPECT_EQ(messages.text, "to the sink 0error: still open\n, back");
    setLogLevel(0);
    std::remove(path.c_str());
}

TEST(Utilities, StringsBinomialsPoissonPermutationsAndPrinters)
{
    EXPECT_TRUE(inChars('b', "abc"));
    EXPECT_FALSE(inChars('d', "abc") || inChars('\0', "abc") || inChars('a', nullptr));
    const char *chomps[][2] = {{"x\r\n", "x"}, {"x", "x"}, {"\n", ""}, {"", ""}, {"x\r", "x\r"}};
    for (const auto &c : chomps) {
        std::string text = c[0];
        EXPECT_EQ(chomp(text.data()), text != c[1]) << c[0];
        EXPECT_STREQ(text.c_str(), c[1]);
    }
    using Fields = std::vector<std::string>;
    EXPECT_EQ(split("a,b", ","), Fields({"a", "b"}));
    EXPECT_EQ(split("a,b,", ","), Fields({"a", "b"}));
    EXPECT_EQ(split("a,,b", ","), Fields({"a"}));
    EXPECT_EQ(split(",a", ",").size() + split("", ",").size(), 0u);
    EXPECT_EQ(split("a b\tc", " \t"), Fields({"a", "b", "c"}));
    EXPECT_EQ(split("a,b", nullptr), Fields({"a,b"}));
    const int chooses[][3] = {{5, 2, 10}, {5, 0, 1}, {5, 5, 1}, {5, 6, 0}, {-1, 0, 0},
                              {5, -1, 0}, {10, 7, 120}, {30, 15, 155117520}, {100, 50, INT_MAX}};
    for (const auto &c : chooses)
        EXPECT_EQ(choose(c[0], c[1]), c[2]) << c[0] << " " << c[1];
    EXPECT_NEAR(fchoose(100, 50) / 1.0089134454556417e29, 1.0, 1e-12);
    EXPECT_FLOAT_EQ(poisson(0, 2.0f), 0.13533528f); // e^-2
    EXPECT_FLOAT_EQ(poisson(2, 3.0f), 0.22404181f); // 4.5 e^-3
    EXPECT_EQ(poisson(2, 0.0f) + poisson(-1, 1.0f), 0.0f);
    int perm[] = {2, 0, 1}, inv[3], ints[] = {1, 2};
    invertPerm(perm, inv, 3);
    EXPECT_EQ(std::vector<int>(inv, inv + 3), std::vector<int>({1, 2, 0}));
    EXPECT_EQ(printed([&](FILE *out) {
                  printIntArray(out, ints, 2);
                  printIntArray(out, ints, 0);
              }),
              "1 2 \n\n");
}

TEST(Utilities, NormalVariatesFromScriptedDraws)
{
    const std::tuple<std::vector<int>, float, float> cases[] = {
        {{1 << 30, 0}, 3.0f, 3.0f},                         // u1 = 0.5 gives z = 0
        {{0, 1 << 30, 3 << 29, 1 << 30}, 1.0f, 2.7155278f}, // z = -1.7155 rejected, then 0.85776
        {{5, INT_MAX, 1 << 30, 0}, 3.0f, 3.0f},             // u2 = 0 is drawn again
    };
    for (const auto &[draws, mu, expected] : cases) {
        scriptedRand = draws;
        randCalls = 0;
        EXPECT_FLOAT_EQ(normalvariate(mu, 2.0f, scriptedDraw, nullptr), expected);
        EXPECT_EQ(randCalls, draws.size());
    }
}
