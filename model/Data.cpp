// Sample table and labels file: counting, reading and row scaling.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "model/Logistic.h"

namespace {

// True when line index `line` is kept: an empty list keeps every line.
bool isSelected(const std::vector<int> &samples, int line)
{
    return samples.empty() || std::find(samples.begin(), samples.end(), line) != samples.end();
}

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

    std::ifstream in(samplePath);
    std::string line;
    int L = 0;
    int k = 0;
    while (std::getline(in, line)) {
        if (isSelected(samples, L)) {
            // The values of all selected lines form one stream filling X cell by cell.
            std::istringstream fields(line);
            float value = 0.0f;
            fields >> value; // the sample's own label, not used
            while (fields >> value) {
                if (k < cells)
                    X[k] = value;
                k++;
            }
        }
        L++;
    }
    NLines = L;
}

void Data::getClasses(std::string labelsPath, std::vector<int> samples)
{
    // Class of every sample-table line; 0 for a line named by no class.
    int *lineClass = new int[atLeastZero(NLines)]();
    classes = new int[atLeastZero(N)]();

    std::ifstream in(labelsPath);
    std::string line;
    int c = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '>')
            continue;
        std::string members;
        std::getline(in, members);
        c++;
        std::istringstream list(members);
        int s = 0;
        while (list >> s)
            if (s >= 1 && s <= NLines)
                lineClass[s - 1] = c;
    }

    int k = 0;
    for (int i = 0; i < NLines; i++) {
        if (!isSelected(samples, i))
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
