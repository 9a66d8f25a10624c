#include "validation/runFiles.h"

#include <cerrno>
#include <cstdio>
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

struct OpenLog {
    int fd = -1;
    off_t oldSize = 0;
    bool regular = false;
};

// Puts every log back to its size before the run; special files (a pipe, a
// terminal, /dev/full) cannot be cut and are left alone.
void cutBack(const std::vector<OpenLog> &open)
{
    for (const OpenLog &log : open)
        if (log.regular && ftruncate(log.fd, log.oldSize) != 0)
            vessik::sendMessage(vessik::MessageKind::Text,
                                std::string("Orvane-cv: cannot cut a log back: ") +
                                    std::strerror(errno) + "\n");
}

void closeAll(const std::vector<OpenLog> &open)
{
    for (const OpenLog &log : open)
        close(log.fd);
}

} // namespace

std::string appendWholeRun(const std::vector<LogText> &logs)
{
    std::vector<OpenLog> open;
    for (const LogText &log : logs) {
        OpenLog entry;
        entry.fd = ::open(log.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (entry.fd < 0) {
            const int error = errno;
            cutBack(open);
            closeAll(open);
            return withReason(log.path + ": cannot open the log for appending", error);
        }
        struct stat status;
        if (fstat(entry.fd, &status) == 0) {
            entry.regular = S_ISREG(status.st_mode);
            entry.oldSize = status.st_size;
        }
        open.push_back(entry);

        errno = 0;
        const ssize_t written = write(entry.fd, log.text.data(), log.text.size());
        bool whole = written == static_cast<ssize_t>(log.text.size());
        // A full disk may only show when the data reach it.
        if (whole && entry.regular && fsync(entry.fd) != 0)
            whole = false;
        if (!whole) {
            const int error = written < 0 || errno != 0 ? errno : ENOSPC;
            cutBack(open);
            closeAll(open);
            return withReason(log.path + ": cannot append this run to the log, so no log got it",
                              error);
        }
    }
    closeAll(open);
    return "";
}
