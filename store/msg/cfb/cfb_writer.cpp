#include "store/msg/cfb/cfb_writer.h"

#include <algorithm>
#include <string>
#include <vector>

#include "fs/text.h"
#include "store/msg/cfb/cfb_format.h"
#include "store/msg/cfb/names.h"

namespace tavrin::store::cfb {
namespace {


struct Node {
    const StorageEntry* src = nullptr;
    uint32_t left = NOSTREAM, right = NOSTREAM, child = NOSTREAM;
    bool black = true;
    bool mini = false;
    uint32_t start = ENDOFCHAIN;  // sector or mini sector
};

class Planner {
public:
    std::vector<Node> nodes;

    uint64_t maxStream = 0xFFFFFFFFull;

    Status add(const StorageEntry& e, uint32_t& id, int depth) {
        if (depth > 256) return Error(err::kInvalidParameter, "compound file: storages nested too deep");
        id = static_cast<uint32_t>(nodes.size());
        nodes.push_back(Node{&e});
        if (!e.isStorage) {
            if (e.data.size() > maxStream) return Error(err::kTooBig, "compound file: a stream of 4 GiB or more");
            return {};
        }
        std::vector<const StorageEntry*> kids;
        kids.reserve(e.children.size());
        for (const auto& c : e.children) {
            if (c.name.empty() || c.name.size() > direntry::kMaxNameChars)
                return Error(err::kInvalidParameter,
                             "compound file: the name \"" + text::toUtf8(c.name) + "\" is empty or longer than 31 characters");
            kids.push_back(&c);
        }
        std::sort(kids.begin(), kids.end(),
                  [](const StorageEntry* a, const StorageEntry* b) { return compareNames(a->name, b->name) < 0; });
        for (size_t i = 1; i < kids.size(); ++i)
            if (compareNames(kids[i - 1]->name, kids[i]->name) == 0)
                return Error(err::kInvalidParameter,
                             "compound file: two entries named \"" + text::toUtf8(kids[i]->name) + "\" in one storage");
        std::vector<uint32_t> ids(kids.size());
        for (size_t i = 0; i < kids.size(); ++i)
            if (auto s = add(*kids[i], ids[i], depth + 1); !s) return s;
        int height = 0;
        for (size_t n = kids.size(); n; n >>= 1) ++height;
        nodes[id].child = balanced(ids, 0, ids.size(), 1, height);
        return {};
    }

private:
    // A balanced tree over sorted ids[lo, hi): every level but the last is
    // full, so colouring the last level red (and the rest black) gives every
    // path the same number of black nodes ([MS-CFB] 2.6.4).
    uint32_t balanced(const std::vector<uint32_t>& ids, size_t lo, size_t hi, int level, int height) {
        if (lo >= hi) return NOSTREAM;
        const size_t mid = lo + (hi - lo) / 2;
        Node& n = nodes[ids[mid]];
        const bool perfect = ((ids.size() + 1) & ids.size()) == 0;
        n.black = !(level == height && !perfect);
        const uint32_t l = balanced(ids, lo, mid, level + 1, height);
        const uint32_t r = balanced(ids, mid + 1, hi, level + 1, height);
        nodes[ids[mid]].left = l;
        nodes[ids[mid]].right = r;
        return ids[mid];
    }
};

uint64_t sectorsFor(uint64_t bytes, uint64_t unit) { return (bytes + unit - 1) / unit; }

}  // namespace

Result<Bytes> writeCompoundFile(const StorageEntry& root, uint16_t majorVersion) {
    if (!root.isStorage) return Error(err::kInvalidParameter, "compound file: the root must be a storage");
    if (majorVersion != 3 && majorVersion != 4)
        return Error(err::kInvalidParameter, "compound file: version " + std::to_string(majorVersion) + " is not written");
    const bool v4 = majorVersion == 4;
    const uint32_t shift = v4 ? 12 : 9;
    const uint32_t sectorSize = 1u << shift;
    const uint32_t perFat = sectorSize / 4;
    const uint32_t perDif = sectorSize / 4 - 1;
    const uint32_t perDir = sectorSize / direntry::kSize;
    Planner plan;
    if (v4) plan.maxStream = ~0ull;
    uint32_t rootId = 0;
    if (auto s = plan.add(root, rootId, 0); !s) return std::move(s).take();
    auto& nodes = plan.nodes;

    // Mini stream and regular streams.
    uint64_t miniSectors = 0, dataSectors = 0;
    for (auto& n : nodes) {
        if (n.src->isStorage || n.src->data.empty()) continue;
        if (n.src->data.size() < kMiniStreamCutoff) {
            n.mini = true;
            n.start = static_cast<uint32_t>(miniSectors);
            miniSectors += sectorsFor(n.src->data.size(), kMiniSectorSize);
        } else {
            dataSectors += sectorsFor(n.src->data.size(), sectorSize);
        }
    }
    const uint64_t dirSectors = sectorsFor(nodes.size(), perDir);
    const uint64_t miniFatSectors = sectorsFor(miniSectors * 4, sectorSize);
    const uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const uint64_t miniStreamSectors = sectorsFor(miniStreamBytes, sectorSize);
    const uint64_t content = dirSectors + miniFatSectors + miniStreamSectors + dataSectors;
    uint64_t fatSectors = 0, difSectors = 0;
    for (;;) {
        const uint64_t total = content + fatSectors + difSectors;
        const uint64_t f = sectorsFor(total, perFat);
        const uint64_t d = f > header::kHeaderDifatEntries ? sectorsFor(f - header::kHeaderDifatEntries, perDif) : 0;
        if (f == fatSectors && d == difSectors) break;
        fatSectors = f;
        difSectors = d;
    }
    const uint64_t totalSectors = content + fatSectors + difSectors;
    if (totalSectors >= MAXREGSECT || miniStreamBytes > 0xFFFFFFFFull)
        return Error(err::kTooBig, "compound file: too large");

    // Sector numbers of each region, in file order.
    const uint32_t difStart = static_cast<uint32_t>(fatSectors);
    const uint32_t dirStart = static_cast<uint32_t>(difStart + difSectors);
    const uint32_t miniFatStart = static_cast<uint32_t>(dirStart + dirSectors);
    const uint32_t miniStreamStart = static_cast<uint32_t>(miniFatStart + miniFatSectors);
    uint32_t next = static_cast<uint32_t>(miniStreamStart + miniStreamSectors);
    for (auto& n : nodes) {
        if (n.src->isStorage || n.src->data.empty() || n.mini) continue;
        n.start = next;
        next += static_cast<uint32_t>(sectorsFor(n.src->data.size(), sectorSize));
    }

    Bytes out(static_cast<size_t>((totalSectors + 1) * sectorSize), 0);
    MutableByteSpan o(out);
    auto sectorOffset = [sectorSize](uint64_t s) { return (s + 1) * sectorSize; };

    // [MS-CFB] 2.3 FAT: FATSECT, DIFSECT, then one chain per region.
    std::vector<uint32_t> fat(static_cast<size_t>(fatSectors * perFat), FREESECT);
    for (uint64_t i = 0; i < fatSectors; ++i) fat[i] = FATSECT;
    for (uint64_t i = 0; i < difSectors; ++i) fat[difStart + i] = DIFSECT;
    auto run = [&](uint64_t start, uint64_t count) {
        for (uint64_t i = 0; i < count; ++i) fat[start + i] = i + 1 < count ? static_cast<uint32_t>(start + i + 1) : ENDOFCHAIN;
    };
    run(dirStart, dirSectors);
    run(miniFatStart, miniFatSectors);
    run(miniStreamStart, miniStreamSectors);
    for (const auto& n : nodes)
        if (!n.src->isStorage && !n.src->data.empty() && !n.mini) run(n.start, sectorsFor(n.src->data.size(), sectorSize));
    for (uint64_t i = 0; i < fat.size(); ++i) {
        const uint64_t s = i / perFat;
        putLE32(o, sectorOffset(s) + (i % perFat) * 4, fat[i]);
    }

    // [MS-CFB] 2.2 header and 2.5 DIFAT.
    putBytes(o, header::abSig, ByteSpan(header::kSignature, sizeof header::kSignature));
    putLE16(o, header::uMinorVersion, header::kMinorVersion);
    putLE16(o, header::uMajorVersion, majorVersion);
    putLE16(o, header::uByteOrder, header::kByteOrder);
    putLE16(o, header::uSectorShift, static_cast<uint16_t>(shift));
    putLE16(o, header::uMiniSectorShift, kMiniSectorShift);
    putLE32(o, header::csectDir, v4 ? static_cast<uint32_t>(dirSectors) : 0);  // MUST be 0 in v3
    putLE32(o, header::csectFat, static_cast<uint32_t>(fatSectors));
    putLE32(o, header::sectDirStart, dirStart);
    putLE32(o, header::signature, 0);
    putLE32(o, header::ulMiniSectorCutoff, kMiniStreamCutoff);
    putLE32(o, header::sectMiniFatStart, miniFatSectors ? miniFatStart : ENDOFCHAIN);
    putLE32(o, header::csectMiniFat, static_cast<uint32_t>(miniFatSectors));
    putLE32(o, header::sectDifStart, difSectors ? difStart : ENDOFCHAIN);
    putLE32(o, header::csectDif, static_cast<uint32_t>(difSectors));
    for (uint32_t i = 0; i < header::kHeaderDifatEntries; ++i)
        putLE32(o, header::sectFat + 4 * i, i < fatSectors ? i : FREESECT);
    for (uint64_t d = 0; d < difSectors; ++d) {
        const uint64_t off = sectorOffset(difStart + d);
        for (uint32_t k = 0; k < perDif; ++k) {
            const uint64_t fatIndex = header::kHeaderDifatEntries + d * perDif + k;
            putLE32(o, off + 4 * k, fatIndex < fatSectors ? static_cast<uint32_t>(fatIndex) : FREESECT);
        }
        putLE32(o, off + 4 * perDif, d + 1 < difSectors ? static_cast<uint32_t>(difStart + d + 1) : ENDOFCHAIN);
    }

    // [MS-CFB] 2.6 directory; unused entries keep NOSTREAM links.
    for (uint64_t i = 0; i < dirSectors * perDir; ++i) {
        const uint64_t off = sectorOffset(dirStart) + i * direntry::kSize;
        if (i >= nodes.size()) {
            putLE32(o, off + direntry::sidLeftSib, NOSTREAM);
            putLE32(o, off + direntry::sidRightSib, NOSTREAM);
            putLE32(o, off + direntry::sidChild, NOSTREAM);
            continue;
        }
        const Node& n = nodes[i];
        const StorageEntry& e = *n.src;
        const std::u16string_view name = i == 0 ? std::u16string_view(u"Root Entry") : std::u16string_view(e.name);
        for (size_t k = 0; k < name.size(); ++k) putLE16(o, off + 2 * k, name[k]);
        putLE16(o, off + direntry::cb, static_cast<uint16_t>((name.size() + 1) * 2));
        const ObjectType type = i == 0 ? ObjectType::Root : e.isStorage ? ObjectType::Storage : ObjectType::Stream;
        o[off + direntry::mse] = static_cast<uint8_t>(type);
        o[off + direntry::bflags] = n.black ? 1 : 0;
        putLE32(o, off + direntry::sidLeftSib, n.left);
        putLE32(o, off + direntry::sidRightSib, n.right);
        putLE32(o, off + direntry::sidChild, n.child);
        if (e.isStorage) {
            putBytes(o, off + direntry::clsId, e.clsid.b);
            putLE32(o, off + direntry::dwUserFlags, e.stateBits);
            // The root's creation time MUST be zero ([MS-CFB] 2.6.1).
            putLE64(o, off + direntry::createTime, i == 0 ? 0 : e.creationTime);
            putLE64(o, off + direntry::modifyTime, e.modifiedTime);
        }
        if (i == 0) {
            putLE32(o, off + direntry::sectStart, miniStreamSectors ? miniStreamStart : ENDOFCHAIN);
            putLE64(o, off + direntry::ulSize, miniStreamBytes);
        } else if (!e.isStorage) {
            putLE32(o, off + direntry::sectStart, e.data.empty() ? ENDOFCHAIN : n.start);
            putLE64(o, off + direntry::ulSize, e.data.size());
        }
    }

    // [MS-CFB] 2.4 mini FAT and the mini stream; then the other streams.
    const uint64_t miniFatOff = sectorOffset(miniFatStart);
    for (uint64_t k = miniSectors; k < miniFatSectors * perFat; ++k) putLE32(o, miniFatOff + 4 * k, FREESECT);
    for (const auto& n : nodes) {
        if (n.src->isStorage || n.src->data.empty()) continue;
        const Bytes& d = n.src->data;
        if (n.mini) {
            const uint64_t count = sectorsFor(d.size(), kMiniSectorSize);
            for (uint64_t k = 0; k < count; ++k)
                putLE32(o, miniFatOff + 4 * (n.start + k), k + 1 < count ? static_cast<uint32_t>(n.start + k + 1) : ENDOFCHAIN);
            putBytes(o, sectorOffset(miniStreamStart) + uint64_t(n.start) * kMiniSectorSize, d);
        } else {
            putBytes(o, sectorOffset(n.start), d);
        }
    }
    return out;
}

}  // namespace tavrin::store::cfb
