// Error reporting and an optional, level-filtered log. Errors, and the log
// while it goes to standard error (as it does from the start), pass through
// the message sink (tree/messages.h), whose default writes them there.
#ifndef VESSIK_LOGGING_H
#define VESSIK_LOGGING_H

#include <cstdio>

namespace vessik {

// Sends the formatted message as an error: by default "error: ", the message
// and a newline on standard error.
void printError(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Writes the formatted message to the log stream (no prefix, no newline) and
// flushes it, when `level` is at most the current log level (0 at start).
// While the log stream is standard error, the message goes to the sink as a text.
void printLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Makes a newly created file the log stream; on failure nothing changes.
// The previous log stream is not closed. openLogFile(stderr) goes back to
// logging through the sink.
bool openLogFile(const char *filename);
void openLogFile(FILE *stream);

void setLogLevel(int level);
bool isLogLevel(int level);

// Closes the log stream (the standard streams are only detached). Logging is
// then off until openLogFile gives a new stream.
void closeLogFile();
// The current log stream: standard error at start, null once closed.
FILE *getLogFile();

} // namespace vessik

#endif
