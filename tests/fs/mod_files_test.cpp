#include "fs/mod_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform_test_util.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

const std::string S(kPathSeparatorText);

// Makes LastFileError nonzero, so that a test can see an operation reset it.
void dirtyLastFileError(const TempFolder& t) {
    ASSERT_EQ(GetPathAttributes(t.at("no such entry")), -1);
    ASSERT_NE(LastFileError(), 0);
}

// Every name a search for `pattern` reports, in order.
std::vector<std::string> searchNames(const std::string& pattern) {
    std::vector<std::string> names;
    FileEntry entry;
    if (FindFirstEntry(pattern, entry) == -1) return names;
    do names.push_back(entry.Name);
    while (FindNextEntry(entry) != 0);
    return names;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

[[maybe_unused]] bool runningAsRoot() {
#ifndef _WIN32
    return ::geteuid() == 0;
#else
    return false;
#endif
}

TEST(FolderExists, AcceptsTrailingSeparatorsAndSurroundingSpaces) {
    TempFolder t;
    const std::string folder = t.makeFolder("My Mail");
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_TRUE(FolderExists(folder + S));
    // The untrimmed text names nothing; the trimmed one does.
    EXPECT_TRUE(FolderExists("  " + folder + "  "));
    EXPECT_TRUE(FolderExists(" " + folder + S + " "));
    EXPECT_EQ(LastFileError(), 0);
}

TEST(FolderExists, AnswersFalseForFilesAndMissingFoldersAndLeavesNoError) {
    TempFolder t;
    const std::string file = t.makeFile("a.msg");
    dirtyLastFileError(t);
    EXPECT_FALSE(FolderExists(file));
    EXPECT_EQ(LastFileError(), 0);
    dirtyLastFileError(t);
    EXPECT_FALSE(FolderExists(t.at("missing")));
    EXPECT_EQ(LastFileError(), 0);
    EXPECT_FALSE(FolderExists(t.at("missing/deeper")));
    EXPECT_FALSE(FolderExists("ftp://example.com/x"));
    EXPECT_EQ(LastFileError(), 0);
}

TEST(FileExists, TellsFilesFromFoldersAndAlwaysClearsTheError) {
    TempFolder t;
    const std::string file = t.makeFile("a.msg");
    const std::string folder = t.makeFolder("Inbox");
    dirtyLastFileError(t);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(LastFileError(), 0);
    EXPECT_FALSE(FileExists(folder));
    dirtyLastFileError(t);
    EXPECT_FALSE(FileExists(t.at("b.msg")));
    EXPECT_EQ(LastFileError(), 0);
    // A pattern counts when its first match is a file.
    EXPECT_TRUE(FileExists(t.at("*.MSG")));
    EXPECT_FALSE(FileExists(t.at("Inb*")));
}

TEST(GetPathAttributes, ReportsWindowsBitsAndCodes) {
    TempFolder t;
    const std::string folder = t.makeFolder("Inbox");
    const std::string file = t.makeFile("a.msg");
    EXPECT_EQ(GetPathAttributes(folder), static_cast<int32_t>(kAttrDirectory));
    EXPECT_EQ(LastFileError(), 0);
#ifdef _WIN32
    // A new file carries the archive bit (0x20) alone; hidden is an
    // attribute of its own, not a leading dot.
    EXPECT_EQ(GetPathAttributes(file), 0x20);
    const std::string hidden = t.makeFile("secret");
    ASSERT_TRUE(SetFileAttributesW(std::wstring(hidden.begin(), hidden.end()).c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetPathAttributes(hidden) & static_cast<int32_t>(kAttrHidden), static_cast<int32_t>(kAttrHidden));
#else
    EXPECT_EQ(GetPathAttributes(file), static_cast<int32_t>(kAttrNormal));
    EXPECT_EQ(GetPathAttributes(t.makeFile(".hidden")) & static_cast<int32_t>(kAttrHidden),
              static_cast<int32_t>(kAttrHidden));
#endif

    EXPECT_EQ(GetPathAttributes(t.at("missing.msg")), -1);
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
    EXPECT_EQ(GetPathAttributes(t.at("missing/a.msg")), -1);
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
    EXPECT_EQ(GetPathAttributes(file + S + "x"), -1);  // a file used as a folder
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);
}

#ifndef _WIN32
TEST(GetPathAttributes, FollowsLinksForTheFolderBitAndReadsBrokenLinksAsFiles) {
    TempFolder t;
    const std::string folder = t.makeFolder("Inbox");
    std::filesystem::create_directory_symlink(folder, t.at("link"));
    std::filesystem::create_symlink(t.at("gone"), t.at("dangling"));
    std::filesystem::create_symlink(t.at("self"), t.at("self"));
    EXPECT_EQ(GetPathAttributes(t.at("link")), static_cast<int32_t>(kAttrDirectory | kAttrReparsePoint));
    EXPECT_EQ(GetPathAttributes(t.at("dangling")), static_cast<int32_t>(kAttrReparsePoint));
    EXPECT_EQ(GetPathAttributes(t.at("self")), static_cast<int32_t>(kAttrReparsePoint));
    EXPECT_EQ(LastFileError(), 0);
}

TEST(GetPathAttributes, ReadOnlyFilesCarryTheReadOnlyBit) {
    TempFolder t;
    const std::string file = t.makeFile("a.msg");
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    EXPECT_EQ(GetPathAttributes(file), static_cast<int32_t>(kAttrReadOnly));
}

// A search for the folder bit alone leaves out only the read-only bit;
// links are still followed for it.
TEST(Search, TheFolderBitAloneIsTheRestLeftOut) {
    TempFolder t;
    std::filesystem::permissions(t.makeFile("ro.msg"), std::filesystem::perms::owner_read);
    t.makeFile(".hidden");
    const std::string folder = t.makeFolder("Sent");
    std::filesystem::create_directory_symlink(folder, t.at("link"));
    const std::tuple<const char*, uint32_t, uint32_t> rows[] = {
        {"ro.msg", kAttrReadOnly, kAttrNormal},
        {".hidden", kAttrHidden, kAttrHidden},
        {"Sent", kAttrDirectory, kAttrDirectory},
        {"link", kAttrDirectory | kAttrReparsePoint, kAttrDirectory | kAttrReparsePoint},
    };
    for (const auto& [name, all, folderBit] : rows)
        for (SearchDetail d : {SearchDetail::AllAttributes, SearchDetail::FolderBit}) {
            FileEntry e;
            ASSERT_GT(FindFirstEntry(t.path() + S + "*", e, d), 0);
            while (e.Name != name) ASSERT_NE(FindNextEntry(e), 0) << name;
            EXPECT_EQ(e.Attributes, d == SearchDetail::FolderBit ? folderBit : all) << name;
        }
}
#else
TEST(GetPathAttributes, FollowsLinksForTheFolderBitAndReadsBrokenLinksAsFiles) {
    GTEST_SKIP() << "POSIX only: these are the attributes the POSIX search cursor gives symbolic links; "
                    "Windows reports its own";
}

TEST(GetPathAttributes, ReadOnlyFilesCarryTheReadOnlyBit) {
    TempFolder t;
    const std::string file = t.makeFile("a.msg");
    ASSERT_TRUE(SetFileAttributesW(tavrin::testing::longPath(file).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetPathAttributes(file) & ~FILE_ATTRIBUTE_ARCHIVE, static_cast<int32_t>(kAttrReadOnly));
    SetFileAttributesW(tavrin::testing::longPath(file).c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif

TEST(Search, AnEmptyFolderYieldsDotAndDotDotThenEndsCleanly) {
    TempFolder t;
    const std::string folder = t.makeFolder("Empty") + S;
    FileEntry entry;
    const int32_t handle = FindFirstEntry(folder + "*", entry);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(entry.Handle, handle);
    EXPECT_EQ(entry.Pattern, folder + "*");
    EXPECT_TRUE(entry.HasItem);
    EXPECT_EQ(entry.Name, ".");
    EXPECT_TRUE(entry.Attributes & kAttrDirectory);
    ASSERT_NE(FindNextEntry(entry), 0);
    EXPECT_EQ(entry.Name, "..");
    EXPECT_TRUE(entry.Attributes & kAttrDirectory);

    dirtyLastFileError(t);
    EXPECT_EQ(FindNextEntry(entry), 0);
    EXPECT_FALSE(entry.HasItem);
    EXPECT_FALSE(entry.Failed);
    EXPECT_EQ(entry.ErrorCode, 0);
    EXPECT_EQ(entry.Handle, 0);
    EXPECT_EQ(LastFileError(), 0);
    // The search is closed already: closing again has nothing to do.
    EXPECT_TRUE(EndFind(entry));
    EXPECT_EQ(entry.Handle, -1);
}

TEST(Search, ListsEveryEntryOnceAfterDotAndDotDot) {
    TempFolder t;
    t.makeFile("a.msg");
    t.makeFile("README");
    t.makeFile(".hidden");
    t.makeFolder("Sent Items");
    const std::vector<std::string> names = searchNames(t.path() + S + "*");
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], ".");
    EXPECT_EQ(names[1], "..");
    EXPECT_EQ(sorted({names.begin() + 2, names.end()}),
              (std::vector<std::string>{".hidden", "README", "Sent Items", "a.msg"}));
    // "*.*" matches names without a dot as well.
    EXPECT_EQ(sorted(searchNames(t.path() + S + "*.*")), sorted(names));
}

TEST(Search, MatchesWildcardsTheWindowsWay) {
    TempFolder t;
    for (const char* name : {"a.msg", "B.MSG", "c.msg.bak", "noext", "x.txt"}) t.makeFile(name);
    const std::string dir = t.path() + S;
    EXPECT_EQ(sorted(searchNames(dir + "*.msg")), (std::vector<std::string>{"B.MSG", "a.msg"}));
    EXPECT_EQ(sorted(searchNames(dir + "?.MSG")), (std::vector<std::string>{"B.MSG", "a.msg"}));
    if (!tavrin::testing::runningUnderWine()) {  // wine's FindFirstFileW matches "*." as "*"
        std::vector<std::string> noExtension = searchNames(dir + "*.");
        std::erase_if(noExtension, [](const std::string& n) { return n == "." || n == ".."; });
        EXPECT_EQ(noExtension, (std::vector<std::string>{"noext"}));
    }
    EXPECT_EQ(searchNames(dir + "no?x?"), (std::vector<std::string>{"noext"}));
}

TEST(Search, ANamedEntryIsFoundAsItself) {
    TempFolder t;
    t.makeFile("a.msg");
    const std::string folder = t.makeFolder("Inbox");
    FileEntry entry;
    ASSERT_GT(FindFirstEntry(t.at("a.msg"), entry), 0);
    EXPECT_EQ(entry.Name, "a.msg");
    EXPECT_FALSE(entry.Attributes & kAttrDirectory);
    EXPECT_EQ(FindNextEntry(entry), 0);
    EXPECT_FALSE(entry.Failed);
    ASSERT_GT(FindFirstEntry(folder, entry), 0);
    EXPECT_EQ(entry.Name, "Inbox");
    EXPECT_TRUE(entry.Attributes & kAttrDirectory);
    EXPECT_TRUE(EndFind(entry));
}

TEST(Search, AFailedStartReportsTheSystemCode) {
    TempFolder t;
    FileEntry entry;
    dirtyLastFileError(t);
    EXPECT_EQ(FindFirstEntry(t.at("missing/*"), entry), -1);
    EXPECT_EQ(entry.Handle, -1);
    EXPECT_FALSE(entry.HasItem);
    EXPECT_TRUE(entry.Failed);
    EXPECT_EQ(entry.ErrorCode, kErrorPathNotFound);
    EXPECT_EQ(LastFileError(), kErrorPathNotFound);

    t.makeFile("a.msg");
    EXPECT_EQ(FindFirstEntry(t.at("*.pst"), entry), -1);
    EXPECT_EQ(entry.ErrorCode, kErrorFileNotFound);
    EXPECT_EQ(FindFirstEntry(t.at("b.msg"), entry), -1);
    EXPECT_EQ(entry.ErrorCode, kErrorFileNotFound);
    EXPECT_EQ(FindFirstEntry(t.path() + S, entry), -1);  // no name part
    EXPECT_TRUE(entry.Failed);
}

TEST(Search, FtpPatternsSearchNothingInAnyLetterCase) {
    for (const char* pattern : {"ftp://host/dir/*", "FTP://HOST/DIR/*", "Ftp://x"}) {
        FileEntry entry;
        entry.Handle = 1234;
        entry.HasItem = true;
        entry.Failed = true;
        entry.ErrorCode = 5;
        EXPECT_EQ(FindFirstEntry(pattern, entry), 0) << pattern;
        EXPECT_EQ(entry.Handle, 1234);  // left as it was
        EXPECT_FALSE(entry.HasItem);
        EXPECT_FALSE(entry.Failed);
        EXPECT_EQ(entry.ErrorCode, 0);
        EXPECT_EQ(entry.Pattern, pattern);
        entry.Handle = -1;
    }
}

TEST(Search, EndFindClosesOnceAndRejectsUnknownHandles) {
    TempFolder t;
    FileEntry entry;
    ASSERT_GT(FindFirstEntry(t.path() + S + "*", entry), 0);
    EXPECT_TRUE(EndFind(entry));
    EXPECT_EQ(entry.Handle, -1);
    EXPECT_FALSE(entry.HasItem);
    EXPECT_TRUE(EndFind(entry));
    EXPECT_EQ(LastFileError(), 0);

    entry.Handle = 987654;
    EXPECT_FALSE(EndFind(entry));
    EXPECT_EQ(LastFileError(), kErrorInvalidHandle);
    EXPECT_EQ(entry.Handle, -1);
}

TEST(Search, NextOnASearchThatNeverStartedFailsWithAnInvalidHandle) {
    FileEntry entry;
    EXPECT_EQ(FindNextEntry(entry), 0);
    EXPECT_TRUE(entry.Failed);
    EXPECT_EQ(entry.ErrorCode, kErrorInvalidHandle);
    EXPECT_EQ(entry.Handle, 0);
}

#ifndef _WIN32
size_t openDescriptors() {
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

TEST(Search, AnAbandonedSearchIsReleasedWithItsEntry) {
    if (!std::filesystem::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc/self/fd to count descriptors";
    TempFolder t;
    const size_t before = openDescriptors();
    for (int i = 0; i < 50; ++i) {
        FileEntry entry;
        ASSERT_GT(FindFirstEntry(t.path() + S + "*", entry), 0);
        FileEntry moved = std::move(entry);  // one search, one owner
        EXPECT_EQ(entry.Handle, -1);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(Search, AnUnreadableFolderFailsWithAccessDenied) {
    if (runningAsRoot()) GTEST_SKIP() << "permission bits do not stop root";
    TempFolder t;
    const std::string folder = t.makeFolder("Locked");
    t.makeFile("Locked/a.msg");
    std::filesystem::permissions(folder, std::filesystem::perms::none);
    FileEntry entry;
    EXPECT_EQ(FindFirstEntry(folder + S + "*", entry), -1);
    EXPECT_TRUE(entry.Failed);
    EXPECT_EQ(entry.ErrorCode, kErrorAccessDenied);
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
    // It still exists as a folder.
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_EQ(GetPathAttributes(folder + S + "a.msg"), -1);
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
}

TEST(ApiSupport, POSIXHasNoWideCallsAndReportsItsOwnPlatform) {
    (void)GetPathAttributes(".");
    EXPECT_TRUE(ApiSupport().initialised);
    EXPECT_FALSE(ApiSupport().wideGetFileAttributes);
    EXPECT_FALSE(ApiSupport().wideFindFirstFile);
    EXPECT_FALSE(ApiSupport().wideFindNextFile);
    EXPECT_EQ(DetectPlatform(), kPlatformPosix);
    EXPECT_EQ(LastFileError(), 0);
}
#else
TEST(Search, AnAbandonedSearchIsReleasedWithItsEntry) {
    GTEST_SKIP() << "POSIX only: counts the descriptors in /proc/self/fd";
}

TEST(Search, AnUnreadableFolderFailsWithAccessDenied) {
    GTEST_SKIP() << "POSIX only: takes a folder's permission bits away";
}

TEST(ApiSupport, NTUsesTheWideCallsAndReportsItsPlatform) {
    (void)GetPathAttributes(".");
    EXPECT_TRUE(ApiSupport().initialised);
    EXPECT_TRUE(ApiSupport().wideGetFileAttributes);
    EXPECT_TRUE(ApiSupport().wideFindFirstFile);
    EXPECT_TRUE(ApiSupport().wideFindNextFile);
    EXPECT_EQ(DetectPlatform(), 2);  // VER_PLATFORM_WIN32_NT
    EXPECT_EQ(LastFileError(), 0);
}
#endif

TEST(CaptureApiError, PrefersTheReportedCode) {
    CaptureApiError(kErrorAccessDenied);
    EXPECT_EQ(LastFileError(), kErrorAccessDenied);
#ifndef _WIN32
    errno = 0;
    CaptureApiError();
    EXPECT_EQ(LastFileError(), -1);  // the system reported nothing
    errno = ENOENT;
    CaptureApiError(0);
    EXPECT_EQ(LastFileError(), kErrorFileNotFound);
#endif
}

TEST(PathText, AddBackslashTrimsSpacesAndEndsInOneSeparator) {
    EXPECT_EQ(AddBackslash("  Mail  "), "Mail" + S);
    EXPECT_EQ(AddBackslash("Mail" + S), "Mail" + S);
    EXPECT_EQ(AddBackslash(" Mail" + S + " "), "Mail" + S);
    EXPECT_EQ(AddBackslash(""), S);
    EXPECT_EQ(AddBackslash("   "), S);
    EXPECT_EQ(AddBackslash("My Mail"), "My Mail" + S);
}

TEST(PathText, TrimAtNullKeepsTheTextBeforeTheFirstNul) {
    EXPECT_EQ(TrimAtNull(std::string("a.msg\0\0\0", 8)), "a.msg");
    EXPECT_EQ(TrimAtNull("a.msg"), "a.msg");
    EXPECT_EQ(TrimAtNull(std::string("\0a", 2)), "");
}

TEST(PathText, LongPathBuffersCarryThePrefixAndOneNul) {
    EXPECT_EQ(MakeLongPathBuffer("C:\\Mail\\a.msg"), std::u16string(u"\\\\?\\C:\\Mail\\a.msg") + u'\0');
    EXPECT_EQ(MakeLongPathBuffer("C:\\"), std::u16string(u"\\\\?\\C:\\") + u'\0');
    // A UNC share root loses its two leading backslashes behind the prefix.
    EXPECT_EQ(MakeLongPathBuffer("\\\\server\\share\\"), std::u16string(u"\\\\?\\UNC\\server\\share\\") + u'\0');
    // Text is UTF-16; nothing is normalised.
    EXPECT_EQ(MakeLongPathBuffer("D:/M\xC3\xA4il/../x"), std::u16string(u"\\\\?\\D:/M\u00E4il/../x") + u'\0');
    EXPECT_EQ(MakeLongPathBuffer("\xF0\x9F\x98\x80").size(), 4u + 2u + 1u);
    EXPECT_EQ(MakeLongPathBuffer(""), std::u16string(u"\\\\?\\") + u'\0');
}

}  // namespace
}  // namespace tavrin::fs
