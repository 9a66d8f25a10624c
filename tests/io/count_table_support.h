// What the table-reader tests compare: a count table laid out dense.
#ifndef ORVANE_TESTS_IO_COUNT_TABLE_SUPPORT_H
#define ORVANE_TESTS_IO_COUNT_TABLE_SUPPORT_H

#include <cstddef>
#include <vector>

#include "io/table.h"

// The table's counts, sample after sample, zeros included.
inline std::vector<float> allCounts(const CountTable &table)
{
    std::vector<float> counts;
    for (std::size_t s = 0; s < table.samples.size(); s++)
        for (std::size_t f = 0; f < table.features.size(); f++)
            counts.push_back(table.count(s, f));
    return counts;
}

#endif
