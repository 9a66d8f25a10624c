// Helpers shared by the tests of validation/ and of Orvane-cv and Orvane-folds.
#ifndef ORVANE_VALIDATION_TEST_UTIL_H
#define ORVANE_VALIDATION_TEST_UTIL_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <tuple>
#include <vector>

namespace {

using List = std::vector<int>;
using Outcome = std::tuple<int, std::string, std::string>; // exit status, stdout, stderr
const std::string data = TEST_DATA_DIR "/", cv = ORVANE_CV, folds = ORVANE_FOLDS;
const std::string example = " -d " + data + "samples.txt -l " + data + "labels.txt";
const std::string tx = data + "tiny_samples.txt", ty = data + "tiny_labels.txt", tt = data + "tiny_tree.tre";
const std::string tiny = cv + " -d " + tx + " -l " + ty + " -t " + tt + " -n 1 -k 2";

// A fresh folder under the system's temporary folder, removed afterwards.
struct TempDir {
    std::string path = std::filesystem::temp_directory_path() / "orvane-cv-XXXXXX";
    TempDir() { path = mkdtemp(path.data()) ? path + "/" : ""; }
    ~TempDir() { std::filesystem::remove_all(path); }
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// `text` with "{dir}" standing for the scratch folder and "{data}" for the data folder.
inline std::string fill(std::string text, const TempDir &dir)
{
    for (const std::string key : {"{dir}", "{data}"})
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key))
            text.replace(at, key.size(), key == "{dir}" ? dir.path : data);
    return text;
}

inline Outcome run(const std::string &command, const TempDir &dir)
{
    const std::string out = dir.path + "stdout.capture", err = dir.path + "stderr.capture";
    const int status = std::system((command + " >" + out + " 2>" + err).c_str());
    Outcome result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
    std::filesystem::remove(out), std::filesystem::remove(err);
    return result;
}

} // namespace

#endif
