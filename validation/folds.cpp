// Folds of a repeated K-fold cross-validation, stratified by class.
//
// Without groups, the shuffled members of each class in turn are dealt
// round-robin over the folds, each class starting where the previous one
// stopped, so that both every class and the folds overall are as even as the
// sizes allow.
//
// With groups, a group's samples go to one fold together, and the classes are
// spread as evenly as whole groups allow, by the greedy rule of
// scikit-learn's StratifiedGroupKFold:
// 1. The groups are shuffled (Fisher-Yates, as below), then stably sorted by
//    the spread of their class counts, largest first: big groups and groups
//    of one class are placed while the folds can still take them.
// 2. Each group in turn goes to the fold that leaves the classes spread most
//    evenly: for each class c, the shares n[f][c] / total[c] of its samples
//    that the folds f hold have a standard deviation over the folds; the fold
//    whose taking the group gives the least mean of these over the classes
//    wins. Near-equal means (within a relative 1e-9) go to the fold with fewer
//    samples so far, then to the lower fold number.
// 3. Once only as many groups are left as folds are empty, each goes to an
//    empty fold, so that no fold is left without samples.
// The standard deviation of a class's shares is sqrt(K Σ n² - (Σ n)²) / (K
// total) over the K folds: the root is taken of a whole number, held exactly
// in a double for any table below about ten million samples, so the choices
// are the same on every machine.
#include "validation/folds.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>
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

// The folds' class counts as groups are placed, with, per class, the sum and
// the sum of squares of its counts over the folds.
struct FoldCounts {
    FoldCounts(int nFolds, int nClasses)
        : count(nFolds, std::vector<double>(nClasses, 0.0)), samples(nFolds, 0),
          sum(nClasses, 0.0), squares(nClasses, 0.0)
    {
    }

    // The mean over the classes of the standard deviation of their shares
    // (without the constant factor 1 / (classes K)), were `group` put in `fold`.
    double spreadWith(const std::vector<double> &group, int fold,
                      const std::vector<double> &totals) const
    {
        const double k = static_cast<double>(count.size());
        double spread = 0.0;
        for (size_t c = 0; c < group.size(); c++) {
            if (totals[c] == 0.0)
                continue;
            const double n = count[fold][c];
            const double s = sum[c] + group[c];
            const double q = squares[c] + 2.0 * n * group[c] + group[c] * group[c];
            spread += std::sqrt(k * q - s * s) / totals[c];
        }
        return spread;
    }

    void add(const std::vector<double> &group, int fold)
    {
        for (size_t c = 0; c < group.size(); c++) {
            const double n = count[fold][c];
            squares[c] += 2.0 * n * group[c] + group[c] * group[c];
            sum[c] += group[c];
            count[fold][c] += group[c];
            samples[fold] += group[c];
        }
    }

    std::vector<std::vector<double>> count;  // count[f][c]
    std::vector<double> samples;             // the samples in each fold
    std::vector<double> sum, squares;
};

// The fold that takes `group`, by steps 2 and 3 of the head comment.
int bestFold(const FoldCounts &folds, const std::vector<double> &group,
             const std::vector<double> &totals, bool onlyEmpty)
{
    int best = -1;
    double bestSpread = 0.0;
    for (int f = 0; f < static_cast<int>(folds.samples.size()); f++) {
        if (onlyEmpty && folds.samples[f] != 0.0)
            continue;
        const double spread = folds.spreadWith(group, f, totals);
        const double tolerance = 1e-9 * (1.0 + bestSpread);
        if (best < 0 || spread < bestSpread - tolerance ||
            (spread <= bestSpread + tolerance && folds.samples[f] < folds.samples[best])) {
            best = f;
            bestSpread = spread;
        }
    }
    return best;
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

std::vector<int> drawGroupFolds(const std::vector<int> &classOfSample, int nClasses,
                                const std::vector<int> &groupOfSample, int nGroups, int nFolds,
                                std::mt19937 &generator)
{
    std::vector<std::vector<double>> groupCounts(nGroups, std::vector<double>(nClasses, 0.0));
    std::vector<double> totals(nClasses, 0.0);
    for (size_t s = 0; s < classOfSample.size(); s++) {
        groupCounts[groupOfSample[s]][classOfSample[s] - 1] += 1.0;
        totals[classOfSample[s] - 1] += 1.0;
    }
    // The spread of a group's class counts, as C Σ x² - (Σ x)²: their
    // variance times C², a whole number. C counts the classes that have
    // samples, so that a class without any changes no group's place.
    const long long present = std::count_if(totals.begin(), totals.end(),
                                            [](double total) { return total > 0.0; });
    std::vector<long long> spread(nGroups, 0);
    for (int g = 0; g < nGroups; g++) {
        long long sum = 0;
        long long squares = 0;
        for (const double x : groupCounts[g]) {
            sum += static_cast<long long>(x);
            squares += static_cast<long long>(x) * static_cast<long long>(x);
        }
        spread[g] = present * squares - sum * sum;
    }
    std::vector<int> order(nGroups);
    std::iota(order.begin(), order.end(), 0);
    shuffle(order, generator);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return spread[a] > spread[b]; });

    FoldCounts folds(nFolds, nClasses);
    std::vector<int> foldOfGroup(nGroups, 0);
    int emptyFolds = nFolds;
    for (int placed = 0; placed < nGroups; placed++) {
        const int g = order[placed];
        const int fold = bestFold(folds, groupCounts[g], totals, nGroups - placed <= emptyFolds);
        emptyFolds -= folds.samples[fold] == 0.0 ? 1 : 0;
        folds.add(groupCounts[g], fold);
        foldOfGroup[g] = fold;
    }
    std::vector<int> foldOfSample(classOfSample.size());
    for (size_t s = 0; s < classOfSample.size(); s++)
        foldOfSample[s] = foldOfGroup[groupOfSample[s]];
    return foldOfSample;
}

namespace {

// The samples in (or out of) `fold`, ascending, separated by spaces.
void writeList(std::ostream &out, const std::vector<int> &foldOfSample, int fold, bool inFold)
{
    const char *separator = "";
    for (int s = 0; s < static_cast<int>(foldOfSample.size()); s++) {
        if ((foldOfSample[s] == fold) == inFold) {
            out << separator << s;
            separator = " ";
        }
    }
    out << '\n';
}

} // namespace

void writeSets(std::ostream &out, const std::vector<int> &foldOfSample, int nFolds)
{
    for (int fold = 0; fold < nFolds; fold++) {
        out << "> " << fold << '\n';
        writeList(out, foldOfSample, fold, true);
        writeList(out, foldOfSample, fold, false);
    }
}

std::vector<std::string> setsFilesOfSeed(const std::vector<int> &classOfSample, int nClasses,
                                         const std::vector<int> &groupOfSample, int nGroups,
                                         int nFolds, int repetitions, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::vector<std::string> files;
    for (int r = 0; r < repetitions; r++) {
        std::ostringstream text;
        writeSets(text,
                  nGroups > 0 ? drawGroupFolds(classOfSample, nClasses, groupOfSample, nGroups, nFolds,
                                               generator)
                              : drawFolds(classOfSample, nClasses, nFolds, generator),
                  nFolds);
        files.push_back(text.str());
    }
    return files;
}
