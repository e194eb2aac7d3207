// File access through the system's calls (file_io_posix.cpp or
// file_io_win32.cpp): the same results on both, paths past 260 characters in
// several scripts, and the errors a user reads.
#include "fs/file_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/path_separator.h"
#include "platform_test_util.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

const std::string S(kPathSeparatorText);

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::string contentOf(const std::string& path) {
    auto r = readFile(path);
    return r ? std::string(r->begin(), r->end()) : "<" + r.error().description + ">";
}

TEST(FileIo, MissingFilesFoldersAndExistingTargetsAreNamedErrors) {
    TempFolder t;
    auto missing = InputFile::open(t.at("missing.msg"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, err::kFileNotFound);
    EXPECT_NE(missing.error().description.find(t.at("missing.msg")), std::string::npos);

    auto folder = InputFile::open(t.makeFolder("Inbox"));
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().description, "The file " + t.at("Inbox") + " is not a regular file.");

    const std::string existing = t.makeFile("old.pst", "old");
    auto created = OutputFile::createNew(existing);
    ASSERT_FALSE(created.ok());
    EXPECT_EQ(created.error().number, err::kFileExists);
    EXPECT_EQ(created.error().description, "The file " + existing + " already exists.");
    EXPECT_EQ(contentOf(existing), "old");
}

TEST(FileIo, PositionedWritesReadBackAndAGapReadsAsZeros) {
    TempFolder t;
    auto out = OutputFile::createNew(t.at("out.bin"));
    ASSERT_TRUE(out.ok()) << out.error().description;
    const std::vector<uint8_t> tail = bytesOf("tail");
    ASSERT_TRUE((*out)->writeAt(10, tail).ok());
    ASSERT_TRUE((*out)->writeAt(0, bytesOf("head")).ok());
    std::vector<uint8_t> back(20, 0xEE);
    ASSERT_TRUE((*out)->readAt(0, back).ok());
    EXPECT_EQ(std::string(back.begin(), back.begin() + 14), std::string("head\0\0\0\0\0\0tail", 14));
    EXPECT_EQ(std::vector<uint8_t>(back.begin() + 14, back.end()), std::vector<uint8_t>(6, 0));  // past the end
    ASSERT_TRUE((*out)->flush().ok());
    ASSERT_TRUE((*out)->close().ok());
    auto in = InputFile::open(t.at("out.bin"));
    ASSERT_TRUE(in.ok());
    EXPECT_EQ(in->size(), 14u);
    std::vector<uint8_t> four(4);
    ASSERT_TRUE(in->readAt(10, four).ok());
    EXPECT_EQ(four, tail);
    std::vector<uint8_t> beyond(5);
    auto shortRead = in->readAt(10, beyond);
    ASSERT_FALSE(shortRead.ok());
    EXPECT_EQ(shortRead.error().number, err::kCorrupt);
}

TEST(FileIo, RenameNeverReplacesUnlessAskedAndThenReplacesWhole) {
    TempFolder t;
    const std::string from = t.makeFile("new.tmp", "new");
    const std::string to = t.makeFile("target.pst", "old");
    auto kept = renameFile(from, to, true);
    ASSERT_FALSE(kept.ok());
    EXPECT_EQ(kept.error().number, err::kFileExists);
    EXPECT_EQ(contentOf(from), "new");
    EXPECT_EQ(contentOf(to), "old");
    ASSERT_TRUE(renameFile(from, to, false).ok());
    EXPECT_EQ(contentOf(to), "new");
    EXPECT_FALSE(pathExists(from));
    ASSERT_TRUE(renameFile(to, t.at("moved.pst"), true).ok());
    EXPECT_EQ(contentOf(t.at("moved.pst")), "new");
    ASSERT_TRUE(removeFile(t.at("moved.pst")).ok());
    EXPECT_TRUE(removeFile(t.at("moved.pst")).ok()) << "removing what is not there is no failure";
}

TEST(FileIo, PathsPastMaxPathInSeveralScriptsWork) {
    TempFolder t;
    std::string folder = t.path();
    const char* parts[] = {"Почта", "Αλληλογραφία", "邮件归档", "البريد", "דואר", "Архив 😀"};
    for (size_t i = 0; folder.size() < 300; ++i) folder += S + parts[i % 6] + " " + std::to_string(i);
    ASSERT_GT(folder.size(), 260u);
    ASSERT_TRUE(tavrin::testing::makeFolders(folder));
    const std::string file = folder + S + "Письмо.pst";
    auto out = OutputFile::createNew(file + ".tmp");
    ASSERT_TRUE(out.ok()) << out.error().description;
    ASSERT_TRUE((*out)->writeAt(0, bytesOf("deep")).ok());
    ASSERT_TRUE((*out)->close().ok());
    ASSERT_TRUE(renameFile(file + ".tmp", file, true).ok());
    EXPECT_TRUE(pathExists(file));
    EXPECT_FALSE(pathExists(file + ".tmp"));
    EXPECT_EQ(contentOf(file), "deep");
    ASSERT_TRUE(removeFile(file).ok());
    EXPECT_FALSE(pathExists(file));
    tavrin::testing::removeTree(t.path());
}

TEST(FileIo, FullPathsAreTheSystemsOwn) {
#ifdef _WIN32
    wchar_t cwd[32768] = {};
    GetCurrentDirectoryW(32768, cwd);
    std::string here = text::toUtf8(std::u16string(cwd, cwd + wcslen(cwd)));
    if (here.back() != '\\') here += '\\';
    EXPECT_EQ(systemFullPath("a/b/../c.msg"), here + "a\\c.msg");
    EXPECT_EQ(systemFullPath("D:\\Mail\\.\\Inbox"), "D:\\Mail\\Inbox");
    EXPECT_EQ(systemFullPath("\\\\server\\share\\Mail"), "\\\\server\\share\\Mail");
#else
    EXPECT_EQ(systemFullPath("a/b/../c.msg"), "a/b/../c.msg");  // relative paths work as they are
#endif
}

TEST(FileIo, AFileHeldWithoutReadSharingIsReportedAsInUse) {
#ifndef _WIN32
    GTEST_SKIP() << "Windows only: POSIX systems have no share modes";
#else
    TempFolder t;
    const std::string file = t.makeFile("held.msg", "x");
    const HANDLE h = CreateFileW(tavrin::testing::longPath(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    auto in = InputFile::open(file);
    CloseHandle(h);
    ASSERT_FALSE(in.ok());
    EXPECT_EQ(in.error().number, err::kAccessDenied);
    EXPECT_EQ(in.error().description, "The file " + file +
                                          " could not be opened: The process cannot access the file because it is "
                                          "being used by another process.");
    EXPECT_TRUE(InputFile::open(file).ok()) << "readable again once released";
#endif
}

}  // namespace
}  // namespace tavrin::fs
