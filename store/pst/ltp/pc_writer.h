// Property context writer ([MS-PST] 2.3.3) and the value encodings shared
// with the table context writer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ltp/heap_writer.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::ltp {

// A property value as the PST stores it: fixed-size single values in
// `scalar`, everything else (strings as UTF-16LE, binaries, GUIDs, the
// {nid, size} of a PtypObject, multi-valued values per 2.3.3.4) as bytes.
struct LtpValue {
    uint32_t tag = 0;
    uint64_t scalar = 0;
    ByteSpan data;
};

// Stores a value larger than 3580 bytes as a subnode of the node being
// written and returns the subnode's NID (2.3.3.2).
using SubnodeStore = std::function<Result<uint32_t>(ByteSpan)>;

// A multi-valued value of `type` in its [MS-PST] 2.3.3.4 form.
Bytes encodeMultiValue(uint16_t type, const std::vector<Bytes>& elements);

// The heap pages of a property context, still in memory so that an inline
// value (a message's size, known only once everything is laid out) can be
// patched in before they are written.
struct BuiltPc {
    std::vector<Bytes> blocks;
    struct Slot {
        uint16_t id = 0;
        uint32_t block = 0;
        size_t offset = 0;  // of dwValueHnid
    };
    std::vector<Slot> inlineSlots;

    uint64_t size() const;  // bytes of all pages
    bool patchInline(uint16_t id, uint32_t value);
};

// Lays out a PC over values sorted by property id (ids unique). Outlook's
// order: BTHHEADER (HID 0x20), the record leaf (0x40), then the values.
Result<BuiltPc> buildPropertyContext(std::span<const LtpValue> values, const SubnodeStore& storeLarge);

// Writes heap pages as a node's data: one block, or a data tree over them.
// Adds their bytes to `*external`. `references` applies to a single block.
Result<uint64_t> writeHeapBlocks(ndb::BlockSink& ndb, const std::vector<Bytes>& blocks, uint64_t* external,
                                 uint16_t references = 1);

}  // namespace tavrin::pst::ltp
