#include "validation/setsCheck.h"

#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "validation/options.h"

namespace {

// Where a sets-file problem sits, as the start of its message.
std::string place(const std::string &path, int lineNumber)
{
    return path + ":" + std::to_string(lineNumber) + ": ";
}

// Reads a word of decimal digits only as a value below `limit`.
bool readBelow(const std::string &word, int limit, int &value)
{
    long long number = 0;
    if (!readDigits(word, static_cast<long long>(limit) - 1, number))
        return false;
    value = static_cast<int>(number);
    return true;
}

// Membership of each sample in the block being checked.
enum Membership : char { NONE, IN_TEST, IN_TRAINING };

// Checks one index line of a block and marks its samples as `list`.
std::string checkIndexLine(const std::string &line, const std::string &where, Membership list,
                           int fold, int nSamples, std::vector<char> &membership)
{
    const char *name = list == IN_TEST ? "test" : "training";
    std::istringstream words(line);
    std::string word;
    int count = 0;
    while (words >> word) {
        int index = 0;
        if (!readBelow(word, nSamples, index))
            return where + "\"" + word + "\" is not a sample index from 0 to " +
                   std::to_string(nSamples - 1);
        if (membership[index] == list)
            return where + "sample index " + word + " appears twice in the " + name + " list";
        if (membership[index] != NONE)
            return where + "sample index " + word + " is in both the test and the training list";
        membership[index] = list;
        count++;
    }
    if (count == 0)
        return where + "the " + name + " list of fold " + std::to_string(fold) + " is empty";
    return "";
}

} // namespace

std::string checkSetsFile(const std::string &path, int KFold, int nSamples)
{
    std::ifstream in(path);
    if (!in)
        return path + ": cannot open the file";
    std::set<int> foldsSeen; // a set: KFold may be large, the file is what is read
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        lineNumber++;
        if (line.empty() || line[0] != '>')
            continue;
        const std::string header = place(path, lineNumber);
        std::istringstream words(line);
        std::string marker, foldWord;
        words >> marker;
        // A header such as ">3" would be read as fold 0: insist on a separate word.
        if (!(words >> foldWord))
            return header + "the block header has no fold number (write \"> FOLD\")";
        int fold = 0;
        if (!readBelow(foldWord, KFold, fold))
            return header + "fold number \"" + foldWord + "\" is not from 0 to " +
                   std::to_string(KFold - 1);
        if (!foldsSeen.insert(fold).second)
            return header + "a second block for fold " + foldWord;

        std::vector<char> membership(nSamples > 0 ? nSamples : 0, NONE);
        for (const Membership list : {IN_TEST, IN_TRAINING}) {
            if (!std::getline(in, line))
                return header + "the block of fold " + foldWord + " has no " +
                       (list == IN_TEST ? "test" : "training") + " line";
            lineNumber++;
            const std::string message = checkIndexLine(line, place(path, lineNumber), list, fold,
                                                       nSamples, membership);
            if (!message.empty())
                return message;
        }
    }
    if (in.bad())
        return path + ": cannot read the file";
    if (static_cast<int>(foldsSeen.size()) == KFold)
        return "";
    int missing = 0;
    while (foldsSeen.count(missing))
        missing++;
    return path + ": no block for fold " + std::to_string(missing);
}
