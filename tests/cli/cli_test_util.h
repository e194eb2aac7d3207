// Shared by the msg2pst process tests: file and shell helpers, a message
// file writer, the reader of pffexport's item description files, and a
// fixture that runs msg2pst in a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The path as one shell word.
inline std::string quote(const fsys::path& p) {
    std::string q = "'";
    for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
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
        bin_ = fsys::path(TAVRIN_BIN_DIR) / "msg2pst";
        if (!fsys::exists(bin_)) GTEST_SKIP() << "msg2pst is not built at " << bin_;
        dir_ = fsys::temp_directory_path() / (prefix_ + std::to_string(::getpid()));
        fsys::remove_all(dir_);
        fsys::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fsys::remove_all(dir_);
    }
    // Runs msg2pst in the temporary folder with stdout and stderr in files
    // (so stderr is not a terminal) and no input; returns the exit status.
    int run(const std::string& args) {
        const std::string cmd = "cd " + quote(dir_) + " && " + quote(bin_) + " " + args +
                                " >out.txt 2>err.txt </dev/null";
        const int st = std::system(cmd.c_str());
        out_ = slurp(dir_ / "out.txt");
        err_ = slurp(dir_ / "err.txt");
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    std::string prefix_;
    fsys::path bin_, dir_;
    std::string out_, err_;
};

}  // namespace tavrin::clitest
