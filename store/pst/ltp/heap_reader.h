// Reading a heap-on-node ([MS-PST] 2.3.1) and a BTree-on-heap ([MS-PST]
// 2.3.2) from a node's data blocks. Lookups check every offset against the
// block they fall in; the BTree walk visits each allocation at most once,
// so a looping or shared index cannot make it run away.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ltp/records.h"

namespace tavrin::pst::ltp {

class Heap {
public:
    // Takes the node's data blocks (block i holds the HIDs with
    // hidBlockIndex i). Fails when block 0 has no HNHDR with bSig 0xEC or a
    // page map does not fit its block.
    static Result<Heap> open(std::vector<Bytes> blocks);

    uint8_t clientSig() const { return hdr_.bClientSig; }
    uint32_t userRoot() const { return hdr_.hidUserRoot; }
    const HNHDR& header() const { return hdr_; }
    size_t blockCount() const { return blocks_.size(); }
    ByteSpan block(size_t i) const { return blocks_[i]; }
    const HNPAGEMAP& pageMap(size_t i) const { return maps_[i]; }
    uint16_t pageMapOffset(size_t i) const { return ibHnpm_[i]; }

    // The bytes of an allocation. Fails on a HID with a non-zero hidType,
    // a block or index out of range, or offsets that do not lie in order
    // inside the block.
    Result<ByteSpan> get(uint32_t hid) const;

private:
    HNHDR hdr_;
    std::vector<Bytes> blocks_;
    std::vector<HNPAGEMAP> maps_;
    std::vector<uint16_t> ibHnpm_;
};

// One record of a BTree-on-heap: spans into the heap's blocks.
struct BthRecord {
    ByteSpan key;
    ByteSpan data;
};

// Deepest BTree-on-heap accepted.
inline constexpr uint8_t kMaxBthLevels = 8;

class Bth {
public:
    // The BTHHEADER at `hid`. Fails on a wrong bType, a cbKey other than 2,
    // 4, 8 or 16, a cbEnt outside 1..32 or too many index levels.
    static Result<Bth> open(const Heap& heap, uint32_t hid);

    const BTHHEADER& header() const { return hdr_; }
    // Every leaf record in key order as stored (the walk does not sort).
    // Fails when a record array is not a whole number of records or an
    // allocation is reached twice.
    Result<std::vector<BthRecord>> records() const;
    // The HIDs of every record array (index and leaf levels).
    Result<std::vector<uint32_t>> allocations() const;

private:
    Result<std::vector<BthRecord>> walk(std::vector<uint32_t>* hids) const;
    const Heap* heap_ = nullptr;
    BTHHEADER hdr_;
};

// The little-endian integer value of a key of 2, 4, 8 (or the first 8 of
// 16) bytes.
uint64_t bthKeyValue(ByteSpan key);

}  // namespace tavrin::pst::ltp
