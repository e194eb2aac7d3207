// The append-only log: records read back as written, from memory and from
// the scratch file, in any order; an offset that starts no record fails.
#include <gtest/gtest.h>

#include "fs/spill_log.h"

namespace tavrin::fs {
namespace {

std::string record(size_t i) { return std::string(i % 300, static_cast<char>('a' + i % 26)) + std::to_string(i); }

TEST(SpillLog, RecordsReadBackFromMemoryAndFromTheScratchFile) {
    SpillLog log(64 << 10);  // spills every 64 KiB
    std::vector<uint64_t> at;
    for (size_t i = 0; i < 20000; ++i) at.push_back(log.append(record(i)));
    uint64_t next = 0;
    for (size_t i = 0; i < at.size(); ++i) {
        ASSERT_EQ(next, at[i]);
        auto r = log.read(next, next);
        ASSERT_TRUE(r.ok()) << i;
        ASSERT_EQ(*r, record(i));
    }
    EXPECT_EQ(next, log.end());
    for (size_t i : {size_t(19999), size_t(0), size_t(777), size_t(12345)}) {
        uint64_t after = 0;
        EXPECT_EQ(*log.read(at[i], after), record(i)) << i;
        EXPECT_EQ(*log.next(at[i]), after);
    }
    EXPECT_FALSE(log.read(log.end(), next).ok());
    EXPECT_FALSE(log.next(log.end() + 5).ok());
    EXPECT_EQ(*log.read(log.append(""), next), "");
}

}  // namespace
}  // namespace tavrin::fs
