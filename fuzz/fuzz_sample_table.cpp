// The checked sample table reader, against the lenient data set reader: a
// table the checks accept must give both the same data set, bit for bit.
#include <cstdlib>
#include <cstring>

#include "fuzz/input_file.h"
#include "model/SampleTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const InputFile file(data, size);
    SampleTable table;
    if (!readSampleTable(file.path(), table).empty())
        return 0;
    Data checked = dataOf(table);
    Data lenient(file.path(), {});
    const size_t cells = static_cast<size_t>(checked.N) * checked.M;
    if (lenient.N != checked.N || lenient.M != checked.M || lenient.NLines != checked.NLines ||
        std::memcmp(lenient.X, checked.X, cells * sizeof(float)) != 0)
        std::abort();
    delete[] checked.X;
    delete[] lenient.X;
    return 0;
}
