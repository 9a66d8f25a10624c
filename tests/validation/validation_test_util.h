// Helpers shared by the tests of validation/ and of Orvane-cv and Orvane-folds.
#ifndef ORVANE_VALIDATION_TEST_UTIL_H
#define ORVANE_VALIDATION_TEST_UTIL_H

#include "../test_support.h"

namespace {

using List = std::vector<int>;
using Outcome = RunResult;
const std::string data = TEST_DATA_DIR "/", cv = ORVANE_CV, folds = ORVANE_FOLDS;
const std::string example = " -d " + data + "samples.txt -l " + data + "labels.txt";
const std::string tx = data + "tiny_samples.txt", ty = data + "tiny_labels.txt", tt = data + "tiny_tree.tre";
const std::string tiny = cv + " -d " + tx + " -l " + ty + " -t " + tt + " -n 1 -k 2";

// `text` with "{dir}" standing for the scratch folder and "{data}" for the data folder.
inline std::string fill(std::string text, const TempDir &dir)
{
    for (const std::string key : {"{dir}", "{data}"})
        for (auto at = text.find(key); at != std::string::npos; at = text.find(key))
            text.replace(at, key.size(), key == "{dir}" ? dir.path : data);
    return text;
}

// Renders the SVG file at `path` with rsvg-convert when the machine has it
// (Debian package librsvg2-bin): a file no renderer accepts fails.
inline void expectRenders(const std::string &path)
{
    expectWellFormedXml(path);
    if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0) {
        std::cout << "rsvg-convert not found (Debian package librsvg2-bin): " << path << " not rendered\n";
        return;
    }
    EXPECT_EQ(std::system(("rsvg-convert '" + path + "' > /dev/null").c_str()), 0) << path;
}

} // namespace

#endif
