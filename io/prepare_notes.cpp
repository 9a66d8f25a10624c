// The wording of Orvane-prepare's notes and warning (see prepare_notes.h).
#include "io/prepare_notes.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "io/text.h"

std::string shareText(double share)
{
    const double exact = 100.0 * share;
    char text[64];
    for (int decimals = 1;; decimals++) {
        std::snprintf(text, sizeof text, "%.*f", decimals, exact);
        const double shown = std::strtod(text, nullptr);
        bool misleading = false;
        for (const double threshold : {0.0, 50.0, 90.0, 100.0})
            misleading = misleading || (shown == threshold && exact != threshold);
        if (!misleading || decimals == 6)
            return std::string(text) + "%";
    }
}

std::string missingClassNote(const std::string &column, const std::vector<std::string> &ids,
                             const std::vector<std::string> &values)
{
    if (ids.empty())
        return "";
    const size_t shown = 10;
    std::string text = "left out for no " + column + ": ";
    for (size_t i = 0; i < ids.size() && i < shown; i++)
        text += (i > 0 ? ", " : "") + ids[i];
    if (ids.size() > shown)
        text += " and " + std::to_string(ids.size() - shown) + " more";
    std::map<std::string, size_t> samplesOf;
    for (const std::string &value : values)
        samplesOf[value]++;
    text += " (values taken as missing: ";
    const char *separator = "";
    for (const auto &[value, samples] : samplesOf) {
        text += separator + quote(value) + " " + std::to_string(samples);
        separator = ", ";
    }
    return text + ")";
}

namespace {

// The options the advice names, as the caller's users write them.
struct AdviceOptions {
    const char *graft;
    const char *taxonomyTree;
    const char *minCount;
};

AdviceOptions adviceOptions(OptionSpelling spelling)
{
    if (spelling == OptionSpelling::Python)
        return {"graft=True", "tree=\"taxonomy\"", "min_count=N"};
    return {"-graft", "-tree taxonomy", "-min-count N"};
}

std::string keepMoreAdvice(const PrepareOptions &options)
{
    const AdviceOptions spelled = adviceOptions(options.spelling);
    std::vector<std::string> advice;
    const bool taxonomyTree = options.tree == "taxonomy";
    if (!options.graft && !taxonomyTree)
        advice.push_back(std::string(spelled.graft) +
                         " places features off the tree beside their relatives by taxonomy");
    if (!taxonomyTree)
        advice.push_back(std::string(spelled.taxonomyTree) + " builds the tree from the taxonomy");
    if (options.minCount.empty())
        advice.push_back(std::string(spelled.minCount) +
                         " leaves out samples that keep fewer than N counts");
    std::string text;
    for (size_t i = 0; i < advice.size(); i++)
        text += (i == 0                    ? ""
                 : i + 1 < advice.size()   ? ", "
                 : advice.size() == 2      ? " and "
                                           : ", and ") +
                advice[i];
    return text.empty() ? "" : "To keep more: " + text;
}

} // namespace

std::string shareWarning(const PrepareOptions &options, double overall, double lowest,
                         const std::string &lowestId)
{
    std::string text = "the kept features hold only " + shareText(overall) +
                       " of the kept samples' counts, and sample " + quote(lowestId) + " keeps " +
                       shareText(lowest) + " of its own";
    if (!options.out.empty())
        text += "; " + options.out + "/dropped.tsv lists the features left out with their counts";
    const std::string advice = keepMoreAdvice(options);
    return advice.empty() ? text : text + ". " + advice;
}
