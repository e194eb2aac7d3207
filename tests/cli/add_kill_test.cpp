// A real `kill -9` of msg2pst while it adds to an existing store, at many
// moments (adding messages, and completing the change): the store verifies
// and reads as before or as after, and a run afterwards completes it.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "cli_test_util.h"
#include "store/core/tags.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

extern char** environ;

namespace tavrin {
namespace {

using namespace clitest;

class AddKill : public Msg2pstTest {
protected:
    AddKill() : Msg2pstTest("tavrin-add-kill-") {}

    pid_t start(const std::vector<std::string>& args) {
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
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        return pid;
    }
    // Folder path and message subjects, as a reader sees the store.
    static std::string content(const fsys::path& pst) {
        auto r = pst::messaging::PstReader::open(pst.string());
        if (!r) return "unreadable: " + r.error().description;
        auto tree = (*r)->folderTree((*r)->ipmSubtree());
        if (!tree) return "no tree: " + tree.error().description;
        std::string out;
        for (const auto& f : *tree) {
            std::vector<std::string> subjects;
            for (uint32_t nid : f.folder.messages) {
                auto m = (*r)->readMessage(nid);
                if (!m) return "unreadable message: " + m.error().description;
                const auto* s = m->props.find(store::tags::PidTagSubject);
                subjects.push_back(s ? std::string(s->data.begin(), s->data.end()) : "");
            }
            std::sort(subjects.begin(), subjects.end());
            out += f.path + ":";
            for (const auto& s : subjects) out += " " + std::to_string(s.size());
            out += "\n";
        }
        return out;
    }
    static std::string findings(const fsys::path& pst) {
        auto rep = pst::verify::verifyFile(pst.string());
        if (!rep) return rep.error().description;
        std::string s;
        for (size_t i = 0; i < rep->findings.size() && i < 5; ++i) s += rep->findings[i].text() + "\n";
        return s;
    }
};

TEST_F(AddKill, KillNineAtAnyMomentLeavesTheStoreAsBeforeOrAfter) {
    for (int i = 0; i < 40; ++i) writeMsg(dir_ / "old" / "box" / (std::to_string(i) + ".msg"), "old " + std::to_string(i));
    for (int i = 0; i < 300; ++i)
        writeMsg(dir_ / "new" / (i % 3 ? "box" : "more") / (std::to_string(i) + ".msg"), "new message " + std::to_string(i));
    ASSERT_EQ(run("x-add old base.pst"), 0) << err_;
    const std::string before = content(dir_ / "base.pst");
    fsys::copy_file(dir_ / "base.pst", dir_ / "full.pst");
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(run("x-add new full.pst"), 0) << err_;
    const auto whole = std::chrono::steady_clock::now() - t0;
    const std::string after = content(dir_ / "full.pst");
    ASSERT_NE(before, after);

    int kills = 0, beforeSeen = 0, afterSeen = 0;
    for (int k = 0; k < 24; ++k) {
        SCOPED_TRACE(k);
        fsys::remove(dir_ / "t.pst");
        fsys::copy_file(dir_ / "base.pst", dir_ / "t.pst");
        const pid_t child = start({"x-add", (dir_ / "new").string(), (dir_ / "t.pst").string()});
        ASSERT_GT(child, 0);
        if (k % 2 == 0) {
            // Anywhere in the run.
            std::this_thread::sleep_for(whole * (k + 1) / 26);
        } else {
            // While the change completes: from the moment it says so.
            for (int w = 0; w < 20000 && slurp(dir_ / "bg-out.txt").find("completing") == std::string::npos; ++w)
                std::this_thread::sleep_for(std::chrono::microseconds(250));
            std::this_thread::sleep_for(std::chrono::microseconds(400 * (k / 2)));
        }
        ::kill(child, SIGKILL);
        int st = 0;
        ASSERT_EQ(::waitpid(child, &st, 0), child);
        if (WIFSIGNALED(st)) ++kills;
        EXPECT_EQ(findings(dir_ / "t.pst"), "");
        const std::string c = content(dir_ / "t.pst");
        EXPECT_TRUE(c == before || c == after) << c;
        beforeSeen += c == before;
        afterSeen += c == after;
        // The next run completes what the killed one began.
        ASSERT_EQ(run("x-add new t.pst"), 0) << err_;
        EXPECT_EQ(content(dir_ / "t.pst"), after);
        EXPECT_EQ(findings(dir_ / "t.pst"), "");
    }
    EXPECT_GT(kills, 12);
    std::printf("[ add kill ] %d runs killed (%d read as before, %d as after)\n", kills, beforeSeen, afterSeen);
}

}  // namespace
}  // namespace tavrin

#endif  // !_WIN32
