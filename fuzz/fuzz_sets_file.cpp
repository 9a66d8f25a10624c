// The checked sets file reader, against setSets: the first two bytes give the
// number of folds and of samples, the rest is the file. An accepted file must
// give every fold the lists setSets reads.
#include <cstdlib>
#include <vector>

#include "fuzz/input_file.h"
#include "validation/Testing.h"
#include "validation/setsCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int KFold = data[0] % 5 + 2;
    const int nSamples = data[1] % 20 + 1;
    const InputFile file(data + 2, size - 2);
    std::vector<FoldSamples> folds;
    if (!readSetsFile(file.path(), KFold, nSamples, folds).empty())
        return 0;
    if (static_cast<int>(folds.size()) != KFold)
        std::abort();
    for (int j = 0; j < KFold; j++) {
        std::vector<int> test, training;
        setSets(j, file.path(), test, training);
        if (test != folds[j].test || training != folds[j].training)
            std::abort();
    }
    return 0;
}
