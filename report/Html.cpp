// report.html: one self-contained page that reads as a scientist reports.
// First the summary (the study, the model's point, the error to publish),
// then a methods paragraph to paste into a paper, the figures, and the
// tables: every selected taxon (one list of the second class against the
// first when there are two), a genus summary, the clades by strength, and
// the predictions, out-of-fold first, the fitted values labelled as such.
// A small inline script sorts and filters the tables and copies the methods
// paragraph; nothing comes from another file.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <sstream>

#include "io/prepare_notes.h"
#include "io/text.h"
#include "report/Report.h"

namespace {

const char *const kStyle =
    "body{font-family:sans-serif;margin:1.2em 2em;color:#222;max-width:1400px}"
    "h1{font-size:1.5em;margin:.2em 0}h2{border-bottom:1px solid #ccc;padding-bottom:.2em;margin-top:1.6em}"
    "table{border-collapse:collapse;margin:.5em 0 1em}"
    "th,td{border:1px solid #ddd;padding:.2em .6em;text-align:left;font-size:.9em}"
    "th{background:#f0f0f0}table.sortable th{cursor:pointer}td.s{white-space:nowrap}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.top{font-weight:bold;background:#e8f0fb}.pos{color:#b34700}.neg{color:#5e3c99}"
    ".note{color:#555;font-size:.9em}.figure{overflow:auto;max-height:90vh;border:1px solid #eee}"
    ".facts{display:grid;grid-template-columns:repeat(auto-fit,minmax(16em,1fr));gap:.8em;margin:.8em 0}"
    ".fact{border:1px solid #ddd;border-radius:4px;padding:.6em .8em;background:#fafafa}"
    ".fact b{display:block;font-size:1.6em;margin:.15em 0}.fact.key{border-color:#1f77b4;background:#eef4fb}"
    ".warn{color:#8a4b00}#methods-text{background:#fafafa;border-left:3px solid #1f77b4;padding:.6em 1em}"
    "input.filter{margin:.3em 0;padding:.2em .4em;width:20em}nav a{margin-right:1em}.wide{overflow-x:auto}";

// Sorting by a column's header, filtering by a box above the table, and the copy button.
const char *const kScript =
    "function cellValue(row,col,numeric){var c=row.cells[col];if(!c)return '';"
    "var t=c.getAttribute('data-v')||c.textContent;return numeric?parseFloat(t):t.toLowerCase();}\n"
    "document.querySelectorAll('table.sortable th').forEach(function(th){"
    "th.title='Sort';th.addEventListener('click',function(){"
    "var table=th.closest('table'),body=table.tBodies[0],col=th.cellIndex;"
    "var numeric=th.classList.contains('num'),down=th.getAttribute('data-order')!=='down';"
    "th.setAttribute('data-order',down?'down':'up');"
    "var rows=Array.prototype.slice.call(body.rows);rows.sort(function(a,b){"
    "var x=cellValue(a,col,numeric),y=cellValue(b,col,numeric);"
    "var order=x<y?-1:x>y?1:0;return down===numeric?-order:order;});"
    "rows.forEach(function(r){body.appendChild(r);});});});\n"
    "document.querySelectorAll('input.filter').forEach(function(box){"
    "var table=document.getElementById(box.getAttribute('data-table'));"
    "var count=document.getElementById(box.getAttribute('data-table')+'-count');"
    "box.addEventListener('input',function(){var q=box.value.toLowerCase(),rows=table.tBodies[0].rows,shown=0;"
    "for(var i=0;i<rows.length;i++){var hit=rows[i].textContent.toLowerCase().indexOf(q)>=0;"
    "rows[i].hidden=!hit;if(hit)shown++;}count.textContent=shown+' of '+rows.length+' rows shown';});});\n"
    "var copy=document.getElementById('copy-methods');if(copy)copy.addEventListener('click',function(){"
    "var text=document.getElementById('methods-text');var range=document.createRange();"
    "range.selectNodeContents(text);var selection=window.getSelection();selection.removeAllRanges();"
    "selection.addRange(range);try{document.execCommand('copy');copy.textContent='Copied';}"
    "catch(e){copy.textContent='Selected: press Ctrl+C';}});\n";

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

std::string numberCell(double value)
{
    return cell(general(value), " class=\"n\"");
}

// A table's head, with the filter box above it: `numeric` marks the columns sorted as numbers.
void openTable(std::ostream &out, const std::string &id, const std::vector<std::string> &headers,
               const std::vector<bool> &numeric, std::size_t rows)
{
    out << "<div><input class=\"filter\" type=\"search\" placeholder=\"Filter rows\" data-table=\"" << id
        << "\"> <span class=\"note\" id=\"" << id << "-count\">" << rows << " rows</span></div>\n"
        << "<div class=\"wide\"><table class=\"sortable\" id=\"" << id << "\">\n<thead><tr>";
    for (std::size_t c = 0; c < headers.size(); c++)
        out << (c < numeric.size() && numeric[c] ? "<th class=\"num\">" : "<th>") << xmlText(headers[c]) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
}

void closeTable(std::ostream &out)
{
    out << "</tbody>\n</table></div>\n";
}

// The rank a level's prefix names ("g__Bacteroides": genus), or "" without one.
std::string rankOf(const std::string &level)
{
    static const std::map<char, std::string> ranks = {{'d', "domain"}, {'k', "kingdom"}, {'p', "phylum"},
                                                      {'c', "class"},  {'o', "order"},   {'f', "family"},
                                                      {'g', "genus"},  {'s', "species"}};
    if (level.size() < 3 || level.compare(1, 2, "__") != 0)
        return "";
    const auto rank = ranks.find(level[0]);
    return rank == ranks.end() ? "" : rank->second;
}

std::string withoutRank(const std::string &level)
{
    return rankOf(level).empty() ? level : level.substr(3);
}

// One selected taxon of the page: for two classes, the second against the first.
struct TaxonRow {
    int klass;  // -1 in the two-class list
    int feature;
    float coefficient;
    std::vector<std::string> levels;
};

// Every selected taxon, largest magnitude first (the class first with more than two).
std::vector<TaxonRow> taxonRows(const HtmlReport &report)
{
    const Coefficients &model = report.model;
    std::vector<TaxonRow> rows;
    const auto levelsOf = [&](int j) {
        return report.features.hasTaxonomy ? assignedLevels(report.features.taxonomy[j]) : std::vector<std::string>();
    };
    if (model.nClasses == 2) {
        for (int j = 0; j < model.nFeatures; j++)
            if (model.at(0, j) != 0.0f || model.at(1, j) != 0.0f)
                rows.push_back({-1, j, model.at(1, j) - model.at(0, j), levelsOf(j)});
        std::stable_sort(rows.begin(), rows.end(), [](const TaxonRow &a, const TaxonRow &b) {
            return std::fabs(a.coefficient) > std::fabs(b.coefficient);
        });
        return rows;
    }
    for (const RankedTaxon &taxon : rankTaxa(model))
        rows.push_back({taxon.klass, taxon.feature, taxon.coefficient, levelsOf(taxon.feature)});
    return rows;
}

// Selection shares from cv_selection.tsv by feature and class name; empty when absent.
std::map<std::pair<std::string, std::string>, std::string> selectionShares(const HtmlReport &report)
{
    std::map<std::pair<std::string, std::string>, std::string> shares;
    if (report.cv == nullptr)
        return shares;
    const auto rows = tsvRows(report.cv->selection);
    for (std::size_t r = 1; r < rows.size(); r++)
        if (rows[r].size() >= 3)
            shares[{rows[r][0], rows[r][1]}] = rows[r][2];
    return shares;
}

// The share of a taxon's row: its class's, or the larger of the two classes' in the two-class list.
std::string shareOf(const std::map<std::pair<std::string, std::string>, std::string> &shares,
                    const HtmlReport &report, const TaxonRow &row)
{
    std::string best;
    for (std::size_t k = 0; k < report.classes.names.size(); k++) {
        if (row.klass >= 0 && static_cast<int>(k) != row.klass)
            continue;
        const auto at = shares.find({report.features.ids[row.feature], report.classes.names[k]});
        if (at != shares.end() && (best.empty() || std::atof(at->second.c_str()) > std::atof(best.c_str())))
            best = at->second;
    }
    return best;
}

std::vector<std::string> levelHeaders(const std::vector<TaxonRow> &rows)
{
    std::vector<std::string> headers;
    for (const TaxonRow &row : rows)
        for (std::size_t l = 0; l < row.levels.size(); l++) {
            if (l >= headers.size())
                headers.push_back("level " + std::to_string(l + 1));
            if (!rankOf(row.levels[l]).empty())
                headers[l] = rankOf(row.levels[l]);
        }
    return headers;
}

void writeTaxaTable(std::ostream &out, const HtmlReport &report, const std::vector<TaxonRow> &rows)
{
    const bool two = report.model.nClasses == 2;
    const auto shares = selectionShares(report);
    const std::vector<std::string> levels = levelHeaders(rows);
    std::vector<std::string> headers;
    std::vector<bool> numeric;
    if (!two)
        headers.push_back("for class"), numeric.push_back(false);
    headers.push_back("feature"), numeric.push_back(false);
    for (const std::string &level : levels)
        headers.push_back(level), numeric.push_back(false);
    headers.push_back("sign"), numeric.push_back(false);
    headers.push_back(two ? "coefficient (" + report.classes.names[1] + " vs " + report.classes.names[0] + ")"
                          : "coefficient");
    numeric.push_back(true);
    if (!shares.empty())
        headers.push_back("selected in (share of fits)"), numeric.push_back(true);
    openTable(out, "taxa-table", headers, numeric, rows.size());
    for (const TaxonRow &row : rows) {
        out << "<tr>";
        if (!two)
            out << cell(report.classes.names[row.klass]);
        out << cell(report.features.ids[row.feature]);
        for (std::size_t l = 0; l < levels.size(); l++)
            out << cell(l < row.levels.size() ? withoutRank(row.levels[l]) : "");
        out << (row.coefficient > 0 ? "<td class=\"s pos\">+</td>" : "<td class=\"s neg\">&#8722;</td>")
            << numberCell(row.coefficient);
        if (!shares.empty())
            out << cell(shareOf(shares, report, row), " class=\"n\"");
        out << "</tr>\n";
    }
    closeTable(out);
}

// The genus of a taxon: its "g__" level, or "(no genus)".
std::string genusOf(const TaxonRow &row)
{
    for (const std::string &level : row.levels)
        if (rankOf(level) == "genus")
            return withoutRank(level);
    return "(no genus)";
}

// The selected taxa grouped by genus, most taxa first.
void writeGenusTable(std::ostream &out, const HtmlReport &report, const std::vector<TaxonRow> &rows)
{
    struct Genus {
        std::string name;
        int taxa = 0, positive = 0, negative = 0;
        double largest = 0;
    };
    std::vector<Genus> genera;
    for (const TaxonRow &row : rows) {
        const std::string name = genusOf(row);
        auto at = std::find_if(genera.begin(), genera.end(), [&](const Genus &g) { return g.name == name; });
        if (at == genera.end())
            at = genera.insert(genera.end(), Genus{name});
        at->taxa++;
        (row.coefficient > 0 ? at->positive : at->negative)++;
        at->largest = std::max(at->largest, static_cast<double>(std::fabs(row.coefficient)));
    }
    std::stable_sort(genera.begin(), genera.end(), [](const Genus &a, const Genus &b) { return a.taxa > b.taxa; });
    const bool two = report.model.nClasses == 2;
    openTable(out, "genus-table",
              {"genus", two ? "taxa" : "coefficients", "positive", "negative", "largest |coefficient|"},
              {false, true, true, true, true}, genera.size());
    for (const Genus &genus : genera)
        out << "<tr>" << cell(genus.name) << cell(std::to_string(genus.taxa), " class=\"n\"")
            << cell(std::to_string(genus.positive), " class=\"n\"")
            << cell(std::to_string(genus.negative), " class=\"n\"") << numberCell(genus.largest) << "</tr>\n";
    closeTable(out);
}

// The clades the page lists: every internal node but the root with a
// selected taxon below it, the largest norm first. With two classes, those
// of the difference between the two classes' coefficients.
std::vector<Clade> pageClades(const HtmlReport &report)
{
    std::vector<Clade> clades;
    if (report.model.nClasses == 2) {
        std::vector<float> difference(report.model.nFeatures);
        for (int j = 0; j < report.model.nFeatures; j++)
            difference[j] = report.model.at(1, j) - report.model.at(0, j);
        const Coefficients contrast{1, report.model.nFeatures, difference.data()};
        clades = selectedClades(report.tree, contrast, report.features);
    } else {
        clades = report.clades;
    }
    clades.erase(std::remove_if(clades.begin(), clades.end(), [](const Clade &c) { return c.node == 0; }),
                 clades.end());
    std::stable_sort(clades.begin(), clades.end(), [](const Clade &a, const Clade &b) { return a.norm > b.norm; });
    return clades;
}

void writeCladeTable(std::ostream &out, const HtmlReport &report, const std::vector<Clade> &clades)
{
    const bool two = report.model.nClasses == 2, taxonomy = report.features.hasTaxonomy;
    std::vector<std::string> headers = {"node", "label", "leaves", "nonzero", "norm"};
    std::vector<bool> numeric = {false, false, true, true, true};
    if (!two)
        headers.insert(headers.begin(), "for class"), numeric.insert(numeric.begin(), false);
    if (taxonomy)
        headers.push_back("taxonomy"), numeric.push_back(false);
    openTable(out, "clade-table", headers, numeric, clades.size());
    for (const Clade &clade : clades) {
        out << "<tr>";
        if (!two)
            out << cell(report.classes.names[clade.klass]);
        out << cell(report.tree.id[clade.node]) << cell(report.tree.name[clade.node])
            << cell(std::to_string(clade.leaves), " class=\"n\"") << cell(std::to_string(clade.nonzero), " class=\"n\"")
            << numberCell(clade.norm);
        if (taxonomy)
            out << cell(clade.lineage);
        out << "</tr>\n";
    }
    closeTable(out);
}

void writePredictionTable(std::ostream &out, const HtmlReport &report)
{
    const bool known = report.samples.hasClasses;
    std::vector<std::string> headers = {"sample"};
    if (known)
        headers.push_back("class");
    headers.push_back("prediction");
    std::vector<bool> numeric(headers.size(), false);
    for (const std::string &name : report.classes.names)
        headers.push_back("P(" + name + ")"), numeric.push_back(true);
    openTable(out, "prediction-table", headers, numeric, report.predictions.size());
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
    closeTable(out);
}

// cv_predictions.tsv as a table: every held-out sample of every repetition.
void writeOutOfFoldTable(std::ostream &out, const std::string &tsv)
{
    const auto rows = tsvRows(tsv);
    if (rows.empty())
        return;
    std::vector<bool> numeric(rows[0].size(), false);
    for (std::size_t c = 0; c < rows[0].size(); c++)
        numeric[c] = rows[0][c] == "repetition" || rows[0][c] == "fold" || rows[0][c] == "line";
    openTable(out, "out-of-fold-table", rows[0], numeric, rows.size() - 1);
    for (std::size_t r = 1; r < rows.size(); r++) {
        out << "<tr>";
        for (const std::string &field : rows[r])
            out << cell(field);
        out << "</tr>\n";
    }
    closeTable(out);
}

// A tab-separated file with a header line as a plain table.
void writeTsvTable(std::ostream &out, const std::string &tsv)
{
    const auto rows = tsvRows(tsv);
    out << "<table>\n";
    for (std::size_t r = 0; r < rows.size(); r++) {
        out << "<tr>";
        for (const std::string &field : rows[r])
            out << (r == 0 ? "<th>" : "<td>") << xmlText(field) << (r == 0 ? "</th>" : "</td>");
        out << "</tr>\n";
    }
    out << "</table>\n";
}

std::size_t keptClades(const std::vector<Clade> &clades)
{
    std::vector<int> nodes;
    for (const Clade &clade : clades)
        nodes.push_back(clade.node);
    std::sort(nodes.begin(), nodes.end());
    return std::unique(nodes.begin(), nodes.end()) - nodes.begin();
}

void fact(std::ostream &out, const std::string &title, const std::string &value, const std::string &detail,
          bool key = false)
{
    out << "<div class=\"fact" << (key ? " key" : "") << "\">" << xmlText(title) << "<b>" << xmlText(value)
        << "</b><span class=\"note\">" << detail << "</span></div>\n";
}

// The error to publish: the nested one when there is one, else the
// cross-validated error at the model's point, marked as optimistic.
void errorFact(std::ostream &out, const CrossValidationFacts &cv)
{
    if (cv.nested)
        fact(out, "Error to publish (nested cross-validation)",
             threeDigits(cv.nestedMean) + " \u00b1 " + threeDigits(cv.nestedStdError),
             "mean \u00b1 standard error over " + std::to_string(cv.outerFolds) +
                 " outer folds, each choosing w and lambda on its own training samples",
             true);
    else if (cv.pointKnown)
        fact(out, "Cross-validated error (optimistic)",
             threeDigits(cv.pointError) + " \u00b1 " + threeDigits(cv.pointStdError),
             "<span class=\"warn\">the point was chosen on the folds that measured it; Orvane-cv -nested gives "
             "the error to publish</span>",
             true);
    else if (cv.given)
        fact(out, "Error", "not known for this model",
             "<span class=\"warn\">name the rule that chose the model's point (Orvane-report -choice min or 1se)"
             "</span>",
             true);
    else
        fact(out, "Error", "not estimated",
             "<span class=\"warn\">no cross-validation was given (-cv): nothing on this page estimates the "
             "error on new samples</span>",
             true);
}

// A small drawing of the ROC curves, one line per repetition, over the diagonal of chance.
std::string rocSvg(const std::vector<RocCurve> &curves)
{
    const double left = 38, top = 8, side = 150;
    std::ostringstream svg;
    svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"200\" height=\"198\" font-family=\"sans-serif\" "
           "font-size=\"11\"><rect x=\""
        << left << "\" y=\"" << top << "\" width=\"" << side << "\" height=\"" << side
        << "\" fill=\"white\" stroke=\"#999\"/><line x1=\"" << left << "\" y1=\"" << top + side << "\" x2=\""
        << left + side << "\" y2=\"" << top << "\" stroke=\"#bbb\" stroke-dasharray=\"4 3\"/>";
    for (const RocCurve &curve : curves) {
        svg << "<polyline fill=\"none\" stroke=\"#1f77b4\" stroke-opacity=\"0.7\" stroke-width=\"1.5\" points=\"";
        for (const auto &[falseRate, trueRate] : curve.points)
            svg << fixed(left + falseRate * side, 1) << ',' << fixed(top + (1 - trueRate) * side, 1) << ' ';
        svg << "\"/>";
    }
    svg << "<text x=\"" << left << "\" y=\"" << top + side + 13 << "\" text-anchor=\"middle\">0</text><text x=\""
        << left + side << "\" y=\"" << top + side + 13 << "\" text-anchor=\"middle\">1</text><text x=\""
        << left - 4 << "\" y=\"" << top + 10 << "\" text-anchor=\"end\">1</text><text x=\"" << left + side / 2
        << "\" y=\"" << top + side + 28 << "\" text-anchor=\"middle\">false positive rate</text>"
        << "<text transform=\"translate(" << left - 14 << ' ' << top + side / 2
        << ") rotate(-90)\" text-anchor=\"middle\">true positive rate</text></svg>";
    return svg.str();
}

// Two classes: the mean area under the repetitions' ROC curves, with the curves.
void rocFact(std::ostream &out, const CrossValidationFacts &cv)
{
    out << "<div class=\"fact\">AUC (" << xmlText(cv.positiveClass) << " positive)<b>"
        << fixed(meanRocArea(cv.roc), 3) << "</b><span class=\"note\">out-of-fold at the model's point; the mean "
        << "of the " << cv.roc.size() << " repetitions' areas (ties count half), one curve each</span>"
        << rocSvg(cv.roc) << "</div>\n";
}

// What Orvane-prepare kept of the study's table, for the summary.
std::string preparedText(const PreparationFacts &prepared)
{
    return shareText(prepared.readsKept / prepared.reads) + " of the reads kept: " +
           std::to_string(prepared.samplesKept) + " of " + std::to_string(prepared.samplesInTable) +
           " samples and " + std::to_string(prepared.featuresKept) + " of " +
           std::to_string(prepared.featuresInTable) + " taxa of " + xmlText(fileName(prepared.table)) +
           (prepared.treeSource == "grafted" ? ", " + std::to_string(prepared.featuresGrafted) + " of them grafted"
                                             : std::string());
}

void writeSummary(std::ostream &out, const HtmlReport &report, const CrossValidationFacts &cv,
                  const std::vector<Clade> &clades)
{
    out << "<section id=\"summary\">\n<h2>Summary</h2>\n<div class=\"facts\">\n";
    errorFact(out, cv);
    if (cv.pointKnown)
        fact(out, "Model's point", "w " + cv.w + ", lambda " + threeDigits(cv.lambda),
             "chosen by the " + xmlText(cv.choice) + " rule of the cross-validation" +
                 (cv.solver.empty() ? std::string() : ", whose fits used the " + xmlText(cv.solver) + " solver"));
    else
        fact(out, "Model's point", "not given", "the model file holds coefficients only");
    if (cv.atMinPoint && !cv.confusion.empty())
        fact(out, "Balanced accuracy", fixed(balancedAccuracy(cv.confusion), 3),
             "mean recall of the classes, out-of-fold at the model's point");
    if (cv.atMinPoint && !cv.roc.empty())
        rocFact(out, cv);
    const int taxa = selectedTaxonCount(report.model);
    fact(out, "Kept", std::to_string(taxa) + " taxa, " + std::to_string(keptClades(clades)) + " clades",
         "of " + std::to_string(report.features.ids.size()) + " taxa: nonzero coefficients, clades below the root");
    std::string sizes;
    for (const std::string &name : report.classes.names)
        sizes += (sizes.empty() ? "" : ", ") + xmlText(name) + " " +
                 std::to_string(std::count(report.trainingSamples.classes.begin(),
                                           report.trainingSamples.classes.end(), name));
    if (report.preparation != nullptr)
        sizes += "<br>" + preparedText(*report.preparation);
    fact(out, "Study",
         std::to_string(report.trainingSamples.ids.size()) + " samples, " +
             std::to_string(report.classes.names.size()) + " classes",
         sizes);
    out << "</div>\n<p class=\"note\">Model <code>" << xmlText(report.modelFile) << "</code>, data folder <code>"
        << xmlText(report.dataDir) << "</code>"
        << (cv.given ? ", cross-validation <code>" + xmlText(cv.folder) + "</code>" : std::string()) << ".</p>\n"
        << "</section>\n";
}

void writeMethods(std::ostream &out, const HtmlReport &report, const CrossValidationFacts &cv)
{
    out << "<section id=\"methods\">\n<h2>Methods</h2>\n<p id=\"methods-text\">" << xmlText(methodsText(report, cv))
        << "</p>\n<button type=\"button\" id=\"copy-methods\">Copy the paragraph</button>\n</section>\n";
}

void writeFigures(std::ostream &out, const HtmlReport &report, const CrossValidationFacts &cv)
{
    out << "<section id=\"figures\">\n<h2>Figures</h2>\n<h3 id=\"tree\">Tree</h3>\n<div class=\"figure\">"
        << inlineSvg(report.treeSvg) << "</div>\n";
    if (report.cv == nullptr) {
        out << "</section>\n";
        return;
    }
    if (!report.cv->curve.empty())
        out << "<h3>Cross-validation error along the grid</h3>\n<div class=\"figure\">" << inlineSvg(report.cv->curve)
            << "</div>\n";
    if (!report.cv->confusion.empty() && cv.atMinPoint)
        out << "<h3>Confusion matrix at the model's point</h3>\n<div class=\"figure\">"
            << inlineSvg(report.cv->confusion) << "</div>\n";
    else if (!report.cv->confusion.empty())
        out << "<p class=\"note\">The cross-validation folder's confusion matrix is taken at its min point, "
               "which is not shown to be the model's: it is left out.</p>\n";
    out << "</section>\n";
}

void writePredictions(std::ostream &out, const HtmlReport &report, const CrossValidationFacts &cv)
{
    out << "<section id=\"predictions\">\n<h2>Predictions</h2>\n";
    if (report.cv != nullptr && !report.cv->predictions.empty() && cv.atMinPoint) {
        out << "<h3>Out-of-fold predictions</h3>\n<p class=\"note\">Each sample predicted by the fits that did not "
               "see it, at the model's point, in every repetition.</p>\n";
        writeOutOfFoldTable(out, report.cv->predictions);
    }
    if (report.newSamples)
        out << "<h3>New samples</h3>\n<p class=\"note\">The predicted class of each new sample and the "
               "probability of every class.</p>\n";
    else
        out << "<h3>Fitted values (not an error estimate)</h3>\n<p class=\"note\">The model's predictions of the "
               "samples it was trained on: they show how well it fits them, not how well it predicts new "
               "samples.</p>\n";
    writePredictionTable(out, report);
    out << "</section>\n";
}

void writeTables(std::ostream &out, const HtmlReport &report, const std::vector<Clade> &clades)
{
    const std::vector<TaxonRow> rows = taxonRows(report);
    const bool two = report.model.nClasses == 2;
    out << "<section id=\"taxa\">\n<h2>Selected taxa</h2>\n<p class=\"note\">"
        << (two ? "Every taxon with a nonzero coefficient, as one list: the coefficient of " +
                      xmlText(report.classes.names[1]) + " against " + xmlText(report.classes.names[0]) +
                      ". A positive one makes " + xmlText(report.classes.names[1]) +
                      " more likely the more abundant the taxon."
                : std::string("Every nonzero coefficient, by class, largest first. A positive one makes the "
                              "class more likely the more abundant the taxon."))
        << " Click a column's name to sort by it; taxa.tsv holds them too.</p>\n";
    writeTaxaTable(out, report, rows);
    if (report.features.hasTaxonomy) {
        out << "<h3>By genus</h3>\n";
        writeGenusTable(out, report, rows);
    }
    out << "</section>\n<section id=\"clades\">\n<h2>Clades</h2>\n<p class=\"note\">Internal nodes below the root "
           "with selected taxa below them, strongest (largest norm of their coefficients) first.</p>\n";
    writeCladeTable(out, report, clades);
    out << "</section>\n";
}

} // namespace

void writeHtmlReport(std::ostream &out, const HtmlReport &report)
{
    const CrossValidationFacts cv = report.cv != nullptr ? crossValidationFacts(*report.cv, report.choice, report.classes)
                                                         : CrossValidationFacts();
    const std::vector<Clade> clades = pageClades(report);
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Orvane report: "
        << xmlText(report.modelFile) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
        << "<h1>Orvane report</h1>\n<nav><a href=\"#summary\">Summary</a><a href=\"#methods\">Methods</a>"
        << "<a href=\"#figures\">Figures</a><a href=\"#taxa\">Taxa</a><a href=\"#clades\">Clades</a>"
        << "<a href=\"#predictions\">Predictions</a></nav>\n";
    writeSummary(out, report, cv, clades);
    writeMethods(out, report, cv);
    writeFigures(out, report, cv);
    writeTables(out, report, clades);
    writePredictions(out, report, cv);
    if (report.cv != nullptr) {
        out << "<section id=\"cross-validation\">\n<h2>Cross-validation details</h2>\n";
        if (!report.cv->nested.empty()) {
            out << "<h3>Nested cross-validation (cv_nested.tsv)</h3>\n";
            writeTsvTable(out, report.cv->nested);
        }
        if (!report.cv->summary.empty()) {
            out << "<h3>Summary over the grid (cv_summary.tsv)</h3>\n";
            writeTsvTable(out, report.cv->summary);
        }
        out << "</section>\n";
    }
    out << "<script>\n" << kScript << "</script>\n</body>\n</html>\n";
}
