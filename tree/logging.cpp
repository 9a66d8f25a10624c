#include "tree/logging.h"

#include <cstdarg>

namespace vessik {

namespace {
FILE *g_logstream = stderr;
int g_loglevel = 0;
} // namespace

void printError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fprintf(stderr, "error: ");
    vfprintf(stderr, format, args);
    fprintf(stderr, "\n");
    va_end(args);
}

void printLog(int level, const char *format, ...)
{
    if (!isLogLevel(level) || g_logstream == nullptr)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(g_logstream, format, args);
    va_end(args);
    fflush(g_logstream);
}

bool openLogFile(const char *filename)
{
    FILE *stream = fopen(filename, "w");
    if (stream == nullptr)
        return false;
    g_logstream = stream;
    return true;
}

void openLogFile(FILE *stream)
{
    g_logstream = stream;
}

void setLogLevel(int level)
{
    g_loglevel = level;
}

bool isLogLevel(int level)
{
    return level <= g_loglevel;
}

void closeLogFile()
{
    // Closing standard error would silence printError for the rest of the run,
    // and keeping a closed stream would make the next printLog use freed memory.
    if (g_logstream != nullptr && g_logstream != stderr && g_logstream != stdout)
        fclose(g_logstream);
    g_logstream = nullptr;
}

FILE *getLogFile()
{
    return g_logstream;
}

} // namespace vessik
