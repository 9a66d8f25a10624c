// The work behind Orvane-prepare. A study run matches the feature table's
// samples to the metadata sheet's classes and its features to the tree's tips
// (or builds the tree from the taxonomy, or grafts features onto it), keeps
// the samples with a class and the features on the tree with a count in a
// kept sample, numbers the classes in byte order of their names, prunes the
// tree to the kept features, and writes samples.txt, labels.txt and tree.tre
// with the name files, what it left out (dropped.tsv), the groups and the
// note's facts (prepare_note.tsv). The folder's order is canonical: samples
// by ID, the tree's children by the smallest feature ID below them, columns
// in the order of the tree's tips. The note counts what was left out, in
// features and in reads. A -like run puts a table's
// samples in the feature columns of an existing data folder, counting 0 for a
// feature the table lacks. Both write their folder through a temporary folder
// beside it, renamed into place once every file is complete.
#include "io/prepare.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "io/outputs.h"
#include "io/prepare_notes.h"
#include "io/metadata.h"
#include "io/names.h"
#include "io/study_tree.h"
#include "io/table.h"
#include "model/SampleTable.h"
#include "io/taxonomy.h"
#include "io/taxonomy_tree.h"
#include "io/text.h"

namespace {

Orientation forcedOrientation(const PrepareOptions &options)
{
    if (options.orientation == "features")
        return Orientation::FeaturesAsRows;
    if (options.orientation == "samples")
        return Orientation::SamplesAsRows;
    return Orientation::Unknown;
}

} // namespace

std::string withoutTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

namespace {

// ---- the files of a data folder ----------------------------------------------

void writeSampleTable(std::ostream &out, const SampleRows &table)
{
    for (size_t i = 0; i < table.rows.size(); i++) {
        out << i + 1;
        auto next = table.rows[i].begin();
        for (size_t c = 0; c < table.nFeatures; c++) {
            if (next == table.rows[i].end() || next->first != static_cast<int>(c))
                out << "\t0";  // most counts of a study, written without formatting
            else
                out << '\t' << floatText((next++)->second);
        }
        out << '\n';
    }
}

void writeLabels(std::ostream &out, const std::vector<std::string> &classNames,
                 const std::vector<int> &classOfSample)
{
    for (size_t k = 0; k < classNames.size(); k++) {
        out << '>' << classNames[k] << '\n';
        const char *separator = "";
        for (size_t i = 0; i < classOfSample.size(); i++)
            if (classOfSample[i] == static_cast<int>(k)) {
                out << separator << i + 1;
                separator = " ";
            }
        out << '\n';
    }
}

// The counts of `samples` in the folder's columns (columnOfFeature: each
// table feature's column, or -1), each row in column order.
SampleRows keptRows(const CountTable &table, const std::vector<size_t> &samples,
                    const std::vector<int> &columnOfFeature, size_t nColumns)
{
    SampleRows kept{nColumns, std::vector<std::vector<std::pair<int, float>>>(samples.size())};
    for (size_t i = 0; i < samples.size(); i++) {
        std::vector<std::pair<int, float>> &row = kept.rows[i];
        for (const auto &entry : table.rows[samples[i]])
            if (columnOfFeature[entry.first] >= 0)
                row.emplace_back(columnOfFeature[entry.first], entry.second);
        std::sort(row.begin(), row.end());
        row.shrink_to_fit();
        kept.nonzeros += static_cast<long long>(row.size());
    }
    return kept;
}

// Orvane normalises each sample by the sum of its counts, taken in float in
// column order: that sum must be a positive finite number. The table must
// also be one Orvane can hold.
std::string checkSampleSums(const SampleRows &table, const std::vector<std::string> &ids,
                            const std::string &where)
{
    for (size_t i = 0; i < table.rows.size(); i++) {
        float sum = 0.0f;
        for (const auto &entry : table.rows[i])
            sum += entry.second;
        if (sum == 0.0f)
            return "sample " + quote(ids[i]) + " has no counts in " + where;
        if (!std::isfinite(sum))
            return "the counts of sample " + quote(ids[i]) + " sum beyond single precision";
    }
    return tableSizeProblem(static_cast<long long>(table.rows.size()),
                            static_cast<long long>(table.nFeatures), table.nonzeros);
}

std::string checkNames(const std::vector<std::string> &names, const std::string &what)
{
    for (const std::string &name : names) {
        const std::string problem = checkName(name);
        if (!problem.empty())
            return what + " " + quote(name) + " " + problem;
    }
    return "";
}

// "1 sample", "2 samples"; "1 class", "2 classes".
std::string plural(size_t n, const std::string &word)
{
    const bool es = !word.empty() && word.back() == 's';
    return std::to_string(n) + " " + word + (n == 1 ? "" : es ? "es" : "s");
}

std::unordered_set<std::string> idSet(const std::vector<std::string> &ids)
{
    return std::unordered_set<std::string>(ids.begin(), ids.end());
}

// ---- Orvane-prepare -table -metadata -column -tree -o --------------------------

// Whether a class value means "no class": empty, one of the missing-value
// markers (compared without case) or, with the default markers, "missing: ...".
class MissingValues {
public:
    explicit MissingValues(const PrepareOptions &options) : prefixRule(!options.missingGiven)
    {
        if (!options.missingGiven) {
            markers = {"na", "n/a", "nan", "none", "null", "missing", "unknown", "not applicable",
                       "not collected", "not provided", "restricted access"};
            return;
        }
        for (const std::string &marker : splitFields(options.missing, ','))
            if (!marker.empty())
                markers.insert(lowerCase(marker));
    }

    bool operator()(const std::string &value) const
    {
        const std::string lower = lowerCase(value);
        return value.empty() || markers.count(lower) != 0 ||
               (prefixRule && lower.compare(0, 8, "missing:") == 0);
    }

private:
    std::unordered_set<std::string> markers;
    bool prefixRule;
};

// The table's samples that the sheet gives a class, in the byte order of their IDs.
struct SampleChoice {
    std::vector<size_t> kept;          // indexes into the table's samples
    std::vector<std::string> classes;  // the class name of each kept sample
    size_t notInSheet = 0;
    size_t noClass = 0;
    std::vector<std::string> noClassIds, noClassValues;  // those samples, and their values
    size_t fewCounts = 0;  // left out by -min-count
};

SampleChoice chooseSamples(const CountTable &table, const MetadataColumn &metadata,
                           const MissingValues &missing)
{
    std::unordered_map<std::string, size_t> sheetRow;
    for (size_t r = 0; r < metadata.samples.size(); r++)
        sheetRow.emplace(metadata.samples[r], r);
    std::vector<size_t> byId(table.samples.size());
    for (size_t s = 0; s < byId.size(); s++)
        byId[s] = s;
    std::sort(byId.begin(), byId.end(),
              [&](size_t a, size_t b) { return table.samples[a] < table.samples[b]; });
    SampleChoice choice;
    for (size_t s : byId) {
        const auto row = sheetRow.find(table.samples[s]);
        if (row == sheetRow.end()) {
            choice.notInSheet++;
        } else if (missing(metadata.values[row->second])) {
            choice.noClass++;
            choice.noClassIds.push_back(table.samples[s]);
            choice.noClassValues.push_back(metadata.values[row->second]);
        } else {
            choice.kept.push_back(s);
            choice.classes.push_back(metadata.values[row->second]);
        }
    }
    return choice;
}

// The distinct class names in byte order, which numbers the classes.
std::vector<std::string> sortedClasses(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

// Why a feature of the table is not a column of the data folder.
enum class Reason { Kept, OffTree, NoTaxonomyToGraft, NoRelative, NoTaxonomy, ZeroCounts };

// Why, in dropped.tsv and (with `inNote`) in the note.
std::string reasonText(Reason reason, bool inNote = false)
{
    switch (reason) {
    case Reason::OffTree: return "not on the tree";
    case Reason::NoTaxonomyToGraft:
        return inNote ? "not on the tree without a taxonomy to graft" : "no taxonomy to graft";
    case Reason::NoRelative:
        return inNote ? "not on the tree with no relative on it" : "no relative on the tree";
    case Reason::NoTaxonomy: return inNote ? "without a taxonomy" : "no taxonomy";
    case Reason::ZeroCounts: return inNote ? "with zero counts in the kept samples" : "zero counts";
    case Reason::Kept: break;
    }
    return "kept";
}

// Per table feature, whether it has a count in one of `samples`.
std::vector<bool> featuresWithCounts(const CountTable &table, const std::vector<size_t> &samples)
{
    std::vector<bool> counted(table.features.size(), false);
    for (size_t s : samples)
        for (const auto &entry : table.rows[s])
            counted[entry.first] = true;
    return counted;
}

// Each table feature's taxonomy: the sheet's when one was given, else the table's own.
std::vector<std::string> taxonomyOf(const CountTable &table,
                                    const std::unordered_map<std::string, std::string> *sheet)
{
    if (sheet == nullptr)
        return table.taxonomy.empty() ? std::vector<std::string>(table.features.size())
                                      : table.taxonomy;
    std::vector<std::string> taxa;
    for (const std::string &id : table.features) {
        const auto taxon = sheet->find(id);
        taxa.push_back(taxon == sheet->end() ? "" : taxon->second);
    }
    return taxa;
}

// Whether the lineage names a level from `first` on (0: the kingdom).
bool hasNamedLevel(const std::string &taxonomy, size_t first = 0)
{
    const std::vector<std::string> levels = lineageLevels(taxonomy);
    for (size_t d = first; d < levels.size(); d++)
        if (isNamedLevel(levels[d]))
            return true;
    return false;
}

// The study's tree, or the one built from the taxonomy with -tree taxonomy,
// with the features not on it marked; with -graft, features off the tree
// placed by their taxonomy beside the features on it with counts in `samples`.
struct FeatureTree {
    StudyTree tree;
    size_t tips = 0;                // tips of the study's tree (0 for a taxonomy tree)
    std::vector<Reason> reason;     // per table feature: Kept or why it is off the tree
    std::vector<bool> grafted;      // per table feature
};

std::string placeFeatures(const PrepareOptions &options, StudyTree studyTree,
                          const CountTable &table, const std::vector<std::string> &taxa,
                          const std::vector<size_t> &samples, FeatureTree &result)
{
    const size_t n = table.features.size();
    result.reason.assign(n, Reason::Kept);
    result.grafted.assign(n, false);
    if (options.tree == "taxonomy") {
        std::vector<TaxonomyFeature> named;
        for (size_t f = 0; f < n; f++) {
            if (hasNamedLevel(taxa[f]))
                named.push_back({table.features[f], taxa[f]});
            else
                result.reason[f] = Reason::NoTaxonomy;
        }
        if (named.empty())
            return "-tree taxonomy: no feature of " + options.table +
                   " has a taxonomy (give -taxonomy, or a table that holds one)";
        result.tree = taxonomyTree(named);
        return "";
    }
    result.tree = std::move(studyTree);
    std::unordered_set<std::string> tips;
    for (int i = 0; i < result.tree.tree->nnodes; i++)
        if (result.tree.tree->nodes[i]->isLeaf())
            tips.insert(result.tree.tree->nodes[i]->longname);
    result.tips = tips.size();
    std::vector<TaxonomyFeature> onTree;
    std::vector<TaxonomyFeature> orphans;
    const std::vector<bool> counted = featuresWithCounts(table, samples);
    for (size_t f = 0; f < n; f++) {
        if (tips.count(table.features[f]) == 0) {
            result.reason[f] = !options.graft ? Reason::OffTree
                               : hasNamedLevel(taxa[f], 1) ? Reason::NoRelative
                                                        : Reason::NoTaxonomyToGraft;
            if (result.reason[f] == Reason::NoRelative)
                orphans.push_back({table.features[f], taxa[f]});
        } else if (options.graft && counted[f]) {
            onTree.push_back({table.features[f], taxa[f]});
        }
    }
    if (!orphans.empty()) {
        std::unordered_map<std::string, size_t> index;
        for (size_t f = 0; f < n; f++)
            index.emplace(table.features[f], f);
        for (const std::string &id : graftByTaxonomy(result.tree, onTree, orphans)) {
            result.reason[index.at(id)] = Reason::Kept;
            result.grafted[index.at(id)] = true;
        }
    }
    return "";
}

// The median of `values`, which it sorts.
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}


// What the kept features hold of the kept samples' counts: the note's line
// about reads, and a warning when too little is kept.
struct ReadShares {
    double overall = 0.0;
    double median = 0.0;
    double lowest = 0.0;
    std::string lowestId;
    double grafted = 0.0;  // held by grafted features
    double all = 0.0;      // the kept samples' counts
    double kept = 0.0;     // those of the kept features
};

ReadShares readShares(const CountTable &table, const std::vector<size_t> &samples,
                      const std::vector<Reason> &reason, const std::vector<bool> &grafted)
{
    ReadShares shares;
    double all = 0.0, kept = 0.0, graftedCounts = 0.0;
    std::vector<double> perSample;
    for (size_t s : samples) {
        double sampleAll = 0.0, sampleKept = 0.0;
        for (const auto &entry : table.rows[s]) {
            const size_t f = static_cast<size_t>(entry.first);
            const double count = entry.second;
            sampleAll += count;
            if (reason[f] == Reason::Kept) {
                sampleKept += count;
                graftedCounts += grafted[f] ? count : 0.0;
            }
        }
        all += sampleAll;
        kept += sampleKept;
        const double share = sampleKept / sampleAll;
        perSample.push_back(share);
        if (perSample.size() == 1 || share < shares.lowest) {
            shares.lowest = share;
            shares.lowestId = table.samples[s];
        }
    }
    shares.overall = kept / all;
    shares.grafted = graftedCounts / all;
    shares.all = all;
    shares.kept = kept;
    shares.median = median(perSample);
    return shares;
}

// dropped.tsv: every feature of the table left out, why, its count in the kept
// samples and its taxonomy; largest count first, equal counts by ID.
void writeDropped(std::ostream &out, const CountTable &table, const std::vector<size_t> &samples,
                  const std::vector<Reason> &reason, const std::vector<std::string> &taxa)
{
    // Each feature's total, summed over the samples in their order.
    std::vector<double> total(table.features.size(), 0.0);
    for (size_t s : samples)
        for (const auto &entry : table.rows[s])
            total[entry.first] += entry.second;
    std::vector<std::pair<double, size_t>> dropped;
    for (size_t f = 0; f < table.features.size(); f++)
        if (reason[f] != Reason::Kept)
            dropped.push_back({total[f], f});
    std::sort(dropped.begin(), dropped.end(), [&](const auto &a, const auto &b) {
        return a.first != b.first ? a.first > b.first
                                  : table.features[a.second] < table.features[b.second];
    });
    out << "feature-id\treason\tcount\ttaxonomy\n";
    char count[64];
    for (const auto &feature : dropped) {
        std::snprintf(count, sizeof count, "%.17g", feature.first);
        out << table.features[feature.second] << '\t' << reasonText(reason[feature.second]) << '\t'
            << count << '\t' << taxa[feature.second] << '\n';
    }
}

// Leaves out, with -min-count N, the samples whose kept features count less than N in all.
std::string applyMinCount(const PrepareOptions &options, const CountTable &table,
                          const std::vector<Reason> &reason, SampleChoice &chosen)
{
    if (options.minCount.empty())
        return "";
    char *end = nullptr;
    const double least = std::strtod(options.minCount.c_str(), &end);
    if (end != options.minCount.c_str() + options.minCount.size() || !std::isfinite(least) ||
        least < 0.0)
        return "-min-count value " + quote(options.minCount) + " is not a number >= 0";
    SampleChoice kept = chosen;
    kept.kept.clear();
    kept.classes.clear();
    for (size_t i = 0; i < chosen.kept.size(); i++) {
        double total = 0.0;
        for (const auto &entry : table.rows[chosen.kept[i]])
            total += reason[entry.first] == Reason::Kept ? entry.second : 0.0;
        if (total < least) {
            kept.fewCounts++;
        } else {
            kept.kept.push_back(chosen.kept[i]);
            kept.classes.push_back(chosen.classes[i]);
        }
    }
    chosen = kept;
    return "";
}

// "Gut 1, Soil 2, gut 1": each class with its number of samples.
std::string classSizes(const std::vector<std::string> &names, const std::vector<int> &classOfSample)
{
    std::vector<size_t> sizes(names.size(), 0);
    for (int k : classOfSample)
        sizes[k]++;
    std::string text;
    for (size_t k = 0; k < names.size(); k++)
        text += (k > 0 ? ", " : "") + names[k] + " " + std::to_string(sizes[k]);
    return text;
}

// The reasons a feature can be left out in this run, whether or not one is.
std::vector<Reason> droppedReasons(const PrepareOptions &options)
{
    std::vector<Reason> shown = {Reason::NoTaxonomy};
    if (options.tree != "taxonomy")
        shown = options.graft ? std::vector<Reason>{Reason::NoTaxonomyToGraft, Reason::NoRelative}
                              : std::vector<Reason>{Reason::OffTree};
    shown.push_back(Reason::ZeroCounts);
    return shown;
}

// A reason as a key of prepare_note.tsv: dropped.tsv's wording, '_' for spaces.
std::string reasonKey(Reason reason)
{
    std::string key = reasonText(reason);
    std::replace(key.begin(), key.end(), ' ', '_');
    return key;
}

// The counts of each reason among the features left out, for the note: the
// reasons that can occur in this run, even when no feature has them.
std::string droppedCounts(const PrepareOptions &options, const std::vector<Reason> &reason,
                          size_t nGrafted, double graftedShare)
{
    std::string text;
    for (Reason why : droppedReasons(options))
        text += (text.empty() ? "" : ", ") +
                std::to_string(std::count(reason.begin(), reason.end(), why)) + " " +
                reasonText(why, true);
    if (options.graft)
        text += "; " + std::to_string(nGrafted) + " grafted onto the tree, holding " +
                shareText(graftedShare) + " of the counts";
    return text;
}

} // namespace

namespace {

// The inputs of a study run as read from its files.
struct StudyInputs {
    MetadataColumn metadata;
    MetadataColumn groups;  // with -group
    std::unordered_map<std::string, std::string> sheet;  // with -taxonomy
    StudyTree studyTree;    // unless -tree taxonomy
    CountTable table;
    std::vector<std::string> taxa;  // of each table feature
};

std::string readStudyInputs(const PrepareOptions &options, StudyInputs &in)
{
    std::string problem = readMetadataColumn(options.metadata, options.column, in.metadata);
    if (problem.empty() && !options.group.empty())
        problem = readMetadataColumn(options.metadata, options.group, in.groups);
    if (problem.empty() && !options.taxonomy.empty())
        problem = readTaxonomy(options.taxonomy, in.sheet);
    if (!problem.empty())
        return problem;
    // The tree's tips (or the taxonomy sheet's features) help tell the table's orientation.
    std::unordered_set<std::string> featureHints;
    if (options.tree != "taxonomy") {
        problem = readStudyTree(options.tree, in.studyTree);
        if (!problem.empty())
            return problem;
        for (int i = 0; i < in.studyTree.tree->nnodes; i++)
            if (in.studyTree.tree->nodes[i]->isLeaf())
                featureHints.insert(in.studyTree.tree->nodes[i]->longname);
    } else {
        for (const auto &taxon : in.sheet)
            featureHints.insert(taxon.first);
    }
    const std::unordered_set<std::string> metadataIds = idSet(in.metadata.samples);
    OrientationHints hints;
    hints.forced = forcedOrientation(options);
    hints.sampleIds = &metadataIds;
    hints.featureIds = &featureHints;
    problem = readCountTable(options.table, hints, in.table);
    if (!problem.empty())
        return problem;
    in.taxa = taxonomyOf(in.table, options.taxonomy.empty() ? nullptr : &in.sheet);
    return "";
}

// The samples and features a study run keeps, and the classes of the samples.
struct Selection {
    SampleChoice chosen;
    FeatureTree placed;
    std::vector<Reason> reason;           // per table feature
    std::vector<std::string> classNames;  // in byte order
    std::vector<int> classOfSample;       // per kept sample
    std::unordered_map<std::string, size_t> tableFeature;  // the kept features by ID
    std::string treeName;                 // the tree file, or "the taxonomy"
};

// Places the features on the tree and leaves out the samples and features
// Orvane cannot use; refuses a study with fewer than two classes or features.
std::string selectStudy(const PrepareOptions &options, StudyInputs &in, Selection &sel)
{
    const CountTable &table = in.table;
    sel.chosen = chooseSamples(table, in.metadata, MissingValues(options));
    std::string problem =
        placeFeatures(options, std::move(in.studyTree), table, in.taxa, sel.chosen.kept, sel.placed);
    if (!problem.empty())
        return problem;
    sel.reason = sel.placed.reason;
    const auto dropZeroCounts = [&]() {
        const std::vector<bool> counted = featuresWithCounts(table, sel.chosen.kept);
        for (size_t f = 0; f < sel.reason.size(); f++)
            if (sel.reason[f] == Reason::Kept && !counted[f])
                sel.reason[f] = Reason::ZeroCounts;
    };
    dropZeroCounts();
    problem = applyMinCount(options, table, sel.reason, sel.chosen);
    if (!problem.empty())
        return problem;
    dropZeroCounts();

    sel.classNames = sortedClasses(sel.chosen.classes);
    if (sel.classNames.empty())
        return "no sample of " + options.table + " has a class in column " +
               quote(options.column) + " of " + options.metadata + " (do the sample IDs match?)";
    if (sel.classNames.size() == 1)
        return "the " + plural(sel.chosen.kept.size(), "sample") + " of " + options.table +
               " with a class in column " + quote(options.column) + " of " + options.metadata +
               " are all in class " + quote(sel.classNames[0]) + "; Orvane needs at least two classes";
    for (const std::string &name : sel.chosen.classes)
        sel.classOfSample.push_back(static_cast<int>(
            std::lower_bound(sel.classNames.begin(), sel.classNames.end(), name) -
            sel.classNames.begin()));
    for (size_t f = 0; f < table.features.size(); f++)
        if (sel.reason[f] == Reason::Kept)
            sel.tableFeature.emplace(table.features[f], f);
    sel.treeName = options.tree == "taxonomy" ? "the taxonomy" : options.tree;
    if (sel.tableFeature.empty())
        return std::count(sel.reason.begin(), sel.reason.end(), Reason::ZeroCounts) == 0
                   ? "no feature ID of " + options.table + " is a tip of " + sel.treeName
                   : "every feature shared by " + options.table + " and " + sel.treeName +
                         " has zero counts in the kept samples";
    if (sel.tableFeature.size() == 1)
        return "only one feature of " + options.table + " (" +
               quote(sel.tableFeature.begin()->first) + ") is on " + sel.treeName +
               " with counts in the kept samples; Orvane needs at least two";
    return "";
}

// The data folder's columns and rows: the tree pruned to the kept features,
// the table feature of each column and the kept samples' counts.
struct StudyLayout {
    StudyTree pruned;
    std::vector<size_t> columns;  // the table feature of each column
    std::unordered_map<std::string, int> columnOf;  // by feature ID
    SampleRows rows;
    std::vector<std::string> sampleIds;
};

// Columns follow the tips of the pruned tree, its children ordered by the
// smallest feature ID below them: the same whatever the inputs' orders.
void orderColumns(const Selection &sel, StudyLayout &layout)
{
    layout.pruned = pruneTree(sel.placed.tree, [&](const vessik::Node *leaf) {
        return sel.tableFeature.count(leaf->longname) != 0;
    });
    std::unordered_map<const vessik::Node *, std::string> tipKey;
    for (int i = 0; i < layout.pruned.tree->nnodes; i++)
        if (layout.pruned.tree->nodes[i]->isLeaf())
            tipKey.emplace(layout.pruned.tree->nodes[i], layout.pruned.tree->nodes[i]->longname);
    for (const vessik::Node *tip : orderChildren(layout.pruned, tipKey)) {
        layout.columnOf.emplace(tip->longname, static_cast<int>(layout.columns.size()));
        layout.columns.push_back(sel.tableFeature.at(tip->longname));
    }
}

std::string layOutStudy(const PrepareOptions &options, const CountTable &table,
                        const Selection &sel, StudyLayout &layout)
{
    orderColumns(sel, layout);
    std::vector<int> columnOfFeature(table.features.size(), -1);
    for (size_t c = 0; c < layout.columns.size(); c++)
        columnOfFeature[layout.columns[c]] = static_cast<int>(c);
    layout.rows = keptRows(table, sel.chosen.kept, columnOfFeature, layout.columns.size());
    for (size_t s : sel.chosen.kept)
        layout.sampleIds.push_back(table.samples[s]);
    std::string problem = checkSampleSums(layout.rows, layout.sampleIds,
                                          "the features kept on " + sel.treeName);
    if (!problem.empty())
        return options.table + ": " + problem;
    // The sizes Orvane checks when it reads the folder, with its messages.
    const long long nClasses = static_cast<long long>(sel.classNames.size());
    if (!fits(static_cast<long long>(layout.sampleIds.size()), nClasses))
        return options.metadata + ": " +
               tooLarge(layout.sampleIds.size(), "samples", nClasses, "classes");
    if (!fits(nClasses, static_cast<long long>(layout.columns.size())))
        return options.metadata + ": " +
               tooLarge(nClasses, "classes", layout.columns.size(), "features");
    int nInternal = 0;
    for (int n = 0; n < layout.pruned.tree->nnodes; n++)
        nInternal += layout.pruned.tree->nodes[n] != nullptr && !layout.pruned.tree->nodes[n]->isLeaf();
    if (!fits(nInternal, nClasses))
        return options.tree + ": " + tooLarge(nInternal, "internal nodes", nClasses, "classes");
    return "";
}

// The name files' contents of a study run.
struct StudyNames {
    FeatureNames features;
    SampleNames samples;
    ClassNames classes;
    std::vector<std::string> groupOfSample;  // with -group
    size_t noGroup = 0;  // kept samples with a missing group value
};

std::string nameStudy(const PrepareOptions &options, const StudyInputs &in,
                      const Selection &sel, const StudyLayout &layout, StudyNames &names)
{
    names.features.hasTaxonomy =
        !options.taxonomy.empty() || !in.table.taxonomy.empty() || options.graft;
    names.features.hasGrafted = options.graft;
    for (size_t f : layout.columns) {
        names.features.ids.push_back(in.table.features[f]);
        if (names.features.hasTaxonomy)
            names.features.taxonomy.push_back(in.taxa[f]);
        if (options.graft)
            names.features.grafted.push_back(sel.placed.grafted[f]);
    }
    names.samples.ids = layout.sampleIds;
    names.samples.hasClasses = true;
    names.samples.classes = sel.chosen.classes;
    names.classes.names = sel.classNames;
    if (!options.group.empty()) {
        std::unordered_map<std::string, std::string> groupOf;
        for (size_t r = 0; r < in.groups.samples.size(); r++)
            groupOf.emplace(in.groups.samples[r], in.groups.values[r]);
        // A missing group value is no group: the sample stays, in a group of
        // its own, written with an empty group in groups.tsv.
        const MissingValues missing(options);
        for (const std::string &id : layout.sampleIds) {
            const std::string &value = groupOf.at(id);
            names.noGroup += missing(value) ? 1 : 0;
            names.groupOfSample.push_back(missing(value) ? "" : value);
        }
    }
    // Every feature and taxonomy of the table, kept or not, goes into a name file.
    for (const std::string &check : {checkNames(in.table.features, "feature ID"),
                                     checkNames(in.taxa, "taxonomy"),
                                     checkNames(names.samples.ids, "sample ID"),
                                     checkNames(sel.classNames, "class"),
                                     checkNames(names.groupOfSample, "group")})
        if (!check.empty())
            return check;
    return "";
}

size_t graftedColumns(const Selection &sel, const StudyLayout &layout)
{
    size_t nGrafted = 0;
    for (size_t f : layout.columns)
        nGrafted += sel.placed.grafted[f] ? 1 : 0;
    return nGrafted;
}

// The note of a study run: what was kept and left out, and the share of the
// counts kept; `warning` gets the warning when too little was kept.
std::string studyNote(const PrepareOptions &options, const StudyInputs &in, const Selection &sel,
                      const StudyLayout &layout, const ReadShares &shares, size_t noGroup,
                      std::string &warning)
{
    const CountTable &table = in.table;
    const size_t nGrafted = graftedColumns(sel, layout);
    std::ostringstream text;
    text << "kept " << sel.chosen.kept.size() << " of " << table.samples.size()
         << " samples of the table (" << sel.chosen.notInSheet << " not in the metadata, "
         << sel.chosen.noClass << " with no " << options.column;
    if (!options.minCount.empty())
        text << ", " << sel.chosen.fewCounts << " with kept counts below " << options.minCount;
    text << ") in " << plural(sel.classNames.size(), "class") << " ("
         << classSizes(sel.classNames, sel.classOfSample) << "), and " << layout.columns.size()
         << " of " << table.features.size() << " features ("
         << droppedCounts(options, sel.reason, nGrafted, shares.grafted) << "); ";
    if (options.tree == "taxonomy")
        text << "built the tree from their taxonomy";
    else
        text << "pruned " << sel.placed.tips - (layout.columns.size() - nGrafted) << " of "
             << sel.placed.tips << " tips from the tree";
    for (const std::string &line :
         {missingClassNote(options.column, sel.chosen.noClassIds, sel.chosen.noClassValues),
          in.metadata.headerNote})
        if (!line.empty())
            text << '\n' << line;
    text << "\nthe kept features hold " << shareText(shares.overall)
         << " of the kept samples' counts (median sample " << shareText(shares.median)
         << ", lowest " << shareText(shares.lowest) << " in sample " << quote(shares.lowestId) << ")";
    if (noGroup > 0)
        text << "\n" << plural(noGroup, "kept sample") << " with no " << options.group
             << " (-group): each is a group of its own";
    warning = shares.overall < 0.9 || shares.lowest < 0.5
                  ? shareWarning(options, shares.overall, shares.lowest, shares.lowestId)
                  : "";
    return text.str();
}

// "%.17g": a sum of counts written so that it reads back as the same double.
std::string countText(double count)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", count);
    return text;
}

std::string shortShare(double share)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", share);
    return text;
}

// prepare_note.tsv: the note's facts as "key<TAB>value" lines, for programs
// (Orvane-report's summary and methods paragraph) to read. Options appear
// only when given; the features left out are counted by the reasons the
// run could give, as the note counts them.
std::string noteTable(const PrepareOptions &options, const StudyInputs &in, const Selection &sel,
                      const StudyLayout &layout, const ReadShares &shares)
{
    const size_t nGrafted = graftedColumns(sel, layout);
    std::ostringstream out;
    out << "key\tvalue\ntable\t" << oneField(options.table) << "\nmetadata\t"
        << oneField(options.metadata) << "\ncolumn\t" << oneField(options.column) << "\ntree\t"
        << oneField(options.tree) << '\n';
    const std::pair<const char *, const std::string *> given[] = {
        {"taxonomy", &options.taxonomy}, {"group", &options.group}, {"min_count", &options.minCount}};
    for (const auto &[key, value] : given)
        if (!value->empty())
            out << key << '\t' << oneField(*value) << '\n';
    if (options.missingGiven)
        out << "missing\t" << oneField(options.missing) << '\n';
    out << "tree_source\t"
        << (options.tree == "taxonomy" ? "taxonomy" : nGrafted > 0 ? "grafted" : "given") << '\n';
    out << "samples_in_table\t" << in.table.samples.size() << "\nsamples_kept\t"
        << sel.chosen.kept.size() << "\nsamples_not_in_metadata\t" << sel.chosen.notInSheet
        << "\nsamples_without_class\t" << sel.chosen.noClass << '\n';
    if (!options.minCount.empty())
        out << "samples_below_min_count\t" << sel.chosen.fewCounts << '\n';
    out << "classes\t" << sel.classNames.size() << "\nfeatures_in_table\t"
        << in.table.features.size() << "\nfeatures_kept\t" << layout.columns.size() << '\n';
    for (Reason why : droppedReasons(options))
        out << "features_" << reasonKey(why) << '\t'
            << std::count(sel.reason.begin(), sel.reason.end(), why) << '\n';
    if (options.graft)
        out << "features_grafted\t" << nGrafted << '\n';
    if (options.tree != "taxonomy")
        out << "tree_tips\t" << sel.placed.tips << "\ntree_tips_pruned\t"
            << sel.placed.tips - (layout.columns.size() - nGrafted) << '\n';
    out << "reads\t" << countText(shares.all) << "\nreads_kept\t" << countText(shares.kept)
        << "\nreads_kept_share\t" << shortShare(shares.overall) << "\nmedian_sample_share\t"
        << shortShare(shares.median) << "\nlowest_sample_share\t" << shortShare(shares.lowest)
        << "\nlowest_sample\t" << shares.lowestId << '\n';
    if (options.graft)
        out << "reads_grafted_share\t" << shortShare(shares.grafted) << '\n';
    return out.str();
}

std::string writeStudyFolder(const PrepareOptions &options, const StudyInputs &in,
                             const Selection &sel, const StudyLayout &layout,
                             const StudyNames &names, const std::string &note)
{
    std::vector<OutputFile> files = {
        {"samples.txt", [&](std::ostream &out) { writeSampleTable(out, layout.rows); }},
        {"labels.txt",
         [&](std::ostream &out) { writeLabels(out, sel.classNames, sel.classOfSample); }},
        {"tree.tre",
         [&](std::ostream &out) {
             writeOrvaneTree(out, *layout.pruned.tree, [&](const vessik::Node *leaf) {
                 return std::to_string(layout.columnOf.at(leaf->longname));
             });
         }},
        {"features.tsv", [&](std::ostream &out) { writeFeatureNames(out, names.features); }},
        {"samples.tsv", [&](std::ostream &out) { writeSampleNames(out, names.samples); }},
        {"classes.tsv", [&](std::ostream &out) { writeClassNames(out, names.classes); }},
        {"dropped.tsv",
         [&](std::ostream &out) { writeDropped(out, in.table, sel.chosen.kept, sel.reason, in.taxa); }},
        {"nodes.tsv",
         [&](std::ostream &out) {
             writeNodeLabels(out, NodeLabels{internalLabels(*layout.pruned.tree)});
         }},
    };
    files.push_back({"prepare_note.tsv", [&](std::ostream &out) { out << note; }});
    if (!options.group.empty())
        files.push_back({"groups.tsv", [&](std::ostream &out) {
                             out << "line\tgroup\n";
                             for (size_t i = 0; i < names.groupOfSample.size(); i++)
                                 out << i + 1 << '\t' << names.groupOfSample[i] << '\n';
                         }});
    return writeFolderAtomically(options.out, files);
}

// A study run: with `study`, what the folder would hold goes there and nothing
// is written; without, the folder options.out is written.
std::string runStudy(const PrepareOptions &options, Study *study, std::string &note,
                     std::string &warning)
{
    StudyInputs in;
    Selection sel;
    StudyLayout layout;
    StudyNames names;
    std::string problem = readStudyInputs(options, in);
    if (problem.empty())
        problem = selectStudy(options, in, sel);
    if (problem.empty())
        problem = layOutStudy(options, in.table, sel, layout);
    if (problem.empty())
        problem = nameStudy(options, in, sel, layout, names);
    if (!problem.empty())
        return problem;
    std::string warningText;
    const ReadShares shares = readShares(in.table, sel.chosen.kept, sel.reason, sel.placed.grafted);
    const std::string noteText =
        studyNote(options, in, sel, layout, shares, names.noGroup, warningText);
    if (study != nullptr) {
        study->rows = std::move(layout.rows);
        study->classOfSample = sel.classOfSample;
        study->samples = names.samples;
        study->classes = names.classes;
        study->features = names.features;
        study->tree = std::move(layout.pruned);
        study->note = noteText;
        study->warning = warningText;
        study->groups = names.groupOfSample;
    } else {
        problem = writeStudyFolder(options, in, sel, layout, names,
                                   noteTable(options, in, sel, layout, shares));
        if (!problem.empty())
            return problem;
    }
    note = noteText;
    warning = warningText;
    return "";
}

} // namespace

std::string readStudy(const PrepareOptions &options, Study &study)
{
    study = Study();
    std::string note, warning;
    return runStudy(options, &study, note, warning);
}

std::string prepareStudy(const PrepareOptions &options, std::string &note, std::string &warning)
{
    return runStudy(options, nullptr, note, warning);
}

// ---- Orvane-prepare -table -like DIR -o NEWDIR ---------------------------------

std::string prepareLike(const PrepareOptions &options, std::string &note)
{
    const std::string dir = withoutTrailingSlashes(options.like);
    FeatureNames features;
    std::string problem = readFeatureNames(dir + "/features.tsv", features);
    if (!problem.empty())
        return problem;
    // The folder's own samples, when it names them, help tell the table's orientation.
    SampleNames known;
    std::unordered_set<std::string> knownSamples;
    if (readSampleNames(dir + "/samples.tsv", known).empty())
        knownSamples = idSet(known.ids);
    const std::unordered_set<std::string> featureIds = idSet(features.ids);
    CountTable table;
    OrientationHints hints;
    hints.forced = forcedOrientation(options);
    hints.sampleIds = &knownSamples;
    hints.featureIds = &featureIds;
    problem = readCountTable(options.table, hints, table);
    if (!problem.empty())
        return problem;

    std::unordered_map<std::string, size_t> tableColumn;
    for (size_t f = 0; f < table.features.size(); f++)
        tableColumn.emplace(table.features[f], f);
    std::vector<long long> source;  // the table's feature for each column of DIR, or -1
    size_t missing = 0;
    for (const std::string &id : features.ids) {
        const auto found = tableColumn.find(id);
        source.push_back(found == tableColumn.end() ? -1 : static_cast<long long>(found->second));
        missing += found == tableColumn.end() ? 1 : 0;
    }
    const size_t ignored = table.features.size() - (features.ids.size() - missing);

    std::vector<int> columnOfFeature(table.features.size(), -1);
    for (size_t c = 0; c < source.size(); c++)
        if (source[c] >= 0)
            columnOfFeature[static_cast<size_t>(source[c])] = static_cast<int>(c);
    std::vector<size_t> everySample(table.samples.size());
    for (size_t s = 0; s < everySample.size(); s++)
        everySample[s] = s;
    const SampleRows rows = keptRows(table, everySample, columnOfFeature, features.ids.size());
    problem = checkSampleSums(rows, table.samples, "the features of " + dir);
    if (!problem.empty())
        return options.table + ": " + problem;
    SampleNames samples;
    samples.ids = table.samples;
    problem = checkNames(samples.ids, "sample ID");
    if (!problem.empty())
        return problem;

    problem = writeFolderAtomically(
        options.out,
        {{"samples.txt", [&](std::ostream &out) { writeSampleTable(out, rows); }},
         {"samples.tsv", [&](std::ostream &out) { writeSampleNames(out, samples); }},
         // The columns' IDs, for Orvane-report to check the columns are DIR's.
         {"features.tsv", [&](std::ostream &out) { writeFeatureNames(out, features); }}});
    if (!problem.empty())
        return problem;
    std::ostringstream text;
    text << "wrote " << plural(table.samples.size(), "sample") << " in the "
         << features.ids.size() << " feature columns of " << dir << " ("
         << missing << " not in the table, counted 0); ignored " << ignored << " of "
         << table.features.size() << " features of the table that " << dir << " lacks";
    note = text.str();
    return "";
}
