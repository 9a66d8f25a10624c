#include "validation/FoldDraw.h"

#include <cstdint>
#include <utility>

namespace {

// A uniform draw from 0 to bound-1 (bound at least 1): outputs at or above
// the largest multiple of bound are rejected, so no value is favoured.
std::uint32_t drawBelow(std::mt19937 &generator, std::uint32_t bound)
{
    const std::uint64_t range = std::uint64_t(1) << 32;
    const std::uint64_t limit = range - range % bound;
    std::uint64_t value = 0;
    do
        value = generator();
    while (value >= limit);
    return static_cast<std::uint32_t>(value % bound);
}

// Fisher-Yates, from the last position down.
void shuffle(std::vector<int> &items, std::mt19937 &generator)
{
    for (std::size_t i = items.size(); i > 1; i--)
        std::swap(items[i - 1], items[drawBelow(generator, static_cast<std::uint32_t>(i))]);
}

} // namespace

std::vector<int> drawFolds(const std::vector<int> &classOfSample, int nClasses, int nFolds,
                           std::mt19937 &generator)
{
    const int nSamples = static_cast<int>(classOfSample.size());
    std::vector<int> foldOfSample(nSamples, 0);
    int nextFold = 0;
    for (int c = 1; c <= nClasses; c++) {
        std::vector<int> members;
        for (int s = 0; s < nSamples; s++)
            if (classOfSample[s] == c)
                members.push_back(s);
        shuffle(members, generator);
        for (const int s : members) {
            foldOfSample[s] = nextFold;
            nextFold = (nextFold + 1) % nFolds;
        }
    }
    return foldOfSample;
}

