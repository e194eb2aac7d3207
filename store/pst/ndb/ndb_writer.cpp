#include "store/pst/ndb/ndb_writer.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"

namespace tavrin::pst::ndb {


namespace {

constexpr uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

Error writerError(const std::string& what) { return Error(err::kCallFailed, "PST writer: " + what); }

// A write buffer grows without its bytes being touched; these then copy or
// zero them in one go (the allocator would take them one by one).
void append(WriteBuffer& b, ByteSpan data) {
    const size_t at = b.size();
    b.resize(at + data.size());
    if (!data.empty()) std::memcpy(b.data() + at, data.data(), data.size());
}
void growZeroed(WriteBuffer& b, size_t size) {
    const size_t at = b.size();
    if (size <= at) return;
    b.resize(size);
    std::memset(b.data() + at, 0, size - at);
}
}  // namespace

// A B-tree written bottom-up from entries in ascending key order
// ([MS-PST] 2.2.2.7.7): one partial page per level; a page goes to disk
// when an entry arrives that no longer fits, so that the last page of the
// top level, still in memory at the end, becomes the root.
class BTreeStream {
public:
    BTreeStream(NdbWriter& w, uint8_t ptype, uint8_t leafEntrySize, uint8_t leafMax)
        : w_(w), ptype_(ptype), leafSize_(leafEntrySize), leafMax_(leafMax) {}

    Status add(uint64_t key, ByteSpan entry) {
        if (any_ && key <= lastKey_) return writerError("B-tree keys out of order");
        any_ = true;
        lastKey_ = key;
        return push(0, key, entry);
    }

    Result<Bref> finish() {
        if (levels_.empty()) return writerError("empty B-tree");
        for (size_t lv = 0;; ++lv) {
            Level& L = levels_[lv];
            const bool top = lv + 1 == levels_.size();
            auto bref = writeLevel(lv);
            if (!bref) return bref;
            if (top && L.pages == 0) return bref;
            ++L.pages;
            L.count = 0;
            const uint64_t first = L.firstKey;
            uint8_t e[kBTEntrySize];
            encodeBTEntry(e, first, *bref);
            if (auto s = push(lv + 1, first, ByteSpan(e, sizeof e)); !s) return std::move(s).take();
        }
    }

private:
    struct Level {
        std::array<uint8_t, kBTEntriesBytes> entries{};
        uint8_t count = 0;
        uint64_t firstKey = 0;
        uint64_t pages = 0;
    };

    // [MS-PST] 2.2.2.7.7.2 BTENTRY.
    static void encodeBTEntry(uint8_t* e, uint64_t key, const Bref& child) {
        BTEntry{key, child}.encode(MutableByteSpan(e, kBTEntrySize));
    }

    Status push(size_t lv, uint64_t key, ByteSpan entry) {
        if (lv >= levels_.size()) levels_.resize(lv + 1);
        const uint8_t max = lv == 0 ? leafMax_ : kBTEntryMax;
        const uint8_t size = lv == 0 ? leafSize_ : kBTEntrySize;
        if (levels_[lv].count == max) {
            auto bref = writeLevel(lv);
            if (!bref) return std::move(bref).error();
            Level& L = levels_[lv];
            ++L.pages;
            const uint64_t first = L.firstKey;
            L.count = 0;
            uint8_t e[kBTEntrySize];
            encodeBTEntry(e, first, *bref);
            if (auto s = push(lv + 1, first, ByteSpan(e, sizeof e)); !s) return s;
        }
        Level& L = levels_[lv];
        if (L.count == 0) {
            L.firstKey = key;
            L.entries.fill(0);
        }
        std::memcpy(L.entries.data() + size_t(L.count) * size, entry.data(), size);
        ++L.count;
        return {};
    }

    // [MS-PST] 2.2.2.7.7.1 BTPAGE.
    Result<Bref> writeLevel(size_t lv) {
        const Level& L = levels_[lv];
        std::array<uint8_t, kPageSize> page{};
        std::memcpy(page.data(), L.entries.data(), kBTEntriesBytes);
        BTPageInfo info;
        info.cEnt = L.count;
        info.cEntMax = lv == 0 ? leafMax_ : kBTEntryMax;
        info.cbEnt = lv == 0 ? leafSize_ : kBTEntrySize;
        info.cLevel = static_cast<uint8_t>(lv);
        (void)info.encode(page);
        return w_.writePage(ptype_, page);
    }

    NdbWriter& w_;
    uint8_t ptype_;
    uint8_t leafSize_;
    uint8_t leafMax_;
    std::vector<Level> levels_;
    bool any_ = false;
    uint64_t lastKey_ = 0;
};

// The thread that encodes, checksums and writes the buffers, in the order
// they are given. At most `limit` bytes wait; the writer waits for room.
class NdbWriter::Background {
public:
    struct Job {
        uint64_t offset = 0;
        WriteBuffer data;
        std::vector<Deferred> blocks;
        std::vector<std::shared_ptr<const Bytes>> held;  // released once written
    };
    Background(fs::FileSink& sink, uint8_t cryptMethod, size_t limit)
        : sink_(sink), crypt_(cryptMethod), limit_(limit), thread_([this] { run(); }) {}
    ~Background() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            queue_.clear();  // an abandoned file: what waits is not written
        }
        work_.notify_all();
        thread_.join();
    }
    Status submit(Job&& job) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return waiting_ <= limit_ || failure_.failed(); });
        if (failure_.failed()) return failure_;
        waiting_ += job.data.size();
        queue_.push_back(std::move(job));
        work_.notify_one();
        return {};
    }
    // Waits until everything given has been written.
    Status drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return (queue_.empty() && !busy_) || failure_.failed(); });
        return failure_;
    }
    Error failure() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return failure_;
    }
    // A buffer written before, for the next one (none: a new one).
    WriteBuffer spare() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (spares_.empty()) return {};
        WriteBuffer b = std::move(spares_.back());
        spares_.pop_back();
        b.clear();
        return b;
    }

private:
    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                work_.wait(lock, [&] { return stop_ || !queue_.empty(); });
                if (stop_) return;
                job = std::move(queue_.front());
                queue_.pop_front();
                busy_ = true;
            }
            const Status s = process(job);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                busy_ = false;
                waiting_ -= job.data.size();
                if (!s.ok() && !failure_.failed()) {
                    failure_ = s.error();
                    queue_.clear();
                    waiting_ = 0;
                }
                if (spares_.size() < 2) spares_.push_back(std::move(job.data));
            }
            room_.notify_all();
        }
    }
    Status process(Job& job) {
        for (const Deferred& d : job.blocks) {
            // [MS-PST] 2.2.2.8.1 block: the data encoded in place, then the
            // BLOCKTRAILER (2.2.2.8.2), whose CRC is taken over the data as
            // stored.
            const MutableByteSpan block(job.data.data() + (d.ib - job.offset), d.total);
            BlockTrailer trailer;
            trailer.cb = static_cast<uint16_t>(d.cb);
            trailer.wSig = computeSig(d.ib, d.bid);
            trailer.bid = d.bid;
            const ByteSpan from(d.src ? d.src : block.data(), d.cb);
            if (!encodeBlockCopy(d.internal ? kCryptNone : crypt_, from, block.first(d.cb), d.bid, trailer.dwCRC))
                return writerError("unknown encoding");
            (void)trailer.encode(block.last(kBlockTrailerSize));
        }
        if (auto s = sink_.writeAt(job.offset, job.data); !s) return s;
        // The system is asked to write out every few megabytes as they come,
        // so that the flush that completes the file has little left to wait
        // for.
        wbBegin_ = std::min(wbBegin_, job.offset);
        wbEnd_ = std::max(wbEnd_, job.offset + job.data.size());
        wbBytes_ += job.data.size();
        if (wbBytes_ >= kWritebackEvery) {
            sink_.startWriteback(wbBegin_, wbEnd_ - wbBegin_);
            wbBegin_ = UINT64_MAX;
            wbEnd_ = 0;
            wbBytes_ = 0;
        }
        return {};
    }
    static constexpr uint64_t kWritebackEvery = uint64_t(4) << 20;
    uint64_t wbBegin_ = UINT64_MAX, wbEnd_ = 0, wbBytes_ = 0;  // the I/O thread's own

    fs::FileSink& sink_;
    const uint8_t crypt_;
    const size_t limit_;
    mutable std::mutex mutex_;
    std::condition_variable work_, room_;
    std::deque<Job> queue_;
    std::vector<WriteBuffer> spares_;
    size_t waiting_ = 0;
    bool busy_ = false;
    bool stop_ = false;
    Error failure_;
    std::thread thread_;  // last: started once the rest is set up
};

NdbWriter::NdbWriter(fs::FileSink& sink, NdbOptions options)
    : sink_(sink),
      opt_(options),
      background_(std::make_unique<Background>(sink_, opt_.cryptMethod, 4 * opt_.writeBuffer)) {
    buf_.reserve(opt_.writeBuffer + kMaxBlockSize);
    bbt_ = std::make_unique<BTreeStream>(*this, ptypeBBT, kBBTEntrySize, kBBTEntryMax);
    openSection(0);
}

NdbWriter::~NdbWriter() = default;

const Error& NdbWriter::error() const {
    if (!failure_.failed()) failure_ = background_->failure();
    return failure_;
}

// Writes bytes outside the buffer: in order with the buffers already given
// to the background thread.
Status NdbWriter::write(uint64_t ib, ByteSpan data) {
    Background::Job job;
    job.offset = ib;
    append(job.data, data);
    return background_->submit(std::move(job));
}

uint64_t NdbWriter::fileEnd() const { return amapOffset(section_) + kAMapCoverage; }

Status NdbWriter::fail(Error e) {
    if (!failure_.failed()) failure_ = std::move(e);
    return failure_;
}

void NdbWriter::openSection(uint64_t k) {
    const uint64_t base = amapOffset(k);
    amap_.fill(0);
    amap_[0] = 0xFF;  // the AMap page maps itself ([MS-PST] 2.2.2.7.2)
    cursor_ = base + kPageSize;
    if (sectionHasPMap(k)) {
        // [MS-PST] 2.2.2.7.3: deprecated by the DList but still required at
        // its interval; every page reported in use, as newer Outlook writes.
        amap_[1] = 0xFF;
        (void)put(pmapOffset(k), MapPage::sealed(MapPage::allSet(), ptypePMap, pmapOffset(k)));
        cursor_ = pmapOffset(k) + kPageSize;
    }
    // FMap and FPMap never fall in the same section (k = 128 and 256 mod
    // 496); each takes the page after the PMap.
    if (sectionHasFMap(k)) {
        fmapPages_.push_back(fmapOffset(k));  // written at finish(), when every run is known
        amap_[2] = 0xFF;
        cursor_ = fmapOffset(k) + kPageSize;
    }
    if (sectionHasFPMap(k)) {
        // [MS-PST] 2.2.2.7.6: one bit per PMap; like the PMaps, all set.
        amap_[2] = 0xFF;
        (void)put(fpmapOffset(k), MapPage::sealed(MapPage::allSet(), ptypeFPMap, fpmapOffset(k)));
        cursor_ = fpmapOffset(k) + kPageSize;
    }
}

Status NdbWriter::closeSection() {
    const uint64_t base = amapOffset(section_);
    // Whole bytes of slots in use or free (nearly all of them) at once;
    // the bits of the others one by one, the first slot in the high bit.
    uint32_t zeros = 0, run = 0, longest = 0;
    for (const uint8_t byte : amap_) {
        if (byte == 0xFF) {
            run = 0;
        } else if (byte == 0) {
            zeros += 8;
            run += 8;
        } else {
            for (int bit = 7; bit >= 0; --bit) {
                if (byte & (1u << bit)) {
                    run = 0;
                } else {
                    ++zeros;
                    longest = std::max(longest, ++run);
                }
            }
        }
        longest = std::max(longest, run);
    }
    freeSlots_ += zeros;
    longestRun_.push_back(static_cast<uint8_t>(std::min<uint32_t>(longest, 255)));
    return put(base, MapPage::sealed(amap_, ptypeAMap, base));
}

// Marks `count` slots from `first` in use: the first slot of a byte is its
// high bit.
void NdbWriter::markSlots(uint64_t first, uint64_t count) {
    uint64_t s = first;
    const uint64_t e = first + count;
    for (; s < e && s % 8 != 0; ++s) amap_[s / 8] |= static_cast<uint8_t>(0x80 >> (s % 8));
    if (e - s >= 8) {
        std::memset(amap_.data() + s / 8, 0xFF, (e - s) / 8);
        s += (e - s) / 8 * 8;
    }
    for (; s < e; ++s) amap_[s / 8] |= static_cast<uint8_t>(0x80 >> (s % 8));
}

Result<uint64_t> NdbWriter::allocate(uint64_t size, uint64_t align) {
    for (;;) {
        const uint64_t base = amapOffset(section_);
        const uint64_t pos = alignUp(cursor_, align);
        if (pos + size <= base + kAMapCoverage) {
            markSlots((pos - base) / kSlotSize, size / kSlotSize);
            cursor_ = pos + size;
            return pos;
        }
        if (auto s = closeSection(); !s) return std::move(s).take();
        openSection(++section_);
    }
}

Status NdbWriter::put(uint64_t ib, ByteSpan data, bool mayFlush) {
    if (failure_.failed()) return failure_;
    const uint64_t end = bufStart_ + buf_.size();
    if (!buf_.empty() && ib >= bufStart_ && ib <= end + 65536) {
        const size_t off = static_cast<size_t>(ib - bufStart_);
        growZeroed(buf_, off);  // a gap reads as zeros
        // What lands inside the buffer is copied over; the rest is appended
        // (not zeroed first).
        const size_t inside = std::min(data.size(), buf_.size() - off);
        if (inside) std::memcpy(buf_.data() + off, data.data(), inside);
        append(buf_, data.subspan(inside));
        if (mayFlush && buf_.size() >= opt_.writeBuffer) return flushBuffer();
        return {};
    }
    if (!buf_.empty() && ib < end && ib + data.size() > bufStart_) {
        // Overlaps the buffer from below: cannot happen with this allocator.
        return fail(writerError("overlapping write"));
    }
    if (!buf_.empty() && ib < bufStart_) {
        // A page of a section that has already left the buffer.
        if (auto s = write(ib, data); !s) return fail(s.error());
        return {};
    }
    if (auto s = flushBuffer(); !s) return s;
    bufStart_ = ib;
    buf_.clear();
    append(buf_, data);
    return {};
}

Result<const uint8_t*> NdbWriter::putBlock(uint64_t ib, ByteSpan data, size_t total,
                                           const std::shared_ptr<const Bytes>* held) {
    if (failure_.failed()) return failure_;
    // The usual case, the block just after (or a little after) the bytes
    // in the buffer, or first in an empty one: copied once, straight from
    // the caller's bytes, or not at all when they are held.
    if (buf_.empty()) bufStart_ = ib;
    if (ib >= bufStart_ + buf_.size() && ib <= bufStart_ + buf_.size() + 65536) {
        const size_t off = static_cast<size_t>(ib - bufStart_);
        growZeroed(buf_, off);  // a gap reads as zeros
        if (held) {
            buf_.resize(off + data.size());  // filled in by the writing thread
            if (held_.empty() || held_.back() != *held) held_.push_back(*held);
        } else {
            append(buf_, data);
        }
        growZeroed(buf_, off + total);  // the padding and the trailer's room
        if (held) return data.data();
        return static_cast<const uint8_t*>(nullptr);
    }
    uint8_t block[kMaxBlockSize];
    std::memcpy(block, data.data(), data.size());
    std::memset(block + data.size(), 0, total - data.size());
    if (auto s = put(ib, ByteSpan(block, total), false); !s) return s.error();
    return static_cast<const uint8_t*>(nullptr);
}

Status NdbWriter::flushBuffer() {
    if (failure_.failed()) return failure_;
    if (buf_.empty()) return {};
    Background::Job job;
    job.offset = bufStart_;
    job.data = std::move(buf_);
    job.blocks = std::move(deferred_);
    deferred_.clear();
    job.held = std::move(held_);
    held_.clear();
    bufStart_ += job.data.size();
    buf_ = background_->spare();
    buf_.reserve(opt_.writeBuffer + kMaxBlockSize);
    if (auto s = background_->submit(std::move(job)); !s) return fail(s.error());
    return {};
}

Result<Bref> NdbWriter::writePage(uint8_t ptype, MutableByteSpan page) {
    if (failure_.failed()) return failure_;
    auto ib = allocate(kPageSize, kPageSize);
    if (!ib) return fail(std::move(ib).error()).error();
    const uint64_t bid = nextPage_++;
    (void)sealPage(page, ptype, bid, *ib);
    if (auto s = put(*ib, page); !s) return s.error();
    return Bref{bid, *ib};
}

Result<uint64_t> NdbWriter::writeBlock(ByteSpan data, bool internal, uint16_t references) {
    return writeBlockFrom(data, internal, references, nullptr);
}

Result<uint64_t> NdbWriter::writeStreamTaking(Bytes&& data, uint64_t* external, uint16_t references) {
    if (data.empty() || data.size() > kMaxStreamSize) return writeStream(data, external, references);
    const auto held = std::make_shared<const Bytes>(std::move(data));
    const ByteSpan all(*held);
    if (external) *external += all.size();
    if (all.size() <= kMaxBlockData) return writeBlockFrom(all, false, references, &held);
    DataTreeBuilder tree(*this);
    for (size_t off = 0; off < all.size(); off += kMaxBlockData) {
        const size_t n = std::min<size_t>(kMaxBlockData, all.size() - off);
        auto bid = writeBlockFrom(all.subspan(off, n), false, 1, &held);
        if (!bid) return bid;
        tree.add(*bid, static_cast<uint32_t>(n));
    }
    return tree.finish();
}

Result<uint64_t> NdbWriter::writeBlockFrom(ByteSpan data, bool internal, uint16_t references,
                                           const std::shared_ptr<const Bytes>* held) {
    if (failure_.failed()) return failure_;
    if (finished_) return writerError("block written after finish");
    if (data.size() > kMaxBlockData) return writerError("block larger than 8176 bytes");
    if (references == 0xFFFF) return writerError("too many references to one block");
    const uint64_t bid = nextBid_ | (internal ? kBidInternal : 0);
    nextBid_ += kBidIncrement;
    const uint32_t cb = static_cast<uint32_t>(data.size());
    const uint64_t total = alignUp(cb + kBlockTrailerSize, kBlockAlign);
    auto ib = allocate(total, kBlockAlign);
    if (!ib) return fail(std::move(ib).error()).error();

    // [MS-PST] 2.2.2.8.1 block: data, padding, BLOCKTRAILER (2.2.2.8.2).
    // The data goes into the write buffer as given; the writing thread
    // encodes it and adds the trailer with the CRC of the stored bytes.
    if (cryptMethod() > kCryptCyclic) return fail(writerError("unknown encoding")).error();
    auto src = putBlock(*ib, data, static_cast<size_t>(total), held);
    if (!src) return std::move(src).error();
    // The block lies in the current buffer (put starts a new one for a block
    // beyond it): encoded when the buffer is written.
    deferred_.push_back({*ib, cb, static_cast<uint32_t>(total), bid, internal, *src});
    if (buf_.size() >= opt_.writeBuffer)
        if (auto s = flushBuffer(); !s) return s.error();

    // [MS-PST] 2.2.2.7.7.3 BBTENTRY.
    BBTEntry entry;
    entry.bref = Bref{bid, *ib};
    entry.cb = static_cast<uint16_t>(cb);
    entry.cRef = static_cast<uint16_t>(references + 1);
    uint8_t e[kBBTEntrySize] = {};
    (void)entry.encode(MutableByteSpan(e, sizeof e));
    if (auto s = bbt_->add(bid, ByteSpan(e, sizeof e)); !s) return fail(s.error()).error();
    ++blocks_;
    return bid;
}

Result<uint64_t> DataTreeBuilder::finish() {
    if (bids_.empty()) return uint64_t{0};
    if (bids_.size() == 1) return bids_[0];
    if (total_ > kMaxStreamSize) return Error(err::kTooBig, "A value of more than 4 GB cannot be stored.");
    if (bids_.size() > uint64_t(kXBlockMaxEntries) * kXBlockMaxEntries)
        return Error(err::kTooBig, "A value too large for a PST data tree cannot be stored.");
    // [MS-PST] 2.2.2.8.3.2.1 XBLOCK / 2.2.2.8.3.2.2 XXBLOCK.
    auto xblock = [&](uint8_t level, std::span<const uint64_t> children, uint64_t bytes) {
        XBlock x;
        x.cLevel = level;
        x.lcbTotal = static_cast<uint32_t>(bytes);
        x.rgbid.assign(children.begin(), children.end());
        return w_.writeBlock(x.encode(), true);
    };
    if (bids_.size() <= kXBlockMaxEntries) return xblock(1, bids_, total_);
    std::vector<uint64_t> level1;
    for (size_t off = 0; off < bids_.size(); off += kXBlockMaxEntries) {
        const size_t n = std::min<size_t>(kXBlockMaxEntries, bids_.size() - off);
        uint64_t bytes = 0;
        for (size_t i = off; i < off + n; ++i) bytes += sizes_[i];
        auto bid = xblock(1, std::span<const uint64_t>(bids_).subspan(off, n), bytes);
        if (!bid) return bid;
        level1.push_back(*bid);
    }
    return xblock(2, level1, total_);
}

Status NdbWriter::finish(const NodeSource& nodes, const std::array<uint32_t, 32>& rgnid) {
    if (failure_.failed()) return failure_;
    if (finished_) return writerError("finished twice");

    // The node B-tree from the sorted entries.
    BTreeStream nbt(*this, ptypeNBT, kNBTEntrySize, kNBTEntryMax);
    NodeEntry n;
    for (;;) {
        auto more = nodes(n);
        if (!more) return fail(std::move(more).error());
        if (!*more) break;
        // [MS-PST] 2.2.2.7.7.4 NBTENTRY: nid zero-extended to 8 bytes.
        NBTEntry entry;
        entry.nid = n.nid;
        entry.bidData = n.bidData;
        entry.bidSub = n.bidSub;
        entry.nidParent = n.nidParent;
        uint8_t e[kNBTEntrySize] = {};
        (void)entry.encode(MutableByteSpan(e, sizeof e));
        if (auto s = nbt.add(n.nid, ByteSpan(e, sizeof e)); !s) return fail(s.error());
    }
    auto nbtRoot = nbt.finish();
    if (!nbtRoot) return fail(std::move(nbtRoot).error());
    auto bbtRoot = bbt_->finish();
    if (!bbtRoot) return fail(std::move(bbtRoot).error());
    finished_ = true;

    // [MS-PST] 2.2.2.7.4 DList at 0x4200, outside the AMap sections: empty
    // and not marked complete, as a new Outlook file has it, so Outlook
    // builds its density list from the AMaps itself. Its trailer carries
    // the header's bidNextP without taking it, as in every Outlook file
    // (sample1.pst: DList and bidNextP both 0x4df); Microsoft's outlook-pst
    // library takes a DList with any other id for a stale one.
    {
        std::array<uint8_t, kPageSize> page{};
        (void)DListPage{}.encode(page);
        (void)sealPage(page, ptypeDL, nextPage_, kDListOffset);
        if (auto s = put(kDListOffset, page); !s) return s;
    }

    const uint64_t end = fileEnd();
    const bool tailFree = cursor_ < end;
    if (auto s = closeSection(); !s) return s;
    if (tailFree) {
        // The file extends to the end of its last section.
        const uint8_t zero = 0;
        if (auto s = put(end - 1, ByteSpan(&zero, 1)); !s) return s;
    }

    // [MS-PST] 2.2.2.7.5 FMaps: the longest free run of each AMap they cover.
    for (uint64_t ib : fmapPages_) {
        const uint64_t k = (ib - kFirstAMapOffset) / kAMapCoverage;
        std::array<uint8_t, kAMapBytes> runs{};
        for (uint32_t i = 0; i < kAMapBytes && k + i < longestRun_.size(); ++i) runs[i] = longestRun_[k + i];
        if (auto s = put(ib, MapPage::sealed(runs, ptypeFMap, ib)); !s) return s;
    }
    if (auto s = flushBuffer(); !s) return s;
    // Everything before the header is on its way: wait for it.
    if (auto s = background_->drain(); !s) return fail(s.error());

    Header h;
    h.bidNextP = nextPage_;
    h.bidNextB = nextBid_;
    h.dwUnique = opt_.dwUnique;
    h.rgnid = rgnid;
    h.root.ibFileEof = end;
    h.root.ibAMapLast = amapOffset(section_);
    h.root.cbAMapFree = freeSlots_ * kSlotSize;
    h.root.cbPMapFree = 0;
    h.root.brefNbt = *nbtRoot;
    h.root.brefBbt = *bbtRoot;
    h.root.fAMapValid = root::kValidAMap2;
    // rgbFM and rgbFP are deprecated and MUST be all 0xFF.
    h.rgbFM.fill(0xFF);
    h.rgbFP.fill(0xFF);
    h.bCryptMethod = opt_.cryptMethod;
    const Bytes header = h.encode();
    if (auto s = sink_.writeAt(0, header); !s) return fail(s.error());
    if (auto s = sink_.flush(); !s) return fail(s.error());
    return {};
}

}  // namespace tavrin::pst::ndb
