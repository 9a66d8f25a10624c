// Writing the programs' output files so that a reader never sees a part of
// one, and a run that fails or is interrupted leaves nothing of its own.
//
// A target that is a regular file, or that does not exist yet, is written to
// a temporary file beside it, `.NAME.orvane-tmp-XXXXXX`, which is renamed over
// it once every byte is on disk; the permission bits of a file it replaces are
// kept. A symbolic link is followed, and its final target is replaced in the
// same way (the temporary file goes beside that target). A target that exists
// and is not a regular file (a FIFO, a character device, a descriptor under
// /proc such as /dev/stdout) is written in place, appended to its open file,
// since replacing it would destroy the device or pipe the user named.
//
// SIGINT and SIGTERM that arrive while a temporary file exists remove every
// such file, then end the process as the signal's default action does.
#ifndef ORVANE_OUTPUTS_H
#define ORVANE_OUTPUTS_H

#include <csignal>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

using Writer = std::function<void(std::ostream &)>;

struct OutputFile {
    std::string path;
    Writer write;
};

// Each returns an empty string on success, otherwise the message to print
// after "error: ", naming the path as given.
std::string writeFileAtomically(const std::string &path, const Writer &write);

// Writes all the files or none: the writers are called in order, each into
// its own temporary file (the content for a target written in place is held
// in memory meanwhile); only when all are complete are targets written in
// place and the temporary files renamed, with SIGINT and SIGTERM held off. A
// rename that still fails undoes the earlier ones: a file that did not exist
// is removed again, a replaced one gets its former content back.
std::string writeFilesAtomically(const std::vector<OutputFile> &files);

// A folder written whole: `dir` either does not exist yet, or is an empty
// folder (a symbolic link to one is followed). The paths of `files` are names
// inside it. checkOutputFolder says, before any work, whether `dir` can be
// written so; writeFolderAtomically checks again and writes. A new folder is
// written as a temporary folder `.NAME.tmp-XXXXXX` beside it and renamed; an
// existing one keeps its mode, owner, group and setgid bit, and gets its files
// moved in from a temporary folder `.orvane-tmp-XXXXXX` inside it. A failure
// or SIGINT or SIGTERM leaves no temporary folder and no file behind.
std::string checkOutputFolder(const std::string &dir);
std::string writeFolderAtomically(const std::string &dir, const std::vector<OutputFile> &files);

// For writers of other files. While an object of this class lives, SIGINT and
// SIGTERM are held off, and delivered when it ends.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld &) = delete;
    SignalsHeld &operator=(const SignalsHeld &) = delete;

private:
    sigset_t previous_;
};

// Creates `.NAME.orvane-tmp-XXXXXX` beside `target` (a path whose links are
// already followed) with mode 0600 and registers it for removal on SIGINT and
// SIGTERM. Returns its open descriptor, or -1 with errno set.
int createTemporaryFile(const std::string &target, std::string &temporaryPath);
// Takes a path from the registry once it has been renamed or removed.
void forgetTemporaryFile(const std::string &temporaryPath);

#endif
