// Helpers shared by the model tests.
#ifndef ORVANE_MODEL_TEST_UTIL_H
#define ORVANE_MODEL_TEST_UTIL_H

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <unistd.h>

#include "model/Logistic.h"

inline std::string dataFile(const std::string &name)
{
    return std::string(MODEL_DATA_DIR) + name;
}

// The scratch files of this test program, removed when it ends.
struct ScratchFiles {
    ~ScratchFiles()
    {
        for (const std::filesystem::path &path : paths)
            std::filesystem::remove(path);
    }
    std::vector<std::filesystem::path> paths;
};

// A file path of its own for each test, in the system's temporary folder.
inline std::string scratchFile(const std::string &name, const std::string &text)
{
    static ScratchFiles files;
    const auto path = std::filesystem::temp_directory_path() / ("orvane_model_test_" + std::to_string(getpid()) + "_" + name);
    std::ofstream(path, std::ios::binary) << text;
    files.paths.push_back(path);
    return path.string();
}

inline std::string readText(const std::string &path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A classification model over pair.txt, whose samples are (1, 0) and (0, 1),
// with coefficients set by hand.
struct HandModel {
    HandModel(int C, int M, std::vector<float> coefficients) : model(dataFile("pair.txt"), {})
    {
        model.nClasses = C;
        model.nFeatures = M;
        model.beta = new float[coefficients.size()];
        std::copy(coefficients.begin(), coefficients.end(), model.beta);
    }
    ~HandModel() { model.del(); }

    Logistic model;
};

#endif
