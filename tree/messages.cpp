#include "tree/messages.h"

#include <mutex>
#include <utility>

namespace vessik {

namespace {
std::mutex g_sinkLock;
MessageSink g_sink;
} // namespace

MessageSink setMessageSink(MessageSink sink)
{
    const std::lock_guard<std::mutex> hold(g_sinkLock);
    std::swap(g_sink, sink);
    return sink;
}

void sendMessage(MessageKind kind, const std::string &text)
{
    // A copy, called outside the lock: a sink may itself send or replace sinks.
    MessageSink sink;
    {
        const std::lock_guard<std::mutex> hold(g_sinkLock);
        sink = g_sink;
    }
    if (sink)
        sink(kind, text);
}

} // namespace vessik
