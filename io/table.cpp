#include "io/table.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <unordered_map>

#include "io/text.h"

float CountTable::count(size_t sample, size_t feature) const
{
    const std::vector<std::pair<int, float>> &row = rows[sample];
    const auto at = std::lower_bound(
        row.begin(), row.end(), static_cast<int>(feature),
        [](const std::pair<int, float> &entry, int f) { return entry.first < f; });
    return at != row.end() && at->first == static_cast<int>(feature) ? at->second : 0.0f;
}

namespace {

// The first field that is not a count, kept until the table's orientation
// says whose count it is: the errors of the file's layout come first.
struct BadCount {
    bool found = false;
    size_t row = 0;
    size_t column = 0;
    std::string field;
};

// A table as the text file holds it, before its orientation is known: the
// header, and each line's ID with its nonzero counts, read line by line.
struct TextTable {
    int headerLine = 0;
    std::vector<std::string> header;
    char separator = '\t';
    std::vector<std::string> rowIds;
    std::vector<int> rowLines;  // counted from 1
    std::vector<std::vector<std::pair<int, float>>> rowCounts;  // (column from 0, count)
    // A last column named "taxonomy" (BIOM's --header-key taxonomy) holds text
    // when the lines are features: its fields wait as text until that is known.
    bool lastMayBeTaxonomy = false;
    std::vector<std::string> lastFields;
    BadCount bad;
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

bool readCount(const std::string &field, float &count);

// The next line that holds more than spaces; false at the end.
bool nextFilledLine(TextStream &in, std::string &line, int &lineNumber)
{
    while (in.line(line)) {
        lineNumber++;
        if (!trimSpaces(line).empty())
            return true;
    }
    return false;
}

std::string readHeader(const std::string &path, TextStream &in, TextTable &table, int &lineNumber)
{
    std::string line;
    bool found = nextFilledLine(in, line, lineNumber);
    if (found && startsWith(line, "# Constructed from"))
        found = nextFilledLine(in, line, lineNumber);
    if (!found)
        return path + ": no header line (the file holds no table)";
    table.separator = line.find('\t') != std::string::npos ? '\t'
                      : line.find(',') != std::string::npos ? ','
                                                            : '\t';
    table.headerLine = lineNumber;
    table.header = splitFields(line, table.separator);
    if (table.header.size() < 2)
        return fileLine(path, table.headerLine) +
               "the header holds one field: a table needs tab- or comma-separated columns";
    table.lastMayBeTaxonomy =
        table.header.size() > 2 && lowerCase(table.header.back()) == "taxonomy";
    return "";
}

// Keeps a line's nonzero counts; after the first field that is no count,
// only the IDs and the fields' number matter.
void readCountLine(const std::string &line, TextTable &table)
{
    const size_t row = table.rowIds.size() - 1;
    table.rowCounts.emplace_back();
    const std::vector<std::string> fields = splitFields(line, table.separator);
    if (table.lastMayBeTaxonomy)
        table.lastFields.push_back(fields.back());
    if (table.bad.found)
        return;
    const size_t nCounts = fields.size() - 1 - (table.lastMayBeTaxonomy ? 1 : 0);
    std::vector<std::pair<int, float>> &counts = table.rowCounts.back();
    for (size_t c = 0; c < nCounts; c++) {
        float count = 0.0f;
        if (!readCount(fields[c + 1], count)) {
            table.bad = BadCount{true, row, c, fields[c + 1]};
            return;
        }
        if (count != 0.0f)
            counts.emplace_back(static_cast<int>(c), count);
    }
    counts.shrink_to_fit();
}

std::string readTextTable(const std::string &path, TextStream &in, TextTable &table)
{
    int lineNumber = 0;
    std::string problem = readHeader(path, in, table, lineNumber);
    if (!problem.empty())
        return problem;
    std::string line;
    while (nextFilledLine(in, line, lineNumber)) {
        const size_t nFields = countFields(line, table.separator);
        if (nFields != table.header.size())
            return fileLine(path, lineNumber) + "holds " + std::to_string(nFields) +
                   " fields, the header " + std::to_string(table.header.size());
        table.rowIds.push_back(firstField(line, table.separator));
        table.rowLines.push_back(lineNumber);
        readCountLine(line, table);
    }
    if (!in.problem.empty())
        return in.problem;
    if (table.rowIds.empty())
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
    const std::vector<std::string> &rowIds = table.rowIds;
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

// With features as lines, each sample's counts are gathered from all of them.
std::vector<std::vector<std::pair<int, float>>>
transposed(std::vector<std::vector<std::pair<int, float>>> &lineCounts, size_t nColumns)
{
    std::vector<size_t> sizes(nColumns, 0);
    for (const auto &counts : lineCounts)
        for (const auto &entry : counts)
            sizes[entry.first]++;
    std::vector<std::vector<std::pair<int, float>>> rows(nColumns);
    for (size_t c = 0; c < nColumns; c++)
        rows[c].reserve(sizes[c]);
    for (size_t r = 0; r < lineCounts.size(); r++) {
        for (const auto &entry : lineCounts[r])
            rows[entry.first].emplace_back(static_cast<int>(r), entry.second);
        std::vector<std::pair<int, float>>().swap(lineCounts[r]);
    }
    return rows;
}

// The last column's fields as counts, when it turns out not to be a taxonomy.
void readLastColumn(TextTable &text)
{
    const int last = static_cast<int>(text.header.size()) - 2;
    const size_t end = text.bad.found ? text.bad.row : text.lastFields.size();
    for (size_t r = 0; r < end; r++) {
        float count = 0.0f;
        if (!readCount(text.lastFields[r], count)) {
            text.bad = BadCount{true, r, static_cast<size_t>(last), text.lastFields[r]};
            return;
        }
        if (count != 0.0f)
            text.rowCounts[r].emplace_back(last, count);
    }
}

std::string fillCounts(const std::string &path, TextTable &text, Orientation orientation,
                       CountTable &table)
{
    const bool featureRows = orientation == Orientation::FeaturesAsRows;
    const bool taxonomyColumn = featureRows && text.lastMayBeTaxonomy;
    if (text.lastMayBeTaxonomy && !taxonomyColumn)
        readLastColumn(text);
    const size_t nColumns = text.header.size() - 1 - (taxonomyColumn ? 1 : 0);
    std::vector<std::string> columnIds(text.header.begin() + 1, text.header.begin() + 1 + nColumns);
    const std::vector<int> headerLines(columnIds.size(), text.headerLine);
    std::string problem =
        checkIds(path, columnIds, featureRows ? "sample" : "feature", headerLines);
    if (problem.empty())
        problem = checkIds(path, text.rowIds, featureRows ? "feature" : "sample", text.rowLines);
    if (!problem.empty())
        return problem;
    if (text.bad.found) {
        const std::string &column = columnIds[text.bad.column];
        const std::string &row = text.rowIds[text.bad.row];
        return fileLine(path, text.rowLines[text.bad.row]) + "count " + quote(text.bad.field) +
               " of sample " + quote(featureRows ? column : row) + " for feature " +
               quote(featureRows ? row : column) + " is not a finite number >= 0";
    }
    table.rows = featureRows ? transposed(text.rowCounts, nColumns) : std::move(text.rowCounts);
    table.samples = featureRows ? std::move(columnIds) : std::move(text.rowIds);
    table.features = featureRows ? std::move(text.rowIds) : std::move(columnIds);
    if (taxonomyColumn)
        table.taxonomy = std::move(text.lastFields);
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

// The bytes from the stream's start up to its first one that is not white
// space (or its end), without consuming them.
std::string startThroughFirstNonSpace(TextStream &in)
{
    for (size_t size = 4096;; size *= 2) {
        const std::string start = in.peek(size);
        if (start.find_first_not_of(" \t\r\n") != std::string::npos || start.size() < size)
            return start;
    }
}

// The table in the stream (decompressed), by what it starts with.
std::string readTableStream(const std::string &path, TextStream &in,
                            const OrientationHints &hints, CountTable &table)
{
    const std::string first = in.peek(4096);
    if (!in.problem.empty())
        return in.problem;
    if (first.compare(0, 8, "\x89HDF\r\n\x1a\n") == 0)
        return path + ": a gzipped HDF5 file; HDF5 files are read in place: gunzip it first";
    const std::string kind = binaryKind(first);
    if (!kind.empty())
        return path + ": looks like " + kind + ", not a feature table; " + acceptedTables;
    in.skipByteOrderMark();
    const std::string start = startThroughFirstNonSpace(in);
    const size_t at = start.find_first_not_of(" \t\r\n");
    const char opening = at == std::string::npos ? '\0' : start[at];
    if (opening == '{' || opening == '[') {
        std::string problem = readBiomJson(path, in, table);
        if (problem.empty())
            problem = checkIds(path, table.samples, "sample", {});
        if (problem.empty())
            problem = checkIds(path, table.features, "feature", {});
        return problem;
    }
    if (opening == '(')
        return path + ": looks like a Newick tree, not a feature table; " + acceptedTables;
    TextTable text;
    std::string problem = readTextTable(path, in, text);
    if (!problem.empty())  // a stream cut short may end in a short line: the cut comes first
        return in.problem.empty() ? problem : in.problem;
    Orientation orientation = Orientation::Unknown;
    problem = decideOrientation(path, text, hints, orientation);
    if (!problem.empty())
        return problem;
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
    try {
        TextStream in(path);
        return readTableStream(path, in, hints, table);
    } catch (const std::bad_alloc &) {
        table = CountTable();
        return path + ": not enough memory to read the table";
    }
}

std::string readCountTableText(const std::string &text, const std::string &name,
                               const OrientationHints &hints, CountTable &table)
{
    table = CountTable();
    TextStream in(text, name);
    return readTableStream(name, in, hints, table);
}
