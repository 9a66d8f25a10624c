// The model file: the class and feature counts, then one line of
// coefficients per class. `input` reads any file leniently; readModelFile
// reads and checks one for the testing run.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>

#include "model/Logistic.h"
#include "model/ModelFile.h"
#include "model/SampleTable.h"
#include "model/TextReader.h"

void Logistic::output(std::string fileName)
{
    std::ofstream out(fileName);
    output(out);
}

void Logistic::output(std::ostream &out) const
{
    out << nClasses << " " << nFeatures << std::endl;
    for (int k = 0; k < nClasses; k++) {
        for (int j = 0; j < nFeatures; j++)
            out << (double)beta[k * nFeatures + j] << " ";
        out << std::endl;
    }
}

void Logistic::input(std::string fileName)
{
    std::ifstream in(fileName);
    input(in);
}

void Logistic::input(std::istream &in)
{
    std::string line;
    std::getline(in, line);
    std::istringstream header(line);
    nClasses = 0;
    nFeatures = 0;
    header >> nClasses >> nFeatures;

    // Surplus lines and values are ignored; cells that no value reaches stay 0.
    const int rows = nClasses > 0 ? nClasses : 0;
    const int columns = nFeatures > 0 ? nFeatures : 0;
    delete[] beta;
    beta = new float[rows * columns]();
    for (int r = 0; r < rows && std::getline(in, line); r++) {
        std::istringstream values(line);
        float value = 0.0f;
        for (int j = 0; j < columns && values >> value; j++)
            beta[r * columns + j] = value;
    }
}

namespace {

bool fieldEnds(TextReader &in)
{
    return isFieldSpace(in.peek()) || atLineEnd(in);
}

// The first line: exactly two whole numbers, both at least 1.
bool readCounts(TextReader &in, int &nClasses, int &nFeatures)
{
    return extractInt(in, nClasses) && fieldEnds(in) && extractInt(in, nFeatures) &&
           fieldEnds(in) && (skipFieldSpace(in), atLineEnd(in)) && nClasses >= 1 && nFeatures >= 1;
}

// Reads one coefficient line into `row` (nFeatures cells). The count of
// coefficients is judged before their values.
std::string readCoefficientLine(TextReader &in, int nFeatures, float *row)
{
    long long count = 0;
    std::string problem;
    while (true) {
        skipFieldSpace(in);
        if (atLineEnd(in))
            break;
        count++;
        FieldText text;
        float value = 0.0f;
        const bool judged = problem.empty() && count <= nFeatures;
        if (!extractFloat(in, value, judged ? &text : nullptr) || !fieldEnds(in)) {
            if (judged) {
                text.addRest(in);
                problem = "coefficient '" + text.shown() + "' is not a finite number";
            } else
                FieldText().addRest(in);
            continue;
        }
        if (judged)
            row[count - 1] = value;
    }
    if (count != nFeatures)
        return std::to_string(count) + " coefficients, the first line declares " +
               std::to_string(nFeatures);
    return problem;
}

std::string readFailure(const std::string &path, int error)
{
    return path + ": cannot read the file (" + std::strerror(error) + ")";
}

} // namespace

std::string readModelFile(const std::string &path, int nFeatures, Logistic &model)
{
    TextReader in(path);
    if (!in.opened())
        return path + ": cannot open the file";
    int nClasses = 0;
    int nModelFeatures = 0;
    const bool counts = readCounts(in, nClasses, nModelFeatures);
    if (in.readError() != 0)
        return readFailure(path, in.readError());
    if (!counts)
        return fileLine(path, 1) +
               "first line is not a class count and a feature count (both at least 1)";
    if (nModelFeatures != nFeatures)
        return path + ": the model has " + std::to_string(nModelFeatures) +
               " features, the sample table " + std::to_string(nFeatures);
    if (!fits(nClasses, nModelFeatures))
        return fileLine(path, 1) + tooLarge(nClasses, "classes", nModelFeatures, "features");
    finishLine(in);

    // Rows are added as their lines arrive: a short file claiming many
    // classes allocates only for the lines it holds.
    std::vector<float> beta;
    long long lineNumber = 1;
    for (int k = 0; k < nClasses; k++) {
        if (in.peek() == -1)
            return in.readError() != 0 ? readFailure(path, in.readError())
                                       : path + ": " + std::to_string(k) +
                                             " coefficient lines, the first line declares " +
                                             std::to_string(nClasses);
        lineNumber++;
        beta.resize(beta.size() + nModelFeatures);
        const std::string problem =
            readCoefficientLine(in, nModelFeatures, beta.data() + k * nModelFeatures);
        if (in.readError() != 0)
            return readFailure(path, in.readError());
        if (!problem.empty())
            return fileLine(path, lineNumber) + problem;
        finishLine(in);
    }
    // Empty lines may follow the last class; anything else is a surplus line.
    while (in.peek() != -1) {
        lineNumber++;
        if (in.peek() != '\n')
            return fileLine(path, lineNumber) + "more coefficient lines than the " +
                   std::to_string(nClasses) + " the first line declares";
        in.advance();
    }
    if (in.readError() != 0)
        return readFailure(path, in.readError());

    model.nClasses = nClasses;
    model.nFeatures = nModelFeatures;
    delete[] model.beta;
    model.beta = new float[beta.size()];
    std::copy(beta.begin(), beta.end(), model.beta);
    return "";
}
