// Running work that may crash, such as a third-party library reading a
// hostile file, in a child process: a crash there becomes a message here.
//
// The child is a fork of this process. Its standard output and error go to
// /dev/null (the work cannot print); SIGINT, SIGTERM and the signals of a
// crash take their default action in it (it never runs this process's
// handlers); on Linux it is killed when this process ends; and it ends with
// _exit once the work returns: it never returns into the caller, flushes no
// stream and runs no exit handler of this process. The work writes its
// answer to a pipe, which the parent reads back.
#ifndef ORVANE_IO_CONTAINED_H
#define ORVANE_IO_CONTAINED_H

#include <cstdint>
#include <functional>
#include <string>

// Buffered writing of an answer to a descriptor: numbers in this machine's
// byte order (the reader is this same program), texts with their length.
class AnswerWriter {
public:
    explicit AnswerWriter(int fd) : fd_(fd) {}
    void bytes(const void *data, size_t size);
    void number(std::uint64_t value) { bytes(&value, sizeof value); }
    void text(const std::string &value);
    // Writes out what is buffered; false when the reader has gone.
    bool flush();

private:
    int fd_;
    std::string buffer_;
    bool ok_ = true;
};

// Reading an answer back. Each read fails (returns false) once the answer
// ends early; a length is never trusted for an allocation beyond what was
// read, so a cut or garbled answer cannot ask for a huge buffer.
class AnswerReader {
public:
    explicit AnswerReader(int fd) : fd_(fd) {}
    bool bytes(void *data, size_t size);
    bool number(std::uint64_t &value) { return bytes(&value, sizeof value); }
    bool text(std::string &value);
    // True when the answer ends here.
    bool atEnd();

private:
    bool fill();

    int fd_;
    std::string buffer_;
    size_t at_ = 0;
};

// Runs `work` in a child process with the write end of a pipe, and `collect`
// here with the read end. Returns "" when `collect` returned true and the
// child ended with status 0; otherwise what went wrong, such as
// "the process reading it crashed (Segmentation fault)".
std::string runContained(const std::function<void(AnswerWriter &)> &work,
                         const std::function<bool(AnswerReader &)> &collect);

#endif
