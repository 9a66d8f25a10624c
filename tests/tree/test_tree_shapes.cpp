// Trees of every shape at full size: linear work in the number of nodes, and
// every walk within a 1 MB thread stack at the deepest nesting the reader accepts.
#include <gtest/gtest.h>

#include <atomic>
#include <new>

#include "tree/newick.h"

#include "../test_support.h"

using namespace vessik;

// Array allocations are what grows with a tree: count their bytes while asked to.
static std::atomic<bool> counting{false};
static std::atomic<size_t> arrayBytes{0};
void *operator new[](size_t size)
{
    if (counting)
        arrayBytes += size;
    return ::operator new(size);
}
void operator delete[](void *pointer) noexcept
{
    ::operator delete(pointer);
}
void operator delete[](void *pointer, size_t) noexcept
{
    ::operator delete(pointer);
}

namespace {

const int kDeepest = kDeepestNesting;

std::string star(int tips)
{
    std::string text = "(";
    for (int i = 0; i < tips; i++)
        text += (i ? "," : "") + std::to_string(i) + ":1.000000";
    return text + ");";
}

} // namespace

TEST(TreeShapes, EveryWalkOfTheDeepestTreeFitsAOneMegabyteStack)
{
    const std::string text = combNewick(kDeepest, 1); // tips 0..10000, 10000 levels
    const bool ran = runWithStack(kOneMegabyte, [&] {
        Tree *tree = readText(text);
        ASSERT_NE(tree, nullptr);
        EXPECT_EQ(tree->nnodes, 2 * kDeepest + 1);
        EXPECT_TRUE(tree->assertTree());
        EXPECT_EQ(writeText(tree), text);

        // Post-order: every tip in reading order, then the internal nodes from
        // the deepest up to the root. Pre-order: root, tip 0, node 1, tip 1, ...
        ExtendArray<Node *> post, pre;
        getTreePostOrder(tree, &post);
        getTreePreOrder(tree, &pre);
        ASSERT_EQ(post.size(), tree->nnodes);
        ASSERT_EQ(pre.size(), tree->nnodes);
        EXPECT_EQ(post[kDeepest]->longname, std::to_string(kDeepest));
        EXPECT_EQ(post[kDeepest + 1]->parent, post[kDeepest + 2]);
        EXPECT_EQ(post[tree->nnodes - 1], tree->root);
        EXPECT_EQ(pre[0], tree->root);
        EXPECT_EQ(pre[2 * 500 + 1]->longname, "500");
        EXPECT_EQ(pre[2 * 500 + 2]->parent, pre[2 * 500]);

        Tree *copy = tree->copy();
        EXPECT_TRUE(copy->assertTree());
        EXPECT_TRUE(tree->sameTopology(copy));
        EXPECT_EQ(writeText(copy), text);
        // Rerooting above the deepest tip turns all 10000 branches around.
        Node *deepest = nullptr;
        for (int i = 0; i < copy->nnodes; i++)
            if (copy->nodes[i]->longname == std::to_string(kDeepest))
                deepest = copy->nodes[i];
        copy->reroot(deepest);
        EXPECT_TRUE(copy->assertTree());
        EXPECT_FALSE(tree->sameTopology(copy));
        EXPECT_EQ(copy->root->children[0], deepest);

        FILE *nowhere = fopen("/dev/null", "w");
        writeNewickTree(nowhere, tree, 0, false);
        printTree(nowhere, tree);
        fclose(nowhere);
        delete copy;
        delete tree;
    });
    EXPECT_TRUE(ran);
}

TEST(TreeShapes, ReadingCopyingAndBuildingAllocateInProportionToTheTree)
{
    // Growing an array one slot at a time would allocate some n*n/2 pointers
    // for n nodes; growing it by half allocates a few n in all.
    const size_t perNode = 100;
    const std::pair<const char *, std::string> shapes[] = {
        {"star of 200000 tips", star(200000)},
        {"comb of 10000 levels and 200000 tips", combNewick(kDeepest, 20)},
    };
    for (const auto &[shape, text] : shapes) {
        arrayBytes = 0;
        counting = true;
        Tree *tree = readText(text);
        Tree *copy = tree ? tree->copy() : nullptr;
        counting = false;
        ASSERT_NE(tree, nullptr) << shape;
        EXPECT_LT(arrayBytes, perNode * tree->nnodes) << shape;
        EXPECT_EQ(writeText(copy), text) << shape;
        delete copy;
        delete tree;
    }

    // A binary comb from its parent array: leaves 0..n, internal nodes after
    // them, the root last; internal node n+1+i holds leaf i and node n+2+i.
    const int n = 100000, nnodes = 2 * n + 1;
    std::vector<int> parents(nnodes, -1);
    for (int i = 0; i < n; i++) {
        parents[i] = n + 1 + (n - 1 - i);         // leaf i under the i-th level from the root
        parents[n + 1 + i] = i + 1 < n ? n + 2 + i : -1;
    }
    parents[n] = n + 1; // the deepest level holds two leaves
    arrayBytes = 0;
    counting = true;
    Tree *built = makeTree(nnodes, parents.data());
    counting = false;
    EXPECT_LT(arrayBytes, perNode * nnodes);
    std::vector<int> back(nnodes);
    tree2ptree(built, back.data());
    EXPECT_EQ(back, parents);
    delete built;
}
