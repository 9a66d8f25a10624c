// The work behind Orvane-prepare. A study run matches the feature table's
// samples to the metadata sheet's classes and its features to the tree's tips,
// keeps the samples with a class and the features on the tree with a count in
// a kept sample (both in the table's order), numbers the classes in byte order
// of their names, prunes the tree to the kept features, and writes samples.txt,
// labels.txt and tree.tre with the name files. A -like run puts a table's
// samples in the feature columns of an existing data folder, counting 0 for a
// feature the table lacks. Both write their folder through a temporary folder
// beside it, renamed into place once every file is complete.
#include "io/prepare.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/outputs.h"
#include "io/metadata.h"
#include "io/names.h"
#include "io/study_tree.h"
#include "io/table.h"
#include "io/taxonomy.h"
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

std::string checkOutputFolder(const std::string &dir)
{
    struct stat info;
    if (stat(dir.c_str(), &info) != 0)
        return errno == ENOENT ? "" : dir + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return dir + ": exists and is not a folder";
    DIR *folder = opendir(dir.c_str());
    if (folder == nullptr)
        return dir + ": cannot read the folder (" + std::strerror(errno) + ")";
    bool empty = true;
    while (const dirent *entry = readdir(folder))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            empty = false;
    closedir(folder);
    return empty ? "" : dir + ": the folder exists and is not empty; remove it or name a new one";
}

namespace {

void removeFolder(const std::string &path, const std::vector<std::string> &files)
{
    for (const std::string &file : files)
        std::remove((path + "/" + file).c_str());
    rmdir(path.c_str());
}

struct FolderFile {
    std::string name;
    std::function<void(std::ostream &)> write;
};

// Writes every file into a temporary folder beside `dir`, then renames that
// folder to `dir`: the folder appears complete or not at all.
std::string writeFolder(const std::string &dir, const std::vector<FolderFile> &files)
{
    const size_t start = dir.rfind('/') + 1;  // 0 when there is no slash
    std::string temp = dir.substr(0, start) + "." + dir.substr(start) + ".tmp-XXXXXX";
    if (mkdtemp(&temp[0]) == nullptr)
        return dir + ": cannot create a folder beside it (" + std::strerror(errno) + ")";
    std::vector<std::string> written;
    for (const FolderFile &file : files) {
        const std::string problem = writeFileAtomically(temp + "/" + file.name, file.write);
        if (!problem.empty()) {
            removeFolder(temp, written);
            // Name the file as the user will look for it, not in the temporary folder.
            return dir + problem.substr(temp.size());
        }
        written.push_back(file.name);
    }
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temp.c_str(), 0777 & ~mask);
    const std::string problem = checkOutputFolder(dir);
    if (!problem.empty() || std::rename(temp.c_str(), dir.c_str()) != 0) {
        const std::string message =
            problem.empty() ? dir + ": cannot create the folder (" + std::strerror(errno) + ")"
                            : problem;
        removeFolder(temp, written);
        return message;
    }
    return "";
}

// ---- the files of a data folder ----------------------------------------------

void writeSampleTable(std::ostream &out, const SampleRows &rows)
{
    for (size_t i = 0; i < rows.size(); i++) {
        out << i + 1;
        for (float count : rows[i]) {
            if (count == 0.0f)
                out << "\t0";  // most counts of a study, written without formatting
            else
                out << '\t' << floatText(count);
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

// Orvane normalises each sample by the sum of its counts, taken in float in
// column order: that sum must be a positive finite number.
std::string checkSampleSums(const SampleRows &rows, const std::vector<std::string> &ids,
                            const std::string &where)
{
    for (size_t i = 0; i < rows.size(); i++) {
        float sum = 0.0f;
        for (float count : rows[i])
            sum += count;
        if (sum == 0.0f)
            return "sample " + quote(ids[i]) + " has no counts in " + where;
        if (!std::isfinite(sum))
            return "the counts of sample " + quote(ids[i]) + " sum beyond single precision";
    }
    if (!rows.empty() &&
        static_cast<long long>(rows.size()) * static_cast<long long>(rows[0].size()) > INT_MAX)
        return "too many values for Orvane (" + std::to_string(rows.size()) + " samples of " +
               std::to_string(rows[0].size()) + " features)";
    return "";
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

// The table's samples that the sheet gives a class, in the table's order.
struct SampleChoice {
    std::vector<size_t> kept;          // indexes into the table's samples
    std::vector<std::string> classes;  // the class name of each kept sample
    size_t notInSheet = 0;
    size_t noClass = 0;
};

SampleChoice chooseSamples(const CountTable &table, const MetadataColumn &metadata)
{
    std::unordered_map<std::string, size_t> sheetRow;
    for (size_t r = 0; r < metadata.samples.size(); r++)
        sheetRow.emplace(metadata.samples[r], r);
    SampleChoice choice;
    for (size_t s = 0; s < table.samples.size(); s++) {
        const auto row = sheetRow.find(table.samples[s]);
        if (row == sheetRow.end()) {
            choice.notInSheet++;
        } else if (metadata.values[row->second].empty()) {
            choice.noClass++;
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

// The table's features on the tree with a count in a kept sample, in the table's order.
struct FeatureChoice {
    std::vector<size_t> kept;  // indexes into the table's features
    size_t offTree = 0;
    size_t allZero = 0;
};

FeatureChoice chooseFeatures(const CountTable &table, const std::unordered_set<std::string> &tips,
                             const std::vector<size_t> &samples)
{
    FeatureChoice choice;
    for (size_t f = 0; f < table.features.size(); f++) {
        if (tips.count(table.features[f]) == 0) {
            choice.offTree++;
            continue;
        }
        bool counted = false;
        for (size_t s : samples)
            counted = counted || table.count(s, f) != 0.0f;
        if (counted)
            choice.kept.push_back(f);
        else
            choice.allZero++;
    }
    return choice;
}

// The names of the kept features, with the taxonomy sheet's taxa when one was
// given, else the table's taxonomy column when it has one.
FeatureNames namesOf(const CountTable &table, const std::vector<size_t> &kept,
                     const std::unordered_map<std::string, std::string> *taxonomy)
{
    FeatureNames names;
    names.hasTaxonomy = taxonomy != nullptr || !table.taxonomy.empty();
    for (size_t f : kept) {
        names.ids.push_back(table.features[f]);
        if (taxonomy != nullptr) {
            const auto taxon = taxonomy->find(table.features[f]);
            names.taxonomy.push_back(taxon == taxonomy->end() ? "" : taxon->second);
        } else if (names.hasTaxonomy) {
            names.taxonomy.push_back(table.taxonomy[f]);
        }
    }
    return names;
}

} // namespace

std::string readStudy(const PrepareOptions &options, Study &study)
{
    study = Study();
    MetadataColumn metadata;
    std::string problem = readMetadataColumn(options.metadata, options.column, metadata);
    if (!problem.empty())
        return problem;
    StudyTree tree;
    problem = readStudyTree(options.tree, tree);
    if (!problem.empty())
        return problem;
    std::unordered_set<std::string> tips;
    for (int i = 0; i < tree.tree->nnodes; i++)
        if (tree.tree->nodes[i]->isLeaf())
            tips.insert(tree.tree->nodes[i]->longname);
    std::unordered_map<std::string, std::string> taxonomy;
    if (!options.taxonomy.empty()) {
        problem = readTaxonomy(options.taxonomy, taxonomy);
        if (!problem.empty())
            return problem;
    }
    const std::unordered_set<std::string> metadataIds = idSet(metadata.samples);
    CountTable table;
    OrientationHints hints;
    hints.forced = forcedOrientation(options);
    hints.sampleIds = &metadataIds;
    hints.featureIds = &tips;
    problem = readCountTable(options.table, hints, table);
    if (!problem.empty())
        return problem;

    const SampleChoice chosen = chooseSamples(table, metadata);
    const std::vector<std::string> classNames = sortedClasses(chosen.classes);
    if (classNames.empty())
        return "no sample of " + options.table + " has a class in column " +
               quote(options.column) + " of " + options.metadata + " (do the sample IDs match?)";
    if (classNames.size() == 1)
        return "the " + plural(chosen.kept.size(), "sample") + " of " + options.table +
               " with a class in column " + quote(options.column) + " of " + options.metadata +
               " are all in class " + quote(classNames[0]) + "; Orvane needs at least two classes";
    std::vector<int> classOfSample;
    for (const std::string &name : chosen.classes)
        classOfSample.push_back(static_cast<int>(
            std::lower_bound(classNames.begin(), classNames.end(), name) - classNames.begin()));
    const FeatureChoice features = chooseFeatures(table, tips, chosen.kept);
    if (features.kept.empty())
        return features.allZero == 0
                   ? "no feature ID of " + options.table + " is a tip of " + options.tree
                   : "every feature shared by " + options.table + " and " + options.tree +
                         " has zero counts in the kept samples";
    std::unordered_map<std::string, int> columnOf;
    for (size_t c = 0; c < features.kept.size(); c++)
        columnOf.emplace(table.features[features.kept[c]], static_cast<int>(c));

    SampleRows rows(chosen.kept.size(), std::vector<float>(features.kept.size()));
    std::vector<std::string> sampleIds;
    for (size_t i = 0; i < chosen.kept.size(); i++) {
        sampleIds.push_back(table.samples[chosen.kept[i]]);
        for (size_t c = 0; c < features.kept.size(); c++)
            rows[i][c] = table.count(chosen.kept[i], features.kept[c]);
    }
    problem = checkSampleSums(rows, sampleIds, "the features shared with the tree");
    if (!problem.empty())
        return options.table + ": " + problem;

    StudyTree pruned = pruneTree(
        tree, [&](const vessik::Node *leaf) { return columnOf.count(leaf->longname) != 0; });
    const size_t nTips = tips.size();

    const FeatureNames featureNames =
        namesOf(table, features.kept, options.taxonomy.empty() ? nullptr : &taxonomy);
    SampleNames samples;
    samples.ids = sampleIds;
    samples.hasClasses = true;
    samples.classes = chosen.classes;
    ClassNames classes;
    classes.names = classNames;
    for (const std::string &check : {checkNames(featureNames.ids, "feature ID"),
                                     checkNames(featureNames.taxonomy, "taxonomy"),
                                     checkNames(samples.ids, "sample ID"),
                                     checkNames(classNames, "class")})
        if (!check.empty())
            return check;

    std::ostringstream text;
    text << "kept " << chosen.kept.size() << " of " << table.samples.size()
         << " samples of the table (" << chosen.notInSheet << " not in the metadata, "
         << chosen.noClass << " with an empty " << options.column << ") in "
         << plural(classNames.size(), "class") << ", and " << features.kept.size() << " of "
         << table.features.size() << " features (" << features.offTree
         << " not on the tree, " << features.allZero
         << " with zero counts in the kept samples); pruned " << nTips - features.kept.size()
         << " of " << nTips << " tips from the tree";
    study.rows = std::move(rows);
    study.classOfSample = std::move(classOfSample);
    study.samples = std::move(samples);
    study.classes = std::move(classes);
    study.features = featureNames;
    study.tree = std::move(pruned);
    study.note = text.str();
    return "";
}

void writeNumberedTree(std::ostream &out, const Study &study)
{
    std::unordered_map<std::string, int> columnOf;
    for (size_t c = 0; c < study.features.ids.size(); c++)
        columnOf.emplace(study.features.ids[c], static_cast<int>(c));
    writeOrvaneTree(out, *study.tree.tree, [&](const vessik::Node *leaf) {
        return std::to_string(columnOf.at(leaf->longname));
    });
}

std::string prepareStudy(const PrepareOptions &options, std::string &note)
{
    Study study;
    std::string problem = readStudy(options, study);
    if (!problem.empty())
        return problem;
    const std::vector<FolderFile> files = {
        {"samples.txt", [&](std::ostream &out) { writeSampleTable(out, study.rows); }},
        {"labels.txt",
         [&](std::ostream &out) { writeLabels(out, study.classes.names, study.classOfSample); }},
        {"tree.tre", [&](std::ostream &out) { writeNumberedTree(out, study); }},
        {"features.tsv", [&](std::ostream &out) { writeFeatureNames(out, study.features); }},
        {"samples.tsv", [&](std::ostream &out) { writeSampleNames(out, study.samples); }},
        {"classes.tsv", [&](std::ostream &out) { writeClassNames(out, study.classes); }},
    };
    problem = writeFolder(options.out, files);
    if (!problem.empty())
        return problem;
    note = study.note;
    return "";
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

    SampleRows rows(table.samples.size(), std::vector<float>(features.ids.size(), 0.0f));
    for (size_t s = 0; s < table.samples.size(); s++)
        for (size_t c = 0; c < source.size(); c++)
            if (source[c] >= 0)
                rows[s][c] = table.count(s, static_cast<size_t>(source[c]));
    problem = checkSampleSums(rows, table.samples, "the features of " + dir);
    if (!problem.empty())
        return options.table + ": " + problem;
    SampleNames samples;
    samples.ids = table.samples;
    problem = checkNames(samples.ids, "sample ID");
    if (!problem.empty())
        return problem;

    problem = writeFolder(
        options.out,
        {{"samples.txt", [&](std::ostream &out) { writeSampleTable(out, rows); }},
         {"samples.tsv", [&](std::ostream &out) { writeSampleNames(out, samples); }}});
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
