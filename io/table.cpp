#include "io/table.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "io/text.h"

namespace {

// One line after the header, kept as text until its counts are read: a
// table of many zeros takes far less memory as text than as split fields.
struct TextRow {
    int line;  // counted from 1
    std::string id;
    std::string text;
};

// A table as the text file holds it, before its orientation is known.
struct TextTable {
    int headerLine = 0;
    std::vector<std::string> header;
    char separator = '\t';
    std::vector<TextRow> rows;
    bool taxonomyColumn = false;  // the last column holds a taxonomy (BIOM's --header-key taxonomy)
};

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The first field of a line, without splitting the others.
std::string firstField(const std::string &line, char separator)
{
    if (line.find('"') != std::string::npos)
        return splitFields(line, separator)[0];
    return trimSpaces(line.substr(0, line.find(separator)));
}

std::string readTextTable(const std::string &path, std::vector<std::string> &lines, TextTable &table)
{
    size_t i = 0;
    while (i < lines.size() && trimSpaces(lines[i]).empty())
        i++;
    if (i < lines.size() && startsWith(lines[i], "# Constructed from"))
        i++;
    while (i < lines.size() && trimSpaces(lines[i]).empty())
        i++;
    if (i == lines.size())
        return path + ": no header line (the file holds no table)";
    const std::string &headerText = lines[i];
    const char separator = headerText.find('\t') != std::string::npos ? '\t'
                           : headerText.find(',') != std::string::npos ? ','
                                                                      : '\t';
    table.headerLine = static_cast<int>(i) + 1;
    table.separator = separator;
    table.header = splitFields(headerText, separator);
    if (table.header.size() < 2)
        return fileLine(path, table.headerLine) +
               "the header holds one field: a table needs tab- or comma-separated columns";
    for (i++; i < lines.size(); i++) {
        if (trimSpaces(lines[i]).empty())
            continue;
        const size_t nFields = countFields(lines[i], separator);
        if (nFields != table.header.size())
            return fileLine(path, static_cast<int>(i) + 1) + "holds " + std::to_string(nFields) +
                   " fields, the header " + std::to_string(table.header.size());
        const std::string id = firstField(lines[i], separator);
        table.rows.push_back(TextRow{static_cast<int>(i) + 1, id, std::move(lines[i])});
    }
    if (table.rows.empty())
        return path + ": no line after the header";
    return "";
}

int countMembers(const std::unordered_set<std::string> *ids, const std::vector<std::string> &names)
{
    int n = 0;
    if (ids != nullptr)
        for (const std::string &name : names)
            n += ids->count(name) != 0 ? 1 : 0;
    return n;
}

// A header starting "#OTU ID" has features as rows. Otherwise the IDs along
// the header and down the first column are matched against the sample IDs
// and the feature IDs the other inputs name: the orientation is settled when
// exactly one of the two readings finds any match.
std::string decideOrientation(const std::string &path, const TextTable &table,
                              const OrientationHints &hints, Orientation &orientation)
{
    orientation = hints.forced;
    if (orientation != Orientation::Unknown)
        return "";
    if (lowerCase(table.header[0]) == "#otu id") {
        orientation = Orientation::FeaturesAsRows;
        return "";
    }
    const std::vector<std::string> columnIds(table.header.begin() + 1, table.header.end());
    std::vector<std::string> rowIds;
    for (const TextRow &row : table.rows)
        rowIds.push_back(row.id);
    const int asFeatureRows =
        countMembers(hints.sampleIds, columnIds) + countMembers(hints.featureIds, rowIds);
    const int asSampleRows =
        countMembers(hints.featureIds, columnIds) + countMembers(hints.sampleIds, rowIds);
    if (asFeatureRows > 0 && asSampleRows == 0)
        orientation = Orientation::FeaturesAsRows;
    else if (asSampleRows > 0 && asFeatureRows == 0)
        orientation = Orientation::SamplesAsRows;
    else
        return path + ": cannot tell whether the table has features or samples as rows (" +
               (asFeatureRows == 0 ? std::string("no ID matches the other inputs")
                                   : "IDs match either way") +
               "); give -orientation features (one line per feature, as BIOM exports) or "
               "-orientation samples (one line per sample)";
    return "";
}

// A count: a decimal number (no hexadecimal, inf or nan), finite and >= 0 in single precision.
bool readCount(const std::string &field, float &count)
{
    if (field.empty() || field.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char *end = nullptr;
    const double value = std::strtod(field.c_str(), &end);
    if (end != field.c_str() + field.size() || !(value >= 0.0) || value > FLT_MAX)
        return false;
    count = static_cast<float>(value) + 0.0f;  // -0 reads as 0
    return true;
}

std::string checkIds(const std::string &path, const std::vector<std::string> &ids,
                     const std::string &what, const std::vector<int> &lines)
{
    std::unordered_map<std::string, size_t> seen;
    for (size_t i = 0; i < ids.size(); i++) {
        const std::string where = lines.empty() ? path + ": " : fileLine(path, lines[i]);
        if (ids[i].empty())
            return where + "empty " + what + " ID";
        const auto inserted = seen.emplace(ids[i], i);
        if (!inserted.second)
            return where + "duplicate " + what + " ID " + quote(ids[i]);
    }
    return "";
}

std::string fillCounts(const std::string &path, TextTable &text, Orientation orientation,
                       CountTable &table)
{
    const bool featureRows = orientation == Orientation::FeaturesAsRows;
    const size_t nColumns = text.header.size() - 1 - (text.taxonomyColumn ? 1 : 0);
    std::vector<std::string> columnIds(text.header.begin() + 1, text.header.begin() + 1 + nColumns);
    std::vector<std::string> rowIds;
    std::vector<int> rowLines;
    for (const TextRow &row : text.rows) {
        rowIds.push_back(row.id);
        rowLines.push_back(row.line);
    }
    const std::vector<int> headerLines(columnIds.size(), text.headerLine);
    std::string problem =
        checkIds(path, columnIds, featureRows ? "sample" : "feature", headerLines);
    if (problem.empty())
        problem = checkIds(path, rowIds, featureRows ? "feature" : "sample", rowLines);
    if (!problem.empty())
        return problem;
    table.samples = featureRows ? columnIds : rowIds;
    table.features = featureRows ? rowIds : columnIds;
    table.counts.assign(table.samples.size() * table.features.size(), 0.0f);
    if (text.taxonomyColumn)
        table.taxonomy.assign(table.features.size(), "");
    for (size_t r = 0; r < text.rows.size(); r++) {
        TextRow &row = text.rows[r];
        const std::vector<std::string> fields = splitFields(row.text, text.separator);
        std::string().swap(row.text);
        for (size_t c = 0; c < nColumns; c++) {
            const size_t sample = featureRows ? c : r;
            const size_t feature = featureRows ? r : c;
            float &count = table.counts[sample * table.features.size() + feature];
            if (!readCount(fields[c + 1], count))
                return fileLine(path, row.line) + "count " + quote(fields[c + 1]) +
                       " of sample " + quote(table.samples[sample]) + " for feature " +
                       quote(table.features[feature]) + " is not a finite number >= 0";
        }
        if (text.taxonomyColumn)
            table.taxonomy[r] = fields.back();
    }
    return "";
}

} // namespace

bool isHdf5File(const std::string &path)
{
    static const char signature[8] = {'\x89', 'H', 'D', 'F', '\r', '\n', '\x1a', '\n'};
    std::ifstream in(path, std::ios::binary);
    char start[8] = {};
    in.read(start, sizeof start);
    return in.gcount() == 8 && std::equal(start, start + 8, signature);
}

namespace {

const char *const acceptedTables =
    "accepted are BIOM's TSV export, a table with samples as rows (tab- or comma-separated), "
    "BIOM 1.0 (JSON) and BIOM 2.1 (HDF5), each gzipped or plain";

// The table held in `bytes` (decompressed), by what it starts with.
std::string readTableBytes(const std::string &path, const std::string &bytes,
                           const OrientationHints &hints, CountTable &table)
{
    if (bytes.compare(0, 8, "\x89HDF\r\n\x1a\n") == 0)
        return path + ": a gzipped HDF5 file; HDF5 files are read in place: gunzip it first";
    const std::string kind = binaryKind(bytes);
    if (!kind.empty())
        return path + ": looks like " + kind + ", not a feature table; " + acceptedTables;
    const size_t first = bytes.find_first_not_of(" \t\r\n");
    const std::string start = first == std::string::npos ? "" : bytes.substr(first, 1);
    if (start == "{" || start == "[") {
        std::string problem = readBiomJson(path, bytes, table);
        if (problem.empty())
            problem = checkIds(path, table.samples, "sample", {});
        if (problem.empty())
            problem = checkIds(path, table.features, "feature", {});
        return problem;
    }
    if (start == "(")
        return path + ": looks like a Newick tree, not a feature table; " + acceptedTables;
    std::vector<std::string> lines;
    splitLines(bytes, lines);
    TextTable text;
    std::string problem = readTextTable(path, lines, text);
    if (!problem.empty())
        return problem;
    Orientation orientation = Orientation::Unknown;
    problem = decideOrientation(path, text, hints, orientation);
    if (!problem.empty())
        return problem;
    text.taxonomyColumn = orientation == Orientation::FeaturesAsRows && text.header.size() > 2 &&
                          lowerCase(text.header.back()) == "taxonomy";
    return fillCounts(path, text, orientation, table);
}

} // namespace

std::string readCountTable(const std::string &path, const OrientationHints &hints,
                           CountTable &table)
{
    table = CountTable();
    if (isHdf5File(path)) {
        if (!readsBiomHdf5())
            return path + ": a BIOM 2.1 (HDF5) table, and this build cannot read HDF5: rebuild "
                          "Orvane with the HDF5 library installed (Debian: libhdf5-dev), or "
                          "export the table as text with `biom convert -i " +
                   path + " -o table.tsv --to-tsv`";
        std::string problem = readBiomHdf5(path, table);
        if (problem.empty())
            problem = checkIds(path, table.samples, "sample", {});
        if (problem.empty())
            problem = checkIds(path, table.features, "feature", {});
        return problem;
    }
    std::string bytes;
    const std::string problem = readFileBytes(path, bytes);
    return problem.empty() ? readTableBytes(path, bytes, hints, table) : problem;
}

std::string readCountTableText(const std::string &text, const std::string &name,
                               const OrientationHints &hints, CountTable &table)
{
    table = CountTable();
    return readTableBytes(name, text, hints, table);
}
