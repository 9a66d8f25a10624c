#include "validation/runFiles.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tree/messages.h"

namespace {

std::string withReason(const std::string &message, int error)
{
    return error != 0 ? message + " (" + std::strerror(error) + ")" : message;
}

} // namespace

void removeRun(const std::vector<LogMark> &marks)
{
    // Special files (a pipe, a terminal, /dev/full) cannot be cut and are left alone.
    for (const LogMark &mark : marks)
        if (mark.regular && !mark.existed)
            unlink(mark.path.c_str());
        else if (mark.regular)
            truncate(mark.path.c_str(), static_cast<off_t>(mark.size));
}

std::string appendWholeRun(const std::vector<LogText> &logs, std::vector<LogMark> *marks)
{
    std::vector<LogMark> done;
    for (const LogText &log : logs) {
        LogMark mark;
        mark.path = log.path;
        struct stat status;
        mark.existed = lstat(log.path.c_str(), &status) == 0;
        const int fd = ::open(log.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            removeRun(done);
            return withReason(log.path + ": cannot open the log for appending", error);
        }
        if (fstat(fd, &status) == 0) {
            mark.regular = S_ISREG(status.st_mode);
            mark.size = status.st_size;
        }
        // A link to a regular file was there before: only its end is undone.
        mark.existed = mark.existed || !mark.regular;
        done.push_back(mark);

        errno = 0;
        const ssize_t written = write(fd, log.text.data(), log.text.size());
        bool whole = written == static_cast<ssize_t>(log.text.size());
        // A full disk may only show when the data reach it.
        if (whole && mark.regular && fsync(fd) != 0)
            whole = false;
        const int error = written < 0 || errno != 0 ? errno : ENOSPC;
        close(fd);
        if (!whole) {
            removeRun(done);
            return withReason(log.path + ": cannot append this run to the log, so no log got it",
                              error);
        }
    }
    if (marks != nullptr)
        *marks = done;
    return "";
}
