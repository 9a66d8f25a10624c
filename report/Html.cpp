// report.html: one self-contained page (inline CSS and SVG, no script, no
// file from elsewhere) with the predictions, the selected taxa and clades,
// the tree drawing and, when given, the cross-validation summary and figures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "io/text.h"
#include "report/Report.h"

namespace {

const char *const kStyle =
    "body{font-family:sans-serif;margin:2em;color:#222;max-width:1400px}"
    "h1{font-size:1.6em}h2{border-bottom:1px solid #ccc;padding-bottom:.2em;margin-top:2em}"
    "table{border-collapse:collapse;margin:.5em 0 1em}"
    "th,td{border:1px solid #ddd;padding:.2em .6em;text-align:left;font-size:.9em}"
    "th{background:#f0f0f0}td.s{white-space:nowrap}td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.top{font-weight:bold;background:#e8f0fb}.pos{color:#b34700}.neg{color:#5e3c99}"
    ".note{color:#555;font-size:.9em}.figure{overflow:auto;max-height:90vh;border:1px solid #eee}"
    "nav a{margin-right:1em}";

std::string fixed(double value, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string general(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// An SVG file's content for inline use: without its XML declaration.
std::string inlineSvg(const std::string &svg)
{
    const auto start = svg.find("<svg");
    return start == std::string::npos ? std::string() : svg.substr(start);
}

std::string cell(const std::string &text, const char *attributes = "")
{
    return std::string("<td") + attributes + ">" + xmlText(text) + "</td>";
}

// A tab-separated file with a header line as a table.
void writeTsvTable(std::ostream &out, const std::string &tsv)
{
    out << "<table>\n";
    std::size_t start = 0;
    for (bool header = true; start < tsv.size(); header = false) {
        auto end = tsv.find('\n', start);
        if (end == std::string::npos)
            end = tsv.size();
        const std::vector<std::string> fields = splitFields(tsv.substr(start, end - start), '\t');
        out << "<tr>";
        for (const std::string &field : fields)
            out << (header ? "<th>" : "<td>") << xmlText(field) << (header ? "</th>" : "</td>");
        out << "</tr>\n";
        start = end + 1;
    }
    out << "</table>\n";
}

void writePredictionTable(std::ostream &out, const HtmlReport &report)
{
    const bool known = report.samples.hasClasses;
    out << "<table>\n<tr><th>sample</th>" << (known ? "<th>class</th>" : "") << "<th>prediction</th>";
    for (const std::string &name : report.classes.names)
        out << "<th>" << xmlText(name) << "</th>";
    out << "</tr>\n";
    for (std::size_t i = 0; i < report.predictions.size(); i++) {
        const SamplePrediction &prediction = report.predictions[i];
        out << "<tr>" << cell(report.samples.ids[i]);
        if (known)
            out << cell(report.samples.classes[i]);
        out << cell(report.classes.names[prediction.predicted - 1]);
        for (std::size_t k = 0; k < prediction.probabilities.size(); k++)
            out << cell(fixed(prediction.probabilities[k], 3),
                        static_cast<int>(k) + 1 == prediction.predicted ? " class=\"n top\"" : " class=\"n\"");
        out << "</tr>\n";
    }
    out << "</table>\n";
}

void writeTaxaTables(std::ostream &out, const HtmlReport &report)
{
    const FeatureNames &features = report.features;
    for (int k = 0; k < static_cast<int>(report.classes.names.size()); k++) {
        std::vector<const RankedTaxon *> taxa;
        for (const RankedTaxon &taxon : report.taxa)
            if (taxon.klass == k)
                taxa.push_back(&taxon);
        out << "<h3>" << xmlText(report.classes.names[k]) << ": " << taxa.size() << " taxa</h3>\n";
        if (taxa.empty())
            continue;
        out << "<table>\n<tr><th>feature</th>" << (features.hasTaxonomy ? "<th>taxonomy</th>" : "")
            << "<th>sign</th><th>coefficient</th></tr>\n";
        for (std::size_t i = 0; i < taxa.size() && i < kHtmlRowsPerClass; i++) {
            const RankedTaxon &taxon = *taxa[i];
            const bool positive = taxon.coefficient > 0;
            out << "<tr>" << cell(features.ids[taxon.feature]);
            if (features.hasTaxonomy)
                out << cell(features.taxonomy[taxon.feature]);
            out << (positive ? "<td class=\"s pos\">+ favours</td>" : "<td class=\"s neg\">&#8722; disfavours</td>")
                << cell(general(taxon.coefficient), " class=\"n\"") << "</tr>\n";
        }
        out << "</table>\n";
        if (taxa.size() > kHtmlRowsPerClass)
            out << "<p class=\"note\">The " << kHtmlRowsPerClass << " largest of " << taxa.size()
                << "; taxa.tsv lists them all.</p>\n";
    }
}

void writeCladeTables(std::ostream &out, const HtmlReport &report)
{
    const bool taxonomy = report.features.hasTaxonomy;
    for (int k = 0; k < static_cast<int>(report.classes.names.size()); k++) {
        std::vector<const Clade *> clades;
        for (const Clade &clade : report.clades)
            if (clade.klass == k)
                clades.push_back(&clade);
        // Largest norm first; pre-order among equals.
        std::stable_sort(clades.begin(), clades.end(),
                         [](const Clade *a, const Clade *b) { return a->norm > b->norm; });
        out << "<h3>" << xmlText(report.classes.names[k]) << ": " << clades.size() << " clades</h3>\n";
        if (clades.empty())
            continue;
        out << "<table>\n<tr><th>node</th><th>label</th><th>leaves</th><th>nonzero</th><th>norm</th>"
            << (taxonomy ? "<th>taxonomy</th>" : "") << "</tr>\n";
        for (std::size_t i = 0; i < clades.size() && i < kHtmlRowsPerClass; i++) {
            const Clade &clade = *clades[i];
            out << "<tr>" << cell(report.tree.id[clade.node]) << cell(report.tree.name[clade.node])
                << cell(std::to_string(clade.leaves), " class=\"n\"")
                << cell(std::to_string(clade.nonzero), " class=\"n\"") << cell(general(clade.norm), " class=\"n\"");
            if (taxonomy)
                out << cell(clade.lineage);
            out << "</tr>\n";
        }
        out << "</table>\n";
        if (clades.size() > kHtmlRowsPerClass)
            out << "<p class=\"note\">The " << kHtmlRowsPerClass << " of largest norm of " << clades.size()
                << "; clades.tsv lists them all.</p>\n";
    }
}

void writeCrossValidation(std::ostream &out, const CrossValidationFiles &cv)
{
    out << "<section id=\"cross-validation\">\n<h2>Cross-validation</h2>\n<p class=\"note\">From "
        << xmlText(cv.folder) << ".</p>\n";
    if (!cv.nested.empty()) {
        out << "<h3>Nested cross-validation (cv_nested.tsv)</h3>\n"
            << "<p class=\"note\">The error to publish: each outer fold's point was chosen inside its own "
               "training samples.</p>\n";
        writeTsvTable(out, cv.nested);
    }
    if (!cv.summary.empty()) {
        out << "<h3>Summary over the grid (cv_summary.tsv)</h3>\n";
        writeTsvTable(out, cv.summary);
    }
    if (!cv.curve.empty())
        out << "<h3>Error along the grid</h3>\n<div class=\"figure\">" << inlineSvg(cv.curve) << "</div>\n";
    if (!cv.confusion.empty())
        out << "<h3>Confusion matrix</h3>\n<div class=\"figure\">" << inlineSvg(cv.confusion) << "</div>\n";
    out << "</section>\n";
}

} // namespace

void writeHtmlReport(std::ostream &out, const HtmlReport &report)
{
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Orvane report: "
        << xmlText(report.modelFile) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
        << "<h1>Orvane report</h1>\n<p>Model <code>" << xmlText(report.modelFile) << "</code>, data folder <code>"
        << xmlText(report.dataDir) << "</code>: " << report.predictions.size() << " samples, "
        << report.classes.names.size() << " classes, " << report.features.ids.size() << " taxa.</p>\n<nav>"
        << "<a href=\"#predictions\">Predictions</a><a href=\"#taxa\">Taxa</a><a href=\"#clades\">Clades</a>"
        << "<a href=\"#tree\">Tree</a>" << (report.cv ? "<a href=\"#cross-validation\">Cross-validation</a>" : "")
        << "</nav>\n";

    out << "<section id=\"predictions\">\n<h2>Predictions</h2>\n<p class=\"note\">The predicted class of "
           "each sample and the probability of every class; the predicted one is marked.</p>\n";
    writePredictionTable(out, report);
    out << "</section>\n<section id=\"taxa\">\n<h2>Selected taxa</h2>\n<p class=\"note\">The taxa with a "
           "nonzero coefficient, per class, largest first. A positive coefficient makes the class more likely "
           "the more abundant the taxon; a negative one less likely.</p>\n";
    writeTaxaTables(out, report);
    out << "</section>\n<section id=\"clades\">\n<h2>Clades</h2>\n<p class=\"note\">Internal nodes of the "
           "tree with taxa of nonzero coefficient below them, per class, the largest norm first.</p>\n";
    writeCladeTables(out, report);
    out << "</section>\n<section id=\"tree\">\n<h2>Tree</h2>\n<div class=\"figure\">" << inlineSvg(report.treeSvg)
        << "</div>\n</section>\n";
    if (report.cv)
        writeCrossValidation(out, *report.cv);
    out << "</body>\n</html>\n";
}
