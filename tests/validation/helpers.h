// Scratch folders, whole-file reads and program runs for the validation tests.
#ifndef ORVANE_VALIDATION_TEST_HELPERS_H
#define ORVANE_VALIDATION_TEST_HELPERS_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

const std::string dataDir = TEST_DATA_DIR "/";

// A fresh folder under the system's temporary folder, removed afterwards.
struct TempDir {
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-cv-XXXXXX").string();
        path = mkdtemp(pattern.data()) ? pattern + "/" : "";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string path;
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs a shell command line, capturing its exit status and both streams.
inline Outcome run(const std::string &command, const TempDir &dir)
{
    const std::string out = dir.path + "stdout.capture";
    const std::string err = dir.path + "stderr.capture";
    const int status = std::system((command + " >" + out + " 2>" + err).c_str());
    Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
    std::filesystem::remove(out);
    std::filesystem::remove(err);
    return result;
}

#endif
