#include "store/pst/ndb/records.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "store/pst/ndb/crc.h"

namespace tavrin::pst::ndb {

using store::ByteReader;
using store::ByteWriter;
using store::getLE16;
using store::getLE32;
using store::getLE64;
using store::inBounds;
using store::putLE16;
using store::putLE32;
using store::putLE64;

namespace {

// A BID or an IB: 8 bytes in Unicode files, 4 in ANSI ones.
uint64_t readId(ByteReader& r, Flavour f) { return f == Flavour::Unicode ? r.u64() : r.u32(); }
void writeId(ByteWriter& w, uint64_t v, Flavour f) {
    if (f == Flavour::Unicode) w.u64(v);
    else w.u32(static_cast<uint32_t>(v));
}
bool putId(MutableByteSpan s, uint64_t off, uint64_t v, Flavour f) {
    return f == Flavour::Unicode ? putLE64(s, off, v) : putLE32(s, off, static_cast<uint32_t>(v));
}
bool putU8(MutableByteSpan s, uint64_t off, uint8_t v) {
    if (!inBounds(s.size(), off, 1)) return false;
    s[off] = v;
    return true;
}

Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }

}  // namespace

std::string hex(uint64_t v) {
    char b[24];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

// ---- BREF ([MS-PST] 2.2.2.4) ----

std::optional<Bref> Bref::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    Bref b;
    b.bid = readId(r, f);
    b.ib = readId(r, f);
    if (!r.ok()) return std::nullopt;
    return b;
}

bool Bref::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < size(f)) return false;
    return putId(out, 0, bid, f) && putId(out, idSize(f), ib, f);
}

// ---- ROOT ([MS-PST] 2.2.2.5) ----

std::optional<Root> Root::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    Root v;
    v.dwReserved = r.u32();
    v.ibFileEof = readId(r, f);
    v.ibAMapLast = readId(r, f);
    v.cbAMapFree = readId(r, f);
    v.cbPMapFree = readId(r, f);
    v.brefNbt.bid = readId(r, f);
    v.brefNbt.ib = readId(r, f);
    v.brefBbt.bid = readId(r, f);
    v.brefBbt.ib = readId(r, f);
    v.fAMapValid = r.u8();
    v.bReserved = r.u8();
    v.wReserved = r.u16();
    if (!r.ok()) return std::nullopt;
    return v;
}

bool Root::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < size(f)) return false;
    ByteWriter w(size(f));
    w.u32(dwReserved);
    writeId(w, ibFileEof, f);
    writeId(w, ibAMapLast, f);
    writeId(w, cbAMapFree, f);
    writeId(w, cbPMapFree, f);
    writeId(w, brefNbt.bid, f);
    writeId(w, brefNbt.ib, f);
    writeId(w, brefBbt.bid, f);
    writeId(w, brefBbt.ib, f);
    w.u8(fAMapValid);
    w.u8(bReserved);
    w.u16(wReserved);
    return store::putBytes(out, 0, w.buffer());
}

// ---- HEADER ([MS-PST] 2.2.2.6) ----

uint32_t headerCrcPartial(ByteSpan h) {
    if (!inBounds(h.size(), header::kCrcPartialStart, header::kCrcPartialLength)) return 0;
    return computeCrc(h.subspan(header::kCrcPartialStart, header::kCrcPartialLength));
}

uint32_t headerCrcFull(ByteSpan h) {
    if (!inBounds(h.size(), header::kCrcFullStart, header::kCrcFullLength)) return 0;
    return computeCrc(h.subspan(header::kCrcFullStart, header::kCrcFullLength));
}

Result<Header> Header::decode(ByteSpan s) {
    using namespace header;
    auto magic = getLE32(s, 0);
    auto client = getLE16(s, 8);
    auto ver = getLE16(s, ibVer);
    if (!magic || !client || !ver) return corrupt("header: file too short (" + std::to_string(s.size()) + " bytes)");
    if (*magic != kMagic) return corrupt("header: not a PST file (dwMagic is not \"!BDN\")");
    if (*client != kMagicClient) return corrupt("header: wMagicClient is not \"SM\"");
    Header h;
    if (*ver == kVerAnsi14 || *ver == kVerAnsi15) h.flavour = Flavour::Ansi;
    else if (*ver == kVerUnicode) h.flavour = Flavour::Unicode;
    else return makeError(err::kNoSupport, "header: unsupported wVer " + std::to_string(*ver));
    const Flavour f = h.flavour;
    if (s.size() < h.size()) return corrupt("header: file too short (" + std::to_string(s.size()) + " bytes)");

    ByteReader r(s.first(h.size()));
    h.dwMagic = r.u32();
    h.dwCRCPartial = r.u32();
    h.wMagicClient = r.u16();
    h.wVer = r.u16();
    h.wVerClient = r.u16();
    h.bPlatformCreate = r.u8();
    h.bPlatformAccess = r.u8();
    h.dwReserved1 = r.u32();
    h.dwReserved2 = r.u32();
    if (f == Flavour::Unicode) {
        h.bidUnused = r.u64();
        h.bidNextP = r.u64();
    } else {
        h.bidNextB = r.u32();
        h.bidNextP = r.u32();
    }
    h.dwUnique = r.u32();
    for (auto& n : h.rgnid) n = r.u32();
    if (f == Flavour::Unicode) h.qwUnused = r.u64();
    auto root = Root::decode(r.bytes(Root::size(f)), f);
    if (!root) return corrupt("header: truncated ROOT");
    h.root = *root;
    if (f == Flavour::Unicode) h.dwAlign = r.u32();
    auto fm = r.bytes(128);
    auto fp = r.bytes(128);
    if (r.ok()) {
        std::copy(fm.begin(), fm.end(), h.rgbFM.begin());
        std::copy(fp.begin(), fp.end(), h.rgbFP.begin());
    }
    h.bSentinel = r.u8();
    h.bCryptMethod = r.u8();
    h.rgbReserved = r.u16();
    if (f == Flavour::Unicode) {
        h.bidNextB = r.u64();
        h.dwCRCFull = r.u32();
    } else {
        h.ullReserved = r.u64();
        h.dwReserved = r.u32();
    }
    auto r2 = r.bytes(3);
    if (r.ok()) std::copy(r2.begin(), r2.end(), h.rgbReserved2.begin());
    h.bReserved = r.u8();
    auto r3 = r.bytes(32);
    if (r.ok()) std::copy(r3.begin(), r3.end(), h.rgbReserved3.begin());
    if (!r.ok()) return corrupt("header: truncated");

    h.computedCrcPartial = headerCrcPartial(s);
    if (f == Flavour::Unicode) h.computedCrcFull = headerCrcFull(s);
    return h;
}

Bytes Header::encode() const {
    const Flavour f = flavour;
    ByteWriter w(size());
    w.u32(dwMagic);
    w.u32(0);  // dwCRCPartial, below
    w.u16(wMagicClient);
    w.u16(wVer);
    w.u16(wVerClient);
    w.u8(bPlatformCreate);
    w.u8(bPlatformAccess);
    w.u32(dwReserved1);
    w.u32(dwReserved2);
    if (f == Flavour::Unicode) {
        w.u64(bidUnused);
        w.u64(bidNextP);
    } else {
        w.u32(static_cast<uint32_t>(bidNextB));
        w.u32(static_cast<uint32_t>(bidNextP));
    }
    w.u32(dwUnique);
    for (auto n : rgnid) w.u32(n);
    if (f == Flavour::Unicode) w.u64(qwUnused);
    const size_t rootAt = w.size();
    w.zeros(Root::size(f));
    (void)root.encode(MutableByteSpan(w.buffer()).subspan(rootAt), f);
    if (f == Flavour::Unicode) w.u32(dwAlign);
    w.bytes(rgbFM);
    w.bytes(rgbFP);
    w.u8(bSentinel);
    w.u8(bCryptMethod);
    w.u16(rgbReserved);
    if (f == Flavour::Unicode) {
        w.u64(bidNextB);
        w.u32(0);  // dwCRCFull, below
    } else {
        w.u64(ullReserved);
        w.u32(dwReserved);
    }
    w.bytes(rgbReserved2);
    w.u8(bReserved);
    w.bytes(rgbReserved3);
    Bytes out = w.take();
    (void)putLE32(out, header::kCrcPartialOffset, headerCrcPartial(out));
    if (f == Flavour::Unicode) (void)putLE32(out, header::kCrcFullOffset, headerCrcFull(out));
    return out;
}

// ---- PAGETRAILER ([MS-PST] 2.2.2.7.1) ----

std::optional<PageTrailer> PageTrailer::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    PageTrailer t;
    t.ptype = r.u8();
    t.ptypeRepeat = r.u8();
    t.wSig = r.u16();
    if (f == Flavour::Unicode) {
        t.dwCRC = r.u32();
        t.bid = r.u64();
    } else {
        t.bid = r.u32();
        t.dwCRC = r.u32();
    }
    if (!r.ok()) return std::nullopt;
    return t;
}

std::optional<PageTrailer> PageTrailer::decodeFromPage(ByteSpan page, Flavour f) {
    if (page.size() != kPageSize) return std::nullopt;
    return decode(page.subspan(pageDataSize(f)), f);
}

bool PageTrailer::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < pageTrailerSize(f)) return false;
    out[0] = ptype;
    out[1] = ptypeRepeat;
    (void)putLE16(out, 2, wSig);
    if (f == Flavour::Unicode) return putLE32(out, 4, dwCRC) && putLE64(out, 8, bid);
    return putLE32(out, 4, static_cast<uint32_t>(bid)) && putLE32(out, 8, dwCRC);
}

uint16_t pageSignature(uint8_t ptype, uint64_t ib, uint64_t bid) {
    switch (ptype) {
        case ptypeBBT: case ptypeNBT: case ptypeDL: return computeSig(ib, bid);
        default: return 0;
    }
}

uint32_t pageCrc(ByteSpan page, Flavour f) {
    if (page.size() < pageDataSize(f)) return 0;
    return computeCrc(page.first(pageDataSize(f)));
}

bool sealPage(MutableByteSpan page, uint8_t ptype, uint64_t bid, uint64_t ib, Flavour f) {
    if (page.size() != kPageSize) return false;
    PageTrailer t;
    t.ptype = t.ptypeRepeat = ptype;
    t.wSig = pageSignature(ptype, ib, bid);
    t.dwCRC = pageCrc(page, f);
    t.bid = bid;
    return t.encode(page.subspan(pageDataSize(f)), f);
}

// ---- BTPAGE ([MS-PST] 2.2.2.7.7.1) and its entries ----

std::optional<BTPageInfo> BTPageInfo::decode(ByteSpan page, Flavour f) {
    if (page.size() != kPageSize) return std::nullopt;
    ByteReader r(page.subspan(entriesSize(f)));
    BTPageInfo v;
    v.cEnt = r.u8();
    v.cEntMax = r.u8();
    v.cbEnt = r.u8();
    v.cLevel = r.u8();
    if (f == Flavour::Unicode) v.dwPadding = r.u32();
    if (!r.ok()) return std::nullopt;
    return v;
}

bool BTPageInfo::encode(MutableByteSpan page, Flavour f) const {
    if (page.size() != kPageSize) return false;
    const uint32_t at = entriesSize(f);
    page[at] = cEnt;
    page[at + 1] = cEntMax;
    page[at + 2] = cbEnt;
    page[at + 3] = cLevel;
    return f == Flavour::Ansi || putLE32(page, at + 4, dwPadding);
}

std::optional<BTEntry> BTEntry::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    BTEntry e;
    e.btkey = readId(r, f);
    e.bref.bid = readId(r, f);
    e.bref.ib = readId(r, f);
    if (!r.ok()) return std::nullopt;
    return e;
}

bool BTEntry::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < size(f)) return false;
    return putId(out, 0, btkey, f) && bref.encode(out.subspan(idSize(f)), f);
}

std::optional<BBTEntry> BBTEntry::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    BBTEntry e;
    e.bref.bid = readId(r, f);
    e.bref.ib = readId(r, f);
    e.cb = r.u16();
    e.cRef = r.u16();
    if (f == Flavour::Unicode) e.dwPadding = r.u32();
    if (!r.ok()) return std::nullopt;
    return e;
}

bool BBTEntry::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < size(f)) return false;
    const uint32_t at = Bref::size(f);
    if (!bref.encode(out, f) || !putLE16(out, at, cb) || !putLE16(out, at + 2, cRef)) return false;
    return f == Flavour::Ansi || putLE32(out, at + 4, dwPadding);
}

std::optional<NBTEntry> NBTEntry::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    NBTEntry e;
    e.nid = readId(r, f);
    e.bidData = readId(r, f);
    e.bidSub = readId(r, f);
    e.nidParent = r.u32();
    if (f == Flavour::Unicode) e.dwPadding = r.u32();
    if (!r.ok()) return std::nullopt;
    return e;
}

bool NBTEntry::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < size(f)) return false;
    const uint32_t w = idSize(f);
    if (!putId(out, 0, nid, f) || !putId(out, w, bidData, f) || !putId(out, 2 * w, bidSub, f) ||
        !putLE32(out, 3 * w, nidParent))
        return false;
    return f == Flavour::Ansi || putLE32(out, 3 * w + 4, dwPadding);
}

// ---- BLOCKTRAILER ([MS-PST] 2.2.2.8.1) ----

std::optional<BlockTrailer> BlockTrailer::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    BlockTrailer t;
    t.cb = r.u16();
    t.wSig = r.u16();
    if (f == Flavour::Unicode) {
        t.dwCRC = r.u32();
        t.bid = r.u64();
    } else {
        t.bid = r.u32();
        t.dwCRC = r.u32();
    }
    if (!r.ok()) return std::nullopt;
    return t;
}

bool BlockTrailer::encode(MutableByteSpan out, Flavour f) const {
    if (out.size() < blockTrailerSize(f)) return false;
    (void)putLE16(out, 0, cb);
    (void)putLE16(out, 2, wSig);
    if (f == Flavour::Unicode) return putLE32(out, 4, dwCRC) && putLE64(out, 8, bid);
    return putLE32(out, 4, static_cast<uint32_t>(bid)) && putLE32(out, 8, dwCRC);
}

Bytes buildBlock(ByteSpan storedData, uint64_t bid, uint64_t ib, Flavour f) {
    if (storedData.size() > maxBlockData(f)) return {};
    const uint32_t cb = static_cast<uint32_t>(storedData.size());
    Bytes out(blockAllocSize(cb, f), 0);
    std::copy(storedData.begin(), storedData.end(), out.begin());
    BlockTrailer t;
    t.cb = static_cast<uint16_t>(cb);
    t.wSig = computeSig(ib, bid);
    t.dwCRC = computeCrc(storedData);
    t.bid = bid;
    (void)t.encode(MutableByteSpan(out).subspan(out.size() - blockTrailerSize(f)), f);
    return out;
}

// ---- Internal blocks ([MS-PST] 2.2.2.8.3) ----

std::optional<InternalBlockHead> InternalBlockHead::decode(ByteSpan s) {
    ByteReader r(s);
    InternalBlockHead h;
    h.btype = r.u8();
    h.cLevel = r.u8();
    h.cEnt = r.u16();
    if (!r.ok()) return std::nullopt;
    return h;
}

Result<XBlock> XBlock::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    XBlock x;
    x.btype = r.u8();
    x.cLevel = r.u8();
    const uint16_t cEnt = r.u16();
    x.lcbTotal = r.u32();
    if (!r.ok()) return corrupt("XBLOCK: truncated header");
    if (x.btype != btypeXBlock) return corrupt("XBLOCK: btype " + std::to_string(x.btype) + " is not 0x01");
    if (x.cLevel != 1 && x.cLevel != 2) return corrupt("XBLOCK: cLevel " + std::to_string(x.cLevel) + " is not 1 or 2");
    if (uint64_t(cEnt) * idSize(f) > r.remaining())
        return corrupt("XBLOCK: " + std::to_string(cEnt) + " entries do not fit " + std::to_string(s.size()) + " bytes");
    x.rgbid.reserve(cEnt);
    for (uint32_t i = 0; i < cEnt; ++i) x.rgbid.push_back(readId(r, f));
    return x;
}

Bytes XBlock::encode(Flavour f) const {
    if (rgbid.size() > xblockMaxEntries(f)) return {};
    ByteWriter w(8 + rgbid.size() * idSize(f));
    w.u8(btype);
    w.u8(cLevel);
    w.u16(static_cast<uint16_t>(rgbid.size()));
    w.u32(lcbTotal);
    for (auto b : rgbid) writeId(w, b, f);
    return w.take();
}

namespace {
// Reads the head of an SLBLOCK/SIBLOCK and checks btype, cLevel and that
// cEnt entries of `entrySize` fit.
Result<uint16_t> subnodeHead(ByteReader& r, uint8_t level, uint32_t entrySize, Flavour f, uint32_t& padding,
                             const char* name) {
    const uint8_t btype = r.u8();
    const uint8_t cLevel = r.u8();
    const uint16_t cEnt = r.u16();
    if (f == Flavour::Unicode) padding = r.u32();
    if (!r.ok()) return corrupt(std::string(name) + ": truncated header");
    if (btype != btypeSLBlock) return corrupt(std::string(name) + ": btype " + std::to_string(btype) + " is not 0x02");
    if (cLevel != level) return corrupt(std::string(name) + ": cLevel " + std::to_string(cLevel) + " is not " + std::to_string(level));
    if (uint64_t(cEnt) * entrySize > r.remaining())
        return corrupt(std::string(name) + ": " + std::to_string(cEnt) + " entries do not fit the block");
    return cEnt;
}
}  // namespace

Result<SLBlock> SLBlock::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    SLBlock b;
    auto n = subnodeHead(r, 0, SLEntry::size(f), f, b.dwPadding, "SLBLOCK");
    if (!n) return std::move(n).error();
    b.entries.reserve(*n);
    for (uint32_t i = 0; i < *n; ++i) {
        SLEntry e;
        e.nid = readId(r, f);
        e.bidData = readId(r, f);
        e.bidSub = readId(r, f);
        b.entries.push_back(e);
    }
    return b;
}

Bytes SLBlock::encode(Flavour f) const {
    if (entries.size() > slblockMaxEntries(f)) return {};
    ByteWriter w(subnodeBlockHeadSize(f) + entries.size() * SLEntry::size(f));
    w.u8(btypeSLBlock);
    w.u8(0);
    w.u16(static_cast<uint16_t>(entries.size()));
    if (f == Flavour::Unicode) w.u32(dwPadding);
    for (const auto& e : entries) {
        writeId(w, e.nid, f);
        writeId(w, e.bidData, f);
        writeId(w, e.bidSub, f);
    }
    return w.take();
}

Result<SIBlock> SIBlock::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    SIBlock b;
    auto n = subnodeHead(r, 1, SIEntry::size(f), f, b.dwPadding, "SIBLOCK");
    if (!n) return std::move(n).error();
    b.entries.reserve(*n);
    for (uint32_t i = 0; i < *n; ++i) {
        SIEntry e;
        e.nid = readId(r, f);
        e.bid = readId(r, f);
        b.entries.push_back(e);
    }
    return b;
}

Bytes SIBlock::encode(Flavour f) const {
    if (entries.size() > siblockMaxEntries(f)) return {};
    ByteWriter w(subnodeBlockHeadSize(f) + entries.size() * SIEntry::size(f));
    w.u8(btypeSLBlock);
    w.u8(1);
    w.u16(static_cast<uint16_t>(entries.size()));
    if (f == Flavour::Unicode) w.u32(dwPadding);
    for (const auto& e : entries) {
        writeId(w, e.nid, f);
        writeId(w, e.bid, f);
    }
    return w.take();
}

// ---- Map pages ([MS-PST] 2.2.2.7.2 - 2.2.2.7.6) ----

std::optional<MapPage> MapPage::decode(ByteSpan page, Flavour f) {
    if (page.size() != kPageSize) return std::nullopt;
    MapPage m;
    if (f == Flavour::Ansi) m.dwPadding = store::loadLE32(page.data());
    auto bits = page.subspan(mapBitsOffset(f), kAMapBytes);
    std::copy(bits.begin(), bits.end(), m.rgb.begin());
    return m;
}

bool MapPage::encode(MutableByteSpan page, Flavour f) const {
    if (page.size() != kPageSize) return false;
    if (f == Flavour::Ansi) (void)putLE32(page, 0, dwPadding);
    return store::putBytes(page, mapBitsOffset(f), rgb);
}

std::array<uint8_t, kPageSize> MapPage::sealed(const std::array<uint8_t, kAMapBytes>& rgb, uint8_t ptype, uint64_t ib) {
    std::array<uint8_t, kPageSize> page{};
    MapPage m;
    m.rgb = rgb;
    (void)m.encode(page);
    (void)sealPage(page, ptype, ib, ib);
    return page;
}

std::array<uint8_t, kAMapBytes> MapPage::allSet() {
    std::array<uint8_t, kAMapBytes> rgb;
    rgb.fill(0xFF);
    return rgb;
}

// ---- DList ([MS-PST] 2.2.2.7.4) ----

Result<DListPage> DListPage::decode(ByteSpan page) {
    if (page.size() != kPageSize) return corrupt("DList: not a whole page");
    ByteReader r(page);
    DListPage d;
    d.bFlags = r.u8();
    const uint8_t cEnt = r.u8();
    d.wPadding = r.u16();
    d.ulCurrentPage = r.u32();
    if (cEnt > kMaxEntries) return corrupt("DList: cEntDList " + std::to_string(cEnt) + " exceeds 119");
    for (uint32_t i = 0; i < cEnt; ++i) {
        const uint32_t v = r.u32();
        d.entries.push_back(DListEntry{v & 0xFFFFF, static_cast<uint16_t>(v >> 20)});
    }
    return d;
}

bool DListPage::encode(MutableByteSpan page) const {
    if (page.size() != kPageSize || entries.size() > kMaxEntries) return false;
    putU8(page, 0, bFlags);
    putU8(page, 1, static_cast<uint8_t>(entries.size()));
    (void)putLE16(page, 2, wPadding);
    (void)putLE32(page, 4, ulCurrentPage);
    for (size_t i = 0; i < entries.size(); ++i)
        (void)putLE32(page, 8 + 4 * i, (entries[i].dwPageNum & 0xFFFFF) | (uint32_t(entries[i].dwFreeSlots & 0xFFF) << 20));
    return true;
}

}  // namespace tavrin::pst::ndb
