// The checked model file reader. The first byte gives the sample table's
// number of features, the rest is the file; an accepted file must give the
// coefficients the lenient reader gives.
#include <cstdlib>
#include <cstring>

#include "fuzz/input_file.h"
#include "model/ModelFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int nFeatures = data[0] % 8 + 1;
    const InputFile file(data + 1, size - 1);
    Logistic checked(Data(), nullptr);
    if (readModelFile(file.path(), nFeatures, checked).empty()) {
        Logistic lenient(Data(), nullptr);
        lenient.input(file.path());
        if (lenient.nClasses != checked.nClasses || lenient.nFeatures != nFeatures ||
            std::memcmp(lenient.beta, checked.beta,
                        sizeof(float) * checked.nClasses * checked.nFeatures) != 0)
            std::abort();
        lenient.del();
    }
    checked.del();
    return 0;
}
