#include "store/pst/ltp/pc_writer.h"

#include <cstring>

#include "store/core/props.h"

namespace tavrin::pst::ltp {

using store::storeLE16;
using store::storeLE32;
using store::storeLE64;

bool storedInline(uint16_t type) {
    switch (type) {
        case store::PT_I2: case store::PT_LONG: case store::PT_R4: case store::PT_ERROR: case store::PT_BOOLEAN:
            return true;
        default:
            return false;
    }
}

Bytes encodeMultiValue(uint16_t type, const std::vector<Bytes>& elements) {
    Bytes out;
    const uint16_t base = store::baseType(type);
    if (store::fixedSize(base) != 0 || base == store::PT_CLSID) {
        for (const Bytes& e : elements) out.insert(out.end(), e.begin(), e.end());
        return out;
    }
    const size_t head = 4 + 4 * elements.size();
    size_t total = head;
    for (const Bytes& e : elements) total += e.size();
    out.resize(head);
    out.reserve(total);
    storeLE32(out.data(), static_cast<uint32_t>(elements.size()));
    for (size_t i = 0; i < elements.size(); ++i) {
        storeLE32(out.data() + 4 + 4 * i, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), elements[i].begin(), elements[i].end());
    }
    return out;
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
        storeLE32(blocks[s.block].data() + s.offset, value);
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
    BthWriter bth(heap, 2, 6);
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
            storeLE64(b, v.scalar);
            auto hid = heap.allocate(ByteSpan(b, 8));
            if (!hid) return std::move(hid).error();
            hnids[i] = *hid;
            continue;
        }
        if (v.data.empty()) continue;  // an empty value has HNID 0
        if (v.data.size() <= kMaxAllocation) {
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
        // [MS-PST] 2.3.3.3 PC BTH record: wPropId (key), wPropType, dwValueHnid.
        uint8_t r[6];
        storeLE16(r, store::tagType(values[i].tag));
        storeLE32(r + 2, hnids[i]);
        if (auto s = bth.add(store::tagId(values[i].tag), ByteSpan(r, 6)); !s) return std::move(s).take();
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

Result<uint64_t> writeHeapBlocks(ndb::NdbWriter& ndb, const std::vector<Bytes>& blocks, uint64_t* external,
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
