// A real `kill -9` of msg2pst while it adds to an existing store, at moments
// spread over the whole run and, more densely, over the change's completion,
// and at chosen writes:
// the store verifies, dumps exactly as before or exactly as after, no
// temporary file is left, and a run afterwards completes it.
// Not built with the sanitizers: the kills are timed against the plain
// program, and the writes they cut are failed one by one in-process anyway.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TAVRIN_KILL_TEST_SANITIZED 1
#endif
#endif
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && \
    !defined(TAVRIN_KILL_TEST_SANITIZED)

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "cli_test_util.h"
#include "store/pst/verify/verifier.h"

extern char** environ;

namespace tavrin {
namespace {

using namespace clitest;

class AddKill : public Msg2pstTest {
protected:
    AddKill() : Msg2pstTest("tavrin-add-kill-") {}

    // msg2pst in the background, its temporary files (if any) under tmp/.
    pid_t start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{bin_.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> env{"TMPDIR=" + (dir_ / "tmp").string()};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
        std::vector<char*> cenv;
        for (auto& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, (dir_ / "bg-out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, (dir_ / "bg-err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data()), 0);
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }
    bool completing() { return slurp(dir_ / "bg-out.txt").find("completing") != std::string::npos; }
    // Everything a reader sees: the folder tree with its counts, and every
    // message (associated ones too) with its recipients and attachments.
    std::string dump(const std::string& pst) {
        int st = 0;
        const std::string folders = capture(quote(bin_) + " dump-pst --folders " + quote(dir_ / pst), st);
        if (st != 0) return "dump-pst --folders failed";
        std::istringstream in(capture(quote(bin_) + " dump-pst --associated " + quote(dir_ / pst), st));
        if (st != 0) return "dump-pst failed";
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        std::sort(lines.begin(), lines.end());
        std::string out = folders;
        for (const auto& l : lines) out += l + "\n";
        return out;
    }
    std::string findings(const std::string& pst) {
        auto rep = pst::verify::verifyFile((dir_ / pst).string());
        if (!rep) return rep.error().description;
        std::string s;
        for (size_t i = 0; i < rep->findings.size() && i < 5; ++i) s += rep->findings[i].text() + "\n";
        return s;
    }
    // A store of 40 messages (base.pst, dumped in before_) and 300 files
    // to add to it in two folders, one of them new.
    void prepare() {
        fsys::create_directories(dir_ / "tmp");
        for (int i = 0; i < 40; ++i) writeMsg(dir_ / "old" / "box" / (std::to_string(i) + ".msg"), "old " + std::to_string(i));
        for (int i = 0; i < 300; ++i)
            writeMsg(dir_ / "new" / (i % 3 ? "box" : "more") / (std::to_string(i) + ".msg"), "new message " + std::to_string(i));
        ASSERT_EQ(run("x-add old base.pst"), 0) << err_;
        before_ = dump("base.pst");
        fsys::copy_file(dir_ / "base.pst", dir_ / "full.pst");
    }
    // A killed run's store: checked, and its dump returned.
    std::string checkKilled() {
        EXPECT_EQ(leftovers(), "");
        EXPECT_EQ(findings("t.pst"), "");
        return dump("t.pst");
    }
    std::string before_;
    // What the folder holds besides the test's own files, and tmp/.
    std::string leftovers() {
        static const std::set<std::string> ours = {"old", "new", "tmp", "base.pst", "full.pst", "t.pst",
                                                   "out.txt", "err.txt", "bg-out.txt", "bg-err.txt"};
        std::string s;
        for (const auto& e : fsys::directory_iterator(dir_))
            if (!ours.count(e.path().filename().string())) s += e.path().filename().string() + " ";
        for (const auto& e : fsys::directory_iterator(dir_ / "tmp")) s += "tmp/" + e.path().filename().string() + " ";
        return s;
    }
};

TEST_F(AddKill, KillNineAtAnyMomentLeavesTheStoreAsBeforeOrAfter) {
    ASSERT_NO_FATAL_FAILURE(prepare());

    // One whole run, timed: from the start, and from "completing" to the end.
    using clock = std::chrono::steady_clock;
    const auto t0 = clock::now();
    const pid_t whole = start({"x-add", (dir_ / "new").string(), (dir_ / "full.pst").string()});
    ASSERT_GT(whole, 0);
    for (int w = 0; w < 100000 && !completing(); ++w) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto t1 = clock::now();
    int st = 0;
    ASSERT_EQ(::waitpid(whole, &st, 0), whole);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << slurp(dir_ / "bg-err.txt");
    const auto t2 = clock::now();
    const std::string after = dump("full.pst");
    ASSERT_NE(before_, after);

    // kSpread kills at moments spread over the whole run, then kTail over
    // the completion, each a little later than the one before.
    constexpr int kSpread = 16, kTail = 16;
    int kills = 0, beforeSeen = 0, afterSeen = 0;
    for (int k = 0; k < kSpread + kTail; ++k) {
        SCOPED_TRACE(k);
        fsys::remove(dir_ / "t.pst");
        fsys::copy_file(dir_ / "base.pst", dir_ / "t.pst");
        const pid_t child = start({"x-add", (dir_ / "new").string(), (dir_ / "t.pst").string()});
        ASSERT_GT(child, 0);
        if (k < kSpread) {
            std::this_thread::sleep_for((t2 - t0) * (k + 1) / (kSpread + 1));
        } else {
            for (int w = 0; w < 50000 && !completing(); ++w) std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::this_thread::sleep_for((t2 - t1) * (k - kSpread) / kTail);
        }
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, &st, 0), child);
        if (WIFSIGNALED(st)) ++kills;
        const std::string c = checkKilled();
        EXPECT_TRUE(c == before_ || c == after) << c;
        beforeSeen += c == before_;
        afterSeen += c == after;
        // The next run completes what the killed one began (checked every
        // fourth time: it costs a whole run).
        if (k % 4 == 0) {
            ASSERT_EQ(run("x-add new t.pst"), 0) << err_;
            EXPECT_EQ(dump("t.pst"), after);
            EXPECT_EQ(findings("t.pst"), "");
        }
    }
    EXPECT_GE(kills, kSpread / 2);
    EXPECT_GT(beforeSeen, 0);
    std::printf("[ add kill ] %d of %d runs killed (%d read as before, %d as after); run %.0f ms, completion %.1f ms\n",
                kills, kSpread + kTail, beforeSeen, afterSeen,
                std::chrono::duration<double, std::milli>(t2 - t0).count(),
                std::chrono::duration<double, std::milli>(t2 - t1).count());
}

// The same at exact moments: strace delivers SIGKILL as msg2pst enters its
// Nth write (pwrite), flush (fsync) or truncation of the store, for every
// one of them (or 30 spread over them, should there be more).
TEST_F(AddKill, KillNineAtEachWriteLeavesTheStoreAsBeforeOrAfter) {
    if (!haveTool("strace") || shell("strace -f -qq -o /dev/null true") != 0)
        GTEST_SKIP() << "strace is not installed or cannot trace here";
    ASSERT_NO_FATAL_FAILURE(prepare());
    const std::string add = quote(bin_) + " x-add " + quote(dir_ / "new") + " " + quote(dir_ / "t.pst");
    const std::vector<std::string> calls{"pwrite64", "fsync", "ftruncate"};
    std::string traced = "strace -f -qq -e trace=";
    for (const auto& c : calls) traced += c + (&c == &calls.back() ? " " : ",");
    fsys::copy_file(dir_ / "base.pst", dir_ / "t.pst");
    ASSERT_EQ(shell(traced + "-o " + quote(dir_ / "calls.txt") + " " + add + " >/dev/null"), 0);
    const std::string after = dump("t.pst");
    std::map<std::string, int> count;
    std::istringstream trace(slurp(dir_ / "calls.txt"));
    for (std::string l; std::getline(trace, l);)
        for (const auto& c : calls) count[c] += l.find(c + "(") != std::string::npos;
    fsys::remove(dir_ / "calls.txt");
    ASSERT_GT(count["pwrite64"], 2);
    ASSERT_GT(count["fsync"], 0);

    int kills = 0, beforeSeen = 0, afterSeen = 0;
    std::string counts;
    for (const auto& call : calls) {
        counts += " " + std::to_string(count[call]) + " " + call;
        std::set<int> points;
        for (int i = 1; i <= std::min(count[call], 30); ++i) points.insert(1 + (i - 1) * count[call] / std::min(count[call], 30));
        for (int n : points) {
            SCOPED_TRACE(call + " " + std::to_string(n) + " of " + std::to_string(count[call]));
            fsys::remove(dir_ / "t.pst");
            fsys::copy_file(dir_ / "base.pst", dir_ / "t.pst");
            // A run that makes fewer calls this time completes.
            kills += shell("TMPDIR=" + quote(dir_ / "tmp") + " strace -f -qq -o /dev/null -e trace=" + call + " -e inject=" +
                           call + ":signal=KILL:when=" + std::to_string(n) + " " + add + " >/dev/null 2>&1") != 0;
            const std::string c = checkKilled();
            EXPECT_TRUE(c == before_ || c == after) << c;
            beforeSeen += c == before_;
            afterSeen += c == after;
        }
    }
    EXPECT_GE(kills, count["pwrite64"]);
    std::printf("[ add kill ] killed at %d calls of%s (%d read as before, %d as after)\n", kills, counts.c_str(), beforeSeen,
                afterSeen);
}

}  // namespace
}  // namespace tavrin

#endif  // !_WIN32
