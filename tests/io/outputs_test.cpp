// Output writing: whole files or none, links followed, FIFOs and devices
// written in place, nothing left behind by SIGINT and SIGTERM; through the
// writer itself and through Orvane and Orvane-folds.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "io/outputs.h"

#include "../test_support.h"

namespace {

const std::string kData = TEST_DATA_DIR "/app/";
const std::string kTest = "-test -d " + kData + "samples3.txt -c " + kData + "model3.txt";
const std::string kClasses = "1\n3\n2\n1\n";  // what kTest writes

// Runs `body` in a child process; returns its wait status.
template <typename Body> int inChild(Body body)
{
    const pid_t child = fork();
    if (child == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

class Outputs : public InTempFolder {
protected:
    void TearDown() override
    {
        if (!mountPoint.empty())
            umount2(mountPoint.c_str(), MNT_DETACH);
    }

    // Exit status of a shell command, or 128 + the signal that ended it.
    static int run(const std::string &command) { return runCommand(command).status; }

    // Every entry under the folder, recursively, as paths relative to it.
    std::set<std::string> entries() const
    {
        std::set<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(dir))
            names.insert(entry.path().lexically_relative(dir).string());
        return names;
    }

    std::string path(const std::string &name) const { return (dir / name).string(); }

    // A two-class labels file and a sample table of n samples, one feature each.
    void makeSamples(int n)
    {
        std::ofstream samples(dir / "samples.txt"), labels(dir / "labels.txt");
        for (int i = 0; i < n; i++)
            samples << i << "\t1\n";
        for (int c = 0; c < 2; c++) {
            labels << ">\n";
            for (int i = c + 1; i <= n; i += 2)
                labels << i << ' ';
            labels << '\n';
        }
    }

    std::string folds(const std::string &prefix, int repetitions) const
    {
        return "'" ORVANE_FOLDS "' -d " + path("samples.txt") + " -l " + path("labels.txt") +
               " -n " + std::to_string(repetitions) + " -k 2 -s " + path(prefix) + " 2>" +
               path("err.log");
    }

    std::string mountPoint;
};

TEST_F(Outputs, RegularFilesAreReplacedWholeKeepingTheirMode)
{
    const std::string target = path("old.txt");
    writeFile(target, "previous\n");
    chmod(target.c_str(), 0640);
    const Writer failing = [](std::ostream &out) {
        out << "half";
        out.setstate(std::ios::badbit);
    };
    EXPECT_EQ(writeFileAtomically(target, failing), target + ": cannot write the file");
    EXPECT_EQ(readFile(target), "previous\n");
    EXPECT_EQ(entries(), (std::set<std::string>{"old.txt"}));

    EXPECT_EQ(writeFileAtomically(target, [](std::ostream &out) { out << "new\n"; }), "");
    EXPECT_EQ(readFile(target), "new\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    EXPECT_EQ(entries(), (std::set<std::string>{"old.txt"}));

    EXPECT_EQ(writeFileAtomically(path("nodir/x.txt"), failing),
              path("nodir/x.txt") + ": cannot write the file (No such file or directory)");
    fs::create_directory(dir / "folder");
    EXPECT_EQ(writeFileAtomically(path("folder"), failing),
              path("folder") + ": cannot write the file (Is a directory)");
    EXPECT_EQ(entries(), (std::set<std::string>{"old.txt", "folder"}));
}

TEST_F(Outputs, SymbolicLinksAreFollowedAndTheirFinalTargetReplaced)
{
    fs::create_directory(dir / "real");
    writeFile(dir / "real/out.txt", "old\n");
    chmod(path("real/out.txt").c_str(), 0600);
    fs::create_symlink("real/out.txt", dir / "link");  // relative to the link's folder
    fs::create_symlink(path("link"), dir / "real/chain");
    EXPECT_EQ(run("'" ORVANE_PROGRAM "' " + kTest + " -o " + path("real/chain")), 0);
    EXPECT_EQ(readFile(dir / "real/out.txt"), kClasses);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_TRUE(fs::is_symlink(dir / "real/chain"));
    EXPECT_EQ(fs::status(dir / "real/out.txt").permissions(), fs::perms(0600));

    // A link to a file not there yet creates it; one into a missing folder fails.
    fs::create_symlink("made.txt", dir / "dangling");
    EXPECT_EQ(writeFileAtomically(path("dangling"), [](std::ostream &out) { out << "x"; }), "");
    EXPECT_EQ(readFile(dir / "made.txt"), "x");
    fs::create_symlink("nodir/x.txt", dir / "broken");
    EXPECT_EQ(writeFileAtomically(path("broken"), [](std::ostream &out) { out << "x"; }),
              path("broken") + ": cannot write the file (No such file or directory)");
    fs::create_symlink("loop", dir / "loop");
    EXPECT_EQ(writeFileAtomically(path("loop"), [](std::ostream &out) { out << "x"; }),
              path("loop") + ": cannot write the file (Too many levels of symbolic links)");
    EXPECT_EQ(entries(), (std::set<std::string>{"real", "real/out.txt", "real/chain", "link",
                                                "dangling", "made.txt", "broken", "loop"}));
}

TEST_F(Outputs, FifosDevicesAndOpenDescriptorsAreWrittenInPlace)
{
    const std::string fifo = path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readFile(fifo); });
    EXPECT_EQ(run("'" ORVANE_PROGRAM "' " + kTest + " -o " + fifo), 0);
    reader.join();
    EXPECT_EQ(received, kClasses);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A link to the program's own standard output (what /dev/stdout is)
    // writes to the open file, after what is there: ">>" appends.
    fs::create_symlink("/proc/self/fd/1", dir / "stdout");
    writeFile(dir / "captured.txt", "before\n");
    EXPECT_EQ(run("'" ORVANE_PROGRAM "' " + kTest + " -o " + path("stdout") + " >>" +
                    path("captured.txt")),
              0);
    EXPECT_EQ(readFile(dir / "captured.txt"), "before\n" + kClasses);
    EXPECT_TRUE(fs::is_symlink(dir / "stdout"));

    // A null device of its own (making one needs root).
    const std::string null = path("null");
    if (mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make a character device here (needs root)";
    EXPECT_EQ(run("'" ORVANE_PROGRAM "' " + kTest + " -o " + null), 0);
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_EQ(entries(), (std::set<std::string>{"fifo", "stdout", "captured.txt", "null"}));
}

// A writer that writes a little, and sends `signalNumber` to its own process
// on its second call.
Writer signalOnSecondCall(int signalNumber)
{
    auto called = std::make_shared<int>(0);
    return [called, signalNumber](std::ostream &out) {
        out << "partial" << std::flush;
        if (++*called == 2)
            kill(getpid(), signalNumber);
    };
}

TEST_F(Outputs, SignalsRemoveTheTemporaryFilesAndEndTheProcess)
{
    writeFile(dir / "a.txt", "old a\n");
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        // The signal arrives while the second of three files is being written.
        const int status = inChild([&] {
            const Writer write = signalOnSecondCall(signalNumber);
            writeFilesAtomically({{path("a.txt"), write}, {path("b.txt"), write},
                                  {path("c.txt"), write}});
        });
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signalNumber);
        EXPECT_EQ(entries(), (std::set<std::string>{"a.txt"}));
        EXPECT_EQ(readFile(dir / "a.txt"), "old a\n");
    }
    // A signal ignored from the start stays ignored, and the write completes.
    const int status = inChild([&] {
        signal(SIGTERM, SIG_IGN);
        writeFileAtomically(path("a.txt"), [](std::ostream &out) {
            kill(getpid(), SIGTERM);
            out << "new a\n";
        });
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(dir / "a.txt"), "new a\n");
}

TEST_F(Outputs, SigtermEndsTrainingWithItsStatusAndLeavesNothing)
{
    // Large enough that the fit is still running when the signal comes.
    const int n = 3000, m = 1024;
    {
        std::ofstream samples(dir / "samples.txt"), labels(dir / "labels.txt"), tree(dir / "tree.tre");
        for (int i = 0; i < n; i++) {
            samples << i;
            for (int j = 0; j < m; j++)
                samples << '\t' << (i * 7 + j * 13) % 10 + 1;
            samples << '\n';
        }
        labels << ">\n";
        for (int i = 1; i <= n; i += 2)
            labels << i << ' ';
        labels << "\n>\n";
        for (int i = 2; i <= n; i += 2)
            labels << i << ' ';
        labels << '\n';
        tree << '(';
        for (int j = 0; j < m; j += 2)
            tree << (j ? "," : "") << '(' << j << ":1," << j + 1 << ":1):1";
        tree << ");\n";
    }
    const std::set<std::string> inputs = entries();
    const pid_t child = start({ORVANE_PROGRAM, "-train", "-d", path("samples.txt"), "-l",
                               path("labels.txt"), "-t", path("tree.tre"), "-lambda", "0.001",
                               "-o", path("model.txt")});
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the signal: make the input larger";
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(entries(), inputs);
}

TEST_F(Outputs, SigtermWhileFoldsWaitsOnAFifoRemovesItsTemporaryFile)
{
    // sets0.txt is written to its temporary file first; then the program
    // blocks opening the FIFO sets1.txt, which nobody reads.
    makeSamples(6);
    ASSERT_EQ(mkfifo(path("sets1.txt").c_str(), 0600), 0);
    const std::set<std::string> before = entries();
    const pid_t child = start({ORVANE_FOLDS, "-d", path("samples.txt"), "-l", path("labels.txt"),
                               "-n", "2", "-k", "2", "-s", path("sets")});
    bool temporaryFound = false;
    for (int wait = 0; wait < 1000 && !temporaryFound; wait++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const std::string &name : entries())
            temporaryFound = temporaryFound || name.rfind(".sets0.txt.orvane-tmp-", 0) == 0;
    }
    EXPECT_TRUE(temporaryFound);
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(entries(), before);
}

TEST_F(Outputs, FoldsWritesAllItsFilesOrNone)
{
    makeSamples(6);
    // The second target fails before anything is renamed: an earlier file
    // keeps its content, a new one is not created.
    writeFile(dir / "old0.txt", "old\n");
    fs::create_symlink("nodir/x.txt", dir / "old1.txt");
    fs::create_symlink("nodir/x.txt", dir / "new1.txt");
    const std::set<std::string> before = entries();
    EXPECT_EQ(run(folds("old", 3)), 1);
    EXPECT_EQ(run(folds("new", 3)), 1);
    fs::remove(dir / "err.log");
    EXPECT_EQ(entries(), before);
    EXPECT_EQ(readFile(dir / "old0.txt"), "old\n");

    EXPECT_EQ(run(folds("sets", 3)), 0);
    EXPECT_EQ(readFile(dir / "err.log"), "");
    for (const char *name : {"sets0.txt", "sets1.txt", "sets2.txt"})
        EXPECT_EQ(readFile(dir / name).substr(0, 4), "> 0\n") << name;
}

TEST_F(Outputs, AFailedRenameUndoesTheEarlierOnes)
{
    // The third target turns into a folder after it was looked at, so its
    // rename fails: the new first file goes, the second gets its content back.
    writeFile(dir / "b.txt", "old b\n");
    const Writer write = [](std::ostream &out) { out << "new\n"; };
    const Writer sabotage = [&](std::ostream &out) {
        out << "new\n";
        fs::create_directory(dir / "c.txt");
    };
    EXPECT_EQ(writeFilesAtomically({{path("a.txt"), write}, {path("b.txt"), write},
                                    {path("c.txt"), sabotage}}),
              path("c.txt") + ": cannot write the file (Is a directory)");
    EXPECT_EQ(entries(), (std::set<std::string>{"b.txt", "c.txt"}));
    EXPECT_EQ(readFile(dir / "b.txt"), "old b\n");
}

TEST_F(Outputs, FoldsOnAFullDiskWritesNothing)
{
    // Each sets file of 2000 samples in two folds takes about 18 KB; the
    // file system holds one.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to mount a small file system";
    const std::string small = path("small");
    fs::create_directory(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=32k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    mountPoint = small;
    makeSamples(2000);
    EXPECT_EQ(run(folds("small/sets", 3)), 1);
    EXPECT_EQ(readFile(dir / "err.log"),
              "error: " + path("small/sets1.txt") + ": cannot write the file (No space left on device)\n");
    EXPECT_TRUE(fs::is_empty(small));
    EXPECT_EQ(run(folds("small/sets", 1)), 0);
}

TEST_F(Outputs, FoldersAreWrittenWholeAndAnEmptyTargetKeepsItsModeAndGroup)
{
    const Writer write = [](std::ostream &out) { out << "x\n"; };
    const std::vector<OutputFile> files = {{"a.txt", write}, {"b.txt", write}};
    // An empty folder with the setgid bit (and, as root, another group) stays
    // itself; a new folder made in it takes its group and setgid bit.
    const std::string shared = path("shared");
    fs::create_directory(shared);
    ASSERT_EQ(chmod(shared.c_str(), 02750), 0);
    if (geteuid() == 0)
        (void)chown(shared.c_str(), -1, 12345);
    struct stat before, after, made;
    stat(shared.c_str(), &before);
    ASSERT_EQ(writeFolderAtomically(shared, files), "");
    ASSERT_EQ(writeFolderAtomically(shared + "/new", files), "");
    stat(shared.c_str(), &after);
    stat((shared + "/new").c_str(), &made);
    EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode && after.st_gid == before.st_gid);
    EXPECT_TRUE((made.st_mode & S_ISGID) && made.st_gid == before.st_gid);
    EXPECT_EQ(readFile(shared + "/new/b.txt"), "x\n");
    // A link to an empty folder is followed; a link to nothing is refused.
    fs::create_directory(dir / "target");
    fs::create_symlink("target", dir / "link");
    fs::create_symlink("nothing", dir / "dangling");
    EXPECT_EQ(writeFolderAtomically(path("link"), files), "");
    EXPECT_EQ(readFile(dir / "target" / "b.txt"), "x\n");
    EXPECT_EQ(writeFolderAtomically(path("dangling"), files),
              path("dangling") + ": is a symbolic link to a folder that does not exist; create "
                                 "that folder or name another");
    EXPECT_EQ(entries().size(), 11u);  // no temporary folder or file is left
}

TEST_F(Outputs, SignalsWhileAFolderIsWrittenLeaveNoTemporaryFolder)
{
    fs::create_directory(dir / "empty");
    const std::set<std::string> before = entries();
    for (const std::string name : {"new", "empty"}) {
        for (const int signalNumber : {SIGTERM, SIGINT}) {
            // The signal arrives while the second of three files is being written.
            const int status = inChild([&] {
                const Writer write = signalOnSecondCall(signalNumber);
                writeFolderAtomically(path(name), {{"a", write}, {"b", write}, {"c", write}});
            });
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << name;
            EXPECT_EQ(entries(), before) << name;
        }
    }
}

} // namespace
