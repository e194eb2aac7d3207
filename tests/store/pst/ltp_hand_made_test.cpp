// The LTP readers on heaps put together by hand (allocation by allocation):
// a BTree-on-heap with an index level, and ones whose index points back at
// itself; a property context with values inline, in the heap and in a
// subnode; a table context with a missing cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "fs/file_io.h"
#include "store/core/tags.h"
#include "store/pst/ltp/heap_reader.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/ltp/records.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::ltp {
namespace {

using namespace store;
using namespace store::tags;

constexpr uint32_t hid(uint32_t i) { return makeHid(0, i); }

// One heap block: HNHDR, the allocations in order (HIDs 0x20, 0x40, ...),
// then the page map.
Bytes heapBlock(uint8_t clientSig, uint32_t userRoot, const std::vector<Bytes>& allocs) {
    Bytes b(HNHDR::kSize, 0);
    HNPAGEMAP map;
    map.rgibAlloc.push_back(static_cast<uint16_t>(b.size()));
    for (const auto& a : allocs) {
        b.insert(b.end(), a.begin(), a.end());
        map.rgibAlloc.push_back(static_cast<uint16_t>(b.size()));
    }
    if (b.size() % 2) b.push_back(0);
    HNHDR h;
    h.ibHnpm = static_cast<uint16_t>(b.size());
    h.bClientSig = clientSig;
    h.hidUserRoot = userRoot;
    const Bytes pm = map.encode();
    b.insert(b.end(), pm.begin(), pm.end());
    EXPECT_TRUE(h.encode(b));
    return b;
}

Bytes le(std::initializer_list<std::pair<uint64_t, int>> fields) {
    Bytes b;
    for (auto [v, n] : fields)
        for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return b;
}

Bytes bthHeader(uint8_t cbKey, uint8_t cbEnt, uint8_t levels, uint32_t root) {
    BTHHEADER h;
    h.cbKey = cbKey;
    h.cbEnt = cbEnt;
    h.bIdxLevels = levels;
    h.hidRoot = root;
    return h.encode();
}

TEST(PstLtpHandMade, ABthWithAnIndexLevelReadsInKeyOrder) {
    const Bytes block = heapBlock(bTypeBTH, hid(1),
                                  {bthHeader(2, 6, 1, hid(2)),
                                   le({{0x0001, 2}, {hid(3), 4}, {0x0100, 2}, {hid(4), 4}}),
                                   le({{0x0001, 2}, {0xA1, 6}, {0x0002, 2}, {0xA2, 6}}),
                                   le({{0x0100, 2}, {0xB1, 6}, {0x0200, 2}, {0xB2, 6}})});
    auto heap = Heap::open({block});
    ASSERT_TRUE(heap.ok()) << heap.error().description;
    EXPECT_EQ(heap->clientSig(), bTypeBTH);
    auto bth = Bth::open(*heap, heap->userRoot());
    ASSERT_TRUE(bth.ok()) << bth.error().description;
    auto recs = bth->records();
    ASSERT_TRUE(recs.ok()) << recs.error().description;
    std::vector<uint64_t> keys, data;
    for (const auto& r : *recs) {
        keys.push_back(bthKeyValue(r.key));
        data.push_back(loadLE32(r.data.data()));
    }
    EXPECT_EQ(keys, (std::vector<uint64_t>{0x0001, 0x0002, 0x0100, 0x0200}));
    EXPECT_EQ(data, (std::vector<uint64_t>{0xA1, 0xA2, 0xB1, 0xB2}));
    auto allocs = bth->allocations();
    ASSERT_TRUE(allocs.ok());
    EXPECT_EQ(allocs->size(), 3u);
    // A HID past the page map, and one with a non-zero hidType.
    EXPECT_FALSE(heap->get(hid(9)).ok());
    EXPECT_FALSE(heap->get(hid(1) | 0x1).ok());
}

// Index records that name their own array (at one level and at three): the
// walk reports it instead of going round.
TEST(PstLtpHandMade, ABthIndexThatPointsAtItselfEndsWithAnError) {
    for (uint8_t levels : {uint8_t(1), uint8_t(3)}) {
        SCOPED_TRACE(int(levels));
        const Bytes block = heapBlock(bTypeBTH, hid(1),
                                      {bthHeader(2, 6, levels, hid(2)),
                                       le({{0x0001, 2}, {hid(3), 4}, {0x0100, 2}, {hid(2), 4}}),
                                       le({{0x0001, 2}, {0xA1, 6}})});
        auto heap = Heap::open({block});
        ASSERT_TRUE(heap.ok());
        auto bth = Bth::open(*heap, heap->userRoot());
        ASSERT_TRUE(bth.ok());
        EXPECT_FALSE(bth->records().ok());
        EXPECT_FALSE(bth->allocations().ok());
    }
}

TEST(PstLtpHandMade, AHeapWhosePageMapDoesNotFitIsRefused) {
    Bytes block = heapBlock(bTypePC, hid(1), {bthHeader(2, 6, 0, 0)});
    storeLE16(block.data(), static_cast<uint16_t>(block.size() + 10));  // ibHnpm past the end
    EXPECT_FALSE(Heap::open({block}).ok());
    Bytes noSig = heapBlock(bTypePC, hid(1), {bthHeader(2, 6, 0, 0)});
    noSig[2] = 0xEB;
    EXPECT_FALSE(Heap::open({noSig}).ok());
}

// A file holding one node whose data is `heap`, with one subnode.
struct OneNode {
    Bytes file;
    std::unique_ptr<ndb::NodeDatabase> db;
    ndb::Node node;
};
OneNode writeNode(const Bytes& heap, uint32_t subNid, const Bytes& subData) {
    OneNode out;
    fs::FailingSink sink(std::numeric_limits<uint64_t>::max());
    ndb::NdbWriter w(sink);
    const uint64_t data = *w.writeStream(heap);
    const ndb::SubnodeEntry sub{subNid, *w.writeStream(subData), 0};
    const uint64_t subs = *w.writeSubnodes(std::span<const ndb::SubnodeEntry>(&sub, 1));
    bool given = false;
    std::array<uint32_t, 32> rgnid{};
    rgnid.fill(0x400);
    EXPECT_TRUE(w.finish(
                     [&](ndb::NodeEntry& e) -> Result<bool> {
                         if (given) return false;
                         given = true;
                         e = {0x200024, data, subs, 0};
                         return true;
                     },
                     rgnid)
                    .ok());
    out.file = sink.bytes();
    auto db = ndb::NodeDatabase::open(ndb::MemorySource::borrow(ByteSpan(out.file.data(), out.file.size())));
    EXPECT_TRUE(db.ok());
    if (!db.ok()) return out;
    out.db = std::move(*db);
    auto n = ndb::Node::open(*out.db, 0x200024);
    EXPECT_TRUE(n.ok());
    if (n.ok()) out.node = *n;
    return out;
}

Bytes utf16(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return b;
}

TEST(PstLtpHandMade, APropertyContextWithValuesInlineInTheHeapAndInASubnode) {
    const Bytes subject = utf16(u"hand made");
    const Bytes filetime = le({{0x01D0000012345678ull, 8}});
    const Bytes multi = le({{7, 4}, {9, 4}});  // PT_MV_LONG: the elements back to back
    const Bytes big(5000, 0x5A);
    constexpr uint32_t bigNid = 0x2A5;  // an LTP subnode
    // Records sorted by property id.
    const Bytes records = le({{PidTagMessageFlags, 2}, {PT_LONG, 2}, {17, 4},
                              {0x0E1B, 2}, {PT_BOOLEAN, 2}, {1, 4},
                              {PidTagSubject, 2}, {PT_UNICODE, 2}, {hid(3), 4},
                              {0x0039, 2}, {PT_SYSTIME, 2}, {hid(4), 4},
                              {0x1000, 2}, {PT_BINARY, 2}, {bigNid, 4},
                              {0x6001, 2}, {0x1003, 2}, {hid(5), 4}});
    const Bytes heap = heapBlock(bTypePC, hid(1), {bthHeader(2, 6, 0, hid(2)), records, subject, filetime, multi});
    OneNode n = writeNode(heap, bigNid, big);
    ASSERT_TRUE(n.db);
    auto pc = PropertyContext::open(n.node);
    ASSERT_TRUE(pc.ok()) << pc.error().description;
    auto all = pc->readAll();
    ASSERT_TRUE(all.ok()) << all.error().description;
    ASSERT_EQ(all->size(), 6u);
    std::map<uint16_t, Property> byId;
    for (const auto& p : *all) byId[p.id()] = p;
    EXPECT_EQ(byId[PidTagMessageFlags].asInt32(), 17);
    EXPECT_TRUE(byId[0x0E1B].asBool());
    EXPECT_EQ(byId[PidTagSubject].asUnicode(), u"hand made");
    EXPECT_EQ(byId[0x0039].scalar, 0x01D0000012345678ull);
    EXPECT_EQ(byId[0x1000].data, big);
    ASSERT_EQ(byId[0x6001].multi.size(), 2u);
    EXPECT_EQ(loadLE32(byId[0x6001].multi[1].data()), 9u);
}

// A table of two rows whose second row has no subject: its cell is absent,
// not empty, and the row index maps both row ids.
TEST(PstLtpHandMade, ATableContextWithAMissingCell) {
    // Columns: row id, row version, subject (4-byte HNID), flags; a 1-byte
    // cell existence bitmap after the 16 bytes of 4-byte cells.
    TCINFO info;
    info.rgib = {16, 16, 16, 17};
    info.cols = {{PidTagLtpRowId, 0, 4, 0},
                 {PidTagLtpRowVer, 4, 4, 1},
                 {makeTag(PidTagSubject, PT_UNICODE), 8, 4, 2},
                 {makeTag(PidTagMessageFlags, PT_LONG), 12, 4, 3}};
    info.hidRowIndex = hid(2);
    info.hnidRows = hid(4);
    Bytes rows = le({{0x200024, 4}, {1, 4}, {hid(5), 4}, {1, 4}, {0xF0, 1},
                     {0x200044, 4}, {1, 4}, {0, 4}, {0x11, 4}, {0xD0, 1}});
    const Bytes heap = heapBlock(bTypeTC, hid(1),
                                 {info.encode(), bthHeader(4, 4, 0, hid(3)),
                                  le({{0x200024, 4}, {0, 4}, {0x200044, 4}, {1, 4}}), rows, utf16(u"first")});
    OneNode n = writeNode(heap, 0x2A5, Bytes(4, 0));
    ASSERT_TRUE(n.db);
    auto tc = TableContext::open(n.node);
    ASSERT_TRUE(tc.ok()) << tc.error().description;
    EXPECT_FALSE(tc->rowsInSubnode());
    ASSERT_EQ(tc->rowCount(), 2u);
    EXPECT_EQ(tc->rowId(1), 0x200044u);
    auto index = tc->rowIndex();
    ASSERT_TRUE(index.ok());
    ASSERT_EQ(index->size(), 2u);
    EXPECT_EQ((*index)[1].dwRowID, 0x200044u);
    EXPECT_EQ((*index)[1].dwRowIndex, 1u);
    const TCOLDESC* subjectCol = tc->column(makeTag(PidTagSubject, PT_UNICODE));
    ASSERT_TRUE(subjectCol);
    auto c0 = tc->cell(0, *subjectCol);
    ASSERT_TRUE(c0.ok()) << c0.error().description;
    ASSERT_TRUE(c0->has_value());
    EXPECT_EQ((*c0)->asUnicode(), u"first");
    auto c1 = tc->cell(1, *subjectCol);
    ASSERT_TRUE(c1.ok());
    EXPECT_FALSE(c1->has_value());
    auto row1 = tc->row(1);
    ASSERT_TRUE(row1.ok());
    EXPECT_EQ(row1->size(), 3u);  // row id, row version, flags
    EXPECT_EQ(tc->column(makeTag(PidTagBody, PT_UNICODE)), nullptr);
}

}  // namespace
}  // namespace tavrin::pst::ltp
