// On-disk records of the PST lists, tables and properties layer
// ([MS-PST] 2.3): the heap-on-node, the BTree-on-heap, property contexts and
// table contexts. Plain values with field-by-field decode() and encode(),
// like the node database records in store/pst/ndb/records.h, which this
// layer builds on.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ltp {

using ndb::Flavour;
using store::Bytes;
using store::ByteSpan;
using store::MutableByteSpan;

// ---- HID ([MS-PST] 2.3.1.1) ----
// hidType (5 bits, 0), hidIndex (11 bits, 1-based slot in the block's page
// map), hidBlockIndex (16 bits, which block of the node's data).
constexpr uint8_t hidType(uint32_t hid) { return static_cast<uint8_t>(hid & 0x1F); }
constexpr uint32_t hidIndex(uint32_t hid) { return (hid >> 5) & 0x7FF; }
constexpr uint32_t hidBlockIndex(uint32_t hid) { return hid >> 16; }
constexpr uint32_t makeHid(uint32_t blockIndex, uint32_t index) { return (blockIndex << 16) | ((index & 0x7FF) << 5); }
// [MS-PST] 2.3.3.2 HNID: a HID when its NID type is NID_TYPE_HID, else the
// NID of a subnode.
constexpr bool hnidIsHid(uint32_t hnid) { return (hnid & 0x1F) == ndb::NID_TYPE_HID; }

// ---- Heap-on-node ([MS-PST] 2.3.1) ----
inline constexpr uint8_t kHeapSig = 0xEC;          // HNHDR bSig
inline constexpr uint8_t bTypeTC = 0x7C;           // table context
inline constexpr uint8_t bTypeBTH = 0xB5;          // BTree-on-heap
inline constexpr uint8_t bTypePC = 0xBC;           // property context
inline constexpr uint32_t kMaxHeapAlloc = 3580;    // largest single allocation
inline constexpr uint32_t kFillLevelBlocksInHeader = 8;
inline constexpr uint32_t kFillLevelBlocksInBitmap = 128;

// [MS-PST] 2.3.1.2 HNHDR, at the start of a heap's first block.
struct HNHDR {
    uint16_t ibHnpm = 0;
    uint8_t bSig = kHeapSig;
    uint8_t bClientSig = 0;
    uint32_t hidUserRoot = 0;
    std::array<uint8_t, 4> rgbFillLevel{};  // blocks 0-7, 4 bits each, block 0 low nibble

    static constexpr uint32_t kSize = 12;
    static std::optional<HNHDR> decode(ByteSpan s);
    bool encode(MutableByteSpan out) const;
    bool operator==(const HNHDR&) const = default;
};

// [MS-PST] 2.3.1.3 HNPAGEHDR, at the start of every other block, except:
struct HNPAGEHDR {
    uint16_t ibHnpm = 0;
    static constexpr uint32_t kSize = 2;
    static std::optional<HNPAGEHDR> decode(ByteSpan s);
    bool encode(MutableByteSpan out) const;
    bool operator==(const HNPAGEHDR&) const = default;
};

// [MS-PST] 2.3.1.4 HNBITMAPHDR, at the start of block 8 and every 128th
// block after it; it holds the fill levels of the 128 blocks from itself.
struct HNBITMAPHDR {
    uint16_t ibHnpm = 0;
    std::array<uint8_t, 64> rgbFillLevel{};
    static constexpr uint32_t kSize = 66;
    static std::optional<HNBITMAPHDR> decode(ByteSpan s);
    bool encode(MutableByteSpan out) const;
    bool operator==(const HNBITMAPHDR&) const = default;
};

enum class HeapBlockKind : uint8_t { First, Page, Bitmap };
constexpr HeapBlockKind heapBlockKind(uint32_t blockIndex) {
    if (blockIndex == 0) return HeapBlockKind::First;
    if (blockIndex >= 8 && (blockIndex - 8) % kFillLevelBlocksInBitmap == 0) return HeapBlockKind::Bitmap;
    return HeapBlockKind::Page;
}
constexpr uint32_t heapBlockHeaderSize(uint32_t blockIndex) {
    switch (heapBlockKind(blockIndex)) {
        case HeapBlockKind::First: return HNHDR::kSize;
        case HeapBlockKind::Bitmap: return HNBITMAPHDR::kSize;
        default: return HNPAGEHDR::kSize;
    }
}

// [MS-PST] 2.3.1.5 HNPAGEMAP at ibHnpm of each block: cAlloc allocations,
// rgibAlloc[cAlloc + 1] start offsets (the last is the end of the last
// allocation); allocation i (1-based HID index) spans
// [rgibAlloc[i-1], rgibAlloc[i]).
struct HNPAGEMAP {
    uint16_t cFree = 0;
    std::vector<uint16_t> rgibAlloc;  // cAlloc + 1 entries

    uint16_t cAlloc() const { return rgibAlloc.empty() ? 0 : static_cast<uint16_t>(rgibAlloc.size() - 1); }
    uint32_t size() const { return 4 + 2 * static_cast<uint32_t>(rgibAlloc.size()); }
    // From a heap block and its ibHnpm. Fails when the map does not fit.
    static Result<HNPAGEMAP> decode(ByteSpan block, uint16_t ibHnpm);
    Bytes encode() const;
    bool operator==(const HNPAGEMAP&) const = default;
};

// [MS-PST] 2.3.1.2 fill levels: a 4-bit class of a block's free bytes.
uint8_t fillLevelFor(uint32_t freeBytes);
// The fill level Outlook gives a heap block whose page map ends at
// `mapEnd`: the free space of a whole block of `blockData` bytes, counted
// without the page map's first four bytes (cAlloc and cFree). Away from a
// class boundary this is fillLevelFor() of the bytes left after the page
// map, as on all 815 heap blocks of the Outlook samples (testPST.pst node
// 0x200044 block 0: 366 bytes left, level 9; testPST_variousBodyTypes.pst
// 0x200084 block 0: 122 left, level 11); near a boundary it is one class
// emptier: Outlook blocks with 8,170 and 8,172 bytes in use (6 and 4 left)
// both carry level 14 (8 to 16 free), not 15.
inline constexpr uint32_t kFillLevelUncountedBytes = 4;
inline uint8_t heapFillLevel(uint32_t mapEnd, uint32_t blockData) {
    return fillLevelFor((mapEnd >= blockData ? 0 : blockData - mapEnd) + kFillLevelUncountedBytes);
}
// The fill level of entry i of an rgbFillLevel array (low nibble first).
constexpr uint8_t getFillLevel(ByteSpan rgb, uint32_t i) {
    return i / 2 < rgb.size() ? static_cast<uint8_t>((rgb[i / 2] >> ((i % 2) * 4)) & 0x0F) : 0;
}
constexpr void setFillLevel(MutableByteSpan rgb, uint32_t i, uint8_t level) {
    if (i / 2 >= rgb.size()) return;
    const unsigned shift = (i % 2) * 4;
    rgb[i / 2] = static_cast<uint8_t>((rgb[i / 2] & ~(0x0Fu << shift)) | ((level & 0x0Fu) << shift));
}

// ---- BTree-on-heap ([MS-PST] 2.3.2) ----

// [MS-PST] 2.3.2.1 BTHHEADER.
struct BTHHEADER {
    uint8_t bType = bTypeBTH;
    uint8_t cbKey = 0;
    uint8_t cbEnt = 0;
    uint8_t bIdxLevels = 0;
    uint32_t hidRoot = 0;

    static constexpr uint32_t kSize = 8;
    static std::optional<BTHHEADER> decode(ByteSpan s);
    bool encode(MutableByteSpan out) const;
    Bytes encode() const;
    bool operator==(const BTHHEADER&) const = default;
};

// ---- Property context ([MS-PST] 2.3.3) ----

// [MS-PST] 2.3.3.3 PC BTH record: key wPropId, data wPropType and
// dwValueHnid (the value itself when it fits 4 bytes, else an HNID).
struct PropEntry {
    uint16_t wPropId = 0;
    uint16_t wPropType = 0;
    uint32_t dwValueHnid = 0;

    static constexpr uint32_t kSize = 8;
    static std::optional<PropEntry> decode(ByteSpan s);
    bool encode(MutableByteSpan out) const;
    bool operator==(const PropEntry&) const = default;
};
// The PC BTH: cbKey 2, cbEnt 6.
inline constexpr uint8_t kPcKeySize = 2, kPcDataSize = 6;
// Types whose value is stored in dwValueHnid itself ([MS-PST] 2.3.3.3).
bool storedInline(uint16_t propType);

// [MS-PST] 2.3.3.5 PtypObject value: the subnode NID and the size of the
// object's data.
struct ObjectRef {
    uint32_t nid = 0;
    uint32_t ulSize = 0;
    static constexpr uint32_t kSize = 8;
    static std::optional<ObjectRef> decode(ByteSpan s);
    Bytes encode() const;
    bool operator==(const ObjectRef&) const = default;
};

// [MS-PST] 2.3.3.4 multi-valued values. Fixed-size elements are back to
// back; variable-size ones are ulCount, rgulDataOffsets[ulCount], data.
Result<std::vector<Bytes>> decodeMultiFixed(ByteSpan s, uint32_t elementSize);
Result<std::vector<Bytes>> decodeMultiVariable(ByteSpan s);
Bytes encodeMultiFixed(const std::vector<Bytes>& values);
Bytes encodeMultiVariable(const std::vector<Bytes>& values);

// ---- Table context ([MS-PST] 2.3.4) ----

// The LTP bookkeeping columns of every table ([MS-PST] 2.3.4.4).
inline constexpr uint32_t PidTagLtpRowId = 0x67F20003;
inline constexpr uint32_t PidTagLtpRowVer = 0x67F30003;

// rgib indices of TCINFO.
inline constexpr uint32_t TCI_4b = 0, TCI_2b = 1, TCI_1b = 2, TCI_bm = 3;

// [MS-PST] 2.3.4.2 TCOLDESC.
struct TCOLDESC {
    uint32_t tag = 0;
    uint16_t ibData = 0;
    uint8_t cbData = 0;
    uint8_t iBit = 0;

    static constexpr uint32_t kSize = 8;
    static std::optional<TCOLDESC> decode(ByteSpan s);
    // The next kSize bytes of r (zeros past its end; r.ok() tells).
    static TCOLDESC read(store::ByteReader& r);
    bool encode(MutableByteSpan out) const;
    bool operator==(const TCOLDESC&) const = default;
};

// [MS-PST] 2.3.4.1 TCINFO.
struct TCINFO {
    uint8_t bType = bTypeTC;
    std::array<uint16_t, 4> rgib{};
    uint32_t hidRowIndex = 0;
    uint32_t hnidRows = 0;
    uint32_t hidIndex = 0;
    std::vector<TCOLDESC> cols;  // cCols

    static constexpr uint32_t kHeadSize = 22;
    uint32_t size() const { return kHeadSize + TCOLDESC::kSize * static_cast<uint32_t>(cols.size()); }
    uint16_t rowSize() const { return rgib[TCI_bm]; }
    // Fails on a wrong bType or columns that do not fit.
    static Result<TCINFO> decode(ByteSpan s);
    Bytes encode() const;
    bool operator==(const TCINFO&) const = default;
};

// [MS-PST] 2.3.4.3.1 TCROWID, the row index BTH record: dwRowID key and
// dwRowIndex (4 bytes in Unicode files, 2 in ANSI ones).
struct TCROWID {
    uint32_t dwRowID = 0;
    uint32_t dwRowIndex = 0;
    static constexpr uint32_t size(Flavour f) { return f == Flavour::Unicode ? 8 : 6; }
    static std::optional<TCROWID> decode(ByteSpan s, Flavour f = Flavour::Unicode);
    bool encode(MutableByteSpan out, Flavour f = Flavour::Unicode) const;
    bool operator==(const TCROWID&) const = default;
};

// [MS-PST] 2.3.4.4 row matrix: rows never straddle blocks, so a block of
// the row matrix holds this many rows.
constexpr uint32_t rowsPerBlock(uint32_t rowSize, Flavour f) { return rowSize ? ndb::maxBlockData(f) / rowSize : 0; }
// The cell existence bit of column `iBit` in a row whose CEB starts at
// rgib[TCI_1b] ([MS-PST] 2.3.4.4.1: MSB first).
constexpr bool cebBit(ByteSpan row, uint16_t cebOffset, uint8_t iBit) {
    const uint32_t at = cebOffset + iBit / 8u;
    return at < row.size() && (row[at] & (0x80u >> (iBit % 8))) != 0;
}
constexpr void setCebBit(MutableByteSpan row, uint16_t cebOffset, uint8_t iBit, bool on) {
    const uint32_t at = cebOffset + iBit / 8u;
    if (at >= row.size()) return;
    if (on) row[at] = static_cast<uint8_t>(row[at] | (0x80u >> (iBit % 8)));
    else row[at] = static_cast<uint8_t>(row[at] & ~(0x80u >> (iBit % 8)));
}

}  // namespace tavrin::pst::ltp
