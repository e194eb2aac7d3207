// PendingFile and ScratchFile: the output appears whole at its target or not
// at all, scratch never shows, and a killed writer's named leftovers go at
// the next run. Each case runs with nameless files where the system has
// them and with the named form that other file systems get.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "fs/file_io.h"
#include "fs/pending_file_platform.h"
#include "small_disk.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::span<const uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string contentOf(const std::string& path) {
    auto r = readFile(path);
    return r.ok() ? std::string(r->begin(), r->end()) : "(unreadable)";
}

class Pending : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { forceNamedTemporariesForTesting(GetParam()); }
    void TearDown() override { forceNamedTemporariesForTesting(false); }
    bool named() const { return GetParam(); }
    TempFolder dir;
};

TEST_P(Pending, NothingAppearsBeforeCommitThenTheTargetWhole) {
    const std::string target = dir.at("out.pst");
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok()) << f.error().description;
    if (named()) {
        EXPECT_FALSE((*f)->nameless());
    }
    ASSERT_TRUE((*f)->writeAt(4, bytesOf("tail")).ok());
    ASSERT_TRUE((*f)->writeAt(0, bytesOf("head")).ok());
    std::array<uint8_t, 8> back{};
    ASSERT_TRUE((*f)->readAt(0, back).ok());
    EXPECT_EQ(std::string(back.begin(), back.end()), "headtail");
    EXPECT_FALSE(pathExists(target));
    const auto during = namesIn(dir.path());
    if ((*f)->nameless()) {
        EXPECT_TRUE(during.empty());
    } else {
        ASSERT_EQ(during.size(), 1u);
        EXPECT_EQ(during[0].rfind("out.pst.tmp-", 0), 0u);
    }
    EXPECT_TRUE((*f)->check().ok());
    ASSERT_TRUE((*f)->commit(false).ok());
    EXPECT_EQ(contentOf(target), "headtail");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.pst"});
}

// Without replacement an existing target is never touched; with it the old
// file is replaced whole. Neither leaves anything beside it.
TEST_P(Pending, CommitReplacesOnlyWhenAskedAndLeavesNothingElse) {
    const std::string target = dir.makeFile("out.pst", "old");
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE((*f)->writeAt(0, bytesOf("new")).ok());
    const Status refused = (*f)->commit(false);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The file " + target + " already exists.");
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.pst"});
    EXPECT_FALSE((*f)->commit(true).ok()) << "a commit closes the file, whatever its outcome";

    auto g = PendingFile::create(target);
    ASSERT_TRUE(g.ok());
    ASSERT_TRUE((*g)->writeAt(0, bytesOf("newer")).ok());
    ASSERT_TRUE((*g)->commit(true).ok());
    EXPECT_EQ(contentOf(target), "newer");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.pst"});
}

TEST_P(Pending, DiscardCloseAndDestructionLeaveNothing) {
    for (int how = 0; how < 3; ++how) {
        auto f = PendingFile::create(dir.at("gone.pst"));
        ASSERT_TRUE(f.ok());
        ASSERT_TRUE((*f)->writeAt(0, bytesOf("data")).ok());
        if (how == 0) (*f)->discard();
        if (how == 1) {
            EXPECT_TRUE((*f)->close().ok());
        }
        if (how == 2) f->reset();
        EXPECT_TRUE(namesIn(dir.path()).empty()) << how;
    }
}

// A removed output folder is seen by check() before the end, and the commit
// then fails naming the target; nothing is created anywhere.
TEST_P(Pending, ARemovedFolderFailsCheckAndCommit) {
    const std::string sub = dir.makeFolder("out");
    const std::string target = sub + kPathSeparator + "x.pst";
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok());
    ASSERT_TRUE((*f)->writeAt(0, bytesOf("data")).ok());
    std::filesystem::remove_all(sub);
    const Status c = (*f)->check();
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error().description.rfind("The file " + target + " could not be created: ", 0), 0u)
        << c.error().description;
    std::filesystem::create_directory(sub);
    if (named()) {
        // The named form lost its name with the folder: it stays unusable.
        EXPECT_FALSE((*f)->check().ok());
        EXPECT_FALSE((*f)->commit(false).ok());
        EXPECT_TRUE(namesIn(sub).empty());
    }
}

TEST_P(Pending, AMissingFolderIsAnErrorNamingTheTarget) {
    const std::string target = dir.at("absent/x.pst");
    auto f = PendingFile::create(target);
    ASSERT_FALSE(f.ok());
    EXPECT_EQ(f.error().number, err::kFileNotFound);
    EXPECT_EQ(f.error().description, "The file " + target + " could not be created: No such file or directory.");
    EXPECT_FALSE(ScratchFile::create(target).ok());
}

TEST_P(Pending, ScratchIsNeverSeenAndReadsBack) {
    auto s = ScratchFile::create(dir.at("out.pst"));
    ASSERT_TRUE(s.ok()) << s.error().description;
    ASSERT_TRUE((*s)->writeAt(10, bytesOf("scratch")).ok());
    std::array<uint8_t, 17> back{};
    ASSERT_TRUE((*s)->readAt(0, back).ok());
    EXPECT_EQ(std::string(back.begin() + 10, back.end()), "scratch");
    EXPECT_EQ(back[0], 0);
    EXPECT_TRUE(namesIn(dir.path()).empty());
    EXPECT_TRUE((*s)->close().ok());
    EXPECT_FALSE((*s)->writeAt(0, bytesOf("x")).ok());
}

#ifndef _WIN32
// A full disk (a real 256 KiB file system): the failure names the target
// and is numbered as a full disk, and nothing of the file stays.
TEST_P(Pending, AFullDiskNamesTheTargetAndLeavesNothing) {
    tavrin::testing::SmallDisk disk(256 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    const std::string target = (disk.path() / "full.pst").string();
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok());
    auto scratch = ScratchFile::create(target);
    ASSERT_TRUE(scratch.ok());
    const std::vector<uint8_t> block(100000, 7);
    Status s;
    for (uint64_t at = 0; s.ok() && at < 4000000; at += block.size()) s = (*f)->writeAt(at, block);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().number, err::kDiskFull);
    EXPECT_EQ(s.error().description, "The file " + target + " could not be written: No space left on device.");
    EXPECT_FALSE((*scratch)->writeAt(0, block).ok());
    (*f)->discard();
    scratch->reset();
    EXPECT_TRUE(namesIn(disk.path().string()).empty());
}

// A file larger than a limit allows (here the process may write 64 KiB
// into any file; FAT32 stops at 4 GiB) is told as the system says it.
TEST_P(Pending, AFileSizeLimitIsToldAsTheSystemSaysIt) {
    const std::string target = dir.at("big.pst");
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok());
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 65536;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    const std::vector<uint8_t> block(100000, 7);
    const Status s = (*f)->writeAt(0, block);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().number, err::kTooBig);
    EXPECT_EQ(s.error().description, "The file " + target + " could not be written: File too large.");
}
#endif

INSTANTIATE_TEST_SUITE_P(NamelessAndNamed, Pending, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Named") : std::string("Nameless"); });

TEST(TemporaryNames, CarryTheOwnerAndAreRecognisedExactly) {
    const std::string n = detail::temporaryName("Work (2).pst", "tmp");
    int64_t pid = 0;
    std::string host;
    ASSERT_TRUE(detail::parseTemporaryName(n, pid, host)) << n;
    EXPECT_EQ(pid, detail::currentProcessId());
    EXPECT_EQ(host, detail::hostTag());
    EXPECT_EQ(n.rfind("Work (2).pst.tmp-", 0), 0u);
    ASSERT_TRUE(detail::parseTemporaryName("a.pst.spill-12-0badf00d-00000001", pid, host));
    EXPECT_EQ(pid, 12);
    for (const char* other : {"a.pst", "a.pst.tmp-12-0badf00d", "a.pst.tmp-x2-0badf00d-00000001",
                              "a.pst.tmp-12-0BADF00D-00000001", "a.pst.old-12-0badf00d-00000001",
                              ".tmp-12-0badf00d-00000001", "a.pst.tmp--0badf00d-00000001"})
        EXPECT_FALSE(detail::parseTemporaryName(other, pid, host)) << other;
    EXPECT_EQ(detail::folderOf("x.pst"), ".");
    EXPECT_EQ(detail::fileNameOf(std::string(1, kPathSeparator) + "x.pst"), "x.pst");
}

#ifndef _WIN32
// A real `kill -9` of a process writing in the named form: its file stays
// until the next run's removeOrphanedTemporaries, which leaves alone what is
// not a dead owner's: a running owner's file, another computer's, a user's.
TEST(Orphans, AKilledWritersFilesGoAtTheNextRunAndNothingElse) {
    TempFolder dir;
    const std::string target = dir.at("out.pst");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        forceNamedTemporariesForTesting(true);
        auto f = PendingFile::create(target);
        auto s = ScratchFile::create(target);
        const bool ok = f.ok() && s.ok() && (*f)->writeAt(0, bytesOf("partial")).ok();
        (void)!::write(ready[1], ok ? "1" : "0", 1);
        for (;;) ::pause();
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(c, '1');
    const auto left = namesIn(dir.path());
    ASSERT_EQ(left.size(), 1u) << "the scratch file had no name any more";
    EXPECT_EQ(left[0].rfind("out.pst.tmp-" + std::to_string(child) + "-", 0), 0u);

    const std::string mine = dir.makeFile("mine.pst" + detail::temporaryName("", "tmp"), "running");
    const std::string elsewhere = dir.makeFile("x.pst.tmp-" + std::to_string(child) + "-00000000-00000001",
                                               detail::hostTag() == "00000000" ? "skip" : "other host");
    dir.makeFile("notes.tmp-12-ab", "a user's file");
    EXPECT_EQ(removeOrphanedTemporaries(dir.path()), 1u);
    auto names = namesIn(dir.path());
    EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("out.pst", 0) == 0; }),
              0);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_TRUE(pathExists(mine));
    EXPECT_TRUE(pathExists(elsewhere));
    // The next writer beside the target cleans up by itself.
    dir.makeFile(left[0], "again");
    ASSERT_TRUE(PendingFile::create(target).ok());
    EXPECT_FALSE(pathExists(dir.at(left[0])));
}
#endif

}  // namespace
}  // namespace tavrin::fs
