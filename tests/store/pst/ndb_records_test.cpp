#include <gtest/gtest.h>

#include "pst_samples.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {
namespace {

using testing::readBytes;
using testing::sample;

Header exampleHeader(Flavour f) {
    Header h;
    h.flavour = f;
    h.wVer = f == Flavour::Unicode ? header::kVerUnicode : header::kVerAnsi14;
    h.bidNextP = 0x17F;
    h.bidNextB = 0x130;
    h.dwUnique = 0x16;
    h.rgnid.fill(0x400);
    h.rgnid[4] = 0x10000;
    h.root.ibFileEof = 0x42400;
    h.root.ibAMapLast = 0x4400;
    h.root.cbAMapFree = 0x3AD40;
    h.root.brefNbt = {0x17D, 0x9200};
    h.root.brefBbt = {0x17B, 0x8400};
    h.root.fAMapValid = root::kValidAMap2;
    h.rgbFM.fill(0xFF);
    h.rgbFP.fill(0xFF);
    h.bCryptMethod = 1;
    return h;
}

TEST(PstHeaderRecord, EncodesAndDecodesBothFlavours) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        const Header h = exampleHeader(f);
        const Bytes b = h.encode();
        ASSERT_EQ(b.size(), Header::size(f));
        EXPECT_EQ(store::loadLE32(b.data()), header::kMagic);
        auto d = Header::decode(b);
        ASSERT_TRUE(d) << d.error().description;
        EXPECT_EQ(d->flavour, f);
        EXPECT_TRUE(d->crcPartialOk());
        EXPECT_TRUE(d->crcFullOk());
        EXPECT_EQ(d->bidNextB, 0x130u);
        EXPECT_EQ(d->bidNextP, 0x17Fu);
        EXPECT_EQ(d->rgnid[4], 0x10000u);
        EXPECT_EQ(d->root, h.root);
        EXPECT_EQ(d->bCryptMethod, 1);
        EXPECT_EQ(d->encode(), b);
    }
}

TEST(PstHeaderRecord, FieldOffsetsOfTheUnicodeLayout) {
    const Bytes b = exampleHeader(Flavour::Unicode).encode();
    EXPECT_EQ(store::loadLE64(b.data() + header::ibBidNextP), 0x17Fu);
    EXPECT_EQ(store::loadLE64(b.data() + header::ibBidNextB), 0x130u);
    EXPECT_EQ(store::loadLE32(b.data() + header::ibRgnid + 16), 0x10000u);
    EXPECT_EQ(store::loadLE64(b.data() + header::ibRoot + root::ibFileEof), 0x42400u);
    EXPECT_EQ(store::loadLE64(b.data() + header::ibRoot + root::ibBrefBbt + 8), 0x8400u);
    EXPECT_EQ(b[header::ibRoot + root::ibAMapValid], 2);
    EXPECT_EQ(b[header::ibSentinel], 0x80);
    EXPECT_EQ(b[header::ibCryptMethod], 1);
    EXPECT_EQ(store::loadLE32(b.data() + 4), computeCrc(std::span(b.data() + 8, 471)));
    EXPECT_EQ(store::loadLE32(b.data() + 524), computeCrc(std::span(b.data() + 8, 516)));
}

TEST(PstHeaderRecord, ReportsCrcMismatchesAndRejectsForeignFiles) {
    Bytes b = exampleHeader(Flavour::Unicode).encode();
    b[200] ^= 1;  // inside both CRC ranges
    auto d = Header::decode(b);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->crcPartialOk());
    EXPECT_FALSE(d->crcFullOk());
    b[200] ^= 1;
    b[520] ^= 1;  // bidNextB: only the full CRC covers it
    d = Header::decode(b);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->crcPartialOk());
    EXPECT_FALSE(d->crcFullOk());

    Bytes bad = b;
    bad[0] = 'X';
    EXPECT_FALSE(Header::decode(bad));
    bad = b;
    bad[8] = 0;
    EXPECT_FALSE(Header::decode(bad));
    bad = b;
    store::storeLE16(bad.data() + header::ibVer, 36);  // 4K-page OST variant
    auto v = Header::decode(bad);
    ASSERT_FALSE(v);
    EXPECT_EQ(v.error().number, err::kNoSupport);
    EXPECT_FALSE(Header::decode(ByteSpan(b).first(300)));
    EXPECT_FALSE(Header::decode({}));
}

TEST(PstHeaderRecord, OutlookHeadersRoundTripByteForByte) {
    const auto unicode = sample("pstsdk/sample1.pst");
    const auto ansi = sample("go-pst/32-bit.pst");
    TAVRIN_REQUIRE_SAMPLE(unicode);
    TAVRIN_REQUIRE_SAMPLE(ansi);
    for (const auto& p : {unicode, ansi}) {
        const Bytes file = readBytes(p);
        auto h = Header::decode(file);
        ASSERT_TRUE(h) << h.error().description;
        EXPECT_TRUE(h->crcPartialOk()) << p;
        EXPECT_TRUE(h->crcFullOk()) << p;
        EXPECT_EQ(h->root.ibFileEof, file.size()) << p;
        EXPECT_EQ(h->bSentinel, header::kSentinel);
        const Bytes again = h->encode();
        EXPECT_TRUE(std::equal(again.begin(), again.end(), file.begin())) << p;
    }
    // The ANSI layout, field by field (values read from the file with a hex dump).
    auto h = Header::decode(readBytes(ansi));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->flavour, Flavour::Ansi);
    EXPECT_EQ(h->bidNextB, 0x4BCu);
    EXPECT_EQ(h->bidNextP, 0x1C6u);
    EXPECT_EQ(h->dwUnique, 0x31u);
    EXPECT_EQ(h->root.ibAMapLast, 0x4400u);
    EXPECT_EQ(h->root.cbAMapFree, 0x5340u);
    EXPECT_EQ(h->root.brefNbt, (Bref{0x1C1, 0x7600}));
    EXPECT_EQ(h->root.brefBbt, (Bref{0x1C4, 0x4800}));
    EXPECT_EQ(h->root.fAMapValid, 1);
    EXPECT_EQ(h->bCryptMethod, 1);
}

TEST(PstPageRecords, SealedPagesCarryTypeSignatureCrcAndBid) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        Bytes page(kPageSize, 0);
        for (size_t i = 0; i < 100; ++i) page[i] = uint8_t(i * 7);
        ASSERT_TRUE(sealPage(page, ptypeNBT, 0x17D, 0x9200, f));
        auto t = PageTrailer::decodeFromPage(page, f);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->ptype, ptypeNBT);
        EXPECT_EQ(t->ptypeRepeat, ptypeNBT);
        EXPECT_EQ(t->wSig, computeSig(0x9200, 0x17D));
        EXPECT_EQ(t->dwCRC, computeCrc(std::span(page.data(), pageDataSize(f))));
        EXPECT_EQ(t->bid, 0x17Du);
        // Map pages carry no signature and their own offset as BID.
        ASSERT_TRUE(sealPage(page, ptypeAMap, 0x4400, 0x4400, f));
        t = PageTrailer::decodeFromPage(page, f);
        EXPECT_EQ(t->wSig, 0);
        EXPECT_EQ(t->bid, 0x4400u);
    }
    Bytes small(100);
    EXPECT_FALSE(sealPage(small, ptypeBBT, 1, 1));
    EXPECT_FALSE(PageTrailer::decodeFromPage(small));
}

TEST(PstPageRecords, BTreePageEntriesRoundTrip) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        Bytes page(kPageSize, 0);
        const BTEntry bt{0x21, {0x44, 0x8600}};
        const BBTEntry bbt{{0x48, 0x4A00}, 0x1F0, 2, 0};
        const NBTEntry nbt{0x122, 0x5C, 0x60, 0x122, 0};
        ASSERT_TRUE(bt.encode(MutableByteSpan(page).subspan(0), f));
        ASSERT_TRUE(bbt.encode(MutableByteSpan(page).subspan(BTEntry::size(f)), f));
        ASSERT_TRUE(nbt.encode(MutableByteSpan(page).subspan(BTEntry::size(f) + BBTEntry::size(f)), f));
        const BTPageInfo info{3, 20, 24, 1, 0};
        ASSERT_TRUE(info.encode(page, f));
        EXPECT_EQ(BTEntry::decode(page, f), bt);
        EXPECT_EQ(BBTEntry::decode(ByteSpan(page).subspan(BTEntry::size(f)), f), bbt);
        EXPECT_EQ(NBTEntry::decode(ByteSpan(page).subspan(BTEntry::size(f) + BBTEntry::size(f)), f), nbt);
        EXPECT_EQ(BTPageInfo::decode(page, f), info);
    }
    EXPECT_EQ(BTEntry::size(Flavour::Unicode), 24u);
    EXPECT_EQ(NBTEntry::size(Flavour::Unicode), 32u);
    EXPECT_EQ(BBTEntry::size(Flavour::Ansi), 12u);
    EXPECT_EQ(NBTEntry::size(Flavour::Ansi), 16u);
    EXPECT_EQ(btEntryMax(24, Flavour::Unicode), 20u);
    EXPECT_EQ(btEntryMax(32, Flavour::Unicode), 15u);
    EXPECT_EQ(btEntryMax(12, Flavour::Ansi), 41u);
    const Bytes tiny(10);
    EXPECT_FALSE(NBTEntry::decode(tiny));
    EXPECT_FALSE(BBTEntry::decode(tiny));
}

TEST(PstPageRecords, OutlookBTreeAndMapPagesDecode) {
    for (const char* rel : {"pstsdk/sample1.pst", "go-pst/32-bit.pst"}) {
        const auto p = sample(rel);
        TAVRIN_REQUIRE_SAMPLE(p);
        const Bytes file = readBytes(p);
        auto h = Header::decode(file);
        ASSERT_TRUE(h);
        const Flavour f = h->flavour;
        for (const Bref& r : {h->root.brefBbt, h->root.brefNbt}) {
            ByteSpan page = ByteSpan(file).subspan(r.ib, kPageSize);
            auto t = PageTrailer::decodeFromPage(page, f);
            ASSERT_TRUE(t);
            EXPECT_EQ(t->bid, r.bid) << rel;
            EXPECT_EQ(t->dwCRC, pageCrc(page, f)) << rel;
            EXPECT_EQ(t->wSig, pageSignature(t->ptype, r.ib, r.bid)) << rel;
            auto info = BTPageInfo::decode(page, f);
            ASSERT_TRUE(info);
            EXPECT_LE(info->cEnt, info->cEntMax);
            EXPECT_EQ(info->cEntMax, btEntryMax(info->cbEnt, f)) << rel;
        }
        ByteSpan amap = ByteSpan(file).subspan(kFirstAMapOffset, kPageSize);
        auto t = PageTrailer::decodeFromPage(amap, f);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->ptype, ptypeAMap);
        EXPECT_EQ(t->bid, kFirstAMapOffset);
        EXPECT_EQ(t->dwCRC, pageCrc(amap, f));
        auto m = MapPage::decode(amap, f);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->rgb[0], 0xFF) << rel;  // the AMap maps itself
        Bytes copy(kPageSize, 0);
        ASSERT_TRUE(m->encode(copy, f));
        ASSERT_TRUE(sealPage(copy, ptypeAMap, kFirstAMapOffset, kFirstAMapOffset, f));
        EXPECT_TRUE(std::equal(copy.begin(), copy.end(), amap.begin())) << rel;
    }
}

TEST(PstBlockRecords, BuiltBlocksArePaddedAndSealed) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        Bytes data(100);
        for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
        const Bytes b = buildBlock(data, 0x48, 0x4A00, f);
        ASSERT_EQ(b.size(), f == Flavour::Unicode ? 128u : 128u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), b.begin()));
        for (size_t i = data.size(); i < b.size() - blockTrailerSize(f); ++i) EXPECT_EQ(b[i], 0);
        auto t = BlockTrailer::decode(ByteSpan(b).last(blockTrailerSize(f)), f);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->cb, 100);
        EXPECT_EQ(t->wSig, computeSig(0x4A00, 0x48));
        EXPECT_EQ(t->dwCRC, computeCrc(data));
        EXPECT_EQ(t->bid, 0x48u);
        EXPECT_TRUE(buildBlock(Bytes(maxBlockData(f)), 4, 0, f).size() == kMaxBlockSize);
        EXPECT_TRUE(buildBlock(Bytes(maxBlockData(f) + 1), 4, 0, f).empty());
    }
    EXPECT_EQ(blockAllocSize(0, Flavour::Unicode), 64u);
    EXPECT_EQ(blockAllocSize(48, Flavour::Unicode), 64u);
    EXPECT_EQ(blockAllocSize(49, Flavour::Unicode), 128u);
    EXPECT_EQ(blockAllocSize(52, Flavour::Ansi), 64u);
    EXPECT_EQ(blockAllocSize(8176, Flavour::Unicode), 8192u);
    EXPECT_EQ(maxBlockData(Flavour::Ansi), 8180u);
}

TEST(PstBlockRecords, DataTreeBlocksRoundTripAndRejectBadHeads) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        XBlock x;
        x.cLevel = 1;
        x.lcbTotal = 93142;
        x.rgbid = {0x100, 0x104, 0x108};
        const Bytes b = x.encode(f);
        EXPECT_EQ(b.size(), 8 + 3 * idSize(f));
        auto d = XBlock::decode(b, f);
        ASSERT_TRUE(d) << d.error().description;
        EXPECT_EQ(*d, x);
        Bytes bad = b;
        bad[0] = 2;
        EXPECT_FALSE(XBlock::decode(bad, f));
        bad = b;
        bad[1] = 3;
        EXPECT_FALSE(XBlock::decode(bad, f));
        bad = b;
        store::storeLE16(bad.data() + 2, 4);  // one entry more than present
        EXPECT_FALSE(XBlock::decode(bad, f));
        x.rgbid.assign(xblockMaxEntries(f) + 1, 4);
        EXPECT_TRUE(x.encode(f).empty());
    }
    EXPECT_EQ(xblockMaxEntries(Flavour::Unicode), 1021u);
}

TEST(PstBlockRecords, SubnodeBlocksRoundTripAndRejectBadHeads) {
    for (Flavour f : {Flavour::Unicode, Flavour::Ansi}) {
        SLBlock sl;
        sl.entries = {{0x671, 0x40, 0}, {0x692, 0x44, 0}, {0x8025, 0x48, 0x4E}};
        const Bytes b = sl.encode(f);
        EXPECT_EQ(b.size(), subnodeBlockHeadSize(f) + 3 * SLEntry::size(f));
        auto d = SLBlock::decode(b, f);
        ASSERT_TRUE(d) << d.error().description;
        EXPECT_EQ(*d, sl);
        EXPECT_FALSE(SIBlock::decode(b, f));  // cLevel 0 is not an SIBLOCK
        SIBlock si;
        si.entries = {{0x21, 0x52}, {0x8025, 0x56}};
        const Bytes c = si.encode(f);
        auto e = SIBlock::decode(c, f);
        ASSERT_TRUE(e);
        EXPECT_EQ(*e, si);
        EXPECT_FALSE(SLBlock::decode(c, f));
        Bytes bad = b;
        store::storeLE16(bad.data() + 2, 40);
        EXPECT_FALSE(SLBlock::decode(bad, f));
        bad = b;
        bad[0] = 1;
        EXPECT_FALSE(SLBlock::decode(bad, f));
    }
    EXPECT_EQ(slblockMaxEntries(Flavour::Unicode), 340u);
    EXPECT_EQ(siblockMaxEntries(Flavour::Unicode), 510u);
}

TEST(PstMapRecords, MapIntervalsAndBits) {
    EXPECT_EQ(amapOffset(0), 0x4400u);
    EXPECT_EQ(amapOffset(1), 0x4400u + 253952u);
    EXPECT_TRUE(sectionHasPMap(0));
    EXPECT_TRUE(sectionHasPMap(8));
    EXPECT_FALSE(sectionHasPMap(7));
    EXPECT_EQ(pmapOffset(0), 0x4600u);
    EXPECT_FALSE(sectionHasFMap(127));
    EXPECT_TRUE(sectionHasFMap(128));
    EXPECT_TRUE(sectionHasFMap(128 + 496));
    EXPECT_FALSE(sectionHasFMap(129));
    EXPECT_EQ(fmapOffset(128), 0x4400u + 128u * 253952u + 1024u);
    EXPECT_TRUE(sectionHasFPMap(8192));
    EXPECT_FALSE(sectionHasFMap(8192));
    EXPECT_EQ(fpmapOffset(8192), 0x7C004800u);
    std::array<uint8_t, kAMapBytes> bits{};
    setMapBit(bits, 0, true);
    setMapBit(bits, 9, true);
    EXPECT_EQ(bits[0], 0x80);
    EXPECT_EQ(bits[1], 0x40);
    EXPECT_TRUE(mapBit(bits, 9));
    setMapBit(bits, 9, false);
    EXPECT_FALSE(mapBit(bits, 9));
}

TEST(PstMapRecords, DListRoundTrip) {
    DListPage d;
    d.bFlags = DListPage::kBackfillComplete;
    d.ulCurrentPage = 3;
    d.entries = {{0, 0xABC}, {0xFFFFF, 1}};
    Bytes page(kPageSize, 0);
    ASSERT_TRUE(d.encode(page));
    EXPECT_EQ(page[1], 2);
    EXPECT_EQ(store::loadLE32(page.data() + 8), 0xABC00000u);
    auto e = DListPage::decode(page);
    ASSERT_TRUE(e);
    EXPECT_EQ(*e, d);
    page[1] = 120;
    EXPECT_FALSE(DListPage::decode(page));
}

}  // namespace
}  // namespace tavrin::pst::ndb
