#include "store/pst/ndb/ndb_update.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <unordered_set>

#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"

namespace tavrin::pst::ndb {

namespace {

constexpr uint32_t kSlotsPerSection = kAMapBytes * 8;  // 3968
constexpr uint32_t kPagesPerSection = static_cast<uint32_t>(kAMapCoverage / kPageSize);  // 496
// Free slots a section needs before an allocation goes there rather than to
// the last section or a new one: 64 KB of its 248 KB.
constexpr uint32_t kUsefulFreeSlots = 1024;

Error corrupt(const std::string& what) { return Error(err::kCorrupt, what); }
Error updateError(const std::string& what) { return Error(err::kCallFailed, "PST update: " + what); }

uint64_t sectionOf(uint64_t ib) { return (ib - kFirstAMapOffset) / kAMapCoverage; }

bool bit(const std::array<uint8_t, kAMapBytes>& rgb, uint32_t i) { return mapBit(rgb, i); }

uint32_t zeros(const std::array<uint8_t, kAMapBytes>& rgb) {
    uint32_t set = 0;
    for (uint32_t i = 0; i < kAMapBytes; i += 8) set += static_cast<uint32_t>(std::popcount(store::loadLE64(rgb.data() + i)));
    return kSlotsPerSection - set;
}

uint32_t longestZeroRun(const std::array<uint8_t, kAMapBytes>& rgb) {
    uint32_t run = 0, best = 0;
    for (uint8_t byte : rgb) {
        if (byte == 0) {
            run += 8;
            continue;
        }
        if (byte == 0xFF) {
            best = std::max(best, run);
            run = 0;
            continue;
        }
        for (int b = 7; b >= 0; --b) {
            if (byte & (1u << b)) {
                best = std::max(best, run);
                run = 0;
            } else {
                ++run;
            }
        }
    }
    return std::max(best, run);
}

// The slots a section's own map pages take: the AMap, and at their
// intervals the PMap, FMap and FPMap right after it.
std::array<uint8_t, kAMapBytes> mapPagesOnly(uint64_t k) {
    std::array<uint8_t, kAMapBytes> rgb{};
    rgb[0] = 0xFF;
    if (sectionHasPMap(k)) rgb[1] = 0xFF;
    if (sectionHasFMap(k) || sectionHasFPMap(k)) rgb[2] = 0xFF;
    return rgb;
}
}  // namespace

Status FileView::readAt(uint64_t offset, store::MutableByteSpan out) const { return file_.readAt(offset, out); }

NdbUpdater::NdbUpdater(fs::RandomAccessFile& file, const UpdateOptions& options) : file_(file), opt_(options) {}

NdbUpdater::~NdbUpdater() { rollback(); }

Status NdbUpdater::fail(Error e) {
    if (!failure_.failed()) failure_ = std::move(e);
    return failure_;
}

Result<std::unique_ptr<NdbUpdater>> NdbUpdater::open(fs::RandomAccessFile& file, const UpdateOptions& options) {
    std::unique_ptr<NdbUpdater> u(new NdbUpdater(file, options));
    u->originalSize_ = file.size();
    const std::string name = file.name();
    u->originalHeaderBytes_.resize(std::min<uint64_t>(u->originalSize_, header::kSize));
    if (auto s = file.readAt(0, u->originalHeaderBytes_); !s) return std::move(s).take();
    auto h = Header::decode(u->originalHeaderBytes_);
    if (!h) return std::move(h).error();
    if (h->flavour != Flavour::Unicode) return Error(err::kNoSupport, "Only Unicode PST files can be changed.");
    if (!h->crcPartialOk() || !h->crcFullOk()) return corrupt("header: the CRCs do not match");
    if (h->bCryptMethod != kCryptNone && h->bCryptMethod != kCryptPermute && h->bCryptMethod != kCryptCyclic)
        return Error(err::kNoSupport, "header: unsupported bCryptMethod " + hex(h->bCryptMethod));
    const Root& r = h->root;
    if (r.ibFileEof <= kFirstAMapOffset || (r.ibFileEof - kFirstAMapOffset) % kAMapCoverage != 0)
        return corrupt("header: ibFileEof " + hex(r.ibFileEof) + " does not end an AMap section");
    if (r.ibFileEof > u->originalSize_)
        return corrupt("header: ibFileEof " + hex(r.ibFileEof) + " lies past the end of the file");
    const uint64_t sections = (r.ibFileEof - kFirstAMapOffset) / kAMapCoverage;
    if (r.ibAMapLast != amapOffset(sections - 1)) return corrupt("header: ibAMapLast is not the last AMap page");
    if (h->bidNextB < kBidIncrement || h->bidNextP == 0) return corrupt("header: bidNextB or bidNextP is 0");
    u->original_ = *h;
    auto db = NodeDatabase::open(std::make_unique<FileView>(file, u->originalSize_), options.limits);
    if (!db) return std::move(db).error();
    u->db_ = std::move(db).value();
    u->sections_.resize(static_cast<size_t>(sections));
    u->nextBid_ = (h->bidNextB + kBidIncrement - 1) & ~uint64_t(kBidIncrement - 1);
    u->firstNewBid_ = u->nextBid_;
    u->nextPage_ = h->bidNextP;
    u->hot_ = sections - 1;
    if (r.fAMapValid == root::kValidAMap1 || r.fAMapValid == root::kValidAMap2) {
        if (auto s = u->checkMaps(); !s) return std::move(s).take();
    } else {
        if (auto s = u->rebuildMaps(); !s) return std::move(s).take();
    }
    // [MS-PST] 2.2.2.7.4 the density list: absent (zeros, older Outlook) or
    // a DList page.
    if (u->originalSize_ >= kDListOffset + kPageSize) {
        Bytes page(kPageSize);
        if (auto s = file.readAt(kDListOffset, page); !s) return std::move(s).take();
        if (std::any_of(page.begin(), page.end(), [](uint8_t b) { return b != 0; })) {
            auto t = PageTrailer::decodeFromPage(page);
            if (!t || t->ptype != ptypeDL || t->ptypeRepeat != ptypeDL || t->dwCRC != pageCrc(page))
                return corrupt("offset " + hex(kDListOffset) + ": the density list page does not check out");
            u->hasDList_ = true;
        }
    }
    return u;
}

// The allocation maps as the change starts. A file of up to 128 AMap
// sections (32 MB) has every map page read (trailers checked, free slots
// counted: cbAMapFree and cbPMapFree are then written from the maps, which
// repairs a stale count; Outlook leaves one in some files, go-pst's
// support.pst among them). In a larger file only what the change touches
// is read, so that its cost does not grow with the file: the FMaps
// ([MS-PST] 2.2.2.7.5, one byte per AMap, its longest free run) say where
// free space is worth looking for, and the counts move by what the change
// frees and takes.
Status NdbUpdater::checkMaps() {
    auto readMap = [&](uint64_t ib, uint8_t ptype, const char* kind, std::array<uint8_t, kAMapBytes>& rgb) -> Status {
        std::array<uint8_t, kPageSize> page;
        if (auto s = file_.readAt(ib, page); !s) return s;
        auto t = PageTrailer::decodeFromPage(page);
        if (!t || t->ptype != ptype || t->ptypeRepeat != ptype || t->bid != ib || t->dwCRC != pageCrc(page))
            return corrupt("offset " + hex(ib) + ": the " + kind + " page does not check out");
        rgb = MapPage::decode(page)->rgb;
        return {};
    };
    std::array<uint8_t, kAMapBytes> rgb;
    const bool eager = sections_.size() <= kFMapFirstSection || original_.root.cbPMapFree != 0;
    if (!eager) {
        zeroBits_ = original_.root.cbAMapFree / kSlotSize;
        pmapZeroBits_ = 0;
        pmapsAllSet_ = true;  // cbPMapFree 0: every PMap bit set, as newer Outlook keeps them
        const bool fmInUse = std::any_of(original_.rgbFM.begin(), original_.rgbFM.end(), [](uint8_t b) { return b != 0xFF; });
        for (uint64_t k = 0; k < kFMapFirstSection; ++k) {
            const uint16_t run = fmInUse ? original_.rgbFM[k] : 0;
            sections_[k] = Section{run, run};
        }
        for (uint64_t f = kFMapFirstSection; f < sections_.size(); f += kAMapsPerFMap) {
            if (auto st = readMap(fmapOffset(f), ptypeFMap, "FMap", rgb); !st) return st;
            for (uint64_t k = f; k < std::min<uint64_t>(sections_.size(), f + kAMapsPerFMap); ++k) {
                // A run of 255 or more is counted as 255: enough to look.
                const uint16_t run = rgb[k - f] >= 255 ? kSlotsPerSection : rgb[k - f];
                sections_[k] = Section{run, run};
            }
        }
        // The last section, where new data goes first, exactly.
        auto last = map(sections_.size() - 1);
        if (!last) return std::move(last).error();
        updateSection(sections_.size() - 1);
        return {};
    }
    for (uint64_t k = 0; k < sections_.size(); ++k) {
        if (auto s = readMap(amapOffset(k), ptypeAMap, "AMap", rgb); !s) return s;
        const uint32_t z = zeros(rgb);
        zeroBits_ += z;
        sections_[k] = Section{static_cast<uint16_t>(z), static_cast<uint16_t>(longestZeroRun(rgb))};
        if (sectionHasPMap(k)) {
            if (auto s = readMap(pmapOffset(k), ptypePMap, "PMap", rgb); !s) return s;
            const uint32_t pz = zeros(rgb);
            pmapZeroBits_ += pz;
            if (pz) pmapsAllSet_ = false;
        }
        if (sectionHasFMap(k))
            if (auto s = readMap(fmapOffset(k), ptypeFMap, "FMap", rgb); !s) return s;
        if (sectionHasFPMap(k))
            if (auto s = readMap(fpmapOffset(k), ptypeFPMap, "FPMap", rgb); !s) return s;
    }
    return {};
}

// [MS-PST] 2.6.1.3.7: every AMap marked free but for the map pages, then
// every page of the NBT and BBT and every block of the BBT marked in use.
// The PMaps become all set and cbPMapFree 0, as newer Outlook keeps them.
Status NdbUpdater::rebuildMaps() {
    rebuilt_ = true;
    stats_.amapRebuilt = true;
    for (uint64_t k = 0; k < sections_.size(); ++k) {
        MapState m;
        m.orig = mapPagesOnly(k);
        m.dirty = true;
        maps_.emplace(k, m);
        if (sectionHasPMap(k)) {
            pmaps_[k] = MapPage::allSet();
            pmapDirty_.push_back(k);
        }
    }
    pmapsAllSet_ = true;
    const uint64_t eof = original_.root.ibFileEof;
    auto mark = [&](uint64_t ib, uint64_t size, const std::string& what) -> Status {
        if (ib < kFirstAMapOffset || ib % kSlotSize != 0 || ib + size > eof || sectionOf(ib) != sectionOf(ib + size - 1))
            return corrupt(what + " at " + hex(ib) + " does not lie inside one AMap section");
        MapState& m = maps_[sectionOf(ib)];
        const uint32_t first = static_cast<uint32_t>((ib - amapOffset(sectionOf(ib))) / kSlotSize);
        for (uint32_t s = first; s < first + size / kSlotSize; ++s) {
            if (bit(m.orig, s)) return corrupt(what + " at " + hex(ib) + " overlaps another allocation");
            setMapBit(m.orig, s, true);
        }
        return {};
    };
    for (uint8_t ptype : {ptypeNBT, ptypeBBT}) {
        struct Item {
            Bref ref;
            int level;
        };
        std::vector<Item> stack{{ptype == ptypeNBT ? original_.root.brefNbt : original_.root.brefBbt, -1}};
        std::unordered_set<uint64_t> seen;
        while (!stack.empty()) {
            const Item it = stack.back();
            stack.pop_back();
            if (!seen.insert(it.ref.ib).second) return corrupt("B-tree page at " + hex(it.ref.ib) + " is reached twice");
            auto page = db_->readPage(it.ref.ib, ptype, it.ref.bid);
            if (!page) return std::move(page).error();
            if (auto s = mark(it.ref.ib, kPageSize, "B-tree page"); !s) return s;
            const BTPageInfo info = *BTPageInfo::decode(*page);
            const uint32_t cbEnt = info.cLevel > 0 ? kBTEntrySize : (ptype == ptypeNBT ? kNBTEntrySize : kBBTEntrySize);
            if (info.cLevel > kMaxBTreeLevel || (it.level >= 0 && info.cLevel != it.level) || info.cbEnt != cbEnt ||
                info.cEnt > btEntryMax(cbEnt, Flavour::Unicode))
                return corrupt("B-tree page at " + hex(it.ref.ib) + " is malformed");
            for (uint32_t i = 0; i < info.cEnt; ++i) {
                const ByteSpan e = ByteSpan(*page).subspan(size_t(i) * cbEnt, cbEnt);
                if (info.cLevel > 0) {
                    stack.push_back({BTEntry::decode(e)->bref, info.cLevel - 1});
                } else if (ptype == ptypeBBT) {
                    const BBTEntry b = *BBTEntry::decode(e);
                    if (b.cb > kMaxBlockData) return corrupt("block " + hex(b.bref.bid) + " is larger than a block");
                    if (auto s = mark(b.bref.ib, blockAllocSize(b.cb, Flavour::Unicode), "block " + hex(b.bref.bid)); !s)
                        return s;
                }
            }
        }
    }
    for (uint64_t k = 0; k < sections_.size(); ++k) {
        const MapState& m = maps_[k];
        zeroBits_ += zeros(m.orig);
        sections_[k] = Section{static_cast<uint16_t>(zeros(m.orig)), static_cast<uint16_t>(longestZeroRun(m.orig))};
    }
    pmapZeroBits_ = 0;
    return {};
}

Result<NdbUpdater::MapState*> NdbUpdater::map(uint64_t k) {
    auto it = maps_.find(k);
    if (it != maps_.end()) return &it->second;
    if (k >= sections_.size()) return updateError("no AMap section " + std::to_string(k));
    std::array<uint8_t, kPageSize> page;
    const uint64_t ib = amapOffset(k);
    if (auto s = file_.readAt(ib, page); !s) return std::move(s).take();
    auto t = PageTrailer::decodeFromPage(page);
    if (!t || t->ptype != ptypeAMap || t->bid != ib || t->dwCRC != pageCrc(page))
        return corrupt("offset " + hex(ib) + ": the AMap page does not check out");
    MapState m;
    m.orig = MapPage::decode(page)->rgb;
    return &maps_.emplace(k, m).first->second;
}

void NdbUpdater::updateSection(uint64_t k) {
    const MapState& m = maps_[k];
    std::array<uint8_t, kAMapBytes> used;
    for (uint32_t i = 0; i < kAMapBytes; ++i) used[i] = static_cast<uint8_t>(m.orig[i] | m.alloc[i]);
    sections_[k] = Section{static_cast<uint16_t>(zeros(used)), static_cast<uint16_t>(longestZeroRun(used))};
}

uint64_t NdbUpdater::addSection() {
    const uint64_t k = sections_.size();
    MapState m;
    m.orig = mapPagesOnly(k);
    m.fresh = true;
    m.dirty = true;
    maps_[k] = m;
    if (sectionHasPMap(k)) {
        pmaps_[k] = MapPage::allSet();
        pmapDirty_.push_back(k);
    }
    sections_.push_back(Section{static_cast<uint16_t>(zeros(m.orig)), static_cast<uint16_t>(longestZeroRun(m.orig))});
    ++stats_.sectionsAdded;
    return k;
}

Result<bool> NdbUpdater::tryAllocate(uint64_t k, uint32_t slots, uint32_t alignSlots, uint64_t& ib) {
    auto mp = map(k);
    if (!mp) return std::move(mp).error();
    MapState& m = **mp;
    auto freeAt = [&](uint32_t i) { return !bit(m.orig, i) && !bit(m.alloc, i); };
    // First fit from where the last allocation ended, then from the start
    // (a run before it), so that a section fills front to back in one pass.
    for (const auto& [from, to] : {std::pair{m.cursor, kSlotsPerSection}, std::pair{0u, std::min(m.cursor + slots, kSlotsPerSection)}}) {
        for (uint32_t s = (from + alignSlots - 1) / alignSlots * alignSlots; s + slots <= to;) {
            uint32_t n = 0;
            while (n < slots && freeAt(s + n)) ++n;
            if (n < slots) {
                s = (s + n + 1 + alignSlots - 1) / alignSlots * alignSlots;
                continue;
            }
            for (uint32_t i = s; i < s + slots; ++i) setMapBit(m.alloc, i, true);
            m.dirty = true;
            m.cursor = s + slots;
            sections_[k].avail = static_cast<uint16_t>(sections_[k].avail - std::min<uint32_t>(sections_[k].avail, slots));
            ib = amapOffset(k) + uint64_t(s) * kSlotSize;
            return true;
        }
    }
    // Nothing fits: the section's real longest run, for the next requests.
    updateSection(k);
    sections_[k].longest = static_cast<uint16_t>(std::min<uint32_t>(sections_[k].longest, slots - 1));
    return false;
}

// Space for a block or page, in a section with a free run long enough:
// the section of the previous allocation first (at first the file's last),
// then sections with much free space in file order, then a new section at
// the end ([MS-PST] 2.6.1.1.1, 2.6.1.1.2).
Result<uint64_t> NdbUpdater::allocate(uint32_t size, uint32_t align) {
    const uint32_t slots = size / kSlotSize, alignSlots = std::max<uint32_t>(1, align / kSlotSize);
    uint64_t ib = 0;
    if (hot_ < sections_.size() && sections_[hot_].longest >= slots) {
        auto ok = tryAllocate(hot_, slots, alignSlots, ib);
        if (!ok) return std::move(ok).error();
        if (*ok) return ib;
    }
    // Free space elsewhere in the file is used where a section has a good
    // part of it free (space freed by Outlook, or by an earlier change);
    // small gaps are left, so that what is added stays together instead of
    // being scattered over the file in single blocks.
    while (scanFrom_ < sections_.size() && sections_[scanFrom_].avail < kUsefulFreeSlots) ++scanFrom_;
    for (uint64_t k = scanFrom_; k < sections_.size(); ++k) {
        if (sections_[k].longest < slots || sections_[k].avail < kUsefulFreeSlots) continue;
        auto ok = tryAllocate(k, slots, alignSlots, ib);
        if (!ok) return std::move(ok).error();
        if (*ok) {
            hot_ = k;
            return ib;
        }
    }
    const uint64_t k = addSection();
    auto ok = tryAllocate(k, slots, alignSlots, ib);
    if (!ok) return std::move(ok).error();
    if (!*ok) return updateError("no room in a new AMap section");
    hot_ = k;
    return ib;
}

// Space of the file's own structures, given up by this change: free in the
// maps it writes, and not used again before the header says so.
Status NdbUpdater::freeSpace(uint64_t ib, uint32_t size) {
    if (ib < kFirstAMapOffset) return corrupt("space at " + hex(ib) + " lies before the first AMap");
    const uint64_t k = sectionOf(ib);
    auto mp = map(k);
    if (!mp) return std::move(mp).error();
    MapState& m = **mp;
    const uint32_t first = static_cast<uint32_t>((ib - amapOffset(k)) / kSlotSize);
    if (first + size / kSlotSize > kSlotsPerSection) return corrupt("space at " + hex(ib) + " straddles an AMap section");
    for (uint32_t s = first; s < first + size / kSlotSize; ++s) {
        if (!bit(m.orig, s) || bit(m.freed, s))
            return corrupt("space at " + hex(ib) + " is freed but the AMap does not mark it in use");
        setMapBit(m.freed, s, true);
    }
    m.dirty = true;
    return {};
}

uint64_t NdbUpdater::fileEnd() const { return amapOffset(sections_.size()); }

Status NdbUpdater::start() {
    if (started_) return {};
    // [MS-PST] 2.6.1.3.7: INVALID_AMAP before the first allocation, on the
    // disk before anything else is written.
    Header h = original_;
    h.root.fAMapValid = root::kInvalidAMap;
    h.dwUnique = original_.dwUnique + 1;
    started_ = true;
    const Bytes bytes = h.encode();
    if (auto s = file_.writeAt(0, bytes); !s) return fail(s.error());
    stats_.bytesWritten += bytes.size();
    if (auto s = file_.flush(); !s) return fail(s.error());
    return {};
}

Status NdbUpdater::put(uint64_t ib, ByteSpan data) {
    if (!buf_.empty() && ib == bufStart_ + buf_.size() && buf_.size() < opt_.writeBuffer) {
        buf_.insert(buf_.end(), data.begin(), data.end());
    } else {
        if (auto s = flushBuffer(); !s) return s;
        bufStart_ = ib;
        buf_.assign(data.begin(), data.end());
    }
    if (buf_.size() >= opt_.writeBuffer) return flushBuffer();
    return {};
}

Status NdbUpdater::flushBuffer() {
    if (buf_.empty()) return {};
    auto s = file_.writeAt(bufStart_, buf_);
    stats_.bytesWritten += buf_.size();
    bufStart_ += buf_.size();
    buf_.clear();
    if (!s) return fail(s.error());
    return {};
}

Status NdbUpdater::writeInPlace(uint64_t ib, ByteSpan data) {
    // Kept for rollback, unless it lies in space this change added.
    if (ib + data.size() <= originalSize_) {
        Bytes old(data.size());
        if (auto s = file_.readAt(ib, old); !s) return fail(s.error());
        overwritten_.emplace_back(ib, std::move(old));
    }
    if (auto s = file_.writeAt(ib, data); !s) return fail(s.error());
    stats_.bytesWritten += data.size();
    return {};
}

Result<uint64_t> NdbUpdater::writeBlock(ByteSpan data, bool internal, uint16_t references) {
    if (failure_.failed()) return failure_;
    if (committed_) return updateError("block written after commit");
    if (data.size() > kMaxBlockData) return updateError("block larger than 8176 bytes");
    if (references == 0xFFFF) return updateError("too many references to one block");
    if (auto s = start(); !s) return s.error();
    const uint64_t bid = nextBid_ | (internal ? kBidInternal : 0);
    nextBid_ += kBidIncrement;
    const uint32_t cb = static_cast<uint32_t>(data.size());
    const uint32_t total = blockAllocSize(cb, Flavour::Unicode);
    auto ib = allocate(total, kBlockAlign);
    if (!ib) return fail(std::move(ib).error()).error();
    // [MS-PST] 2.2.2.8.1 block: data (encoded when external), padding,
    // BLOCKTRAILER with the CRC of the stored bytes.
    uint8_t block[kMaxBlockSize];
    uint32_t crc = 0;
    if (!encodeBlockCopy(internal ? kCryptNone : cryptMethod(), data, std::span<uint8_t>(block, cb), bid, crc))
        return fail(updateError("unknown encoding")).error();
    std::memset(block + cb, 0, total - cb);
    BlockTrailer t;
    t.cb = static_cast<uint16_t>(cb);
    t.wSig = computeSig(*ib, bid);
    t.dwCRC = crc;
    t.bid = bid;
    (void)t.encode(MutableByteSpan(block + total - kBlockTrailerSize, kBlockTrailerSize));
    if (auto s = put(*ib, ByteSpan(block, total)); !s) return s.error();
    newBlocks_.push_back(NewBlock{*ib, static_cast<uint16_t>(cb), uint32_t(references) + 1, internal});
    ++stats_.blocksWritten;
    return bid;
}

NdbUpdater::NewBlock* NdbUpdater::newBlock(uint64_t bid) {
    const uint64_t key = bid & ~uint64_t(3);
    if (key < firstNewBid_) return nullptr;
    const uint64_t i = (key - firstNewBid_) / kBidIncrement;
    if (i >= newBlocks_.size() || newBlocks_[i].cRef == 0) return nullptr;
    return &newBlocks_[i];
}

void NdbUpdater::addRef(uint64_t bid) {
    if (bid == 0) return;
    if (NewBlock* b = newBlock(bid)) {
        ++b->cRef;
        return;
    }
    ++refDelta_[bidKey(bid)];
}

void NdbUpdater::releaseNew(uint64_t bid, NewBlock& b) {
    if (--b.cRef > 1) return;
    // No reference left: its space can be used again at once, as nothing
    // the header reaches knew it.
    std::vector<uint64_t> children;
    if (isInternalBid(bid)) {
        auto c = childrenOf(bid);
        if (!c) {
            (void)fail(std::move(c).error());
            return;
        }
        children = std::move(c).value();
    }
    const uint64_t k = sectionOf(b.ib);
    MapState& m = maps_[k];
    const uint32_t first = static_cast<uint32_t>((b.ib - amapOffset(k)) / kSlotSize);
    for (uint32_t s = first; s < first + blockAllocSize(b.cb, Flavour::Unicode) / kSlotSize; ++s) setMapBit(m.alloc, s, false);
    m.cursor = std::min(m.cursor, first);
    updateSection(k);
    b.cRef = 0;
    for (uint64_t c : children) release(c);
}

void NdbUpdater::release(uint64_t bid) {
    if (bid == 0) return;
    if (NewBlock* b = newBlock(bid)) {
        releaseNew(bid, *b);
        return;
    }
    --refDelta_[bidKey(bid)];
}

Result<Bytes> NdbUpdater::readBlock(uint64_t bid) {
    NewBlock* b = newBlock(bid);
    if (!b) return db_->readBlock(bid);
    const uint32_t total = blockAllocSize(b->cb, Flavour::Unicode);
    Bytes raw(total);
    if (!buf_.empty() && b->ib >= bufStart_ && b->ib + total <= bufStart_ + buf_.size()) {
        std::memcpy(raw.data(), buf_.data() + (b->ib - bufStart_), total);
    } else {
        if (auto s = flushBuffer(); !s) return s.error();
        if (auto s = file_.readAt(b->ib, raw); !s) return std::move(s).take();
    }
    auto t = BlockTrailer::decode(ByteSpan(raw).last(kBlockTrailerSize));
    if (!t || t->bid != bid || t->cb != b->cb) return updateError("block " + hex(bid) + " reads back wrong");
    raw.resize(b->cb);
    if (!isInternalBid(bid)) (void)decodeBlock(cryptMethod(), raw, bid);
    return raw;
}

Result<uint16_t> NdbUpdater::blockSize(uint64_t bid) {
    if (NewBlock* b = newBlock(bid)) return b->cb;
    auto info = db_->findBlock(bid);
    if (!info) return std::move(info).error();
    return info->cb;
}

Result<std::vector<uint64_t>> NdbUpdater::dataTreeLeaves(uint64_t bid) {
    std::vector<uint64_t> out;
    if (bid == 0) return out;
    if (!isInternalBid(bid)) {
        out.push_back(bid);
        return out;
    }
    auto raw = readBlock(bid);
    if (!raw) return std::move(raw).error();
    auto x = XBlock::decode(*raw);
    if (!x) return Error(x.error()).prefixed("data tree " + hex(bid));
    for (uint64_t c : x->rgbid) {
        if (x->cLevel == 1) {
            if (isInternalBid(c)) return corrupt("data tree " + hex(bid) + ": internal block where data was expected");
            out.push_back(c);
            continue;
        }
        if (!isInternalBid(c)) return corrupt("data tree " + hex(bid) + ": XXBLOCK entry is not an XBLOCK");
        auto cr = readBlock(c);
        if (!cr) return std::move(cr).error();
        auto cx = XBlock::decode(*cr);
        if (!cx || cx->cLevel != 1) return corrupt("data tree " + hex(bid) + ": XXBLOCK entry is not an XBLOCK");
        for (uint64_t leaf : cx->rgbid) {
            if (isInternalBid(leaf)) return corrupt("data tree " + hex(bid) + ": internal block where data was expected");
            out.push_back(leaf);
        }
    }
    return out;
}

Result<std::vector<uint64_t>> NdbUpdater::childrenOf(uint64_t bid) {
    auto raw = readBlock(bid);
    if (!raw) return std::move(raw).error();
    auto head = InternalBlockHead::decode(*raw);
    if (!head) return corrupt("block " + hex(bid) + " is too short for an internal block");
    std::vector<uint64_t> out;
    if (head->btype == btypeXBlock) {
        auto x = XBlock::decode(*raw);
        if (!x) return Error(x.error()).prefixed("block " + hex(bid));
        out = x->rgbid;
    } else if (head->btype == btypeSLBlock && head->cLevel == 0) {
        auto sl = SLBlock::decode(*raw);
        if (!sl) return Error(sl.error()).prefixed("block " + hex(bid));
        for (const auto& e : sl->entries) {
            if (e.bidData) out.push_back(e.bidData);
            if (e.bidSub) out.push_back(e.bidSub);
        }
    } else if (head->btype == btypeSLBlock && head->cLevel == 1) {
        auto si = SIBlock::decode(*raw);
        if (!si) return Error(si.error()).prefixed("block " + hex(bid));
        for (const auto& e : si->entries) out.push_back(e.bid);
    } else {
        return corrupt("block " + hex(bid) + " is an internal block of an unknown kind");
    }
    return out;
}

Result<std::optional<NodeInfo>> NdbUpdater::node(uint32_t nid) const {
    if (auto it = nodes_.find(nid); it != nodes_.end())
        return std::optional<NodeInfo>(NodeInfo{it->second.nid, it->second.bidData, it->second.bidSub, it->second.nidParent});
    auto n = db_->findNode(nid);
    if (!n) {
        if (n.error().number == err::kNotFound) return std::optional<NodeInfo>();
        return std::move(n).error();
    }
    return std::optional<NodeInfo>(*n);
}

void NdbUpdater::setNode(const NodeEntry& entry) {
    auto old = node(entry.nid);
    if (!old) {
        (void)fail(std::move(old).error());
        return;
    }
    if (*old) {
        if ((*old)->bidData != entry.bidData) release((*old)->bidData);
        if ((*old)->bidSub != entry.bidSub) release((*old)->bidSub);
    }
    nodes_[entry.nid] = entry;
}

// Applies the reference changes to the file's blocks: a block left with no
// reference leaves the BBT, its space is freed, and what it referenced
// loses a reference in turn (until nothing changes).
Status NdbUpdater::settleReferences(std::vector<BtMod>& bbtMods) {
    std::map<uint64_t, BlockInfo> infos;
    std::map<uint64_t, int64_t> delta(refDelta_.begin(), refDelta_.end());
    std::unordered_set<uint64_t> freed;
    for (bool again = true; again;) {
        again = false;
        for (auto it = delta.begin(); it != delta.end(); ++it) {
            const uint64_t key = it->first;
            if (it->second == 0 || freed.count(key)) continue;
            auto info = infos.find(key);
            if (info == infos.end()) {
                auto b = db_->findBlock(key);
                if (!b) return Error(b.error()).prefixed("reference count");
                info = infos.emplace(key, *b).first;
            }
            const int64_t cRef = int64_t(info->second.cRef) + it->second;
            if (cRef > 1) continue;
            if (cRef < 1) return corrupt("block " + hex(key) + ": cRef " + std::to_string(info->second.cRef) + " is below its references");
            freed.insert(key);
            again = true;
            if (isInternalBid(info->second.bid)) {
                auto children = childrenOf(info->second.bid);
                if (!children) return std::move(children).error();
                for (uint64_t c : *children) --delta[bidKey(c)];
            }
        }
    }
    for (const auto& [key, d] : delta) {
        if (d == 0) continue;
        const BlockInfo& b = infos.at(key);
        BtMod m;
        m.key = key;
        if (freed.count(key)) {
            m.erase = true;
            if (auto s = freeSpace(b.ib, blockAllocSize(b.cb, Flavour::Unicode)); !s) return s;
            ++stats_.blocksFreed;
        } else {
            const int64_t cRef = int64_t(b.cRef) + d;
            if (cRef >= 0xFFFF) return updateError("block " + hex(key) + " has too many references");
            BBTEntry e;
            e.bref = Bref{b.bid, b.ib};
            e.cb = b.cb;
            e.cRef = static_cast<uint16_t>(cRef);
            (void)e.encode(MutableByteSpan(m.entry.data(), kBBTEntrySize));
        }
        bbtMods.push_back(m);
    }
    for (size_t i = 0; i < newBlocks_.size(); ++i) {
        const NewBlock& nb = newBlocks_[i];
        if (nb.cRef == 0) continue;
        if (nb.cRef >= 0xFFFF) return updateError("a new block has too many references");
        const uint64_t bid = (firstNewBid_ + i * kBidIncrement) | (nb.internal ? kBidInternal : 0);
        BtMod m;
        m.key = bidKey(bid);
        BBTEntry e;
        e.bref = Bref{bid, nb.ib};
        e.cb = nb.cb;
        e.cRef = static_cast<uint16_t>(nb.cRef);
        (void)e.encode(MutableByteSpan(m.entry.data(), kBBTEntrySize));
        bbtMods.push_back(m);
    }
    std::sort(bbtMods.begin(), bbtMods.end(), [](const BtMod& a, const BtMod& b) { return a.key < b.key; });
    return {};
}

Result<Bref> NdbUpdater::writePage(uint8_t ptype, MutableByteSpan page) {
    auto ib = allocate(kPageSize, kPageSize);
    if (!ib) return fail(std::move(ib).error()).error();
    const uint64_t bid = nextPage_++;
    (void)sealPage(page, ptype, bid, *ib);
    if (auto s = put(*ib, page); !s) return s.error();
    ++stats_.pagesWritten;
    return Bref{bid, *ib};
}

Result<std::vector<NdbUpdater::BtOut>> NdbUpdater::packPages(uint8_t ptype, uint8_t level,
                                                             const std::vector<std::pair<uint64_t, Bytes>>& entries) {
    const uint8_t cbEnt = level > 0 ? kBTEntrySize : (ptype == ptypeNBT ? kNBTEntrySize : kBBTEntrySize);
    const uint8_t max = level > 0 ? kBTEntryMax : (ptype == ptypeNBT ? kNBTEntryMax : kBBTEntryMax);
    std::vector<BtOut> out;
    for (size_t off = 0; off < entries.size(); off += max) {
        const size_t n = std::min<size_t>(max, entries.size() - off);
        std::array<uint8_t, kPageSize> page{};
        for (size_t i = 0; i < n; ++i) std::memcpy(page.data() + i * cbEnt, entries[off + i].second.data(), cbEnt);
        BTPageInfo info;
        info.cEnt = static_cast<uint8_t>(n);
        info.cEntMax = max;
        info.cbEnt = cbEnt;
        info.cLevel = level;
        (void)info.encode(page);
        auto ref = writePage(ptype, page);
        if (!ref) return std::move(ref).error();
        out.push_back(BtOut{entries[off].first, *ref});
    }
    return out;
}

// One page of a B-tree with the changes that fall in its key range: the
// pages that replace it (none when it is left without entries), or the page
// itself when nothing in it changes.
Result<std::vector<NdbUpdater::BtOut>> NdbUpdater::rewritePage(uint8_t ptype, const Bref& ref, int level,
                                                               std::span<const BtMod> mods, std::optional<uint64_t> lo,
                                                               std::optional<uint64_t> hi, bool& changed) {
    changed = false;
    auto page = db_->readPage(ref.ib, ptype, ref.bid);
    if (!page) return std::move(page).error();
    const BTPageInfo info = *BTPageInfo::decode(*page);
    const uint8_t leafSize = ptype == ptypeNBT ? kNBTEntrySize : kBBTEntrySize;
    const uint32_t cbEnt = info.cLevel > 0 ? kBTEntrySize : leafSize;
    auto where = [&] { return std::string(ptype == ptypeNBT ? "NBT" : "BBT") + " page at " + hex(ref.ib); };
    if (info.cLevel > kMaxBTreeLevel || (level >= 0 && info.cLevel != level) || info.cbEnt != cbEnt ||
        info.cEnt > btEntryMax(cbEnt, Flavour::Unicode))
        return corrupt(where() + " is malformed");
    std::vector<std::pair<uint64_t, Bytes>> entries;
    entries.reserve(info.cEnt);
    for (uint32_t i = 0; i < info.cEnt; ++i) {
        const ByteSpan e = ByteSpan(*page).subspan(size_t(i) * cbEnt, cbEnt);
        uint64_t key = store::loadLE64(e.data());
        if (info.cLevel == 0) key = ptype == ptypeNBT ? (key & 0xFFFFFFFFu) : bidKey(key);
        if ((!entries.empty() && key <= entries.back().first) || (lo && key < *lo) || (hi && key >= *hi))
            return corrupt(where() + ": keys out of order");
        entries.emplace_back(key, Bytes(e.begin(), e.end()));
    }
    const uint64_t firstKey = entries.empty() ? (lo ? *lo : 0) : entries.front().first;
    std::vector<std::pair<uint64_t, Bytes>> result;
    bool any = false;
    if (info.cLevel == 0) {
        size_t i = 0, j = 0;
        while (i < entries.size() || j < mods.size()) {
            if (j == mods.size() || (i < entries.size() && entries[i].first < mods[j].key)) {
                result.push_back(std::move(entries[i++]));
                continue;
            }
            const BtMod& m = mods[j++];
            const bool exists = i < entries.size() && entries[i].first == m.key;
            if (exists) ++i;
            if (m.erase) {
                if (exists) any = true;
                continue;
            }
            any = true;
            result.emplace_back(m.key, Bytes(m.entry.begin(), m.entry.begin() + leafSize));
        }
    } else {
        size_t j = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::optional<uint64_t> next = i + 1 < entries.size() ? std::optional<uint64_t>(entries[i + 1].first) : hi;
            size_t end = j;
            while (end < mods.size() && (!next || mods[end].key < *next)) ++end;
            if (end == j) {
                result.push_back(std::move(entries[i]));
                continue;
            }
            const Bref child = BTEntry::decode(entries[i].second)->bref;
            bool childChanged = false;
            auto sub = rewritePage(ptype, child, info.cLevel - 1, mods.subspan(j, end - j),
                                   i == 0 ? lo : std::optional<uint64_t>(entries[i].first), next, childChanged);
            if (!sub) return sub;
            j = end;
            if (!childChanged) {
                result.push_back(std::move(entries[i]));
                continue;
            }
            any = true;
            for (const BtOut& o : *sub) {
                Bytes e(kBTEntrySize);
                (void)BTEntry{o.firstKey, o.ref}.encode(e);
                result.emplace_back(o.firstKey, std::move(e));
            }
        }
        if (j != mods.size()) return updateError("B-tree changes outside the tree's key range");
    }
    if (!any) return std::vector<BtOut>{BtOut{firstKey, ref}};
    changed = true;
    if (auto s = freeSpace(ref.ib, kPageSize); !s) return s.error();
    ++stats_.pagesFreed;
    return packPages(ptype, info.cLevel, result);
}

Result<Bref> NdbUpdater::updateTree(uint8_t ptype, const Bref& root, std::vector<BtMod>& mods) {
    if (mods.empty()) return root;
    auto rootPage = db_->readPage(root.ib, ptype, root.bid);
    if (!rootPage) return std::move(rootPage).error();
    uint8_t level = BTPageInfo::decode(*rootPage)->cLevel;
    bool changed = false;
    auto pages = rewritePage(ptype, root, -1, mods, std::nullopt, std::nullopt, changed);
    if (!pages) return std::move(pages).error();
    if (!changed) return root;
    if (pages->empty()) {
        std::array<uint8_t, kPageSize> page{};
        BTPageInfo info;
        info.cEntMax = ptype == ptypeNBT ? kNBTEntryMax : kBBTEntryMax;
        info.cbEnt = ptype == ptypeNBT ? kNBTEntrySize : kBBTEntrySize;
        (void)info.encode(page);
        return writePage(ptype, page);
    }
    // A root that split: index pages above it until one page holds them.
    while (pages->size() > 1) {
        if (level >= kMaxBTreeLevel) return updateError("B-tree too deep");
        std::vector<std::pair<uint64_t, Bytes>> up;
        for (const BtOut& o : *pages) {
            Bytes e(kBTEntrySize);
            (void)BTEntry{o.firstKey, o.ref}.encode(e);
            up.emplace_back(o.firstKey, std::move(e));
        }
        pages = packPages(ptype, ++level, up);
        if (!pages) return std::move(pages).error();
    }
    return pages->front().ref;
}

Status NdbUpdater::writeMaps(uint64_t& cbAMapFree, uint64_t& cbPMapFree, std::array<uint8_t, 128>& rgbFM) {
    int64_t zeroDelta = 0;
    std::map<uint64_t, std::array<uint8_t, kAMapBytes>> fmaps;  // FMap pages (by their section) being changed
    auto fmapPage = [&](uint64_t f) -> Result<std::array<uint8_t, kAMapBytes>*> {
        auto it = fmaps.find(f);
        if (it != fmaps.end()) return &it->second;
        std::array<uint8_t, kAMapBytes> rgb{};
        if (fmapOffset(f) + kPageSize <= original_.root.ibFileEof) {
            std::array<uint8_t, kPageSize> page;
            if (auto s = file_.readAt(fmapOffset(f), page); !s) return std::move(s).take();
            rgb = MapPage::decode(page)->rgb;
        }
        return &fmaps.emplace(f, rgb).first->second;
    };
    const bool fmInUse = std::any_of(original_.rgbFM.begin(), original_.rgbFM.end(), [](uint8_t b) { return b != 0xFF; });
    for (auto& [k, m] : maps_) {
        if (!m.dirty) continue;
        std::array<uint8_t, kAMapBytes> final;
        for (uint32_t i = 0; i < kAMapBytes; ++i) final[i] = static_cast<uint8_t>((m.orig[i] & ~m.freed[i]) | m.alloc[i]);
        zeroDelta += int64_t(zeros(final)) - (m.fresh ? 0 : int64_t(zeros(m.orig)));
        const uint64_t ib = amapOffset(k);
        if (auto s = writeInPlace(ib, MapPage::sealed(final, ptypeAMap, ib)); !s) return s;
        const uint8_t run = static_cast<uint8_t>(std::min<uint32_t>(longestZeroRun(final), 255));
        if (k >= kFMapFirstSection) {
            const uint64_t f = k - (k - kFMapFirstSection) % kAMapsPerFMap;
            auto rgb = fmapPage(f);
            if (!rgb) return std::move(rgb).error();
            (**rgb)[(k - kFMapFirstSection) % kAMapsPerFMap] = run;
        } else if (fmInUse) {
            rgbFM[k] = run;
        }
        // [MS-PST] 2.2.2.7.3: the PMap bits of the pages this change uses.
        if (!pmapsAllSet_) {
            const uint64_t g = k - k % kAMapsPerPMap;
            auto it = pmaps_.find(g);
            if (it == pmaps_.end()) {
                std::array<uint8_t, kPageSize> page;
                if (auto s = file_.readAt(pmapOffset(g), page); !s) return s;
                it = pmaps_.emplace(g, MapPage::decode(page)->rgb).first;
            }
            bool touched = false;
            for (uint32_t p = 0; p < kPagesPerSection; ++p) {
                bool used = false;
                for (uint32_t s = p * 8; s < p * 8 + 8; ++s) used |= bit(m.alloc, s);
                const uint32_t b = static_cast<uint32_t>(k - g) * kPagesPerSection + p;
                if (used && !bit(it->second, b)) {
                    setMapBit(it->second, b, true);
                    --pmapZeroBits_;
                    touched = true;
                }
            }
            if (touched && std::find(pmapDirty_.begin(), pmapDirty_.end(), g) == pmapDirty_.end()) pmapDirty_.push_back(g);
        }
        if (m.fresh && sectionHasFPMap(k))
            if (auto s = writeInPlace(fpmapOffset(k), MapPage::sealed(MapPage::allSet(), ptypeFPMap, fpmapOffset(k))); !s) return s;
    }
    for (uint64_t g : pmapDirty_)
        if (auto s = writeInPlace(pmapOffset(g), MapPage::sealed(pmaps_.at(g), ptypePMap, pmapOffset(g))); !s) return s;
    for (const auto& [f, rgb] : fmaps)
        if (auto s = writeInPlace(fmapOffset(f), MapPage::sealed(rgb, ptypeFMap, fmapOffset(f))); !s) return s;
    // [MS-PST] 2.2.2.7.4: the density list emptied and not marked complete,
    // with the header's new bidNextP, so that Outlook builds it afresh from
    // the AMaps, as it does for a new file.
    if (hasDList_) {
        std::array<uint8_t, kPageSize> page{};
        (void)DListPage{}.encode(page);
        (void)sealPage(page, ptypeDL, nextPage_, kDListOffset);
        if (auto s = writeInPlace(kDListOffset, page); !s) return s;
    }
    cbAMapFree = uint64_t(int64_t(zeroBits_) + zeroDelta) * kSlotSize;
    cbPMapFree = pmapZeroBits_ * kPageSize;
    return {};
}

Status NdbUpdater::commit(const std::array<uint32_t, 32>& rgnid, uint32_t dwUnique) {
    if (failure_.failed()) {
        rollback();
        return failure_;
    }
    if (committed_) return updateError("committed twice");
    if (!started_ && nodes_.empty() && refDelta_.empty() && !rebuilt_) {
        committed_ = true;
        return {};
    }
    auto rollbackWith = [&](Error e) -> Status {
        (void)fail(e);
        rollback();
        return failure_;
    };
    if (auto s = start(); !s) return rollbackWith(s.error());
    // The search queue and every node's data are already written; then the
    // BBT (its freed blocks' space given up), then the NBT.
    std::vector<BtMod> bbtMods;
    if (auto s = settleReferences(bbtMods); !s) return rollbackWith(s.error());
    std::vector<BtMod> nbtMods;
    nbtMods.reserve(nodes_.size());
    for (const auto& [nid, e] : nodes_) {
        BtMod m;
        m.key = nid;
        NBTEntry n;
        n.nid = e.nid;
        n.bidData = e.bidData;
        n.bidSub = e.bidSub;
        n.nidParent = e.nidParent;
        (void)n.encode(MutableByteSpan(m.entry.data(), kNBTEntrySize));
        nbtMods.push_back(m);
    }
    auto bbt = updateTree(ptypeBBT, original_.root.brefBbt, bbtMods);
    if (!bbt) return rollbackWith(std::move(bbt).error());
    auto nbt = updateTree(ptypeNBT, original_.root.brefNbt, nbtMods);
    if (!nbt) return rollbackWith(std::move(nbt).error());
    if (auto s = flushBuffer(); !s) return rollbackWith(s.error());

    Header h = original_;
    if (auto s = writeMaps(h.root.cbAMapFree, h.root.cbPMapFree, h.rgbFM); !s) return rollbackWith(s.error());
    const uint64_t eof = fileEnd();
    if (file_.size() != eof)
        if (auto s = file_.truncate(eof); !s) return rollbackWith(s.error());
    if (auto s = file_.flush(); !s) return rollbackWith(s.error());

    h.bidNextB = nextBid_;
    h.bidNextP = nextPage_;
    h.dwUnique = std::max(dwUnique, original_.dwUnique + 2);
    for (size_t t = 0; t < rgnid.size(); ++t) h.rgnid[t] = std::max(original_.rgnid[t], rgnid[t]);
    h.root.ibFileEof = eof;
    h.root.ibAMapLast = amapOffset(sections_.size() - 1);
    h.root.brefBbt = *bbt;
    h.root.brefNbt = *nbt;
    h.root.fAMapValid = root::kValidAMap2;
    const Bytes bytes = h.encode();
    if (auto s = file_.writeAt(0, bytes); !s) return rollbackWith(s.error());
    stats_.bytesWritten += bytes.size();
    if (auto s = file_.flush(); !s) return rollbackWith(s.error());
    committed_ = true;
    return {};
}

void NdbUpdater::rollback() {
    if (!started_ || committed_) return;
    buf_.clear();
    // Best effort, newest first: the map pages, the length, then the
    // header as it was. Should any of it fail, the header still names the
    // old roots and the maps are marked invalid, so the file reads as
    // before and the next writer rebuilds its maps.
    for (auto it = overwritten_.rbegin(); it != overwritten_.rend(); ++it)
        if (!file_.writeAt(it->first, it->second)) return;
    overwritten_.clear();
    if (file_.size() != originalSize_)
        if (!file_.truncate(originalSize_)) return;
    if (!file_.flush()) return;
    if (!file_.writeAt(0, originalHeaderBytes_)) return;
    if (!file_.flush()) return;
    started_ = false;
}

}  // namespace tavrin::pst::ndb
