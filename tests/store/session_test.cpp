// The store operations: the file a session writes, folder lookups and
// additions, default folders, items and their commit.
#include <gtest/gtest.h>

#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "fs/file_io.h"
#include "store/msg/msg_builder.h"
#include "store/session.h"
#include "store_test_util.h"

namespace tavrin::store {
namespace {

using namespace testing;

// The files beside the target other than the target itself.
std::vector<std::string> leftovers(const ScratchDir& dir, const std::string& target) {
    std::vector<std::string> out;
    for (const std::string& e : dir.entries())
        if (e != target) out.push_back(e);
    return out;
}

// ---- the file ----

// The file is written out of sight (no name at all where the system allows
// it, else a temporary name beside the target) and appears at Logoff.
TEST(SessionFile, WritesOutOfSightAndAppearsAtLogoff) {
    ScratchDir dir;
    const std::string path = dir.file("out.pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok()) << store.error().description;
    EXPECT_FALSE(sfs::exists(path)) << "the final name appears only when the file is complete";
    for (const std::string& e : dir.entries()) {
#ifdef _WIN32
        if (e.rfind("out.pst.spill-", 0) == 0) continue;  // listed until closed, deleted on close
#endif
        EXPECT_EQ(e.rfind("out.pst.tmp-", 0), 0u) << e;
    }
    EXPECT_TRUE(session.CheckOutput().ok());
    ASSERT_TRUE(session.Logoff().ok());
    EXPECT_EQ(leftovers(dir, "out.pst"), std::vector<std::string>{});
    expectVerifies(path);
}

// The size estimates bound the file: a file completed right after an item
// is never larger than the store's projection before that item plus the
// item's estimate, for small and large items, 8-bit strings, recipients
// and attachments; and they stay estimates, not wild guesses.
TEST(SessionFile, SizeEstimatesBoundTheCompletedFile) {
    auto itemOf = [](int i) {
        Message m = simpleMessage(std::string(static_cast<size_t>(i % 7) * 90, 's'), std::string(i % 5 * 3000u, 'b'));
        if (i % 3 == 0) m.props.set(Property::string8(tagOf(tags::PidTagBody, PT_STRING8), Bytes(20000, 'x')));
        if (i % 4 == 0) m.attachments.push_back(fileAttachment("a.bin", patternBytes(150000 + 977 * i, i)));
        for (int r = 0; r < i % 6; ++r) m.recipients.push_back(recipient(1, "Name " + std::to_string(r), "a@b.c"));
        return m;
    };
    for (int count : {1, 9, 60}) {
        SCOPED_TRACE("items " + std::to_string(count));
        ScratchDir dir;
        const std::string path = dir.file("size.pst");
        RDOSession session;
        auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        ASSERT_TRUE((*store)->ValidateIPMTree().ok());
        auto root = (*store)->IPMRootFolder();
        ASSERT_TRUE(root.ok());
        uint64_t bound = 0;
        for (int i = 1; i <= count; ++i) {
            auto item = (*root)->Items().Add(0);
            ASSERT_TRUE(item.ok());
            ASSERT_TRUE((*item)->ImportMessage(itemOf(i)).ok());
            const uint64_t estimate = (*item)->EstimatedSize();
            bound = (*store)->ProjectedSize() + estimate;
            EXPECT_GT(estimate, 0u);
            ASSERT_TRUE((*item)->Save().ok());
            EXPECT_EQ((*item)->EstimatedSize(), 0u);
        }
        const uint64_t projected = (*store)->ProjectedSize();
        ASSERT_TRUE(session.Logoff().ok());
        const uint64_t size = sfs::file_size(path);
        EXPECT_LE(size, bound);
        EXPECT_LE(size, projected);
        // An estimate, not a guess: within a few hundred kilobytes above.
        EXPECT_LE(projected, size + size / 2 + 1024 * 1024);
    }
}

TEST(SessionFile, RefusesAnExistingFileAndLeavesItUntouched) {
    ScratchDir dir;
    const std::string path = dir.file("taken.pst");
    writeText(path, "not a pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_FALSE(store.ok());
    EXPECT_NE(store.error().number, 0);
    EXPECT_EQ(store.error().description, "The file " + path + " already exists.");
    EXPECT_EQ(readText(path), "not a pst");
    EXPECT_EQ(leftovers(dir, "taken.pst"), std::vector<std::string>{});
    // The refusal leaves the session usable for another path.
    EXPECT_TRUE(session.LogonPstStore(dir.file("free.pst"), olStoreUnicode, "Mail").ok());
    EXPECT_TRUE(session.Logoff().ok());
}

TEST(SessionFile, MissingFolderOfTheTargetIsNamedWithTheTarget) {
    ScratchDir dir;
    const std::string path = dir.file("absent/out.pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_FALSE(store.ok());
    EXPECT_NE(store.error().number, 0);
    EXPECT_EQ(store.error().description.rfind("The file " + path + " could not be created: ", 0), 0u)
        << store.error().description;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

TEST(SessionFile, SessionEndedWithoutLogoffLeavesNothing) {
    ScratchDir dir;
    {
        RDOSession session;
        auto store = session.LogonPstStore(dir.file("gone.pst"), olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        auto root = (*store)->IPMRootFolder();
        ASSERT_TRUE(root.ok());
        auto item = (*root)->Items().Add(0);
        ASSERT_TRUE(item.ok());
        ASSERT_TRUE((*item)->ImportMessage(simpleMessage("unsaved work")).ok());
        ASSERT_TRUE((*item)->Save().ok());
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}

TEST(SessionFile, FailedLogoffKeepsAFileThatAppearedMeanwhileAndCleansUp) {
    ScratchDir dir;
    const std::string path = dir.file("race.pst");
    RDOSession session;
    ASSERT_TRUE(session.LogonPstStore(path, olStoreUnicode, "Mail").ok());
    writeText(path, "someone else's file");
    const Status s = session.Logoff();
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.error().description.empty());
    EXPECT_EQ(readText(path), "someone else's file");
    EXPECT_EQ(leftovers(dir, "race.pst"), std::vector<std::string>{});
}

TEST(SessionFile, OperationsAfterLogoffFailAsValues) {
    ScratchDir dir;
    RDOSession session;
    auto store = session.LogonPstStore(dir.file("closed.pst"), olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    auto root = (*store)->IPMRootFolder();
    ASSERT_TRUE(root.ok());
    ASSERT_TRUE(session.Logoff().ok());
    EXPECT_FALSE((*root)->Folders().Add("Late").ok());
    EXPECT_FALSE((*root)->Items().Add(0).ok());
    EXPECT_FALSE(session.GetFolderFromPath("\\\\Mail").ok());
    EXPECT_FALSE(session.Logoff().ok());
}

// A full disk: the process may write only `limit` bytes into any file.
// Every outcome must be an error value; the target never appears and no
// temporary file stays behind.
TEST(SessionFile, FullDiskIsAnErrorAndLeavesNoFile) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX systems only: a file size limit (RLIMIT_FSIZE) stands in for a full disk";
#else
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    for (rlim_t limit : {rlim_t(4096), rlim_t(100000), rlim_t(400000), rlim_t(1500000)}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        ScratchDir dir;
        const std::string path = dir.file("full.pst");
        RDOSession session;
        auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        auto root = (*store)->IPMRootFolder();
        ASSERT_TRUE(root.ok());

        struct rlimit lim = old;
        lim.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
        Status failure;
        for (int i = 0; i < 40 && failure.ok(); ++i) {
            Message m = simpleMessage("message " + std::to_string(i));
            m.attachments.push_back(fileAttachment("data.bin", patternBytes(60000, static_cast<uint32_t>(i))));
            auto item = (*root)->Items().Add(0);
            if (!item.ok()) { failure = std::move(item).error(); break; }
            if (Status s = (*item)->ImportMessage(std::move(m)); !s.ok()) { failure = s; break; }
            failure = (*item)->Save();
        }
        if (failure.ok()) failure = session.Logoff();
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

        ASSERT_FALSE(failure.ok()) << "2.4 MB of attachments cannot fit in " << limit << " bytes";
        EXPECT_NE(failure.error().number, 0);
        EXPECT_FALSE(failure.error().description.empty());
        // The user is told about the file they chose, not the temporary one.
        EXPECT_EQ(failure.error().description.find(".tmp-"), std::string::npos) << failure.error().description;
        EXPECT_EQ(failure.error().description.find(".spill-"), std::string::npos) << failure.error().description;
        (void)session.Logoff();
        EXPECT_FALSE(sfs::exists(path));
        EXPECT_EQ(dir.entries(), std::vector<std::string>{});
    }
    std::signal(SIGXFSZ, oldHandler);
#endif
}

// ---- folder paths ----

class FolderPaths : public ::testing::Test {
protected:
    void SetUp() override {
        auto s = session.LogonPstStore(dir.file("paths.pst"), olStoreUnicode, "My Store");
        ASSERT_TRUE(s.ok());
        store = *s;
        ASSERT_TRUE(store->ValidateIPMTree().ok());
        auto root = store->IPMRootFolder();
        ASSERT_TRUE(root.ok());
        top = *root;
        auto work = top->Folders().Add("Work");
        ASSERT_TRUE(work.ok());
        ASSERT_TRUE((*work)->Folders().Add("Projects").ok());
    }
    void TearDown() override { EXPECT_TRUE(session.Logoff().ok()); }

    std::string nameAt(const std::string& path) {
        auto f = session.GetFolderFromPath(path);
        return f.ok() ? (*f)->Name() : "error: " + f.error().description;
    }

    ScratchDir dir;
    RDOSession session;
    std::shared_ptr<RDOStore> store;
    std::shared_ptr<RDOFolder> top;
};

TEST_F(FolderPaths, NoComponentsIsTheTopOfTheVisibleTree) {
    auto f = session.GetFolderFromPath("\\\\My Store");
    ASSERT_TRUE(f.ok());
    EXPECT_EQ((*f)->EntryID(), top->EntryID());
    auto g = session.GetFolderFromPath("\\\\My Store\\");
    ASSERT_TRUE(g.ok());
    EXPECT_EQ((*g)->EntryID(), top->EntryID());
}

TEST_F(FolderPaths, ComponentsWithOrWithoutTrailingBackslash) {
    EXPECT_EQ(nameAt("\\\\My Store\\Inbox"), "Inbox");
    EXPECT_EQ(nameAt("\\\\My Store\\Work\\Projects"), "Projects");
    EXPECT_EQ(nameAt("\\\\My Store\\Work\\Projects\\"), "Projects");
}

TEST_F(FolderPaths, MissingFolderIsNamedInTheExactText) {
    auto f = session.GetFolderFromPath("\\\\My Store\\Work\\Nowhere\\Deeper");
    ASSERT_FALSE(f.ok());
    EXPECT_NE(f.error().number, 0);
    EXPECT_EQ(f.error().description, "Folder \"Nowhere\" does not exist");
    EXPECT_EQ(f.error().name, "Nowhere");
    auto g = session.GetFolderFromPath("\\\\My Store\\Sent\\");
    ASSERT_FALSE(g.ok());
    EXPECT_EQ(g.error().description, "Folder \"Sent\" does not exist");
}

TEST_F(FolderPaths, OtherStoreIsNotAFolderOfThisOne) {
    auto f = session.GetFolderFromPath("\\\\Other Store\\Inbox");
    ASSERT_FALSE(f.ok());
    EXPECT_EQ(f.error().description.find("Folder \""), std::string::npos);
    EXPECT_EQ(f.error().name, "") << "no folder is missing: the store is";
    // A store name that only begins like ours is another store.
    EXPECT_FALSE(session.GetFolderFromPath("\\\\My Store2\\Inbox").ok());
}

TEST_F(FolderPaths, NameWithBackslashIsNeverSplit) {
    auto odd = top->Folders().Add("A\\B");
    ASSERT_TRUE(odd.ok());
    EXPECT_EQ((*odd)->Name(), "A\\B");
    auto viaComponents = session.GetFolderFromComponents("My Store", {"A\\B"});
    ASSERT_TRUE(viaComponents.ok());
    EXPECT_EQ((*viaComponents)->EntryID(), (*odd)->EntryID());
    // A folder "A" does not exist: the lookup never takes "A\B" apart.
    auto a = session.GetFolderFromComponents("My Store", {"A"});
    ASSERT_FALSE(a.ok());
    EXPECT_EQ(a.error().description, "Folder \"A\" does not exist");
    // And a path is split at every "\", so it names "A" as missing.
    auto viaPath = session.GetFolderFromPath("\\\\My Store\\A\\B");
    ASSERT_FALSE(viaPath.ok());
    EXPECT_EQ(viaPath.error().description, "Folder \"A\" does not exist");
}

// ---- adding folders ----

TEST(Folders, DuplicateAddFailsAndLeavesTheFolderUnchanged) {
    ScratchDir dir;
    const std::string path = dir.file("dup.pst");
    {
        RDOSession session;
        auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        auto top = (*store)->IPMRootFolder();
        ASSERT_TRUE(top.ok());
        auto work = (*top)->Folders().Add("Work");
        ASSERT_TRUE(work.ok());
        ASSERT_TRUE((*work)->Folders().Add("Sub").ok());
        auto item = (*work)->Items().Add(0);
        ASSERT_TRUE(item.ok());
        ASSERT_TRUE((*item)->ImportMessage(simpleMessage("kept")).ok());
        ASSERT_TRUE((*item)->Save().ok());

        for (const char* again : {"Work", "WORK"}) {
            auto dup = (*top)->Folders().Add(again);
            ASSERT_FALSE(dup.ok()) << again;
            EXPECT_EQ(dup.error().number, err::kCollision);
        }
        EXPECT_EQ((*top)->Folders().Count(), 2u);  // Deleted Items and Work
        EXPECT_EQ((*work)->Name(), "Work");
        EXPECT_EQ((*work)->Folders().Count(), 1u);
        // The session goes on after the failure.
        EXPECT_TRUE((*top)->Folders().Add("Other").ok());
        ASSERT_TRUE(session.Logoff().ok());
    }
    expectVerifies(path);
    ReadBack rb = readBack(path);
    int works = 0;
    for (const auto& f : rb.tree) works += f.depth == 1 && f.folder.displayName() == "Work";
    EXPECT_EQ(works, 1);
    ASSERT_NE(rb.folder("Work/Sub"), nullptr);
    const auto msgs = rb.messages("Work");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(shownSubject(msgs[0]), "kept");
}

TEST(Folders, KindsGetTheirContainerClass) {
    ScratchDir dir;
    const std::string path = dir.file("kinds.pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    ASSERT_TRUE((*top)->Folders().Add("Mail folder", olFolderMail).ok());
    ASSERT_TRUE((*top)->Folders().Add("Dates", olFolderCalendar).ok());
    EXPECT_FALSE((*top)->Folders().Add("Odd", 999).ok());
    EXPECT_FALSE((*top)->Folders().Add("").ok());
    ASSERT_TRUE(session.Logoff().ok());
    ReadBack rb = readBack(path);
    ASSERT_NE(rb.folder("Mail folder"), nullptr);
    ASSERT_NE(rb.folder("Dates"), nullptr);
    EXPECT_EQ(utf8Of(rb.folder("Mail folder")->folder.props.find(t::PidTagContainerClass)), "IPF.Note");
    EXPECT_EQ(utf8Of(rb.folder("Dates")->folder.props.find(t::PidTagContainerClass)), "IPF.Appointment");
    EXPECT_EQ(rb.folder("Odd"), nullptr);
}

// ---- the store ----

TEST(Store, ValidateIpmTreeCreatesTheStandardFoldersOnce) {
    ScratchDir dir;
    const std::string path = dir.file("std.pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    EXPECT_FALSE((*store)->GetDefaultFolder(olFolderInbox).ok()) << "no Inbox before the IPM tree is validated";
    ASSERT_TRUE((*store)->ValidateIPMTree().ok());
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    const size_t count = (*top)->Folders().Count();
    ASSERT_TRUE((*store)->ValidateIPMTree().ok());
    EXPECT_EQ((*top)->Folders().Count(), count);

    auto inbox = (*store)->GetDefaultFolder(olFolderInbox);
    ASSERT_TRUE(inbox.ok());
    EXPECT_EQ((*inbox)->Name(), "Inbox");
    auto sent = (*store)->GetDefaultFolder(olFolderSentMail);
    ASSERT_TRUE(sent.ok());
    EXPECT_EQ((*sent)->Name(), "Sent Items");
    auto deleted = (*store)->GetDefaultFolder(olFolderDeletedItems);
    ASSERT_TRUE(deleted.ok());
    EXPECT_EQ((*deleted)->Name(), "Deleted Items");
    EXPECT_FALSE((*store)->GetDefaultFolder(12345).ok());

    // The store is found again by its entry id, from the session and its Stores.
    auto again = session.GetStoreFromID((*store)->EntryID());
    ASSERT_TRUE(again.ok());
    EXPECT_EQ((*again)->DisplayName(), "Mail");
    EXPECT_TRUE(session.Stores().GetStoreFromID((*store)->EntryID()).ok());
    EXPECT_FALSE(session.GetStoreFromID(EntryId(24, 0)).ok());
    ASSERT_TRUE(session.Logoff().ok());

    expectVerifies(path);
    ReadBack rb = readBack(path);
    for (const char* name : {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Calendar", "Contacts", "Journal",
                             "Notes", "Tasks", "Drafts"})
        EXPECT_NE(rb.folder(name), nullptr) << name;
    EXPECT_EQ(utf8Of(rb.folder("Calendar")->folder.props.find(t::PidTagContainerClass)), "IPF.Appointment");
    EXPECT_EQ(utf8Of(rb.folder("Contacts")->folder.props.find(t::PidTagContainerClass)), "IPF.Contact");
    // The store names its special folders by entry id ([MS-PST] 2.4.3.1).
    const Property* subtree = rb.reader->storeProperties().find(0x35E0);
    const Property* waste = rb.reader->storeProperties().find(0x35E3);
    const Property* sentId = rb.reader->storeProperties().find(0x35E4);
    ASSERT_TRUE(subtree && waste && sentId);
    EXPECT_EQ(store::loadLE32(&sentId->data[20]), rb.folder("Sent Items")->folder.nid);
    EXPECT_EQ(store::loadLE32(&waste->data[20]), rb.folder("Deleted Items")->folder.nid);
    EXPECT_EQ(utf8Of(rb.reader->storeProperties().find(t::PidTagDisplayName)), "Mail");
}

TEST(Store, ExistingFolderNamedLikeAStandardOneBecomesTheDefault) {
    ScratchDir dir;
    RDOSession session;
    auto store = session.LogonPstStore(dir.file("pre.pst"), olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    auto mine = (*top)->Folders().Add("Inbox");
    ASSERT_TRUE(mine.ok());
    ASSERT_TRUE((*store)->ValidateIPMTree().ok());
    auto inbox = (*store)->GetDefaultFolder(olFolderInbox);
    ASSERT_TRUE(inbox.ok());
    EXPECT_EQ((*inbox)->EntryID(), (*mine)->EntryID());
    int inboxes = 0;
    for (const auto& f : (*top)->Folders().items()) inboxes += f->Name() == "Inbox";
    EXPECT_EQ(inboxes, 1);
    ASSERT_TRUE(session.Logoff().ok());
}

// ---- items ----

TEST(Items, SaveCommitsRowsAndCounts) {
    ScratchDir dir;
    const std::string path = dir.file("items.pst");
    {
        RDOSession session;
        auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        auto top = (*store)->IPMRootFolder();
        ASSERT_TRUE(top.ok());
        auto box = (*top)->Folders().Add("Box");
        ASSERT_TRUE(box.ok());
        for (int i = 0; i < 3; ++i) {
            Message m = simpleMessage("read " + std::to_string(i));
            auto item = (*box)->Items().Add(0);
            ASSERT_TRUE(item.ok());
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            ASSERT_TRUE((*item)->Save().ok());
            EXPECT_TRUE((*item)->Save().ok()) << "saving again without a change does nothing";
            EXPECT_FALSE((*item)->ImportMessage(simpleMessage("changed")).ok()) << "a saved item is not changed";
        }
        {
            // Unread with an attachment: HrSetOneProp with save sets the
            // flags and commits at once; the store keeps the attachment bit.
            Message m = simpleMessage("unread");
            m.attachments.push_back(fileAttachment("a.txt", Bytes{'h', 'i'}));
            auto item = (*box)->Items().Add(0);
            ASSERT_TRUE(item.ok());
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            MAPIUtils utils;
            ASSERT_TRUE(utils.HrSetOneProp((*item)->MAPIOBJECT(), makeTag(t::PidTagMessageFlags, PT_LONG), 0, true).ok());
            EXPECT_FALSE(utils.HrSetOneProp((*item)->MAPIOBJECT(), makeTag(t::PidTagMessageFlags, PT_LONG), 1, true).ok());
            EXPECT_EQ((*item)->AttachmentCount(), 1);
        }
        {
            // An item never saved leaves no trace.
            auto item = (*box)->Items().Add(0);
            ASSERT_TRUE(item.ok());
            ASSERT_TRUE((*item)->ImportMessage(simpleMessage("never saved")).ok());
        }
        ASSERT_TRUE(session.Logoff().ok());
    }
    expectVerifies(path);
    ReadBack rb = readBack(path);
    const auto* box = rb.folder("Box");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->folder.props.getInt32(t::PidTagContentCount), 4);
    EXPECT_EQ(box->folder.props.getInt32(t::PidTagContentUnreadCount), 1);
    const auto msgs = rb.messages("Box");
    ASSERT_EQ(msgs.size(), 4u);
    for (const Message& m : msgs) {
        const int32_t flags = m.props.getInt32(t::PidTagMessageFlags).value_or(-1);
        if (shownSubject(m) == "unread") {
            EXPECT_EQ(flags, t::MSGFLAG_HASATTACH);
            ASSERT_EQ(m.attachments.size(), 1u);
        } else {
            EXPECT_EQ(flags, t::MSGFLAG_READ) << shownSubject(m);
        }
        EXPECT_NE(shownSubject(m), "never saved");
    }
}

// The addressing the store completes, and what it leaves as the message had it.
TEST(Items, AddressingIsCompletedOnlyWhereAbsent) {
    ScratchDir dir;
    const std::string path = dir.file("addr.pst");
    {
        RDOSession session;
        auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
        ASSERT_TRUE(store.ok());
        auto top = (*store)->IPMRootFolder();
        ASSERT_TRUE(top.ok());
        auto save = [&](Message m) {
            auto item = (*top)->Items().Add(0);
            ASSERT_TRUE(item.ok());
            ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
            ASSERT_TRUE((*item)->Save().ok());
        };
        save(simpleMessage("computed"));
        {
            // Sent on behalf of someone else, with the message's own lists.
            Message m = simpleMessage("on behalf");
            m.props.set(uni(t::PidTagSentRepresentingName, "The Boss"));
            m.props.set(uni(t::PidTagDisplayTo, "Bob (as the message says)"));
            save(std::move(m));
        }
        ASSERT_TRUE(session.Logoff().ok());
    }
    ReadBack rb = readBack(path);
    const auto msgs = rb.messages("");
    ASSERT_EQ(msgs.size(), 2u);
    for (const Message& m : msgs) {
        SCOPED_TRACE(shownSubject(m));
        if (shownSubject(m) == "computed") {
            EXPECT_EQ(utf8Of(m.props.find(t::PidTagDisplayTo)), "Bob Builder");
            EXPECT_EQ(utf8Of(m.props.find(t::PidTagDisplayCc)), "Carol Jones");
            EXPECT_EQ(m.props.find(t::PidTagDisplayBcc), nullptr) << "no Bcc recipients, no list";
            EXPECT_EQ(utf8Of(m.props.find(t::PidTagSentRepresentingEmailAddress)), "alice@example.com");
            EXPECT_EQ(utf8Of(m.props.find(0x0064)), "SMTP");
        } else {
            EXPECT_EQ(utf8Of(m.props.find(t::PidTagDisplayTo)), "Bob (as the message says)");
            EXPECT_EQ(utf8Of(m.props.find(t::PidTagSentRepresentingName)), "The Boss");
            EXPECT_EQ(m.props.find(t::PidTagSentRepresentingEmailAddress), nullptr)
                << "the sender's address is not the representing one's";
        }
    }
}

TEST(Items, ImportOfAMissingFileFailsAsAValue) {
    ScratchDir dir;
    RDOSession session;
    auto store = session.LogonPstStore(dir.file("missing.pst"), olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    auto item = (*top)->Items().Add(0);
    ASSERT_TRUE(item.ok());
    const Status s = (*item)->Import(dir.file("no such file.msg"), olMSGUnicode);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.error().description.empty());
    // The session is not damaged by it.
    auto other = (*top)->Items().Add(0);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE((*other)->ImportMessage(simpleMessage("fine")).ok());
    EXPECT_TRUE((*other)->Save().ok());
    EXPECT_TRUE(session.Logoff().ok());
}

TEST(Items, ImportSalvagesADamagedFileAndSaysWhatWasLeftOut) {
    ScratchDir dir;
    // A message whose PR_CONVERSATION_INDEX has no value stream and whose
    // second recipient has no property stream.
    tavrin::testing::MessageBuilder b;
    b.unicode(tagOf(t::PidTagSubject, PT_UNICODE), "Salvaged");
    b.unicode(tagOf(t::PidTagBody, PT_UNICODE), "Body text");
    tavrin::testing::ObjectBuilder r0, r1;
    r0.fixed(tagOf(t::PidTagRecipientType, PT_LONG), 1);
    r0.unicode(tagOf(t::PidTagDisplayName, PT_UNICODE), "Bob");
    r1.unicode(tagOf(t::PidTagDisplayName, PT_UNICODE), "Cy");
    b.recipients = {r0, r1};
    auto whole = cfb::writeCompoundFile(b.build());
    ASSERT_TRUE(whole.ok());
    const std::string wholePath = dir.file("whole.msg");
    writeText(wholePath, std::string(whole->begin(), whole->end()));
    b.entries.push_back({tagOf(0x0071, PT_BINARY), 6, 22});
    StorageEntry root = b.build();
    for (auto& c : root.children)
        if (c.name == u"__recip_version1.0_#00000001")
            std::erase_if(c.children, [](const StorageEntry& e) { return e.name == u"__properties_version1.0"; });
    auto damaged = cfb::writeCompoundFile(root);
    ASSERT_TRUE(damaged.ok());
    const std::string damagedPath = dir.file("damaged.msg");
    writeText(damagedPath, std::string(damaged->begin(), damaged->end()));

    const std::string path = dir.file("salvage.pst");
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Mail");
    ASSERT_TRUE(store.ok());
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    auto item = (*top)->Items().Add(0);
    ASSERT_TRUE(item.ok());
    ASSERT_TRUE((*item)->Import(damagedPath, olMSGUnicode).ok());
    const std::vector<std::string> expected = {
        "property 0x00710102: the value stream is missing (22 bytes)",
        "recipient 1: no property stream: only the values of its own streams are kept"};
    EXPECT_EQ((*item)->Warnings(), expected);
    ASSERT_TRUE((*item)->Save().ok());
    EXPECT_EQ((*item)->Warnings(), expected) << "kept after Save";

    auto other = (*top)->Items().Add(0);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE((*other)->Import(wholePath, olMSGUnicode).ok());
    EXPECT_TRUE((*other)->Warnings().empty());
    EXPECT_FALSE((*other)->Import(dir.file("absent.msg"), olMSGUnicode).ok());
    EXPECT_TRUE((*other)->Warnings().empty());
    Message m = simpleMessage("in memory");
    m.warnings = {"attachment 0: no property stream"};
    ASSERT_TRUE((*other)->ImportMessage(std::move(m)).ok());
    EXPECT_EQ((*other)->Warnings(), std::vector<std::string>{"attachment 0: no property stream"});
    ASSERT_TRUE(session.Logoff().ok());

    expectVerifies(path);
    ReadBack rb = readBack(path);
    auto msgs = rb.messages("");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(shownSubject(msgs[0]), "Salvaged");
    EXPECT_EQ(utf8Of(msgs[0].props.find(t::PidTagBody)), "Body text");
    EXPECT_EQ(msgs[0].props.find(0x0071), nullptr);
    ASSERT_EQ(msgs[0].recipients.size(), 2u);
    EXPECT_EQ(utf8Of(msgs[0].recipients[1].props.find(t::PidTagDisplayName)), "Cy");
}

}  // namespace
}  // namespace tavrin::store
