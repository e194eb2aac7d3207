// Where the writers above the node database put their blocks: a new file
// written front to back (NdbWriter) or a file changed in place
// (NdbUpdater). The lists, tables and properties layer and the message
// writer write through this interface and work with either.
#pragma once

#include <cstdint>
#include <span>

#include "fs/result.h"
#include "store/core/bytes.h"

namespace tavrin::pst::ndb {

using store::ByteSpan;

// [MS-PST] 2.2.2.7.7.4 NBTENTRY, as the writers are given it.
struct NodeEntry {
    uint32_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    uint32_t nidParent = 0;
};

// [MS-PST] 2.2.2.8.3.3.1.1 SLENTRY.
struct SubnodeEntry {
    uint32_t nid = 0;
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
};

// Largest stream a data tree can describe: lcbTotal is 32 bits.
inline constexpr uint64_t kMaxStreamSize = 0xFFFFFFFFu;

class BlockSink {
public:
    virtual ~BlockSink() = default;

    // Writes one block of at most 8176 bytes. External blocks are encoded
    // with the file's method; internal ones (XBLOCK, XXBLOCK, SLBLOCK,
    // SIBLOCK) never are. `references` is the number of NBT entries,
    // SLENTRYs and XBLOCK slots that will point at it; the BBT records
    // cRef = 1 + references, as Outlook does. Returns the block's BID.
    virtual Result<uint64_t> writeBlock(ByteSpan data, bool internal, uint16_t references = 1) = 0;

    // The first failure, if any: once a write failed every later call fails
    // with the same error, so a caller may check only at the end.
    virtual const Error& error() const = 0;

    // Writes a stream of any length up to kMaxStreamSize as one block or a
    // data tree of 8176-byte blocks (2.2.2.8.3.2). Adds the data bytes to
    // `*external` (the cb of every external block). An empty stream has no
    // block: BID 0.
    Result<uint64_t> writeStream(ByteSpan data, uint64_t* external = nullptr, uint16_t references = 1);
    // The same, taking the stream's bytes: a sink that writes its blocks
    // later may keep them until then rather than copy them now.
    virtual Result<uint64_t> writeStreamTaking(store::Bytes&& data, uint64_t* external = nullptr,
                                               uint16_t references = 1) {
        return writeStream(data, external, references);
    }

    // Writes a subnode B-tree (2.2.2.8.3.3) over entries sorted by NID:
    // SLBLOCKs, and one SIBLOCK above them when they do not fit one. No
    // entries: BID 0.
    Result<uint64_t> writeSubnodes(std::span<const SubnodeEntry> entries);
};

}  // namespace tavrin::pst::ndb
