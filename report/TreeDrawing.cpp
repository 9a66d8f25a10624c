// Draws the tree as SVG: a rectangular phylogram (branch lengths from the
// root, or depths when the tree has none), tips top to bottom in the file's
// order. A branch takes a class's colour when every leaf below it has a
// nonzero coefficient of that class; a lane per class beside the tips marks
// the largest such clades. Large trees stay small to write and to view:
// subtrees without any nonzero coefficient collapse into one row, and tip
// labels are left out when the rows are too many to read.
#include <algorithm>
#include <cstdio>
#include <ostream>

#include "io/text.h"
#include "report/Report.h"

namespace {

const char *const kClassColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                     "#8c564b", "#e377c2", "#bcbd22", "#17becf", "#7f7f7f"};
const int kPalette = sizeof kClassColours / sizeof kClassColours[0];
const char *const kSeveralColour = "#000000";
const char *const kActiveColour = "#666666";
const char *const kInactiveColour = "#c8c8c8";

const double kMargin = 10;
const double kTreeLeft = 60;  // room for the root's name
const double kTreeWidth = 600;
const double kRowHeight = 14;
const double kLegendLine = 16;
const double kLaneStep = 12;
const double kLaneWidth = 8;
const double kCharWidth = 6.5;     // rough width of a character at font size 11
const double kMaxLabelWidth = 320;

std::string num(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

const char *classColour(int k)
{
    return kClassColours[k % kPalette];
}

// Where each node is drawn and how.
struct Layout {
    std::vector<double> x, y;
    std::vector<bool> collapsed, hidden;
    std::vector<int> firstRow, lastRow;
    std::vector<double> tipX;  // rightmost x below a node
    int rows = 0;
};

Layout layOut(const TreeView &tree, const std::vector<int> &anyNonzero)
{
    const int n = tree.nodes();
    Layout layout;
    layout.collapsed.assign(n, false);
    layout.hidden.assign(n, false);
    const bool collapse = tree.leaves(0) > kCollapseAboveLeaves;
    std::vector<double> distance(n, 0.0), depth(n, 0.0);
    for (int v = 1; v < n; v++) {
        distance[v] = distance[tree.parent[v]] + std::max(0.0, tree.length[v]);
        depth[v] = depth[tree.parent[v]] + 1;
    }
    const double farthest = *std::max_element(distance.begin(), distance.end());
    const std::vector<double> &along = farthest > 0 ? distance : depth;
    const double reach = std::max(1.0, *std::max_element(along.begin(), along.end()));
    layout.x.resize(n);
    for (int v = 0; v < n; v++)
        layout.x[v] = kTreeLeft + kTreeWidth * along[v] / reach;

    layout.firstRow.assign(n, 0);
    layout.lastRow.assign(n, 0);
    for (int v = 0; v < n; v++) {
        const int p = tree.parent[v];
        layout.hidden[v] = p >= 0 && (layout.hidden[p] || layout.collapsed[p]);
        if (layout.hidden[v])
            continue;
        layout.collapsed[v] = collapse && tree.feature[v] < 0 && anyNonzero[v] == 0;
        if (tree.feature[v] >= 0 || layout.collapsed[v])
            layout.firstRow[v] = layout.lastRow[v] = layout.rows++;
    }
    layout.y.assign(n, 0.0);
    layout.tipX = layout.x;
    for (int v = n - 1; v >= 0; v--) {
        const int p = tree.parent[v];
        if (p >= 0)
            layout.tipX[p] = std::max(layout.tipX[p], layout.tipX[v]);
        if (layout.hidden[v])
            continue;
        if (tree.feature[v] < 0 && !layout.collapsed[v]) {
            layout.firstRow[v] = layout.firstRow[tree.children[v].front()];
            layout.lastRow[v] = layout.lastRow[tree.children[v].back()];
            layout.y[v] = (layout.y[tree.children[v].front()] + layout.y[tree.children[v].back()]) / 2;
        } else {
            layout.y[v] = layout.firstRow[v] * kRowHeight;
        }
    }
    return layout;
}

// Which leaves below each node hold nonzero coefficients, from prefix counts
// over the leaves in drawing order: before[k][i] of the first i leaves hold
// one of class k; row C counts leaves with one of any class.
struct Selection {
    Selection(const TreeView &tree, const Coefficients &model) : tree(tree), C(model.nClasses)
    {
        const int nLeaves = static_cast<int>(tree.leafOrder.size());
        before.assign(C + 1, std::vector<int>(nLeaves + 1, 0));
        for (int i = 0; i < nLeaves; i++) {
            bool any = false;
            for (int k = 0; k < C; k++) {
                const bool nonzero = model.at(k, tree.leafOrder[i]) != 0.0f;
                any = any || nonzero;
                before[k][i + 1] = before[k][i] + (nonzero ? 1 : 0);
            }
            before[C][i + 1] = before[C][i] + (any ? 1 : 0);
        }
    }
    int below(int k, int v) const { return before[k][tree.endLeaf[v]] - before[k][tree.firstLeaf[v]]; }
    int anyBelow(int v) const { return below(C, v); }
    // Class k selects the clade of v: every leaf below holds a nonzero coefficient of k.
    bool selects(int k, int v) const { return tree.leaves(v) > 0 && below(k, v) == tree.leaves(v); }
    // The colour group of the branch above v: a class, C for several, C + 1 for
    // some nonzero leaves below, C + 2 for none.
    int group(int v) const
    {
        int selecting = -1;
        int count = 0;
        for (int k = 0; k < C; k++)
            if (selects(k, v)) {
                selecting = k;
                count++;
            }
        if (count > 0)
            return count == 1 ? selecting : C;
        return anyBelow(v) > 0 ? C + 1 : C + 2;
    }

    const TreeView &tree;
    const int C;
    std::vector<std::vector<int>> before;
};

void writeLegend(std::ostream &out, const std::vector<std::pair<std::string, std::string>> &legend)
{
    for (std::size_t i = 0; i < legend.size(); i++) {
        const double y = kMargin + kLegendLine * (i + 1);
        out << "<rect x=\"" << num(kMargin) << "\" y=\"" << num(y + 3) << "\" width=\"10\" height=\"10\" fill=\""
            << legend[i].first << "\"/><text x=\"" << num(kMargin + 16) << "\" y=\"" << num(y + 12) << "\">"
            << xmlText(legend[i].second) << "</text>\n";
    }
}

// Branches as one path per colour group, collapsed subtrees as wedges, and
// the labels of tips, wedges and the internal nodes clades.tsv lists.
void writeBranches(std::ostream &out, const TreeView &tree, const FeatureNames &features, const Selection &selection,
                   const Layout &layout, double top, bool labelled)
{
    const int C = selection.C;
    std::vector<std::string> paths(C + 3);
    auto rowY = [&](double y) { return top + y + kRowHeight / 2; };
    std::string wedges;
    std::string labels;
    for (int v = 0; v < tree.nodes(); v++) {
        if (layout.hidden[v])
            continue;
        std::string &path = paths[selection.group(v)];
        const double y = rowY(layout.y[v]);
        if (tree.parent[v] >= 0)
            path += "M" + num(layout.x[tree.parent[v]]) + " " + num(y) + "H" + num(layout.x[v]);
        if (layout.collapsed[v]) {
            const double tip = std::max(layout.tipX[v], layout.x[v] + 8);
            wedges += "M" + num(layout.x[v]) + " " + num(y) + "L" + num(tip) + " " + num(y - 5) + "V" + num(y + 5) + "Z";
            if (labelled)
                labels += "<text x=\"" + num(tip + 4) + "\" y=\"" + num(y + 4) + "\" fill=\"#888888\">" +
                          std::to_string(tree.leaves(v)) + " tips</text>\n";
        } else if (tree.feature[v] < 0) {
            path += "M" + num(layout.x[v]) + " " + num(rowY(layout.y[tree.children[v].front()])) + "V" +
                    num(rowY(layout.y[tree.children[v].back()]));
            // Named above the branch leading to the node.
            if (labelled && selection.anyBelow(v) > 0)
                labels += "<text x=\"" + num(layout.x[v] - 3) + "\" y=\"" + num(y - 3) +
                          "\" font-size=\"9\" fill=\"#666666\" text-anchor=\"end\">" +
                          xmlText(tree.id[v] + (tree.name[v].empty() ? "" : " " + tree.name[v])) + "</text>\n";
        } else if (labelled) {
            labels += "<text x=\"" + num(layout.x[v] + 4) + "\" y=\"" + num(y + 4) + "\">" +
                      xmlText(features.ids[tree.feature[v]]) + "</text>\n";
        }
    }
    // Grey first, so that coloured branches are drawn over it.
    for (int group = C + 2; group >= 0; group--) {
        if (paths[group].empty())
            continue;
        const char *colour = group < C ? classColour(group) : group == C ? kSeveralColour
                             : group == C + 1                          ? kActiveColour
                                                                       : kInactiveColour;
        out << "<path fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"" << (group <= C ? "2" : "1")
            << "\" d=\"" << paths[group] << "\"/>\n";
    }
    if (!wedges.empty())
        out << "<path fill=\"" << kInactiveColour << "\" d=\"" << wedges << "\"/>\n";
    out << labels;
}

// A lane per class: a bar beside the rows of every largest clade it selects.
void writeLanes(std::ostream &out, const TreeView &tree, const Selection &selection, const Layout &layout,
                double laneX, double top)
{
    for (int k = 0; k < selection.C; k++) {
        const double x = laneX + kLaneStep * k;
        out << "<text x=\"" << num(x) << "\" y=\"" << num(top - 3) << "\">" << k + 1 << "</text>\n";
        std::string bars;
        for (int v = 0; v < tree.nodes(); v++) {
            const int p = tree.parent[v];
            if (layout.hidden[v] || !selection.selects(k, v) || (p >= 0 && selection.selects(k, p)))
                continue;
            bars += "M" + num(x) + " " + num(top + layout.firstRow[v] * kRowHeight + 1) + "h" + num(kLaneWidth) +
                    "V" + num(top + (layout.lastRow[v] + 1) * kRowHeight - 1) + "h-" + num(kLaneWidth) + "Z";
        }
        if (!bars.empty())
            out << "<path fill=\"" << classColour(k) << "\" d=\"" << bars << "\"/>\n";
    }
}

} // namespace

void drawTree(std::ostream &out, const TreeView &tree, const Coefficients &model,
              const FeatureNames &features, const ClassNames &classes)
{
    const int C = model.nClasses;
    const int nLeaves = static_cast<int>(tree.leafOrder.size());
    const Selection selection(tree, model);
    std::vector<int> anyNonzero(tree.nodes());
    for (int v = 0; v < tree.nodes(); v++)
        anyNonzero[v] = selection.anyBelow(v);
    const Layout layout = layOut(tree, anyNonzero);

    const bool labelled = layout.rows <= kLabelRowLimit;
    double labelWidth = 0;
    if (labelled)
        for (int v = 0; v < tree.nodes(); v++)
            if (!layout.hidden[v] && tree.feature[v] >= 0)
                labelWidth = std::max(labelWidth, layout.x[v] - kTreeLeft - kTreeWidth +
                                                      kCharWidth * (features.ids[tree.feature[v]].size() + 1));
    labelWidth = std::min(std::max(labelWidth, 50.0), kMaxLabelWidth);
    const double laneX = kTreeLeft + kTreeWidth + (labelled ? labelWidth : 0) + kMargin;
    const double top = kMargin + kLegendLine * (C + 4);
    const double height = top + kRowHeight * layout.rows + kMargin;

    // A swatch and the name of every class, then the other branch colours.
    std::vector<std::pair<std::string, std::string>> legend;
    for (int k = 0; k < C; k++)
        legend.push_back({classColour(k), "lane " + std::to_string(k + 1) + ": " + classes.names[k]});
    legend.push_back({kSeveralColour, "clade selected by several classes"});
    legend.push_back({kActiveColour, "some leaves below with a nonzero coefficient"});
    legend.push_back({kInactiveColour, "no nonzero coefficient below"});
    std::size_t longest = 0;
    for (const auto &item : legend)
        longest = std::max(longest, item.second.size());
    const double width = std::max(laneX + kLaneStep * C + kMargin, kMargin * 2 + 16 + kCharWidth * longest);

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\"" << num(height)
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    out << "<text x=\"" << num(kMargin) << "\" y=\"" << num(kMargin + 11) << "\" font-weight=\"bold\">" << nLeaves
        << " tips, " << anyNonzero[0] << " with a nonzero coefficient"
        << (layout.rows < nLeaves ? "; subtrees without one are collapsed" : "") << "</text>\n";
    writeLegend(out, legend);
    writeBranches(out, tree, features, selection, layout, top, labelled);
    writeLanes(out, tree, selection, layout, laneX, top);
    out << "</svg>\n";
}
