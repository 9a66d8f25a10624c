// Whole-tree operations: consistency check, copy, reroot, leaf order,
// topology keys and the parent-array forms.
#include <vector>

#include "helpers.h"

using namespace vessik_test;

namespace {
Tree *readOrdered(const char *text, std::vector<std::string> names)
{
    Tree *tree = readText(text);
    tree->reorderLeaves(names.data());
    return tree;
}

std::string check(Tree *tree)
{
    CaptureStderr();
    const bool sound = tree->assertTree();
    return sound ? "sound" + GetCapturedStderr() : GetCapturedStderr();
}
} // namespace

TEST(TreeModel, NodeArrayGrowthAndConsistencyCheck)
{
    ExtendArray<int> array;
    EXPECT_EQ(array.data, nullptr);
    for (int i = 0; i < 41; i++) {
        array.append(i);
        EXPECT_EQ(array.capacity, i < 40 ? 40 : 41); // one slot at a time past minsize
    }
    Tree empty;
    EXPECT_EQ(check(&empty), "root == NULL\n");
    Tree *star = readText("(A,B,C);");
    EXPECT_EQ(check(star), "sound");
    std::swap(star->nodes[2], star->nodes[3]); // internal node before a leaf
    std::swap(star->nodes[2]->name, star->nodes[3]->name);
    EXPECT_EQ(check(star), "!leaves\n");
    star->nnodes = 2; // the destructor still frees all four nodes
    EXPECT_EQ(check(star), "nnodes != nodes.size()\n");
    delete star;
}

TEST(TreeEditing, CopyIsAnIndependentEqualTree)
{
    Tree *tree = readText("((A:1,B:2)X:3,C:4)R;");
    Tree *copy = tree->copy();
    delete tree;
    EXPECT_EQ(check(copy), "sound");
    EXPECT_EQ(writeText(copy), "((A:1.000000,B:2.000000)X:3.000000,C:4.000000)R;");
    delete copy;
}

TEST(TreeEditing, RerootSplitsTheBranchAndMergesTheRootBranches)
{
    Tree *tree = readText("((A:2,B:2):1,C:3);");
    tree->reroot(tree->nodes[1]);
    EXPECT_EQ(writeText(tree), "(A:1.000000,(C:4.000000,B:2.000000):1.000000);");
    EXPECT_EQ(check(tree), "sound");
    delete tree;
    // Numbered D, A, B, C, then the inner nodes above C and above A: two branches turn around.
    tree = readText("(((A:1,B:1):2,C:3):4,D:5);");
    tree->reroot(tree->nodes[1], tree->nodes[5]);
    EXPECT_EQ(writeText(tree),
              "(A:0.500000,((D:9.000000,C:3.000000):2.000000,B:1.000000):0.500000);");
    EXPECT_EQ(check(tree), "sound");
    delete tree;
    const char *unchanged = "((A:1.000000,B:2.000000):3.000000,C:4.000000);";
    tree = readText(unchanged);
    tree->reroot(tree->root);
    tree->reroot(tree->nodes[3]);
    tree->reroot(tree->nodes[3], tree->nodes[0]);
    EXPECT_EQ(writeText(tree), unchanged);
    delete tree;
}

TEST(TreeEditing, LeafOrderTopologyKeysAndSetTopology)
{
    Tree *tree = readOrdered("((A,B),C);", {"B", "C", "A"});
    EXPECT_EQ(labels(tree), "B,C,A,,");
    EXPECT_EQ(check(tree), "sound");
    delete tree;
    const std::vector<std::string> names = {"0", "1", "2"};
    Tree *a = readOrdered("((0,1),2);", names);
    Tree *b = readOrdered("(2,(1,0));", names);
    Tree *c = readOrdered("((0,2),1);", names);
    Tree *star = readOrdered("(0,1,2);", names);
    int key[5];
    b->hashkey(key);
    EXPECT_EQ(std::vector<int>(key, key + 5), std::vector<int>({0, 1, -1, 2, -1}));
    EXPECT_TRUE(a->sameTopology(b));
    EXPECT_FALSE(a->sameTopology(c));
    EXPECT_FALSE(a->sameTopology(star));
    Tree empty1, empty2;
    EXPECT_TRUE(empty1.sameTopology(&empty2));
    c->setTopology(a);
    EXPECT_TRUE(c->sameTopology(a));
    EXPECT_EQ(check(c), "sound");
    for (Tree *t : {a, b, c, star})
        delete t;
}

TEST(TreeEditing, ParentArraysAndTwoChildTables)
{
    int ptree[] = {3, 3, 4, 4, -1};
    Tree *tree = makeTree(5, ptree);
    EXPECT_EQ(tree->root, tree->nodes[4]);
    EXPECT_EQ(check(tree), "sound");
    int back[5];
    tree2ptree(tree, back);
    EXPECT_EQ(std::vector<int>(back, back + 5), std::vector<int>(ptree, ptree + 5));
    float dists[] = {1, 2, 3, 4, 5};
    setTreeDists(tree, dists);
    EXPECT_EQ(writeText(tree), "(:3.000000,(:1.000000,:2.000000):4.000000);");
    deleteTree(tree);
    int small[] = {2, 2, -1};
    int **ftree = nullptr;
    makeFtree(3, small, &ftree);
    CaptureStdout();
    printFtree(3, ftree);
    EXPECT_EQ(GetCapturedStdout(), " 0: -1 -1\n 1: -1 -1\n 2:  0  1\n");
    freeFtree(3, ftree);
}

TEST(TreeEditingDeathTest, BrokenPreconditionsStopNamingTheCondition)
{
    Tree *tree = readText("(((A,B),C),D);"); // D, A, B, C, ...
    EXPECT_DEATH(tree->reroot(tree->nodes[1], false), "Tree.*reroot.*Assertion `0' failed");
    EXPECT_DEATH(tree->reroot(tree->nodes[1], tree->nodes[2]), "reroot.*`0'");
    std::vector<std::string> missing = {"A", "B", "C", "E"};
    EXPECT_DEATH(tree->reorderLeaves(missing.data()), "reorderLeaves.*`found'");
    delete tree;
    tree = readText("((A,A),C);");
    std::vector<std::string> names = {"A", "C", "B"};
    EXPECT_DEATH(tree->reorderLeaves(names.data()), "reorderLeaves.*`leaves\\[j\\] == NULL'");
    delete tree;
    int threeChildren[] = {3, 3, 3, -1};
    EXPECT_DEATH(makeTree(4, threeChildren), "ptree2tree.*`parent->nchildren < 2'");
    int rootNotLast[] = {-1, 0};
    EXPECT_DEATH(makeTree(2, rootNotLast), "ptree2tree.*`tree->assertTree\\(\\)'");
}
