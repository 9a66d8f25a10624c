#include "app/inputs.h"

#include <algorithm>
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

#include "model/ModelFile.h"
#include "model/SampleTable.h"
#include "model/TextReader.h"
#include "tree/Tree.h"
#include "tree/newick.h"

namespace {

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

// Checks the leaves of the tree in file order: each label must be a whole
// number naming a feature column, and no feature may be named twice. The walk
// keeps its own stack, so any depth the reader accepts is fine.
std::string checkLeaves(const vessik::Node *root, int nFeatures)
{
    std::vector<bool> named(nFeatures > 0 ? nFeatures : 0, false);
    std::vector<const vessik::Node *> pending{root};
    while (!pending.empty()) {
        const vessik::Node *node = pending.back();
        pending.pop_back();
        for (int c = node->nchildren - 1; c >= 0; c--)
            pending.push_back(node->children[c]);
        if (!node->isLeaf())
            continue;
        int feature = -1;
        if (!wholeInt(node->longname, feature) || feature < 0 || feature >= nFeatures)
            return "leaf " + quotedText(node->longname) +
                   " does not name a feature column from 0 to " + std::to_string(nFeatures - 1);
        if (named[feature])
            return "two leaves name feature " + std::to_string(feature);
        named[feature] = true;
    }
    return "";
}

} // namespace

std::string checkSampleTable(const std::string &path, int &nSamples, int &nFeatures)
{
    SampleTable table;
    const std::string problem = readSampleTable(path, table);
    nSamples = table.nSamples;
    nFeatures = table.nFeatures;
    return problem;
}

std::string checkLabels(const std::string &path, int nSamples, std::vector<int> &classOfSample,
                        int &nClasses)
{
    return readLabels(path, nSamples, classOfSample, nClasses);
}

std::string readTree(const std::string &path, int nFeatures, std::unique_ptr<vessik::Tree> &tree)
{
    tree.reset(vessik::readNewickTree(path.c_str()));
    if (!tree)
        return path + ": not a readable tree in the Newick format";
    const std::string problem = checkLeaves(tree->root, nFeatures);
    return problem.empty() ? "" : path + ": " + problem;
}

std::string checkTree(const std::string &path, int nFeatures)
{
    std::unique_ptr<vessik::Tree> tree;
    return readTree(path, nFeatures, tree);
}

std::string checkModelFile(const std::string &path, int nFeatures)
{
    Logistic model(Data(), nullptr);
    const std::string problem = readModelFile(path, nFeatures, model);
    model.del();
    return problem;
}

TrainingInputs::~TrainingInputs()
{
    freeData(data);
}

Data TrainingInputs::takeData()
{
    const Data taken = data;
    data = Data();
    return taken;
}

std::string readTrainingInputs(const std::string &samples, const std::string &labels,
                               const std::string &tree, const std::vector<float> &ws,
                               TrainingInputs &out)
{
    SampleTable table;
    std::string problem = readSampleTable(samples, table);
    if (!problem.empty())
        return problem;
    std::vector<int> classOfSample;
    int nClasses = 0;
    problem = readLabels(labels, table.nSamples, classOfSample, nClasses);
    if (!problem.empty())
        return problem;
    if (!fits(nClasses, table.nFeatures))
        return labels + ": " + tooLarge(nClasses, "classes", table.nFeatures, "features");
    problem = readTree(tree, table.nFeatures, out.tree);
    if (!problem.empty())
        return problem;
    const int nInternal = countInternalNodes(*out.tree);
    if (!fits(nInternal, nClasses))
        return tree + ": " + tooLarge(nInternal, "internal nodes", nClasses, "classes");
    std::vector<float> probed;
    for (const float w : ws) {
        if ((w != -1.0f && w != -2.0f) || std::find(probed.begin(), probed.end(), w) != probed.end())
            continue;
        probed.push_back(w);
        if (!penaltyWeightsAreNumbers(out.tree.get(), table.nFeatures, w)) {
            std::ostringstream message;
            message << tree << ": with -w " << w
                    << " the penalty weights are not numbers: the node heights, made from the"
                       " branch lengths above the internal nodes, are all 0";
            return message.str();
        }
    }
    out.data = dataOf(table, &classOfSample, nClasses);
    return "";
}

std::string parseWeight(const std::string &text, float &w)
{
    if (!readsAsDecimal(text, w))
        return "-w value " + quotedText(text) + " is not a number";
    if (!(w >= 0.0f && w <= 1.0f) && w != -1.0f && w != -2.0f)
        return "-w value " + quotedText(text) + " is outside 0 to 1 and is not -1 or -2";
    return "";
}

std::string parseLambda(const std::string &text, float &lambda)
{
    if (!readsAsDecimal(text, lambda))
        return "-lambda value " + quotedText(text) + " is not a finite number";
    if (lambda < 0.0f)
        return "-lambda value " + quotedText(text) + " is negative";
    return "";
}

std::string parseSolver(const std::string &text, bool &converged)
{
    if (text != "cyclic" && text != "converged")
        return "-solver value " + quotedText(text) + " is neither cyclic nor converged";
    converged = text == "converged";
    return "";
}

std::string parseTolerance(const std::string &text, double &tol)
{
    float value = 0.0f;
    if (!readsAsDecimal(text, value))
        return "-tol value " + quotedText(text) + " is not a finite number";
    tol = std::strtod(text.c_str(), nullptr);
    // Below about 1e-12 the gap is lost in the rounding of the objective;
    // above 0.01 it certifies little (near 1, even the all-zero model passes).
    if (!(tol >= 1e-12 && tol <= 0.01))
        return "-tol value " + quotedText(text) + " is outside 1e-12 to 0.01";
    return "";
}

std::string convergenceWarning(const ConvergedResult &result, const ConvergedOptions &options)
{
    if (result.converged(options))
        return "";
    std::ostringstream text;
    text << "warning: the converged solver stopped after " << result.iterations
         << " iterations with a relative duality gap of " << result.gap << ", above -tol "
         << options.tol << "\n";
    return text.str();
}

int fail(const std::string &message)
{
    std::cerr << "error: " << message << std::endl;
    return 1;
}

int outOfMemory()
{
    // Written without allocating: there may be no memory left.
    std::fputs("error: out of memory: this machine could not give the run the memory its input"
               " needs\n",
               stderr);
    return 1;
}
