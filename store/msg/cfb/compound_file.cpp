#include "store/msg/cfb/compound_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "store/msg/cfb/names.h"

namespace tavrin::store::cfb {
namespace {

Error corrupt(const std::string& what) { return Error(err::kCorrupt, "compound file: " + what); }

// The code units of `s` before its first null, at most n. Four at a time:
// a 16-bit lane that is zero sets its top bit in (w - 1s) & ~w.
size_t untilNull(const char16_t* s, size_t n) {
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint64_t w;
        std::memcpy(&w, s + i, 8);
        if ((w - 0x0001000100010001ull) & ~w & 0x8000800080008000ull) break;
    }
    for (; i < n; ++i)
        if (s[i] == 0) return i;
    return n;
}

std::string hex32(uint32_t v) {
    static const char d[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int i = 28; i >= 0; i -= 4) s += d[(v >> i) & 15];
    return s;
}

}  // namespace

Status CompoundFile::need(uint64_t offset, uint64_t size) const {
    if (!lazy_ || offset >= file_.size()) return {};
    return lazy_->load(offset, std::min<uint64_t>(size, file_.size() - offset));
}

Result<CompoundFile> CompoundFile::open(ByteSpan file, std::shared_ptr<const LazyFile> lazy) {
    CompoundFile cf;
    cf.file_ = file;
    cf.lazy_ = std::move(lazy);
    // [MS-CFB] 2.2 header.
    if (file.size() < header::kSize)
        return corrupt("the file is too short for a header (" + std::to_string(file.size()) + " bytes)");
    if (auto s = cf.need(0, header::kSize); !s) return std::move(s).take();
    if (std::memcmp(file.data(), header::kSignature, sizeof header::kSignature) != 0)
        return corrupt("bad signature (not a compound file)");
    ByteReader h(file.first(header::kSize));
    h.seek(header::uMajorVersion);
    const uint16_t major = h.u16();
    const uint16_t byteOrder = h.u16();
    const uint16_t sectorShift = h.u16();
    const uint16_t miniShift = h.u16();
    if (major != 3 && major != 4) return corrupt("unsupported major version " + std::to_string(major));
    if (byteOrder != header::kByteOrder) return corrupt("bad byte order mark " + hex32(byteOrder));
    if (sectorShift != (major == 3 ? 9 : 12))
        return corrupt("sector shift " + std::to_string(sectorShift) + " does not match version " + std::to_string(major));
    if (miniShift != kMiniSectorShift) return corrupt("unsupported mini sector shift " + std::to_string(miniShift));
    cf.major_ = major;
    cf.sectorShift_ = sectorShift;
    cf.sectorSize_ = 1u << sectorShift;
    // Sector n starts at (n + 1) << shift; the header takes sector "-1". A
    // short last sector counts (it reads as if padded with zeros).
    cf.sectorCount_ = file.size() > cf.sectorSize_ ? (file.size() - cf.sectorSize_ + cf.sectorSize_ - 1) / cf.sectorSize_ : 0;

    h.seek(header::csectFat);
    const uint32_t csectFat = h.u32();
    const uint32_t dirStart = h.u32();
    h.u32();  // transaction signature: ignored
    h.u32();  // mini stream cutoff: 4096 whatever the field says
    const uint32_t miniFatStart = h.u32();
    h.u32();  // number of mini FAT sectors: the chain decides
    const uint32_t difStart = h.u32();
    const uint32_t csectDif = h.u32();

    if (auto s = cf.loadFat(csectFat, difStart, csectDif); !s) return std::move(s).take();
    if (auto s = cf.loadDirectory(dirStart); !s) return std::move(s).take();
    if (auto s = cf.loadMiniStream(miniFatStart); !s) return std::move(s).take();
    if (auto s = cf.buildTree(); !s) return std::move(s).take();
    return cf;
}

// [MS-CFB] 2.5 DIFAT and 2.3 FAT.
Status CompoundFile::loadFat(uint32_t csectFat, uint32_t difStart, uint32_t csectDif) {
    if (csectFat > sectorCount_)
        return corrupt("the header counts " + std::to_string(csectFat) + " FAT sectors, more than the file holds");
    std::vector<uint32_t> fatSectors;
    fatSectors.reserve(csectFat);
    for (uint32_t i = 0; i < header::kHeaderDifatEntries && fatSectors.size() < csectFat; ++i)
        fatSectors.push_back(loadLE32(file_.data() + header::sectFat + 4 * i));
    // Extra DIFAT sectors: (sector size / 4 - 1) entries, then the next one.
    const uint32_t perDif = sectorSize_ / 4 - 1;
    std::vector<uint8_t> seen;
    uint32_t dif = difStart;
    uint64_t difCount = 0;
    while (fatSectors.size() < csectFat) {
        if (dif == ENDOFCHAIN || dif == FREESECT)
            return corrupt("the DIFAT ends after " + std::to_string(fatSectors.size()) + " of " +
                           std::to_string(csectFat) + " FAT sectors");
        if (dif >= sectorCount_) return corrupt("DIFAT sector " + hex32(dif) + " is out of range");
        if (seen.empty()) seen.assign(static_cast<size_t>(sectorCount_), 0);
        if (seen[dif]) return corrupt("the DIFAT chain cycles at sector " + hex32(dif));
        seen[dif] = 1;
        ++difCount;
        const uint64_t off = (uint64_t(dif) + 1) << sectorShift_;
        if (auto s = need(off, sectorSize_); !s) return s;
        for (uint32_t i = 0; i < perDif && fatSectors.size() < csectFat; ++i) {
            auto v = getLE32(file_, off + 4 * i);
            fatSectors.push_back(v ? *v : FREESECT);
        }
        auto next = getLE32(file_, off + 4ull * perDif);
        dif = next ? *next : ENDOFCHAIN;
    }
    (void)csectDif;  // the chain decides; the count is often wrong in the wild
    (void)difCount;

    fat_.assign(static_cast<size_t>(csectFat) * (sectorSize_ / 4), FREESECT);
    for (size_t i = 0; i < fatSectors.size(); ++i) {
        const uint32_t s = fatSectors[i];
        if (s >= sectorCount_) return corrupt("FAT sector " + hex32(s) + " is out of range");
        const uint64_t off = (uint64_t(s) + 1) << sectorShift_;
        const uint64_t have = std::min<uint64_t>(sectorSize_, file_.size() - off);
        if (auto st = need(off, have); !st) return st;
        uint32_t* dst = fat_.data() + i * (sectorSize_ / 4);
        for (uint64_t k = 0; k + 4 <= have; k += 4) dst[k / 4] = loadLE32(file_.data() + off + k);
    }
    sectorMark_.assign(static_cast<size_t>(sectorCount_), 0);
    return {};
}

Status CompoundFile::chain(uint32_t start, uint64_t count, std::vector<uint32_t>& out, const char* what) const {
    out.clear();
    if (++walk_ == 0) {  // stamps wrapped: start afresh
        std::fill(sectorMark_.begin(), sectorMark_.end(), 0);
        std::fill(miniMark_.begin(), miniMark_.end(), 0);
        walk_ = 1;
    }
    out.reserve(static_cast<size_t>(std::min<uint64_t>(count ? count : 16, sectorCount_)));
    uint32_t s = start;
    while (s != ENDOFCHAIN && (count == 0 || out.size() < count)) {
        if (s >= sectorCount_)
            return corrupt(std::string(what) + ": sector " + hex32(s) + " is out of range");
        if (sectorMark_[s] == walk_) return corrupt(std::string(what) + ": the sector chain cycles at " + hex32(s));
        sectorMark_[s] = walk_;
        out.push_back(s);
        if (s >= fat_.size()) return corrupt(std::string(what) + ": sector " + hex32(s) + " has no FAT entry");
        s = fat_[s];
    }
    if (count && out.size() < count)
        return corrupt(std::string(what) + ": the sector chain ends before the stream does (" +
                       std::to_string(out.size()) + " of " + std::to_string(count) + " sectors)");
    return {};
}

Result<StreamData> CompoundFile::readRegular(uint32_t start, uint64_t size, const char* what) const {
    if (size == 0) return StreamData::view({});
    if (size > file_.size())
        return corrupt(std::string(what) + ": size " + std::to_string(size) + " is past the end of the file");
    const uint64_t n = (size + sectorSize_ - 1) >> sectorShift_;
    std::vector<uint32_t> sectors;
    if (auto s = chain(start, n, sectors, what); !s) return std::move(s).take();
    bool contiguous = true;
    for (size_t i = 1; i < sectors.size() && contiguous; ++i) contiguous = sectors[i] == sectors[0] + i;
    const uint64_t first = (uint64_t(sectors[0]) + 1) << sectorShift_;
    if (lazy_ && size >= kDirectReadSize) {
        // Straight from the file, run by run of consecutive sectors.
        Bytes out(static_cast<size_t>(size), 0);
        uint64_t done = 0;
        for (size_t i = 0; i < sectors.size();) {
            size_t j = i + 1;
            while (j < sectors.size() && sectors[j] == sectors[j - 1] + 1) ++j;
            const uint64_t off = (uint64_t(sectors[i]) + 1) << sectorShift_;
            const uint64_t want = std::min<uint64_t>(uint64_t(j - i) << sectorShift_, size - done);
            const uint64_t have = off < file_.size() ? std::min<uint64_t>(want, file_.size() - off) : 0;
            if (have)
                if (auto s = lazy_->readAt(off, std::span<uint8_t>(out.data() + done, static_cast<size_t>(have))); !s)
                    return std::move(s).take();
            done += want;
            i = j;
        }
        return StreamData::owned(std::move(out));
    }
    if (lazy_)
        for (uint32_t s : sectors)
            if (auto st = need((uint64_t(s) + 1) << sectorShift_, sectorSize_); !st) return std::move(st).take();
    if (contiguous && inBounds(file_.size(), first, size)) return StreamData::view(file_.subspan(first, size));
    Bytes out(static_cast<size_t>(size), 0);
    uint64_t done = 0;
    for (uint32_t s : sectors) {
        const uint64_t off = (uint64_t(s) + 1) << sectorShift_;
        const uint64_t want = std::min<uint64_t>(sectorSize_, size - done);
        const uint64_t have = std::min<uint64_t>(want, file_.size() - off);  // a short last sector
        std::memcpy(out.data() + done, file_.data() + off, static_cast<size_t>(have));
        done += want;
    }
    return StreamData::owned(std::move(out));
}

// [MS-CFB] 2.6 directory sectors.
Status CompoundFile::loadDirectory(uint32_t start) {
    std::vector<uint32_t> sectors;
    if (auto s = chain(start, 0, sectors, "directory"); !s) return s;
    if (sectors.empty()) return corrupt("the directory is empty");
    const uint32_t perSector = sectorSize_ / direntry::kSize;
    entries_.clear();
    entries_.reserve(sectors.size() * perSector);
    for (size_t si = 0; si < sectors.size(); ++si) {
        const uint64_t base = (uint64_t(sectors[si]) + 1) << sectorShift_;
        if (auto s = need(base, sectorSize_); !s) return s;
        for (uint32_t k = 0; k < perSector; ++k) {
            // Built on the stack and copied in: a vector's emplace_back()
            // would zero the whole entry first.
            DirEntry e;
            auto rec = getSlice(file_, base + uint64_t(k) * direntry::kSize, direntry::kSize);
            const uint8_t* p = rec ? rec->data() : nullptr;  // none past a short last sector
            const uint8_t type = p ? p[direntry::mse] : 0;
            if (type != 1 && type != 2 && type != 5) {  // unallocated or unknown
                entries_.push_back(e);
                continue;
            }
            e.type = static_cast<ObjectType>(type);
            e.black = p[direntry::bflags] == 1;
            const uint16_t cb = loadLE16(p + direntry::cb);
            const size_t len = cb >= 2 ? std::min<size_t>(cb / 2 - 1, direntry::kMaxNameChars) : 0;
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(e.nameChars.data(), p, 2 * len);
            } else {
                for (size_t i = 0; i < len; ++i) e.nameChars[i] = static_cast<char16_t>(loadLE16(p + 2 * i));
            }
            e.nameLength = static_cast<uint8_t>(untilNull(e.nameChars.data(), len));
            e.left = loadLE32(p + direntry::sidLeftSib);
            e.right = loadLE32(p + direntry::sidRightSib);
            e.child = loadLE32(p + direntry::sidChild);
            std::memcpy(e.clsid.b.data(), p + direntry::clsId, 16);
            e.stateBits = loadLE32(p + direntry::dwUserFlags);
            e.creationTime = loadLE64(p + direntry::createTime);
            e.modifiedTime = loadLE64(p + direntry::modifyTime);
            e.startSector = loadLE32(p + direntry::sectStart);
            // [MS-CFB] 2.6.3: in v3 files the high 32 bits may hold garbage.
            e.size = major_ == 3 ? loadLE32(p + direntry::ulSize) : loadLE64(p + direntry::ulSize);
            entries_.push_back(e);
        }
    }
    if (entries_[0].type != ObjectType::Root) return corrupt("the first directory entry is not the root");
    return {};
}

// [MS-CFB] 2.4 MiniFAT and the mini stream (the root entry's stream).
Status CompoundFile::loadMiniStream(uint32_t miniFatStart) {
    const DirEntry& root = entries_[0];
    if (root.size > file_.size())
        return corrupt("mini stream: size " + std::to_string(root.size) + " is past the end of the file");
    miniStreamSize_ = root.size;
    if (miniStreamSize_) {
        const uint64_t n = (miniStreamSize_ + sectorSize_ - 1) >> sectorShift_;
        if (auto s = chain(root.startSector, n, miniStreamSectors_, "mini stream"); !s) return s;
    }
    std::vector<uint32_t> sectors;
    if (miniFatStart != ENDOFCHAIN && miniFatStart != FREESECT) {
        if (auto s = chain(miniFatStart, 0, sectors, "mini FAT"); !s) return s;
    }
    miniFat_.assign(sectors.size() * (sectorSize_ / 4), FREESECT);
    for (size_t i = 0; i < sectors.size(); ++i) {
        const uint64_t off = (uint64_t(sectors[i]) + 1) << sectorShift_;
        const uint64_t have = std::min<uint64_t>(sectorSize_, file_.size() - off);
        if (auto s = need(off, have); !s) return s;
        for (uint64_t k = 0; k + 4 <= have; k += 4)
            miniFat_[i * (sectorSize_ / 4) + k / 4] = loadLE32(file_.data() + off + k);
    }
    // A lazy file's mini stream is filled in at once: every small stream
    // is read from it.
    for (uint32_t sector : miniStreamSectors_)
        if (auto s = need((uint64_t(sector) + 1) << sectorShift_, sectorSize_); !s) return s;
    miniMark_.assign((miniStreamSize_ + kMiniSectorSize - 1) / kMiniSectorSize, 0);
    return {};
}

Result<StreamData> CompoundFile::readMini(uint32_t start, uint64_t size) const {
    if (size > miniStreamSize_)
        return corrupt("stream of " + std::to_string(size) + " bytes does not fit the mini stream");
    const uint64_t n = (size + kMiniSectorSize - 1) / kMiniSectorSize;
    const uint64_t miniCount = miniMark_.size();
    if (++walk_ == 0) {
        std::fill(sectorMark_.begin(), sectorMark_.end(), 0);
        std::fill(miniMark_.begin(), miniMark_.end(), 0);
        walk_ = 1;
    }
    // Walk first: the common case is a run of consecutive mini sectors in
    // one run of file sectors, returned as a view.
    uint32_t s = start;
    const uint32_t first = start;
    bool contiguous = true;
    for (uint64_t i = 0; i < n; ++i) {
        if (s == ENDOFCHAIN) return corrupt("mini stream: the chain ends before the stream does");
        if (s >= miniCount) return corrupt("mini stream: sector " + hex32(s) + " is out of range");
        if (miniMark_[s] == walk_) return corrupt("mini stream: the sector chain cycles at " + hex32(s));
        miniMark_[s] = walk_;
        if (s != first + i) contiguous = false;
        if (i + 1 < n) {
            if (s >= miniFat_.size()) return corrupt("mini stream: sector " + hex32(s) + " has no mini FAT entry");
            s = miniFat_[s];
        }
    }
    // A byte of the mini stream at `at` lies in file sector
    // miniStreamSectors_[at >> shift]; 64 divides the sector size, so a
    // mini sector never straddles two file sectors.
    auto fileOffset = [&](uint64_t at) {
        return ((uint64_t(miniStreamSectors_[at >> sectorShift_]) + 1) << sectorShift_) + (at & (sectorSize_ - 1));
    };
    const uint64_t begin = uint64_t(first) * kMiniSectorSize;
    if (contiguous && begin + size <= miniStreamSize_) {
        const uint64_t a = begin >> sectorShift_, b = (begin + size - 1) >> sectorShift_;
        bool run = true;
        for (uint64_t k = a + 1; k <= b && run; ++k) run = miniStreamSectors_[k] == miniStreamSectors_[a] + (k - a);
        if (run && inBounds(file_.size(), fileOffset(begin), size)) return StreamData::view(file_.subspan(fileOffset(begin), size));
    }
    Bytes out(static_cast<size_t>(size), 0);
    s = start;
    for (uint64_t done = 0; done < size;) {
        const uint64_t at = uint64_t(s) * kMiniSectorSize;
        const uint64_t want = std::min<uint64_t>(kMiniSectorSize, size - done);
        if (at < miniStreamSize_) {
            const uint64_t off = fileOffset(at);
            const uint64_t have = off < file_.size() ? std::min<uint64_t>({want, file_.size() - off, miniStreamSize_ - at}) : 0;
            if (have) std::memcpy(out.data() + done, file_.data() + off, static_cast<size_t>(have));
        }
        done += want;
        if (done < size) s = miniFat_[s];  // proven in range by the walk above
    }
    return StreamData::owned(std::move(out));
}

Result<StreamData> CompoundFile::read(uint32_t id) const {
    if (id >= entries_.size() || !entries_[id].isStream()) return corrupt("entry " + std::to_string(id) + " is not a stream");
    const DirEntry& e = entries_[id];
    if (e.size == 0) return StreamData::view({});
    if (e.size > file_.size())
        return corrupt("stream: size " + std::to_string(e.size) + " is past the end of the file");
    const uint64_t budget = 2 * uint64_t(file_.size()) + 65536;
    if (bytesRead_ + e.size > budget)
        return corrupt("the streams hold more data than the file (their sector chains overlap)");
    bytesRead_ += e.size;
    if (e.size < kMiniStreamCutoff) return readMini(e.startSector, e.size);
    return readRegular(e.startSector, e.size, "stream");
}

// [MS-CFB] 2.6.4: the children of a storage form a binary search tree through
// the left and right sibling ids, reached from the storage's child id.
Status CompoundFile::buildTree() {
    const size_t n = entries_.size();
    tree_.assign(n, TreeNode{});
    childList_.reserve(n);
    return listChildren(0, 0);
}

Status CompoundFile::listChildren(uint32_t storage, int depth) {
    if (depth > kMaxNesting) return corrupt("storages are nested more than " + std::to_string(kMaxNesting) + " deep");
    tree_[storage].state = 1;
    // This storage's children go to the end of childList_; the storages
    // among them are listed afterwards (recursion appends after them).
    const size_t begin = childList_.size();
    // In-order walk with an explicit stack; a node stays on the stack (and
    // on the path) until its right subtree is done.
    using Frame = WalkFrame;
    std::vector<Frame>& stack = walkStack_;
    stack.clear();

    auto push = [&](uint32_t id) -> Status {
        if (id == NOSTREAM) return {};
        if (id >= entries_.size()) return corrupt("directory: stream id " + hex32(id) + " is out of range");
        const DirEntry& e = entries_[id];
        if (e.type == ObjectType::Unallocated) return {};  // an unused entry: nothing to follow
        TreeNode& t = tree_[id];
        if (id == 0 || t.state == 1 || t.state == 3) return corrupt("the directory tree cycles at entry " + std::to_string(id));
        if (t.parent != NOSTREAM) return {};  // referenced twice: keep the first place
        t.parent = storage;
        t.state = 3;  // on the current path
        stack.push_back({id, 0});
        return {};
    };
    if (auto s = push(entries_[storage].child); !s) return s;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.stage == 0) {
            f.stage = 1;
            const uint32_t left = entries_[f.id].left;
            if (auto s = push(left); !s) return s;
        } else if (f.stage == 1) {
            f.stage = 2;
            childList_.push_back(f.id);
            const uint32_t right = entries_[f.id].right;
            if (auto s = push(right); !s) return s;
        } else {
            tree_[f.id].state = 0;
            stack.pop_back();
        }
    }
    const size_t end = childList_.size();
    tree_[storage].begin = static_cast<uint32_t>(begin);
    tree_[storage].end = static_cast<uint32_t>(end);
    for (size_t k = begin; k < end; ++k) {
        const uint32_t c = childList_[k];
        if (!entries_[c].isStorage()) continue;
        if (auto s = listChildren(c, depth + 1); !s) return s;
    }
    tree_[storage].state = 2;
    return {};
}

std::span<const uint32_t> CompoundFile::children(uint32_t storage) const {
    if (storage >= entries_.size() || !entries_[storage].isStorage()) return {};
    return std::span<const uint32_t>(childList_).subspan(tree_[storage].begin, tree_[storage].end - tree_[storage].begin);
}

std::optional<uint32_t> CompoundFile::find(uint32_t storage, std::u16string_view name) const {
    for (uint32_t c : children(storage))
        if (sameName(entries_[c].name(), name)) return c;
    return std::nullopt;
}

Result<StorageEntry> CompoundFile::copyStorage(uint32_t storage) const {
    if (storage >= entries_.size() || !entries_[storage].isStorage())
        return corrupt("entry " + std::to_string(storage) + " is not a storage");
    StorageEntry out;
    if (auto s = copyInto(storage, out, 0); !s) return std::move(s).take();
    return out;
}

Status CompoundFile::copyInto(uint32_t id, StorageEntry& out, int depth) const {
    const DirEntry& e = entries_[id];
    out.name.assign(e.name());
    out.isStorage = e.isStorage();
    out.clsid = e.clsid;
    out.stateBits = e.stateBits;
    out.creationTime = e.creationTime;
    out.modifiedTime = e.modifiedTime;
    if (!out.isStorage) {
        auto d = read(id);
        if (!d) return std::move(d).error().prefixed(std::string("stream ") + "#" + std::to_string(id));
        out.data = std::move(d).value().take();
        return {};
    }
    if (depth > kMaxNesting) return corrupt("storages are nested too deep");
    const auto kids = children(id);
    out.children.resize(kids.size());
    for (size_t i = 0; i < kids.size(); ++i)
        if (auto s = copyInto(kids[i], out.children[i], depth + 1); !s) return s;
    return {};
}

}  // namespace tavrin::store::cfb
