// Class probabilities, ranked coefficients and selected clades of a fitted
// model, and the tab-separated files that name them.
#include "report/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <ostream>

std::vector<double> softmax(const std::vector<float> &scores)
{
    std::vector<double> p(scores.size(), 0.0);
    if (scores.empty())
        return p;
    const double largest = *std::max_element(scores.begin(), scores.end());
    double sum = 0.0;
    for (std::size_t k = 0; k < scores.size(); k++) {
        p[k] = std::exp(scores[k] - largest);
        sum += p[k];
    }
    for (double &value : p)
        value /= sum;
    return p;
}

void writePredictions(std::ostream &out, const SampleNames &samples, const ClassNames &classes,
                      const std::vector<SamplePrediction> &predictions)
{
    out << "sample-id\tprediction";
    for (const auto &name : classes.names)
        out << '\t' << name;
    out << '\n';
    // Nine significant digits: more than single-precision scores can tell apart.
    out << std::setprecision(9);
    for (std::size_t i = 0; i < predictions.size(); i++) {
        out << samples.ids[i] << '\t' << classes.names[predictions[i].predicted - 1];
        for (const double p : predictions[i].probabilities)
            out << '\t' << p;
        out << '\n';
    }
}

std::vector<RankedTaxon> rankTaxa(const Coefficients &model)
{
    std::vector<RankedTaxon> taxa;
    for (int k = 0; k < model.nClasses; k++)
        for (int j = 0; j < model.nFeatures; j++)
            if (model.at(k, j) != 0.0f)
                taxa.push_back({k, j, model.at(k, j)});
    std::stable_sort(taxa.begin(), taxa.end(), [](const RankedTaxon &a, const RankedTaxon &b) {
        if (a.klass != b.klass)
            return a.klass < b.klass;
        return std::fabs(a.coefficient) > std::fabs(b.coefficient);
    });
    return taxa;
}

void writeTaxa(std::ostream &out, const std::vector<RankedTaxon> &taxa, const FeatureNames &features,
               const ClassNames &classes)
{
    out << (features.hasTaxonomy ? "class\tfeature-id\ttaxonomy\tcoefficient\n" : "class\tfeature-id\tcoefficient\n");
    // Coefficients as the model file writes them: the float widened to double,
    // six significant digits.
    out << std::setprecision(6);
    for (const RankedTaxon &taxon : taxa) {
        out << classes.names[taxon.klass] << '\t' << features.ids[taxon.feature];
        if (features.hasTaxonomy)
            out << '\t' << features.taxonomy[taxon.feature];
        out << '\t' << static_cast<double>(taxon.coefficient) << '\n';
    }
}

TreeView viewOf(const vessik::Tree &tree)
{
    TreeView view;
    // Pre-order without recursion: a deep tree must not exhaust the stack.
    std::vector<std::pair<const vessik::Node *, int>> stack{{tree.root, -1}};
    int internal = 0;
    while (!stack.empty()) {
        const auto [node, parent] = stack.back();
        stack.pop_back();
        const int v = view.nodes();
        view.parent.push_back(parent);
        view.children.emplace_back();
        if (parent >= 0)
            view.children[parent].push_back(v);
        view.length.push_back(node->dist);
        if (node->isLeaf()) {
            view.feature.push_back(std::atoi(node->longname.c_str()));
            view.name.emplace_back();
            view.id.emplace_back();
        } else {
            view.feature.push_back(-1);
            view.name.push_back(node->longname);
            view.id.push_back("node" + std::to_string(++internal));
        }
        for (int c = node->nchildren - 1; c >= 0; c--)
            stack.push_back({node->children[c], v});
    }
    const int n = view.nodes();
    std::vector<int> size(n, 1);
    for (int v = n - 1; v > 0; v--)
        size[view.parent[v]] += size[v];
    std::vector<int> leavesBefore(n + 1, 0);
    for (int v = 0; v < n; v++) {
        leavesBefore[v + 1] = leavesBefore[v] + (view.feature[v] >= 0 ? 1 : 0);
        if (view.feature[v] >= 0)
            view.leafOrder.push_back(view.feature[v]);
    }
    view.firstLeaf.resize(n);
    view.endLeaf.resize(n);
    for (int v = 0; v < n; v++) {
        view.firstLeaf[v] = leavesBefore[v];
        view.endLeaf[v] = leavesBefore[v + size[v]];
    }
    return view;
}

std::vector<std::string> assignedLevels(const std::string &lineage)
{
    std::vector<std::string> levels;
    std::string::size_type start = 0;
    while (start <= lineage.size()) {
        auto end = lineage.find(';', start);
        if (end == std::string::npos)
            end = lineage.size();
        std::string level = lineage.substr(start, end - start);
        const auto first = level.find_first_not_of(" \t");
        const auto last = level.find_last_not_of(" \t");
        level = first == std::string::npos ? "" : level.substr(first, last - first + 1);
        if (level.empty() || (level.size() >= 2 && level.compare(level.size() - 2, 2, "__") == 0))
            break;
        levels.push_back(level);
        start = end + 1;
    }
    return levels;
}

namespace {

// Each node's lineage shared by all its leaves with a known taxonomy;
// `known` tells whether it has any.
void sharedLineages(const TreeView &tree, const FeatureNames &features,
                    std::vector<std::vector<std::string>> &shared, std::vector<bool> &known)
{
    const int n = tree.nodes();
    shared.assign(n, {});
    known.assign(n, false);
    for (int v = n - 1; v >= 0; v--) {
        if (tree.feature[v] >= 0) {
            shared[v] = assignedLevels(features.taxonomy[tree.feature[v]]);
            known[v] = !features.taxonomy[tree.feature[v]].empty();
        }
        const int p = tree.parent[v];
        if (p < 0 || !known[v])
            continue;
        if (!known[p]) {
            shared[p] = shared[v];
            known[p] = true;
            continue;
        }
        std::size_t common = 0;
        while (common < shared[p].size() && common < shared[v].size() && shared[p][common] == shared[v][common])
            common++;
        shared[p].resize(common);
    }
}

std::string joined(const std::vector<std::string> &levels)
{
    std::string text;
    for (const auto &level : levels)
        text += (text.empty() ? "" : "; ") + level;
    return text;
}

} // namespace

std::vector<Clade> selectedClades(const TreeView &tree, const Coefficients &model,
                                  const FeatureNames &features)
{
    std::vector<std::vector<std::string>> shared;
    std::vector<bool> known;
    if (features.hasTaxonomy)
        sharedLineages(tree, features, shared, known);
    const int n = tree.nodes();
    std::vector<Clade> clades;
    std::vector<int> nonzero(n);
    std::vector<double> squares(n);
    for (int k = 0; k < model.nClasses; k++) {
        std::fill(nonzero.begin(), nonzero.end(), 0);
        std::fill(squares.begin(), squares.end(), 0.0);
        for (int v = n - 1; v >= 0; v--) {
            if (tree.feature[v] >= 0) {
                const double beta = model.at(k, tree.feature[v]);
                nonzero[v] = beta != 0.0 ? 1 : 0;
                squares[v] = beta * beta;
            }
            if (tree.parent[v] >= 0) {
                nonzero[tree.parent[v]] += nonzero[v];
                squares[tree.parent[v]] += squares[v];
            }
        }
        for (int v = 0; v < n; v++)
            if (tree.feature[v] < 0 && nonzero[v] > 0)
                clades.push_back({k, v, tree.leaves(v), nonzero[v], std::sqrt(squares[v]),
                                  features.hasTaxonomy ? joined(shared[v]) : std::string()});
    }
    return clades;
}

void writeClades(std::ostream &out, const std::vector<Clade> &clades, const TreeView &tree,
                 const FeatureNames &features, const ClassNames &classes)
{
    out << "class\tnode\tlabel\tparent\tleaves\tnonzero\tnorm" << (features.hasTaxonomy ? "\ttaxonomy\n" : "\n");
    out << std::setprecision(6);
    for (const Clade &clade : clades) {
        const int parent = tree.parent[clade.node];
        out << classes.names[clade.klass] << '\t' << tree.id[clade.node] << '\t' << tree.name[clade.node] << '\t'
            << (parent < 0 ? "-" : tree.id[parent]) << '\t' << clade.leaves << '\t' << clade.nonzero << '\t'
            << clade.norm;
        if (features.hasTaxonomy)
            out << '\t' << clade.lineage;
        out << '\n';
    }
}
