// The compact queue of paths answers what a keyed collection of the same
// paths answers, refuses what it refuses, and holds a million paths in a
// fraction of the memory.
#include <gtest/gtest.h>

#include "fs/keyed_collection.h"
#include "fs/path_queue.h"
#include "fs/runtime_error.h"

namespace tavrin::fs {
namespace {

TEST(PathQueue, AnswersAsAKeyedCollectionOfTheSamePaths) {
    PathQueue q('Z');
    KeyedCollection<std::string> k;
    // Folders as the walk adds them: each folder's entries one after
    // another, a folder coming back after others, numbers from 17 on.
    const std::vector<std::pair<std::string, std::string>> adds = {
        {"/m/", "A"}, {"/m/", "B"}, {"/m/A/", "x"}, {"/m/B/", ""}, {"/m/", "C"}, {"/m/", "C"}, {"", "/rel"}};
    int32_t number = 17;
    for (const auto& [folder, name] : adds) {
        ASSERT_TRUE(q.add(number, folder, name).ok());
        ASSERT_TRUE(k.add("Z" + std::to_string(number), folder + name).ok());
        ++number;
    }
    ASSERT_EQ(q.Count(), k.Count());
    EXPECT_EQ(q.items(), k.items());
    EXPECT_EQ(q.keys(), k.keys());
    for (int32_t i = 0; i <= q.Count() + 1; ++i) {
        EXPECT_EQ(q.item(i).has_value(), k.item(i) != nullptr) << i;
        if (k.item(i)) {
            EXPECT_EQ(*q.item(i), *k.item(i));
            EXPECT_EQ(*q.key(i), *k.key(i));
            EXPECT_EQ(*q.find(*k.key(i)), *k.find(*k.key(i)));
        }
    }
    EXPECT_EQ(q.folderOf(3), "/m/A/");
    EXPECT_EQ(q.nameOf(3), "x");
    EXPECT_EQ(q.nameOf(0), "");
    for (const char* key : {"Z16", "Z24", "Z017", "Z", "z17", "K17", "Z17 ", "Z-17", "Z1x", "Z99999999999"})
        EXPECT_FALSE(q.find(key).has_value()) << key;

    // A number in use, or one that does not follow, changes nothing.
    const Status used = q.add(20, "/m/", "D");
    EXPECT_EQ(used.error().number, rt::kKeyAlreadyAssociated);
    EXPECT_FALSE(q.add(25, "/m/", "D").ok());
    EXPECT_EQ(q.items(), k.items());
    EXPECT_TRUE(q.add(24, "/m/", "D").ok());
    EXPECT_EQ(*q.find("Z24"), "/m/D");

    q.clear();
    EXPECT_TRUE(q.empty());
    EXPECT_FALSE(q.item(1).has_value());
    // After emptying, numbers start anywhere again (K1 for a new folder).
    EXPECT_TRUE(q.add(-3, "/n/", "a").ok());
    EXPECT_EQ(q.keys(), std::vector<std::string>{"Z-3"});
    EXPECT_EQ(*q.find("Z-3"), "/n/a");
}

TEST(PathQueue, HoldsAMillionPathsInLittleMemory) {
    PathQueue q('K');
    size_t pathBytes = 0;
    int32_t number = 1;
    for (int f = 0; f < 1000; ++f) {
        const std::string folder = "/home/user/Mail/Archive " + std::to_string(f) + "/";
        for (int m = 0; m < 1000; ++m) {
            const std::string name = "message " + std::to_string(m) + ".msg";
            ASSERT_TRUE(q.add(number++, folder, name).ok());
            pathBytes += folder.size() + name.size();
        }
    }
    ASSERT_EQ(q.Count(), 1000000);
    EXPECT_EQ(*q.item(1), "/home/user/Mail/Archive 0/message 0.msg");
    EXPECT_EQ(*q.item(123457), "/home/user/Mail/Archive 123/message 456.msg");
    EXPECT_EQ(*q.find("K1000000"), "/home/user/Mail/Archive 999/message 999.msg");
    // The names and a few bytes each, against some 44 MB of paths (and as
    // much again for the keys) in a collection of texts.
    EXPECT_LT(q.memoryBytes(), 24u << 20);
    EXPECT_LT(q.memoryBytes() * 2, pathBytes);
}

}  // namespace
}  // namespace tavrin::fs
