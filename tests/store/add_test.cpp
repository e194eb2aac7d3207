// Adding to an existing store through the store operations: folders found
// by name and role, messages added with their rows and counts, duplicates
// skipped, refusals that leave the file untouched.
#include <gtest/gtest.h>

#include "fs/update_file.h"
#include "store/session.h"
#include "store_test_util.h"
#include "../store/pst/pst_samples.h"

namespace tavrin::store::testing {
namespace {

std::vector<uint8_t> fileBytes(const std::string& path) { return pst::testing::readBytes(path); }

// A new store with `count` messages in Inbox/Box, written by a session.
void writeStore(const std::string& path, int count, const std::string& name = "Store") {
    RDOSession s;
    auto st = s.LogonPstStore(path, olStoreUnicode, name);
    ASSERT_TRUE(st.ok()) << st.error().description;
    ASSERT_TRUE((*st)->ValidateIPMTree().ok());
    auto inbox = (*st)->GetDefaultFolder(olFolderInbox);
    ASSERT_TRUE(inbox.ok());
    auto box = (*inbox)->Folders().Add("Box");
    ASSERT_TRUE(box.ok());
    for (int i = 0; i < count; ++i) {
        auto item = (*box)->Items().Add();
        ASSERT_TRUE(item.ok());
        ASSERT_TRUE((*item)->ImportMessage(simpleMessage("old " + std::to_string(i))).ok());
        ASSERT_TRUE((*item)->Save().ok());
    }
    ASSERT_TRUE(s.Logoff().ok());
}

LogonOptions adding() {
    LogonOptions o;
    o.addToExisting = true;
    return o;
}

// Adds `count` messages "new i" into Inbox/Box and into a new folder Extra.
void addMessages(const std::string& path, int count, int* skipped = nullptr) {
    RDOSession s;
    auto st = s.LogonPstStore(path, olStoreUnicode, "ignored", adding());
    ASSERT_TRUE(st.ok()) << st.error().description;
    ASSERT_TRUE((*st)->ValidateIPMTree().ok());
    auto inbox = (*st)->GetDefaultFolder(olFolderInbox);
    ASSERT_TRUE(inbox.ok()) << inbox.error().description;
    auto box = s.GetFolderFromPath("\\\\" + (*st)->DisplayName() + "\\" + (*inbox)->Name() + "\\Box");
    if (!box) box = (*inbox)->Folders().Add("Box");
    ASSERT_TRUE(box.ok()) << box.error().description;
    auto extra = s.GetFolderFromPath("\\\\ignored\\Extra");
    if (!extra) extra = (*(*st)->IPMRootFolder())->Folders().Add("Extra");
    ASSERT_TRUE(extra.ok()) << extra.error().description;
    for (int i = 0; i < count; ++i)
        for (const auto& f : {*box, *extra}) {
            auto item = f->Items().Add();
            ASSERT_TRUE(item.ok());
            Message m = simpleMessage("new " + std::to_string(i));
            m.props.set(Property::unicodeUtf8(tagOf(0x1035, PT_UNICODE), "<" + std::to_string(i) + "@example.com>"));
            m.props.set(Property::systime(tagOf(t::PidTagClientSubmitTime, PT_SYSTIME), 132000000000000000ull + i));
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            ASSERT_TRUE((*item)->Save().ok());
            if (skipped && (*item)->WasAlreadyPresent()) ++*skipped;
        }
    auto st2 = s.Logoff();
    ASSERT_TRUE(st2.ok()) << st2.error().description;
}

TEST(AddToStore, OwnStoreGetsMessagesFolderAndCounts) {
    ScratchDir dir;
    const std::string path = dir.file("a.pst");
    writeStore(path, 5);
    addMessages(path, 3);
    expectVerifies(path);
    auto rb = readBack(path);
    EXPECT_EQ(rb.messages("Inbox/Box").size(), 8u);
    EXPECT_EQ(rb.messages("Extra").size(), 3u);
    // A second identical run adds nothing.
    const auto before = fileBytes(path);
    int skipped = 0;
    addMessages(path, 3, &skipped);
    EXPECT_EQ(skipped, 6);
    EXPECT_EQ(fileBytes(path), before);
}

TEST(AddToStore, EveryOutlookSampleTakesMessagesAndVerifies) {
    const auto files = pst::testing::samplePsts();
    if (files.empty()) GTEST_SKIP() << "shared PST samples not available";
    for (const auto& f : files) {
        const auto bytes = pst::testing::readBytes(f);
        if (bytes.size() < 12 || bytes[10] != 23) continue;
        SCOPED_TRACE(f.string());
        ScratchDir dir;
        const std::string path = dir.file("s.pst");
        writeText(path, std::string(bytes.begin(), bytes.end()));
        addMessages(path, 4);
        expectVerifies(path);
        auto rb = readBack(path);
        EXPECT_EQ(rb.messages("Extra").size(), 4u);
    }
}

}  // namespace
}  // namespace tavrin::store::testing
