#include "fs/folder_identity.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

TEST(FolderIdentity, ALinkLeadsToTheSameIdentity) {
    TempFolder t;
    const std::string a = t.makeFolder("A"), b = t.makeFolder("B");
    auto idA = getFolderIdentity(a), idB = getFolderIdentity(b);
    ASSERT_TRUE(idA.ok());
    ASSERT_TRUE(idB.ok());
    EXPECT_FALSE(*idA == *idB);
#ifndef _WIN32
    std::filesystem::create_directory_symlink(a, t.at("link"));
    auto viaLink = getFolderIdentity(t.at("link"));
    ASSERT_TRUE(viaLink.ok());
    EXPECT_EQ(*viaLink, *idA);
#endif
    auto missing = getFolderIdentity(t.at("missing"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().number, err::kFileNotFound);
}

TEST(FolderChain, HoldsTheFoldersEnteredAndLeavesOuterChainsAlone) {
    const FolderIdentity root{1, 10}, inbox{1, 11}, other{2, 10};
    const FolderChain outside;
    const FolderChain atRoot = outside.entered(root);
    const FolderChain inInbox = atRoot.entered(inbox);
    EXPECT_EQ(outside.depth(), 0u);
    EXPECT_EQ(inInbox.depth(), 2u);
    EXPECT_TRUE(inInbox.contains(root));
    EXPECT_TRUE(inInbox.contains(inbox));
    EXPECT_FALSE(inInbox.contains(other));  // same inode, other device
    EXPECT_FALSE(atRoot.contains(inbox));
    EXPECT_FALSE(outside.contains(root));
    FolderChain assigned = inInbox;
    assigned = outside;
    EXPECT_EQ(assigned.depth(), 0u);
    EXPECT_TRUE(inInbox.contains(inbox));
}

TEST(FolderChain, AVeryDeepChainIsReleasedWithoutDeepRecursion) {
    FolderChain chain;
    for (uint64_t k = 0; k < 1000000; ++k) chain = chain.entered(FolderIdentity{7, k});
    EXPECT_EQ(chain.depth(), 1000000u);
    chain = FolderChain();  // releasing it node by node, not by a million nested calls
    EXPECT_EQ(chain.depth(), 0u);
}

}  // namespace
}  // namespace tavrin::fs
