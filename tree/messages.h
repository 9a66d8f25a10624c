// The one way the libraries (tree/, model/, io/, validation/, report/) say
// anything: they never write to the standard streams themselves, they send
// each message here, and the current sink decides where it goes.
//
// Until someone installs a sink of their own, the default sink
// (writeToStandardStreams) writes what the library has always written:
// errors as "error: " lines and texts on standard error, output lines on
// standard output. Programs therefore need no sink of their own.
//
// An embedder (a Python or R module) replaces it, for example
//
//     vessik::setMessageSink([](vessik::MessageKind kind, const std::string &text) {
//         if (kind == vessik::MessageKind::Error)
//             pendingErrors += text;  // a thread_local string of the embedder
//     });
//
// then clears its buffer before a library call and, when the call reports a
// failure (a null tree, a non-empty message), raises what the buffer holds
// (Python's ValueError, R's stop()). A sink must return normally: it must not
// throw, longjmp or call into R or Python's error machinery, because the
// library is in the middle of its work and frees what it holds only on the
// way out. Messages are sent from the thread that makes the library call; a
// sink may be called from several threads at once, so it keeps per-thread
// state or locks its own. Putting back the sink that setMessageSink returned
// (ScopedMessageSink does so) restores the default.
#ifndef VESSIK_MESSAGES_H
#define VESSIK_MESSAGES_H

#include <functional>
#include <string>

namespace vessik {

enum class MessageKind {
    // A failure, without the "error: " put before it and the newline put
    // after it. The text may end in its own newline.
    Error,
    // A diagnostic or log text, meant to be written as it is (newlines included).
    Text,
    // A line of a program's own output (Orvane-cv's progress on standard
    // output), with its newline. Embedders usually drop these.
    Output,
};

using MessageSink = std::function<void(MessageKind kind, const std::string &text)>;

// The default sink: an error as "error: ", the text and a newline on standard
// error; a text as it is on standard error, flushed; an output line as it is
// on standard output, flushed.
void writeToStandardStreams(MessageKind kind, const std::string &text);

// Makes `sink` receive every message from now on, process-wide, and returns
// the sink it replaces. An empty sink drops messages.
MessageSink setMessageSink(MessageSink sink);

// Hands the message to the current sink, if there is one.
void sendMessage(MessageKind kind, const std::string &text);

// Installs a sink for the lifetime of the object and puts the previous one back.
class ScopedMessageSink {
public:
    explicit ScopedMessageSink(MessageSink sink) : previous_(setMessageSink(std::move(sink))) {}
    ~ScopedMessageSink() { setMessageSink(std::move(previous_)); }
    ScopedMessageSink(const ScopedMessageSink &) = delete;
    ScopedMessageSink &operator=(const ScopedMessageSink &) = delete;

private:
    MessageSink previous_;
};

} // namespace vessik

#endif
