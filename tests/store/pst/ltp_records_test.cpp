#include <gtest/gtest.h>

#include "store/core/props.h"
#include "store/pst/ltp/records.h"
#include "store/pst/messaging/records.h"

namespace tavrin::pst::ltp {
namespace {

TEST(PstHeapRecords, HidFieldsAndHeapBlockKinds) {
    EXPECT_EQ(makeHid(0, 1), 0x20u);
    EXPECT_EQ(makeHid(0, 4), 0x80u);
    EXPECT_EQ(makeHid(1, 2), 0x10040u);
    EXPECT_EQ(hidIndex(0x10040), 2u);
    EXPECT_EQ(hidBlockIndex(0x10040), 1u);
    EXPECT_EQ(hidType(0x10040), 0);
    EXPECT_TRUE(hnidIsHid(0x20));
    EXPECT_FALSE(hnidIsHid(0x807F));
    EXPECT_EQ(heapBlockKind(0), HeapBlockKind::First);
    EXPECT_EQ(heapBlockKind(1), HeapBlockKind::Page);
    EXPECT_EQ(heapBlockKind(8), HeapBlockKind::Bitmap);
    EXPECT_EQ(heapBlockKind(9), HeapBlockKind::Page);
    EXPECT_EQ(heapBlockKind(136), HeapBlockKind::Bitmap);
    EXPECT_EQ(heapBlockKind(135), HeapBlockKind::Page);
    EXPECT_EQ(heapBlockHeaderSize(8), 66u);
}

TEST(PstHeapRecords, HeaderAndPageMapRoundTrip) {
    Bytes block(64, 0);
    HNHDR h{0x30, kHeapSig, bTypePC, 0x20, {0x21, 0, 0, 0}};
    ASSERT_TRUE(h.encode(block));
    EXPECT_EQ(block[2], 0xEC);
    EXPECT_EQ(HNHDR::decode(block), h);
    HNPAGEMAP m;
    m.rgibAlloc = {12, 20, 36};
    const Bytes pm = m.encode();
    ASSERT_EQ(pm.size(), m.size());
    std::copy(pm.begin(), pm.end(), block.begin() + 0x30);
    auto d = HNPAGEMAP::decode(block, 0x30);
    ASSERT_TRUE(d) << d.error().description;
    EXPECT_EQ(*d, m);
    EXPECT_EQ(d->cAlloc(), 2);
    EXPECT_FALSE(HNPAGEMAP::decode(block, 0x3F));   // past the end
    store::storeLE16(block.data() + 0x30, 40);       // 41 offsets cannot fit
    EXPECT_FALSE(HNPAGEMAP::decode(block, 0x30));
    HNBITMAPHDR bm;
    bm.ibHnpm = 100;
    bm.rgbFillLevel[63] = 0xF1;
    Bytes b2(66);
    ASSERT_TRUE(bm.encode(b2));
    EXPECT_EQ(HNBITMAPHDR::decode(b2), bm);
    EXPECT_FALSE(HNBITMAPHDR::decode(ByteSpan(b2).first(65)));
}

TEST(PstHeapRecords, FillLevelsFollowTheFreeSpaceClasses) {
    EXPECT_EQ(fillLevelFor(8176), 0x0);
    EXPECT_EQ(fillLevelFor(3584), 0x0);
    EXPECT_EQ(fillLevelFor(3583), 0x1);
    EXPECT_EQ(fillLevelFor(2962), 0x1);  // values seen in Outlook heaps
    EXPECT_EQ(fillLevelFor(2524), 0x2);
    EXPECT_EQ(fillLevelFor(256), 0x9);
    EXPECT_EQ(fillLevelFor(8), 0xE);
    EXPECT_EQ(fillLevelFor(7), 0xF);
    EXPECT_EQ(fillLevelFor(0), 0xF);
    // The levels Outlook writes: 366 bytes left after the page map give 9
    // (testPST.pst), 6 bytes left give 14, one class emptier at the boundary.
    EXPECT_EQ(heapFillLevel(8176 - 366, 8176), 0x9);
    EXPECT_EQ(heapFillLevel(8170, 8176), 0xE);
    EXPECT_EQ(heapFillLevel(8172, 8176), 0xE);  // 4 left: 14 too (free + 4)
    EXPECT_EQ(heapFillLevel(8176 - 122, 8176), 0xB);
    EXPECT_EQ(heapFillLevel(8176, 8176), 0xF);
    EXPECT_EQ(heapFillLevel(9000, 8176), 0xF);
    std::array<uint8_t, 4> rgb{};
    setFillLevel(rgb, 0, 0x1);
    setFillLevel(rgb, 1, 0x2);
    setFillLevel(rgb, 7, 0xF);
    EXPECT_EQ(rgb[0], 0x21);
    EXPECT_EQ(rgb[3], 0xF0);
    EXPECT_EQ(getFillLevel(rgb, 1), 2);
    EXPECT_EQ(getFillLevel(rgb, 8), 0);  // out of range reads as 0
}

TEST(PstTableRecords, BthPcAndTcRecordsRoundTrip) {
    const BTHHEADER bth{bTypeBTH, 2, 6, 0, 0x20};
    EXPECT_EQ(BTHHEADER::decode(bth.encode()), bth);
    Bytes e(8);
    const PropEntry p{0x3001, store::PT_UNICODE, 0x40};
    ASSERT_TRUE(p.encode(e));
    EXPECT_EQ(PropEntry::decode(e), p);
    EXPECT_TRUE(storedInline(store::PT_LONG));
    EXPECT_TRUE(storedInline(store::PT_BOOLEAN));
    EXPECT_FALSE(storedInline(store::PT_I8));
    EXPECT_FALSE(storedInline(store::PT_SYSTIME));
    EXPECT_FALSE(storedInline(store::PT_LONG | store::MV_FLAG));

    TCINFO t;
    t.rgib = {8, 10, 11, 12};
    t.hidRowIndex = 0x20;
    t.hnidRows = 0x80;
    t.cols = {{0x67F20003, 0, 4, 0}, {0x67F30003, 4, 4, 1}, {0x360A000B, 10, 1, 2}};
    const Bytes tb = t.encode();
    EXPECT_EQ(tb.size(), 22u + 24u);
    EXPECT_EQ(tb[1], 3);
    auto td = TCINFO::decode(tb);
    ASSERT_TRUE(td) << td.error().description;
    EXPECT_EQ(*td, t);
    EXPECT_EQ(td->rowSize(), 12);
    Bytes bad = tb;
    bad[0] = 0xB5;
    EXPECT_FALSE(TCINFO::decode(bad));
    bad = tb;
    bad[1] = 4;  // one column more than present
    EXPECT_FALSE(TCINFO::decode(bad));
    EXPECT_FALSE(TCINFO::decode(ByteSpan(tb).first(21)));

    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        Bytes r(8);
        const TCROWID id{0x8022, 3};
        ASSERT_TRUE(id.encode(r, f));
        EXPECT_EQ(TCROWID::decode(r, f), id);
    }
    EXPECT_EQ(TCROWID::size(Flavour::Ansi), 6u);
    EXPECT_EQ(rowsPerBlock(55, Flavour::Unicode), 148u);
}

TEST(PstTableRecords, CellExistenceBitsAreMsbFirst) {
    Bytes row(16, 0);
    setCebBit(row, 14, 0, true);
    setCebBit(row, 14, 9, true);
    EXPECT_EQ(row[14], 0x80);
    EXPECT_EQ(row[15], 0x40);
    EXPECT_TRUE(cebBit(row, 14, 9));
    EXPECT_FALSE(cebBit(row, 14, 1));
    EXPECT_FALSE(cebBit(row, 14, 40));  // outside the row
}

TEST(PstPropertyValues, MultiValuedLayouts) {
    const std::vector<Bytes> vals = {{'a', 0}, {}, {'b', 0, 'c', 0}};
    const Bytes b = encodeMultiVariable(vals);
    EXPECT_EQ(store::loadLE32(b.data()), 3u);
    EXPECT_EQ(store::loadLE32(b.data() + 4), 16u);
    auto d = decodeMultiVariable(b);
    ASSERT_TRUE(d) << d.error().description;
    EXPECT_EQ(*d, vals);  // the empty element survives (equal offsets)
    Bytes bad = b;
    store::storeLE32(bad.data() + 8, 100);
    EXPECT_FALSE(decodeMultiVariable(bad));
    bad = b;
    store::storeLE32(bad.data(), 0x40000000);
    EXPECT_FALSE(decodeMultiVariable(bad));
    bad = b;
    store::storeLE32(bad.data() + 4, 2);  // inside the offset array
    EXPECT_FALSE(decodeMultiVariable(bad));
    auto empty = decodeMultiVariable(encodeMultiVariable({}));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    const std::vector<Bytes> longs = {{1, 0, 0, 0}, {2, 0, 0, 0}};
    auto f = decodeMultiFixed(encodeMultiFixed(longs), 4);
    ASSERT_TRUE(f);
    EXPECT_EQ(*f, longs);
    EXPECT_FALSE(decodeMultiFixed(Bytes(6), 4));

    const ObjectRef o{0x8044, 7816};
    EXPECT_EQ(ObjectRef::decode(o.encode()), o);
}

TEST(PstNameIdRecords, NameIdEntryIdAndHash) {
    using namespace messaging;
    const NameId n{0x8501, false, 5, 0x12};
    const Bytes b = n.encode();
    EXPECT_EQ(store::loadLE16(b.data() + 4), 10);  // wGuid << 1, N clear
    EXPECT_EQ(NameId::decode(b), n);
    const NameId s{0x10, true, kGuidIndexPublicStrings, 3};
    EXPECT_EQ(store::loadLE16(s.encode().data() + 4), 5);
    EXPECT_EQ(NameId::decode(s.encode()), s);
    EXPECT_FALSE(NameId::decode(Bytes(7)));
    EXPECT_EQ(nameBucketIndex(0x8501, 5, false, 251), (0x8501u ^ 10u) % 251u);
    EXPECT_EQ(nameBucketIndex(0x1234, 2, true, 251), (0x1234u ^ 5u) % 251u);
    EXPECT_EQ(nameHashKey(u""), 0u);
    EXPECT_NE(nameHashKey(u"Keywords"), nameHashKey(u"keywords"));

    EntryId e;
    e.uid.b[0] = 0xAB;
    e.nid = 0x8022;
    const Bytes eb = e.encode();
    ASSERT_EQ(eb.size(), 24u);
    EXPECT_EQ(eb[4], 0xAB);
    EXPECT_EQ(store::loadLE32(eb.data() + 20), 0x8022u);
    EXPECT_EQ(EntryId::decode(eb), e);
    EXPECT_FALSE(EntryId::decode(ByteSpan(eb).first(23)));
}

}  // namespace
}  // namespace tavrin::pst::ltp
