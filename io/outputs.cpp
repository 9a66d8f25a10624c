#include "io/outputs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace {

// The temporary files that exist now. It changes only while SIGINT and
// SIGTERM are held off, so the handler always finds it whole, and the
// handler is installed only while it is not empty.
std::vector<std::string> temporaries;
struct sigaction previousInt, previousTerm;

extern "C" void removeTemporariesAndEnd(int signalNumber)
{
    // unlink, signal and raise are async-signal-safe; the strings are only read.
    for (const std::string &path : temporaries)
        unlink(path.c_str());
    signal(signalNumber, SIG_DFL);
    // Delivered, with the default action, as soon as the handler returns.
    raise(signalNumber);
}

// A signal the process was started with ignored (nohup, a background job)
// stays ignored.
void installHandler(int signalNumber, struct sigaction &previous)
{
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndEnd;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(signalNumber, &action, &previous);
    if (previous.sa_handler == SIG_IGN)
        sigaction(signalNumber, &previous, nullptr);
}

std::string writeFailure(const std::string &path, int error)
{
    std::string message = path + ": cannot write the file";
    if (error != 0)
        message += std::string(" (") + std::strerror(error) + ")";
    return message;
}

// Permission bits for the finished file: those of the file it replaces, or
// what creating it afresh would give (mkstemp itself creates it as 0600).
mode_t finishedFileMode(const std::string &path)
{
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0)
        return existing.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The folder part of a path, with its final slash ("" for a bare name), and the name.
std::string folderOf(const std::string &path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string nameOf(const std::string &path)
{
    return path.substr(folderOf(path).size());
}

bool inProcFileSystem(const std::string &folder)
{
#ifdef __linux__
    struct statfs info;
    return statfs(folder.empty() ? "." : folder.c_str(), &info) == 0 &&
           info.f_type == PROC_SUPER_MAGIC;
#else
    (void)folder;
    return false;
#endif
}

// Where and how one output goes.
struct Target {
    std::string path;      // the final path, symbolic links followed
    bool inPlace = false;  // written into the existing file, not replaced
    bool existed = false;  // a regular file was there before
};

// Follows symbolic links one at a time, as the kernel would, but stops at a
// link under /proc: those name open descriptors (/dev/stdout leads there),
// whose file must be written through, not replaced by name.
std::string resolveTarget(const std::string &path, Target &target)
{
    std::string current = path;
    for (int links = 0; links <= 40; links++) {
        const std::string name = nameOf(current);
        if (name.empty() || name == "." || name == "..")
            return writeFailure(path, EISDIR);
        target.path = current;
        if (inProcFileSystem(folderOf(current))) {
            target.inPlace = true;
            return "";
        }
        struct stat info;
        if (lstat(current.c_str(), &info) != 0)
            return errno == ENOENT ? "" : writeFailure(path, errno);
        if (S_ISLNK(info.st_mode)) {
            std::string link(PATH_MAX, '\0');
            const ssize_t length = readlink(current.c_str(), &link[0], link.size());
            if (length < 0)
                return writeFailure(path, errno);
            link.resize(length);
            current = link[0] == '/' ? link : folderOf(current) + link;
            continue;
        }
        if (S_ISDIR(info.st_mode))
            return writeFailure(path, EISDIR);
        target.existed = S_ISREG(info.st_mode);
        target.inPlace = !target.existed;
        return "";
    }
    return writeFailure(path, ELOOP);
}

// Writes `content` into the existing file at `path`, without truncating it.
std::string writeInPlace(const std::string &path, const std::string &content,
                         const std::string &named)
{
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << content;
    out.close();
    return out.fail() ? writeFailure(named, errno) : "";
}

void removeTemporaryFile(const std::string &temporaryPath)
{
    const SignalsHeld held;
    unlink(temporaryPath.c_str());
    forgetTemporaryFile(temporaryPath);
}

// Writes the whole content into a new temporary file beside `target`. On
// failure nothing is left and the message is returned.
std::string writeTemporaryFile(const Target &target, const Writer &write,
                               const std::string &named, std::string &temporaryPath)
{
    const int fd = createTemporaryFile(target.path, temporaryPath);
    if (fd < 0)
        return writeFailure(named, errno);
    (void)fchmod(fd, finishedFileMode(target.path));
    errno = 0;
    std::ofstream out(temporaryPath, std::ios::binary | std::ios::trunc);
    write(out);
    out.close();
    bool written = !out.fail();
    // Only bytes that reached the disk may replace the target.
    if (written)
        written = fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (written)
        return "";
    removeTemporaryFile(temporaryPath);
    temporaryPath.clear();
    return writeFailure(named, error);
}

// A second name for the file at `path`, so that it can be put back after it
// has been replaced; empty when the file system cannot make one.
std::string keepFormerFile(const std::string &path)
{
    std::string backup = folderOf(path) + "." + nameOf(path) + ".orvane-old-XXXXXX";
    const int fd = mkstemp(&backup[0]);
    if (fd < 0)
        return "";
    close(fd);
    unlink(backup.c_str());
    return link(path.c_str(), backup.c_str()) == 0 ? backup : "";
}

// The temporary files of one write that are not renamed yet; whatever is
// left of them when the write ends, by failure or exception, is removed.
struct PendingFiles {
    explicit PendingFiles(size_t count) : paths(count) {}
    ~PendingFiles()
    {
        for (const std::string &path : paths)
            if (!path.empty())
                removeTemporaryFile(path);
    }
    PendingFiles(const PendingFiles &) = delete;
    PendingFiles &operator=(const PendingFiles &) = delete;
    std::vector<std::string> paths;
};

// Renames every temporary file over its target, all or none. Called with
// the signals held off, so that no signal ends the process half way.
std::string renameAll(const std::vector<OutputFile> &files, const std::vector<Target> &targets,
                      std::vector<std::string> &temporaryPaths)
{
    const size_t count = files.size();
    std::vector<std::string> backups(count);
    // The last rename is never undone, so its target needs no second name.
    size_t last = count;
    for (size_t i = 0; i < count; i++)
        if (!targets[i].inPlace)
            last = i;
    for (size_t i = 0; i < count; i++)
        if (!targets[i].inPlace && targets[i].existed && i != last)
            backups[i] = keepFormerFile(targets[i].path);

    std::string message;
    size_t renamed = 0;
    for (; renamed < count; renamed++) {
        std::string &temporary = temporaryPaths[renamed];
        if (temporary.empty())
            continue;
        if (std::rename(temporary.c_str(), targets[renamed].path.c_str()) != 0) {
            message = writeFailure(files[renamed].path, errno);
            break;
        }
        forgetTemporaryFile(temporary);
        temporary.clear();
    }
    // Undo the renames made; the temporary files left are removed by their owner.
    for (size_t i = 0; !message.empty() && i < renamed; i++) {
        if (targets[i].inPlace)
            continue;
        if (!backups[i].empty())
            std::rename(backups[i].c_str(), targets[i].path.c_str());
        else if (!targets[i].existed)
            unlink(targets[i].path.c_str());
    }
    for (const std::string &backup : backups)
        if (!backup.empty())
            unlink(backup.c_str());
    return message;
}

} // namespace

SignalsHeld::SignalsHeld()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &signals, &previous_);
}

SignalsHeld::~SignalsHeld()
{
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

int createTemporaryFile(const std::string &target, std::string &temporaryPath)
{
    temporaryPath = folderOf(target) + "." + nameOf(target) + ".orvane-tmp-XXXXXX";
    const SignalsHeld held;
    // Registered before it exists, so that no moment passes with the file unregistered.
    temporaries.push_back(temporaryPath);
    if (temporaries.size() == 1) {
        installHandler(SIGINT, previousInt);
        installHandler(SIGTERM, previousTerm);
    }
    const int fd = mkstemp(&temporaryPath[0]);
    const int error = errno;
    temporaries.back() = temporaryPath;
    if (fd < 0)
        forgetTemporaryFile(temporaryPath);
    errno = error;
    return fd;
}

void forgetTemporaryFile(const std::string &temporaryPath)
{
    const SignalsHeld held;
    const auto found = std::find(temporaries.begin(), temporaries.end(), temporaryPath);
    if (found == temporaries.end())
        return;
    temporaries.erase(found);
    if (temporaries.empty()) {
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
    }
}

std::string writeFilesAtomically(const std::vector<OutputFile> &files)
{
    const size_t count = files.size();
    std::vector<Target> targets(count);
    for (size_t i = 0; i < count; i++) {
        const std::string message = resolveTarget(files[i].path, targets[i]);
        if (!message.empty())
            return message;
    }
    PendingFiles pending(count);
    std::vector<std::string> inPlaceContent(count);
    for (size_t i = 0; i < count; i++) {
        std::string message;
        if (targets[i].inPlace) {
            std::ostringstream content;
            files[i].write(content);
            inPlaceContent[i] = content.str();
            if (content.fail())
                message = writeFailure(files[i].path, 0);
        } else {
            message = writeTemporaryFile(targets[i], files[i].write, files[i].path, pending.paths[i]);
        }
        if (!message.empty())
            return message;
    }
    for (size_t i = 0; i < count; i++) {
        if (!targets[i].inPlace)
            continue;
        const std::string message =
            writeInPlace(targets[i].path, inPlaceContent[i], files[i].path);
        if (!message.empty())
            return message;
    }
    const SignalsHeld held;
    return renameAll(files, targets, pending.paths);
}

std::string writeFileAtomically(const std::string &path, const Writer &write)
{
    return writeFilesAtomically({{path, write}});
}
