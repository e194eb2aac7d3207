#include "store/pst/ltp/pc_writer.h"

#include <cstring>

#include "store/core/props.h"

namespace tavrin::pst::ltp {

Bytes encodeMultiValue(uint16_t type, const std::vector<Bytes>& elements) {
    const uint16_t base = store::baseType(type);
    if (store::fixedSize(base) != 0 || base == store::PT_CLSID) return encodeMultiFixed(elements);
    return encodeMultiVariable(elements);
}

uint64_t BuiltPc::size() const {
    uint64_t n = 0;
    for (const Bytes& b : blocks) n += b.size();
    return n;
}

bool BuiltPc::patchInline(uint16_t id, uint32_t value) {
    for (const Slot& s : inlineSlots) {
        if (s.id != id) continue;
        if (s.block >= blocks.size() || s.offset + 4 > blocks[s.block].size()) return false;
        store::storeLE32(blocks[s.block].data() + s.offset, value);
        return true;
    }
    return false;
}

Result<BuiltPc> buildPropertyContext(std::span<const LtpValue> values, const SubnodeStore& storeLarge) {
    for (size_t i = 1; i < values.size(); ++i)
        if (store::tagId(values[i].tag) <= store::tagId(values[i - 1].tag))
            return Error(err::kCallFailed, "PST writer: property context ids out of order or repeated");

    HeapWriter heap(bTypePC);
    // [MS-PST] 2.3.3.1: the PC's BTH has 2-byte keys and 6-byte records.
    BthWriter bth(heap, kPcKeySize, kPcDataSize);
    bth.reserveLeaf(values.size());
    if (auto s = bth.status(); !s) return std::move(s).take();
    heap.setUserRoot(bth.headerHid());

    std::vector<uint32_t> hnids(values.size(), 0);
    for (size_t i = 0; i < values.size(); ++i) {
        const LtpValue& v = values[i];
        const uint16_t type = store::tagType(v.tag);
        if (storedInline(type)) {
            const uint32_t fixed = store::fixedSize(type);
            hnids[i] = fixed == 4 ? static_cast<uint32_t>(v.scalar)
                                  : fixed == 2 ? static_cast<uint16_t>(v.scalar) : (v.scalar ? 1u : 0u);
            continue;
        }
        if (const uint32_t fixed = store::fixedSize(type); fixed == 8) {
            uint8_t b[8];
            store::storeLE64(b, v.scalar);
            auto hid = heap.allocate(ByteSpan(b, 8));
            if (!hid) return std::move(hid).error();
            hnids[i] = *hid;
            continue;
        }
        if (v.data.empty()) continue;  // an empty value has HNID 0
        if (v.data.size() <= kMaxHeapAlloc) {
            auto hid = heap.allocate(v.data);
            if (!hid) return std::move(hid).error();
            hnids[i] = *hid;
        } else {
            auto nid = storeLarge(v.data);
            if (!nid) return std::move(nid).error();
            hnids[i] = *nid;
        }
    }

    for (size_t i = 0; i < values.size(); ++i) {
        // [MS-PST] 2.3.3.3 PC BTH record: wPropId (the key), wPropType, dwValueHnid.
        PropEntry e{store::tagId(values[i].tag), store::tagType(values[i].tag), hnids[i]};
        uint8_t r[PropEntry::kSize];
        (void)e.encode(MutableByteSpan(r, sizeof r));
        if (auto s = bth.add(e.wPropId, ByteSpan(r + kPcKeySize, kPcDataSize)); !s) return std::move(s).take();
    }
    if (auto s = bth.finish(); !s) return std::move(s).take();
    auto blocks = heap.finish();
    if (!blocks) return std::move(blocks).error();

    BuiltPc pc;
    for (auto& [index, bytes] : *blocks) pc.blocks.push_back(std::move(bytes));
    for (size_t i = 0; i < values.size(); ++i) {
        if (!storedInline(store::tagType(values[i].tag))) continue;
        auto [hid, off] = bth.recordLocation(i);
        auto loc = heap.locate(hid);
        if (!loc) return std::move(loc).error();
        pc.inlineSlots.push_back({store::tagId(values[i].tag), loc->block, loc->offset + off + 4});
    }
    return pc;
}

Result<uint64_t> writeHeapBlocks(ndb::BlockSink& ndb, const std::vector<Bytes>& blocks, uint64_t* external,
                                 uint16_t references) {
    if (blocks.size() == 1) {
        if (external) *external += blocks[0].size();
        return ndb.writeBlock(blocks[0], false, references);
    }
    if (references != 1) return Error(err::kCallFailed, "PST writer: only single-block heaps can be shared");
    ndb::DataTreeBuilder tree(ndb);
    for (const Bytes& b : blocks) {
        auto bid = ndb.writeBlock(b, false);
        if (!bid) return bid;
        if (external) *external += b.size();
        tree.add(*bid, static_cast<uint32_t>(b.size()));
    }
    return tree.finish();
}

}  // namespace tavrin::pst::ltp
