// BIOM 2.1 (HDF5) tables read in a child process: the HDF5 library is known
// to crash on some damaged files, and a crash must end in one error line, not
// take the program down. The child sends its message, then the table: the
// IDs, the taxonomy and each sample's nonzero counts with their features.
#include "io/table.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "io/contained.h"

namespace {

// Every field of the table crosses the pipe below: a new one must be added there.
static_assert(sizeof(CountTable) ==
                  3 * sizeof(std::vector<std::string>) +
                      sizeof(std::vector<std::vector<std::pair<int, float>>>),
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
    for (const auto &row : table.rows) {
        out.number(row.size());
        for (const auto &entry : row) {
            out.number(static_cast<std::uint64_t>(entry.first));
            out.bytes(&entry.second, sizeof(float));
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
    // Each row as the child read it: features in increasing order, within the table.
    table.rows.assign(table.samples.size(), {});
    for (auto &row : table.rows) {
        std::uint64_t size = 0;
        if (!in.number(size) || size > table.features.size())
            return false;
        row.reserve(size);
        for (std::uint64_t k = 0; k < size; k++) {
            std::uint64_t feature = 0;
            float count = 0.0f;
            if (!in.number(feature) || !in.bytes(&count, sizeof count) ||
                feature >= table.features.size() ||
                (!row.empty() && feature <= static_cast<std::uint64_t>(row.back().first)))
                return false;
            row.emplace_back(static_cast<int>(feature), count);
        }
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
