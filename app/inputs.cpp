#include "app/inputs.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "tree/Tree.h"
#include "tree/newick.h"

namespace {

// "path:line: ", the start of a message about one line of a file.
std::string at(const std::string &path, int line)
{
    return path + ":" + std::to_string(line) + ": ";
}

std::string quoted(const std::string &text)
{
    return "'" + text + "'";
}

// The white-space-separated fields of a line, as formatted extraction sees them.
std::vector<std::string> fieldsOf(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> fields;
    std::string field;
    while (in >> field)
        fields.push_back(field);
    return fields;
}

// True when formatted extraction of a float consumes the whole field and
// gives a finite value. The data readers extract floats the same way, so a
// field that passes here is read by them as exactly one value.
bool readsAsFloat(const std::string &field, float &value)
{
    std::istringstream in(field);
    in >> value;
    return !in.fail() && in.eof() && std::isfinite(value);
}

// True when formatted extraction of an int consumes the whole field.
bool readsAsInt(const std::string &field, int &value)
{
    std::istringstream in(field);
    in >> value;
    return !in.fail() && in.eof();
}

// A command-line number: decimal digits, sign, point and exponent only (no
// hexadecimal, "inf" or "nan"), converted as atof does and narrowed to float.
bool readsAsDecimal(const std::string &text, float &value)
{
    if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char *end = nullptr;
    const double wide = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size())
        return false;
    value = static_cast<float>(wide);
    return std::isfinite(value);
}

// Checks one non-empty line of the sample table. The first sample fixes the
// number of features; every later one must match it.
std::string checkSampleLine(const std::string &line, bool first, int &nFeatures)
{
    const std::vector<std::string> fields = fieldsOf(line);
    if (fields.empty())
        return "line holds only white space";
    float value = 0.0f;
    if (!readsAsFloat(fields[0], value))
        return "leading field " + quoted(fields[0]) + " is not a number (a header line?)";
    const int nValues = static_cast<int>(fields.size()) - 1;
    if (first) {
        if (nValues == 0)
            return "no feature column: the line holds its leading field only";
        nFeatures = nValues;
    } else if (nValues != nFeatures) {
        return "holds " + std::to_string(nValues) + " values, the first sample " +
               std::to_string(nFeatures);
    }
    // Summed as the data set's row normalisation sums: in float, in column order.
    float sum = 0.0f;
    for (int j = 1; j <= nValues; j++) {
        if (!readsAsFloat(fields[j], value))
            return "value " + quoted(fields[j]) + " is not a finite number";
        if (value < 0.0f)
            return "value " + quoted(fields[j]) + " is negative";
        sum += value;
    }
    if (sum == 0.0f)
        return "values sum to 0, so the sample has no relative abundances";
    if (!std::isfinite(sum))
        return "values sum beyond the range of single precision";
    return "";
}

// Checks the leaves under `node` in file order: each label must be a whole
// number naming a feature column, and no feature may be named twice.
std::string checkLeaves(const vessik::Node *node, int nFeatures, std::vector<bool> &named)
{
    if (node->isLeaf()) {
        int feature = -1;
        if (!readsAsInt(node->longname, feature) || feature < 0 || feature >= nFeatures)
            return "leaf " + quoted(node->longname) + " does not name a feature column from 0 to " +
                   std::to_string(nFeatures - 1);
        if (named[feature])
            return "two leaves name feature " + std::to_string(feature);
        named[feature] = true;
        return "";
    }
    for (int c = 0; c < node->nchildren; c++) {
        const std::string problem = checkLeaves(node->children[c], nFeatures, named);
        if (!problem.empty())
            return problem;
    }
    return "";
}

} // namespace

std::string checkSampleTable(const std::string &path, int &nSamples, int &nFeatures)
{
    nSamples = 0;
    nFeatures = 0;
    std::ifstream in(path);
    if (!in)
        return path + ": cannot open the file";
    // Samples are numbered by line and the labels file names them by those
    // numbers, so an empty line may only follow the last sample.
    int lineNumber = 0;
    int pendingEmptyLine = 0;
    std::string line;
    while (std::getline(in, line)) {
        lineNumber++;
        if (line.empty()) {
            if (pendingEmptyLine == 0)
                pendingEmptyLine = lineNumber;
            continue;
        }
        if (pendingEmptyLine != 0)
            return at(path, pendingEmptyLine) + "empty line before the last sample";
        const std::string problem = checkSampleLine(line, nSamples == 0, nFeatures);
        if (!problem.empty())
            return at(path, lineNumber) + problem;
        nSamples++;
    }
    if (nSamples == 0)
        return path + ": no sample";
    // The model sizes its matrices as products in int.
    if (static_cast<long long>(nSamples) * nFeatures > INT_MAX)
        return path + ": too many values (" + std::to_string(nSamples) + " samples of " +
               std::to_string(nFeatures) + " features)";
    return "";
}

std::string checkLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                        int &nClasses)
{
    classOfSample.assign(nSamples > 0 ? nSamples : 0, 0);
    nClasses = 0;
    std::ifstream in(path);
    if (!in)
        return path + ": cannot open the file";
    int lineNumber = 0;
    std::string line;
    while (std::getline(in, line)) {
        lineNumber++;
        if (line.empty() || line[0] != '>')
            continue;
        nClasses++;
        // The one line after a ">" line is the member list, whatever it holds.
        std::string members;
        if (std::getline(in, members))
            lineNumber++;
        if (!members.empty() && members[0] == '>')
            return at(path, lineNumber) + "class " + std::to_string(nClasses) +
                   " has no member line (a class without members needs an empty line)";
        for (const std::string &field : fieldsOf(members)) {
            int sample = 0;
            if (!readsAsInt(field, sample))
                return at(path, lineNumber) + "member " + quoted(field) + " is not a whole number";
            if (sample < 1 || sample > nSamples)
                return at(path, lineNumber) + "member " + quoted(field) +
                       " is not a sample number from 1 to " + std::to_string(nSamples);
            int &assigned = classOfSample[sample - 1];
            if (assigned != 0 && assigned != nClasses)
                return at(path, lineNumber) + "sample " + std::to_string(sample) + " is in class " +
                       std::to_string(assigned) + " and class " + std::to_string(nClasses);
            assigned = nClasses;
        }
    }
    if (nClasses == 0)
        return path + ": no class (a class begins with a line starting with '>')";
    for (int i = 0; i < nSamples; i++)
        if (classOfSample[i] == 0)
            return path + ": sample " + std::to_string(i + 1) + " is in no class";
    return "";
}

std::string checkTree(const std::string &path, int nFeatures)
{
    const std::unique_ptr<vessik::Tree> tree(vessik::readNewickTree(path.c_str()));
    if (!tree)
        return path + ": not a readable tree in the Newick format";
    std::vector<bool> named(nFeatures > 0 ? nFeatures : 0, false);
    const std::string problem = checkLeaves(tree->root, nFeatures, named);
    return problem.empty() ? "" : path + ": " + problem;
}

std::string parseWeight(const std::string &text, float &w)
{
    if (!readsAsDecimal(text, w))
        return "-w value " + quoted(text) + " is not a number";
    if (!(w >= 0.0f && w <= 1.0f) && w != -1.0f && w != -2.0f)
        return "-w value " + quoted(text) + " is outside 0 to 1 and is not -1 or -2";
    return "";
}

std::string parseLambda(const std::string &text, float &lambda)
{
    if (!readsAsDecimal(text, lambda))
        return "-lambda value " + quoted(text) + " is not a finite number";
    if (lambda < 0.0f)
        return "-lambda value " + quoted(text) + " is negative";
    return "";
}

std::string checkModelFile(const std::string &path, int nFeatures)
{
    std::ifstream in(path);
    if (!in)
        return path + ": cannot open the file";
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = fieldsOf(line);
    int nClasses = 0;
    int nModelFeatures = 0;
    if (header.size() != 2 || !readsAsInt(header[0], nClasses) ||
        !readsAsInt(header[1], nModelFeatures) || nClasses < 1 || nModelFeatures < 1)
        return at(path, 1) + "first line is not a class count and a feature count (both at least 1)";
    if (nModelFeatures != nFeatures)
        return path + ": the model has " + std::to_string(nModelFeatures) +
               " features, the sample table " + std::to_string(nFeatures);
    int lineNumber = 1;
    for (int k = 0; k < nClasses; k++) {
        if (!std::getline(in, line))
            return path + ": " + std::to_string(k) + " coefficient lines, the first line declares " +
                   std::to_string(nClasses);
        lineNumber++;
        const std::vector<std::string> values = fieldsOf(line);
        if (static_cast<int>(values.size()) != nModelFeatures)
            return at(path, lineNumber) + std::to_string(values.size()) +
                   " coefficients, the first line declares " + std::to_string(nModelFeatures);
        float value = 0.0f;
        for (const std::string &field : values)
            if (!readsAsFloat(field, value))
                return at(path, lineNumber) + "coefficient " + quoted(field) +
                       " is not a finite number";
    }
    // Empty lines may follow the last class; anything else is a surplus line.
    while (std::getline(in, line)) {
        lineNumber++;
        if (!line.empty())
            return at(path, lineNumber) + "more coefficient lines than the " +
                   std::to_string(nClasses) + " the first line declares";
    }
    return "";
}

int fail(const std::string &message)
{
    std::cerr << "error: " << message << std::endl;
    return 1;
}
