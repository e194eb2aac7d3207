// The LTP and messaging readers on stores written in memory by our writer,
// sized so that every structure takes its larger form: a heap over several
// blocks, BTrees-on-heap with index levels, values and row matrices in
// subnodes, an SIBLOCK of subnodes, a contents table of many rows. Every
// file also verifies clean.
#include <gtest/gtest.h>

#include <limits>

#include "fs/file_io.h"
#include "store/core/tags.h"
#include "store/pst/ltp/heap_reader.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/messaging/store_writer.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/verify/verifier.h"
#include "written_store.h"

namespace tavrin::pst {
namespace {

using namespace store;
using namespace store::tags;
using testing::WrittenStore;

std::u16string text16(size_t n, char16_t base) {
    std::u16string s(n, u'a');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char16_t>(base + i % 26);
    return s;
}

// Files written in one go must pass the strict checks too.
verify::VerifyReport verifyStrict(const Bytes& file) {
    verify::VerifyOptions o;
    o.strict = true;
    return verify::verify(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())), o);
}

std::string findings(const verify::VerifyReport& r) {
    std::string s;
    for (size_t i = 0; i < r.findings.size() && i < 10; ++i) s += r.findings[i].text() + "\n";
    return s;
}

constexpr uint16_t kExtraProps = 600;
constexpr uint32_t kRecipients = 600;
constexpr uint32_t kAttachments = 400;

Message bigMessage() {
    Message m;
    m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "big one"));
    m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    m.props.set(Property::unicode(makeTag(PidTagBody, PT_UNICODE), text16(20000, u'a')));
    m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 1));
    for (uint16_t i = 0; i < kExtraProps; ++i)
        m.props.set(Property::unicode(makeTag(static_cast<uint16_t>(0x6000 + i), PT_UNICODE), text16(60, u'A' + i % 7)));
    for (uint32_t i = 0; i < kRecipients; ++i) {
        Recipient r;
        r.props.set(Property::int32(makeTag(PidTagRecipientType, PT_LONG), 1));
        r.props.set(Property::unicodeUtf8(makeTag(PidTagDisplayName, PT_UNICODE), "Person " + std::to_string(i)));
        r.props.set(Property::unicodeUtf8(makeTag(PidTagEmailAddress, PT_UNICODE), "p" + std::to_string(i) + "@example.com"));
        m.recipients.push_back(std::move(r));
    }
    for (uint32_t i = 0; i < kAttachments; ++i) {
        Attachment a;
        a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afByValue));
        a.props.set(Property::unicodeUtf8(makeTag(PidTagAttachLongFilename, PT_UNICODE), "f" + std::to_string(i) + ".bin"));
        const Bytes data(10 + i % 50, static_cast<uint8_t>(i));
        a.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), data));
        m.attachments.push_back(std::move(a));
    }
    return m;
}

std::string utf8(const Property* p) {
    if (!p) return "<absent>";
    std::string s;
    for (char16_t c : p->asUnicode()) s += static_cast<char>(c);
    if (s.size() >= 2 && s[0] == '\x01') s.erase(0, 2);
    return s;
}

TEST(PstLtpAndMessagingReader, AMessageOfEveryLargerFormReadsBackThroughEachLayer) {
    WrittenStore w;
    auto folder = w.writer->addFolder(*w.writer->folderByRole(messaging::FolderRole::IpmSubtree), "Big", "IPF.Note");
    ASSERT_TRUE(folder.ok()) << folder.error().description;
    const Message in = bigMessage();
    auto nid = w.writer->addMessage(*folder, in);
    ASSERT_TRUE(nid.ok()) << nid.error().description;
    const Bytes file = w.finish();
    ASSERT_FALSE(file.empty());

    auto report = verifyStrict(file);
    EXPECT_TRUE(report.clean()) << findings(report);

    // Messaging: everything comes back.
    auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())));
    ASSERT_TRUE(pst.ok()) << pst.error().description;
    auto m = (*pst)->readMessage(*nid);
    ASSERT_TRUE(m.ok()) << m.error().description;
    EXPECT_EQ(utf8(m->props.findTag(makeTag(PidTagSubject, PT_UNICODE))), "big one");
    const Property* body = m->props.findTag(makeTag(PidTagBody, PT_UNICODE));
    ASSERT_TRUE(body);
    EXPECT_EQ(body->asUnicode(), text16(20000, u'a'));
    for (uint16_t i = 0; i < kExtraProps; i += 37) {
        const Property* p = m->props.findTag(makeTag(static_cast<uint16_t>(0x6000 + i), PT_UNICODE));
        ASSERT_TRUE(p) << i;
        EXPECT_EQ(p->asUnicode(), text16(60, u'A' + i % 7));
    }
    ASSERT_EQ(m->recipients.size(), kRecipients);
    EXPECT_EQ(utf8(m->recipients[599].props.findTag(makeTag(PidTagDisplayName, PT_UNICODE))), "Person 599");
    ASSERT_EQ(m->attachments.size(), kAttachments);
    for (uint32_t i : {0u, 211u, 399u}) {
        EXPECT_EQ(utf8(m->attachments[i].props.findTag(makeTag(PidTagAttachLongFilename, PT_UNICODE))),
                  "f" + std::to_string(i) + ".bin");
        const Property* d = m->attachments[i].props.findTag(makeTag(PidTagAttachDataBinary, PT_BINARY));
        ASSERT_TRUE(d);
        EXPECT_EQ(d->data, Bytes(10 + i % 50, static_cast<uint8_t>(i)));
    }

    // NDB and LTP: the structures took their larger forms.
    const ndb::NodeDatabase& db = (*pst)->database();
    auto node = ndb::Node::open(db, *nid);
    ASSERT_TRUE(node.ok());
    auto heap = ltp::readHeap(*node);
    ASSERT_TRUE(heap.ok()) << heap.error().description;
    EXPECT_GT(heap->blockCount(), 1u) << "the PC's heap spans several blocks";
    auto bth = ltp::Bth::open(*heap, heap->userRoot());
    ASSERT_TRUE(bth.ok());
    EXPECT_GE(bth->header().bIdxLevels, 1) << "the PC's BTH has an index level";
    auto pc = ltp::PropertyContext::open(*node);
    ASSERT_TRUE(pc.ok()) << pc.error().description;
    EXPECT_GE(pc->entries().size(), size_t(kExtraProps));
    auto subs = node->subnodes();
    ASSERT_TRUE(subs.ok());
    EXPECT_GT((*subs)->size(), size_t(ndb::kSLBlockMaxEntries));
    auto subRoot = db.readBlock(node->bidSub());
    ASSERT_TRUE(subRoot.ok());
    EXPECT_EQ(ndb::InternalBlockHead::decode(*subRoot)->cLevel, 1) << "the subnodes take an SIBLOCK";

    // The body is a value in a subnode with a data tree of its own.
    const ltp::PropEntry* bodyEntry = nullptr;
    for (const auto& e : pc->entries())
        if (e.wPropId == PidTagBody) bodyEntry = &e;
    ASSERT_TRUE(bodyEntry);
    EXPECT_FALSE(ltp::hnidIsHid(bodyEntry->dwValueHnid));
    auto bodyNode = node->subnode(bodyEntry->dwValueHnid);
    ASSERT_TRUE(bodyNode.ok());
    EXPECT_TRUE(ndb::isInternalBid(bodyNode->bidData())) << "40000 bytes take an XBLOCK";

    auto recipNode = node->subnode(ndb::NID_RECIPIENT_TABLE);
    ASSERT_TRUE(recipNode.ok());
    auto tc = ltp::TableContext::open(*recipNode);
    ASSERT_TRUE(tc.ok()) << tc.error().description;
    EXPECT_EQ(tc->rowCount(), kRecipients);
    EXPECT_TRUE(tc->rowsInSubnode());
    EXPECT_GT(tc->rowBlocks().size(), 1u);
    auto index = tc->rowIndex();
    ASSERT_TRUE(index.ok());
    EXPECT_EQ(index->size(), size_t(kRecipients));
    auto indexBth = ltp::Bth::open(tc->heap(), tc->info().hidRowIndex);
    ASSERT_TRUE(indexBth.ok());
    EXPECT_GE(indexBth->header().bIdxLevels, 1) << "600 rows take a row index with an index level";
}

TEST(PstLtpAndMessagingReader, AFolderTreeWithAManyRowContentsTable) {
    WrittenStore w;
    const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
    auto a = w.writer->addFolder(top, "A", "IPF.Note");
    ASSERT_TRUE(a.ok());
    auto b = w.writer->addFolder(*a, "B", "IPF.Note");
    ASSERT_TRUE(b.ok());
    auto c = w.writer->addFolder(*b, "C", "IPF.Note");
    ASSERT_TRUE(c.ok());
    constexpr uint32_t kMessages = 800;
    for (uint32_t i = 0; i < kMessages; ++i) {
        Message m;
        m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "m" + std::to_string(i)));
        m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
        m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), i % 3 ? 1 : 0));
        ASSERT_TRUE(w.writer->addMessage(*b, m).ok());
    }
    Message one;
    one.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "deep"));
    ASSERT_TRUE(w.writer->addMessage(*c, one).ok());
    const Bytes file = w.finish();

    auto report = verifyStrict(file);
    EXPECT_TRUE(report.clean()) << findings(report);
    EXPECT_EQ(report.messages, kMessages + 1);

    auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())));
    ASSERT_TRUE(pst.ok());
    auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
    ASSERT_TRUE(tree.ok()) << tree.error().description;
    std::map<std::string, const messaging::FolderTreeEntry*> byPath;
    for (const auto& e : *tree) byPath[e.path] = &e;
    ASSERT_TRUE(byPath.count("A/B/C"));
    EXPECT_EQ(byPath["A/B/C"]->depth, 3u);
    EXPECT_EQ(byPath["A/B"]->folder.messages.size(), kMessages);
    EXPECT_EQ(byPath["A/B"]->folder.props.getInt32(PidTagContentCount), int32_t(kMessages));
    EXPECT_EQ(byPath["A/B"]->folder.props.getInt32(PidTagContentUnreadCount), int32_t((kMessages + 2) / 3));
    EXPECT_EQ(byPath["A"]->folder.subfolders.size(), 1u);
    auto deep = (*pst)->readMessage(byPath["A/B/C"]->folder.messages.at(0));
    ASSERT_TRUE(deep.ok());
    EXPECT_EQ(utf8(deep->props.findTag(makeTag(PidTagSubject, PT_UNICODE))), "deep");

    auto contents = ndb::Node::open((*pst)->database(), messaging::contentsTableNid(*b));
    ASSERT_TRUE(contents.ok());
    auto tc = ltp::TableContext::open(*contents);
    ASSERT_TRUE(tc.ok()) << tc.error().description;
    EXPECT_EQ(tc->rowCount(), kMessages);
    EXPECT_TRUE(tc->rowsInSubnode());
    size_t nodes = 0;
    ASSERT_TRUE((*pst)->database().forEachNode([&](const ndb::NodeInfo&) { ++nodes; }).ok());
    EXPECT_GT(nodes, kMessages);
    // So many nodes take a node B-tree of three levels.
    auto rootPage = (*pst)->database().readPage((*pst)->header().root.brefNbt.ib, ndb::ptypeNBT,
                                                (*pst)->header().root.brefNbt.bid);
    ASSERT_TRUE(rootPage.ok()) << rootPage.error().description;
    EXPECT_GE(ndb::BTPageInfo::decode(*rootPage)->cLevel, 2);
}

// Named properties go through the store's name-to-id map and come back
// with their names; an embedded message comes back whole; all of it in
// each of the three encodings.
TEST(PstLtpAndMessagingReader, NamedPropertiesAndEmbeddedMessagesInEveryEncoding) {
    const Guid set{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};
    NamedPropName numeric{set, false, 0x8520, {}};
    NamedPropName text{PS_PUBLIC_STRINGS, true, 0, u"X-Custom-Header"};
    for (uint8_t crypt : {uint8_t(0), uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(crypt));
        WrittenStore w(crypt);
        auto folder = w.writer->addFolder(*w.writer->folderByRole(messaging::FolderRole::IpmSubtree), "F", "IPF.Note");
        ASSERT_TRUE(folder.ok());
        Message m;
        m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "outer"));
        m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
        m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 0x11));
        Property p1 = Property::int32(makeTag(0x8000, PT_LONG), 42);
        p1.name = numeric;
        m.props.set(p1);
        Property p2 = Property::unicodeUtf8(makeTag(0x8001, PT_UNICODE), "hello");
        p2.name = text;
        m.props.set(p2);
        Attachment a;
        a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afEmbeddedMessage));
        a.props.set(Property::unicodeUtf8(makeTag(PidTagDisplayName, PT_UNICODE), "inner"));
        a.embedded = std::make_unique<Message>();
        a.embedded->props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "inner subject"));
        a.embedded->props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
        a.embedded->props.set(Property::unicode(makeTag(PidTagBody, PT_UNICODE), text16(5000, u'k')));
        m.attachments.push_back(std::move(a));
        auto nid = w.writer->addMessage(*folder, m);
        ASSERT_TRUE(nid.ok()) << nid.error().description;
        const Bytes file = w.finish();
        ASSERT_FALSE(file.empty());

        auto report = verifyStrict(file);
        EXPECT_TRUE(report.clean()) << findings(report);
        auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())));
        ASSERT_TRUE(pst.ok()) << pst.error().description;
        EXPECT_EQ((*pst)->header().bCryptMethod, crypt);
        auto back = (*pst)->readMessage(*nid);
        ASSERT_TRUE(back.ok()) << back.error().description;
        const Property* n1 = back->props.findNamed(numeric);
        ASSERT_TRUE(n1);
        EXPECT_EQ(n1->asInt32(), 42);
        EXPECT_GE(n1->id(), 0x8000);
        const Property* n2 = back->props.findNamed(text);
        ASSERT_TRUE(n2);
        EXPECT_EQ(utf8(n2), "hello");
        EXPECT_NE(n1->id(), n2->id());
        ASSERT_EQ(back->attachments.size(), 1u);
        ASSERT_TRUE(back->attachments[0].embedded);
        const Message& inner = *back->attachments[0].embedded;
        EXPECT_EQ(utf8(inner.props.findTag(makeTag(PidTagSubject, PT_UNICODE))), "inner subject");
        const Property* body = inner.props.findTag(makeTag(PidTagBody, PT_UNICODE));
        ASSERT_TRUE(body);
        EXPECT_EQ(body->asUnicode(), text16(5000, u'k'));
    }
}

}  // namespace
}  // namespace tavrin::pst
