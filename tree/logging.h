// Error reporting and an optional, level-filtered log, both through the
// message sink (tree/messages.h) unless a log file is opened.
#ifndef VESSIK_LOGGING_H
#define VESSIK_LOGGING_H

#include <cstdio>

namespace vessik {

// Sends the formatted message as an error (the programs write "error: ", the
// message and a newline on standard error).
void printError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes the formatted message to the log stream (no prefix, no newline) and
// flushes it, when `level` is at most the current log level (0 at start).
// Until a log file is opened, the message goes to the sink as a text.
void printLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Makes a newly created file the log stream; on failure nothing changes.
// The previous log stream is not closed.
bool openLogFile(const char *filename);
void openLogFile(FILE *stream);

void setLogLevel(int level);
bool isLogLevel(int level);

// Closes the log stream (the standard streams are only detached). Logging is
// then off until openLogFile gives a new stream.
void closeLogFile();
// The current log stream; null while the log goes to the sink or is closed.
FILE *getLogFile();

} // namespace vessik

#endif
