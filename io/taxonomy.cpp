#include "io/taxonomy.h"

#include <vector>

#include "io/text.h"

std::string readTaxonomy(const std::string &path,
                         std::unordered_map<std::string, std::string> &taxonomy)
{
    taxonomy.clear();
    std::vector<std::string> lines;
    const std::string problem = readTextLines(path, lines);
    if (!problem.empty())
        return problem;
    for (size_t i = 0; i < lines.size(); i++) {
        const int line = static_cast<int>(i) + 1;
        if (trimSpaces(lines[i]).empty() || (lines[i][0] == '#' && i > 0))
            continue;
        const std::vector<std::string> fields = splitFields(lines[i], '\t');
        if (i == 0) {
            const std::string first = lowerCase(fields[0]);
            if (first == "feature id" || first == "featureid" || first == "otu id" ||
                first == "#otu id" || first == "#otuid")
                continue;
        }
        if (fields.size() < 2)
            return fileLine(path, line) + "holds no tab-separated taxon after the feature ID";
        if (fields[0].empty())
            return fileLine(path, line) + "empty feature ID";
        if (!taxonomy.emplace(fields[0], fields[1]).second)
            return fileLine(path, line) + "duplicate feature ID " + quote(fields[0]);
    }
    return "";
}
