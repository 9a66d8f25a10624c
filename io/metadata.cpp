#include "io/metadata.h"

#include <unordered_set>

#include "io/text.h"

namespace {

bool isSampleIdHeader(const std::string &field)
{
    const std::string name = lowerCase(field);
    return name == "sample-id" || name == "sampleid" || name == "id" || name == "#sampleid" ||
           name == "sample_name";
}

// "#SampleID" as R's read.table renames it ("X.SampleID"), or the empty
// field R's write.table puts above its row names.
bool isRSampleIdHeader(const std::string &field)
{
    return lowerCase(field) == "x.sampleid" || field.empty();
}

// A comment line starts with '#', but "#SampleID" opens a header.
bool isComment(const std::string &line)
{
    return !line.empty() && line[0] == '#' && !isSampleIdHeader(splitFields(line, '\t')[0]);
}

bool isSkipped(const std::string &line)
{
    return trimSpaces(line).empty() || isComment(line);
}

std::string listColumns(const std::vector<std::string> &header, size_t first)
{
    std::string list;
    for (size_t c = first; c < header.size(); c++)
        list += (c > first ? ", " : "") + quote(header[c]);
    return list.empty() ? "none" : list;
}

// Where a row's fields sit under the header: the row field of the sample
// ID, and how far right of its header field each column's value is.
struct Layout {
    size_t idField = 0;
    size_t shift = 0;        // a column's row field is its header field + shift
    size_t firstColumn = 1;  // the first header field that names a value column
    std::string note;        // how the header was read, when not as usual
};

const char *const acceptedHeaders =
    "sample-id, sampleid, id, #SampleID or sample_name; X.SampleID or an empty field as R "
    "writes them; or a header one field short of the rows, above R's row names";

// How the header lays out the rows, from the first row's fields. A row one
// field longer than a usual header but ending in an empty field has a
// stray tab at its end, not a row name at its start.
std::string readLayout(const std::string &path, int headerLine,
                       const std::vector<std::string> &header,
                       const std::vector<std::string> &firstRow, Layout &layout)
{
    const std::string first = header[0];
    if (firstRow.size() == header.size() + 1 &&
        (!isSampleIdHeader(first) || !firstRow.back().empty())) {
        layout.shift = 1;
        if (isSampleIdHeader(first) || lowerCase(first) == "x.sampleid") {
            layout.idField = 1;
            layout.note = "read " + path + " as R writes a table: its header is one field short of "
                          "the rows, whose first field (R's row names) was skipped; the sample IDs "
                          "are in column " + quote(first);
        } else {
            layout.firstColumn = 0;
            layout.note = "read " + path + " as R writes a table: its header is one field short of "
                          "the rows, whose first field (R's row names) was taken as the sample IDs";
        }
        return "";
    }
    if (isSampleIdHeader(first))
        return "";
    if (isRSampleIdHeader(first)) {
        layout.note = "read " + path + " as R writes a table: its first column, headed " +
                      quote(first) + ", was taken as the sample IDs";
        return "";
    }
    return fileLine(path, headerLine) + "the first column is " + quote(first) +
           ", not sample IDs (" + acceptedHeaders + "); the sheet must be tab-separated";
}

// The header field of `column`, or a message when it has none or two.
std::string findColumn(const std::string &path, int headerLine,
                       const std::vector<std::string> &header, const Layout &layout,
                       const std::string &column, size_t &wanted)
{
    bool found = false;
    for (size_t c = layout.firstColumn; c < header.size(); c++) {
        if (header[c] != column)
            continue;
        // Two columns of one name: which holds the classes cannot be told.
        if (found)
            return fileLine(path, headerLine) + "two columns are named " + quote(column) +
                   " (columns " + std::to_string(wanted + 1) + " and " + std::to_string(c + 1) +
                   "); rename one";
        wanted = c;
        found = true;
    }
    if (!found)
        return path + ": no column " + quote(column) + "; the columns are " +
               listColumns(header, layout.firstColumn);
    return "";
}

} // namespace

std::string readMetadataColumn(const std::string &path, const std::string &column,
                               MetadataColumn &result)
{
    result = MetadataColumn();
    std::vector<std::string> lines;
    const std::string problem = readTextLines(path, lines);
    if (!problem.empty())
        return problem;
    size_t i = 0;
    while (i < lines.size() && isSkipped(lines[i]))
        i++;
    if (i == lines.size())
        return path + ": no header line";
    const std::vector<std::string> header = splitFields(lines[i], '\t');
    const int headerLine = static_cast<int>(i) + 1;
    size_t firstRow = i + 1;
    while (firstRow < lines.size() && isSkipped(lines[firstRow]))
        firstRow++;
    const std::vector<std::string> firstFields =
        firstRow < lines.size() ? splitFields(lines[firstRow], '\t') : header;
    Layout layout;
    std::string message = readLayout(path, headerLine, header, firstFields, layout);
    size_t wanted = 0;
    if (message.empty())
        message = findColumn(path, headerLine, header, layout, column, wanted);
    if (!message.empty())
        return message;
    std::unordered_set<std::string> seen;
    for (i++; i < lines.size(); i++) {
        const int line = static_cast<int>(i) + 1;
        if (isSkipped(lines[i]))
            continue;
        const std::vector<std::string> fields = splitFields(lines[i], '\t');
        if (fields.size() != header.size() + layout.shift)
            return fileLine(path, line) + "holds " + std::to_string(fields.size()) +
                   " fields, the header " + std::to_string(header.size()) +
                   (layout.shift == 0 ? ""
                                      : " and the first row " + std::to_string(firstFields.size()) +
                                            " (read as a header above R's row names)");
        const std::string &id = fields[layout.idField];
        if (id.empty())
            return fileLine(path, line) + "empty sample ID";
        if (!seen.insert(id).second)
            return fileLine(path, line) + "duplicate sample ID " + quote(id);
        result.samples.push_back(id);
        result.values.push_back(fields[wanted + layout.shift]);
    }
    result.headerNote = layout.note;
    return "";
}
