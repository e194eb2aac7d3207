// An existing file opened for changing in place: held by one opener at a
// time, read and written at offsets, cut or extended, and left as it was
// when nothing is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fs/update_file.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(UpdateFile, OneHolderAtATimeAndNothingChangesUntilWritten) {
    testing::TempFolder dir;
    const std::string path = dir.at("a.pst");
    std::ofstream(path, std::ios::binary) << "0123456789";
    const auto stamp = std::filesystem::last_write_time(path);
    {
        auto f = UpdateFile::open(path);
        ASSERT_TRUE(f.ok()) << f.error().description;
        EXPECT_EQ((*f)->size(), 10u);
        auto again = UpdateFile::open(path);
        ASSERT_FALSE(again.ok());
        EXPECT_EQ(again.error().number, err::kFileInUse);
        EXPECT_NE(again.error().description.find(path), std::string::npos);
        uint8_t b[3];
        ASSERT_TRUE((*f)->readAt(4, b).ok());
        EXPECT_EQ(std::string(b, b + 3), "456");
        EXPECT_FALSE((*f)->readAt(9, b).ok()) << "past the end";
    }
    EXPECT_EQ(contents(path), "0123456789");
    EXPECT_EQ(std::filesystem::last_write_time(path), stamp);
    auto f = UpdateFile::open(path);
    ASSERT_TRUE(f.ok()) << "given up when closed";
    const uint8_t x[2] = {'x', 'y'};
    ASSERT_TRUE((*f)->writeAt(12, x).ok());
    EXPECT_EQ((*f)->size(), 14u);
    ASSERT_TRUE((*f)->truncate(11).ok());
    ASSERT_TRUE((*f)->flush().ok());
    EXPECT_EQ((*f)->size(), 11u);
    ASSERT_TRUE((*f)->close().ok());
    EXPECT_EQ(contents(path), std::string("0123456789") + '\0');
}

TEST(UpdateFile, WhatCannotBeOpenedSaysWhy) {
    testing::TempFolder dir;
    struct Case {
        std::string path;
        int32_t number;
    };
    for (const Case& c : {Case{dir.at("missing.pst"), err::kFileNotFound}, Case{dir.path(), err::kInvalidParameter}}) {
        auto f = UpdateFile::open(c.path);
        ASSERT_FALSE(f.ok()) << c.path;
        EXPECT_EQ(f.error().number, c.number) << f.error().description;
    }
}

TEST(MemoryFile, HookSeesEveryChangeAndMayRefuseIt) {
    MemoryFile m({1, 2, 3});
    int writes = 0;
    m.beforeWrite = [&](MemoryFile::Op op, uint64_t, size_t) -> Status {
        if (op == MemoryFile::Op::Truncate) return Error(err::kDiskFull, "full");
        ++writes;
        return {};
    };
    const uint8_t v = 9;
    ASSERT_TRUE(m.writeAt(5, std::span<const uint8_t>(&v, 1)).ok());
    EXPECT_EQ(m.bytes(), (std::vector<uint8_t>{1, 2, 3, 0, 0, 9}));
    EXPECT_FALSE(m.truncate(2).ok());
    EXPECT_EQ(m.size(), 6u);
    EXPECT_EQ(writes, 1);
}

}  // namespace
}  // namespace tavrin::fs
