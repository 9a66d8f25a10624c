// Helpers shared by the tests: whole files, scratch files and folders that
// leave nothing behind, program runs with their output captured or in the
// background, an XML check, deep trees with a thread of a small stack to walk
// them in, and Newick text for the tests of the tree library.
#ifndef ORVANE_TEST_SUPPORT_H
#define ORVANE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

inline std::string readFile(const fs::path &path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

inline void writeFile(const fs::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A name in the system's temporary folder that no other test program uses.
inline fs::path uniqueTempPath(const std::string &name)
{
    static int count = 0;
    return fs::temp_directory_path() /
           ("orvane-test-" + std::to_string(getpid()) + "-" + std::to_string(count++) + "-" + name);
}

// Writes `text` to a file of its own in the temporary folder, removed when the
// test program ends, and returns its path.
inline std::string scratchFile(const std::string &name, const std::string &text)
{
    struct Files {
        ~Files()
        {
            for (const fs::path &path : paths)
                fs::remove(path);
        }
        std::vector<fs::path> paths;
    };
    static Files files;
    files.paths.push_back(uniqueTempPath(name));
    writeFile(files.paths.back(), text);
    return files.paths.back().string();
}

// A fresh folder under the temporary folder.
inline fs::path makeTempFolder()
{
    std::string name = (fs::temp_directory_path() / "orvane-test-XXXXXX").string();
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
    return name;
}

// A fresh folder, removed with everything in it when this goes out of scope;
// `path` ends in '/', so file names can be appended.
struct TempDir {
    TempDir() : path(makeTempFolder().string() + "/") {}
    ~TempDir() { fs::remove_all(path); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string path;
};

// Exit status, standard output and standard error of one run.
struct RunResult {
    int status;
    std::string out, err;
    bool operator==(const RunResult &other) const
    {
        return status == other.status && out == other.out && err == other.err;
    }
};

inline void PrintTo(const RunResult &r, std::ostream *os)
{
    *os << "status " << r.status << ", out \"" << r.out << "\", err \"" << r.err << "\"";
}

// The exit status of a wait status, or 128 + the signal that ended the process.
inline int exitStatus(int waitStatus)
{
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// Runs shell commands with no input; their output is captured outside every
// folder the tests look at.
inline RunResult runCommand(const std::string &command)
{
    const fs::path out = uniqueTempPath("stdout"), err = uniqueTempPath("stderr");
    const int status = std::system(("(" + command + ") >'" + out.string() + "' 2>'" + err.string() +
                                    "' </dev/null").c_str());
    RunResult result{exitStatus(status), readFile(out), readFile(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
}

inline RunResult runIn(const fs::path &folder, const std::string &command)
{
    return runCommand("cd '" + folder.string() + "' && " + command);
}

// Starts a program with its arguments, without waiting for it; standard output
// is discarded, standard error goes to the file `errPath` or is discarded.
inline pid_t start(const std::vector<std::string> &args, const std::string &errPath = "/dev/null")
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char *> argv;
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        dup2(open("/dev/null", O_WRONLY), 1);
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

// Checks the XML file at `path` with xmllint when the machine has it.
inline void expectWellFormedXml(const std::string &path)
{
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        std::cout << "xmllint not found (Debian package libxml2-utils): " << path << " not checked\n";
        return;
    }
    EXPECT_EQ(std::system(("xmllint --noout '" + path + "'").c_str()), 0) << readFile(path);
}

// A test in a fresh folder `dir`, removed with everything in it afterwards.
class InTempFolder : public ::testing::Test {
protected:
    ~InTempFolder() override { fs::remove_all(dir); }

    RunResult shell(const std::string &command) const { return runIn(dir, command); }

    // Every entry under the folder with its content (empty for all but files),
    // to show that a refused run created and changed nothing.
    std::map<std::string, std::string> snapshot() const
    {
        std::map<std::string, std::string> files;
        for (const auto &entry : fs::recursive_directory_iterator(dir))
            files[entry.path().string()] = entry.is_regular_file() ? readFile(entry.path()) : "";
        return files;
    }

    const fs::path dir = makeTempFolder();
};

// Runs `body` on a thread of `stackBytes` of stack, as schedulers and thread
// pools give: no walk of a deep tree may depend on a large stack. Returns false
// when the thread cannot be made; a stack overflow kills the test.
inline bool runWithStack(size_t stackBytes, std::function<void()> body)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    pthread_t thread;
    const auto run = [](void *work) -> void * {
        (*static_cast<std::function<void()> *>(work))();
        return nullptr;
    };
    const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                         pthread_create(&thread, &attributes, run, &body) == 0;
    pthread_attr_destroy(&attributes);
    return started && pthread_join(thread, nullptr) == 0;
}

const size_t kOneMegabyte = 1 << 20;

// The deepest nesting the Newick reader accepts.
const int kDeepestNesting = 10000;

// Newick text of a comb of `levels` internal nodes, numbered from the root
// down: node i holds `perLevel` tips (the deepest one more), then node i+1.
// Tips are numbered 0, 1, ... from the root down; every branch is 1 long and
// written as the Newick writer writes it, so the text reads back unchanged.
inline std::string combNewick(int levels, int perLevel)
{
    std::string text;
    int tip = 0;
    for (int i = 0; i < levels; i++) {
        text += "(";
        for (int j = 0; j < perLevel + (i == levels - 1); j++)
            text += (j ? "," : "") + std::to_string(tip++) + ":1.000000";
        if (i < levels - 1)
            text += ",";
    }
    for (int i = levels - 1; i > 0; i--)
        text += "):1.000000";
    return text + ");";
}

// Newick text to and from the tree library, for the tests that include
// tree/newick.h before this header.
#ifdef VESSIK_NEWICK_H
inline vessik::Tree *readText(const std::string &text, vessik::Tree *into = nullptr)
{
    return vessik::readNewickText(text, into);
}

inline std::string writeText(vessik::Tree *tree, bool oneline = true)
{
    return vessik::newickText(tree, oneline);
}
#endif

// What the libraries send through their message sink while this lives,
// written as the programs write it ("error: " lines, texts as they are).
#ifdef VESSIK_MESSAGES_H
struct CapturedMessages {
    std::string text;
    vessik::ScopedMessageSink sink{[this](vessik::MessageKind kind, const std::string &message) {
        text += kind == vessik::MessageKind::Error ? "error: " + message + "\n" : message;
    }};
};
#endif

#endif
