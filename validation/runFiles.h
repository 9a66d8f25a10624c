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

// Where a log stood before a run was appended: enough to take the run out again.
struct LogMark {
    std::string path;
    bool existed = false;
    bool regular = false; // only regular files can be cut back
    long long size = 0;
};

// Appends each text to its log with one write (O_APPEND, creating the log if
// needed), so that a run killed before this leaves no line of its own. When
// a write fails or falls short, every log is put back as it was (cut back to
// its former size, or removed when this created it) and the message to print
// after "error: " is returned. On success `marks` (when given) tells
// removeRun how to undo the append.
std::string appendWholeRun(const std::vector<LogText> &logs, std::vector<LogMark> *marks = nullptr);
// Takes an appended run out of its logs again.
void removeRun(const std::vector<LogMark> &marks);

#endif
