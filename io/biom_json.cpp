// Reading BIOM 1.0 tables, which are JSON: the observation (feature) and
// sample IDs from "rows" and "columns", the counts from "data" as sparse
// [row, column, value] triples or as dense rows, and each observation's
// taxonomy from its metadata (a list of levels or one "; "-joined string).
#include "io/table.h"

#ifdef ORVANE_HAVE_JSON

#include <cfloat>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/text.h"

namespace {

using Json = nlohmann::json;

// The "id" of each row or column object; false when one lacks a usable ID.
bool readIds(const Json &items, std::vector<std::string> &ids)
{
    for (const Json &item : items) {
        if (!item.is_object() || !item.contains("id"))
            return false;
        const Json &id = item["id"];
        if (id.is_string())
            ids.push_back(id.get<std::string>());
        else if (id.is_number())
            ids.push_back(id.dump());
        else
            return false;
    }
    return true;
}

// The taxonomy in an observation's metadata: levels joined by "; ", or "".
std::string taxonomyOf(const Json &row, bool &found)
{
    const auto metadata = row.find("metadata");
    if (metadata == row.end() || !metadata->is_object())
        return "";
    for (auto entry = metadata->begin(); entry != metadata->end(); ++entry) {
        if (lowerCase(entry.key()) != "taxonomy")
            continue;
        found = true;
        if (entry->is_string())
            return trimSpaces(entry->get<std::string>());
        std::string text;
        if (entry->is_array())
            for (const Json &level : *entry)
                if (level.is_string())
                    text += (text.empty() ? "" : "; ") + trimSpaces(level.get<std::string>());
        return text;
    }
    return "";
}

// A count: a JSON number, finite and >= 0 in single precision.
bool readCount(const Json &value, float &count)
{
    if (!value.is_number())
        return false;
    const double number = value.get<double>();
    if (!(number >= 0.0) || number > FLT_MAX)
        return false;
    count = static_cast<float>(number) + 0.0f;
    return true;
}

// A whole-number index from 0 to size - 1.
bool readIndex(const Json &value, size_t size, size_t &index)
{
    if (!value.is_number_integer() || value.get<long long>() < 0 ||
        value.get<unsigned long long>() >= size)
        return false;
    index = static_cast<size_t>(value.get<unsigned long long>());
    return true;
}

std::string entryText(const Json &entry)
{
    const std::string text = entry.dump();
    return text.size() > 40 ? text.substr(0, 40) + "..." : text;
}

std::string readSparse(const std::string &path, const Json &data, CountTable &table)
{
    const size_t nFeatures = table.features.size();
    std::vector<bool> seen(table.counts.size(), false);
    for (size_t k = 0; k < data.size(); k++) {
        const Json &entry = data[k];
        const std::string where = path + ": \"data\" entry " + std::to_string(k + 1) + " ";
        size_t row = 0;
        size_t column = 0;
        if (!entry.is_array() || entry.size() != 3 || !readIndex(entry[0], nFeatures, row) ||
            !readIndex(entry[1], table.samples.size(), column))
            return where + entryText(entry) + " is not [row, column, value] with a row from 0 to " +
                   std::to_string(nFeatures - 1) + " and a column from 0 to " +
                   std::to_string(table.samples.size() - 1);
        const size_t cell = column * nFeatures + row;
        if (seen[cell])
            return where + "gives the count of sample " + quote(table.samples[column]) +
                   " for feature " + quote(table.features[row]) + " a second time";
        seen[cell] = true;
        if (!readCount(entry[2], table.counts[cell]))
            return where + "holds count " + entryText(entry[2]) + " of sample " +
                   quote(table.samples[column]) + " for feature " + quote(table.features[row]) +
                   ", not a finite number >= 0";
    }
    return "";
}

std::string readDense(const std::string &path, const Json &data, CountTable &table)
{
    const size_t nFeatures = table.features.size();
    const size_t nSamples = table.samples.size();
    if (data.size() != nFeatures)
        return path + ": \"data\" holds " + std::to_string(data.size()) + " rows, \"rows\" " +
               std::to_string(nFeatures);
    for (size_t f = 0; f < nFeatures; f++) {
        if (!data[f].is_array() || data[f].size() != nSamples)
            return path + ": \"data\" row " + std::to_string(f + 1) + " does not hold " +
                   std::to_string(nSamples) + " counts, one per column";
        for (size_t s = 0; s < nSamples; s++)
            if (!readCount(data[f][s], table.counts[s * nFeatures + f]))
                return path + ": count " + entryText(data[f][s]) + " of sample " +
                       quote(table.samples[s]) + " for feature " + quote(table.features[f]) +
                       " is not a finite number >= 0";
    }
    return "";
}

} // namespace

bool readsBiomJson()
{
    return true;
}

namespace {

std::string readBiom(const std::string &path, const std::string &text, CountTable &table)
{
    const Json biom = Json::parse(text, nullptr, false);
    if (biom.is_discarded())
        return path + ": starts like JSON but is not valid JSON (a BIOM 1.0 table is one JSON object)";
    if (!biom.is_object() || !biom.contains("rows") || !biom.contains("columns") ||
        !biom.contains("data") || !biom["rows"].is_array() || !biom["columns"].is_array() ||
        !biom["data"].is_array())
        return path + ": JSON, but not a BIOM 1.0 table (it needs the arrays \"rows\", "
                      "\"columns\" and \"data\")";
    if (!readIds(biom["rows"], table.features) || !readIds(biom["columns"], table.samples))
        return path + ": every entry of \"rows\" and \"columns\" needs an \"id\"";
    const auto shape = biom.find("shape");
    if (shape != biom.end() &&
        *shape != Json::array({table.features.size(), table.samples.size()}))
        return path + ": \"shape\" " + entryText(*shape) + " does not match " +
               std::to_string(table.features.size()) + " rows and " +
               std::to_string(table.samples.size()) + " columns";
    const auto matrixType = biom.find("matrix_type");
    const std::string type = matrixType == biom.end() ? "sparse"
                             : matrixType->is_string() ? matrixType->get<std::string>()
                                                       : matrixType->dump();
    if (type != "sparse" && type != "dense")
        return path + ": \"matrix_type\" is " + quote(type) + ", neither 'sparse' nor 'dense'";
    if (table.samples.empty() || table.features.empty())
        return path + ": the table holds no " + (table.samples.empty() ? "sample" : "feature");
    table.counts.assign(table.samples.size() * table.features.size(), 0.0f);
    const std::string problem = type == "sparse" ? readSparse(path, biom["data"], table)
                                                 : readDense(path, biom["data"], table);
    if (!problem.empty())
        return problem;
    bool found = false;
    std::vector<std::string> taxonomy;
    for (const Json &row : biom["rows"])
        taxonomy.push_back(taxonomyOf(row, found));
    if (found)
        table.taxonomy = std::move(taxonomy);
    return "";
}

} // namespace

std::string readBiomJson(const std::string &path, const std::string &text, CountTable &table)
{
    // Every access above checks its type first; this catches what a check missed.
    try {
        return readBiom(path, text, table);
    } catch (const nlohmann::json::exception &error) {
        return path + ": not a BIOM 1.0 table the program can read (" + error.what() + ")";
    }
}

#else

bool readsBiomJson()
{
    return false;
}

std::string readBiomJson(const std::string &path, const std::string &, CountTable &)
{
    return path + ": a BIOM 1.0 (JSON) table, and this build cannot read JSON: rebuild Orvane "
                  "with nlohmann-json3-dev installed, or export the table as text with "
                  "`biom convert -i " + path + " -o table.tsv --to-tsv`";
}

#endif
