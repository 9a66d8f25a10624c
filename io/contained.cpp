#include "io/contained.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

const size_t chunk = 1 << 16;

// The child's side: runs the work and returns its exit status.
int runChild(int out, pid_t parent, const std::function<void(AnswerWriter &)> &work)
{
    const int null = open("/dev/null", O_RDWR);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0 || dup2(null, STDERR_FILENO) < 0)
        return 1;
    // A crash ends the child by its signal, whatever handler this process
    // has (a sanitizer's), so that the parent can name it.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        signal(signalNumber, SIG_DFL);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        return 1;
#else
    (void)parent;
#endif
    try {
        AnswerWriter writer(out);
        work(writer);
        return writer.flush() ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

// Waits for the child to end and returns its wait status.
int reap(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

void AnswerWriter::bytes(const void *data, size_t size)
{
    buffer_.append(static_cast<const char *>(data), size);
    if (buffer_.size() >= chunk)
        flush();
}

void AnswerWriter::text(const std::string &value)
{
    number(value.size());
    bytes(value.data(), value.size());
}

bool AnswerWriter::flush()
{
    for (size_t done = 0; ok_ && done < buffer_.size();) {
        const ssize_t wrote = write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        ok_ = wrote > 0;
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    buffer_.clear();
    return ok_;
}

bool AnswerReader::fill()
{
    buffer_.erase(0, at_);
    at_ = 0;
    const size_t had = buffer_.size();
    buffer_.resize(had + chunk);
    ssize_t got = 0;
    do
        got = read(fd_, &buffer_[had], chunk);
    while (got < 0 && errno == EINTR);
    buffer_.resize(had + (got > 0 ? static_cast<size_t>(got) : 0));
    return got > 0;
}

bool AnswerReader::bytes(void *data, size_t size)
{
    char *into = static_cast<char *>(data);
    while (size > 0) {
        if (at_ == buffer_.size() && !fill())
            return false;
        const size_t taken = std::min(size, buffer_.size() - at_);
        std::memcpy(into, buffer_.data() + at_, taken);
        at_ += taken;
        into += taken;
        size -= taken;
    }
    return true;
}

bool AnswerReader::text(std::string &value)
{
    std::uint64_t length = 0;
    if (!number(length))
        return false;
    value.clear();
    // Grown as the bytes arrive, never to the length the answer claims.
    while (value.size() < length) {
        const size_t had = value.size();
        value.resize(had + static_cast<size_t>(std::min<std::uint64_t>(length - had, chunk)));
        if (!bytes(&value[had], value.size() - had))
            return false;
    }
    return true;
}

bool AnswerReader::atEnd()
{
    return at_ == buffer_.size() && !fill();
}

std::string runContained(const std::function<void(AnswerWriter &)> &work,
                         const std::function<bool(AnswerReader &)> &collect)
{
    int ends[2];
    if (pipe(ends) != 0)
        return std::string("cannot start a process to read it (") + std::strerror(errno) + ")";
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        close(ends[0]);
        close(ends[1]);
        return std::string("cannot start a process to read it (") + std::strerror(error) + ")";
    }
    if (child == 0) {
        close(ends[0]);
        _exit(runChild(ends[1], parent, work));
    }
    close(ends[1]);
    // Once the answer is whole or has failed, the child has nothing more to
    // give: one that has not ended is stopped, so that no wait hangs.
    AnswerReader reader(ends[0]);
    bool collected = false;
    try {
        collected = collect(reader) && reader.atEnd();
    } catch (...) {  // out of memory while collecting
        close(ends[0]);
        kill(child, SIGKILL);
        reap(child);
        throw;
    }
    close(ends[0]);
    if (!collected)
        kill(child, SIGKILL);
    const int status = reap(child);
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGPIPE && WTERMSIG(status) != SIGKILL)
        return std::string("the process reading it crashed (") + strsignal(WTERMSIG(status)) + ")";
    if (!collected || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the process reading it ended without a whole answer";
    return "";
}
