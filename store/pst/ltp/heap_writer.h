// Writers for the lists, tables and properties layer ([MS-PST] 2.3):
// heap-on-node and BTree-on-heap.
//
// HeapWriter lays out a heap-on-node (2.3.1) page by page: allocations are
// packed into the current data block until the next one does not fit, then
// the block is closed with its HNPAGEMAP and a new one begins; a closed
// block is padded with zeros to 8176 bytes, as Outlook pads every block of
// a heap but the last (the free space goes after the page map). Block 0
// starts with the HNHDR, blocks 8, 136, 264, ... with an HNBITMAPHDR and
// the others with an HNPAGEHDR. Those headers hold fill levels of blocks
// that come later, so in streaming mode (a block sink given) every closed
// block is handed on at once except these header blocks, which stay in
// memory until finish(); in memory mode every block stays.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ltp/records.h"

namespace tavrin::pst::ltp {

// Bytes of one heap block: the largest cb of a Unicode block.
inline constexpr uint32_t kHeapBlockSize = 8176;

class HeapWriter {
public:
    // Called with each closed block not kept in memory, in block order.
    using BlockSink = std::function<Status(uint32_t index, Bytes&& block)>;

    explicit HeapWriter(uint8_t clientSig, BlockSink sink = nullptr);

    // A new allocation holding `data` (at most 3580 bytes); its HID.
    Result<uint32_t> allocate(ByteSpan data);
    // An allocation of `size` zero bytes to be filled by patch().
    Result<uint32_t> reserve(size_t size);
    // Overwrites bytes of an allocation that is still in memory.
    Status patch(uint32_t hid, size_t offset, ByteSpan data);
    void setUserRoot(uint32_t hid) { userRoot_ = hid; }

    // Closes the last block and fills in the headers. Returns the blocks
    // still in memory, in block order: every block in memory mode, the
    // header blocks in streaming mode.
    Result<std::vector<std::pair<uint32_t, Bytes>>> finish();

    // Where an allocation lies in its block (valid after finish()).
    struct Location {
        uint32_t block = 0;
        size_t offset = 0;
    };
    Result<Location> locate(uint32_t hid) const;
    uint32_t blockCount() const { return current_ + 1; }

private:
    bool kept(uint32_t block) const;
    void openBlock();
    Status closeBlock(bool last);
    Result<uint32_t> place(size_t size, const uint8_t* data);

    struct Block {
        Bytes bytes;                  // header space + allocations (open), whole block (closed)
        std::vector<uint16_t> starts;  // allocation offsets
        bool closed = false;
    };

    uint8_t clientSig_;
    BlockSink sink_;
    uint32_t userRoot_ = 0;
    uint32_t current_ = 0;
    Block open_;
    std::map<uint32_t, Block> keptBlocks_;
    std::vector<uint8_t> fill_;  // fill level of each closed block
    bool finished_ = false;
};

// A BTree-on-heap ([MS-PST] 2.3.2) built from records in ascending key
// order. The constructor allocates the BTHHEADER. When the number of
// records is known and they fit one leaf, reserveLeaf() allocates that leaf
// early (Outlook puts it right after the headers of a small heap);
// otherwise each leaf is allocated when full and the index levels are
// added by finish().
class BthWriter {
public:
    BthWriter(HeapWriter& heap, uint8_t cbKey, uint8_t cbEnt);
    void reserveLeaf(size_t expectedRecords);
    uint32_t headerHid() const { return header_; }
    // key is cbKey little-endian bytes of `key`; `data` is cbEnt bytes.
    Status add(uint64_t key, ByteSpan data);
    // Writes the remaining leaf and the index levels, then the header.
    Status finish();
    // Where record i lies: the HID of its leaf and its offset there (valid
    // after finish()).
    std::pair<uint32_t, size_t> recordLocation(size_t i) const;
    Status status() const { return error_; }

private:
    Status flushLeaf();

    HeapWriter& heap_;
    uint8_t cbKey_, cbEnt_;
    uint32_t header_ = 0;
    uint32_t reservedLeaf_ = 0;
    size_t reservedCount_ = 0;
    size_t count_ = 0;
    Bytes leaf_;
    uint64_t leafFirstKey_ = 0;
    std::vector<std::pair<uint64_t, uint32_t>> leaves_;  // first key, hid
    bool any_ = false;
    uint64_t lastKey_ = 0;
    Status error_;
};

}  // namespace tavrin::pst::ltp
