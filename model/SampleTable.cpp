// The sample table and labels file readers: one pass over each file checks
// every line and keeps the values the model uses, the table's nonzero values
// only. Lines are read field by field, so a line of any length takes
// constant memory beyond the values kept.
#include "model/SampleTable.h"

#include <climits>
#include <cmath>
#include <algorithm>
#include <cstring>

#include "model/TextReader.h"

namespace {

bool fieldEnds(TextReader &in)
{
    return isFieldSpace(in.peek()) || atLineEnd(in);
}

// Consumes the rest of a field that need not be shown.
void skipField(TextReader &in)
{
    for (int c = in.peek(); c != -1 && c != '\n' && !isFieldSpace(c); c = in.peek())
        in.advance();
}

// "1 class", "2 classes": `noun` is the plural.
std::string counted(long long n, const std::string &noun)
{
    if (n != 1)
        return std::to_string(n) + " " + noun;
    const std::size_t cut = noun.size() > 4 && noun.compare(noun.size() - 4, 4, "sses") == 0 ? 2 : 1;
    return std::to_string(n) + " " + noun.substr(0, noun.size() - cut);
}

std::string quoted(const FieldText &text)
{
    return "'" + text.shown() + "'";
}

std::string readFailure(const std::string &path, int error)
{
    return path + ": cannot read the file (" + std::strerror(error) + ")";
}

// Reads one non-empty line of the sample table, from its first byte to its
// end (the newline is left). The first sample fixes the number of features;
// every later one must match it. Returns the problem of the line, if any.
// A line's value count is compared before its values are judged, so a value
// problem is only reported once the whole line is read.
std::string readSampleLine(TextReader &in, SampleTable &table, const TableLimits &limits)
{
    const bool first = table.nSamples == 0;
    skipFieldSpace(in);
    if (atLineEnd(in))
        return "line holds only white space";
    FieldText text;
    float value = 0.0f;
    if (!extractFloat(in, value, &text) || !fieldEnds(in)) {
        text.addRest(in);
        return "leading field " + quoted(text) + " is not a number (a header line?)";
    }

    std::string problem;
    long long nValues = 0;
    // Summed as the data set's row normalisation sums: in float, in column order.
    float sum = 0.0f;
    while (true) {
        skipFieldSpace(in);
        if (atLineEnd(in))
            break;
        nValues++;
        if (!problem.empty() || (!first && nValues > table.nFeatures)) {
            skipField(in);
            continue;
        }
        if (first && nValues > limits.features)
            return tooLarge(1, "samples", nValues, "features");
        // A field "0", most of a study's fields, reads as +0 and is not kept.
        if (in.peek() == '0' && (isFieldSpace(in.peekSecond()) || in.peekSecond() == '\n')) {
            in.advance();
            continue;
        }
        text.clear();
        if (!extractFloat(in, value, &text) || !fieldEnds(in)) {
            text.addRest(in);
            problem = "value " + quoted(text) + " is not a finite number";
            continue;
        }
        if (value < 0.0f) {
            problem = "value " + quoted(text) + " is negative";
            continue;
        }
        if (value == 0.0f)
            continue;
        if (table.nonzeros() >= limits.nonzeros)
            return tableSizeProblem(table.nSamples + 1, nValues, table.nonzeros() + 1, limits);
        sum += value;
        table.add(static_cast<std::int32_t>(nValues - 1), value);
    }
    if (first) {
        if (nValues == 0)
            return "no feature column: the line holds its leading field only";
        table.nFeatures = static_cast<int>(nValues);
    } else if (nValues != table.nFeatures) {
        return "holds " + std::to_string(nValues) + " values, the first sample " +
               std::to_string(table.nFeatures);
    }
    if (!problem.empty())
        return problem;
    if (sum == 0.0f)
        return "values sum to 0, so the sample has no relative abundances";
    if (!std::isfinite(sum))
        return "values sum beyond the range of single precision";
    return "";
}

} // namespace

bool fits(long long a, long long b)
{
    return a <= kMostCells && b <= kMostCells && a * b <= kMostCells;
}

std::string tooLarge(long long a, const std::string &aWhat, long long b, const std::string &bWhat)
{
    return counted(a, aWhat) + " x " + counted(b, bWhat) + " is more than this program can hold";
}

std::string tableSizeProblem(long long nSamples, long long nFeatures, long long nNonzeros,
                             const TableLimits &limits)
{
    if (nSamples > limits.samples)
        return counted(nSamples, "samples") + " are more than this program can hold";
    if (nFeatures > limits.features)
        return tooLarge(1, "samples", nFeatures, "features");
    if (nNonzeros > limits.nonzeros)
        return counted(nNonzeros, "nonzero values") + " are more than this program can hold";
    return "";
}

std::string fileLine(const std::string &path, long long line)
{
    return path + ":" + std::to_string(line) + ": ";
}

std::string readSampleTable(const std::string &path, SampleTable &table, const TableLimits &limits)
{
    table = SampleTable();
    TextReader in(path);
    if (!in.opened())
        return path + ": cannot open the file";
    // Samples are numbered by line and the labels file names them by those
    // numbers, so an empty line may only follow the last sample.
    long long lineNumber = 0;
    long long pendingEmptyLine = 0;
    while (in.peek() != -1) {
        lineNumber++;
        if (in.peek() == '\n') {
            in.advance();
            if (pendingEmptyLine == 0)
                pendingEmptyLine = lineNumber;
            continue;
        }
        if (pendingEmptyLine != 0)
            return fileLine(path, pendingEmptyLine) + "empty line before the last sample";
        if (table.nSamples >= limits.samples)
            return fileLine(path, lineNumber) +
                   tableSizeProblem(table.nSamples + 1LL, table.nFeatures, 0, limits);
        const std::string problem = readSampleLine(in, table, limits);
        if (!problem.empty())
            return fileLine(path, lineNumber) + problem;
        table.nSamples++;
        table.rowStart.push_back(table.rowStart.back());
        finishLine(in);
    }
    if (in.readError() != 0)
        return readFailure(path, in.readError());
    if (table.nSamples == 0)
        return path + ": no sample";
    if (lineNumber > INT_MAX)
        return path + ": more than " + std::to_string(INT_MAX) + " lines";
    table.nLines = static_cast<int>(lineNumber);
    return "";
}

std::string readLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                       int &nClasses)
{
    classOfSample.assign(nSamples > 0 ? nSamples : 0, 0);
    nClasses = 0;
    TextReader in(path);
    if (!in.opened())
        return path + ": cannot open the file";
    long long classes = 0;
    long long lineNumber = 0;
    while (in.peek() != -1) {
        lineNumber++;
        if (in.peek() != '>') {
            finishLine(in);
            continue;
        }
        classes++;
        finishLine(in);
        // The one line after a ">" line is the member list, whatever it holds.
        if (in.peek() == -1)
            break;
        lineNumber++;
        if (in.peek() == '>')
            return fileLine(path, lineNumber) + "class " + std::to_string(classes) +
                   " has no member line (a class without members needs an empty line)";
        while (true) {
            skipFieldSpace(in);
            if (atLineEnd(in))
                break;
            FieldText text;
            int sample = 0;
            if (!extractInt(in, sample, &text) || !fieldEnds(in)) {
                text.addRest(in);
                return fileLine(path, lineNumber) + "member " + quoted(text) +
                       " is not a whole number";
            }
            if (sample < 1 || sample > nSamples)
                return fileLine(path, lineNumber) + "member " + quoted(text) +
                       " is not a sample number from 1 to " + std::to_string(nSamples);
            int &assigned = classOfSample[sample - 1];
            if (assigned != 0 && assigned != classes)
                return fileLine(path, lineNumber) + "sample " + std::to_string(sample) +
                       " is in class " + std::to_string(assigned) + " and class " +
                       std::to_string(classes);
            // Within int: no class past kMostCells can get here (see below).
            assigned = static_cast<int>(classes);
        }
        finishLine(in);
        // Every sample is in some class, so there cannot be more useful classes
        // than this; the count itself is checked once the file is read.
        if (classes > kMostCells)
            return path + ": " + tooLarge(nSamples, "samples", classes, "classes");
    }
    if (in.readError() != 0)
        return readFailure(path, in.readError());
    if (classes == 0)
        return path + ": no class (a class begins with a line starting with '>')";
    if (!fits(nSamples, classes))
        return path + ": " + tooLarge(nSamples, "samples", classes, "classes");
    nClasses = static_cast<int>(classes);
    for (int i = 0; i < nSamples; i++)
        if (classOfSample[i] == 0)
            return path + ": sample " + std::to_string(i + 1) + " is in no class";
    return "";
}

Data dataOf(SampleTable &table, const std::vector<int> *classOfSample, int nClasses)
{
    Data data;
    data.NLines = table.nLines;
    data.N = table.nSamples;
    data.M = table.nFeatures;
    const std::int64_t count = table.nonzeros();
    data.rowStart = new std::int64_t[data.N + 1];
    std::copy(table.rowStart.begin(), table.rowStart.begin() + data.N + 1, data.rowStart);
    data.cols = new std::int32_t[count];
    data.values = new float[count];
    // Block by block, each freed once copied: the table and the data set
    // together hold little more than the values once.
    for (std::size_t b = 0; b < table.colBlocks.size(); b++) {
        const std::int64_t from = static_cast<std::int64_t>(b) * SampleTable::kBlock;
        const std::int64_t n = std::min<std::int64_t>(SampleTable::kBlock, count - from);
        std::copy(table.colBlocks[b].get(), table.colBlocks[b].get() + n, data.cols + from);
        std::copy(table.valueBlocks[b].get(), table.valueBlocks[b].get() + n, data.values + from);
        table.colBlocks[b].reset();
        table.valueBlocks[b].reset();
    }
    table = SampleTable();
    if (classOfSample != nullptr) {
        data.C = nClasses;
        data.classes = new int[data.N];
        std::copy(classOfSample->begin(), classOfSample->begin() + data.N, data.classes);
        data.Y = new int[static_cast<std::size_t>(data.N) * data.C]();
        for (int i = 0; i < data.N; i++)
            data.Y[i * data.C + data.classes[i] - 1] = 1;
    }
    data.normalize();
    return data;
}
