// Deep trees for the tests, and a thread with a small stack to walk them in,
// as schedulers and thread pools give: no walk may depend on a large stack.
#ifndef ORVANE_DEEP_TREES_H
#define ORVANE_DEEP_TREES_H

#include <cstddef>
#include <functional>
#include <string>

#include <pthread.h>

// Returns false when the thread cannot be made; a stack overflow kills the test.
inline bool runWithStack(size_t stackBytes, std::function<void()> body)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_t thread;
    const auto run = [](void *work) -> void * {
        (*static_cast<std::function<void()> *>(work))();
        return nullptr;
    };
    const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                         pthread_create(&thread, &attributes, run, &body) == 0;
    pthread_attr_destroy(&attributes);
    return started && pthread_join(thread, nullptr) == 0;
}

const size_t kOneMegabyte = 1 << 20;

// The deepest nesting the Newick reader accepts.
const int kDeepestNesting = 10000;

// Newick text of a comb of `levels` internal nodes, numbered from the root
// down: node i holds `perLevel` tips (the deepest one more), then node i+1.
// Tips are numbered 0, 1, ... from the root down; every branch is 1 long and
// written as the Newick writer writes it, so the text reads back unchanged.
inline std::string combNewick(int levels, int perLevel)
{
    std::string text;
    int tip = 0;
    for (int i = 0; i < levels; i++) {
        text += "(";
        for (int j = 0; j < perLevel + (i == levels - 1); j++)
            text += (j ? "," : "") + std::to_string(tip++) + ":1.000000";
        if (i < levels - 1)
            text += ",";
    }
    for (int i = levels - 1; i > 0; i--)
        text += "):1.000000";
    return text + ");";
}

#endif
