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

// A comment line starts with '#', but "#SampleID" opens a header.
bool isComment(const std::string &line)
{
    return !line.empty() && line[0] == '#' && !isSampleIdHeader(splitFields(line, '\t')[0]);
}

std::string listColumns(const std::vector<std::string> &header)
{
    std::string list;
    for (size_t c = 1; c < header.size(); c++)
        list += (c > 1 ? ", " : "") + quote(header[c]);
    return list.empty() ? "none" : list;
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
    while (i < lines.size() && (trimSpaces(lines[i]).empty() || isComment(lines[i])))
        i++;
    if (i == lines.size())
        return path + ": no header line";
    const std::vector<std::string> header = splitFields(lines[i], '\t');
    const int headerLine = static_cast<int>(i) + 1;
    if (!isSampleIdHeader(header[0]))
        return fileLine(path, headerLine) + "the first column is " + quote(header[0]) +
               ", not sample IDs (sample-id, sampleid, id, #SampleID or sample_name); the sheet "
               "must be tab-separated";
    size_t wanted = 0;
    for (size_t c = 1; c < header.size(); c++) {
        if (header[c] != column)
            continue;
        // Two columns of one name: which holds the classes cannot be told.
        if (wanted != 0)
            return fileLine(path, headerLine) + "two columns are named " + quote(column) +
                   " (columns " + std::to_string(wanted + 1) + " and " + std::to_string(c + 1) +
                   "); rename one";
        wanted = c;
    }
    if (wanted == 0)
        return path + ": no column " + quote(column) + "; the columns are " + listColumns(header);
    std::unordered_set<std::string> seen;
    for (i++; i < lines.size(); i++) {
        const int line = static_cast<int>(i) + 1;
        if (trimSpaces(lines[i]).empty() || isComment(lines[i]))
            continue;
        const std::vector<std::string> fields = splitFields(lines[i], '\t');
        if (fields.size() != header.size())
            return fileLine(path, line) + "holds " + std::to_string(fields.size()) +
                   " fields, the header " + std::to_string(header.size());
        if (fields[0].empty())
            return fileLine(path, line) + "empty sample ID";
        if (!seen.insert(fields[0]).second)
            return fileLine(path, line) + "duplicate sample ID " + quote(fields[0]);
        result.samples.push_back(fields[0]);
        result.values.push_back(fields[wanted]);
    }
    return "";
}
