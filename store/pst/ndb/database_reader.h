// Reading the node database of a PST ([MS-PST] 2.2): the header, the node
// and block B-trees, blocks in all three encodings, data trees (XBLOCK,
// XXBLOCK) and subnode trees (SLBLOCK, SIBLOCK).
//
// Everything read is checked as it is read: page and block trailers (type,
// BID, signature, CRC), B-tree levels and entry sizes, data tree totals.
// Counts taken from the file bound every loop; a B-tree page or a block met
// twice on one walk is reported as a cycle; no allocation is sized by a
// number from the file beyond ReadLimits::maxStreamBytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ndb/byte_source.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {

struct ReadLimits {
    // Largest node data or subnode stream assembled in memory.
    uint64_t maxStreamBytes = uint64_t(1) << 31;
    // B-tree pages kept in memory between lookups.
    size_t pageCacheEntries = 4096;
    // Whether page, block and header CRCs are checked (signatures, BIDs and
    // types are always checked).
    bool checkCrcs = true;
};

// A leaf entry of the node B-tree.
struct NodeInfo {
    uint32_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    uint32_t nidParent = 0;
};

// A leaf entry of the block B-tree.
struct BlockInfo {
    uint64_t bid = 0;
    uint64_t ib = 0;
    uint16_t cb = 0;
    uint16_t cRef = 0;
};

// An entry of a subnode tree.
struct SubnodeInfo {
    uint32_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
};

// Deepest B-tree the reader accepts; Outlook's are two or three levels.
inline constexpr uint8_t kMaxBTreeLevel = 8;

class NodeDatabase {
public:
    // Reads and checks the header. Fails on a foreign or unsupported file,
    // a header CRC mismatch (unless limits.checkCrcs is off) or an unknown
    // bCryptMethod.
    static Result<std::unique_ptr<NodeDatabase>> open(std::unique_ptr<ByteSource> source, const ReadLimits& limits = {});

    const Header& header() const { return header_; }
    Flavour flavour() const { return header_.flavour; }
    uint8_t cryptMethod() const { return header_.bCryptMethod; }
    const ByteSource& source() const { return *source_; }
    const ReadLimits& limits() const { return limits_; }

    // The NBT / BBT entry for a NID / BID; kNotFound when there is none.
    Result<NodeInfo> findNode(uint32_t nid) const;
    Result<BlockInfo> findBlock(uint64_t bid) const;

    // The 512 bytes of the page at `ib`, after checking that its trailer
    // names `ptype` and `bid` and that signature and CRC agree.
    Result<Bytes> readPage(uint64_t ib, uint8_t ptype, uint64_t bid) const;
    // A block's data (cb bytes) after checking its trailer; external blocks
    // are decoded with the file's bCryptMethod.
    Result<Bytes> readBlock(uint64_t bid) const;
    Result<Bytes> readBlock(const BlockInfo& info) const;
    // The data blocks of a node's data tree in order: one block, or the
    // leaves of an XBLOCK/XXBLOCK. bid 0 (an empty node) gives none.
    Result<std::vector<Bytes>> readDataBlocks(uint64_t bid) const;
    // The same, joined into one stream.
    Result<Bytes> readStream(uint64_t bid) const;
    // The entries of a subnode tree (SLBLOCK, or SIBLOCK over SLBLOCKs),
    // sorted by NID. bidSub 0 gives none.
    Result<std::vector<SubnodeInfo>> readSubnodes(uint64_t bidSub) const;

    // Every leaf entry of the NBT / BBT in tree order. Stops at the first
    // error (an unreadable page, a level out of order, a page met twice).
    Status forEachNode(const std::function<void(const NodeInfo&)>& fn) const;
    Status forEachBlock(const std::function<void(const BlockInfo&)>& fn) const;

private:
    NodeDatabase(std::unique_ptr<ByteSource> source, const Header& header, const ReadLimits& limits)
        : source_(std::move(source)), header_(header), limits_(limits) {}

    // A B-tree page shares its bytes with the page cache: a lookup copies
    // nothing, and a page stays valid while a view holds it, even when the
    // cache is cleared meanwhile.
    struct PageView {
        BTPageInfo info;
        std::shared_ptr<const Bytes> page;
        ByteSpan bytes() const { return *page; }
    };
    // A leaf entry inside its page.
    struct LeafView {
        std::shared_ptr<const Bytes> page;
        uint32_t offset = 0;
        uint32_t size = 0;
        ByteSpan bytes() const { return ByteSpan(*page).subspan(offset, size); }
    };
    Result<PageView> readBTreePage(const Bref& ref, uint8_t ptype, int expectedLevel) const;
    Result<LeafView> findLeafEntry(const Bref& root, uint8_t ptype, uint64_t key) const;
    Status walk(const Bref& root, uint8_t ptype, const std::function<void(ByteSpan)>& leaf) const;
    uint32_t leafEntrySize(uint8_t ptype) const;

    std::unique_ptr<ByteSource> source_;
    Header header_;
    ReadLimits limits_;
    struct CachedPage {
        uint64_t bid = 0;
        uint8_t ptype = 0;
        std::shared_ptr<const Bytes> bytes;
        BTPageInfo info;  // decoded once
    };
    mutable std::unordered_map<uint64_t, CachedPage> pageCache_;
    // The leaf page of the last lookup in each B-tree, with the keys that
    // lead to it from the root: a lookup for a key in [lo, hi) starts there
    // (lookups of one node's blocks mostly meet the same leaf).
    struct LeafHint {
        bool valid = false;
        uint64_t rootIb = 0;
        uint64_t lo = 0;
        uint64_t hi = 0;
        bool bounded = false;  // hi applies
        Bref leaf;
        int level = -1;  // the level the leaf was expected at
    };
    mutable LeafHint leafHint_[2];  // NBT, BBT
};

// A node (or a subnode) of the database with its data and subnode trees.
// It borrows the database, which must outlive it.
class Node {
public:
    Node() = default;
    Node(const NodeDatabase* db, uint32_t nid, uint64_t bidData, uint64_t bidSub)
        : db_(db), nid_(nid), bidData_(bidData), bidSub_(bidSub) {}

    // A top-level node from the NBT.
    static Result<Node> open(const NodeDatabase& db, uint32_t nid);

    const NodeDatabase* database() const { return db_; }
    uint32_t nid() const { return nid_; }
    uint64_t bidData() const { return bidData_; }
    uint64_t bidSub() const { return bidSub_; }

    Result<std::vector<Bytes>> dataBlocks() const;
    Result<Bytes> data() const;
    // This node's subnodes (read once, then kept).
    Result<const std::vector<SubnodeInfo>*> subnodes() const;
    // One subnode by NID; kNotFound when absent.
    Result<Node> subnode(uint32_t nid) const;

private:
    const NodeDatabase* db_ = nullptr;
    uint32_t nid_ = 0;
    uint64_t bidData_ = 0;
    uint64_t bidSub_ = 0;
    mutable std::shared_ptr<std::vector<SubnodeInfo>> subnodes_;
};

}  // namespace tavrin::pst::ndb
