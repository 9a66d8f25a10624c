// Reading BIOM 1.0 tables, which are JSON: the observation (feature) and
// sample IDs from "rows" and "columns", the counts from "data" as sparse
// [row, column, value] triples or as dense rows, and each observation's
// taxonomy from its metadata (a list of levels or one "; "-joined string).
// The file is parsed as it is read, and each entry of "rows", "columns" and
// "data" is taken into the sparse table and dropped as soon as it is parsed:
// memory follows the nonzero counts, not the whole document or the table's
// samples x features.
#include "io/table.h"

#ifdef ORVANE_HAVE_JSON

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <numeric>
#include <streambuf>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/text.h"
#include "model/SampleTable.h"

namespace {

using Json = nlohmann::json;

// The "id" of a row or column object; false when it lacks a usable ID.
bool readId(const Json &item, std::vector<std::string> &ids)
{
    if (!item.is_object() || !item.contains("id"))
        return false;
    const Json &id = item["id"];
    if (id.is_string())
        ids.push_back(id.get<std::string>());
    else if (id.is_number())
        ids.push_back(id.dump());
    else
        return false;
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

// One [row, column, value] entry of sparse "data", kept until every entry is
// read: its place in the list is its number.
struct SparseEntry {
    std::uint32_t feature;
    std::uint32_t sample;
    float count;
};

// What the parse has taken from the document so far.
struct BiomContent {
    std::vector<std::string> features;
    std::vector<std::string> samples;
    std::vector<std::string> taxonomy;
    bool taxonomyFound = false;
    bool idMissing = false;
    bool rowsRead = false;
    bool columnsRead = false;
    std::string type;  // "matrix_type"
    bool typeRead = false;
    // "data" entries are taken as they come once rows, columns and type are
    // known; otherwise (an unusual order of keys) they stay in the document.
    enum class Data { Unseen, Taken, Kept } data = Data::Unseen;
    size_t nEntries = 0;  // "data" entries seen
    std::vector<SparseEntry> sparse;
    std::vector<std::vector<std::pair<int, float>>> rows;  // of dense data, per sample
    std::string problem;  // about the first faulty "data" entry
    size_t problemEntry = 0;
};

std::string countProblem(const BiomContent &biom, const Json &value, size_t sample, size_t feature)
{
    return "count " + entryText(value) + " of sample " + quote(biom.samples[sample]) +
           " for feature " + quote(biom.features[feature]);
}

// Sparse entry number k (from 0) into biom.sparse, or its problem.
std::string takeSparseEntry(const std::string &path, const Json &entry, size_t k, BiomContent &biom)
{
    const size_t nFeatures = biom.features.size();
    const size_t nSamples = biom.samples.size();
    const std::string where = path + ": \"data\" entry " + std::to_string(k + 1) + " ";
    size_t row = 0;
    size_t column = 0;
    if (!entry.is_array() || entry.size() != 3 || !readIndex(entry[0], nFeatures, row) ||
        !readIndex(entry[1], nSamples, column))
        return where + entryText(entry) + " is not [row, column, value] with a row from 0 to " +
               std::to_string(nFeatures - 1) + " and a column from 0 to " +
               std::to_string(nSamples - 1);
    float count = 0.0f;
    if (!readCount(entry[2], count))
        return where + "holds " + countProblem(biom, entry[2], column, row) +
               ", not a finite number >= 0";
    if (biom.sparse.size() >= static_cast<size_t>(kMostNonzeros))
        return where + "is one more nonzero value than this program can hold (" +
               std::to_string(kMostNonzeros) + ")";
    biom.sparse.push_back(
        {static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(column), count});
    return "";
}

// Dense row f (from 0) into biom.rows, or its problem.
std::string takeDenseRow(const std::string &path, const Json &data, size_t f, BiomContent &biom)
{
    const size_t nSamples = biom.samples.size();
    if (f >= biom.features.size())
        return "";  // the count of rows is checked at the end
    if (!data.is_array() || data.size() != nSamples)
        return path + ": \"data\" row " + std::to_string(f + 1) + " does not hold " +
               std::to_string(nSamples) + " counts, one per column";
    if (biom.rows.empty())
        biom.rows.resize(nSamples);
    for (size_t s = 0; s < nSamples; s++) {
        float count = 0.0f;
        if (!readCount(data[s], count))
            return path + ": " + countProblem(biom, data[s], s, f) + " is not a finite number >= 0";
        if (count != 0.0f)
            biom.rows[s].emplace_back(static_cast<int>(f), count);
    }
    return "";
}

void takeDataEntry(const std::string &path, const Json &entry, BiomContent &biom)
{
    const size_t k = biom.nEntries++;
    if (!biom.problem.empty() || (biom.type != "sparse" && biom.type != "dense"))
        return;
    biom.problem = biom.type == "sparse" ? takeSparseEntry(path, entry, k, biom)
                                         : takeDenseRow(path, entry, k, biom);
    biom.problemEntry = k;
}

// Takes each entry of "rows", "columns" and "data" from the parse and drops
// it from the document; the rest of the document stays for the checks.
class BiomParse {
public:
    BiomParse(const std::string &path, BiomContent &biom) : path(path), biom(biom) {}

    bool operator()(int depth, Json::parse_event_t event, Json &parsed)
    {
        using Event = Json::parse_event_t;
        if (depth == 1) {
            if (event == Event::key) {
                key = parsed.get<std::string>();
                inArray = false;
            } else if (event == Event::array_start) {
                inArray = true;
            } else if (event == Event::array_end) {
                inArray = false;
                biom.rowsRead = biom.rowsRead || key == "rows";
                biom.columnsRead = biom.columnsRead || key == "columns";
            } else if (event == Event::value && key == "matrix_type") {
                biom.type = parsed.is_string() ? parsed.get<std::string>() : parsed.dump();
                biom.typeRead = true;
            }
            return true;
        }
        const bool elementEnds = depth == 2 && inArray &&
                                 (event == Event::object_end || event == Event::array_end ||
                                  event == Event::value);
        return !elementEnds || !take(parsed);
    }

private:
    // Whether the element was taken (and may be dropped).
    bool take(const Json &element)
    {
        if (key == "rows") {
            biom.idMissing = !readId(element, biom.features) || biom.idMissing;
            biom.taxonomy.push_back(element.is_object() ? taxonomyOf(element, biom.taxonomyFound)
                                                        : "");
            return true;
        }
        if (key == "columns") {
            biom.idMissing = !readId(element, biom.samples) || biom.idMissing;
            return true;
        }
        if (key != "data")
            return false;
        if (biom.data == BiomContent::Data::Unseen)
            biom.data = biom.rowsRead && biom.columnsRead && biom.typeRead
                            ? BiomContent::Data::Taken
                            : BiomContent::Data::Kept;
        if (biom.data == BiomContent::Data::Kept)
            return false;
        if (!biom.idMissing)  // refused at the end, whatever the data hold
            takeDataEntry(path, element, biom);
        return true;
    }

    const std::string &path;
    BiomContent &biom;
    std::string key;       // the top-level key being read
    bool inArray = false;  // and its value is an array
};

// The stream as a std::streambuf, for the JSON parser.
class StreamBuffer : public std::streambuf {
public:
    explicit StreamBuffer(TextStream &in) : in(in) {}

private:
    int_type underflow() override
    {
        if (!in.chunk(piece))
            return traits_type::eof();
        setg(&piece[0], &piece[0], &piece[0] + piece.size());
        return traits_type::to_int_type(piece[0]);
    }

    TextStream &in;
    std::string piece;
};

// The sparse entries in each sample's rows, in feature order; refuses a
// cell given twice, at the entry that gives it the second time (before any
// faulty entry after it).
std::string sparseRows(const std::string &path, BiomContent &biom, CountTable &table)
{
    const std::vector<SparseEntry> &entries = biom.sparse;
    std::vector<std::uint32_t> order(entries.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const SparseEntry &x = entries[a];
        const SparseEntry &y = entries[b];
        return x.sample != y.sample ? x.sample < y.sample
               : x.feature != y.feature ? x.feature < y.feature
                                        : a < b;
    });
    size_t twice = biom.problem.empty() ? entries.size() : biom.problemEntry;
    for (size_t i = 1; i < order.size(); i++) {
        const SparseEntry &x = entries[order[i - 1]];
        const SparseEntry &y = entries[order[i]];
        if (x.sample == y.sample && x.feature == y.feature && (i < 2 || entries[order[i - 2]].sample != x.sample ||
                                                               entries[order[i - 2]].feature != x.feature))
            twice = std::min<size_t>(twice, order[i]);
    }
    if (twice < entries.size() && (biom.problem.empty() || twice < biom.problemEntry)) {
        const SparseEntry &cell = entries[twice];
        return path + ": \"data\" entry " + std::to_string(twice + 1) + " gives the count of sample " +
               quote(biom.samples[cell.sample]) + " for feature " +
               quote(biom.features[cell.feature]) + " a second time";
    }
    if (!biom.problem.empty())
        return biom.problem;
    std::vector<size_t> sizes(biom.samples.size(), 0);
    for (const SparseEntry &entry : entries)
        sizes[entry.sample] += entry.count != 0.0f ? 1 : 0;
    table.rows.assign(biom.samples.size(), {});
    for (size_t s = 0; s < sizes.size(); s++)
        table.rows[s].reserve(sizes[s]);
    for (std::uint32_t k : order)
        if (entries[k].count != 0.0f)
            table.rows[entries[k].sample].emplace_back(static_cast<int>(entries[k].feature),
                                                       entries[k].count);
    return "";
}

// The "data" entries left in the document (keys in an unusual order).
void takeKeptData(const std::string &path, const Json &data, BiomContent &biom)
{
    for (const Json &entry : data) {
        takeDataEntry(path, entry, biom);
        if (!biom.problem.empty())
            return;
    }
}

std::string dataProblem(const std::string &path, const Json &document, BiomContent &biom,
                        CountTable &table)
{
    if (biom.data == BiomContent::Data::Kept)
        takeKeptData(path, document["data"], biom);
    if (biom.type == "dense") {
        if (biom.nEntries != biom.features.size())
            return path + ": \"data\" holds " + std::to_string(biom.nEntries) + " rows, \"rows\" " +
                   std::to_string(biom.features.size());
        if (!biom.problem.empty())
            return biom.problem;
        biom.rows.resize(biom.samples.size());
        table.rows = std::move(biom.rows);
        return "";
    }
    return sparseRows(path, biom, table);
}

} // namespace

bool readsBiomJson()
{
    return true;
}

namespace {

std::string readBiom(const std::string &path, TextStream &in, CountTable &table)
{
    BiomContent biom;
    StreamBuffer buffer(in);
    std::istream text(&buffer);
    const Json document = Json::parse(text, BiomParse(path, biom), false);
    if (!in.problem.empty())
        return in.problem;
    if (document.is_discarded())
        return path + ": starts like JSON but is not valid JSON (a BIOM 1.0 table is one JSON object)";
    if (!document.is_object() || !document.contains("rows") || !document.contains("columns") ||
        !document.contains("data") || !document["rows"].is_array() ||
        !document["columns"].is_array() || !document["data"].is_array())
        return path + ": JSON, but not a BIOM 1.0 table (it needs the arrays \"rows\", "
                      "\"columns\" and \"data\")";
    if (biom.idMissing)
        return path + ": every entry of \"rows\" and \"columns\" needs an \"id\"";
    const auto shape = document.find("shape");
    if (shape != document.end() &&
        *shape != Json::array({biom.features.size(), biom.samples.size()}))
        return path + ": \"shape\" " + entryText(*shape) + " does not match " +
               std::to_string(biom.features.size()) + " rows and " +
               std::to_string(biom.samples.size()) + " columns";
    if (!biom.typeRead)
        biom.type = "sparse";
    if (biom.type != "sparse" && biom.type != "dense")
        return path + ": \"matrix_type\" is " + quote(biom.type) + ", neither 'sparse' nor 'dense'";
    if (biom.samples.empty() || biom.features.empty())
        return path + ": the table holds no " + (biom.samples.empty() ? "sample" : "feature");
    const std::string problem = dataProblem(path, document, biom, table);
    if (!problem.empty())
        return problem;
    table.samples = std::move(biom.samples);
    table.features = std::move(biom.features);
    if (biom.taxonomyFound)
        table.taxonomy = std::move(biom.taxonomy);
    return "";
}

} // namespace

std::string readBiomJson(const std::string &path, TextStream &in, CountTable &table)
{
    // Every access above checks its type first; this catches what a check missed.
    try {
        return readBiom(path, in, table);
    } catch (const nlohmann::json::exception &error) {
        table = CountTable();
        return path + ": not a BIOM 1.0 table the program can read (" + error.what() + ")";
    }
}

#else

bool readsBiomJson()
{
    return false;
}

std::string readBiomJson(const std::string &path, TextStream &, CountTable &)
{
    return path + ": a BIOM 1.0 (JSON) table, and this build cannot read JSON: rebuild Orvane "
                  "with nlohmann-json3-dev installed, or export the table as text with "
                  "`biom convert -i " + path + " -o table.tsv --to-tsv`";
}

#endif
