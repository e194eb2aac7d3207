// PendingFile and ScratchFile: the output appears whole at its target or not
// at all, scratch never shows, and a killed writer's named leftovers go at
// the next run. Each case runs with nameless files where the system has
// them and with the named form that other file systems get.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <signal.h>
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

std::span<const uint8_t> bytesOf(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

std::string contentOf(const std::string& path) {
    auto r = readFile(path);
    return r.ok() ? std::string(r->begin(), r->end()) : "(unreadable)";
}

class Pending : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { forceNamedTemporariesForTesting(GetParam()); }
    void TearDown() override { forceNamedTemporariesForTesting(false); }
    TempFolder dir;
};

// Out of sight until commit; a commit never replaces unless asked, and
// nothing but the target remains whatever the outcome.
TEST_P(Pending, CommitsWholeAtTheTargetAndLeavesNothingElse) {
    const std::string target = dir.makeFile("out.pst", "old");
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok()) << f.error().description;
    if (GetParam()) {
        EXPECT_FALSE((*f)->nameless());
    }
    ASSERT_TRUE((*f)->writeAt(3, bytesOf("new")).ok());
    std::array<uint8_t, 6> back{};
    ASSERT_TRUE((*f)->readAt(0, back).ok());
    EXPECT_EQ(std::string(back.begin(), back.end()), std::string("\0\0\0new", 6));
#ifdef _WIN32
    // Windows lists a file marked for deletion under its name until it is
    // closed: nameless() says it cannot outlive the process.
    EXPECT_EQ(namesIn(dir.path()).size(), 2u);
#else
    EXPECT_EQ(namesIn(dir.path()).size(), (*f)->nameless() ? 1u : 2u);
#endif
    const Status refused = (*f)->commit(false);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().description, "The file " + target + " already exists.");
    EXPECT_EQ(contentOf(target), "old");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.pst"});

    auto g = PendingFile::create(target);
    ASSERT_TRUE(g.ok());
    ASSERT_TRUE((*g)->writeAt(0, bytesOf("newer")).ok());
    ASSERT_TRUE((*g)->commit(true).ok());
    EXPECT_EQ(contentOf(target), "newer");
    auto h = PendingFile::create(dir.at("gone.pst"));
    ASSERT_TRUE(h.ok());
    h->reset();
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"out.pst"});
}

// A removed output folder is seen by check() before the end, naming the
// target.
TEST_P(Pending, ARemovedFolderFailsTheCheck) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: Windows refuses to remove a folder that holds an open file";
#endif
    const std::string target = dir.makeFolder("out") + kPathSeparator + "x.pst";
    auto f = PendingFile::create(target);
    ASSERT_TRUE(f.ok());
    EXPECT_TRUE((*f)->check().ok());
    std::filesystem::remove_all(dir.at("out"));
    const Status c = (*f)->check();
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.error().description, "The file " + target + " could not be created: No such file or directory.");
}

// Tens of megabytes whose write-out is started as they are written (which
// puts them on stable storage on a thread of the file's own as they come):
// committed whole, or gone when discarded while that thread may be at work.
TEST_P(Pending, ALargeFileWrittenOutAsItComesCommitsWholeOrGoes) {
    const std::string target = dir.at("big.pst");
    const std::vector<uint8_t> block(1 << 20, 0x5A);
    for (const bool keep : {false, true}) {
        auto f = PendingFile::create(target);
        ASSERT_TRUE(f.ok());
        for (uint64_t at = 0; at < (uint64_t(24) << 20); at += block.size()) {
            ASSERT_TRUE((*f)->writeAt(at, block).ok());
            (*f)->startWriteback(at, block.size());
        }
        if (keep) {
            ASSERT_TRUE((*f)->commit(false).ok());
        }
        f->reset();
        EXPECT_EQ(namesIn(dir.path()), keep ? std::vector<std::string>{"big.pst"} : std::vector<std::string>{});
    }
    EXPECT_EQ(std::filesystem::file_size(target), uint64_t(24) << 20);
}

TEST_P(Pending, ScratchIsNeverSeenAndReadsBack) {
    auto s = ScratchFile::create(dir.at("out.pst"));
    ASSERT_TRUE(s.ok()) << s.error().description;
    ASSERT_TRUE((*s)->writeAt(0, bytesOf("scratch")).ok());
    std::array<uint8_t, 7> back{};
    ASSERT_TRUE((*s)->readAt(0, back).ok());
    EXPECT_EQ(std::string(back.begin(), back.end()), "scratch");
#ifdef _WIN32
    // Windows lists a file to be deleted on close until it is closed.
    EXPECT_EQ(namesIn(dir.path()).size(), 1u);
    s->reset();
#endif
    EXPECT_TRUE(namesIn(dir.path()).empty());
}

#ifndef _WIN32
// A real full disk: the failure names the target, is numbered as a full
// disk, and nothing of either file stays.
TEST_P(Pending, AFullDiskNamesTheTargetAndLeavesNothing) {
    tavrin::testing::SmallDisk disk(256 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    const std::string target = (disk.path() / "full.pst").string();
    auto f = PendingFile::create(target);
    auto scratch = ScratchFile::create(target);
    ASSERT_TRUE(f.ok() && scratch.ok());
    const std::vector<uint8_t> block(100000, 7);
    Status s;
    for (uint64_t at = 0; s.ok() && at < 4000000; at += block.size()) s = (*f)->writeAt(at, block);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().number, err::kDiskFull);
    EXPECT_EQ(s.error().description, "The file " + target + " could not be written: No space left on device.");
    f->reset();
    scratch->reset();
    EXPECT_TRUE(namesIn(disk.path().string()).empty());
}
#endif

INSTANTIATE_TEST_SUITE_P(NamelessAndNamed, Pending, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? std::string("Named") : std::string("Nameless"); });

#ifndef _WIN32
// A real `kill -9` of a process writing in the named form: its file stays
// until the next writer beside it, which removes it and leaves alone what is
// not a dead owner's (a running owner's file, another computer's, a user's).
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
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    ASSERT_EQ(c, '1');
    const auto left = namesIn(dir.path());
    ASSERT_EQ(left.size(), 1u) << "the scratch file had no name any more";
    int64_t pid = 0;
    std::string host;
    ASSERT_TRUE(detail::parseTemporaryName(left[0], pid, host)) << left[0];
    EXPECT_EQ(pid, child);
    EXPECT_EQ(left[0].rfind("out.pst.tmp-", 0), 0u);

    dir.makeFile("mine.pst" + detail::temporaryName("", "tmp"));
    dir.makeFile("x.pst.spill-" + std::to_string(child) + "-" + (host == "00000000" ? "00000001" : "00000000") +
                 "-00000001");
    dir.makeFile("notes.tmp-12-ab");
    ASSERT_TRUE(PendingFile::create(target).ok());
    EXPECT_EQ(namesIn(dir.path()).size(), 3u);
    EXPECT_FALSE(pathExists(dir.at(left[0])));
    for (const char* other : {"a.pst.tmp-12-0badf00d", "a.pst.tmp-x2-0badf00d-00000001", "a.pst.tmp-12-0BADF00D-00000001",
                              "a.pst.old-12-0badf00d-00000001", ".tmp-12-0badf00d-00000001"})
        EXPECT_FALSE(detail::parseTemporaryName(other, pid, host)) << other;
}
#endif

}  // namespace
}  // namespace tavrin::fs
