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
    const size_t count = static_cast<size_t>(checked.nonzeros());
    if (lenient.N != checked.N || lenient.M != checked.M || lenient.NLines != checked.NLines ||
        lenient.nonzeros() != checked.nonzeros() ||
        std::memcmp(lenient.rowStart, checked.rowStart, (checked.N + 1) * sizeof(int64_t)) != 0 ||
        std::memcmp(lenient.cols, checked.cols, count * sizeof(int32_t)) != 0 ||
        std::memcmp(lenient.values, checked.values, count * sizeof(float)) != 0)
        std::abort();
    freeData(checked);
    freeData(lenient);
    return 0;
}
