// Draws the tree as SVG: a rectangular phylogram (branch lengths from the
// drawn root, or depths when the tree has none), tips top to bottom in the
// file's order, one row each. A branch takes a class's colour when every leaf
// below it has a nonzero coefficient of that class; a lane per class between
// the tips and their labels shows the sign of each row's coefficients. The drawing stays
// within kMaxDrawingWidth x kMaxDrawingHeight pixels whatever the tree, so
// that every renderer opens it: when the tips need more rows than fit,
// subtrees without a nonzero coefficient collapse into wedges; when that is
// still too many, only the subtree of the selected tips is drawn, and its
// groups collapse until the rows fit, those holding the model's strongest
// tips (the 50 largest, or all when fewer than 500 are selected) last.
// Neighbouring tips of one taxonomic name (grafted features carry their
// relative's) share one label with a count, save the 50 strongest. Labels
// never overlap: tip and wedge labels have rows of their own, and a node's
// label is left out where it would cover another.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <functional>
#include <limits>
#include <queue>
#include <tuple>

#include "io/text.h"
#include "report/Report.h"

namespace {

const char *const kClassColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                     "#8c564b", "#e377c2", "#bcbd22", "#17becf", "#7f7f7f"};
const int kPalette = sizeof kClassColours / sizeof kClassColours[0];
const char *const kSeveralColour = "#000000";
const char *const kActiveColour = "#666666";
const char *const kInactiveColour = "#c8c8c8";
// Lane colours by sign: distinct for colour-blind readers too.
const char *const kPositiveColour = "#e66101";
const char *const kNegativeColour = "#5e3c99";
const char *const kBothColour = "#a0a0a0";

const double kMargin = 10;
const double kTreeLeft = 60;  // room for the root's label
const double kTreeWidth = 600;
const double kRowHeight = 14;
const double kLegendLine = 16;
const double kLaneHeader = 30;  // room for the lane numbers, written upwards
const double kLaneStep = 12;
const double kLanesMaxWidth = 2400;
const double kScaleBarHeight = 30;
const double kCharWidth = 6.5;       // rough width of a character at font size 11
const double kSmallCharWidth = 5.4;  // at font size 9, the node labels
const std::size_t kTipLabelChars = 64;
const std::size_t kNodeLabelChars = 40;
// Node labels: small, grey, on a white halo drawn beneath the letters.
const std::string kNodeLabelStyle =
    " font-size=\"9\" fill=\"#666666\" stroke=\"#ffffff\" stroke-width=\"3\" stroke-linejoin=\"round\" paint-order=\"stroke\"";
const int kLegendClasses = 100;  // classes named in the legend; the rest are counted
// Clades holding the model's strongest tips open before any other: the
// kStrongest largest, or every selected tip when fewer than kAllStrongBelow.
const int kStrongest = 50;
const std::size_t kAllStrongBelow = 500;

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

// Counts characters, not bytes, and cuts only between characters.
std::size_t characters(const std::string &text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

std::string shortened(const std::string &text, std::size_t limit)
{
    if (characters(text) <= limit)
        return text;
    std::size_t end = 0;
    for (std::size_t kept = 0; end < text.size(); end++)
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && kept++ == limit - 1)
            break;
    return text.substr(0, end) + "\xE2\x80\xA6";  // an ellipsis
}

// The largest magnitude of a feature's coefficients over the classes.
float strength(const Coefficients &model, int feature)
{
    float largest = 0.0f;
    for (int k = 0; k < model.nClasses; k++)
        largest = std::max(largest, std::fabs(model.at(k, feature)));
    return largest;
}

// The least strength a tip needs to count among the model's strongest: every
// selected tip when fewer than kAllStrongBelow are selected, else the
// kStrongest of largest strength (and those tied with the last of them).
float strongThreshold(const TreeView &tree, const Coefficients &model, std::size_t allBelow)
{
    std::vector<float> strengths;
    for (const int feature : tree.leafOrder)
        if (strength(model, feature) > 0.0f)
            strengths.push_back(strength(model, feature));
    if (strengths.size() < allBelow)
        return std::numeric_limits<float>::min();
    std::nth_element(strengths.begin(), strengths.begin() + (kStrongest - 1), strengths.end(), std::greater<float>());
    return strengths[kStrongest - 1];
}

// Which leaves below each node hold nonzero coefficients, from prefix counts
// over the leaves in drawing order: positive[k][i] of the first i leaves hold
// a positive coefficient of class k, negative[k][i] a negative one; any[i]
// hold a nonzero coefficient of some class, strong[i] one among the model's
// strongest. topFeature marks the kStrongest largest (and ties; all when
// fewer are selected), the tips whose IDs a reader looks for.
struct Selection {
    Selection(const TreeView &tree, const Coefficients &model) : tree(tree), C(model.nClasses)
    {
        const int nLeaves = static_cast<int>(tree.leafOrder.size());
        positive.assign(C, std::vector<int>(nLeaves + 1, 0));
        negative.assign(C, std::vector<int>(nLeaves + 1, 0));
        any.assign(nLeaves + 1, 0);
        strong.assign(nLeaves + 1, 0);
        const float threshold = strongThreshold(tree, model, kAllStrongBelow);
        const float top = strongThreshold(tree, model, kStrongest);
        topFeature.assign(model.nFeatures, false);
        for (const int feature : tree.leafOrder)
            topFeature[feature] = strength(model, feature) > 0.0f && strength(model, feature) >= top;
        for (int i = 0; i < nLeaves; i++) {
            bool nonzero = false;
            for (int k = 0; k < C; k++) {
                const float beta = model.at(k, tree.leafOrder[i]);
                positive[k][i + 1] = positive[k][i] + (beta > 0.0f ? 1 : 0);
                negative[k][i + 1] = negative[k][i] + (beta < 0.0f ? 1 : 0);
                nonzero = nonzero || beta != 0.0f;
            }
            any[i + 1] = any[i] + (nonzero ? 1 : 0);
            strong[i + 1] = strong[i] + (nonzero && strength(model, tree.leafOrder[i]) >= threshold ? 1 : 0);
        }
    }
    int count(const std::vector<int> &before, int v) const
    {
        return before[tree.endLeaf[v]] - before[tree.firstLeaf[v]];
    }
    int positiveBelow(int k, int v) const { return count(positive[k], v); }
    int negativeBelow(int k, int v) const { return count(negative[k], v); }
    int below(int k, int v) const { return positiveBelow(k, v) + negativeBelow(k, v); }
    int anyBelow(int v) const { return count(any, v); }
    int strongBelow(int v) const { return count(strong, v); }
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
    std::vector<std::vector<int>> positive, negative;
    std::vector<int> any, strong;
    std::vector<bool> topFeature;
};

enum class Shown { All, UnselectedCollapsed, SelectedOnly };

// Where each node is drawn and how. Drawn nodes are the drawn root and the
// kept children of open nodes; a drawn internal node that is not open is a wedge.
struct Layout {
    Shown shown = Shown::All;
    bool bounded = false;  // the rows left some node closed that would otherwise open
    int root = 0;
    std::vector<bool> drawn, open;
    std::vector<double> x, y, tipX;  // tipX: rightmost x below a node
    std::vector<int> firstRow, lastRow;
    int rows = 0;
    bool lengths = false;  // x follows branch lengths, not depths
    double reach = 1;      // the branch length (or depth) kTreeWidth stands for
};

// Rows when every subtree without a nonzero coefficient is one row.
int rowsCollapsed(const TreeView &tree, const Selection &selection)
{
    if (selection.anyBelow(0) == 0)
        return 1;
    int rows = 0;
    for (int v = 1; v < tree.nodes(); v++)
        if (selection.anyBelow(tree.parent[v]) > 0 && (tree.feature[v] >= 0 || selection.anyBelow(v) == 0))
            rows++;
    return rows;
}

// Opens nodes from the drawn root, those with the most of the strongest tips
// first, then those with the most selected tips (or tips, when none is
// selected), while the rows stay within maxRows;
// then marks the drawn nodes, in pre-order below the drawn root up to `end`.
void openNodes(const TreeView &tree, const Selection &selection, int maxRows, int end, Layout &layout)
{
    const bool selectedOnly = layout.shown == Shown::SelectedOnly;
    const bool anySelected = selection.anyBelow(0) > 0;
    const auto kept = [&](int v) { return !selectedOnly || selection.anyBelow(v) > 0; };
    const auto mayOpen = [&](int v) {
        return tree.feature[v] < 0 && (layout.shown == Shown::All || !anySelected || selection.anyBelow(v) > 0);
    };
    const auto priority = [&](int v) {
        return std::make_tuple(selection.strongBelow(v), anySelected ? selection.anyBelow(v) : tree.leaves(v), -v);
    };
    std::priority_queue<std::pair<std::tuple<int, int, int>, int>> waiting;
    waiting.push({priority(layout.root), layout.root});
    int rows = 1;
    while (!waiting.empty()) {
        const int v = waiting.top().second;
        waiting.pop();
        if (!mayOpen(v))
            continue;
        int children = 0;
        for (const int c : tree.children[v])
            children += kept(c) ? 1 : 0;
        if (rows - 1 + children > maxRows) {
            layout.bounded = true;
            continue;
        }
        layout.open[v] = true;
        rows += children - 1;
        for (const int c : tree.children[v])
            if (kept(c))
                waiting.push({priority(c), c});
    }
    layout.drawn[layout.root] = true;
    for (int v = layout.root + 1; v < end; v++)
        layout.drawn[v] = layout.drawn[tree.parent[v]] && layout.open[tree.parent[v]] && kept(v);
}

Layout layOut(const TreeView &tree, const Selection &selection, int maxRows)
{
    const int n = tree.nodes();
    Layout layout;
    if (tree.leaves(0) > maxRows && selection.anyBelow(0) > 0)
        layout.shown = rowsCollapsed(tree, selection) <= maxRows ? Shown::UnselectedCollapsed : Shown::SelectedOnly;
    // Only the selected tips' subtree: from the deepest node above all of them.
    if (layout.shown == Shown::SelectedOnly) {
        for (bool deeper = true; deeper;) {
            deeper = false;
            for (const int c : tree.children[layout.root])
                if (selection.anyBelow(c) == selection.anyBelow(0)) {
                    layout.root = c;
                    deeper = true;
                    break;
                }
        }
    }
    std::vector<int> size(n, 1);
    for (int v = n - 1; v > 0; v--)
        size[tree.parent[v]] += size[v];
    const int end = layout.root + size[layout.root];
    layout.drawn.assign(n, false);
    layout.open.assign(n, false);
    openNodes(tree, selection, maxRows, end, layout);

    std::vector<double> distance(n, 0.0), depth(n, 0.0);
    double farthest = 0, deepest = 0;
    for (int v = layout.root + 1; v < end; v++) {
        distance[v] = distance[tree.parent[v]] + std::max(0.0, tree.length[v]);
        depth[v] = depth[tree.parent[v]] + 1;
        farthest = std::max(farthest, distance[v]);
        deepest = std::max(deepest, depth[v]);
    }
    layout.lengths = farthest > 0;
    layout.reach = layout.lengths ? farthest : std::max(1.0, deepest);
    const std::vector<double> &along = layout.lengths ? distance : depth;
    layout.x.assign(n, kTreeLeft);
    for (int v = layout.root; v < end; v++)
        layout.x[v] = kTreeLeft + kTreeWidth * along[v] / layout.reach;

    layout.firstRow.assign(n, 0);
    layout.lastRow.assign(n, 0);
    for (int v = layout.root; v < end; v++)
        if (layout.drawn[v] && !layout.open[v])
            layout.firstRow[v] = layout.lastRow[v] = layout.rows++;
    layout.y.assign(n, 0.0);
    layout.tipX = layout.x;
    for (int v = end - 1; v >= layout.root; v--) {
        if (v > layout.root)
            layout.tipX[tree.parent[v]] = std::max(layout.tipX[tree.parent[v]], layout.tipX[v]);
        if (!layout.drawn[v])
            continue;
        if (!layout.open[v]) {
            layout.y[v] = layout.firstRow[v] * kRowHeight;
            continue;
        }
        int first = -1, last = -1;
        for (const int c : tree.children[v])
            if (layout.drawn[c]) {
                first = first < 0 ? c : first;
                last = c;
            }
        layout.firstRow[v] = layout.firstRow[first];
        layout.lastRow[v] = layout.lastRow[last];
        layout.y[v] = (layout.y[first] + layout.y[last]) / 2;
    }
    return layout;
}

// The boxes of the labels placed so far, by band of rows, so that a label
// that would cover another is left out.
class LabelSpace {
public:
    LabelSpace(double top, int rows) : top(top), bands(static_cast<std::size_t>(rows) + 2) {}

    // Takes the box and returns true when it overlaps no box taken before
    // nor comes within 2 pixels of one sideways (the widths are estimates).
    bool take(double left, double right, double upper, double lower)
    {
        left -= 2;
        right += 2;
        const int first = band(upper), last = band(lower);
        for (int b = first; b <= last; b++)
            for (const Box &box : bands[b])
                if (left < box.right && box.left < right && upper < box.lower && box.upper < lower)
                    return false;
        for (int b = first; b <= last; b++)
            bands[b].push_back({left, right, upper, lower});
        return true;
    }

private:
    struct Box {
        double left, right, upper, lower;
    };
    int band(double y) const
    {
        const double row = std::floor((y - top) / kRowHeight) + 1;
        return static_cast<int>(std::min(std::max(row, 0.0), static_cast<double>(bands.size() - 1)));
    }
    double top;
    std::vector<std::vector<Box>> bands;
};

// What a tip shows: the deepest name of its taxonomy with its ID, or its ID.
std::string tipLabel(const FeatureNames &features, int feature)
{
    const std::string &id = features.ids[feature];
    if (!features.hasTaxonomy)
        return id;
    const std::vector<std::string> levels = assignedLevels(features.taxonomy[feature]);
    return levels.empty() ? id : levels.back() + " (" + id + ")";
}

// A node's label is its name as the tree file wrote it; a node without one
// (or with only a support value) that holds selected tips shows its ID, the
// one clades.tsv lists.
std::string nodeLabel(const TreeView &tree, const Selection &selection, int v)
{
    const std::string &name = tree.name[v];
    const bool number = !name.empty() && name.find_first_not_of("0123456789.eE+-") == std::string::npos;
    if (!name.empty() && !number)
        return name;
    return selection.anyBelow(v) > 0 ? tree.id[v] : std::string();
}

// Where a wedge's point ends: at its farthest tip, and never shorter than 8.
double wedgeTip(const Layout &layout, int v)
{
    return std::max(layout.tipX[v], layout.x[v] + 8);
}

// Columns right of the tree: the lanes start just past the farthest row's
// end, and every row's label starts just past the lanes, so that each
// label sits beside its own marks however long the other labels are.
struct Frame {
    double top;    // y of the first row
    double laneX;  // x of the first lane
    double laneStep;
    double labelX;  // x where the rows' labels start
};

// Where a row, a tip or a wedge, ends on the right.
double rowEnd(const TreeView &tree, const Layout &layout, int v)
{
    return tree.feature[v] >= 0 ? layout.x[v] : wedgeTip(layout, v);
}

// The drawn tips and wedges, top to bottom: one row each.
std::vector<int> rowNodes(const TreeView &tree, const Layout &layout)
{
    std::vector<int> rows;
    for (int v = layout.root; v < tree.nodes(); v++)
        if (layout.drawn[v] && !layout.open[v])
            rows.push_back(v);
    return rows;
}

// The name a tip shares with neighbours of its kind (grafted features carry
// their relative's): its taxonomy's deepest level, or none. The model's
// strongest tips share none: they keep their IDs in sight.
std::string sharedName(const TreeView &tree, const FeatureNames &features, const Selection &selection, int v)
{
    if (tree.feature[v] < 0 || !features.hasTaxonomy || selection.topFeature[tree.feature[v]])
        return std::string();
    const std::vector<std::string> levels = assignedLevels(features.taxonomy[tree.feature[v]]);
    return levels.empty() ? std::string() : levels.back();
}

// The label of rows first to last: one row's, or a run's drawn as a fan.
struct RowLabel {
    int first, last;
    std::string text;
    bool fan() const { return last > first; }
};

// Where a fan's label starts, right of the lines joining its rows.
const double kFanWidth = 10;

double labelWidth(const RowLabel &label)
{
    return (label.fan() ? kFanWidth + 4 : 0) + kCharWidth * characters(label.text);
}

// A label per row, save that a run of neighbouring tips sharing a name gets
// one, "name (xN)", instead of N that differ only in their IDs.
std::vector<RowLabel> rowLabels(const TreeView &tree, const FeatureNames &features, const Selection &selection,
                                const std::vector<int> &rows)
{
    std::vector<RowLabel> labels;
    const int n = static_cast<int>(rows.size());
    for (int r = 0; r < n;) {
        const int v = rows[r];
        const std::string name = sharedName(tree, features, selection, v);
        int end = r + 1;
        while (!name.empty() && end < n && sharedName(tree, features, selection, rows[end]) == name)
            end++;
        if (end - r > 1) {
            labels.push_back({r, end - 1, shortened(name, kTipLabelChars) + " (x" + std::to_string(end - r) + ")"});
        } else if (tree.feature[v] >= 0) {
            labels.push_back({r, r, shortened(tipLabel(features, tree.feature[v]), kTipLabelChars)});
        } else {
            std::string text = std::to_string(tree.leaves(v)) + " tips";
            if (selection.anyBelow(v) > 0)
                text += ", " + std::to_string(selection.anyBelow(v)) + " selected";
            labels.push_back({r, r, text});
        }
        r = end;
    }
    return labels;
}

// The rightmost x of the rows' ends.
double rowsRight(const TreeView &tree, const Layout &layout, const std::vector<int> &rows)
{
    double right = kTreeLeft;
    for (const int v : rows)
        right = std::max(right, rowEnd(tree, layout, v));
    return right;
}

// The rows' labels, beside the lanes: a run's with lines fanning from each of its rows.
void writeRowLabels(const TreeView &tree, const std::vector<int> &rows, const std::vector<RowLabel> &labels,
                    const Frame &frame, LabelSpace &space, std::string &fans, std::string &out)
{
    const auto rowY = [&](int r) { return frame.top + r * kRowHeight + kRowHeight / 2; };
    for (const RowLabel &label : labels) {
        const double y = (rowY(label.first) + rowY(label.last)) / 2;
        const double x = frame.labelX + (label.fan() ? kFanWidth + 4 : 0);
        for (int r = label.first; label.fan() && r <= label.last; r++)
            fans += "M" + num(frame.labelX) + " " + num(rowY(r)) + "L" + num(frame.labelX + kFanWidth) + " " + num(y);
        space.take(frame.labelX, frame.labelX + labelWidth(label), rowY(label.first) - 5, rowY(label.last) + 6);
        out += "<text x=\"" + num(x) + "\" y=\"" + num(y + 4) + "\"" +
               (tree.feature[rows[label.first]] >= 0 ? "" : " fill=\"#888888\"") + ">" + xmlText(label.text) +
               "</text>\n";
    }
}

// Branches as one path per colour group, collapsed subtrees as wedges, and
// the labels of tips, wedges and internal nodes.
void writeBranches(std::ostream &out, const TreeView &tree, const FeatureNames &features, const Selection &selection,
                   const Layout &layout, const Frame &frame)
{
    const std::vector<int> rows = rowNodes(tree, layout);
    const int C = selection.C;
    std::vector<std::string> paths(C + 3);
    auto rowY = [&](double y) { return frame.top + y + kRowHeight / 2; };
    std::string wedges, leaders, fans, labels;
    LabelSpace space(frame.top, layout.rows);
    const auto label = [&](double x, double y, const std::string &text, const std::string &attributes) {
        labels += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\"" + attributes + ">" + xmlText(text) + "</text>\n";
    };
    // Branches, wedges and leaders; then the rows' labels, which never meet: each has rows of its own.
    for (int v = layout.root; v < tree.nodes(); v++) {
        if (!layout.drawn[v])
            continue;
        const double y = rowY(layout.y[v]);
        if (v != layout.root)
            paths[selection.group(v)] += "M" + num(layout.x[tree.parent[v]]) + " " + num(y) + "H" + num(layout.x[v]);
        if (layout.open[v]) {
            int first = -1, last = -1;
            for (const int c : tree.children[v])
                if (layout.drawn[c]) {
                    first = first < 0 ? c : first;
                    last = c;
                }
            paths[selection.group(v)] += "M" + num(layout.x[v]) + " " + num(rowY(layout.y[first])) + "V" +
                                         num(rowY(layout.y[last]));
            continue;
        }
        if (tree.feature[v] < 0) {
            const double tip = wedgeTip(layout, v);
            wedges += "M" + num(layout.x[v]) + " " + num(y) + "L" + num(tip) + " " + num(y - 5) + "V" + num(y + 5) + "Z";
        }
        // A dotted leader from a row that ends short of the farthest.
        const double end = rowEnd(tree, layout, v);
        if (end + kMargin < frame.laneX)
            leaders += "M" + num(end + 2) + " " + num(y) + "H" + num(frame.laneX - 2);
    }
    writeRowLabels(tree, rows, rowLabels(tree, features, selection, rows), frame, space, fans, labels);
    // Then the nodes' labels, above the branch leading to each, from the root down.
    for (int v = layout.root; v < tree.nodes(); v++) {
        if (!layout.open[v])
            continue;
        const std::string text = shortened(nodeLabel(tree, selection, v), kNodeLabelChars);
        if (text.empty())
            continue;
        // Left of the node, ending there; where that has no room (the root's,
        // say), right of it. Raised clear of the branch (descenders too), with
        // a white halo that keeps it legible where another branch passes behind.
        const double width = kSmallCharWidth * characters(text);
        const double y = rowY(layout.y[v]);
        const double before = layout.x[v] - 3, after = layout.x[v] + 3;
        if (before - width >= 1 && space.take(before - width, before, y - 12, y - 3))
            label(before, y - 5, text, kNodeLabelStyle + " text-anchor=\"end\"");
        else if (space.take(after, after + width, y - 12, y - 3))
            label(after, y - 5, text, kNodeLabelStyle);
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
    if (!leaders.empty())
        out << "<path fill=\"none\" stroke=\"" << kInactiveColour << "\" stroke-dasharray=\"1 2\" d=\"" << leaders
            << "\"/>\n";
    if (!fans.empty())
        out << "<path fill=\"none\" stroke=\"" << kActiveColour << "\" d=\"" << fans << "\"/>\n";
    out << labels;
}

// A lane per class: beside each row, the sign of the class's coefficients
// there; consecutive rows of one colour make one bar.
void writeLanes(std::ostream &out, const TreeView &tree, const Selection &selection, const Layout &layout,
                const Frame &frame)
{
    const std::vector<int> rowNode = rowNodes(tree, layout);
    // Lane numbers written upwards, leaving out some when the lanes are too narrow for each.
    const int every = static_cast<int>(std::ceil(12 / frame.laneStep));
    const double barWidth = std::max(1.0, frame.laneStep - 4);
    for (int k = 0; k < selection.C; k++) {
        const double x = frame.laneX + frame.laneStep * k;
        if (k % every == 0)
            out << "<text transform=\"translate(" << num(x + barWidth / 2 + 4) << " " << num(frame.top - 4)
                << ") rotate(-90)\">" << k + 1 << "</text>\n";
        const char *const colours[] = {kPositiveColour, kNegativeColour, kBothColour};
        std::string bars[3];
        for (std::size_t r = 0; r < rowNode.size();) {
            const auto colourOf = [&](std::size_t row) {
                const bool positive = selection.positiveBelow(k, rowNode[row]) > 0;
                const bool negative = selection.negativeBelow(k, rowNode[row]) > 0;
                return positive && negative ? 2 : positive ? 0 : negative ? 1 : -1;
            };
            const int colour = colourOf(r);
            std::size_t end = r + 1;
            while (end < rowNode.size() && colourOf(end) == colour)
                end++;
            if (colour >= 0)
                bars[colour] += "M" + num(x) + " " + num(frame.top + r * kRowHeight + 1) + "h" + num(barWidth) + "V" +
                                num(frame.top + end * kRowHeight - 1) + "h-" + num(barWidth) + "Z";
            r = end;
        }
        for (int colour = 0; colour < 3; colour++)
            if (!bars[colour].empty())
                out << "<path fill=\"" << colours[colour] << "\" d=\"" << bars[colour] << "\"/>\n";
    }
}

// A bar of a round length, about a quarter of the tree's width.
void writeScaleBar(std::ostream &out, const Layout &layout, double y)
{
    const double target = layout.reach / 4;
    const double unit = std::pow(10.0, std::floor(std::log10(target)));
    double length = unit;
    for (const double step : {5.0, 2.0})
        if (step * unit <= target) {
            length = step * unit;
            break;
        }
    if (!layout.lengths)
        length = std::max(1.0, std::round(length));
    const double right = kTreeLeft + kTreeWidth * length / layout.reach;
    char text[64];
    std::snprintf(text, sizeof text, "%g%s", length, layout.lengths ? "" : length == 1 ? " level" : " levels");
    out << "<path stroke=\"#000000\" d=\"M" << num(kTreeLeft) << " " << num(y) << "H" << num(right) << "M"
        << num(kTreeLeft) << " " << num(y - 4) << "v8M" << num(right) << " " << num(y - 4) << "v8\"/>\n"
        << "<text x=\"" << num(right + 6) << "\" y=\"" << num(y + 4) << "\">" << text << "</text>\n";
}

std::string title(const TreeView &tree, const Selection &selection, const Layout &layout)
{
    std::string text = std::to_string(tree.leaves(0)) + " tips, " + std::to_string(selection.anyBelow(0)) +
                       " with a nonzero coefficient";
    if (layout.shown == Shown::UnselectedCollapsed)
        text += "; subtrees without one are collapsed";
    else if (layout.shown == Shown::SelectedOnly)
        text += "; only the subtree of those tips is drawn";
    if (layout.bounded)
        text += layout.shown == Shown::SelectedOnly ? ", its largest groups collapsed to fit"
                                                    : "; the largest subtrees are collapsed to fit";
    return text;
}

} // namespace

void drawTree(std::ostream &out, const TreeView &tree, const Coefficients &model,
              const FeatureNames &features, const ClassNames &classes)
{
    const int C = model.nClasses;
    const Selection selection(tree, model);

    // A swatch and the name of every class, then the other colours.
    std::vector<std::pair<std::string, std::string>> legend;
    for (int k = 0; k < std::min(C, kLegendClasses); k++)
        legend.push_back({classColour(k), "lane " + std::to_string(k + 1) + ": " + shortened(classes.names[k], 80)});
    if (C > kLegendClasses)
        legend.push_back({"none", "and " + std::to_string(C - kLegendClasses) + " more classes (see taxa.tsv)"});
    legend.push_back({kSeveralColour, "clade selected by several classes"});
    legend.push_back({kActiveColour, "some leaves below with a nonzero coefficient"});
    legend.push_back({kInactiveColour, "no nonzero coefficient below"});
    legend.push_back({kPositiveColour, "lanes: positive coefficient"});
    legend.push_back({kNegativeColour, "lanes: negative coefficient"});
    legend.push_back({kBothColour, "lanes: both signs in a collapsed subtree"});

    Frame frame;
    frame.top = kMargin + kLegendLine * (legend.size() + 1) + kLaneHeader;
    const int maxRows = static_cast<int>((kMaxDrawingHeight - frame.top - kScaleBarHeight - kMargin) / kRowHeight);
    const Layout layout = layOut(tree, selection, maxRows);
    const std::vector<int> rows = rowNodes(tree, layout);
    double widestLabel = 0;
    for (const RowLabel &label : rowLabels(tree, features, selection, rows))
        widestLabel = std::max(widestLabel, labelWidth(label));
    frame.laneX = rowsRight(tree, layout, rows) + kMargin;
    frame.laneStep = C > 0 ? std::min(kLaneStep, kLanesMaxWidth / C) : kLaneStep;
    frame.labelX = frame.laneX + frame.laneStep * C + 4;
    const double height = frame.top + kRowHeight * layout.rows + kScaleBarHeight + kMargin;

    const std::string heading = title(tree, selection, layout);
    double width = std::max(frame.labelX + widestLabel + kMargin, kMargin * 2 + kCharWidth * heading.size());
    for (const auto &item : legend)
        width = std::max(width, kMargin * 2 + 16 + kCharWidth * characters(item.second));

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\"" << num(height)
        << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
    out << "<text x=\"" << num(kMargin) << "\" y=\"" << num(kMargin + 11) << "\" font-weight=\"bold\">"
        << heading << "</text>\n";
    for (std::size_t i = 0; i < legend.size(); i++) {
        const double y = kMargin + kLegendLine * (i + 1);
        out << "<rect x=\"" << num(kMargin) << "\" y=\"" << num(y + 3) << "\" width=\"10\" height=\"10\" fill=\""
            << legend[i].first << "\"/><text x=\"" << num(kMargin + 16) << "\" y=\"" << num(y + 12) << "\">"
            << xmlText(legend[i].second) << "</text>\n";
    }
    writeBranches(out, tree, features, selection, layout, frame);
    writeLanes(out, tree, selection, layout, frame);
    writeScaleBar(out, layout, height - kMargin - kScaleBarHeight / 2);
    out << "</svg>\n";
}
