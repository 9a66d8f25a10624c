// BIOM 2.1 (HDF5) tables read in a child process: the HDF5 library is known
// to crash on some damaged files, and a crash must end in one error line, not
// take the program down. The child sends its message, then the table: the
// IDs, the taxonomy and the nonzero counts with their places.
#include "io/table.h"

#include <cstdint>
#include <exception>

#include "io/contained.h"

namespace {

// Every field of the table crosses the pipe below: a new one must be added there.
static_assert(sizeof(CountTable) ==
                  3 * sizeof(std::vector<std::string>) + sizeof(std::vector<float>),
              "CountTable changed: send and receive its new fields in biom_hdf5_child.cpp");

void sendTexts(AnswerWriter &out, const std::vector<std::string> &texts)
{
    out.number(texts.size());
    for (const std::string &text : texts)
        out.text(text);
}

bool receiveTexts(AnswerReader &in, std::vector<std::string> &texts)
{
    std::uint64_t n = 0;
    if (!in.number(n))
        return false;
    texts.clear();
    for (std::uint64_t i = 0; i < n; i++) {
        texts.emplace_back();
        if (!in.text(texts.back()))
            return false;
    }
    return true;
}

void sendTable(AnswerWriter &out, const std::string &path)
{
    CountTable table;
    std::string problem;
    try {
        problem = readBiomHdf5InThisProcess(path, table);
    } catch (const std::exception &) {  // a size the file claims that no memory holds
        problem = path + ": the table does not fit in memory";
    }
    out.text(problem);
    if (!problem.empty())
        return;
    sendTexts(out, table.samples);
    sendTexts(out, table.features);
    sendTexts(out, table.taxonomy);
    std::uint64_t nonzero = 0;
    for (const float count : table.counts)
        nonzero += count != 0.0f ? 1 : 0;
    out.number(nonzero);
    for (size_t i = 0; i < table.counts.size(); i++) {
        if (table.counts[i] != 0.0f) {
            out.number(i);
            out.bytes(&table.counts[i], sizeof(float));
        }
    }
}

bool receiveTable(AnswerReader &in, std::string &problem, CountTable &table)
{
    if (!in.text(problem))
        return false;
    if (!problem.empty())
        return true;
    if (!receiveTexts(in, table.samples) || !receiveTexts(in, table.features) ||
        !receiveTexts(in, table.taxonomy))
        return false;
    table.counts.assign(table.samples.size() * table.features.size(), 0.0f);
    std::uint64_t nonzero = 0;
    if (!in.number(nonzero) || nonzero > table.counts.size())
        return false;
    for (std::uint64_t k = 0; k < nonzero; k++) {
        std::uint64_t at = 0;
        float count = 0.0f;
        if (!in.number(at) || !in.bytes(&count, sizeof count) || at >= table.counts.size())
            return false;
        table.counts[at] = count;
    }
    return true;
}

} // namespace

std::string readBiomHdf5(const std::string &path, CountTable &table)
{
    std::string problem;
    const std::string failure =
        runContained([&](AnswerWriter &out) { sendTable(out, path); },
                     [&](AnswerReader &in) { return receiveTable(in, problem, table); });
    if (!failure.empty()) {
        table = CountTable();
        return path + ": cannot read the HDF5 file: " + failure +
               "; the file is damaged or not a BIOM 2.1 table";
    }
    return problem;
}
