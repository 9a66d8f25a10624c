#include "validation/setsCheck.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "model/TextReader.h"

namespace {

// Where a sets-file problem sits, as the start of its message.
std::string place(const std::string &path, long long lineNumber)
{
    return path + ":" + std::to_string(lineNumber) + ": ";
}

// Reads a field of decimal digits only (no sign) as a value below `limit`;
// `text` gets the field as messages show it.
bool readBelow(TextReader &in, long long limit, int &value, FieldText &text)
{
    bool sound = true;
    long long number = 0;
    for (int c = in.peek(); c != -1 && c != '\n' && !isFieldSpace(c); c = in.peek()) {
        text.add(static_cast<char>(c));
        in.advance();
        if (!sound)
            continue;
        sound = c >= '0' && c <= '9';
        number = number * 10 + (c - '0');
        sound = sound && number < limit;
    }
    value = static_cast<int>(number);
    return sound;
}

// Membership of each sample in the block being read.
enum Membership : char { NONE, IN_TEST, IN_TRAINING };

// Reads one index line of a block into `indices` and marks its samples as `list`.
std::string readIndexLine(TextReader &in, const std::string &where, Membership list, int fold,
                          int nSamples, std::vector<char> &membership, std::vector<int> &indices)
{
    const char *name = list == IN_TEST ? "test" : "training";
    while (true) {
        skipFieldSpace(in);
        if (atLineEnd(in))
            break;
        FieldText word;
        int index = 0;
        if (!readBelow(in, nSamples, index, word))
            return where + "\"" + word.shown() + "\" is not a sample index from 0 to " +
                   std::to_string(nSamples - 1);
        if (membership[index] == list)
            return where + "sample index " + word.shown() + " appears twice in the " + name +
                   " list";
        if (membership[index] != NONE)
            return where + "sample index " + word.shown() +
                   " is in both the test and the training list";
        membership[index] = list;
        indices.push_back(index);
    }
    finishLine(in);
    if (indices.empty())
        return where + "the " + name + " list of fold " + std::to_string(fold) + " is empty";
    return "";
}

} // namespace

std::string readSetsFile(const std::string &path, int KFold, int nSamples,
                         std::vector<FoldSamples> &folds)
{
    folds.clear();
    TextReader in(path);
    if (!in.opened())
        return path + ": cannot open the file";
    // A map: KFold may be large, the file is what is read.
    std::map<int, FoldSamples> blocks;
    std::vector<char> membership(nSamples > 0 ? nSamples : 0, NONE);
    long long lineNumber = 0;
    while (in.peek() != -1) {
        lineNumber++;
        if (in.peek() != '>') {
            finishLine(in);
            continue;
        }
        const std::string header = place(path, lineNumber);
        FieldText marker;
        marker.addRest(in);
        skipFieldSpace(in);
        // A header such as ">3" would be read as fold 0: insist on a separate word.
        if (atLineEnd(in))
            return header + "the block header has no fold number (write \"> FOLD\")";
        FieldText foldWord;
        int fold = 0;
        if (!readBelow(in, KFold, fold, foldWord))
            return header + "fold number \"" + foldWord.shown() + "\" is not from 0 to " +
                   std::to_string(KFold - 1);
        if (blocks.count(fold))
            return header + "a second block for fold " + foldWord.shown();
        finishLine(in);

        FoldSamples &block = blocks[fold];
        for (const Membership list : {IN_TEST, IN_TRAINING}) {
            if (in.peek() == -1)
                return header + "the block of fold " + foldWord.shown() + " has no " +
                       (list == IN_TEST ? "test" : "training") + " line";
            lineNumber++;
            const std::string message =
                readIndexLine(in, place(path, lineNumber), list, fold, nSamples, membership,
                              list == IN_TEST ? block.test : block.training);
            if (!message.empty())
                return message;
        }
        for (const std::vector<int> *list : {&block.test, &block.training})
            for (const int index : *list)
                membership[index] = NONE;
    }
    if (in.readError() != 0)
        return path + ": cannot read the file (" + std::strerror(in.readError()) + ")";
    if (static_cast<long long>(blocks.size()) != KFold) {
        int missing = 0;
        while (blocks.count(missing))
            missing++;
        return path + ": no block for fold " + std::to_string(missing);
    }
    for (auto &entry : blocks)
        folds.push_back(std::move(entry.second));
    return "";
}

std::string checkSetsFile(const std::string &path, int KFold, int nSamples)
{
    std::vector<FoldSamples> folds;
    return readSetsFile(path, KFold, nSamples, folds);
}

std::string checkGroupedFolds(const std::string &path, const std::vector<FoldSamples> &folds,
                              const std::vector<int> &groupOfSample, const std::string &groupsPath,
                              int innerFolds)
{
    for (std::size_t j = 0; j < folds.size(); j++) {
        const std::string fold = path + ": fold " + std::to_string(j);
        std::map<int, int> heldOutSample;  // group -> a held-out sample of it
        for (const int s : folds[j].test)
            heldOutSample.emplace(groupOfSample[s], s);
        std::set<int> trainedGroups;
        for (const int s : folds[j].training) {
            const auto heldOut = heldOutSample.find(groupOfSample[s]);
            if (heldOut != heldOutSample.end())
                return fold + " holds out sample line " + std::to_string(heldOut->second + 1) +
                       " and trains on sample line " + std::to_string(s + 1) +
                       ", of one group in " + groupsPath +
                       " (draw the folds with Orvane-folds -g " + groupsPath + ")";
            trainedGroups.insert(groupOfSample[s]);
        }
        if (static_cast<int>(trainedGroups.size()) < innerFolds)
            return fold + " trains on " + std::to_string(trainedGroups.size()) + " groups of " +
                   groupsPath + ", fewer than the " + std::to_string(innerFolds) +
                   " inner folds of -nested";
    }
    return "";
}
