// Adding to an existing store through the store operations: folders found
// by name and role, messages added with their rows and counts, duplicates
// skipped, refusals that leave the file untouched.
#include <gtest/gtest.h>

#include <functional>

#include "fs/update_file.h"
#include "store/message_files.h"
#include "store/pst/ltp/heap_editor.h"
#include "store/pst/ndb/ndb_update.h"
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

namespace tavrin::store::testing {
namespace {

namespace ndb = pst::ndb;
namespace ltp = pst::ltp;

// Changes a store's nodes in place with the updater's editors: property
// values of a property context, and cells of a table row.
void editStore(const std::string& path, const std::function<void(ndb::NdbUpdater&)>& edit) {
    auto file = fs::UpdateFile::open(path);
    ASSERT_TRUE(file.ok());
    auto u = ndb::NdbUpdater::open(**file);
    ASSERT_TRUE(u.ok()) << u.error().description;
    edit(**u);
    ASSERT_TRUE((*u)->commit((*u)->header().rgnid, 0).ok());
}

void setPc(ndb::NdbUpdater& u, uint32_t nid, const std::vector<Property>& props) {
    auto n = u.node(nid);
    ASSERT_TRUE(n.ok() && *n);
    auto heap = ltp::HeapEditor::open(u, (*n)->bidData);
    ASSERT_TRUE(heap.ok());
    ASSERT_TRUE(ltp::setPcProperties(*heap, props).ok());
    auto data = heap->commit();
    ASSERT_TRUE(data.ok());
    u.setNode(ndb::NodeEntry{nid, *data, (*n)->bidSub, (*n)->nidParent});
}

struct Refusal {
    const char* name;
    int32_t number;
    const char* says;
    std::function<void(const std::string& path)> make;
};

TEST(AddToStore, RefusalsLeaveTheFileByteForByte) {
    auto patchVer = [](uint16_t ver) {
        return [ver](const std::string& path) {
            auto b = fileBytes(path);
            b[10] = static_cast<uint8_t>(ver);
            b[11] = static_cast<uint8_t>(ver >> 8);
            writeText(path, std::string(b.begin(), b.end()));
        };
    };
    const std::vector<Refusal> cases = {
        {"ANSI", refusal::kAnsiFile, "Outlook 97-2002", patchVer(14)},
        {"4 KB pages", refusal::kLargePages, "4 KB pages", patchVer(36)},
        {"password", refusal::kPassword, "password",
         [](const std::string& path) {
             editStore(path, [](ndb::NdbUpdater& u) {
                 setPc(u, ndb::NID_MESSAGE_STORE, {Property::int32(tagOf(0x67FF, PT_LONG), 0x12345678)});
             });
         }},
        {"damaged store object", refusal::kDamaged, "has errors",
         [](const std::string& path) {
             // A byte of the message store's data block: its CRC no longer holds.
             auto db = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(fileBytes(path)));
             auto node = (*db)->findNode(ndb::NID_MESSAGE_STORE);
             auto block = (*db)->findBlock(node->bidData);
             auto b = fileBytes(path);
             b[static_cast<size_t>(block->ib + 20)] ^= 0x55;
             writeText(path, std::string(b.begin(), b.end()));
         }},
        {"damaged allocation map", refusal::kDamaged, "AMap page",
         [](const std::string& path) {
             auto b = fileBytes(path);
             b[ndb::kFirstAMapOffset + 100] ^= 0x01;
             writeText(path, std::string(b.begin(), b.end()));
         }},
        {"not a store", refusal::kNotAStore, "not an Outlook data file",
         [](const std::string& path) { writeText(path, std::string(300000, 'x')); }},
        {"open elsewhere", err::kFileInUse, "is open in another program. Close Outlook and try again.", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir.file("Mail.pst");
        writeStore(path, 3);
        if (c.make) c.make(path);
        std::unique_ptr<fs::UpdateFile> holder;
        if (!c.make) {
            auto held = fs::UpdateFile::open(path);
            ASSERT_TRUE(held.ok());
            holder = std::move(held).value();
        }
        const auto before = fileBytes(path);
        const auto stamp = sfs::last_write_time(path);
        RDOSession s;
        auto st = s.LogonPstStore(path, olStoreUnicode, "x", adding());
        ASSERT_FALSE(st.ok());
        EXPECT_EQ(st.error().number, c.number) << st.error().description;
        EXPECT_NE(st.error().description.find(c.says), std::string::npos) << st.error().description;
        EXPECT_EQ(st.error().description.rfind("Mail.pst", 0), 0u) << st.error().description;
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(sfs::last_write_time(path), stamp);
    }
}

TEST(AddToStore, DuplicatesByDigestByIdAndTimeOrBySearchKey) {
    ScratchDir dir;
    const std::string path = dir.file("d.pst");
    writeStore(path, 0);
    auto withKeys = [](const std::string& subject, std::optional<std::string> id, std::optional<uint64_t> time,
                       std::optional<Bytes> key, std::optional<uint8_t> digest) {
        Message m = simpleMessage(subject);
        if (id) m.props.set(Property::unicodeUtf8(tagOf(0x1035, PT_UNICODE), *id));
        if (time) m.props.set(Property::systime(tagOf(t::PidTagClientSubmitTime, PT_SYSTIME), *time));
        if (key) m.props.set(Property::binary(tagOf(t::PidTagSearchKey, PT_BINARY), *key));
        if (digest) setSourceDigest(m, std::array<uint8_t, 32>{*digest});
        return m;
    };
    const Bytes k1(16, 1), k2(16, 2);
    // What is saved first, and then whether the same again counts as present.
    struct Case {
        Message first, again;
        bool present;
    };
    std::vector<Case> cases;
    cases.push_back({withKeys("a", "<a@x>", 1, k1, 9), withKeys("a", std::nullopt, std::nullopt, std::nullopt, 9), true});
    cases.push_back({withKeys("b", "<b@x>", 5, k1, std::nullopt), withKeys("b2", "<b@x>", 5, k2, std::nullopt), true});
    cases.push_back({withKeys("c", "<c@x>", 5, k1, std::nullopt), withKeys("c", "<c@x>", 6, k1, std::nullopt), false});
    cases.push_back({withKeys("d", std::nullopt, std::nullopt, k2, std::nullopt), withKeys("d", std::nullopt, 7, k2, std::nullopt), true});
    cases.push_back({withKeys("e", std::nullopt, std::nullopt, Bytes(16, 3), 1), withKeys("e", std::nullopt, std::nullopt, Bytes(16, 4), 2), false});
    for (int pass = 0; pass < 2; ++pass) {
        // Pass 0 asks within the session that saved them, pass 1 in a new one
        // (the index then comes from the folder's table).
        RDOSession s;
        auto st = s.LogonPstStore(path, olStoreUnicode, "x", adding());
        ASSERT_TRUE(st.ok());
        auto inbox = (*st)->GetDefaultFolder(olFolderInbox);
        ASSERT_TRUE(inbox.ok());
        auto folder = (*inbox)->Folders().Add("dups" + std::to_string(pass));
        ASSERT_TRUE(folder.ok());
        for (auto& c : cases) {
            auto item = (*folder)->Items().Add();
            Message m;
            m.props = c.first.props;
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            ASSERT_TRUE((*item)->Save().ok());
        }
        if (pass == 1) {
            ASSERT_TRUE(s.Logoff().ok());
            ASSERT_TRUE(s.LogonPstStore(path, olStoreUnicode, "x", adding()).ok());
            folder = s.GetFolderFromPath("\\\\x\\" + (*inbox)->Name() + "\\dups1");
            ASSERT_TRUE(folder.ok());
        }
        for (size_t i = 0; i < cases.size(); ++i) {
            auto item = (*folder)->Items().Add();
            Message m;
            m.props = cases[i].again.props;
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            auto present = (*item)->IsAlreadyPresent();
            ASSERT_TRUE(present.ok());
            EXPECT_EQ(*present, cases[i].present) << i << " pass " << pass;
        }
        ASSERT_TRUE(s.Logoff().ok());
    }
    expectVerifies(path);
}

TEST(AddToStore, DefaultFoldersAreFoundByTheirEntriesNotTheirNames) {
    ScratchDir dir;
    const std::string path = dir.file("l.pst");
    writeStore(path, 2);
    // The Inbox renamed, as in a store of Outlook in another language.
    uint32_t inboxNid = 0;
    {
        auto r = pst::messaging::PstReader::open(path);
        auto tree = (*r)->folderTree((*r)->ipmSubtree());
        for (const auto& f : *tree)
            if (f.path == "Inbox") inboxNid = f.folder.nid;
    }
    ASSERT_NE(inboxNid, 0u);
    editStore(path, [&](ndb::NdbUpdater& u) {
        setPc(u, inboxNid, {uni(t::PidTagDisplayName, "Posta in arrivo")});
        auto ipm = u.node(inboxNid);
        auto h = u.node(pst::messaging::hierarchyTableNid((*ipm)->nidParent));
        auto table = ltp::TableEditor::open(u, (*h)->bidData, (*h)->bidSub);
        ASSERT_TRUE(table.ok());
        ASSERT_TRUE(table->setCells(inboxNid, 77, {uni(t::PidTagDisplayName, "Posta in arrivo")}).ok());
        auto w = table->commit();
        ASSERT_TRUE(w.ok());
        u.setNode(ndb::NodeEntry{pst::messaging::hierarchyTableNid((*ipm)->nidParent), w->first, w->second, 0});
    });
    expectVerifies(path);
    RDOSession s;
    auto st = s.LogonPstStore(path, olStoreUnicode, "x", adding());
    ASSERT_TRUE(st.ok());
    ASSERT_TRUE((*st)->ValidateIPMTree().ok());
    auto inbox = (*st)->GetDefaultFolder(olFolderInbox);
    ASSERT_TRUE(inbox.ok());
    EXPECT_EQ((*inbox)->Name(), "Posta in arrivo");
    EXPECT_EQ((*(*st)->IPMRootFolder())->Folders().Count(), 12u) << "no second Inbox";
    ASSERT_TRUE(s.Logoff().ok());
}

}  // namespace
}  // namespace tavrin::store::testing
