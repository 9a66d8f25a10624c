#include "io/sample_groups.h"

#include <unordered_map>

#include "io/text.h"

namespace {

// A sample line number: decimal digits only, from 1 to nSamples; 0 otherwise.
int sampleLine(const std::string &text, int nSamples)
{
    if (text.empty() || text.size() > 10)
        return 0;
    long long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= nSamples ? static_cast<int>(number) : 0;
}

} // namespace

std::string readSampleGroups(const std::string &path, int nSamples, const std::string &samplesPath,
                             std::vector<int> &groupOfSample, int &nGroups)
{
    std::vector<std::string> lines;
    std::string problem = readTextLines(path, lines);
    if (!problem.empty())
        return problem;
    if (lines.empty() || lines[0] != "line\tgroup")
        return fileLine(path, 1) + "the header must be 'line<TAB>group'";
    std::vector<std::string> nameOfSample(nSamples);
    std::vector<int> listedOn(nSamples, 0);
    int listed = 0;
    for (size_t i = 1; i < lines.size(); i++) {
        const int line = static_cast<int>(i) + 1;
        if (lines[i].empty())
            continue;
        const size_t tab = lines[i].find('\t');
        if (tab == std::string::npos || lines[i].find('\t', tab + 1) != std::string::npos)
            return fileLine(path, line) + "expected two tab-separated fields, a sample line and a group";
        const std::string number = lines[i].substr(0, tab);
        const int sample = sampleLine(number, nSamples);
        if (sample == 0)
            return fileLine(path, line) + "sample line " + quote(number) +
                   " is not a whole number from 1 to " + std::to_string(nSamples) +
                   " (the samples of " + samplesPath + ")";
        if (listedOn[sample - 1] != 0)
            return fileLine(path, line) + "sample line " + number + " is listed twice (first on line " +
                   std::to_string(listedOn[sample - 1]) + ")";
        listedOn[sample - 1] = line;
        nameOfSample[sample - 1] = lines[i].substr(tab + 1);
        listed++;
    }
    for (int s = 0; s < nSamples && listed < nSamples; s++)
        if (listedOn[s] == 0)
            return path + ": lists " + std::to_string(listed) + " sample lines, but " + samplesPath +
                   " holds " + std::to_string(nSamples) + " samples (sample line " +
                   std::to_string(s + 1) + " is missing)";
    std::unordered_map<std::string, int> numberOf;
    groupOfSample.assign(nSamples, 0);
    nGroups = 0;
    for (int s = 0; s < nSamples; s++) {
        // A sample without a group is a group of its own.
        if (nameOfSample[s].empty()) {
            groupOfSample[s] = nGroups++;
            continue;
        }
        const auto named = numberOf.emplace(nameOfSample[s], nGroups);
        nGroups += named.second ? 1 : 0;
        groupOfSample[s] = named.first->second;
    }
    return "";
}
