// Shared by the msg2pst process tests: file and shell helpers, a message
// file writer, the reader of pffexport's item description files, and a
// fixture that runs msg2pst in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"

namespace tavrin::clitest {

namespace fsys = std::filesystem;

inline std::string slurp(const fsys::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Commands run through the system's shell: sh on POSIX systems, cmd.exe on
// Windows (the tests' own paths never hold a double quote there).

// The path as one shell word.
inline std::string quote(const fsys::path& p) {
#ifdef _WIN32
    return "\"" + p.string() + "\"";
#else
    std::string q = "'";
    for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

// The device that swallows output or gives no input.
inline const char* nullDevice() {
#ifdef _WIN32
    return "NUL";
#else
    return "/dev/null";
#endif
}

// "cd DIR && " for a command that must run in DIR.
inline std::string inFolder(const fsys::path& dir) {
#ifdef _WIN32
    return "cd /d " + quote(dir) + " && ";
#else
    return "cd " + quote(dir) + " && ";
#endif
}

// The command line as the shell is given it: cmd.exe /c takes away the
// first and the last double quote of a line that starts with one, so the
// whole line goes in one more pair.
inline std::string shellLine(const std::string& cmd) {
#ifdef _WIN32
    return "\"" + cmd + "\"";
#else
    return cmd;
#endif
}

// cmd.exe's status for "not an internal or external command". Under wine,
// on a loaded machine, cmd.exe now and then reports it for a program that is
// there (once in a run of 370 tests); msg2pst itself never exits with it, so
// a line that ends with it is run once more. So is one for which system()
// could not start cmd.exe at all (-1: seen once under wine, in a run of 432
// tests on two busy cores), which msg2pst's own statuses (0 to 3) never are.
constexpr int kCommandNotFound = 9009;
constexpr int kShellAttempts = 2;
inline bool neverRan(int status) { return status == kCommandNotFound || status == -1; }

// The exit status of a command line; -1 when it did not exit normally.
inline int shell(const std::string& cmd) {
#ifdef _WIN32
    int st = -1;
    for (int attempt = 0; attempt < kShellAttempts; ++attempt)
        if (!neverRan(st = std::system(shellLine(cmd).c_str()))) break;
    return st;
#else
    const int st = std::system(shellLine(cmd).c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
}

// A command's standard output (stderr too when the command says 2>&1), and
// its exit status in `status`.
inline std::string capture(const std::string& cmd, int& status) {
    std::string out;
    status = -1;
#ifdef _WIN32
    for (int attempt = 0; attempt < kShellAttempts; ++attempt) {
        FILE* p = ::_popen(shellLine(cmd).c_str(), "rb");
        if (!p) return out;
        out.clear();
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (!neverRan(status = ::_pclose(p))) break;
    }
#else
    FILE* p = ::popen(shellLine(cmd).c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int st = ::pclose(p);
    status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
#endif
    return out;
}

// A program of this build (msg2pst: "msg2pst.exe" on Windows).
inline fsys::path builtProgram(const std::string& name) {
#ifdef _WIN32
    return fsys::path(TAVRIN_BIN_DIR) / (name + ".exe");
#else
    return fsys::path(TAVRIN_BIN_DIR) / name;
#endif
}

inline long processId() {
#ifdef _WIN32
    return static_cast<long>(::_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// Whether a command-line tool of the host (pffexport, readpst) can be run.
// Windows builds never have them: the tests that use them are for POSIX
// systems.
inline bool haveTool(const char* name) {
#ifdef _WIN32
    (void)name;
    return false;
#else
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
#endif
}

// A message file with only a subject, creating its folders.
inline void writeMsg(const fsys::path& p, const std::string& subject) {
    using namespace store;
    fsys::create_directories(p.parent_path());
    testing::MessageBuilder m;
    m.unicode(makeTag(tags::PidTagSubject, PT_UNICODE), subject);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The "Key: value" lines of the description file pffexport writes into an
// item's directory (the .txt file that is not one of the fixed names).
inline std::map<std::string, std::string> pffItemHeaders(const fsys::path& dir) {
    static const std::set<std::string> others = {"Recipients.txt", "Message.txt", "ConversationIndex.txt",
                                                 "InternetHeaders.txt"};
    std::vector<fsys::path> candidates;
    for (const auto& e : fsys::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".txt" && !others.count(e.path().filename().string()))
            candidates.push_back(e.path());
    std::sort(candidates.begin(), candidates.end());
    std::map<std::string, std::string> out;
    if (candidates.empty()) return out;
    std::istringstream in(slurp(candidates[0]));
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        if (colon != std::string::npos) out.emplace(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return out;
}

// A fresh temporary folder named after `prefix` and the msg2pst binary;
// skips when msg2pst is not built.
class Msg2pstTest : public ::testing::Test {
protected:
    explicit Msg2pstTest(std::string prefix) : prefix_(std::move(prefix)) {}
    void SetUp() override {
        bin_ = builtProgram("msg2pst");
        if (!fsys::exists(bin_)) GTEST_SKIP() << "msg2pst is not built at " << bin_;
        dir_ = fsys::temp_directory_path() / (prefix_ + std::to_string(processId()));
        fsys::remove_all(dir_);
        fsys::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fsys::remove_all(dir_);
    }
    // Runs msg2pst in the temporary folder with stdout and stderr in files
    // (so stderr is not a terminal) and no input; returns the exit status.
    int run(const std::string& args) {
        const std::string cmd = inFolder(dir_) + quote(bin_) + " " + args + " >out.txt 2>err.txt <" + nullDevice();
        const int st = shell(cmd);
        out_ = slurp(dir_ / "out.txt");
        err_ = slurp(dir_ / "err.txt");
        return st;
    }
    // A path below the temporary folder as msg2pst names it in its messages:
    // as given on POSIX systems, the full path on Windows (where every path
    // the conversion works with is made full first).
    std::string shown(const std::string& relative) const {
#ifdef _WIN32
        std::string p = (dir_ / relative).string();
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
#else
        return relative;
#endif
    }
    std::string prefix_;
    fsys::path bin_, dir_;
    std::string out_, err_;
};

}  // namespace tavrin::clitest
