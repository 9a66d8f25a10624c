#include "io/outputs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace {

// A temporary folder and the paths of the files that are or may be in it.
struct TemporaryFolder {
    std::string path;
    std::vector<std::string> files;
};

// The temporary files and folders that exist now. They change only while
// SIGINT and SIGTERM are held off, so the handler always finds them whole,
// and the handler is installed only while one of them is not empty.
std::vector<std::string> temporaries;
std::vector<TemporaryFolder> temporaryFolders;
struct sigaction previousInt, previousTerm;

extern "C" void removeTemporariesAndEnd(int signalNumber)
{
    // unlink, rmdir, signal and raise are async-signal-safe; the strings are
    // only read. Files go first, so that their folders are empty.
    for (const std::string &path : temporaries)
        unlink(path.c_str());
    for (const TemporaryFolder &folder : temporaryFolders) {
        for (const std::string &path : folder.files)
            unlink(path.c_str());
        rmdir(folder.path.c_str());
    }
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

// Called with the signals held, before a registry grows and after it shrinks.
void beforeRegistering()
{
    if (temporaries.empty() && temporaryFolders.empty()) {
        installHandler(SIGINT, previousInt);
        installHandler(SIGTERM, previousTerm);
    }
}

void afterForgetting()
{
    if (temporaries.empty() && temporaryFolders.empty()) {
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
    }
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
    beforeRegistering();
    temporaries.push_back(temporaryPath);
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
    afterForgetting();
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

// ---- whole folders ------------------------------------------------------------

namespace {

std::string systemReason(int error)
{
    return std::string(" (") + std::strerror(error) + ")";
}

// The entries of a folder other than "." and ".."; false when it cannot be read.
bool folderEntries(const std::string &dir, std::vector<std::string> &names)
{
    DIR *folder = opendir(dir.c_str());
    if (folder == nullptr)
        return false;
    names.clear();
    while (const dirent *entry = readdir(folder))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    closedir(folder);
    return true;
}

// A temporary folder made from `pattern` (ending in XXXXXX), registered with
// the files to be written in it for removal on SIGINT and SIGTERM, and
// removed with them when this ends, unless released first.
class FolderInProgress {
public:
    FolderInProgress(const std::string &pattern, const std::vector<OutputFile> &files)
        : path(pattern)
    {
        const SignalsHeld held;
        // Registered before it exists, so that no moment passes with it unregistered.
        beforeRegistering();
        temporaryFolders.push_back({path, {}});
        made = mkdtemp(&path[0]) != nullptr;
        error = errno;
        temporaryFolders.back().path = path;
        for (const OutputFile &file : files)
            temporaryFolders.back().files.push_back(path + "/" + file.path);
    }
    ~FolderInProgress()
    {
        const SignalsHeld held;
        const auto folder = registered();
        if (folder == temporaryFolders.end())
            return;
        for (const std::string &file : folder->files)
            unlink(file.c_str());
        rmdir(path.c_str());
        release();
    }
    FolderInProgress(const FolderInProgress &) = delete;
    FolderInProgress &operator=(const FolderInProgress &) = delete;

    // Its files have gone to their place: nothing is left to remove. Called
    // with the signals held.
    void release()
    {
        const auto folder = registered();
        if (folder != temporaryFolders.end())
            temporaryFolders.erase(folder);
        afterForgetting();
    }

    std::string path;
    bool made = false;
    int error = 0;

private:
    std::vector<TemporaryFolder>::iterator registered()
    {
        return std::find_if(temporaryFolders.begin(), temporaryFolders.end(),
                            [&](const TemporaryFolder &folder) { return folder.path == path; });
    }
};

// Writes every file into the temporary folder; a message names them in `dir`.
std::string writeInto(const FolderInProgress &temporary, const std::string &dir,
                      const std::vector<OutputFile> &files)
{
    if (!temporary.made)
        return dir + ": cannot create a folder to write in" + systemReason(temporary.error);
    for (const OutputFile &file : files) {
        const std::string problem =
            writeFileAtomically(temporary.path + "/" + file.path, file.write);
        if (!problem.empty())
            return dir + problem.substr(temporary.path.size());
    }
    return "";
}

// A folder that does not exist yet: written beside it as .NAME.tmp-XXXXXX,
// then renamed to it, so that it appears complete.
std::string writeNewFolder(const std::string &dir, const std::vector<OutputFile> &files)
{
    FolderInProgress temporary(folderOf(dir) + "." + nameOf(dir) + ".tmp-XXXXXX", files);
    std::string problem = writeInto(temporary, dir, files);
    if (!problem.empty())
        return problem;
    // The mode mkdir would give, with the setgid bit it took from its parent.
    struct stat info;
    const mode_t setgid = stat(temporary.path.c_str(), &info) == 0 ? info.st_mode & S_ISGID : 0;
    const mode_t mask = umask(0);
    umask(mask);
    chmod(temporary.path.c_str(), (0777 & ~mask) | setgid);
    const SignalsHeld held;
    if (lstat(dir.c_str(), &info) == 0)
        return dir + ": was created by something else meanwhile; nothing was written";
    if (std::rename(temporary.path.c_str(), dir.c_str()) != 0)
        return dir + ": cannot create the folder" + systemReason(errno);
    temporary.release();
    return "";
}

// An existing empty folder keeps its own mode, owner, group and setgid bit
// (and stays the folder a shell may be in): the files are written into a
// temporary folder inside it, .orvane-tmp-XXXXXX, then moved up one by one
// with the signals held, all or none.
std::string fillEmptyFolder(const std::string &dir, const std::vector<OutputFile> &files)
{
    FolderInProgress temporary(dir + "/.orvane-tmp-XXXXXX", files);
    const std::string problem = writeInto(temporary, dir, files);
    if (!problem.empty())
        return problem;
    const SignalsHeld held;
    std::vector<std::string> names;
    if (!folderEntries(dir, names) || names.size() != 1 || names[0] != nameOf(temporary.path))
        return dir + ": files appeared in the folder meanwhile; nothing was written";
    size_t moved = 0;
    int error = 0;
    for (; moved < files.size() && error == 0; moved++) {
        const std::string from = temporary.path + "/" + files[moved].path;
        if (std::rename(from.c_str(), (dir + "/" + files[moved].path).c_str()) != 0)
            error = errno;
    }
    if (error == 0) {
        rmdir(temporary.path.c_str());
        temporary.release();
        return "";
    }
    moved--;  // the file that failed
    const std::string message =
        dir + "/" + files[moved].path + ": cannot write the file" + systemReason(error);
    for (size_t i = 0; i < moved; i++)
        std::rename((dir + "/" + files[i].path).c_str(),
                    (temporary.path + "/" + files[i].path).c_str());
    return message;
}

} // namespace

std::string checkOutputFolder(const std::string &dir)
{
    struct stat info;
    if (stat(dir.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return dir + ":" + systemReason(errno).substr(1);
        if (lstat(dir.c_str(), &info) == 0)
            return dir + ": is a symbolic link to a folder that does not exist; create that "
                         "folder or name another";
        // A new folder: the one it goes in must take it.
        const std::string parent = folderOf(dir).empty() ? "." : folderOf(dir);
        if (access(parent.c_str(), W_OK | X_OK) != 0)
            return dir + ": cannot create the folder" + systemReason(errno);
        return "";
    }
    if (!S_ISDIR(info.st_mode))
        return dir + ": exists and is not a folder";
    std::vector<std::string> names;
    if (!folderEntries(dir, names))
        return dir + ": cannot read the folder" + systemReason(errno);
    if (!names.empty())
        return dir + ": the folder exists and is not empty; remove it or name a new one";
    if (access(dir.c_str(), W_OK | X_OK) != 0)
        return dir + ": cannot write in the folder" + systemReason(errno);
    return "";
}

std::string writeFolderAtomically(const std::string &dir, const std::vector<OutputFile> &files)
{
    std::string problem = checkOutputFolder(dir);
    if (!problem.empty())
        return problem;
    struct stat info;
    return stat(dir.c_str(), &info) == 0 ? fillEmptyFolder(dir, files)
                                         : writeNewFolder(dir, files);
}
