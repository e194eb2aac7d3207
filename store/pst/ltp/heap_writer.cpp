#include "store/pst/ltp/heap_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tavrin::pst::ltp {

namespace {

constexpr uint32_t kMaxAllocsPerBlock = 0x7FF;  // hidIndex is 11 bits
constexpr uint32_t kMaxBlocks = 0x10000;        // hidBlockIndex is 16 bits

constexpr size_t align2(size_t v) { return (v + 1) & ~size_t(1); }

Error heapError(const std::string& what) { return Error(err::kCallFailed, "PST heap writer: " + what); }

}  // namespace

HeapWriter::HeapWriter(uint8_t clientSig, BlockSink sink) : clientSig_(clientSig), sink_(std::move(sink)) {
    openBlock();
}

// A block is at most kHeapBlockSize bytes: room for all of it at once, so
// that allocations do not grow it step by step.
void HeapWriter::openBlock() {
    open_ = Block{};
    open_.bytes.reserve(kHeapBlockSize);
    open_.bytes.assign(heapBlockHeaderSize(current_), 0);
    open_.starts.reserve(32);
}

bool HeapWriter::kept(uint32_t block) const { return !sink_ || heapBlockKind(block) != HeapBlockKind::Page; }

Result<uint32_t> HeapWriter::place(size_t size, const uint8_t* data) {
    if (finished_) return heapError("allocation after finish");
    if (size > kMaxHeapAlloc) return heapError("allocation larger than 3580 bytes");
    auto fits = [&] {
        const size_t n = open_.starts.size();
        // [MS-PST] 2.3.1.5 HNPAGEMAP: cAlloc, cFree, rgibAlloc[cAlloc + 1].
        return n + 1 <= kMaxAllocsPerBlock && align2(open_.bytes.size() + size) + 4 + 2 * (n + 2) <= kHeapBlockSize;
    };
    if (!fits()) {
        if (current_ + 1 >= kMaxBlocks) return Error(err::kTooBig, "A table or item is too large for a PST heap.");
        if (auto s = closeBlock(false); !s) return std::move(s).take();
        ++current_;
        openBlock();
    }
    const size_t start = open_.bytes.size();
    open_.starts.push_back(static_cast<uint16_t>(start));
    if (data)
        open_.bytes.insert(open_.bytes.end(), data, data + size);
    else
        open_.bytes.resize(start + size, 0);
    return makeHid(current_, static_cast<uint32_t>(open_.starts.size()));
}

Result<uint32_t> HeapWriter::allocate(ByteSpan data) { return place(data.size(), data.data()); }
Result<uint32_t> HeapWriter::reserve(size_t size) { return place(size, nullptr); }

Status HeapWriter::closeBlock(bool last) {
    Block& b = open_;
    const size_t end = b.bytes.size();
    const size_t ibHnpm = align2(end);
    // [MS-PST] 2.3.1.5 HNPAGEMAP; cFree 0: a new heap has no freed slots.
    HNPAGEMAP map;
    map.rgibAlloc.assign(b.starts.begin(), b.starts.end());
    map.rgibAlloc.push_back(static_cast<uint16_t>(end));
    const Bytes pm = map.encode();
    b.bytes.resize(ibHnpm, 0);
    b.bytes.insert(b.bytes.end(), pm.begin(), pm.end());
    // Every block header begins with ibHnpm; the rest of the first and the
    // bitmap blocks' headers is filled in by finish().
    (void)HNPAGEHDR{static_cast<uint16_t>(ibHnpm)}.encode(b.bytes);
    b.closed = true;
    fill_.push_back(heapFillLevel(static_cast<uint32_t>(b.bytes.size()), kHeapBlockSize));
    // As Outlook lays out a heap that spans blocks: the page map right
    // after the last allocation, then zeros to the end of a whole block,
    // on every block but the last ([MS-PST] 2.2.2.8.3.2: readers count a
    // data tree's blocks from its total size).
    if (!last) b.bytes.resize(kHeapBlockSize, 0);
    if (kept(current_)) {
        keptBlocks_[current_] = std::move(b);
        return {};
    }
    Bytes bytes = std::move(b.bytes);
    return sink_(current_, std::move(bytes));
}

Status HeapWriter::patch(uint32_t hid, size_t offset, ByteSpan data) {
    if (finished_) return heapError("patch after finish");
    const uint32_t block = hid >> 16, index = (hid >> 5) & 0x7FF;
    Block* b = nullptr;
    if (block == current_ && !open_.closed)
        b = &open_;
    else if (auto it = keptBlocks_.find(block); it != keptBlocks_.end())
        b = &it->second;
    if (!b || index == 0 || index > b->starts.size()) return heapError("patch of an allocation no longer in memory");
    const size_t start = b->starts[index - 1];
    size_t end;
    if (index < b->starts.size())
        end = b->starts[index];
    else if (b->closed)
        end = store::loadLE16(b->bytes.data() + store::loadLE16(b->bytes.data()) + 4 + 2 * b->starts.size());
    else
        end = b->bytes.size();
    if (offset > end - start || data.size() > end - start - offset) return heapError("patch outside its allocation");
    std::memcpy(b->bytes.data() + start + offset, data.data(), data.size());
    return {};
}

Result<HeapWriter::Location> HeapWriter::locate(uint32_t hid) const {
    const uint32_t block = hid >> 16, index = (hid >> 5) & 0x7FF;
    auto it = keptBlocks_.find(block);
    if (it == keptBlocks_.end() || index == 0 || index > it->second.starts.size())
        return heapError("allocation not in memory");
    return Location{block, it->second.starts[index - 1]};
}

Result<std::vector<std::pair<uint32_t, Bytes>>> HeapWriter::finish() {
    if (finished_) return heapError("finished twice");
    if (auto s = closeBlock(true); !s) return std::move(s).take();
    finished_ = true;
    // Fill levels of blocks that do not exist are 0.
    auto levelOf = [&](uint32_t b) -> uint8_t { return b < fill_.size() ? fill_[b] : 0; };
    std::vector<std::pair<uint32_t, Bytes>> out;
    for (auto& [index, b] : keptBlocks_) {
        const uint16_t ibHnpm = store::loadLE16(b.bytes.data());
        if (index == 0) {
            HNHDR h;
            h.ibHnpm = ibHnpm;
            h.bClientSig = clientSig_;
            h.hidUserRoot = userRoot_;
            for (uint32_t i = 0; i < kFillLevelBlocksInHeader; ++i) setFillLevel(h.rgbFillLevel, i, levelOf(i));
            (void)h.encode(b.bytes);
        } else if (heapBlockKind(index) == HeapBlockKind::Bitmap) {
            HNBITMAPHDR h;
            h.ibHnpm = ibHnpm;
            for (uint32_t i = 0; i < kFillLevelBlocksInBitmap; ++i) setFillLevel(h.rgbFillLevel, i, levelOf(index + i));
            (void)h.encode(b.bytes);
        }
        // finish() hands the blocks over: only their allocation offsets
        // stay (for locate()).
        out.emplace_back(index, std::move(b.bytes));
    }
    return out;
}

BthWriter::BthWriter(HeapWriter& heap, uint8_t cbKey, uint8_t cbEnt) : heap_(heap), cbKey_(cbKey), cbEnt_(cbEnt) {
    auto h = heap_.reserve(8);
    if (!h) {
        error_ = std::move(h).error();
        return;
    }
    header_ = *h;
}

void BthWriter::reserveLeaf(size_t expectedRecords) {
    if (!error_ || count_ > 0 || reservedLeaf_) return;
    const size_t rec = size_t(cbKey_) + cbEnt_;
    if (expectedRecords > 0 && expectedRecords * rec <= kMaxHeapAlloc) {
        auto l = heap_.reserve(expectedRecords * rec);
        if (!l) {
            error_ = std::move(l).error();
            return;
        }
        reservedLeaf_ = *l;
        reservedCount_ = expectedRecords;
        leaf_.reserve(expectedRecords * rec);
    }
}

Status BthWriter::add(uint64_t key, ByteSpan data) {
    if (!error_) return error_;
    if (any_ && key <= lastKey_) return error_ = heapError("BTH keys out of order");
    if (data.size() != cbEnt_) return error_ = heapError("BTH record of the wrong size");
    any_ = true;
    lastKey_ = key;
    const size_t rec = size_t(cbKey_) + cbEnt_;
    if (reservedLeaf_) {
        // Gathered here, and put into the reserved leaf at once by finish().
        if (count_ >= reservedCount_) return error_ = heapError("more BTH records than announced");
    } else if (leaf_.size() + rec > kMaxHeapAlloc) {
        if (auto s = flushLeaf(); !s) return s;
    }
    if (leaf_.empty()) leafFirstKey_ = key;
    const size_t at = leaf_.size();
    leaf_.resize(at + rec);
    for (uint8_t i = 0; i < cbKey_; ++i) leaf_[at + i] = i < 8 ? static_cast<uint8_t>(key >> (8 * i)) : 0;
    std::memcpy(leaf_.data() + at + cbKey_, data.data(), cbEnt_);
    ++count_;
    return {};
}

std::pair<uint32_t, size_t> BthWriter::recordLocation(size_t i) const {
    const size_t rec = size_t(cbKey_) + cbEnt_;
    if (reservedLeaf_) return {reservedLeaf_, i * rec};
    const size_t perLeaf = kMaxHeapAlloc / rec;
    const size_t leaf = i / perLeaf;
    if (leaf >= leaves_.size()) return {0, 0};
    return {leaves_[leaf].second, (i % perLeaf) * rec};
}

Status BthWriter::flushLeaf() {
    auto hid = heap_.allocate(leaf_);
    if (!hid) return error_ = std::move(hid).error();
    leaves_.emplace_back(leafFirstKey_, *hid);
    leaf_.clear();
    return {};
}

// [MS-PST] 2.3.2.1 BTHHEADER, 2.3.2.2 intermediate and 2.3.2.3 leaf records.
Status BthWriter::finish() {
    if (!error_) return error_;
    uint32_t root = 0;
    uint8_t levels = 0;
    if (reservedLeaf_) {
        if (count_ != reservedCount_) return error_ = heapError("fewer BTH records than announced");
        if (auto s = heap_.patch(reservedLeaf_, 0, leaf_); !s) return error_ = s.error();
        root = reservedLeaf_;
    } else {
        if (!leaf_.empty())
            if (auto s = flushLeaf(); !s) return s;
        std::vector<std::pair<uint64_t, uint32_t>> level = leaves_;
        const size_t rec = size_t(cbKey_) + 4;
        const size_t perNode = kMaxHeapAlloc / rec;
        while (level.size() > 1) {
            std::vector<std::pair<uint64_t, uint32_t>> up;
            for (size_t off = 0; off < level.size(); off += perNode) {
                const size_t n = std::min(perNode, level.size() - off);
                Bytes node(n * rec, 0);
                for (size_t i = 0; i < n; ++i) {
                    for (uint8_t k = 0; k < cbKey_ && k < 8; ++k)
                        node[i * rec + k] = static_cast<uint8_t>(level[off + i].first >> (8 * k));
                    store::storeLE32(&node[i * rec + cbKey_], level[off + i].second);
                }
                auto hid = heap_.allocate(node);
                if (!hid) return error_ = std::move(hid).error();
                up.emplace_back(level[off].first, *hid);
            }
            level = std::move(up);
            ++levels;
        }
        if (!level.empty()) root = level[0].second;
    }
    BTHHEADER h;
    h.cbKey = cbKey_;
    h.cbEnt = cbEnt_;
    h.bIdxLevels = levels;
    h.hidRoot = root;
    return heap_.patch(header_, 0, h.encode());
}

}  // namespace tavrin::pst::ltp
