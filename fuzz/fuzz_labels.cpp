// The labels file reader. The first byte gives the number of samples, the
// rest is the file; an accepted file must put every sample in one class and
// agree with the lenient reader of the data set.
#include <cstdlib>
#include <vector>

#include "fuzz/input_file.h"
#include "model/SampleTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int nSamples = data[0] % 16 + 1;
    const InputFile file(data + 1, size - 1);
    std::vector<int> classOfSample;
    int nClasses = 0;
    if (!readLabels(file.path(), nSamples, classOfSample, nClasses).empty())
        return 0;
    if (static_cast<int>(classOfSample.size()) != nSamples)
        std::abort();
    Data lenient;
    lenient.N = lenient.NLines = nSamples;
    lenient.C = GetC(file.path());
    lenient.getClasses(file.path(), {});
    for (int i = 0; i < nSamples; i++)
        if (classOfSample[i] < 1 || classOfSample[i] > nClasses || lenient.classes[i] != classOfSample[i])
            std::abort();
    delete[] lenient.classes;
    delete[] lenient.Y;
    return 0;
}
