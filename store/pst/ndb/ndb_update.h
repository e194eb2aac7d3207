// Changing the node database of an existing Unicode PST in place
// ([MS-PST] 2.6: "Maintaining Data Integrity").
//
// A change is one transaction. Nothing that the file's header reaches is
// ever overwritten: new blocks and pages go into space the allocation maps
// call free (never into space this change frees) or into new AMap sections
// at the end; the B-trees are updated copy-on-write, the pages on the path
// to each changed entry written anew and the old ones freed. Blocks carry
// reference counts (cRef): a block no NBT entry, SLENTRY or XBLOCK slot
// references any more leaves the BBT and its space is freed, and the blocks
// it referenced lose that reference in turn.
//
// The order of the writes makes the file read as before or as after,
// whatever stops the program ([MS-PST] 2.6.1.3.7):
//   1. before the first allocation: the header with fAMapValid INVALID_AMAP
//      (and dwUnique + 1), on stable storage (fsync);
//   2. new blocks, the search queue and the other nodes' data, the BBT,
//      then the NBT pages, in free space;
//   3. the AMaps, PMaps, FMaps and FPMaps (in place: they are what
//      INVALID_AMAP tells a reader not to trust), the density list, the
//      file's length; fsync;
//   4. last, the header: the new B-tree roots, counters, cbAMapFree,
//      cbPMapFree, ibFileEof, ibAMapLast, fAMapValid VALID_AMAP2; fsync.
// Stopped before 4, the header still names the old roots, which nothing
// has overwritten: the file reads as before, and INVALID_AMAP makes the
// next writer (Outlook, or open() below) rebuild the allocation maps from
// the B-trees. A failure that the program sees is rolled back: the map
// pages and the header are put back as they were and the file is cut to
// its old length.
//
// open() reads and checks the header and every allocation map page, and
// counts their free slots: the new cbAMapFree and cbPMapFree are counted
// from the maps, not carried on. A file whose AMaps are marked invalid
// gets them rebuilt first, as [MS-PST] 2.6.1.3.7 asks.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "fs/result.h"
#include "fs/update_file.h"
#include "store/core/bytes.h"
#include "store/pst/ndb/block_sink.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {

struct UpdateOptions {
    ReadLimits limits;
    // Bytes gathered before one write (blocks and pages placed one after
    // another are written together).
    size_t writeBuffer = size_t(1) << 18;
};

// What a change did, for tests and benchmarks.
struct UpdateStats {
    uint64_t blocksWritten = 0;
    uint64_t pagesWritten = 0;
    uint64_t bytesWritten = 0;   // everything written to the file, maps and header included
    uint64_t blocksFreed = 0;
    uint64_t pagesFreed = 0;
    uint64_t sectionsAdded = 0;
    bool amapRebuilt = false;
};

class NdbUpdater final : public BlockSink {
public:
    // Opens the file's node database for a change. Fails (and writes
    // nothing) on an ANSI file, a header or allocation map that does not
    // check out, or B-trees that cannot be walked when the AMaps have to be
    // rebuilt.
    static Result<std::unique_ptr<NdbUpdater>> open(fs::RandomAccessFile& file, const UpdateOptions& options = {});
    // A change that was not committed is rolled back.
    ~NdbUpdater() override;
    NdbUpdater(const NdbUpdater&) = delete;
    NdbUpdater& operator=(const NdbUpdater&) = delete;

    // The file as it was when opened (the change is not visible here).
    const NodeDatabase& reader() const { return *db_; }
    const Header& header() const { return original_; }
    uint8_t cryptMethod() const { return original_.bCryptMethod; }

    // BlockSink: a new block with a new BID, in free space.
    Result<uint64_t> writeBlock(ByteSpan data, bool internal, uint16_t references = 1) override;
    const Error& error() const override { return failure_; }

    // One more, or one fewer, reference to a block of the file or of this
    // change. A block left without references is freed at commit (a block
    // of this change at once).
    void addRef(uint64_t bid);
    void release(uint64_t bid);

    // A block's data, decoded: of the file or of this change.
    Result<Bytes> readBlock(uint64_t bid);
    // A block's cb.
    Result<uint16_t> blockSize(uint64_t bid);
    // The data blocks of a data tree in order (only its XBLOCK/XXBLOCK are
    // read). BID 0 has none.
    Result<std::vector<uint64_t>> dataTreeLeaves(uint64_t bid);

    // A node's entry as this change leaves it; nullopt when there is none.
    Result<std::optional<NodeInfo>> node(uint32_t nid) const;
    // Sets a node's entry (a new node, or a changed one). A bidData or
    // bidSub that differs from the node's current one gives the current
    // one's reference up; the new one must come with a reference of its own
    // (a block written for it, or one taken with addRef).
    void setNode(const NodeEntry& entry);

    // Completes the change (see the top of this file). `rgnid` and
    // `dwUnique` are the header's new counters (a counter never goes back).
    // Nothing is written when nothing changed.
    Status commit(const std::array<uint32_t, 32>& rgnid, uint32_t dwUnique);
    // Gives the change up: the file is put back as it was.
    void rollback();

    bool started() const { return started_; }
    bool committed() const { return committed_; }
    const UpdateStats& stats() const { return stats_; }
    // Bytes the file has while the change is under way (its end).
    uint64_t fileEnd() const;
    // Bytes the file had when opened.
    uint64_t originalSize() const { return originalSize_; }

private:
    explicit NdbUpdater(fs::RandomAccessFile& file, const UpdateOptions& options);

    struct Section {
        uint16_t avail = 0;    // slots free now and usable in this change
        uint16_t longest = 0;  // longest run of them (at most: allocations lower it lazily)
    };
    struct MapState {
        std::array<uint8_t, kAMapBytes> orig{};   // as the file has it
        std::array<uint8_t, kAMapBytes> alloc{};  // taken in this change
        std::array<uint8_t, kAMapBytes> freed{};  // given up in this change (reused only after it)
        bool fresh = false;                       // a section added by this change
        bool dirty = false;                       // its map page must be written
        uint32_t cursor = 0;                      // where the next search for free slots starts
    };
    struct NewBlock {
        uint64_t ib = 0;
        uint16_t cb = 0;
        uint32_t cRef = 0;  // 0: freed again
        bool internal = false;
    };
    struct BtMod {
        uint64_t key = 0;
        bool erase = false;
        std::array<uint8_t, 32> entry{};
    };
    struct BtOut {
        uint64_t firstKey = 0;
        Bref ref;
    };

    Status fail(Error e);
    Status start();
    Status checkMaps();
    Status rebuildMaps();
    Result<MapState*> map(uint64_t k);
    void updateSection(uint64_t k);
    Result<uint64_t> allocate(uint32_t size, uint32_t align);
    Result<bool> tryAllocate(uint64_t k, uint32_t slots, uint32_t alignSlots, uint64_t& ib);
    uint64_t addSection();
    Status freeSpace(uint64_t ib, uint32_t size);
    Status put(uint64_t ib, ByteSpan data);
    Status flushBuffer();
    Result<Bref> writePage(uint8_t ptype, MutableByteSpan page);
    NewBlock* newBlock(uint64_t bid);
    void releaseNew(uint64_t bid, NewBlock& b);
    Status settleReferences(std::vector<BtMod>& bbtMods);
    Result<std::vector<uint64_t>> childrenOf(uint64_t bid);
    Result<Bref> updateTree(uint8_t ptype, const Bref& root, std::vector<BtMod>& mods);
    Result<std::vector<BtOut>> rewritePage(uint8_t ptype, const Bref& ref, int level, std::span<const BtMod> mods,
                                           std::optional<uint64_t> lo, std::optional<uint64_t> hi, bool& changed);
    Result<std::vector<BtOut>> packPages(uint8_t ptype, uint8_t level, const std::vector<std::pair<uint64_t, Bytes>>& entries);
    Status writeMaps(uint64_t& cbAMapFree, uint64_t& cbPMapFree, std::array<uint8_t, 128>& rgbFM);
    Status writeInPlace(uint64_t ib, ByteSpan data);

    fs::RandomAccessFile& file_;
    UpdateOptions opt_;
    std::unique_ptr<NodeDatabase> db_;
    Header original_;
    Bytes originalHeaderBytes_;
    uint64_t originalSize_ = 0;
    Error failure_;
    bool started_ = false;
    bool committed_ = false;
    UpdateStats stats_;

    // Allocation.
    std::vector<Section> sections_;
    std::map<uint64_t, MapState> maps_;
    uint64_t hot_ = 0;       // section of the last allocation
    uint64_t scanFrom_ = 0;  // sections before this one have been tried
    uint64_t zeroBits_ = 0;  // free slots of the file's AMaps (cbAMapFree / 64)
    uint64_t pmapZeroBits_ = 0;
    bool pmapsAllSet_ = true;  // every PMap bit set, as newer Outlook keeps them
    std::vector<uint64_t> pmapDirty_;  // PMap pages (section numbers) to write
    std::map<uint64_t, std::array<uint8_t, kAMapBytes>> pmaps_;
    bool rebuilt_ = false;
    bool hasDList_ = false;

    // Pages written over in place, with their bytes before (for rollback).
    std::vector<std::pair<uint64_t, Bytes>> overwritten_;

    uint64_t nextBid_ = 0;
    uint64_t nextPage_ = 0;
    uint64_t firstNewBid_ = 0;
    std::vector<NewBlock> newBlocks_;                   // by (bid - firstNewBid_) / 4
    std::unordered_map<uint64_t, int32_t> refDelta_;    // blocks of the file
    std::map<uint32_t, NodeEntry> nodes_;               // NBT entries set by this change

    // Write buffer over [bufStart_, bufStart_ + buf_.size()).
    uint64_t bufStart_ = 0;
    Bytes buf_;
};

// A ByteSource over a file being changed, for the reader (it borrows the
// file, which must outlive it).
class FileView final : public ByteSource {
public:
    FileView(fs::RandomAccessFile& file, uint64_t size) : file_(file), size_(size) {}
    uint64_t size() const override { return size_; }
    Status readAt(uint64_t offset, store::MutableByteSpan out) const override;
    std::string name() const override { return file_.name(); }

private:
    fs::RandomAccessFile& file_;
    uint64_t size_;
};

}  // namespace tavrin::pst::ndb
