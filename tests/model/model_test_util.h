// Helpers shared by the model tests.
#ifndef ORVANE_MODEL_TEST_UTIL_H
#define ORVANE_MODEL_TEST_UTIL_H

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

inline std::string dataFile(const std::string &name)
{
    return std::string(MODEL_DATA_DIR) + name;
}

// A fresh scratch folder per test, removed with the object.
class ScratchDir {
public:
    ScratchDir()
    {
        path = std::filesystem::temp_directory_path() /
               ("orvane_model_" + std::to_string(::getpid()) + "_" + std::to_string(counter()++));
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() { std::filesystem::remove_all(path); }

    std::string file(const std::string &name) const { return (path / name).string(); }

    std::filesystem::path path;

private:
    static int &counter()
    {
        static int n = 0;
        return n;
    }
};

inline void writeText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

#endif
