// Sample table and labels file read leniently for any list of lines:
// counting, reading and row scaling. (The programs read them through
// SampleTable.h, which checks them in the same pass.)
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "model/Logistic.h"
#include "model/TextReader.h"

namespace {

// The lines a sample index list keeps, for lookups in logarithmic time.
class Selection {
public:
    explicit Selection(std::vector<int> samples) : lines(std::move(samples))
    {
        std::sort(lines.begin(), lines.end());
    }
    // An empty list keeps every line.
    bool keeps(int line) const
    {
        return lines.empty() || std::binary_search(lines.begin(), lines.end(), line);
    }

private:
    std::vector<int> lines;
};

// Array sizes come from file contents; a negative count allocates nothing.
int atLeastZero(int n)
{
    return n > 0 ? n : 0;
}

} // namespace

int GetN(std::string fileName)
{
    std::ifstream in(fileName);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (!line.empty())
            n++;
    return n;
}

int GetM(std::string fileName)
{
    std::ifstream in(fileName);
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line);
    std::string field;
    int count = 0;
    while (fields >> field)
        count++;
    return count - 1;
}

int GetC(std::string fileName)
{
    std::ifstream in(fileName);
    std::string line;
    int c = 0;
    while (std::getline(in, line))
        if (!line.empty() && line[0] == '>')
            c++;
    return c;
}

Data::Data()
    : NLines(0), classes(nullptr), rowStart(nullptr), cols(nullptr), values(nullptr), Y(nullptr),
      N(0), M(0), C(0)
{
}

void freeData(Data &set)
{
    delete[] set.classes;
    delete[] set.rowStart;
    delete[] set.cols;
    delete[] set.values;
    delete[] set.Y;
    set = Data();
}

Data::Data(std::string samplePath, std::vector<int> samples) : Data()
{
    N = samples.empty() ? GetN(samplePath) : (int)samples.size();
    M = GetM(samplePath);
    GetData(samplePath, samples);
    normalize();
}

Data::Data(std::string samplePath, std::string labelsPath, std::vector<int> samples) : Data()
{
    N = samples.empty() ? GetN(samplePath) : (int)samples.size();
    M = GetM(samplePath);
    C = GetC(labelsPath);
    GetData(samplePath, samples);
    getClasses(labelsPath, samples);
    normalize();
}

void Data::GetData(std::string samplePath, std::vector<int> samples)
{
    const long long cells = atLeastZero(N) * static_cast<long long>(atLeastZero(M));
    // The nonzero cells in cell order; cells that no value reaches (short or
    // unreadable lines) stay 0.
    std::vector<long long> cellOf;
    std::vector<float> valueOf;

    const Selection selection(std::move(samples));
    TextReader in(samplePath);
    int L = 0;
    long long k = 0;
    // Each line is read as formatted extraction from that line alone would
    // read it: values up to the first field that is not a number.
    while (in.peek() != -1) {
        float value = 0.0f;
        // The values of all selected lines form one stream filling the rows
        // cell by cell; the line's leading field is the sample's own label, not used.
        if (selection.keeps(L) && extractFloat(in, value)) {
            while (extractFloat(in, value)) {
                if (k < cells && value != 0) {
                    cellOf.push_back(k);
                    valueOf.push_back(value);
                }
                k++;
            }
        }
        finishLine(in);
        L++;
    }
    NLines = L;

    rowStart = new std::int64_t[atLeastZero(N) + 1]();
    cols = new std::int32_t[cellOf.size()];
    values = new float[cellOf.size()];
    for (std::size_t e = 0; e < cellOf.size(); e++) {
        rowStart[cellOf[e] / M + 1]++;
        cols[e] = static_cast<std::int32_t>(cellOf[e] % M);
        values[e] = valueOf[e];
    }
    for (int i = 0; i < N; i++)
        rowStart[i + 1] += rowStart[i];
}

void Data::getClasses(std::string labelsPath, std::vector<int> samples)
{
    // Class of every sample-table line; 0 for a line named by no class.
    int *lineClass = new int[atLeastZero(NLines)]();
    classes = new int[atLeastZero(N)]();

    TextReader in(labelsPath);
    int c = 0;
    while (in.peek() != -1) {
        const bool opensClass = in.peek() == '>';
        finishLine(in);
        if (!opensClass)
            continue;
        // The next line, whatever it holds, is the member list.
        c++;
        int s = 0;
        while (extractInt(in, s))
            if (s >= 1 && s <= NLines)
                lineClass[s - 1] = c;
        finishLine(in);
    }

    const Selection selection(std::move(samples));
    int k = 0;
    for (int i = 0; i < NLines; i++) {
        if (!selection.keeps(i))
            continue;
        if (k < N)
            classes[k] = lineClass[i];
        k++;
    }
    delete[] lineClass;

    Y = new int[atLeastZero(N * C)]();
    for (int i = 0; i < N; i++)
        if (classes[i] >= 1 && classes[i] <= C)
            Y[i * C + classes[i] - 1] = 1;
}

namespace {

// How many entries row i keeps once divided by `sum`: every column when the
// sum is 0 or NaN (0 / 0 is NaN), otherwise the values that stay nonzero.
std::int64_t scaledLength(const Data &d, int i, float sum)
{
    if (sum == 0 || std::isnan(sum))
        return d.M;
    std::int64_t kept = 0;
    for (std::int64_t e = d.rowStart[i]; e < d.rowStart[i + 1]; e++)
        kept += d.values[e] / sum != 0;
    return kept;
}

} // namespace

void Data::normalize()
{
    if (M < 1 || N < 1)
        return;
    // Each row's sum over its nonzero entries, in column order, is the sum
    // over all its cells: adding +-0 to a sum from +0 changes no bit.
    std::vector<float> sums(N, 0.0f);
    std::int64_t total = 0;
    bool grows = false;
    for (int i = 0; i < N; i++) {
        for (std::int64_t e = rowStart[i]; e < rowStart[i + 1]; e++)
            sums[i] += values[e];
        const std::int64_t length = scaledLength(*this, i, sums[i]);
        grows = grows || length > rowStart[i + 1] - rowStart[i];
        total += length;
    }
    // Rows only shrink unless a sum is 0, so the entries are rewritten in place.
    std::int32_t *newCols = grows ? new std::int32_t[total] : cols;
    float *newValues = grows ? new float[total] : values;
    std::int64_t out = 0;
    std::int64_t from = rowStart[0];
    for (int i = 0; i < N; i++) {
        const std::int64_t to = rowStart[i + 1];
        rowStart[i] = out;
        if (sums[i] == 0 || std::isnan(sums[i])) {
            std::int64_t e = from;
            for (int j = 0; j < M; j++, out++) {
                const float x = e < to && cols[e] == j ? values[e++] : 0.0f;
                newCols[out] = j;
                newValues[out] = x / sums[i];
            }
        } else {
            for (std::int64_t e = from; e < to; e++) {
                const float x = values[e] / sums[i];
                if (x != 0) {
                    newCols[out] = cols[e];
                    newValues[out++] = x;
                }
            }
        }
        from = to;
    }
    rowStart[N] = out;
    if (grows) {
        delete[] cols;
        delete[] values;
        cols = newCols;
        values = newValues;
    }
}
