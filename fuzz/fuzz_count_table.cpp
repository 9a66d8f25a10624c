// The feature-table readers (text tables, BIOM 1.0 JSON, either gzipped)
// against hostile input: a table they accept holds, for every sample, its
// nonzero counts in strictly increasing feature order, each feature one the
// table names, and at most one taxonomy per feature.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "fuzz/input_file.h"
#include "io/table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // BIOM 2.1 files are read in a child process by the HDF5 library: not here.
    if (size >= 4 && std::memcmp(data, "\x89HDF", 4) == 0)
        return 0;
    const InputFile file(data, size);
    CountTable table;
    if (!readCountTable(file.path(), OrientationHints{}, table).empty())
        return 0;
    if (table.rows.size() != table.samples.size() ||
        (!table.taxonomy.empty() && table.taxonomy.size() != table.features.size()))
        std::abort();
    for (const auto &row : table.rows) {
        int previous = -1;
        for (const auto &entry : row) {
            if (entry.first <= previous || entry.first >= static_cast<int>(table.features.size()) ||
                !std::isfinite(entry.second) || entry.second == 0.0f)
                std::abort();
            previous = entry.first;
        }
    }
    return 0;
}
