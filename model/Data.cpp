// Sample table and labels file read leniently for any list of lines:
// counting, reading and row scaling. (The programs read them through
// SampleTable.h, which checks them in the same pass.)
#include <algorithm>
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

Data::Data() : NLines(0), classes(nullptr), X(nullptr), Y(nullptr), N(0), M(0), C(0) {}

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
    const int cells = atLeastZero(N * M);
    // Cells that no value reaches (short or unreadable lines) stay 0.
    X = new float[cells]();

    const Selection selection(std::move(samples));
    TextReader in(samplePath);
    int L = 0;
    int k = 0;
    // Each line is read as formatted extraction from that line alone would
    // read it: values up to the first field that is not a number.
    while (in.peek() != -1) {
        float value = 0.0f;
        // The values of all selected lines form one stream filling X cell by
        // cell; the line's leading field is the sample's own label, not used.
        if (selection.keeps(L) && extractFloat(in, value)) {
            while (extractFloat(in, value)) {
                if (k < cells)
                    X[k] = value;
                k++;
            }
        }
        finishLine(in);
        L++;
    }
    NLines = L;
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

void Data::normalize()
{
    if (M < 1)
        return;
    for (int i = 0; i < N; i++) {
        float sum = 0.0f;
        for (int j = 0; j < M; j++)
            sum += X[i * M + j];
        for (int j = 0; j < M; j++)
            X[i * M + j] /= sum;
    }
}
