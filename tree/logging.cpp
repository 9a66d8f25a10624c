// Error reporting and a level-filtered log for the tree library.
#include "tree/logging.h"

#include <cstdarg>
#include <string>

#include "tree/messages.h"

namespace vessik {

namespace {
// Standard error stands for the message sink: a log written there goes through
// the sink, so that an embedder that replaces the sink receives it too.
FILE *g_logstream = stderr;
int g_loglevel = 0;

std::string formatted(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.pop_back();
    return text;
}
} // namespace

void printError(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    sendMessage(MessageKind::Error, text);
}

void printLog(int level, const char *format, ...)
{
    if (!isLogLevel(level) || g_logstream == nullptr)
        return;
    va_list args;
    va_start(args, format);
    if (g_logstream == stderr) {
        const std::string text = formatted(format, args);
        sendMessage(MessageKind::Text, text);
    } else {
        vfprintf(g_logstream, format, args);
        fflush(g_logstream);
    }
    va_end(args);
}

bool openLogFile(const char *filename)
{
    FILE *stream = fopen(filename, "w");
    if (stream == nullptr)
        return false;
    openLogFile(stream);
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
    // Keeping a closed stream would make the next printLog use freed memory.
    if (g_logstream != nullptr && g_logstream != stderr && g_logstream != stdout)
        fclose(g_logstream);
    g_logstream = nullptr;
}

FILE *getLogFile()
{
    return g_logstream;
}

} // namespace vessik
