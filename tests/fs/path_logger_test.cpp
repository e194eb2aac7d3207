#include "fs/path_logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "fs/runtime_error.h"
#include "fs/yield.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

const std::string S(kPathSeparatorText);

std::set<std::string> asSet(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

TEST(pathLogger, AMissingRootChangesNothing) {
    TempFolder t;
    pathLogger logger;
    logger.PathLogInit();
    EXPECT_TRUE(logger.LogPath(t.at("missing")).ok());
    EXPECT_TRUE(logger.LogPath(t.makeFile("a.msg")).ok());  // a file is no folder
    EXPECT_EQ(logger.Count(), 0);
    EXPECT_EQ(logger.pathNames()->Count(), 0);
    EXPECT_TRUE(logger.fullFileNamesOnly());
}

TEST(pathLogger, AnEmptyRootGivesOneFolderWithOrWithoutTrailingSeparator) {
    TempFolder t;
    for (const std::string& root : {t.path(), t.path() + S}) {
        pathLogger logger;
        logger.PathLogInit();
        ASSERT_TRUE(logger.LogPath(root).ok());
        EXPECT_EQ(logger.Count(), 1);
        ASSERT_EQ(logger.pathNames()->Count(), 1);
        EXPECT_EQ(*logger.pathNames()->item(1), t.path() + S);
        EXPECT_EQ(*logger.pathNames()->key(1), "K0");
        EXPECT_EQ(logger.fullFileNames()->Count(), 0);
    }
}

TEST(pathLogger, WalksBreadthFirstAndLinksEachFileToItsFolder) {
    TempFolder t;
    t.makeFile("a.msg");
    t.makeFile("notes.txt");
    t.makeFile("X/c.msg");
    t.makeFile("X/Z/d.msg");
    t.makeFolder("Y");
    pathLogger logger;
    logger.PathLogInit();
    logger.fullFileNamesOnly(false);
    ASSERT_TRUE(logger.LogPath(t.path()).ok());

    auto folders = logger.pathNames();
    ASSERT_EQ(folders->Count(), 4);
    EXPECT_EQ(folders->keys(), (std::vector<std::string>{"K0", "K2", "K3", "K4"}));
    EXPECT_EQ(*folders->item(1), t.path() + S);
    EXPECT_EQ(asSet({*folders->item(2), *folders->item(3)}), asSet({t.at("X") + S, t.at("Y") + S}));
    EXPECT_EQ(*folders->item(4), t.at("X/Z") + S);  // the second level comes last

    EXPECT_EQ(logger.Count(), 5);
    auto names = logger.fileNames();
    auto full = logger.fullFileNames();
    auto pointers = logger.pathPointers();
    ASSERT_EQ(full->Count(), 4);
    EXPECT_EQ(full->keys(), (std::vector<std::string>{"K1", "K2", "K3", "K4"}));
    EXPECT_EQ(asSet({*full->item(1), *full->item(2)}), asSet({t.at("a.msg"), t.at("notes.txt")}));
    EXPECT_EQ(*full->item(3), t.at("X/c.msg"));
    EXPECT_EQ(*full->item(4), t.at("X/Z/d.msg"));
    for (int32_t k = 1; k <= 4; ++k)
        EXPECT_EQ(*folders->item(*pointers->item(k)) + *names->item(k), *full->item(k));
}

TEST(pathLogger, FullFileNamesOnlyUpdatesTheCounterLabel) {
    TempFolder t;
    t.makeFile("a.msg");
    t.makeFile("Inbox/b.msg");
    t.makeFile("Inbox/c.eml");
    std::vector<std::string> captions;
    pathLogger logger;
    logger.setCounterLabel([&](const std::string& caption) { captions.push_back(caption); });
    logger.PathLogInit();
    ASSERT_TRUE(logger.LogPath(t.path()).ok());
    EXPECT_EQ(captions, (std::vector<std::string>{"2 Messages Queued for Conversion.",
                                                  "3 Messages Queued for Conversion.",
                                                  "4 Messages Queued for Conversion."}));
    EXPECT_EQ(logger.fullFileNames()->Count(), 3);
    EXPECT_EQ(logger.fileNames()->Count(), 0);
    EXPECT_EQ(logger.pathPointers()->Count(), 0);
}

TEST(pathLogger, ASecondWalkWithoutInitFailsOnTheRootKey) {
    TempFolder t;
    t.makeFile("a.msg");
    pathLogger logger;
    logger.PathLogInit();
    ASSERT_TRUE(logger.LogPath(t.path()).ok());
    const Status again = logger.LogPath(t.path());
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().number, rt::kKeyAlreadyAssociated);
    EXPECT_EQ(logger.pathNames()->Count(), 1);  // what was there stays
    EXPECT_EQ(logger.fullFileNames()->Count(), 1);
    logger.PathLogInit();
    EXPECT_TRUE(logger.LogPath(t.path()).ok());
    EXPECT_EQ(logger.fullFileNames()->Count(), 1);
}

TEST(pathLogger, CollectionsAreSharedAndOutliveTerminate) {
    TempFolder t;
    t.makeFile("a.msg");
    pathLogger logger;
    logger.PathLogInit();
    ASSERT_TRUE(logger.LogPath(t.path()).ok());
    auto kept = logger.fullFileNames();
    EXPECT_EQ(kept.get(), logger.fullFileNames().get());
    logger.Terminate();
    EXPECT_EQ(kept->Count(), 1);
    EXPECT_EQ(logger.fullFileNames()->Count(), 0);
}

TEST(pathLogger, YieldsOncePerFolderAndPerItem) {
    TempFolder t;
    t.makeFile("a.msg");
    t.makeFile("Inbox/b.msg");
    int yields = 0;
    ScopedYieldCallback counting([&] { ++yields; });
    pathLogger logger;
    logger.PathLogInit();
    ASSERT_TRUE(logger.LogPath(t.path()).ok());
    EXPECT_EQ(yields, 2 /* folders */ + 3 /* Inbox, a.msg, b.msg */);
}

#ifndef _WIN32
TEST(pathLogger, FollowsLinksButNeverLoops) {
    TempFolder t;
    t.makeFile("A/a.msg");
    t.makeFile("B/b.msg");
    namespace stdfs = std::filesystem;
    stdfs::create_directory_symlink(t.path(), t.at("A/up"));      // back to the root
    stdfs::create_directory_symlink(t.at("A"), t.at("A/self"));   // back to itself
    stdfs::create_directory_symlink(t.at("A"), t.at("B/toA"));    // sideways: followed
    stdfs::create_directory_symlink(t.at("B"), t.at("A/deep"));   // A -> B -> toA leads into A again
    pathLogger logger;
    logger.PathLogInit();
    ASSERT_TRUE(logger.LogPath(t.path()).ok());
    const auto folders = asSet(logger.pathNames()->items());
    EXPECT_EQ(folders, asSet({t.path() + S, t.at("A") + S, t.at("B") + S, t.at("B/toA") + S,
                              t.at("A/deep") + S}));
    // B/toA is A seen from B (a.msg again); A/deep is B seen from A.
    EXPECT_EQ(asSet(logger.fullFileNames()->items()),
              asSet({t.at("A/a.msg"), t.at("B/b.msg"), t.at("B/toA/a.msg"), t.at("A/deep/b.msg")}));
}

TEST(pathLogger, AnUnreadableFolderEndsTheWalkWithWhatWasFound) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    TempFolder t;
    t.makeFile("a.msg");
    const std::string locked = t.makeFolder("Locked");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    pathLogger logger;
    logger.PathLogInit();
    const Status s = logger.LogPath(t.path());
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().number, err::kAccessDenied);
    EXPECT_NE(s.error().description.find("Locked"), std::string::npos);
    EXPECT_EQ(logger.pathNames()->Count(), 2);
    EXPECT_EQ(logger.fullFileNames()->Count(), 1);
}
#else
TEST(pathLogger, FollowsLinksButNeverLoops) {
    GTEST_SKIP() << "POSIX only: symbolic links; Windows' junction loop is in engine/windows_sources_test.cpp";
}

TEST(pathLogger, AnUnreadableFolderEndsTheWalkWithWhatWasFound) {
    GTEST_SKIP() << "POSIX only: takes a folder's permission bits away";
}
#endif

}  // namespace
}  // namespace tavrin::fs
