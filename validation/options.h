// Command-line scanning shared by Orvane-cv and Orvane-folds: options that
// each take one value, and whole-number option values.
#ifndef ORVANE_OPTIONS_H
#define ORVANE_OPTIONS_H

#include <climits>
#include <map>
#include <string>
#include <vector>

// Collects "-option value" pairs into `values` (a later occurrence wins);
// an option of `flags` takes no value and is stored with an empty one.
// "--help" or "-h" sets `help`, "--version" sets `version`; the first of them
// ends the scan, so what follows it is not looked at. Returns the message to
// print after "error: " for an unknown option or one whose value is missing.
inline std::string scanOptions(int argc, char **argv, const std::vector<std::string> &known,
                               std::map<std::string, std::string> &values, bool &help,
                               bool &version, const std::vector<std::string> &flags = {})
{
    help = false;
    version = false;
    for (int a = 1; a < argc; a++) {
        const std::string option = argv[a];
        if (option == "--help" || option == "-h") {
            help = true;
            return "";
        }
        if (option == "--version") {
            version = true;
            return "";
        }
        bool isFlag = false;
        for (const std::string &name : flags)
            isFlag = isFlag || name == option;
        if (isFlag) {
            values[option] = "";
            continue;
        }
        bool isKnown = false;
        for (const std::string &name : known)
            isKnown = isKnown || name == option;
        if (!isKnown)
            return "unknown option \"" + option + "\" (see --help)";
        if (a + 1 >= argc)
            return option + " needs a value";
        values[option] = argv[++a];
    }
    return "";
}

// Reads a word of decimal digits only (no sign, no space) as a number no
// greater than `most`.
inline bool readDigits(const std::string &word, long long most, long long &value)
{
    if (word.empty())
        return false;
    long long number = 0;
    for (const char c : word) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
        if (number > most)
            return false;
    }
    value = number;
    return true;
}

// Reads `text`, the value of `option`, as a whole number in decimal digits
// from `least` to `most`.
inline std::string readWholeNumber(const std::string &option, const std::string &text,
                                   long long least, long long most, long long &value)
{
    long long number = 0;
    if (!readDigits(text, most, number) || number < least)
        return option + " takes a whole number from " + std::to_string(least) + " to " +
               std::to_string(most) + ", not \"" + text + "\"";
    value = number;
    return "";
}

// Reads the repetition count (-n, from 1) and the fold count (-k, from 2).
inline std::string readRepetitionsAndFolds(std::map<std::string, std::string> &values,
                                           int &repetitions, int &folds)
{
    long long number = 0;
    std::string message = readWholeNumber("-n", values["-n"], 1, INT_MAX, number);
    if (!message.empty())
        return message;
    repetitions = static_cast<int>(number);
    message = readWholeNumber("-k", values["-k"], 2, INT_MAX, number);
    if (message.empty())
        folds = static_cast<int>(number);
    return message;
}

#endif
