// The process-wide message sink, with the default that writes to the
// standard streams.
#include "tree/messages.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace vessik {

namespace {
std::mutex g_sinkLock;

// Made on first use, so that a message sent while other files' statics are
// being set up still finds the default sink.
MessageSink &currentSink()
{
    static MessageSink sink = writeToStandardStreams;
    return sink;
}

void writeAll(const std::string &text, FILE *stream)
{
    fwrite(text.data(), 1, text.size(), stream);
}
} // namespace

void writeToStandardStreams(MessageKind kind, const std::string &text)
{
    switch (kind) {
    case MessageKind::Error:
        writeAll("error: " + text + "\n", stderr);
        break;
    case MessageKind::Text:
        writeAll(text, stderr);
        fflush(stderr);
        break;
    case MessageKind::Output:
        writeAll(text, stdout);
        fflush(stdout);
        break;
    }
}

MessageSink setMessageSink(MessageSink sink)
{
    const std::lock_guard<std::mutex> hold(g_sinkLock);
    std::swap(currentSink(), sink);
    return sink;
}

void sendMessage(MessageKind kind, const std::string &text)
{
    // A copy, called outside the lock: a sink may itself send or replace sinks.
    MessageSink sink;
    {
        const std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = currentSink();
    }
    if (sink)
        sink(kind, text);
}

} // namespace vessik
