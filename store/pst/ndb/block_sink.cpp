// The stream and subnode tree writers every block sink shares ([MS-PST]
// 2.2.2.8.3.2 data trees, 2.2.2.8.3.3 subnode trees), over writeBlock.
#include "store/pst/ndb/block_sink.h"

#include <algorithm>

#include "store/pst/ndb/ndb_writer.h"
#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {

Result<uint64_t> BlockSink::writeStream(ByteSpan data, uint64_t* external, uint16_t references) {
    if (data.empty()) return uint64_t{0};
    if (data.size() > kMaxStreamSize) return Error(err::kTooBig, "A value of more than 4 GB cannot be stored.");
    if (external) *external += data.size();
    if (data.size() <= kMaxBlockData) return writeBlock(data, false, references);
    DataTreeBuilder tree(*this);
    for (size_t off = 0; off < data.size(); off += kMaxBlockData) {
        const size_t n = std::min<size_t>(kMaxBlockData, data.size() - off);
        auto bid = writeBlock(data.subspan(off, n), false);
        if (!bid) return bid;
        tree.add(*bid, static_cast<uint32_t>(n));
    }
    return tree.finish();
}

Result<uint64_t> BlockSink::writeSubnodes(std::span<const SubnodeEntry> entries) {
    if (entries.empty()) return uint64_t{0};
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].nid <= entries[i - 1].nid) return Error(err::kCallFailed, "PST writer: subnodes out of order or repeated");
    // [MS-PST] 2.2.2.8.3.3.1 SLBLOCK.
    auto writeLeaf = [&](std::span<const SubnodeEntry> part) -> Result<uint64_t> {
        SLBlock b;
        b.entries.reserve(part.size());
        for (const SubnodeEntry& e : part) b.entries.push_back(SLEntry{e.nid, e.bidData, e.bidSub});
        return writeBlock(b.encode(), true);
    };
    if (entries.size() <= kSLBlockMaxEntries) return writeLeaf(entries);
    if (entries.size() > uint64_t(kSLBlockMaxEntries) * kSIBlockMaxEntries)
        return Error(err::kTooBig, "An item has too many attachments and values to be stored.");
    // [MS-PST] 2.2.2.8.3.3.2 SIBLOCK over the SLBLOCKs.
    SIBlock si;
    for (size_t off = 0; off < entries.size(); off += kSLBlockMaxEntries) {
        auto part = entries.subspan(off, std::min<size_t>(kSLBlockMaxEntries, entries.size() - off));
        auto bid = writeLeaf(part);
        if (!bid) return bid;
        si.entries.push_back(SIEntry{part[0].nid, *bid});
    }
    return writeBlock(si.encode(), true);
}

}  // namespace tavrin::pst::ndb
