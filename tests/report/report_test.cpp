// Orvane-report's computations on small trees and models worked out by hand,
// the tree drawing's bound on a 20,000-tip tree, and a 10,000-level tree on a small stack.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "report/Report.h"
#include "tree/newick.h"

#include "../test_support.h"

namespace {

TreeView viewOfText(const std::string &newick)
{
    const std::unique_ptr<vessik::Tree> tree(readText(newick));
    return viewOf(*tree);
}

FeatureNames namesOf(std::vector<std::string> ids, std::vector<std::string> taxonomy = {})
{
    FeatureNames names;
    names.ids = std::move(ids);
    names.hasTaxonomy = !taxonomy.empty();
    names.taxonomy = std::move(taxonomy);
    return names;
}

std::string cladesText(const std::string &newick, const Coefficients &model, const FeatureNames &features,
                       const ClassNames &classes)
{
    const TreeView tree = viewOfText(newick);
    std::ostringstream out;
    writeClades(out, selectedClades(tree, model, features), tree, features, classes);
    return out.str();
}

} // namespace

TEST(Softmax, HandComputedAndSafeFromOverflow)
{
    // e / (e + 1) and 1 / (e + 1).
    const std::vector<double> two = softmax({1.0f, 0.0f});
    EXPECT_NEAR(two[0], 0.7310585786300049, 1e-15);
    EXPECT_NEAR(two[1], 0.2689414213699951, 1e-15);
    // Scores far beyond what exp can hold give the same answer as their differences.
    const std::vector<double> large = softmax({1000.0f, 999.0f});
    EXPECT_NEAR(large[0], 0.7310585786300049, 1e-15);
    EXPECT_EQ(softmax({1000.0f, 0.0f}), (std::vector<double>{1.0, 0.0}));
    const std::vector<double> low = softmax({-1000.0f, -1000.0f, -1000.0f});
    for (const double p : low)
        EXPECT_NEAR(p, 1.0 / 3, 1e-15);
}

// Positives 0.9, 0.4 against negatives 0.4, 0.2: three pairs won and one
// tie, 3.5 of 4; the tie is one diagonal step of the curve.
TEST(Roc, HandWorkedAreaAndCurveWithATie)
{
    EXPECT_EQ(rocArea({0.9, 0.4}, {0.4, 0.2}), 0.875);
    const RocCurve curve = rocCurve({0.4, 0.9}, {0.2, 0.4});
    EXPECT_EQ(curve.area, 0.875);
    EXPECT_EQ(curve.points, (std::vector<std::pair<double, double>>{{0, 0}, {0, 0.5}, {0.5, 1}, {1, 1}}));
    // Perfectly ordered, perfectly reversed, all tied; none without both classes.
    EXPECT_EQ(rocArea({3, 2}, {1}), 1.0);
    EXPECT_EQ(rocArea({1}, {3, 2}), 0.0);
    EXPECT_EQ(rocArea({1, 1}, {1, 1, 1}), 0.5);
    EXPECT_TRUE(std::isnan(rocArea({}, {1})));
    EXPECT_EQ(meanRocArea({curve, rocCurve({0.8, 0.3}, {0.7, 0.1})}), (0.875 + 0.75) / 2);
}

TEST(Taxa, ByClassThenMagnitudeThenColumn)
{
    const float beta[] = {0.5f, -3, 0, 3, 0.25f,  // class 1: -3 and 3 tie in magnitude
                          0, 0, 0, 0, 0,          // class 2: nothing selected
                          0, 0, -1e-05f, 0, 2};
    const Coefficients model{3, 5, beta};
    ClassNames classes;
    classes.names = {"a", "b", "c"};
    std::ostringstream out;
    writeTaxa(out, rankTaxa(model), namesOf({"f0", "f1", "f2", "f3", "f4"}), classes);
    EXPECT_EQ(out.str(), "class\tfeature-id\tcoefficient\n"
                         "a\tf1\t-3\na\tf3\t3\na\tf0\t0.5\na\tf4\t0.25\n"
                         "c\tf4\t2\nc\tf2\t-1e-05\n");
}

TEST(Clades, HandWorkedTreeWithNamesAndTaxonomy)
{
    // Leaves in drawing order: 3, 0, 1, 2, 4. Internal nodes in pre-order:
    // node1 the root, node2 "Bact" over (3, (0, 1)), node3 over (0, 1), node4 over (2, 4).
    const std::string newick = "((3:1,(0:1,1:1):1)Bact:1,(2:1,4:1)95:1);";
    const float beta[] = {0, 3, 0, 4, 0,   // class x: leaves 1 and 3
                          0, 0, 0, 0, -2}; // class y: leaf 4 alone
    const Coefficients model{2, 5, beta};
    ClassNames classes;
    classes.names = {"x", "y"};
    const FeatureNames features = namesOf({"f0", "f1", "f2", "f3", "f4"},
                                          {"k__B; p__F; c__C1", "k__B; p__F; c__C2", "", "k__B; p__F; c__C1; o__", "k__A"});
    // The support value 95 is not kept by the tree reader, so node4 has no label.
    // Leaf 2 has no taxonomy and is passed over; o__ is an empty rank.
    EXPECT_EQ(cladesText(newick, model, features, classes),
              "class\tnode\tlabel\tparent\tleaves\tnonzero\tnorm\ttaxonomy\n"
              "x\tnode1\t\t-\t5\t2\t5\t\n"
              "x\tnode2\tBact\tnode1\t3\t2\t5\tk__B; p__F\n"
              "x\tnode3\t\tnode2\t2\t1\t3\tk__B; p__F\n"
              "y\tnode1\t\t-\t5\t1\t2\t\n"
              "y\tnode4\t\tnode1\t2\t1\t2\tk__A\n");
    EXPECT_EQ(assignedLevels(" k__B ;p__F;  ; c__X"), (std::vector<std::string>{"k__B", "p__F"}));
    EXPECT_EQ(assignedLevels(""), std::vector<std::string>{});
}

namespace {

// A random binary tree over leaves 0 .. n-1, written as Newick.
std::string randomTree(int n, unsigned seed)
{
    std::vector<std::string> parts;
    for (int i = 0; i < n; i++)
        parts.push_back(std::to_string(i) + ":0.1");
    while (parts.size() > 1) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t a = (seed >> 8) % parts.size();
        std::string first = parts[a];
        parts[a] = parts.back();
        parts.pop_back();
        seed = seed * 1103515245u + 12345u;
        const std::size_t b = (seed >> 8) % parts.size();
        parts[b] = "(" + first + "," + parts[b] + "):0." + std::to_string(seed % 9 + 1);
    }
    return parts[0] + ";";
}

} // namespace

// The width and height the drawing declares, which renderers allocate.
std::pair<double, double> drawingSize(const std::string &svg)
{
    double width = 0, height = 0;
    const auto at = svg.find(" width=\"");
    EXPECT_EQ(std::sscanf(svg.c_str() + at, " width=\"%lf\" height=\"%lf\"", &width, &height), 2);
    return {width, height};
}

TEST(TreeDrawing, AnyTreeFitsTheBoundWithItsLabels)
{
    const int n = 20000;
    const TreeView tree = viewOfText(randomTree(n, 7));
    std::vector<std::string> ids, taxonomy;
    for (int j = 0; j < n; j++) {
        ids.push_back("ASV<" + std::to_string(j) + ">&");  // names XML must escape
        taxonomy.push_back(j % 2 ? "k__B; p__F" : "");
    }
    const FeatureNames features = namesOf(ids, taxonomy);
    ClassNames classes;
    // Latin-1 bytes, a control character and U+FFFF cannot stand in XML; other UTF-8 can.
    classes.names = {"gut & \"skin\"", "s\xF6il\x01 \xC3\xB6\xEF\xBF\xBF"};
    std::vector<float> beta(2 * n, 0.0f);
    const Coefficients model{2, n, beta.data()};
    const auto draw = [&](const TreeView &view, const std::string &file) {
        std::ostringstream out;
        drawTree(out, view, model, features, classes);
        const auto [width, height] = drawingSize(out.str());
        EXPECT_LE(width, kMaxDrawingWidth) << file;
        EXPECT_LE(height, kMaxDrawingHeight) << file;
        expectWellFormedXml(scratchFile(file, out.str()));
        return out.str();
    };
    // Nothing selected: the largest subtrees collapse until the rows fit.
    EXPECT_NE(draw(tree, "none.svg").find("; the largest subtrees are collapsed to fit"), std::string::npos);

    // Every 97th leaf selected: only their subtree, its largest groups collapsed.
    for (int j = 0; j < n; j += 97)
        beta[j] = 1.5f;
    beta[n + 5] = -0.5f;
    const std::string sparse = draw(tree, "sparse.svg");
    EXPECT_NE(sparse.find("20000 tips, 208 with a nonzero coefficient; only the subtree of those tips is drawn"),
              std::string::npos);
    EXPECT_NE(sparse.find("gut &amp; &quot;skin&quot;"), std::string::npos);
    EXPECT_NE(sparse.find(">p__F (ASV&lt;97&gt;&amp;)</text>"), std::string::npos);
    EXPECT_NE(sparse.find("lane 2: s?il? \xC3\xB6?<"), std::string::npos);

    // Every leaf selected, with both signs: groups collapse, their lanes mixed.
    for (int j = 0; j < 2 * n; j++)
        beta[j] = j % 3 ? 1.0f : -1.0f;
    // The 50 strongest tips (of 20,000 selected) keep their labels: their clades open first.
    for (int i = 0; i < 50; i++)
        beta[n + 398 * i + 1] = 2.0f + i / 100.0f;
    const std::string dense = draw(tree, "dense.svg");
    EXPECT_NE(dense.find("only the subtree of those tips is drawn, its largest groups collapsed to fit"),
              std::string::npos);
    for (int i = 0; i < 50; i++)
        EXPECT_NE(dense.find(">p__F (ASV&lt;" + std::to_string(398 * i + 1) + "&gt;&amp;)</text>"), std::string::npos)
            << i;

    // A thousand tips with a few selected: the rest collapse into wedges counting their tips.
    std::fill(beta.begin(), beta.end(), 0.0f);
    for (int j = 0; j < 1000; j += 97)
        beta[j] = 1.0f;
    const std::string wedges = draw(viewOfText(randomTree(1000, 3)), "wedges.svg");
    EXPECT_NE(wedges.find("subtrees without one are collapsed</text>"), std::string::npos);
    EXPECT_NE(wedges.find(" tips</text>"), std::string::npos);

    // A few hundred tips: every tip is labelled, nothing collapses.
    const std::string readable = draw(viewOfText(randomTree(300, 3)), "readable.svg");
    EXPECT_NE(readable.find(">ASV&lt;298&gt;&amp;</text>"), std::string::npos);
    EXPECT_NE(readable.find(">300 tips, 4 with a nonzero coefficient</text>"), std::string::npos);
}

TEST(TreeDrawing, NodeLabelsAsWrittenAndNeverOverlapping)
{
    // B and C sit on one row a few pixels apart: C's label would cover B's, so it goes right of C.
    TreeView tree = viewOfText("(((0:1,1:1)Cname:0.01)Bname:0.01,2:1)A;");
    tree.name[0] = "0.998:o__Clostridiales; f__";
    const std::vector<float> beta = {0, 0, 2, 0, 0, 0};
    std::ostringstream out;
    drawTree(out, tree, Coefficients{2, 3, beta.data()}, namesOf({"a", "b", "c"}), ClassNames{{"x", "y"}});
    const std::string svg = out.str();
    EXPECT_NE(svg.find(">0.998:o__Clostridiales; f__</text>"), std::string::npos);
    // Both above their branch (at y 198), clear of its stroke, on a white halo: B's left of B (x 65.9), C's right of C.
    const std::string style = " font-size=\"9\" fill=\"#666666\" stroke=\"#ffffff\" stroke-width=\"3\" "
                              "stroke-linejoin=\"round\" paint-order=\"stroke\"";
    EXPECT_NE(svg.find("<text x=\"62.9\" y=\"193.0\"" + style + " text-anchor=\"end\">Bname</text>"), std::string::npos);
    EXPECT_NE(svg.find("<text x=\"74.8\" y=\"193.0\"" + style + ">Cname</text>"), std::string::npos);
    // Lane 1 marks leaf 2's row positive; a scale bar of 0.2 for a tree 1.02 deep.
    EXPECT_NE(svg.find("<path fill=\"#e66101\""), std::string::npos);
    EXPECT_NE(svg.find(">0.2</text>"), std::string::npos);
}

TEST(TreeDrawing, LanesBetweenTheTipsAndTheirLabels)
{
    // Tip a ends at x 360 (half the depth), b and c at 660; one long label must not push the lanes away.
    const TreeView tree = viewOfText("(0:1,(1:1,2:1):1);");
    const std::vector<float> beta = {1, 0, -1, 0, 0, 1};
    std::ostringstream out;
    drawTree(out, tree, Coefficients{2, 3, beta.data()},
             namesOf({"a", "b", "a-label-of-forty-characters-for-the-test"}), ClassNames{{"x", "y"}});
    const std::string svg = out.str();
    // Lanes at 670 and 682 (8 wide, rows from y 185), labels from 698; a dotted leader from a's end to the lanes.
    EXPECT_NE(svg.find("<path fill=\"#e66101\" d=\"M670.0 185.0h8.0V197.0h-8.0Z"), std::string::npos);
    EXPECT_NE(svg.find("<path fill=\"#e66101\" d=\"M682.0 213.0h8.0V225.0h-8.0Z"), std::string::npos);
    EXPECT_NE(svg.find("stroke-dasharray=\"1 2\" d=\"M362.0 191.0H668.0\""), std::string::npos);
    EXPECT_NE(svg.find("<text x=\"698.0\" y=\"195.0\">a</text>"), std::string::npos);
    EXPECT_NE(svg.find("<text x=\"698.0\" y=\"223.0\">a-label-of-forty-characters-for-the-test</text>"),
              std::string::npos);
    EXPECT_NE(svg.find("width=\"968.0\""), std::string::npos);  // 698 + 40 x 6.5 + 10
}

TEST(TreeDrawing, NeighbouringTipsOfOneNameShareAFan)
{
    // a, b, c are one genus and neighbours: one label for a and b, lines fanning from their rows to it;
    // c, selected (so among the strongest), keeps its ID. e, of that genus too, is apart and keeps its own.
    const TreeView tree = viewOfText("(0:1,1:1,2:1,3:1,4:1);");
    const std::vector<float> beta = {0, 0, 1, 1, 0};
    const std::string genus = "k__Bacteria; g__Bacteroides";
    std::ostringstream out;
    drawTree(out, tree, Coefficients{1, 5, beta.data()},
             namesOf({"a", "b", "c", "d", "e"}, {genus, genus, genus, "k__Bacteria; g__Alistipes", genus}),
             ClassNames{{"x"}});
    const std::string svg = out.str();
    // Rows at y 175, 189, ...; lanes from x 670, labels from 686.
    EXPECT_NE(svg.find("<path fill=\"none\" stroke=\"#666666\" d=\"M686.0 175.0L696.0 182.0M686.0 189.0L696.0 182.0\"/>"),
              std::string::npos);
    EXPECT_NE(svg.find("<text x=\"700.0\" y=\"186.0\">g__Bacteroides (x2)</text>\n"
                       "<text x=\"686.0\" y=\"207.0\">g__Bacteroides (c)</text>\n"
                       "<text x=\"686.0\" y=\"221.0\">g__Alistipes (d)</text>\n"
                       "<text x=\"686.0\" y=\"235.0\">g__Bacteroides (e)</text>\n"),
              std::string::npos);
    EXPECT_EQ(svg.find("(a)"), std::string::npos);
    EXPECT_NE(svg.find("width=\"833.5\""), std::string::npos);  // 686 + 14 + 19 x 6.5 + 10
}

TEST(Clades, DeepestTreeOnASmallStack)
{
    // Tips 0 .. 10000 down a comb of 10000 internal nodes; only the two deepest are selected.
    const int n = kDeepestNesting + 1;
    std::vector<std::string> ids;
    for (int j = 0; j < n; j++)
        ids.push_back("f" + std::to_string(j));
    const FeatureNames features = namesOf(ids);
    ClassNames classes;
    classes.names = {"x"};
    std::vector<float> beta(n, 0.0f);
    beta[n - 2] = 3;
    beta[n - 1] = 4;
    const Coefficients model{1, n, beta.data()};
    const bool ran = runWithStack(kOneMegabyte, [&] {
        const TreeView tree = viewOfText(combNewick(kDeepestNesting, 1));
        const std::vector<Clade> clades = selectedClades(tree, model, features);
        ASSERT_EQ(clades.size(), static_cast<size_t>(kDeepestNesting));
        EXPECT_EQ(clades.front().leaves, n);
        EXPECT_EQ(clades.back().leaves, 2);
        EXPECT_EQ(clades.back().norm, 5.0);
        std::ostringstream svg;
        drawTree(svg, tree, model, features, classes);
        EXPECT_NE(svg.str().find(std::to_string(n) + " tips, 2 with a nonzero coefficient; only the subtree"),
                  std::string::npos);
    });
    EXPECT_TRUE(ran);
}
