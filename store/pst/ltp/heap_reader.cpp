#include "store/pst/ltp/heap_reader.h"

#include <string>
#include <unordered_set>

namespace tavrin::pst::ltp {

using ndb::hex;

namespace {
Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }
}  // namespace

Result<Heap> Heap::open(std::vector<Bytes> blocks) {
    if (blocks.empty()) return corrupt("heap: node has no data");
    auto hdr = HNHDR::decode(blocks[0]);
    if (!hdr) return corrupt("heap: block 0 is too short for HNHDR");
    if (hdr->bSig != kHeapSig) return corrupt("heap: bSig " + hex(hdr->bSig) + " is not 0xEC");
    Heap h;
    h.hdr_ = *hdr;
    h.maps_.reserve(blocks.size());
    h.ibHnpm_.reserve(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        uint16_t ibHnpm = 0;
        switch (heapBlockKind(static_cast<uint32_t>(i))) {
            case HeapBlockKind::First: ibHnpm = hdr->ibHnpm; break;
            case HeapBlockKind::Bitmap: {
                auto b = HNBITMAPHDR::decode(blocks[i]);
                if (!b) return corrupt("heap: block " + std::to_string(i) + " is too short for HNBITMAPHDR");
                ibHnpm = b->ibHnpm;
                break;
            }
            case HeapBlockKind::Page: {
                auto p = HNPAGEHDR::decode(blocks[i]);
                if (!p) return corrupt("heap: block " + std::to_string(i) + " is too short for HNPAGEHDR");
                ibHnpm = p->ibHnpm;
                break;
            }
        }
        auto m = HNPAGEMAP::decode(blocks[i], ibHnpm);
        if (!m) return Error(m.error()).prefixed("heap: block " + std::to_string(i));
        h.maps_.push_back(std::move(m).value());
        h.ibHnpm_.push_back(ibHnpm);
    }
    h.blocks_ = std::move(blocks);
    return h;
}

Result<ByteSpan> Heap::get(uint32_t hid) const {
    if (hidType(hid) != 0) return corrupt("heap: " + hex(hid) + " is not a HID");
    const uint32_t b = hidBlockIndex(hid);
    const uint32_t i = hidIndex(hid);
    if (b >= blocks_.size()) return corrupt("heap: HID " + hex(hid) + " names block " + std::to_string(b) + " of " + std::to_string(blocks_.size()));
    const auto& m = maps_[b];
    if (i == 0 || i > m.cAlloc()) return corrupt("heap: HID " + hex(hid) + " names allocation " + std::to_string(i) + " of " + std::to_string(m.cAlloc()));
    const uint16_t begin = m.rgibAlloc[i - 1], end = m.rgibAlloc[i];
    if (begin > end || end > ibHnpm_[b] || end > blocks_[b].size())
        return corrupt("heap: HID " + hex(hid) + " spans " + std::to_string(begin) + ".." + std::to_string(end) +
                       " outside its block");
    return ByteSpan(blocks_[b]).subspan(begin, end - begin);
}

uint64_t bthKeyValue(ByteSpan key) {
    uint64_t v = 0;
    for (size_t i = std::min<size_t>(key.size(), 8); i-- > 0;) v = (v << 8) | key[i];
    return v;
}

Result<Bth> Bth::open(const Heap& heap, uint32_t hid) {
    auto a = heap.get(hid);
    if (!a) return Error(a.error()).prefixed("BTH");
    auto h = BTHHEADER::decode(*a);
    if (!h) return corrupt("BTH: header at " + hex(hid) + " is truncated");
    if (h->bType != bTypeBTH) return corrupt("BTH at " + hex(hid) + ": bType " + hex(h->bType) + " is not 0xB5");
    if (h->cbKey != 2 && h->cbKey != 4 && h->cbKey != 8 && h->cbKey != 16)
        return corrupt("BTH at " + hex(hid) + ": cbKey " + std::to_string(h->cbKey) + " is not 2, 4, 8 or 16");
    if (h->cbEnt < 1 || h->cbEnt > 32) return corrupt("BTH at " + hex(hid) + ": cbEnt " + std::to_string(h->cbEnt) + " is out of range");
    if (h->bIdxLevels > kMaxBthLevels) return corrupt("BTH at " + hex(hid) + ": " + std::to_string(h->bIdxLevels) + " index levels");
    Bth t;
    t.heap_ = &heap;
    t.hdr_ = *h;
    return t;
}

Result<std::vector<BthRecord>> Bth::walk(std::vector<uint32_t>* hids) const {
    std::vector<BthRecord> out;
    if (hdr_.hidRoot == 0) return out;
    struct Item {
        uint32_t hid;
        int level;
    };
    std::vector<Item> stack{{hdr_.hidRoot, hdr_.bIdxLevels}};
    // Without index levels the root is the only allocation: nothing can be
    // reached twice.
    std::unordered_set<uint32_t> seen;
    while (!stack.empty()) {
        const Item it = stack.back();
        stack.pop_back();
        if (hdr_.bIdxLevels > 0 && !seen.insert(it.hid).second)
            return corrupt("BTH: allocation " + hex(it.hid) + " is reached twice");
        if (hids) hids->push_back(it.hid);
        auto a = heap_->get(it.hid);
        if (!a) return Error(a.error()).prefixed("BTH");
        const uint32_t rec = it.level > 0 ? hdr_.cbKey + 4u : uint32_t(hdr_.cbKey) + hdr_.cbEnt;
        if (a->size() % rec != 0)
            return corrupt("BTH: " + std::to_string(a->size()) + " bytes at " + hex(it.hid) + " are not whole records of " +
                           std::to_string(rec));
        const size_t n = a->size() / rec;
        if (it.level == 0) {
            if (out.empty()) out.reserve(n);
            for (size_t i = 0; i < n; ++i)
                out.push_back(BthRecord{a->subspan(i * rec, hdr_.cbKey), a->subspan(i * rec + hdr_.cbKey, hdr_.cbEnt)});
            continue;
        }
        for (size_t i = n; i-- > 0;)
            stack.push_back({store::loadLE32(a->data() + i * rec + hdr_.cbKey), it.level - 1});
    }
    return out;
}

Result<std::vector<BthRecord>> Bth::records() const { return walk(nullptr); }

Result<std::vector<uint32_t>> Bth::allocations() const {
    std::vector<uint32_t> hids;
    auto r = walk(&hids);
    if (!r) return std::move(r).error();
    return hids;
}

}  // namespace tavrin::pst::ltp
