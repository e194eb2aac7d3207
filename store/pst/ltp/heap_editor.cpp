#include "store/pst/ltp/heap_editor.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "store/pst/ltp/heap_writer.h"
#include "store/pst/ltp/tc_writer.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::ltp {

using ndb::hex;
using store::loadLE16;
using store::loadLE32;
using store::storeLE16;
using store::storeLE32;
using store::storeLE64;

namespace {

constexpr uint32_t kMaxAllocsPerBlock = 0x7FF;  // hidIndex is 11 bits
constexpr uint32_t kMaxBlocks = 0x10000;        // hidBlockIndex is 16 bits

constexpr uint32_t align2(uint32_t v) { return (v + 1) & ~uint32_t(1); }

Error corrupt(const std::string& what) { return Error(err::kCorrupt, what); }
Error editError(const std::string& what) { return Error(err::kCallFailed, "PST heap update: " + what); }

// Slots a block writes: trailing freed slots are dropped.
size_t keptSlots(const std::vector<Bytes>& allocs) {
    size_t n = allocs.size();
    while (n > 0 && allocs[n - 1].empty()) --n;
    return n;
}

uint64_t readKey(const uint8_t* p, uint8_t cbKey) {
    uint64_t v = 0;
    for (uint8_t i = cbKey; i-- > 0;) v = (v << 8) | p[i];
    return v;
}

void writeKey(uint8_t* p, uint64_t key, uint8_t cbKey) {
    for (uint8_t i = 0; i < cbKey; ++i) p[i] = static_cast<uint8_t>(key >> (8 * i));
}

}  // namespace

// ---- HeapEditor ----

Result<HeapEditor> HeapEditor::open(ndb::NdbUpdater& ndb, uint64_t bidData) {
    if (bidData == 0) return corrupt("heap: the node has no data");
    auto leaves = ndb.dataTreeLeaves(bidData);
    if (!leaves) return std::move(leaves).error();
    if (leaves->size() > kMaxBlocks) return corrupt("heap: more blocks than a heap can address");
    HeapEditor h(ndb);
    h.bidData_ = bidData;
    h.blocks_.resize(leaves->size());
    for (size_t i = 0; i < leaves->size(); ++i) h.blocks_[i].bid = (*leaves)[i];
    auto b0 = h.load(0);
    if (!b0) return std::move(b0).error();
    return h;
}

Result<HeapEditor::Block*> HeapEditor::load(uint32_t index) {
    if (index >= blocks_.size()) return corrupt("heap: no block " + std::to_string(index));
    Block& b = blocks_[index];
    if (b.loaded) return &b;
    auto data = ndb_->readBlock(b.bid);
    if (!data) return std::move(data).error();
    const Bytes& d = *data;
    uint16_t ibHnpm = 0;
    switch (heapBlockKind(index)) {
        case HeapBlockKind::First: {
            auto h = HNHDR::decode(d);
            if (!h || h->bSig != kHeapSig) return corrupt("heap: block 0 has no HNHDR");
            ibHnpm = h->ibHnpm;
            clientSig_ = h->bClientSig;
            userRoot_ = h->hidUserRoot;
            headerFill_ = h->rgbFillLevel;
            break;
        }
        case HeapBlockKind::Bitmap: {
            auto h = HNBITMAPHDR::decode(d);
            if (!h) return corrupt("heap: block " + std::to_string(index) + " has no HNBITMAPHDR");
            ibHnpm = h->ibHnpm;
            b.bitmapFill = h->rgbFillLevel;
            break;
        }
        case HeapBlockKind::Page: {
            auto h = HNPAGEHDR::decode(d);
            if (!h) return corrupt("heap: block " + std::to_string(index) + " has no HNPAGEHDR");
            ibHnpm = h->ibHnpm;
            break;
        }
    }
    auto m = HNPAGEMAP::decode(d, ibHnpm);
    if (!m) return Error(m.error()).prefixed("heap: block " + std::to_string(index));
    const uint32_t headerSize = heapBlockHeaderSize(index);
    b.allocs.clear();
    for (size_t k = 1; k < m->rgibAlloc.size(); ++k) {
        const uint16_t a = m->rgibAlloc[k - 1], e = m->rgibAlloc[k];
        if (a < headerSize || e < a || e > ibHnpm) return corrupt("heap: block " + std::to_string(index) + " has an allocation outside it");
        b.allocs.emplace_back(d.begin() + a, d.begin() + e);
    }
    b.loaded = true;
    return &b;
}

uint32_t HeapEditor::used(const Block& b, uint32_t index) {
    uint32_t end = heapBlockHeaderSize(index);
    const size_t n = keptSlots(b.allocs);
    for (size_t i = 0; i < n; ++i) end += static_cast<uint32_t>(b.allocs[i].size());
    return align2(end) + 4 + 2 * static_cast<uint32_t>(n + 1);
}

bool HeapEditor::fits(const Block& b, uint32_t index) const {
    return keptSlots(b.allocs) <= kMaxAllocsPerBlock && used(b, index) <= kHeapBlockSize;
}

void HeapEditor::setUserRoot(uint32_t hid) {
    if (hid == userRoot_) return;
    userRoot_ = hid;
    blocks_[0].dirty = true;
    changed_ = true;
}

Result<Bytes> HeapEditor::get(uint32_t hid) {
    const uint32_t bi = hidBlockIndex(hid), slot = hidIndex(hid);
    if (hidType(hid) != 0 || slot == 0) return corrupt("heap: " + hex(hid) + " is not a HID");
    auto b = load(bi);
    if (!b) return std::move(b).error();
    if (slot > (*b)->allocs.size()) return corrupt("heap: HID " + hex(hid) + " names no allocation");
    return (*b)->allocs[slot - 1];
}

Result<uint32_t> HeapEditor::set(uint32_t hid, ByteSpan data) {
    if (data.size() > kMaxHeapAlloc) return editError("allocation larger than 3580 bytes");
    const uint32_t bi = hidBlockIndex(hid), slot = hidIndex(hid);
    if (hidType(hid) != 0 || slot == 0) return corrupt("heap: " + hex(hid) + " is not a HID");
    auto bp = load(bi);
    if (!bp) return std::move(bp).error();
    Block& b = **bp;
    if (slot > b.allocs.size()) return corrupt("heap: HID " + hex(hid) + " names no allocation");
    Bytes old = std::move(b.allocs[slot - 1]);
    b.allocs[slot - 1].assign(data.begin(), data.end());
    changed_ = true;
    b.dirty = true;
    if (fits(b, bi)) return hid;
    // It no longer fits its block: it moves.
    b.allocs[slot - 1].clear();
    return allocate(data);
}

Result<uint32_t> HeapEditor::allocate(ByteSpan data) {
    if (data.size() > kMaxHeapAlloc) return editError("allocation larger than 3580 bytes");
    const uint32_t last = static_cast<uint32_t>(blocks_.size() - 1);
    auto bp = load(last);
    if (!bp) return std::move(bp).error();
    Block& b = **bp;
    const size_t n = keptSlots(b.allocs);
    b.allocs.resize(n);
    b.allocs.emplace_back(data.begin(), data.end());
    changed_ = true;
    if (fits(b, last)) {
        b.dirty = true;
        return makeHid(last, static_cast<uint32_t>(b.allocs.size()));
    }
    b.allocs.pop_back();
    if (blocks_.size() >= kMaxBlocks) return Error(err::kTooBig, "A table or item is too large for a PST heap.");
    // The block before a new one is written whole, padded to 8176 bytes.
    b.dirty = true;
    Block nb;
    nb.loaded = true;
    nb.dirty = true;
    nb.allocs.emplace_back(data.begin(), data.end());
    blocks_.push_back(std::move(nb));
    return makeHid(last + 1, 1);
}

Status HeapEditor::free(uint32_t hid) {
    const uint32_t bi = hidBlockIndex(hid), slot = hidIndex(hid);
    if (hidType(hid) != 0 || slot == 0) return corrupt("heap: " + hex(hid) + " is not a HID");
    auto bp = load(bi);
    if (!bp) return std::move(bp).error();
    if (slot > (*bp)->allocs.size()) return corrupt("heap: HID " + hex(hid) + " names no allocation");
    (*bp)->allocs[slot - 1].clear();
    (*bp)->dirty = true;
    changed_ = true;
    return {};
}

Bytes HeapEditor::build(uint32_t index, const Block& b, bool last) const {
    const size_t n = keptSlots(b.allocs);
    Bytes out(heapBlockHeaderSize(index), 0);
    HNPAGEMAP map;
    for (size_t i = 0; i < n; ++i) {
        map.rgibAlloc.push_back(static_cast<uint16_t>(out.size()));
        if (b.allocs[i].empty()) ++map.cFree;
        out.insert(out.end(), b.allocs[i].begin(), b.allocs[i].end());
    }
    map.rgibAlloc.push_back(static_cast<uint16_t>(out.size()));
    const uint16_t ibHnpm = static_cast<uint16_t>(align2(static_cast<uint32_t>(out.size())));
    out.resize(ibHnpm, 0);
    const Bytes pm = map.encode();
    out.insert(out.end(), pm.begin(), pm.end());
    switch (heapBlockKind(index)) {
        case HeapBlockKind::First: {
            HNHDR h;
            h.ibHnpm = ibHnpm;
            h.bClientSig = clientSig_;
            h.hidUserRoot = userRoot_;
            h.rgbFillLevel = headerFill_;
            (void)h.encode(out);
            break;
        }
        case HeapBlockKind::Bitmap: {
            HNBITMAPHDR h;
            h.ibHnpm = ibHnpm;
            h.rgbFillLevel = b.bitmapFill;
            (void)h.encode(out);
            break;
        }
        case HeapBlockKind::Page: (void)HNPAGEHDR{ibHnpm}.encode(out); break;
    }
    if (!last) out.resize(kHeapBlockSize, 0);
    return out;
}

Status HeapEditor::setFillLevel(uint32_t index, uint8_t level) {
    if (index < kFillLevelBlocksInHeader) {
        if (getFillLevel(headerFill_, index) == level) return {};
        ltp::setFillLevel(headerFill_, index, level);
        blocks_[0].dirty = true;
        return {};
    }
    const uint32_t bm = 8 + (index - 8) / kFillLevelBlocksInBitmap * kFillLevelBlocksInBitmap;
    auto bp = load(bm);
    if (!bp) return std::move(bp).error();
    if (getFillLevel((*bp)->bitmapFill, index - bm) == level) return {};
    ltp::setFillLevel((*bp)->bitmapFill, index - bm, level);
    (*bp)->dirty = true;
    return {};
}

Result<uint64_t> HeapEditor::commit() {
    if (!changed_) return bidData_;
    const uint32_t last = static_cast<uint32_t>(blocks_.size() - 1);
    // Fill levels first: they change the header blocks, which may then be
    // written too.
    std::vector<bool> levelled(blocks_.size(), false);
    for (bool again = true; again;) {
        again = false;
        for (uint32_t i = 0; i < blocks_.size(); ++i) {
            if (!blocks_[i].dirty || levelled[i]) continue;
            auto bp = load(i);
            if (!bp) return std::move(bp).error();
            levelled[i] = true;
            again = true;
            if (auto s = setFillLevel(i, heapFillLevel(used(**bp, i), kHeapBlockSize)); !s) return std::move(s).take();
        }
    }
    if (blocks_.size() == 1) {
        // The only block is the data itself.
        const Bytes bytes = build(0, blocks_[0], true);
        auto bid = ndb_->writeBlock(bytes, false);
        if (!bid) return std::move(bid).error();
        blocks_[0].bid = bidData_ = *bid;
        blocks_[0].dirty = changed_ = false;
        return bidData_;
    }
    ndb::DataTreeBuilder tree(*ndb_);
    for (uint32_t i = 0; i < blocks_.size(); ++i) {
        Block& b = blocks_[i];
        if (b.dirty) {
            const Bytes bytes = build(i, b, i == last);
            auto bid = ndb_->writeBlock(bytes, false);
            if (!bid) return std::move(bid).error();
            b.bid = *bid;
            b.dirty = false;
            tree.add(*bid, static_cast<uint32_t>(bytes.size()));
            continue;
        }
        auto cb = ndb_->blockSize(b.bid);
        if (!cb) return std::move(cb).error();
        ndb_->addRef(b.bid);
        tree.add(b.bid, *cb);
    }
    auto root = tree.finish();
    if (!root) return std::move(root).error();
    bidData_ = *root;
    changed_ = false;
    return bidData_;
}

// ---- BthEditor ----

Result<BthEditor> BthEditor::open(HeapEditor& heap, uint32_t headerHid) {
    auto a = heap.get(headerHid);
    if (!a) return std::move(a).error();
    auto h = BTHHEADER::decode(*a);
    if (!h || a->size() != BTHHEADER::kSize || h->bType != bTypeBTH) return corrupt("BTH at " + hex(headerHid) + " is malformed");
    if ((h->cbKey != 2 && h->cbKey != 4 && h->cbKey != 8) || h->cbEnt < 1 || h->cbEnt > 32 || h->bIdxLevels > 8)
        return corrupt("BTH at " + hex(headerHid) + " has keys or records that cannot be changed here");
    BthEditor e;
    e.heap_ = &heap;
    e.header_ = headerHid;
    e.hdr_ = *h;
    return e;
}

Result<BthEditor> BthEditor::create(HeapEditor& heap, uint8_t cbKey, uint8_t cbEnt) {
    BthEditor e;
    e.heap_ = &heap;
    e.hdr_.cbKey = cbKey;
    e.hdr_.cbEnt = cbEnt;
    auto hid = heap.allocate(e.hdr_.encode());
    if (!hid) return std::move(hid).error();
    e.header_ = *hid;
    return e;
}

uint64_t BthEditor::keyAt(ByteSpan records, size_t i, uint32_t size) const {
    return readKey(records.data() + i * size, hdr_.cbKey);
}

Status BthEditor::writeHeader() {
    auto hid = heap_->set(header_, hdr_.encode());
    if (!hid) return std::move(hid).error();
    if (*hid != header_) return editError("BTH header moved");
    return {};
}

Result<std::optional<Bytes>> BthEditor::find(uint64_t key) {
    uint32_t hid = hdr_.hidRoot;
    if (hid == 0) return std::optional<Bytes>();
    for (int level = hdr_.bIdxLevels;; --level) {
        auto a = heap_->get(hid);
        if (!a) return std::move(a).error();
        const uint32_t rec = level > 0 ? hdr_.cbKey + 4u : uint32_t(hdr_.cbKey) + hdr_.cbEnt;
        if (a->empty() || a->size() % rec != 0) return corrupt("BTH record array at " + hex(hid) + " is malformed");
        const size_t n = a->size() / rec;
        if (level == 0) {
            for (size_t i = 0; i < n; ++i)
                if (keyAt(*a, i, rec) == key)
                    return std::optional<Bytes>(Bytes(a->begin() + static_cast<ptrdiff_t>(i * rec + hdr_.cbKey),
                                                      a->begin() + static_cast<ptrdiff_t>((i + 1) * rec)));
            return std::optional<Bytes>();
        }
        size_t pick = 0;
        for (size_t i = 1; i < n && keyAt(*a, i, rec) <= key; ++i) pick = i;
        hid = loadLE32(a->data() + pick * rec + hdr_.cbKey);
    }
}

Result<BthEditor::Step> BthEditor::insert(uint32_t hid, int level, uint64_t key, ByteSpan record) {
    auto a = heap_->get(hid);
    if (!a) return std::move(a).error();
    Bytes bytes = std::move(a).value();
    const uint32_t rec = level > 0 ? hdr_.cbKey + 4u : uint32_t(hdr_.cbKey) + hdr_.cbEnt;
    if (bytes.empty() || bytes.size() % rec != 0) return corrupt("BTH record array at " + hex(hid) + " is malformed");
    const size_t n = bytes.size() / rec;
    if (level == 0) {
        size_t pos = 0;
        while (pos < n && keyAt(bytes, pos, rec) < key) ++pos;
        if (pos < n && keyAt(bytes, pos, rec) == key)
            std::memcpy(bytes.data() + pos * rec, record.data(), rec);
        else
            bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(pos * rec), record.begin(), record.end());
    } else {
        size_t pick = 0;
        for (size_t i = 1; i < n && keyAt(bytes, i, rec) <= key; ++i) pick = i;
        const uint32_t child = loadLE32(bytes.data() + pick * rec + hdr_.cbKey);
        auto sub = insert(child, level - 1, key, record);
        if (!sub) return sub;
        writeKey(bytes.data() + pick * rec, sub->firstKey, hdr_.cbKey);
        storeLE32(bytes.data() + pick * rec + hdr_.cbKey, sub->hid);
        if (sub->split) {
            uint8_t r[12] = {};
            writeKey(r, sub->split->first, hdr_.cbKey);
            storeLE32(r + hdr_.cbKey, sub->split->second);
            bytes.insert(bytes.begin() + static_cast<ptrdiff_t>((pick + 1) * rec), r, r + rec);
        }
    }
    Step out;
    if (bytes.size() <= kMaxHeapAlloc) {
        auto h = heap_->set(hid, bytes);
        if (!h) return std::move(h).error();
        out.hid = *h;
        out.firstKey = keyAt(bytes, 0, rec);
        return out;
    }
    // A full record array: the first part stays full, the rest goes to a
    // new sibling.
    const size_t keep = kMaxHeapAlloc / rec;
    const ByteSpan left = ByteSpan(bytes).first(keep * rec), right = ByteSpan(bytes).subspan(keep * rec);
    auto lh = heap_->set(hid, left);
    if (!lh) return std::move(lh).error();
    auto rh = heap_->allocate(right);
    if (!rh) return std::move(rh).error();
    out.hid = *lh;
    out.firstKey = keyAt(left, 0, rec);
    out.split = std::make_pair(keyAt(right, 0, rec), *rh);
    return out;
}

Status BthEditor::put(uint64_t key, ByteSpan data) {
    if (data.size() != hdr_.cbEnt) return editError("BTH record of the wrong size");
    uint8_t record[40] = {};
    writeKey(record, key, hdr_.cbKey);
    std::memcpy(record + hdr_.cbKey, data.data(), data.size());
    const ByteSpan rec(record, size_t(hdr_.cbKey) + hdr_.cbEnt);
    const BTHHEADER before = hdr_;
    if (hdr_.hidRoot == 0) {
        auto hid = heap_->allocate(rec);
        if (!hid) return std::move(hid).error();
        hdr_.hidRoot = *hid;
        hdr_.bIdxLevels = 0;
    } else {
        auto step = insert(hdr_.hidRoot, hdr_.bIdxLevels, key, rec);
        if (!step) return std::move(step).error();
        hdr_.hidRoot = step->hid;
        if (step->split) {
            if (hdr_.bIdxLevels >= 8) return editError("BTH too deep");
            uint8_t idx[24] = {};
            const uint32_t r = hdr_.cbKey + 4u;
            writeKey(idx, step->firstKey, hdr_.cbKey);
            storeLE32(idx + hdr_.cbKey, step->hid);
            writeKey(idx + r, step->split->first, hdr_.cbKey);
            storeLE32(idx + r + hdr_.cbKey, step->split->second);
            auto hid = heap_->allocate(ByteSpan(idx, 2 * r));
            if (!hid) return std::move(hid).error();
            hdr_.hidRoot = *hid;
            ++hdr_.bIdxLevels;
        }
    }
    if (hdr_ == before) return {};
    return writeHeader();
}

// ---- property contexts ----

Status setPcProperties(HeapEditor& heap, const std::vector<store::Property>& props) {
    if (heap.clientSig() != bTypePC) return corrupt("heap is not a property context");
    auto bth = BthEditor::open(heap, heap.userRoot());
    if (!bth) return std::move(bth).error();
    if (bth->header().cbKey != kPcKeySize || bth->header().cbEnt != kPcDataSize)
        return corrupt("property context BTH has the wrong record size");
    for (const store::Property& p : props) {
        const uint16_t type = p.type();
        auto old = bth->find(p.id());
        if (!old) return std::move(old).error();
        uint32_t oldHnid = 0;
        bool oldInline = true;
        if (*old) {
            const uint16_t oldType = loadLE16((*old)->data());
            oldHnid = loadLE32((*old)->data() + 2);
            oldInline = storedInline(oldType);
        }
        uint32_t value = 0;
        if (storedInline(type)) {
            value = type == store::PT_BOOLEAN ? (p.scalar ? 1u : 0u) : static_cast<uint32_t>(p.scalar);
            if (!oldInline && oldHnid != 0) {
                if (!hnidIsHid(oldHnid)) return Error(err::kNoSupport, "A property kept in a subnode cannot be changed here.");
                if (auto s = heap.free(oldHnid); !s) return s;
            }
        } else {
            Bytes data = p.data;
            if (store::fixedSize(type) == 8 && !store::isMultiValued(type)) {
                data.assign(8, 0);
                storeLE64(data.data(), p.scalar);
            }
            if (data.size() > kMaxHeapAlloc) return Error(err::kNoSupport, "A property value this large cannot be changed here.");
            if (!oldInline && oldHnid != 0 && !hnidIsHid(oldHnid))
                return Error(err::kNoSupport, "A property kept in a subnode cannot be changed here.");
            if (!oldInline && oldHnid != 0) {
                if (data.empty()) {
                    if (auto s = heap.free(oldHnid); !s) return s;
                } else {
                    auto hid = heap.set(oldHnid, data);
                    if (!hid) return std::move(hid).error();
                    value = *hid;
                }
            } else if (!data.empty()) {
                auto hid = heap.allocate(data);
                if (!hid) return std::move(hid).error();
                value = *hid;
            }
        }
        uint8_t rec[6];
        storeLE16(rec, type);
        storeLE32(rec + 2, value);
        if (auto s = bth->put(p.id(), ByteSpan(rec, 6)); !s) return s;
    }
    return {};
}

// ---- subnode trees ----

Result<std::vector<ndb::SubnodeInfo>> readSubnodeTree(ndb::NdbUpdater& ndb, uint64_t bidSub) {
    std::vector<ndb::SubnodeInfo> out;
    if (bidSub == 0) return out;
    if (!ndb::isInternalBid(bidSub)) return corrupt("subnode tree " + hex(bidSub) + " is not an internal block");
    auto raw = ndb.readBlock(bidSub);
    if (!raw) return std::move(raw).error();
    auto head = ndb::InternalBlockHead::decode(*raw);
    if (!head || head->btype != ndb::btypeSLBlock) return corrupt("subnode tree " + hex(bidSub) + " is malformed");
    auto addSl = [&](const ndb::SLBlock& sl) {
        for (const auto& e : sl.entries) out.push_back(ndb::SubnodeInfo{static_cast<uint32_t>(e.nid), e.bidData, e.bidSub});
    };
    if (head->cLevel == 0) {
        auto sl = ndb::SLBlock::decode(*raw);
        if (!sl) return std::move(sl).error();
        addSl(*sl);
    } else {
        auto si = ndb::SIBlock::decode(*raw);
        if (!si) return std::move(si).error();
        for (const auto& e : si->entries) {
            auto child = ndb.readBlock(e.bid);
            if (!child) return std::move(child).error();
            auto sl = ndb::SLBlock::decode(*child);
            if (!sl) return std::move(sl).error();
            addSl(*sl);
        }
    }
    std::sort(out.begin(), out.end(), [](const ndb::SubnodeInfo& a, const ndb::SubnodeInfo& b) { return a.nid < b.nid; });
    for (size_t i = 1; i < out.size(); ++i)
        if (out[i].nid == out[i - 1].nid) return corrupt("subnode tree " + hex(bidSub) + " names a subnode twice");
    return out;
}

Result<uint64_t> writeSubnodeTree(ndb::NdbUpdater& ndb, const std::vector<ndb::SubnodeInfo>& before,
                                  const std::vector<ndb::SubnodeInfo>& after) {
    std::vector<ndb::SubnodeEntry> entries;
    entries.reserve(after.size());
    for (const auto& e : after) {
        auto it = std::lower_bound(before.begin(), before.end(), e.nid,
                                   [](const ndb::SubnodeInfo& s, uint32_t n) { return s.nid < n; });
        if (it != before.end() && it->nid == e.nid) {
            if (it->bidData == e.bidData) ndb.addRef(e.bidData);
            if (it->bidSub == e.bidSub) ndb.addRef(e.bidSub);
        }
        entries.push_back(ndb::SubnodeEntry{e.nid, e.bidData, e.bidSub});
    }
    return ndb.writeSubnodes(entries);
}

// ---- TableEditor ----

Result<TableEditor> TableEditor::open(ndb::NdbUpdater& ndb, uint64_t bidData, uint64_t bidSub) {
    auto heap = HeapEditor::open(ndb, bidData);
    if (!heap) return std::move(heap).error();
    if (heap->clientSig() != bTypeTC) return corrupt("heap is not a table context");
    TableEditor t(ndb, std::move(heap).value());
    auto infoBytes = t.heap_.get(t.heap_.userRoot());
    if (!infoBytes) return std::move(infoBytes).error();
    auto info = TCINFO::decode(*infoBytes);
    if (!info) return std::move(info).error();
    t.info_ = std::move(info).value();
    const uint32_t rowSize = t.info_.rowSize();
    if (rowSize == 0 || rowSize > kHeapBlockSize) return corrupt("table rows of " + std::to_string(rowSize) + " bytes");
    for (const auto& c : t.info_.cols)
        if (uint32_t(c.ibData) + c.cbData > t.info_.rgib[TCI_1b] || c.iBit / 8u >= uint32_t(rowSize - t.info_.rgib[TCI_1b]))
            return corrupt("table column " + hex(c.tag) + " lies outside the row");
    auto index = BthEditor::open(t.heap_, t.info_.hidRowIndex);
    if (!index) return std::move(index).error();
    if (index->header().cbKey != 4 || index->header().cbEnt != 4) return corrupt("table row index has the wrong record size");
    t.index_.emplace(std::move(index).value());
    t.bidSub_ = bidSub;
    auto subs = readSubnodeTree(ndb, bidSub);
    if (!subs) return std::move(subs).error();
    t.subnodes_ = *subs;
    t.subnodesBefore_ = std::move(subs).value();
    const uint32_t hnid = t.info_.hnidRows;
    if (hnid == 0) {
        t.rows_ = 0;
    } else if (hnidIsHid(hnid)) {
        auto m = t.heap_.get(hnid);
        if (!m) return std::move(m).error();
        if (m->size() % rowSize != 0) return corrupt("table row matrix is not whole rows");
        t.heapMatrix_ = std::move(m).value();
        t.rows_ = static_cast<uint32_t>(t.heapMatrix_.size() / rowSize);
    } else {
        auto it = std::find_if(t.subnodes_.begin(), t.subnodes_.end(), [&](const ndb::SubnodeInfo& s) { return s.nid == hnid; });
        if (it == t.subnodes_.end()) return corrupt("table row matrix subnode " + hex(hnid) + " is missing");
        auto leaves = ndb.dataTreeLeaves(it->bidData);
        if (!leaves) return std::move(leaves).error();
        if (leaves->empty()) return corrupt("table row matrix subnode has no data");
        auto lastSize = ndb.blockSize(leaves->back());
        if (!lastSize) return std::move(lastSize).error();
        if (*lastSize % rowSize != 0) return corrupt("table row matrix block is not whole rows");
        t.inSubnode_ = true;
        t.matrixNid_ = hnid;
        t.matrixLeaves_ = std::move(leaves).value();
        t.matrix_.resize(t.matrixLeaves_.size());
        t.matrixDirty_.assign(t.matrixLeaves_.size(), false);
        t.rows_ = static_cast<uint32_t>((t.matrixLeaves_.size() - 1) * rowsPerBlock(rowSize, ndb::Flavour::Unicode) +
                                        *lastSize / rowSize);
    }
    return t;
}

std::vector<uint32_t> TableEditor::columnTags() const {
    std::vector<uint32_t> out;
    for (const auto& c : info_.cols) out.push_back(c.tag);
    return out;
}

uint32_t TableEditor::newSubnodeNid() {
    uint32_t top = 0;
    for (const auto& s : subnodes_)
        if (ndb::nidType(s.nid) == ndb::NID_TYPE_LTP) top = std::max(top, ndb::nidIndex(s.nid));
    return ndb::makeNid(ndb::NID_TYPE_LTP, top + 1);
}

Result<uint32_t> TableEditor::storeValue(ByteSpan data) {
    if (data.empty()) return uint32_t{0};
    if (data.size() <= kMaxHeapAlloc) return heap_.allocate(data);
    const uint32_t nid = newSubnodeNid();
    auto bid = ndb_->writeStream(data);
    if (!bid) return std::move(bid).error();
    subnodes_.push_back(ndb::SubnodeInfo{nid, *bid, 0});
    std::sort(subnodes_.begin(), subnodes_.end(), [](const ndb::SubnodeInfo& a, const ndb::SubnodeInfo& b) { return a.nid < b.nid; });
    subnodesChanged_ = true;
    return nid;
}

Status TableEditor::freeValue(uint32_t hnid) {
    if (hnid == 0) return {};
    if (hnidIsHid(hnid)) return heap_.free(hnid);
    std::erase_if(subnodes_, [&](const ndb::SubnodeInfo& s) { return s.nid == hnid; });
    subnodesChanged_ = true;
    return {};
}

Status TableEditor::encodeRow(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells, Bytes& row) {
    row.assign(info_.rowSize(), 0);
    const uint16_t ceb = info_.rgib[TCI_1b];
    for (const auto& c : info_.cols) {
        uint8_t* cell = row.data() + c.ibData;
        if (c.tag == PidTagLtpRowId || c.tag == PidTagLtpRowVer) {
            if (c.cbData != 4) return corrupt("table LTP column of the wrong size");
            storeLE32(cell, c.tag == PidTagLtpRowId ? rowId : rowVer);
            setCebBit(row, ceb, c.iBit, true);
            continue;
        }
        auto p = std::find_if(cells.begin(), cells.end(), [&](const store::Property& q) { return q.tag == c.tag; });
        if (p == cells.end()) continue;
        const uint16_t type = store::tagType(c.tag);
        switch (c.cbData) {
            case 8: storeLE64(cell, p->scalar); break;
            case 2: storeLE16(cell, static_cast<uint16_t>(p->scalar)); break;
            case 1: *cell = p->scalar ? 1 : 0; break;
            case 4:
                if (!store::isMultiValued(type) && store::fixedSize(type) == 4) {
                    storeLE32(cell, static_cast<uint32_t>(p->scalar));
                } else {
                    auto hnid = storeValue(p->data);
                    if (!hnid) return std::move(hnid).error();
                    storeLE32(cell, *hnid);
                }
                break;
            default: continue;
        }
        setCebBit(row, ceb, c.iBit, true);
    }
    return {};
}

Result<Bytes*> TableEditor::matrixBlock(size_t b) {
    if (b >= matrix_.size()) return corrupt("table row matrix has no block " + std::to_string(b));
    if (!matrix_[b]) {
        auto d = ndb_->readBlock(matrixLeaves_[b]);
        if (!d) return std::move(d).error();
        matrix_[b] = std::move(d).value();
    }
    return &*matrix_[b];
}

Status TableEditor::moveMatrixToSubnode(const Bytes& matrix) {
    const uint32_t rowSize = info_.rowSize();
    const uint32_t perBlock = rowsPerBlock(rowSize, ndb::Flavour::Unicode);
    const bool free0x3F = std::none_of(subnodes_.begin(), subnodes_.end(), [](const ndb::SubnodeInfo& s) { return s.nid == kRowMatrixNid; });
    matrixNid_ = free0x3F ? kRowMatrixNid : newSubnodeNid();
    const size_t rows = matrix.size() / rowSize;
    for (size_t r = 0; r < rows; r += perBlock) {
        const size_t n = std::min<size_t>(perBlock, rows - r);
        Bytes blk(matrix.begin() + static_cast<ptrdiff_t>(r * rowSize), matrix.begin() + static_cast<ptrdiff_t>((r + n) * rowSize));
        if (r + n < rows) blk.resize(kHeapBlockSize, 0);
        matrix_.emplace_back(std::move(blk));
        matrixLeaves_.push_back(0);
        matrixDirty_.push_back(true);
    }
    if (info_.hnidRows != 0)
        if (auto s = heap_.free(info_.hnidRows); !s) return s;
    heapMatrix_.clear();
    inSubnode_ = true;
    info_.hnidRows = matrixNid_;
    subnodes_.push_back(ndb::SubnodeInfo{matrixNid_, 0, 0});
    std::sort(subnodes_.begin(), subnodes_.end(), [](const ndb::SubnodeInfo& a, const ndb::SubnodeInfo& b) { return a.nid < b.nid; });
    subnodesChanged_ = true;
    auto hid = heap_.set(heap_.userRoot(), info_.encode());
    if (!hid) return std::move(hid).error();
    if (*hid != heap_.userRoot()) return editError("TCINFO moved");
    return {};
}

Status TableEditor::appendRow(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells) {
    Bytes row;
    if (auto s = encodeRow(rowId, rowVer, cells, row); !s) return s;
    const uint32_t rowSize = info_.rowSize();
    const uint32_t perBlock = rowsPerBlock(rowSize, ndb::Flavour::Unicode);
    changed_ = true;
    if (!inSubnode_) {
        Bytes grown = heapMatrix_;
        grown.insert(grown.end(), row.begin(), row.end());
        if (grown.size() > kMaxHeapAlloc) {
            if (auto s = moveMatrixToSubnode(grown); !s) return s;
        } else {
            const uint32_t old = info_.hnidRows;
            auto hid = old == 0 ? heap_.allocate(grown) : heap_.set(old, grown);
            if (!hid) return std::move(hid).error();
            heapMatrix_ = std::move(grown);
            if (*hid != old) {
                info_.hnidRows = *hid;
                auto h = heap_.set(heap_.userRoot(), info_.encode());
                if (!h) return std::move(h).error();
                if (*h != heap_.userRoot()) return editError("TCINFO moved");
            }
        }
    } else {
        auto last = matrixBlock(matrix_.size() - 1);
        if (!last) return std::move(last).error();
        Bytes& blk = **last;
        if (blk.size() / rowSize < perBlock) {
            blk.insert(blk.end(), row.begin(), row.end());
            matrixDirty_.back() = true;
        } else {
            // [MS-PST] 2.3.4.4: whole rows, zeros to 8176 bytes on every
            // block but the last.
            blk.resize(kHeapBlockSize, 0);
            matrixDirty_.back() = true;
            matrix_.emplace_back(row);
            matrixLeaves_.push_back(0);
            matrixDirty_.push_back(true);
        }
    }
    uint8_t index[4];
    storeLE32(index, rows_);
    if (auto s = index_->put(rowId, ByteSpan(index, 4)); !s) return s;
    ++rows_;
    return {};
}

Result<Bytes*> TableEditor::rowBytes(uint32_t index, size_t& offset) {
    const uint32_t rowSize = info_.rowSize();
    if (index >= rows_) return corrupt("table row " + std::to_string(index) + " does not exist");
    if (!inSubnode_) {
        offset = size_t(index) * rowSize;
        return &heapMatrix_;
    }
    const uint32_t perBlock = rowsPerBlock(rowSize, ndb::Flavour::Unicode);
    auto b = matrixBlock(index / perBlock);
    if (!b) return b;
    offset = size_t(index % perBlock) * rowSize;
    if (offset + rowSize > (*b)->size()) return corrupt("table row " + std::to_string(index) + " lies outside its block");
    return b;
}

Status TableEditor::setCells(uint32_t rowId, uint32_t rowVer, const std::vector<store::Property>& cells) {
    auto found = index_->find(rowId);
    if (!found) return std::move(found).error();
    if (!*found) return Error(err::kNotFound, "table row " + hex(rowId) + " does not exist");
    const uint32_t index = loadLE32((*found)->data());
    size_t offset = 0;
    auto bytes = rowBytes(index, offset);
    if (!bytes) return std::move(bytes).error();
    MutableByteSpan row((*bytes)->data() + offset, info_.rowSize());
    const uint16_t ceb = info_.rgib[TCI_1b];
    for (const auto& c : info_.cols) {
        uint8_t* cell = row.data() + c.ibData;
        if (c.tag == PidTagLtpRowVer) {
            storeLE32(cell, rowVer);
            continue;
        }
        auto p = std::find_if(cells.begin(), cells.end(), [&](const store::Property& q) { return q.tag == c.tag; });
        if (p == cells.end()) continue;
        const uint16_t type = store::tagType(c.tag);
        if (c.cbData == 4 && !(store::fixedSize(type) == 4 && !store::isMultiValued(type))) {
            if (cebBit(row, ceb, c.iBit))
                if (auto s = freeValue(loadLE32(cell)); !s) return s;
            auto hnid = storeValue(p->data);
            if (!hnid) return std::move(hnid).error();
            storeLE32(cell, *hnid);
        } else if (c.cbData == 8) {
            storeLE64(cell, p->scalar);
        } else if (c.cbData == 4) {
            storeLE32(cell, static_cast<uint32_t>(p->scalar));
        } else if (c.cbData == 2) {
            storeLE16(cell, static_cast<uint16_t>(p->scalar));
        } else if (c.cbData == 1) {
            *cell = p->scalar ? 1 : 0;
        }
        setCebBit(row, ceb, c.iBit, true);
    }
    if (inSubnode_) {
        const uint32_t perBlock = rowsPerBlock(info_.rowSize(), ndb::Flavour::Unicode);
        matrixDirty_[index / perBlock] = true;
    } else {
        auto hid = heap_.set(info_.hnidRows, heapMatrix_);
        if (!hid) return std::move(hid).error();
        if (*hid != info_.hnidRows) return editError("row matrix moved");
    }
    changed_ = true;
    return {};
}

Result<std::vector<store::Property>> TableEditor::cells(uint32_t rowId, std::span<const uint32_t> tags) {
    std::vector<store::Property> out;
    auto found = index_->find(rowId);
    if (!found) return std::move(found).error();
    if (!*found) return Error(err::kNotFound, "table row " + hex(rowId) + " does not exist");
    size_t offset = 0;
    auto bytes = rowBytes(loadLE32((*found)->data()), offset);
    if (!bytes) return std::move(bytes).error();
    const ByteSpan row = ByteSpan(**bytes).subspan(offset, info_.rowSize());
    for (const auto& c : info_.cols) {
        if (std::find(tags.begin(), tags.end(), c.tag) == tags.end() || !cebBit(row, info_.rgib[TCI_1b], c.iBit)) continue;
        store::Property p;
        p.tag = c.tag;
        const uint8_t* cell = row.data() + c.ibData;
        const uint16_t type = store::tagType(c.tag);
        if (c.cbData == 8) p.scalar = store::loadLE64(cell);
        else if (c.cbData == 2) p.scalar = loadLE16(cell);
        else if (c.cbData == 1) p.scalar = *cell;
        else if (store::fixedSize(type) == 4 && !store::isMultiValued(type)) p.scalar = loadLE32(cell);
        else if (const uint32_t hnid = loadLE32(cell); hnid != 0 && hnidIsHid(hnid)) {
            auto v = heap_.get(hnid);
            if (!v) return std::move(v).error();
            p.data = std::move(v).value();
        }
        out.push_back(std::move(p));
    }
    return out;
}

Result<std::pair<uint64_t, uint64_t>> TableEditor::commit() {
    if (inSubnode_ && std::find(matrixDirty_.begin(), matrixDirty_.end(), true) != matrixDirty_.end()) {
        ndb::DataTreeBuilder tree(*ndb_);
        for (size_t b = 0; b < matrix_.size(); ++b) {
            if (matrixDirty_[b]) {
                auto bid = ndb_->writeBlock(*matrix_[b], false);
                if (!bid) return std::move(bid).error();
                matrixLeaves_[b] = *bid;
                matrixDirty_[b] = false;
                tree.add(*bid, static_cast<uint32_t>(matrix_[b]->size()));
                continue;
            }
            auto cb = ndb_->blockSize(matrixLeaves_[b]);
            if (!cb) return std::move(cb).error();
            ndb_->addRef(matrixLeaves_[b]);
            tree.add(matrixLeaves_[b], *cb);
        }
        auto root = tree.finish();
        if (!root) return std::move(root).error();
        for (auto& s : subnodes_)
            if (s.nid == matrixNid_) s.bidData = *root;
        subnodesChanged_ = true;
    }
    uint64_t bidSub = bidSub_;
    if (subnodesChanged_) {
        auto sub = writeSubnodeTree(*ndb_, subnodesBefore_, subnodes_);
        if (!sub) return std::move(sub).error();
        bidSub = *sub;
    }
    auto data = heap_.commit();
    if (!data) return std::move(data).error();
    changed_ = false;
    return std::make_pair(*data, bidSub);
}

}  // namespace tavrin::pst::ltp
