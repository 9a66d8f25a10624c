// Selection shares: over the fold models of one grid point, how many select
// each taxon (a nonzero coefficient) and each clade (a nonzero coefficient
// below it) for each class, and their mean coefficient or norm. The clades'
// squared norms are summed from the leaves up, one pass over the tree's
// internal nodes per fit and class.
#include "validation/Selection.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "model/Logistic.h"

namespace {

// How many fits select one taxon or clade of a class, and the sum of its
// coefficient (taxon) or norm (clade) over the fits.
struct Tally {
    std::vector<int> count;
    std::vector<double> sum;

    explicit Tally(std::size_t cells) : count(cells, 0), sum(cells, 0.0) {}
    void add(std::size_t cell, double value)
    {
        count[cell]++;
        sum[cell] += value;
    }
};

// One line of the table before it is ordered.
struct Line {
    bool clade;
    int index; // feature number, or node number from 0
    int count;
    double mean;
};

// Taxa of larger absolute mean first; a mean that is not a number goes last.
double magnitude(double mean)
{
    return std::isnan(mean) ? -1.0 : std::fabs(mean);
}

bool comesBefore(const Line &a, const Line &b)
{
    if (a.count != b.count)
        return a.count > b.count;
    if (a.clade != b.clade)
        return !a.clade;
    if (!a.clade && magnitude(a.mean) != magnitude(b.mean))
        return magnitude(a.mean) > magnitude(b.mean);
    return a.index < b.index;
}

// Adds the clades one class of one fit selects: `coefficients` holds the
// class's M coefficients, `squares` room for one value per node. Children are
// numbered after their parents, so the pass from the last node meets every
// child before its parent.
void tallyClades(const Logistic &index, const double *coefficients, std::vector<double> &squares,
                 Tally &clades, std::size_t firstCell)
{
    for (int v = index.nNodes - 1; v >= 0; v--) {
        double sum = 0;
        for (const int f : index.nodeLeaves[v])
            sum += coefficients[f] * coefficients[f];
        for (const int c : index.nodeChildren[v])
            sum += squares[c];
        squares[v] = sum;
        if (sum > 0)
            clades.add(firstCell + v, std::sqrt(sum));
    }
}

} // namespace

std::string selectionTable(const Testing &run, int point, vessik::Tree *tree, int nFeatures,
                           int nClasses, const StudyNames &names)
{
    const int M = std::max(nFeatures, 0);
    const int C = std::max(nClasses, 0);
    // The tree indexed as a model indexes it: internal node v is node v + 1
    // of the pre-order. The weights of w play no part.
    Data shape;
    shape.M = M;
    shape.C = C;
    Logistic index(shape, tree != nullptr ? tree->copy() : nullptr);
    index.LoadTheTree(0.0f);
    const int V = index.nNodes;

    const int fits = run.NTests > 0 && run.KFold > 0 ? run.NTests * run.KFold : 0;
    Tally taxa(static_cast<std::size_t>(C) * M), clades(static_cast<std::size_t>(C) * V);
    std::vector<double> coefficients(static_cast<std::size_t>(C) * M, 0.0);
    std::vector<double> squares(V);
    for (int f = 0; f < fits; f++) {
        const FitResult &fit = run.fits[static_cast<std::size_t>(point) * fits + f];
        for (const auto &[cell, value] : fit.nonzero) {
            taxa.add(cell, value);
            coefficients[cell] = value;
        }
        for (int k = 0; k < C; k++)
            tallyClades(index, &coefficients[static_cast<std::size_t>(k) * M], squares, clades,
                        static_cast<std::size_t>(k) * V);
        for (const auto &entry : fit.nonzero)
            coefficients[entry.first] = 0.0;
    }
    index.del();

    std::ostringstream out;
    out << "feature\tclass\tshare\tmean_coefficient\n";
    for (int k = 0; k < C; k++) {
        std::vector<Line> lines;
        for (int j = 0; j < M; j++) {
            const std::size_t cell = static_cast<std::size_t>(k) * M + j;
            if (taxa.count[cell] > 0)
                lines.push_back({false, j, taxa.count[cell], taxa.sum[cell] / fits});
        }
        for (int v = 0; v < V; v++) {
            const std::size_t cell = static_cast<std::size_t>(k) * V + v;
            if (clades.count[cell] > 0)
                lines.push_back({true, v, clades.count[cell], clades.sum[cell] / fits});
        }
        std::sort(lines.begin(), lines.end(), comesBefore);
        for (const Line &line : lines)
            out << (line.clade ? "node" + std::to_string(line.index + 1) : std::to_string(line.index))
                << '\t' << names.className(k + 1) << '\t'
                << static_cast<double>(line.count) / fits << '\t' << line.mean << '\n';
    }
    return out.str();
}
