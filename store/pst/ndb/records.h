// On-disk records of the PST node database ([MS-PST] 2.2), decoded and
// encoded field by field. Each record is a plain value: decode() reads it
// from a span (nullopt or an Error when the span is too short or the record
// is not what it claims to be) and encode() writes it, little-endian, into a
// span or a new buffer. Nothing here casts file bytes to a struct, and
// nothing reads the file: the reader, the verifier and the writer put their
// own I/O around these functions.
//
// Both flavours are decoded: Unicode (wVer 23; 64-bit BIDs and offsets) and
// ANSI (wVer 14/15; 32-bit). Every record also encodes in both flavours, so
// tests can build small files of either kind.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ndb/format.h"

namespace tavrin::pst::ndb {

using store::Bytes;
using store::ByteSpan;
using store::MutableByteSpan;

// "0x1a2b": how messages show offsets, BIDs and NIDs.
std::string hex(uint64_t v);

// The two on-disk flavours of [MS-PST] 2.1.
enum class Flavour : uint8_t { Unicode, Ansi };

// Bytes of a BID, an IB or a BREF half.
constexpr uint32_t idSize(Flavour f) { return f == Flavour::Unicode ? 8 : 4; }
// [MS-PST] 2.2.2.7.1 PAGETRAILER size and the bytes of a page before it.
constexpr uint32_t pageTrailerSize(Flavour f) { return f == Flavour::Unicode ? kPageTrailerSize : kAnsiPageTrailerSize; }
constexpr uint32_t pageDataSize(Flavour f) { return kPageSize - pageTrailerSize(f); }
// [MS-PST] 2.2.2.8.1 BLOCKTRAILER size, and the largest cb of one block.
constexpr uint32_t blockTrailerSize(Flavour f) { return f == Flavour::Unicode ? kBlockTrailerSize : kAnsiBlockTrailerSize; }
constexpr uint32_t maxBlockData(Flavour f) { return kMaxBlockSize - blockTrailerSize(f); }
// Bytes a block of `cb` data bytes occupies on disk: data, padding and
// trailer, rounded up to 64 ([MS-PST] 2.2.2.8).
constexpr uint32_t blockAllocSize(uint32_t cb, Flavour f) {
    return (cb + blockTrailerSize(f) + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
}
// Offset of the map bits in an AMap/PMap/FMap/FPMap page: ANSI pages start
// with a 4-byte dwPadding ([MS-PST] 2.2.2.7.2 - 2.2.2.7.6).
constexpr uint32_t mapBitsOffset(Flavour f) { return f == Flavour::Unicode ? 0 : 4; }

// [MS-PST] 2.2.2.4 BREF: a BID and the absolute file offset (IB) of what it
// names.
struct Bref {
    uint64_t bid = 0;
    uint64_t ib = 0;

    static constexpr uint32_t size(Flavour f) { return 2 * idSize(f); }
    static std::optional<Bref> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const Bref&) const = default;
};

// [MS-PST] 2.2.2.5 ROOT (Unicode 72 bytes, ANSI 40 bytes).
struct Root {
    uint32_t dwReserved = 0;
    uint64_t ibFileEof = 0;
    uint64_t ibAMapLast = 0;
    uint64_t cbAMapFree = 0;
    uint64_t cbPMapFree = 0;
    Bref brefNbt;
    Bref brefBbt;
    uint8_t fAMapValid = 0;
    uint8_t bReserved = 0;
    uint16_t wReserved = 0;

    static constexpr uint32_t size(Flavour f) { return f == Flavour::Unicode ? 72 : 40; }
    static std::optional<Root> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const Root&) const = default;
};

// [MS-PST] 2.2.2.6 HEADER. Fields that exist in only one flavour are kept
// (and written back) in that flavour only; the rest of the struct is common.
struct Header {
    Flavour flavour = Flavour::Unicode;
    uint32_t dwMagic = header::kMagic;
    uint32_t dwCRCPartial = 0;
    uint16_t wMagicClient = header::kMagicClient;
    uint16_t wVer = header::kVerUnicode;
    uint16_t wVerClient = header::kVerClient;
    uint8_t bPlatformCreate = header::kPlatform;
    uint8_t bPlatformAccess = header::kPlatform;
    uint32_t dwReserved1 = 0;
    uint32_t dwReserved2 = 0;
    uint64_t bidUnused = 0;          // Unicode only
    uint64_t bidNextP = 0;
    uint64_t bidNextB = 0;
    uint32_t dwUnique = 0;
    std::array<uint32_t, header::kRgnidCount> rgnid{};
    uint64_t qwUnused = 0;           // Unicode only
    Root root;
    uint32_t dwAlign = 0;            // Unicode only
    std::array<uint8_t, 128> rgbFM{};
    std::array<uint8_t, 128> rgbFP{};
    uint8_t bSentinel = header::kSentinel;
    uint8_t bCryptMethod = 0;
    uint16_t rgbReserved = 0;
    uint64_t ullReserved = 0;        // ANSI only
    uint32_t dwReserved = 0;         // ANSI only
    uint32_t dwCRCFull = 0;          // Unicode only
    std::array<uint8_t, 3> rgbReserved2{};
    uint8_t bReserved = 0;
    std::array<uint8_t, 32> rgbReserved3{};

    // The CRCs of the decoded bytes as computed, to compare with the stored
    // dwCRCPartial / dwCRCFull (decode does not reject a mismatch; the
    // caller decides).
    uint32_t computedCrcPartial = 0;
    uint32_t computedCrcFull = 0;    // Unicode only

    // Bytes the header occupies: 564 (Unicode) or 512 (ANSI).
    static constexpr uint32_t size(Flavour f) { return f == Flavour::Unicode ? header::kSize : header::ansiSize; }
    uint32_t size() const { return size(flavour); }
    bool crcPartialOk() const { return computedCrcPartial == dwCRCPartial; }
    bool crcFullOk() const { return flavour == Flavour::Ansi || computedCrcFull == dwCRCFull; }

    // Reads a header from the first bytes of a file. Fails on a wrong
    // dwMagic or wMagicClient, an unsupported wVer, or too few bytes.
    static Result<Header> decode(ByteSpan s);
    // The header bytes with both CRCs computed over the final bytes (the
    // stored dwCRCPartial/dwCRCFull fields are ignored).
    Bytes encode() const;
};

// The ranges covered by the header CRCs ([MS-PST] 2.2.2.6).
uint32_t headerCrcPartial(ByteSpan headerBytes);  // bytes 8..478
uint32_t headerCrcFull(ByteSpan headerBytes);     // bytes 8..523, Unicode

// [MS-PST] 2.2.2.7.1 PAGETRAILER, the last 16 (ANSI 12) bytes of a page.
struct PageTrailer {
    uint8_t ptype = 0;
    uint8_t ptypeRepeat = 0;
    uint16_t wSig = 0;
    uint32_t dwCRC = 0;
    uint64_t bid = 0;

    // Decodes the trailer of a whole 512-byte page.
    static std::optional<PageTrailer> decodeFromPage(ByteSpan page, Flavour f = Flavour::Unicode);
    static std::optional<PageTrailer> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const PageTrailer&) const = default;
};

// The wSig a page of this type carries: 0 for the map pages, ComputeSig(ib,
// bid) for BTree and DList pages ([MS-PST] 2.2.2.7.1).
uint16_t pageSignature(uint8_t ptype, uint64_t ib, uint64_t bid);
// The CRC of a page: over every byte before the trailer.
uint32_t pageCrc(ByteSpan page, Flavour f = Flavour::Unicode);
// Writes the trailer of a 512-byte page whose body is filled in: ptype,
// signature, CRC and BID (for map pages pass the page's own offset as bid).
bool sealPage(MutableByteSpan page, uint8_t ptype, uint64_t bid, uint64_t ib, Flavour f = Flavour::Unicode);

// [MS-PST] 2.2.2.7.7.1 BTPAGE: the fields after rgentries.
struct BTPageInfo {
    uint8_t cEnt = 0;
    uint8_t cEntMax = 0;
    uint8_t cbEnt = 0;
    uint8_t cLevel = 0;
    uint32_t dwPadding = 0;  // Unicode only

    // Offset of cEnt in the page, which is also the size of rgentries.
    static constexpr uint32_t entriesSize(Flavour f) { return f == Flavour::Unicode ? kBTEntriesBytes : 496; }
    // From a whole page.
    static std::optional<BTPageInfo> decode(ByteSpan page, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan page, Flavour f = Flavour::Unicode) const;
    bool operator==(const BTPageInfo&) const = default;
};

// [MS-PST] 2.2.2.7.7.2 BTENTRY (intermediate pages of both B-trees).
struct BTEntry {
    uint64_t btkey = 0;
    Bref bref;

    static constexpr uint32_t size(Flavour f) { return idSize(f) + Bref::size(f); }
    static std::optional<BTEntry> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const BTEntry&) const = default;
};

// [MS-PST] 2.2.2.7.7.3 BBTENTRY (leaf pages of the block B-tree).
struct BBTEntry {
    Bref bref;
    uint16_t cb = 0;
    uint16_t cRef = 0;
    uint32_t dwPadding = 0;  // Unicode only

    static constexpr uint32_t size(Flavour f) { return f == Flavour::Unicode ? 24 : 12; }
    static std::optional<BBTEntry> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const BBTEntry&) const = default;
};

// [MS-PST] 2.2.2.7.7.4 NBTENTRY (leaf pages of the node B-tree). In Unicode
// files the 4-byte NID is zero-extended to 8 bytes; `nid` keeps all of it so
// a verifier can see non-zero upper bytes.
struct NBTEntry {
    uint64_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    uint32_t nidParent = 0;
    uint32_t dwPadding = 0;  // Unicode only

    static constexpr uint32_t size(Flavour f) { return f == Flavour::Unicode ? 32 : 16; }
    static std::optional<NBTEntry> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const NBTEntry&) const = default;
};

// Largest number of entries of each kind a BTree page holds.
constexpr uint32_t btEntryMax(uint32_t cbEnt, Flavour f) { return cbEnt ? BTPageInfo::entriesSize(f) / cbEnt : 0; }

// [MS-PST] 2.2.2.8.1 BLOCKTRAILER.
struct BlockTrailer {
    uint16_t cb = 0;
    uint16_t wSig = 0;
    uint32_t dwCRC = 0;
    uint64_t bid = 0;

    static std::optional<BlockTrailer> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const BlockTrailer&) const = default;
};

// A block as stored: `storedData` (already encoded with the file's crypt
// method if it is an external block), zero padding to 64 bytes with the
// trailer, whose CRC covers the stored data and whose signature is
// ComputeSig(ib, bid). Fails (empty) when the data exceeds maxBlockData.
Bytes buildBlock(ByteSpan storedData, uint64_t bid, uint64_t ib, Flavour f = Flavour::Unicode);

// The first bytes shared by XBLOCK, XXBLOCK, SLBLOCK and SIBLOCK.
struct InternalBlockHead {
    uint8_t btype = 0;
    uint8_t cLevel = 0;
    uint16_t cEnt = 0;
    static std::optional<InternalBlockHead> decode(ByteSpan s);
};

// [MS-PST] 2.2.2.8.3.2.1 XBLOCK (cLevel 1) and 2.2.2.8.3.2.2 XXBLOCK
// (cLevel 2): the BIDs of the data blocks (or XBLOCKs) of a data tree.
struct XBlock {
    uint8_t btype = btypeXBlock;
    uint8_t cLevel = 1;
    uint32_t lcbTotal = 0;
    std::vector<uint64_t> rgbid;  // cEnt entries

    // Fails on a wrong btype, a cLevel other than 1 or 2, or cEnt entries
    // that do not fit the data.
    static Result<XBlock> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    // The block data (without trailer). Empty when there are too many
    // entries for one block.
    Bytes encode(Flavour f = Flavour::Unicode) const;
    bool operator==(const XBlock&) const = default;
};
// Largest number of BIDs in one XBLOCK/XXBLOCK.
constexpr uint32_t xblockMaxEntries(Flavour f) { return (maxBlockData(f) - 8) / idSize(f); }

// [MS-PST] 2.2.2.8.3.3.1.1 SLENTRY / 2.2.2.8.3.3.2.1 SIENTRY.
struct SLEntry {
    uint64_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    static constexpr uint32_t size(Flavour f) { return 3 * idSize(f); }
    bool operator==(const SLEntry&) const = default;
};
struct SIEntry {
    uint64_t nid = 0;
    uint64_t bid = 0;
    static constexpr uint32_t size(Flavour f) { return 2 * idSize(f); }
    bool operator==(const SIEntry&) const = default;
};

// Header bytes of an SLBLOCK/SIBLOCK before the entries: btype, cLevel,
// cEnt and, in Unicode, dwPadding.
constexpr uint32_t subnodeBlockHeadSize(Flavour f) { return f == Flavour::Unicode ? 8 : 4; }

// [MS-PST] 2.2.2.8.3.3.1 SLBLOCK (cLevel 0): the subnodes of a node.
struct SLBlock {
    uint32_t dwPadding = 0;
    std::vector<SLEntry> entries;
    static Result<SLBlock> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    Bytes encode(Flavour f = Flavour::Unicode) const;
    bool operator==(const SLBlock&) const = default;
};
// [MS-PST] 2.2.2.8.3.3.2 SIBLOCK (cLevel 1): SLBLOCKs by first NID.
struct SIBlock {
    uint32_t dwPadding = 0;
    std::vector<SIEntry> entries;
    static Result<SIBlock> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    Bytes encode(Flavour f = Flavour::Unicode) const;
    bool operator==(const SIBlock&) const = default;
};
constexpr uint32_t slblockMaxEntries(Flavour f) { return (maxBlockData(f) - subnodeBlockHeadSize(f)) / SLEntry::size(f); }
constexpr uint32_t siblockMaxEntries(Flavour f) { return (maxBlockData(f) - subnodeBlockHeadSize(f)) / SIEntry::size(f); }

// Allocation map pages ([MS-PST] 2.2.2.7.2 - 2.2.2.7.6): AMap, PMap, FMap
// and FPMap all carry 496 bytes of map data (bits, or bytes for the FMap).
struct MapPage {
    uint32_t dwPadding = 0;  // ANSI only
    std::array<uint8_t, kAMapBytes> rgb{};
    static std::optional<MapPage> decode(ByteSpan page, Flavour f = Flavour::Unicode);
    // Writes the body into a 512-byte page (the trailer is sealPage's job).
    bool encode(MutableByteSpan page, Flavour f = Flavour::Unicode) const;
    bool operator==(const MapPage&) const = default;
    // A whole Unicode map page: these map bytes and a trailer whose BID is
    // the page's own offset `ib`.
    static std::array<uint8_t, kPageSize> sealed(const std::array<uint8_t, kAMapBytes>& rgb, uint8_t ptype,
                                                 uint64_t ib);
    // Map bytes with every bit set (a new PMap, an FPMap).
    static std::array<uint8_t, kAMapBytes> allSet();
};

// AMap bit helpers: bit i (MSB first within each byte) stands for the 64
// bytes at section start + 64 * i.
constexpr bool mapBit(const std::array<uint8_t, kAMapBytes>& rgb, uint32_t i) {
    return (rgb[i / 8] & (0x80u >> (i % 8))) != 0;
}
constexpr void setMapBit(std::array<uint8_t, kAMapBytes>& rgb, uint32_t i, bool on) {
    if (on) rgb[i / 8] = uint8_t(rgb[i / 8] | (0x80u >> (i % 8)));
    else rgb[i / 8] = uint8_t(rgb[i / 8] & ~(0x80u >> (i % 8)));
}

// Where the map pages are ([MS-PST] 2.2.2.7.2 - 2.2.2.7.6). Section k is the
// k-th AMap section; it starts with its AMap page.
constexpr uint64_t amapOffset(uint64_t k) { return kFirstAMapOffset + k * kAMapCoverage; }
constexpr bool sectionHasPMap(uint64_t k) { return k % kAMapsPerPMap == 0; }
constexpr uint64_t pmapOffset(uint64_t k) { return amapOffset(k) + kPageSize; }
constexpr bool sectionHasFMap(uint64_t k) { return k >= kFMapFirstSection && (k - kFMapFirstSection) % kAMapsPerFMap == 0; }
constexpr uint64_t fmapOffset(uint64_t k) { return amapOffset(k) + 2 * kPageSize; }
constexpr bool sectionHasFPMap(uint64_t k) { return k >= kFPMapFirstSection && (k - kFPMapFirstSection) % kAMapsPerFPMap == 0; }
// The FPMap sections are never FMap sections (8192 % 496 = 256), so the
// FPMap takes the page right after the PMap.
constexpr uint64_t fpmapOffset(uint64_t k) { return amapOffset(k) + 2 * kPageSize; }

// [MS-PST] 2.2.2.7.4.1 DLISTPAGEENT: dwPageNum in the low 20 bits,
// dwFreeSlots in the high 12.
struct DListEntry {
    uint32_t dwPageNum = 0;
    uint16_t dwFreeSlots = 0;
    bool operator==(const DListEntry&) const = default;
};
// [MS-PST] 2.2.2.7.4.2 DLISTPAGE body (Unicode).
struct DListPage {
    uint8_t bFlags = 0;
    uint16_t wPadding = 0;
    uint32_t ulCurrentPage = 0;
    std::vector<DListEntry> entries;  // cEntDList of them
    static constexpr uint8_t kBackfillComplete = 0x01;  // DFL_BACKFILL_COMPLETE
    static constexpr uint32_t kMaxEntries = 119;
    static Result<DListPage> decode(ByteSpan page);
    bool encode(MutableByteSpan page) const;
    bool operator==(const DListPage&) const = default;
};

}  // namespace tavrin::pst::ndb
