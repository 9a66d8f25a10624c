// All-or-nothing writing of an output folder through a temporary folder.
#include "report/OutputFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string failure(const std::string &path, const std::string &what, int error)
{
    return path + ": " + what + (error != 0 ? std::string(" (") + std::strerror(error) + ")" : "");
}

// Writes `content` to a new file at `path` and flushes it to disk.
std::string writeFile(const std::string &path, const std::string &content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0)
        return failure(path, "cannot create the file", errno);
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            const int error = errno;
            close(fd);
            return failure(path, "cannot write the file", error);
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return failure(path, "cannot write the file", error);
    }
    if (close(fd) != 0)
        return failure(path, "cannot write the file", errno);
    return "";
}

void removeStaged(const std::string &staging, const std::vector<std::pair<std::string, std::string>> &files)
{
    for (const auto &file : files)
        unlink((staging + "/" + file.first).c_str());
    rmdir(staging.c_str());
}

// The name under which the file `name` of the existing folder is kept until
// all new files are in place.
std::string keptName(const std::string &staging, const std::string &name)
{
    return staging + "/old-" + name;
}

// Moves the staged files into the existing folder `target`, all or none: the
// files they replace are kept (hard-linked, or moved where the file system
// has no links) until every new file is in place, and put back on failure.
std::string replaceFiles(const std::string &target, const std::string &staging,
                         const std::vector<std::pair<std::string, std::string>> &files)
{
    std::vector<bool> kept(files.size(), false);
    std::string problem;
    std::size_t moved = 0;
    for (; moved < files.size() && problem.empty(); moved++) {
        const std::string path = target + "/" + files[moved].first;
        const std::string old = keptName(staging, files[moved].first);
        if (link(path.c_str(), old.c_str()) == 0 || rename(path.c_str(), old.c_str()) == 0)
            kept[moved] = true;
        else if (errno != ENOENT)
            problem = failure(path, "cannot replace the file", errno);
        if (problem.empty() && rename((staging + "/" + files[moved].first).c_str(), path.c_str()) != 0)
            problem = failure(path, "cannot replace the file", errno);
    }
    for (std::size_t i = 0; i < moved; i++) {
        const std::string path = target + "/" + files[i].first;
        const std::string old = keptName(staging, files[i].first);
        if (!problem.empty() && kept[i])
            rename(old.c_str(), path.c_str());
        else if (!problem.empty() && i + 1 < moved)
            unlink(path.c_str());
        unlink(old.c_str());
    }
    removeStaged(staging, files);
    return problem;
}

} // namespace

std::string writeOutputFolder(const std::string &dir,
                              const std::vector<std::pair<std::string, std::string>> &files)
{
    std::string target = dir;
    while (target.size() > 1 && target.back() == '/')
        target.pop_back();
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISDIR(existing.st_mode))
        return target + ": exists and is not a folder";
    if (!exists && errno != ENOENT)
        return failure(target, "cannot reach the folder", errno);
    // Refused before anything is written, so that replacing files cannot fail halfway.
    if (exists && access(target.c_str(), W_OK | X_OK) != 0)
        return failure(target, "cannot write in the folder", errno);
    for (const auto &file : files) {
        struct stat old;
        const std::string path = target + "/" + file.first;
        if (exists && lstat(path.c_str(), &old) == 0 && !S_ISREG(old.st_mode))
            return path + ": exists and is not a file";
    }

    // Inside the folder when it exists, else beside it: the final renames
    // then stay on one file system and need no other permission.
    std::string staging = exists ? target + "/.partial-XXXXXX" : target + ".partial-XXXXXX";
    if (mkdtemp(&staging[0]) == nullptr)
        return failure(staging.substr(0, staging.size() - 6) + "XXXXXX", "cannot create a temporary folder", errno);
    // mkdtemp makes the folder private; give it the permissions mkdir would.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(staging.c_str(), 0777 & ~mask);

    for (const auto &file : files) {
        const std::string problem = writeFile(staging + "/" + file.first, file.second);
        if (!problem.empty()) {
            removeStaged(staging, files);
            return problem;
        }
    }
    if (!exists) {
        if (rename(staging.c_str(), target.c_str()) == 0)
            return "";
        const int error = errno;
        removeStaged(staging, files);
        return failure(target, "cannot create the folder", error);
    }
    return replaceFiles(target, staging, files);
}
