// Readers and writers of the name files of a data folder (see names.h).
#include "io/names.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <unordered_set>

namespace {

std::string at(const std::string &path, long long line)
{
    return path + ":" + std::to_string(line) + ": ";
}

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// One name file: a header line out of `headers` (its index goes to `header`),
// then lines numbered first, first + 1, ... in their first field. `takeLine`
// gets the fields after the number and returns a problem or "".
template <class TakeLine>
std::string readNumberedFile(const std::string &path, const std::vector<std::string> &headers,
                             int &header, long long first, const std::string &itemName, TakeLine takeLine)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return path + ": cannot open the file";
    std::string line;
    long long lineNumber = 0;
    long long expected = first;
    header = -1;
    while (std::getline(in, line)) {
        lineNumber++;
        if (!line.empty() && line.back() == '\r')  // files saved with Windows line ends
            line.pop_back();
        if (lineNumber == 1) {
            for (std::size_t h = 0; h < headers.size(); h++)
                if (line == headers[h])
                    header = static_cast<int>(h);
            if (header < 0) {
                std::string wanted;
                for (const auto &h : headers)
                    wanted += (wanted.empty() ? "'" : " or '") + h + "'";
                std::replace(wanted.begin(), wanted.end(), '\t', ' ');
                return at(path, 1) + "the header is not " + wanted + " (tab-separated)";
            }
            continue;
        }
        if (line.empty())
            return at(path, lineNumber) + "empty line";
        std::vector<std::string> fields = splitTabs(line);
        const std::size_t wantedFields = splitTabs(headers[header]).size();
        if (fields.size() != wantedFields)
            return at(path, lineNumber) + "holds " + std::to_string(fields.size()) + " tab-separated fields, the header " +
                   std::to_string(wantedFields);
        if (fields[0] != std::to_string(expected))
            return at(path, lineNumber) + "numbers the " + itemName + " '" + fields[0] + "' where " +
                   std::to_string(expected) + " comes next";
        fields.erase(fields.begin());
        const std::string problem = takeLine(fields);
        if (!problem.empty())
            return at(path, lineNumber) + problem;
        expected++;
    }
    if (in.bad())
        return path + ": cannot read the file";
    if (lineNumber == 0)
        return path + ": empty file (no header line)";
    if (expected == first)
        return path + ": no " + itemName + " after the header";
    return "";
}

// Checks that `name` is a new, non-empty name of its kind.
std::string takeUnique(const std::string &name, const std::string &kind, std::unordered_set<std::string> &seen)
{
    if (name.empty())
        return "empty " + kind;
    if (!seen.insert(name).second)
        return kind + " '" + name + "' appears twice";
    return "";
}

} // namespace

std::string checkName(const std::string &name)
{
    if (name.find('\t') != std::string::npos)
        return "holds a tab";
    if (name.find('\n') != std::string::npos || name.find('\r') != std::string::npos)
        return "holds a line break";
    return "";
}

std::string readFeatureNames(const std::string &path, FeatureNames &features)
{
    features = FeatureNames();
    std::unordered_set<std::string> seen;
    int header = -1;
    const std::string problem = readNumberedFile(
        path,
        {"column\tfeature-id", "column\tfeature-id\ttaxonomy",
         "column\tfeature-id\ttaxonomy\tgrafted"},
        header, 0, "column", [&](const std::vector<std::string> &fields) {
            const std::string bad = takeUnique(fields[0], "feature ID", seen);
            if (!bad.empty())
                return bad;
            features.ids.push_back(fields[0]);
            if (fields.size() > 1)
                features.taxonomy.push_back(fields[1]);
            if (fields.size() > 2) {
                if (fields[2] != "yes" && fields[2] != "no")
                    return "grafted '" + fields[2] + "' is neither 'yes' nor 'no'";
                features.grafted.push_back(fields[2] == "yes");
            }
            return std::string();
        });
    features.hasTaxonomy = header >= 1;
    features.hasGrafted = header == 2;
    return problem;
}

std::string readSampleNames(const std::string &path, SampleNames &samples)
{
    samples = SampleNames();
    std::unordered_set<std::string> seen;
    int header = -1;
    const std::string problem = readNumberedFile(
        path, {"line\tsample-id", "line\tsample-id\tclass"}, header, 1, "line",
        [&](const std::vector<std::string> &fields) {
            const std::string bad = takeUnique(fields[0], "sample ID", seen);
            if (!bad.empty())
                return bad;
            samples.ids.push_back(fields[0]);
            if (fields.size() > 1) {
                if (fields[1].empty())
                    return std::string("empty class name");
                samples.classes.push_back(fields[1]);
            }
            return std::string();
        });
    samples.hasClasses = header == 1;
    return problem;
}

std::string readClassNames(const std::string &path, ClassNames &classes)
{
    classes = ClassNames();
    std::unordered_set<std::string> seen;
    int header = -1;
    return readNumberedFile(path, {"class\tname"}, header, 1, "class", [&](const std::vector<std::string> &fields) {
        const std::string bad = takeUnique(fields[0], "class name", seen);
        if (!bad.empty())
            return bad;
        classes.names.push_back(fields[0]);
        return std::string();
    });
}

std::string readNodeLabels(const std::string &path, NodeLabels &nodes)
{
    nodes = NodeLabels();
    int header = -1;
    const std::string problem =
        readNumberedFile(path, {"node\tlabel"}, header, 1, "node", [&](const std::vector<std::string> &fields) {
            nodes.labels.push_back(fields[0]);
            return std::string();
        });
    // A tree of one tip has no internal node.
    return problem == path + ": no node after the header" ? "" : problem;
}

void writeFeatureNames(std::ostream &out, const FeatureNames &features)
{
    out << (features.hasGrafted    ? "column\tfeature-id\ttaxonomy\tgrafted\n"
            : features.hasTaxonomy ? "column\tfeature-id\ttaxonomy\n"
                                   : "column\tfeature-id\n");
    for (std::size_t c = 0; c < features.ids.size(); c++) {
        out << c << '\t' << features.ids[c];
        if (features.hasTaxonomy)
            out << '\t' << features.taxonomy[c];
        if (features.hasGrafted)
            out << '\t' << (features.grafted[c] ? "yes" : "no");
        out << '\n';
    }
}

void writeSampleNames(std::ostream &out, const SampleNames &samples)
{
    out << (samples.hasClasses ? "line\tsample-id\tclass\n" : "line\tsample-id\n");
    for (std::size_t i = 0; i < samples.ids.size(); i++) {
        out << i + 1 << '\t' << samples.ids[i];
        if (samples.hasClasses)
            out << '\t' << samples.classes[i];
        out << '\n';
    }
}

void writeClassNames(std::ostream &out, const ClassNames &classes)
{
    out << "class\tname\n";
    for (std::size_t k = 0; k < classes.names.size(); k++)
        out << k + 1 << '\t' << classes.names[k] << '\n';
}

void writeNodeLabels(std::ostream &out, const NodeLabels &nodes)
{
    out << "node\tlabel\n";
    for (std::size_t v = 0; v < nodes.labels.size(); v++)
        out << v + 1 << '\t' << nodes.labels[v] << '\n';
}
