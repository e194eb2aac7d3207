// The writer lays out data trees, heaps and row matrices as Outlook does
// ([MS-PST] 2.2.2.8.3.2, 2.3.1, 2.3.4.4): every block of a data tree but the
// last holds 8176 bytes; a heap block that another follows ends with its
// page map right after the last allocation and zeros up to 8176 bytes; a
// row-matrix block holds floor(8176 / row size) rows and, unless it is the
// last, zeros up to 8176 bytes. Checked at the block boundaries: tables of
// 118 and 119 rows of 138 bytes, 786 recipients, values of 8175, 8176 and
// 8177 bytes, a property context over more than eight blocks.
#include <gtest/gtest.h>

#include <algorithm>

#include "store/core/tags.h"
#include "store/pst/ltp/heap_reader.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/verify/verifier.h"
#include "written_store.h"

namespace tavrin::pst {
namespace {

using namespace store;
using namespace store::tags;
using testing::WrittenStore;

constexpr size_t kFull = 8176;

Message simple(const std::string& subject) {
    Message m;
    m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), subject));
    m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 1));
    return m;
}

std::string report(const Bytes& file) {
    verify::VerifyOptions o;
    o.strict = true;
    const auto r = verify::verify(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())), o);
    std::string s;
    for (size_t i = 0; i < r.findings.size() && i < 10; ++i) s += r.findings[i].text() + "\n";
    return r.clean() ? std::string() : s.empty() ? "unclean" : s;
}

std::vector<size_t> sizesOf(const std::vector<Bytes>& blocks) {
    std::vector<size_t> out;
    for (const Bytes& b : blocks) out.push_back(b.size());
    return out;
}

// A table of `rows` rows kept in a subnode: its row-matrix blocks are
// floor(8176 / row size) rows, padded with zeros to 8176 bytes but the
// last, which holds the remaining rows only.
void expectRowMatrixLayout(const ltp::TableContext& tc, uint32_t rows) {
    ASSERT_TRUE(tc.rowsInSubnode());
    EXPECT_EQ(tc.rowCount(), rows);
    const size_t r = tc.info().rowSize();
    const size_t perBlock = kFull / r;
    const size_t blocks = (rows + perBlock - 1) / perBlock;
    std::vector<size_t> want(blocks, kFull);
    want.back() = (rows - (blocks - 1) * perBlock) * r;
    EXPECT_EQ(sizesOf(tc.rowBlocks()), want) << "row size " << r;
    for (size_t b = 0; b + 1 < tc.rowBlocks().size(); ++b) {
        const Bytes& blk = tc.rowBlocks()[b];
        EXPECT_TRUE(std::all_of(blk.begin() + static_cast<ptrdiff_t>(perBlock * r), blk.end(), [](uint8_t c) { return c == 0; }))
            << "block " << b << " is not padded with zeros";
    }
    // Every row is where a reader stepping in 8176-byte blocks looks for it.
    for (uint32_t i = 0; i < rows; ++i) {
        const Bytes& blk = tc.rowBlocks()[i / perBlock];
        const uint32_t idAt = tc.column(ltp::PidTagLtpRowId)->ibData;
        EXPECT_EQ(loadLE32(blk.data() + (i % perBlock) * r + idAt), tc.rowId(i));
    }
}

TEST(PstWriterLayout, RowMatricesAtTheBlockBoundary) {
    WrittenStore w;
    const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
    const uint32_t f128 = *w.writer->addFolder(top, "118", "IPF.Note");
    const uint32_t f129 = *w.writer->addFolder(top, "119", "IPF.Note");
    const uint32_t other = *w.writer->addFolder(top, "recipients", "IPF.Note");
    for (int i = 0; i < 118; ++i) ASSERT_TRUE(w.writer->addMessage(f128, simple("a" + std::to_string(i))).ok());
    for (int i = 0; i < 119; ++i) ASSERT_TRUE(w.writer->addMessage(f129, simple("b" + std::to_string(i))).ok());
    Message many = simple("786 recipients");
    for (int i = 0; i < 786; ++i) {
        Recipient r;
        r.props.set(Property::int32(makeTag(PidTagRecipientType, PT_LONG), 1 + i % 3));
        r.props.set(Property::unicodeUtf8(makeTag(PidTagDisplayName, PT_UNICODE), "R " + std::to_string(i)));
        r.props.set(Property::unicodeUtf8(makeTag(PidTagEmailAddress, PT_UNICODE), "r" + std::to_string(i) + "@example.com"));
        r.props.set(Property::unicodeUtf8(makeTag(PidTagAddressType, PT_UNICODE), "SMTP"));
        many.recipients.push_back(std::move(r));
    }
    const uint32_t manyNid = *w.writer->addMessage(other, many);
    const Bytes file = w.finish();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(report(file), "");

    auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())));
    ASSERT_TRUE(pst.ok()) << pst.error().description;
    for (const auto& [folder, rows] : {std::pair{f128, 118u}, std::pair{f129, 119u}}) {
        SCOPED_TRACE(rows);
        auto node = ndb::Node::open((*pst)->database(), messaging::contentsTableNid(folder));
        ASSERT_TRUE(node.ok());
        auto tc = ltp::TableContext::open(*node);
        ASSERT_TRUE(tc.ok()) << tc.error().description;
        // The template's columns, the message id, search key and source
        // digest (the duplicate test's keys).
        ASSERT_EQ(kFull / tc->info().rowSize(), 59u) << "a contents row of 138 bytes: 59 rows a block";
        expectRowMatrixLayout(*tc, rows);
    }
    auto msg = ndb::Node::open((*pst)->database(), manyNid);
    ASSERT_TRUE(msg.ok());
    auto recipients = msg->subnode(ndb::NID_RECIPIENT_TABLE);
    ASSERT_TRUE(recipients.ok());
    auto tc = ltp::TableContext::open(*recipients);
    ASSERT_TRUE(tc.ok()) << tc.error().description;
    expectRowMatrixLayout(*tc, 786);
    auto read = (*pst)->readMessage(manyNid);
    ASSERT_TRUE(read.ok()) << read.error().description;
    EXPECT_EQ(read->recipients.size(), 786u);
}

// The data blocks of an attachment's PidTagAttachDataBinary.
std::vector<size_t> attachmentBlocks(const ndb::Node& message, uint32_t attachmentNid) {
    auto att = message.subnode(attachmentNid);
    if (!att.ok()) return {};
    auto pc = ltp::PropertyContext::open(*att);
    if (!pc.ok()) return {};
    for (const auto& e : pc->entries()) {
        if (e.wPropId != PidTagAttachDataBinary) continue;
        if (ltp::hnidIsHid(e.dwValueHnid)) return {0};  // in the heap
        auto sub = att->subnode(e.dwValueHnid);
        if (!sub.ok()) return {};
        auto blocks = sub->dataBlocks();
        return blocks.ok() ? sizesOf(*blocks) : std::vector<size_t>{};
    }
    return {};
}

TEST(PstWriterLayout, ValuesAtTheBlockBoundaryAndAHeapOverManyBlocks) {
    WrittenStore w;
    const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
    const uint32_t folder = *w.writer->addFolder(top, "Values", "IPF.Note");
    Message m = simple("values");
    // Values of 1,500 bytes: five a heap block, so the message's property
    // context spans more than eight blocks (an HNBITMAPHDR at block 8).
    for (uint16_t i = 0; i < 60; ++i)
        m.props.set(Property::binary(makeTag(static_cast<uint16_t>(0x6100 + i), PT_BINARY), Bytes(1500, static_cast<uint8_t>(i + 1))));
    for (size_t size : {size_t(8175), size_t(8176), size_t(8177)}) {
        Attachment a;
        a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afByValue));
        a.props.set(Property::unicodeUtf8(makeTag(PidTagAttachLongFilename, PT_UNICODE), std::to_string(size) + ".bin"));
        a.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes(size, 0x5A)));
        m.attachments.push_back(std::move(a));
    }
    m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 0x11));
    const uint32_t nid = *w.writer->addMessage(folder, m);
    const Bytes file = w.finish();
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(report(file), "");

    auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(ByteSpan(file.data(), file.size())));
    ASSERT_TRUE(pst.ok()) << pst.error().description;
    auto node = ndb::Node::open((*pst)->database(), nid);
    ASSERT_TRUE(node.ok());

    // Attachment data: one block up to 8176 bytes, then a full block first.
    std::vector<std::vector<size_t>> att;
    auto subs = node->subnodes();
    ASSERT_TRUE(subs.ok());
    for (const auto& s : **subs)
        if (ndb::nidType(s.nid) == ndb::NID_TYPE_ATTACHMENT) att.push_back(attachmentBlocks(*node, s.nid));
    EXPECT_EQ(att, (std::vector<std::vector<size_t>>{{8175}, {8176}, {8176, 1}}));

    // The property context: whole blocks but the last, each with its page
    // map right after its last allocation and zeros after the map.
    auto blocks = node->dataBlocks();
    ASSERT_TRUE(blocks.ok());
    ASSERT_GT(blocks->size(), 9u);
    auto heap = ltp::Heap::open(*blocks);
    ASSERT_TRUE(heap.ok()) << heap.error().description;
    for (size_t i = 0; i < heap->blockCount(); ++i) {
        SCOPED_TRACE(i);
        const bool last = i + 1 == heap->blockCount();
        const ByteSpan b = heap->block(i);
        const auto& map = heap->pageMap(i);
        const uint32_t ibHnpm = heap->pageMapOffset(i);
        EXPECT_EQ(ibHnpm, (map.rgibAlloc.back() + 1u) & ~1u) << "the page map follows the last allocation";
        const size_t mapEnd = ibHnpm + map.size();
        EXPECT_EQ(b.size(), last ? mapEnd : kFull);
        EXPECT_TRUE(std::all_of(b.begin() + static_cast<ptrdiff_t>(mapEnd), b.end(), [](uint8_t c) { return c == 0; }));
        // Blocks are closed when the next value does not fit: a full
        // block has less room left than one more value and its map entry.
        if (!last) {
            EXPECT_LT(kFull - mapEnd, 1500u + 2u);
        }
    }
    auto bitmap = ltp::HNBITMAPHDR::decode(heap->block(8));
    ASSERT_TRUE(bitmap);
    EXPECT_NE(ltp::getFillLevel(bitmap->rgbFillLevel, 0), 0) << "block 8 is nearly full";
    EXPECT_EQ(ltp::getFillLevel(bitmap->rgbFillLevel, static_cast<uint32_t>(heap->blockCount() - 8)), 0)
        << "no block after the last";

    auto read = (*pst)->readMessage(nid);
    ASSERT_TRUE(read.ok()) << read.error().description;
    for (uint16_t i = 0; i < 60; ++i) {
        const Property* p = read->props.findTag(makeTag(static_cast<uint16_t>(0x6100 + i), PT_BINARY));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->data, Bytes(1500, static_cast<uint8_t>(i + 1)));
    }
    ASSERT_EQ(read->attachments.size(), 3u);
    EXPECT_EQ(read->attachments[2].props.findTag(makeTag(PidTagAttachDataBinary, PT_BINARY))->data.size(), 8177u);
}

// The density list's trailer carries the header's bidNextP (as in every
// Outlook file) and the header still lies above every page.
TEST(PstWriterLayout, TheDensityListCarriesBidNextP) {
    WrittenStore w;
    const Bytes file = w.finish();
    ASSERT_GT(file.size(), ndb::kDListOffset + ndb::kPageSize);
    auto h = ndb::Header::decode(file);
    ASSERT_TRUE(h.ok());
    auto t = ndb::PageTrailer::decodeFromPage(ByteSpan(file.data() + ndb::kDListOffset, ndb::kPageSize));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->ptype, ndb::ptypeDL);
    EXPECT_EQ(t->bid, h->bidNextP);
    EXPECT_EQ(report(file), "");
}

}  // namespace
}  // namespace tavrin::pst
