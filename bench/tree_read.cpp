// Generates Newick trees of a given shape and size, and times reading them
// with the tree library it is built against (bench/tree_read.sh builds it
// twice, against two versions of the library, to compare them side by side).
//
//   tree_read gen SHAPE TIPS SEED   writes a tree on standard output
//   tree_read read FILE REPEATS     prints the least processor time of a read,
//                                   the node count and a checksum of the tree
//
// Shapes: random (random joins of subtrees, so a random binary topology),
// caterpillar (a comb at most 10000 levels deep; past 10001 tips the extra
// tips are spread over its levels), star (one internal node) and balanced.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tree/Tree.h"
#include "tree/newick.h"

namespace {

const int kMaxLevels = 10000; // the reader's nesting limit

std::string leaf(long tip, std::mt19937 &random)
{
    return std::to_string(tip) + ":0." + std::to_string(1 + random() % 999);
}

// Joins two random subtrees until one is left.
void writeRandom(long tips, std::mt19937 &random)
{
    std::vector<std::string> pool;
    for (long i = 0; i < tips; i++)
        pool.push_back(leaf(i, random));
    while (pool.size() > 1) {
        const auto take = [&]() {
            const size_t at = random() % pool.size();
            std::string taken = std::move(pool[at]);
            pool[at] = std::move(pool.back());
            pool.pop_back();
            return taken;
        };
        std::string a = take();
        const std::string b = take();
        a.insert(0, "(");
        a += "," + b + "):0." + std::to_string(1 + random() % 999);
        pool.push_back(std::move(a));
    }
    // The root carries no branch length.
    std::string &tree = pool[0];
    tree.resize(tree.rfind(':'));
    printf("%s;\n", tree.c_str());
}

// Internal node i (0 the root) holds count[i] tips and, but for the deepest, node i+1.
void writeCaterpillar(long tips, std::mt19937 &random)
{
    const long levels = std::min<long>(tips - 1, kMaxLevels);
    std::vector<long> count(levels, 1);
    count[levels - 1] = 2;
    for (long extra = tips - (levels + 1), i = 0; extra > 0; extra--, i = (i + 1) % levels)
        count[i]++;
    long tip = 0;
    for (long i = 0; i < levels; i++) {
        printf("(");
        for (long j = 0; j < count[i]; j++)
            printf("%s%s", j ? "," : "", leaf(tip++, random).c_str());
        if (i < levels - 1)
            printf(",");
    }
    for (long i = levels - 1; i >= 0; i--)
        printf(i > 0 ? "):0.5" : ");\n");
}

void writeStar(long tips, std::mt19937 &random)
{
    printf("(");
    for (long i = 0; i < tips; i++)
        printf("%s%s", i ? "," : "", leaf(i, random).c_str());
    printf(");\n");
}

// Halves the range of tips at every level.
void writeBalanced(long tips, std::mt19937 &random)
{
    std::vector<std::pair<long, long>> ranges{{0, tips}};
    // Each entry: a range to write, or a closing mark (first == -1).
    while (!ranges.empty()) {
        const auto [from, to] = ranges.back();
        ranges.pop_back();
        if (from == -1) {
            printf(")%s", to ? ":0.5" : "");
            continue;
        }
        if (from == -2) {
            printf(",");
            continue;
        }
        if (to - from == 1) {
            printf("%s", leaf(from, random).c_str());
            continue;
        }
        const long middle = from + (to - from) / 2;
        printf("(");
        ranges.push_back({-1, ranges.empty() ? 0 : 1});
        ranges.push_back({middle, to});
        ranges.push_back({-2, 0});
        ranges.push_back({from, middle});
    }
    printf(";\n");
}

// FNV-1a over every node's number, label, length, parent and children.
uint64_t checksum(const vessik::Tree *tree)
{
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](const void *bytes, size_t length) {
        for (size_t i = 0; i < length; i++)
            hash = (hash ^ static_cast<const unsigned char *>(bytes)[i]) * 1099511628211ull;
    };
    for (int i = 0; i < tree->nnodes; i++) {
        const vessik::Node *node = tree->nodes[i];
        const int parent = node->parent ? node->parent->name : -1;
        mix(&node->name, sizeof node->name);
        mix(node->longname.data(), node->longname.size());
        mix(&node->dist, sizeof node->dist);
        mix(&parent, sizeof parent);
        for (int j = 0; j < node->nchildren; j++)
            mix(&node->children[j]->name, sizeof(int));
    }
    return hash;
}

// Processor time, not wall time: the figures hold on a busy machine.
double cpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

int usage()
{
    fprintf(stderr, "usage: tree_read gen random|caterpillar|star|balanced TIPS SEED\n"
                    "       tree_read read FILE REPEATS\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "gen") == 0) {
        const long tips = atol(argv[3]);
        std::mt19937 random(static_cast<unsigned>(atol(argv[4])));
        const std::string shape = argv[2];
        if (tips < 2)
            return usage();
        if (shape == "random")
            writeRandom(tips, random);
        else if (shape == "caterpillar")
            writeCaterpillar(tips, random);
        else if (shape == "star")
            writeStar(tips, random);
        else if (shape == "balanced")
            writeBalanced(tips, random);
        else
            return usage();
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "read") == 0) {
        const int repeats = atoi(argv[3]);
        double best = -1, total = 0;
        int nodes = 0;
        uint64_t sum = 0;
        // Slow reads are not repeated: a few seconds of timing are enough.
        for (int r = 0; r < repeats && total < 3.0; r++) {
            const double start = cpuSeconds();
            vessik::Tree *tree = vessik::readNewickTree(argv[2], nullptr);
            const double took = cpuSeconds() - start;
            if (tree == nullptr)
                return 1;
            nodes = tree->nnodes;
            sum = checksum(tree);
            delete tree;
            total += took;
            if (best < 0 || took < best)
                best = took;
        }
        printf("%.4f %d %016llx\n", best, nodes, static_cast<unsigned long long>(sum));
        return 0;
    }
    return usage();
}
