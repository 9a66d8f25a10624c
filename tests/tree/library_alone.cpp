// A program built against the tree library alone, as its users write them:
// no message sink installed, nothing from the rest of Orvane. Its test
// compares what it writes on standard output and standard error byte for byte.
//
// Arguments: a missing file, an empty file, two malformed tree files, a good
// tree file and an output path that cannot be created.
#include <cstdio>
#include <string>

#include "tree/common.h"
#include "tree/logging.h"
#include "tree/messages.h"
#include "tree/newick.h"

using namespace vessik;

int main(int argc, char **argv)
{
    if (argc != 7)
        return 2;
    const char *missing = argv[1], *good = argv[5], *unwritable = argv[6];
    for (int i = 1; i <= 4; i++)
        if (readNewickTree(argv[i], nullptr) != nullptr)
            return 3;
    Tree *tree = readNewickTree(good, nullptr);
    if (tree == nullptr || writeNewickTree(unwritable, tree, true))
        return 3;
    printLog(0, "log level %d\n", 0);
    printLog(1, "not shown\n");

    printTree(tree, nullptr, 0);
    writeNewickTree(stdout, tree, 0, true);
    printf("\n");
    int ints[] = {1, 2};
    float floats[] = {0.5f, 1e-05f};
    printIntArray(ints, 2);
    printIntArray(ints, 0);
    printFloatArray(floats, 2);

    // An embedder's sink takes every message; putting the previous one back
    // brings the standard streams back.
    {
        std::string caught;
        const ScopedMessageSink sink([&](MessageKind, const std::string &text) { caught += text; });
        readNewickTree(missing, nullptr);
        printLog(0, "log\n");
        printf("caught [%s]\n", caught.c_str());
    }
    readNewickTree(missing, nullptr);
    delete tree;
    return 0;
}
