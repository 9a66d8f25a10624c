// Shared helpers of the tree library tests: trees read from and written to memory.
#ifndef VESSIK_TEST_HELPERS_H
#define VESSIK_TEST_HELPERS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tree/newick.h"

namespace vessik_test {
using namespace vessik;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

inline Tree *readText(const std::string &text, Tree *tree = nullptr)
{
    // A memory stream cannot be empty.
    FILE *in = text.empty() ? fopen("/dev/null", "r")
                            : fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    Tree *result = readNewickTree(in, tree);
    fclose(in);
    return result;
}

inline std::string writeText(Tree *tree, bool oneline = true)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    writeNewickTree(out, tree, 0, oneline);
    fclose(out);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

// The one-line form of the tree read from `text`.
inline std::string reformat(const std::string &text)
{
    Tree *tree = readText(text);
    const std::string result = tree ? writeText(tree) : "(unreadable)";
    delete tree;
    return result;
}

// The labels of the nodes in slot order, joined by commas.
inline std::string labels(Tree *tree)
{
    std::string text;
    for (int i = 0; i < tree->nnodes; i++)
        text += (i ? "," : "") + tree->nodes[i]->longname;
    return text;
}

inline std::string slurp(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A fresh directory, removed with its contents.
struct TempDir {
    std::string path;
    TempDir()
    {
        char pattern[] = "/tmp/vessik-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace vessik_test

#endif
