// How a cross-validation run reaches its logs: its lines are appended in
// full or not at all.
#ifndef ORVANE_RUNFILES_H
#define ORVANE_RUNFILES_H

#include <string>
#include <vector>

struct LogText {
    std::string path;
    std::string text;
};

// Appends each text to its log with one write (O_APPEND, creating the log if
// needed), so that a run killed before this leaves no line of its own. When
// a write fails or falls short, every log is cut back to the size it had
// before and the message to print after "error: " is returned.
std::string appendWholeRun(const std::vector<LogText> &logs);

#endif
