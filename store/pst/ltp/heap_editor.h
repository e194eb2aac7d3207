// Changing the heaps, BTrees-on-heap, property contexts and table contexts
// of an existing PST ([MS-PST] 2.3) through the node database updater.
//
// Blocks are copied on write: a heap block that changes is written anew
// (the unchanged ones keep their BIDs, referenced once more by the new data
// tree) and the node gets the new data tree from the caller (setNode). The
// layout stays Outlook's ([MS-PST] 2.3.1, 2.3.4.4):
// - allocations keep their HIDs; a block is written with its allocations
//   packed in slot order from its header on, the page map right after the
//   last one, and zeros to 8176 bytes when another block follows; a freed
//   allocation is a zero-length slot counted in cFree;
// - new allocations go into the last block, or a new block after it (never
//   back into an earlier block); an allocation that outgrows its block
//   moves (a new HID);
// - fill levels are kept in HNHDR and HNBITMAPHDR as the heap writer
//   computes them;
// - a record array of a BTree-on-heap holds at most 3580 bytes; a full one
//   is split, keeping the first part full, and index levels are added above
//   the root when it splits;
// - table rows are added to the row matrix, which moves from the heap to a
//   subnode of whole rows per 8176-byte block once it outgrows one heap
//   allocation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/props.h"
#include "store/pst/ltp/records.h"
#include "store/pst/ndb/ndb_update.h"

namespace tavrin::pst::ltp {

class HeapEditor {
public:
    // The heap of a node's data tree; its blocks are read when first needed.
    static Result<HeapEditor> open(ndb::NdbUpdater& ndb, uint64_t bidData);

    uint8_t clientSig() const { return clientSig_; }
    uint32_t userRoot() const { return userRoot_; }
    void setUserRoot(uint32_t hid);

    // An allocation's bytes (a copy).
    Result<Bytes> get(uint32_t hid);
    // Replaces an allocation's bytes. Its HID stays when its block has room;
    // otherwise it moves, and the new HID is returned.
    Result<uint32_t> set(uint32_t hid, ByteSpan data);
    // A new allocation, in the last block or a new one after it.
    Result<uint32_t> allocate(ByteSpan data);
    Status free(uint32_t hid);

    bool changed() const { return changed_; }
    // Writes the changed blocks and the data tree over all blocks. Returns
    // the node's new bidData, or the old one when nothing changed.
    Result<uint64_t> commit();

private:
    struct Block {
        uint64_t bid = 0;  // in the file; 0 for a block of this change
        bool loaded = false;
        bool dirty = false;
        std::vector<Bytes> allocs;               // slot i + 1
        std::array<uint8_t, 64> bitmapFill{};    // HNBITMAPHDR fill levels
    };
    HeapEditor(ndb::NdbUpdater& ndb) : ndb_(&ndb) {}
    Result<Block*> load(uint32_t index);
    static uint32_t used(const Block& b, uint32_t index);
    bool fits(const Block& b, uint32_t index) const;
    Bytes build(uint32_t index, const Block& b, bool last) const;
    Status setFillLevel(uint32_t index, uint8_t level);

    ndb::NdbUpdater* ndb_;
    uint64_t bidData_ = 0;
    uint8_t clientSig_ = 0;
    uint32_t userRoot_ = 0;
    std::array<uint8_t, 4> headerFill_{};
    std::vector<Block> blocks_;
    bool changed_ = false;
};

// A BTree-on-heap with keys of up to 8 bytes.
class BthEditor {
public:
    static Result<BthEditor> open(HeapEditor& heap, uint32_t headerHid);
    // A new, empty BTH.
    static Result<BthEditor> create(HeapEditor& heap, uint8_t cbKey, uint8_t cbEnt);

    uint32_t headerHid() const { return header_; }
    const BTHHEADER& header() const { return hdr_; }
    Result<std::optional<Bytes>> find(uint64_t key);
    // Adds a record, or replaces the data of the record with that key.
    Status put(uint64_t key, ByteSpan data);

private:
    struct Step {
        uint32_t hid = 0;
        uint64_t firstKey = 0;
        std::optional<std::pair<uint64_t, uint32_t>> split;  // first key and HID of a new sibling
    };
    Result<Step> insert(uint32_t hid, int level, uint64_t key, ByteSpan record);
    uint64_t keyAt(ByteSpan records, size_t i, uint32_t size) const;
    Status writeHeader();

    HeapEditor* heap_ = nullptr;
    uint32_t header_ = 0;
    BTHHEADER hdr_;
};

// Sets properties of a property context in place: a record is changed or
// added, a value that is not stored in its record goes into the heap (at
// most 3580 bytes).
Status setPcProperties(HeapEditor& heap, const std::vector<store::Property>& props);

// A node's subnodes, through the updater (blocks of the file or of the
// change).
Result<std::vector<ndb::SubnodeInfo>> readSubnodeTree(ndb::NdbUpdater& ndb, uint64_t bidSub);
// Writes a changed subnode tree. Entries whose data or subnode tree the
// old tree (`before`) also has take a reference of their own; new ones come
// with theirs.
Result<uint64_t> writeSubnodeTree(ndb::NdbUpdater& ndb, const std::vector<ndb::SubnodeInfo>& before,
                                  const std::vector<ndb::SubnodeInfo>& after);

class TableEditor {
public:
    // The table context in a node's data and subnodes.
    static Result<TableEditor> open(ndb::NdbUpdater& ndb, uint64_t bidData, uint64_t bidSub);

    const TCINFO& info() const { return info_; }
    uint32_t rowCount() const { return rows_; }
    // The tags of the table's columns, PidTagLtpRowId and PidTagLtpRowVer
    // included.
    std::vector<uint32_t> columnTags() const;
    // Adds a row with the cells of the columns given (exact tags; others
    // are left empty).
    Status appendRow(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells);
    // Changes cells of the row with this id (and its version).
    Status setCells(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells);
    // Reads the cells of the row with this id (only the given tags).
    Result<std::vector<store::Property>> cells(uint32_t rowId, std::span<const uint32_t> tags);

    bool changed() const { return changed_; }
    // Writes what changed: the node's new bidData and bidSub.
    Result<std::pair<uint64_t, uint64_t>> commit();

private:
    TableEditor(ndb::NdbUpdater& ndb, HeapEditor heap)
        : ndb_(&ndb), heapPtr_(std::make_unique<HeapEditor>(std::move(heap))), heap_(*heapPtr_) {}
    Status encodeRow(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells, Bytes& row);
    Result<uint32_t> storeValue(ByteSpan data);
    Status freeValue(uint32_t hnid);
    uint32_t newSubnodeNid();
    Result<Bytes*> matrixBlock(size_t b);
    Result<Bytes*> rowBytes(uint32_t index, size_t& offset);
    Status moveMatrixToSubnode(const Bytes& matrix);

    ndb::NdbUpdater* ndb_;
    std::unique_ptr<HeapEditor> heapPtr_;  // the row index keeps its address
    HeapEditor& heap_;
    std::optional<BthEditor> index_;
    TCINFO info_;
    uint64_t bidSub_ = 0;
    std::vector<ndb::SubnodeInfo> subnodes_, subnodesBefore_;
    bool subnodesChanged_ = false;
    uint32_t rows_ = 0;
    // The row matrix in a subnode: its blocks, read or changed ones held.
    bool inSubnode_ = false;
    uint32_t matrixNid_ = 0;
    std::vector<uint64_t> matrixLeaves_;        // BIDs (0: a new block)
    std::vector<std::optional<Bytes>> matrix_;  // held blocks
    std::vector<bool> matrixDirty_;
    // The row matrix in the heap.
    Bytes heapMatrix_;
    bool heapMatrixLoaded_ = false;
    bool changed_ = false;
};

}  // namespace tavrin::pst::ltp
