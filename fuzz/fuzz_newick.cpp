// Fuzz target of the Newick reader: any bytes must be read as a tree or
// refused with a message, never crash or read out of bounds. A tree it
// accepts must hold together, and the walks and the writer must get through
// it. (Names are unquoted and may hold brackets, so what the writer makes of
// an odd tree need not read back the same.)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tree/Tree.h"
#include "tree/newick.h"

namespace {

std::unique_ptr<vessik::Tree> readTree(const void *text, size_t size)
{
    // fmemopen refuses a buffer of size 0; an empty file reads the same.
    static const char empty = 0;
    FILE *in = fmemopen(const_cast<void *>(size ? text : &empty), size, "r");
    if (in == nullptr)
        abort();
    std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(in));
    fclose(in);
    return tree;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::unique_ptr<vessik::Tree> tree = readTree(data, size);
    if (!tree)
        return 0;
    if (!tree->assertTree())
        abort();
    vessik::ExtendArray<vessik::Node *> order;
    vessik::getTreePostOrder(tree.get(), &order);
    if (order.size() != tree->nnodes)
        abort();

    char *written = nullptr;
    size_t writtenSize = 0;
    FILE *out = open_memstream(&written, &writtenSize);
    vessik::writeNewickTree(out, tree.get(), 0, true);
    fclose(out);
    free(written);
    return 0;
}
