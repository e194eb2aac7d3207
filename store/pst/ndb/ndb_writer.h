// The node database writer of a new Unicode PST ([MS-PST] 2.2, 2.6).
//
// The file is written front to back. Blocks are placed by a bump allocator
// inside AMap sections (a block never straddles the next AMap page) and
// streamed to the sink as they are written; the file grows by whole AMap
// sections (2.6.1.1.2), each opened with its AMap page and, at their
// intervals, its PMap, FMap and FPMap pages. The block B-tree is built
// bottom-up while blocks are written (block ids only grow), so no list of
// blocks is ever held. finish() then writes the node B-tree from a sorted
// stream of node entries, the last AMap, the FMaps, the DList and, last of
// all, the header with both CRCs.
//
// Blocks are encoded, checksummed and written by a thread of their own, so
// that the thread building the file does not wait for them; the order of
// the writes is kept. The sink's writeAt is called from that thread (in
// order, one call at a time) until finish(), which waits for it and then
// writes the header itself; a failed write is reported by the calls after
// it.
//
// Memory: the current AMap section's bitmap, one partial B-tree page per
// level, a few write buffers, and one byte per AMap section (its longest
// free run, for the FMaps).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ndb/block_sink.h"
#include "store/pst/ndb/format.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {

using store::ByteSpan;
using store::Bytes;

// Yields the node entries in ascending NID order: true with an entry, false
// at the end, or an error.
using NodeSource = std::function<Result<bool>(NodeEntry&)>;

struct NdbOptions {
    uint8_t cryptMethod = 0x01;   // NDB_CRYPT_PERMUTE, what Outlook writes
    uint32_t dwUnique = 1;        // header dwUnique
    // Bytes gathered before one write to the sink. Larger buffers make the
    // system's copy into its cache markedly slower (2 MiB: up to twice the
    // CPU time of the whole conversion on Linux).
    size_t writeBuffer = 1 << 18;
};

class BTreeStream;

// Bytes that a resize leaves as they were: room for data another thread
// fills in is not written twice. (Inserting or filling through this
// allocator goes byte by byte: the writer copies and zeroes with memcpy and
// memset into room made by resize.)
template <class T>
struct UninitializedAllocator : std::allocator<T> {
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
using WriteBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

class NdbWriter final : public BlockSink {
public:
    NdbWriter(fs::FileSink& sink, NdbOptions options = {});
    ~NdbWriter();
    NdbWriter(const NdbWriter&) = delete;
    NdbWriter& operator=(const NdbWriter&) = delete;

    // BlockSink: blocks of the new file (writeStream and writeSubnodes
    // come with the interface).
    Result<uint64_t> writeBlock(ByteSpan data, bool internal, uint16_t references = 1) override;
    // Keeps the stream's bytes until the writing thread has encoded its
    // blocks from them: the thread building the file copies nothing.
    Result<uint64_t> writeStreamTaking(Bytes&& data, uint64_t* external = nullptr,
                                       uint16_t references = 1) override;

    // Completes the file: the NBT from `nodes`, the rest of the BBT, the
    // last AMap, FMaps, DList and the header. `rgnid` are the header's NID
    // counters. After finish() the writer accepts nothing more.
    Status finish(const NodeSource& nodes, const std::array<uint32_t, 32>& rgnid);

    const Error& error() const override;

    uint64_t blocksWritten() const { return blocks_; }
    uint64_t fileEnd() const;  // bytes the file will have when finished now
    uint8_t cryptMethod() const { return opt_.cryptMethod; }

private:
    friend class BTreeStream;
    Result<uint64_t> allocate(uint64_t size, uint64_t align);
    void markSlots(uint64_t first, uint64_t count);
    void openSection(uint64_t k);
    Status closeSection();
    // Places bytes at `ib`: in the write buffer, or written out. A full
    // buffer is written unless `mayFlush` is false.
    Status put(uint64_t ib, ByteSpan data, bool mayFlush = true);
    // A block of `data`; with `held` (which owns the data) the data is read
    // by the writing thread, not copied now.
    Result<uint64_t> writeBlockFrom(ByteSpan data, bool internal, uint16_t references,
                                    const std::shared_ptr<const Bytes>* held);
    // Places a block's data at `ib` followed by zeros up to `total` bytes,
    // in the write buffer; never writes the buffer out. With `held`, only
    // room is made where the block lies inside the buffer: returns where
    // the writing thread then reads the data from (null: it is in place).
    Result<const uint8_t*> putBlock(uint64_t ib, ByteSpan data, size_t total, const std::shared_ptr<const Bytes>* held);
    Status flushBuffer();
    Result<Bref> writePage(uint8_t ptype, MutableByteSpan page);
    Status fail(Error e);
    Status write(uint64_t ib, ByteSpan data);

    fs::FileSink& sink_;
    NdbOptions opt_;
    mutable Error failure_;
    bool finished_ = false;

    // Allocation state.
    uint64_t section_ = 0;          // current AMap section
    uint64_t cursor_ = 0;           // next free byte in it
    std::array<uint8_t, kAMapBytes> amap_{};
    std::vector<uint8_t> longestRun_;  // per finished section, for the FMaps
    std::vector<uint64_t> fmapPages_;  // offsets of the FMap pages reserved so far
    uint64_t freeSlots_ = 0;           // zero bits of the finished sections

    uint64_t nextBid_ = 4;   // bidNextB: block BIDs advance by 4
    uint64_t nextPage_ = 1;  // bidNextP: page BIDs advance by 1
    uint64_t blocks_ = 0;

    // Write buffer over [bufStart_, bufStart_ + buf_.size()).
    uint64_t bufStart_ = 0;
    WriteBuffer buf_;
    // The blocks in buf_, still to be encoded, checksummed and given their
    // trailer.
    struct Deferred {
        uint64_t ib;
        uint32_t cb;
        uint32_t total;
        uint64_t bid;
        bool internal;
        const uint8_t* src;  // the data, when not in the buffer
    };
    std::vector<Deferred> deferred_;
    // The owners of the data the blocks in buf_ are read from.
    std::vector<std::shared_ptr<const Bytes>> held_;
    class Background;
    std::unique_ptr<Background> background_;

    std::unique_ptr<BTreeStream> bbt_;
};

// Collects the children of a node's data tree. Children are external
// blocks of at most 8176 bytes, in stream order; a child may be left open
// (reserve) and filled in later, so that a block written last (a heap's
// first page) can stand first in the tree.
class DataTreeBuilder {
public:
    explicit DataTreeBuilder(BlockSink& writer) : w_(writer) {}
    void add(uint64_t bid, uint32_t cb) {
        bids_.push_back(bid);
        sizes_.push_back(cb);
        total_ += cb;
    }
    size_t reserve() {
        bids_.push_back(0);
        sizes_.push_back(0);
        return bids_.size() - 1;
    }
    void fill(size_t slot, uint64_t bid, uint32_t cb) {
        bids_[slot] = bid;
        sizes_[slot] = cb;
        total_ += cb;
    }
    size_t count() const { return bids_.size(); }
    uint64_t totalSize() const { return total_; }
    // The root: the only child itself, or an XBLOCK / XXBLOCK over them.
    Result<uint64_t> finish();

private:
    BlockSink& w_;
    std::vector<uint64_t> bids_;
    std::vector<uint32_t> sizes_;
    uint64_t total_ = 0;
};

}  // namespace tavrin::pst::ndb
