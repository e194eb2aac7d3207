// msg2pst convert as a process, on what it tells and leaves: the size cap
// and its files, the report, the exit status of a full disk and of a
// read-only output, an interruption, and a real `kill -9` after which
// nothing but completed files remains once the next run is over.
#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "cli_test_util.h"
#include "fs/pending_file_platform.h"
#include "fs/small_disk.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace tavrin {
namespace {

using namespace clitest;

std::vector<std::string> linesOf(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::vector<std::string> namesIn(const fsys::path& dir) {
    std::vector<std::string> out;
    for (auto& e : fsys::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A message file with `size` bytes of attachment data that does not compress.
void writeBigMsg(const fsys::path& p, const std::string& subject, size_t size) {
    using namespace store;
    fsys::create_directories(p.parent_path());
    testing::MessageBuilder m;
    m.unicode(makeTag(tags::PidTagSubject, PT_UNICODE), subject);
    testing::MessageBuilder::Att a;
    a.props.fixed(makeTag(tags::PidTagAttachMethod, PT_LONG), 1);
    Bytes data(size);
    uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(subject));
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    a.props.variable(makeTag(tags::PidTagAttachDataBinary, PT_BINARY), std::move(data));
    m.attachments.push_back(a);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class Outcome : public Msg2pstTest {
protected:
    Outcome() : Msg2pstTest("tavrin-outcome-") {}
    // The subjects dump-pst reads from a PST that verifies clean.
    std::vector<std::string> subjectsIn(const std::string& pst) {
        if (run("verify " + quote(pst)) != 0) ADD_FAILURE() << pst << " does not verify:\n" << out_ << err_;
        EXPECT_EQ(run("dump-pst " + quote(pst)), 0) << err_;
        std::vector<std::string> out;
        for (const std::string& l : linesOf(out_)) {
            const size_t at = l.find("\"subject\":\"");
            if (at == std::string::npos) continue;
            out.push_back(l.substr(at + 11, l.find('"', at + 11) - at - 11));
        }
        return out;
    }
    // A msg2pst started in the temporary folder without waiting for it.
#ifdef _WIN32
    using Child = HANDLE;
    Child start(const std::vector<std::string>& args) {
        std::wstring cmd = L"\"" + bin_.wstring() + L"\"";
        for (const auto& a : args) cmd += L" \"" + fsys::path(a).wstring() + L"\"";
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        auto open = [&](const fsys::path& p, DWORD access, DWORD disposition) {
            return CreateFileW(p.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = open("NUL", GENERIC_READ, OPEN_EXISTING);
        si.hStdOutput = open(dir_ / "bg-out.txt", GENERIC_WRITE, CREATE_ALWAYS);
        si.hStdError = open(dir_ / "bg-err.txt", GENERIC_WRITE, CREATE_ALWAYS);
        PROCESS_INFORMATION pi{};
        const BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, dir_.wstring().c_str(),
                                       &si, &pi);
        for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError}) CloseHandle(h);
        EXPECT_TRUE(ok);
        if (!ok) return nullptr;
        CloseHandle(pi.hThread);
        return pi.hProcess;
    }
    static bool ended(Child child) { return WaitForSingleObject(child, 0) == WAIT_OBJECT_0; }
#else
    using Child = pid_t;
    Child start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{bin_.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (dir_ / "bg-out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, (dir_ / "bg-err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::string cwd = fsys::current_path().string();
        fsys::current_path(dir_);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), environ);
        fsys::current_path(cwd);
        posix_spawn_file_actions_destroy(&fa);
        EXPECT_EQ(rc, 0);
        return pid;
    }
    static bool ended(Child pid) {
        int st = 0;
        return ::waitpid(pid, &st, WNOHANG) == pid;
    }
#endif
    // Waits (at most 60 s) until the background run's stderr holds `text`.
    bool waitFor(Child child, const std::string& text) {
        for (int i = 0; i < 12000; ++i) {
            if (slurp(dir_ / "bg-err.txt").find(text) != std::string::npos) return true;
            if (ended(child)) return false;  // it ended first
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

// --max-size takes units and refuses nonsense; a cap writes several files,
// each named on stdout; other options and a missing report folder are
// refused before anything is converted.
TEST_F(Outcome, OptionsAreCheckedAndACapWritesSeveralFiles) {
    for (int i = 0; i < 8; ++i) writeBigMsg(dir_ / "src" / (std::to_string(i) + ".msg"), std::to_string(i), 300000);
    for (const char* bad : {"5X", "0.5M", "1000", "M", "", "-5M", "1.5.2G", "99999999999T"}) {
        EXPECT_EQ(run("convert --max-size " + quote(bad) + " src out.pst"), 2) << bad;
        EXPECT_EQ(err_, std::string("msg2pst convert: --max-size needs a size of at least 1M, such as 5M or 40G, not '") +
                            bad + "'.\n");
    }
    EXPECT_EQ(run("convert --frobnicate src out.pst"), 2);
    EXPECT_EQ(run("convert --report nodir/r.csv src out.pst"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the report's folder nodir does not exist.\n");
    EXPECT_FALSE(fsys::exists(dir_ / "out.pst"));
    ASSERT_EQ(run("convert --max-size=1.5MiB src out.pst"), 0) << err_;
    const std::vector<std::string> files = linesOf(out_);
    ASSERT_GE(files.size(), 2u);
    EXPECT_EQ(files[1], shown("out (2).pst"));
    size_t messages = 0;
    for (const std::string& f : files) {
        EXPECT_LE(fsys::file_size(dir_ / f), 1572864u) << f;
        messages += subjectsIn(f).size();
    }
    EXPECT_EQ(messages, 8u);
}

// The report: one row per file found, UTF-8 with a byte-order mark,
// replacing an older one; a salvaged file is converted with its warnings,
// named in the summary, and a failed one makes the exit status 1.
TEST_F(Outcome, TheReportListsEveryFileAndWarningsAreTold) {
    writeMsg(dir_ / "src" / "a.msg", "a, with a comma");
    testing::MessageBuilder m;
    m.unicode(store::makeTag(store::tags::PidTagSubject, store::PT_UNICODE), "mended");
    m.entries.push_back({store::makeTag(0x0071, store::PT_BINARY), 6, 22});
    const store::Bytes b = m.file();
    std::ofstream(dir_ / "src" / "mended.msg", std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    std::ofstream(dir_ / "src" / "notes.txt") << "text";
    std::ofstream(dir_ / "report.csv") << "older";
    const std::string mended = shown("src/mended.msg") +
                               ",converted with warnings,property 0x00710102: the value stream is "
                               "missing (22 bytes)," + shown("out.pst") + ",\\,mended\r";
    ASSERT_EQ(run("convert --report report.csv src out.pst"), 0) << err_;
    EXPECT_NE(err_.find("Completed:\nMessages Converted Successfully.\n"
                        "Open Converted PST file in Outlook to View Converted Messages.\n"
                        "1 message file(s) were converted with warnings:\n" +
                        shown("src/mended.msg") + ": property 0x00710102: the value stream is missing (22 bytes)\n"
                        "The report of every file is in " + shown("report.csv") + ".\n"),
              std::string::npos)
        << err_;
    const auto rows = linesOf(slurp(dir_ / "report.csv"));
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()),
              (std::set<std::string>{"\xEF\xBB\xBFSource path,Result,Reason,PST file,Store folder,Subject\r",
                                     shown("src/a.msg") + ",converted,," + shown("out.pst") +
                                         ",\\,\"a, with a comma\"\r",
                                     mended, shown("src/notes.txt") + ",not a message file,,,,\r"}));
    std::ofstream(dir_ / "src" / "bad.msg") << "not a message file";
    EXPECT_EQ(run("convert --report report.csv src again.pst"), 1) << err_;
    EXPECT_NE(slurp(dir_ / "report.csv").find("\r\n" + shown("src/bad.msg") + ",failed,compound file: "),
              std::string::npos);
}

// A real full disk: exit 3, the cause and the counts (the cause stands for
// every file of the folder), and nothing on the disk afterwards.
TEST_F(Outcome, AFullDiskExitsThreeWithTheCauseAndLeavesNothing) {
    tavrin::testing::SmallDisk disk(2 * 1024 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    for (int i = 0; i < 20; ++i) writeBigMsg(dir_ / "src" / (std::to_string(i) + ".msg"), "m", 300000);
    const std::string out = (disk.path() / "out.pst").string();
    EXPECT_EQ(run("convert src " + quote(out)), 3) << err_;
    EXPECT_NE(err_.find("Completed:\nThe output could not be written: 0 of 20 message file(s) were converted.\n"
                        "The disk holding " + out + " is full.\n"),
              std::string::npos)
        << err_;
    EXPECT_EQ(out_, "");
    EXPECT_TRUE(namesIn(disk.path()).empty());
}

// Ctrl-C (SIGINT) stops the run after the current message, as a confirmed
// stop: the file keeps what was converted, and the box says so.
TEST_F(Outcome, AnInterruptionStopsAndKeepsWhatWasConverted) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: sends SIGINT; Windows delivers Ctrl-C through a console the test does not share";
#else
    // Enough files that the run is still going when the signal arrives: the
    // conversion takes 200 of them in about 12 ms.
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i) writeBigMsg(dir_ / "src" / (std::to_string(i) + ".msg"), "m", 30000);
    const pid_t pid = start({"convert", "src", "out.pst"});
    ASSERT_TRUE(waitFor(pid, "% Complete")) << slurp(dir_ / "bg-err.txt");
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    int st = 0;
    ASSERT_EQ(::waitpid(pid, &st, 0), pid);
    ASSERT_TRUE(WIFEXITED(st)) << "the first interruption is a stop, not an end";
    EXPECT_EQ(WEXITSTATUS(st), 1);
    const std::string err = slurp(dir_ / "bg-err.txt");
    const size_t at = err.find("Completed:\nConversion stopped: ");
    ASSERT_NE(at, std::string::npos) << err;
    const int converted = std::stoi(err.substr(at + 31));
    EXPECT_GT(converted, 0);
    EXPECT_LT(converted, kFiles);
    EXPECT_EQ(slurp(dir_ / "bg-out.txt"), "out.pst\n");
    EXPECT_EQ(static_cast<int>(subjectsIn("out.pst").size()), converted);
#endif
}

// A real `kill -9` in the middle of a run leaves no file beside the target
// (nameless files vanish with the process). Where a file system has no
// nameless files the writer's files carry its process id instead: such
// leftovers of the killed process are removed by the next run, after which
// only completed files remain.
TEST_F(Outcome, KillNineLeavesNothingOnceTheNextRunIsOver) {
    for (int i = 0; i < 200; ++i) writeBigMsg(dir_ / "src" / (std::to_string(i) + ".msg"), "m", 30000);
    fsys::create_directories(dir_ / "out");
    const Child child = start({"convert", "src", "out/mail.pst"});
    ASSERT_TRUE(waitFor(child, "% Complete")) << slurp(dir_ / "bg-err.txt");
#ifdef _WIN32
    // TerminateProcess: the process ends at once, as kill -9 ends it.
    const long pid = static_cast<long>(GetProcessId(child));
    ASSERT_TRUE(TerminateProcess(child, 137));
    ASSERT_EQ(WaitForSingleObject(child, 30000), WAIT_OBJECT_0);
    CloseHandle(child);
#else
    const long pid = static_cast<long>(child);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int st = 0;
    ASSERT_EQ(::waitpid(child, &st, 0), child);
    ASSERT_TRUE(WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL);
#endif
    EXPECT_TRUE(namesIn(dir_ / "out").empty()) << "left behind by the killed run";

    const std::string owner = std::to_string(pid) + "-" + fs::detail::hostTag();
    for (const std::string& left : {"mail.pst.tmp-" + owner + "-0000beef", "mail.pst.spill-" + owner + "-0000cafe"})
        std::ofstream(dir_ / "out" / left) << std::string(100000, 'x');
    ASSERT_EQ(run("convert src out/mail.pst"), 0) << err_;
    EXPECT_EQ(namesIn(dir_ / "out"), std::vector<std::string>{"mail.pst"});
    EXPECT_EQ(subjectsIn("out/mail.pst").size(), 200u);
}

}  // namespace
}  // namespace tavrin
