// The heap pass of the verifier: every node's and subnode's data as a
// heap-on-node, BTree-on-heap, property context or table context
// ([MS-PST] 2.3).
#include <algorithm>
#include <bitset>
#include <string>

#include "store/pst/verify/verifier_impl.h"

namespace tavrin::pst::verify {

using namespace ndb;
using ltp::Heap;

namespace {

std::string dec(uint64_t v) { return std::to_string(v); }

std::string tagText(uint32_t tag) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", tag);
    return b;
}

enum class Content { Raw, Pc, Tc, Unknown };

// What a node of this NID holds ([MS-PST] 2.4).
Content expectedContent(uint32_t nid) {
    if (nid == NID_MESSAGE_STORE || nid == NID_NAME_TO_ID_MAP) return Content::Pc;
    switch (nidType(nid)) {
        case NID_TYPE_NORMAL_FOLDER: case NID_TYPE_SEARCH_FOLDER: case NID_TYPE_NORMAL_MESSAGE:
        case NID_TYPE_ATTACHMENT: case NID_TYPE_ASSOC_MESSAGE: case NID_TYPE_SEARCH_CRITERIA_OBJECT:
            return Content::Pc;
        case NID_TYPE_RECEIVE_FOLDER_TABLE: case NID_TYPE_OUTGOING_QUEUE_TABLE: case NID_TYPE_HIERARCHY_TABLE:
        case NID_TYPE_CONTENTS_TABLE: case NID_TYPE_ASSOC_CONTENTS_TABLE: case NID_TYPE_SEARCH_CONTENTS_TABLE:
        case NID_TYPE_ATTACHMENT_TABLE: case NID_TYPE_RECIPIENT_TABLE:
            return Content::Tc;
        case NID_TYPE_SEARCH_UPDATE_QUEUE: case NID_TYPE_LTP:
            return Content::Raw;
        default:
            return Content::Unknown;
    }
}

// The cell size a table column of this type has ([MS-PST] 2.3.4.2).
uint32_t cellSize(uint16_t type) {
    if (store::isMultiValued(type)) return 4;
    const uint32_t fixed = store::fixedSize(type);
    return fixed ? fixed : 4;
}

// A key of a BTree-on-heap as a comparable pair (keys are at most 16 bytes,
// little-endian).
std::pair<uint64_t, uint64_t> keyOf(ByteSpan k) {
    if (k.size() <= 8) return {0, ltp::bthKeyValue(k)};
    return {ltp::bthKeyValue(k.subspan(8)), ltp::bthKeyValue(k.first(8))};
}

std::string keyText(ByteSpan k) {
    auto [hi, lo] = keyOf(k);
    return hi ? hex(hi) + ":" + hex(lo) : hex(lo);
}

}  // namespace

void Verifier::noteNamedId(uint16_t id, const Where& where) {
    if (store::isNamedId(id) && !namedIds_.count(id)) namedIds_.emplace(id, where.text());
}

void Verifier::checkAllNodes() {
    for (const auto& n : nodes_) {
        const Node node(db_.get(), n.nid, n.bidData, n.bidSub);
        auto where = [&] { return nodeWhere(n.nid); };
        checkNodeContent(node, where, 0);
    }
}

void Verifier::checkNodeContent(const Node& node, const Where& where, uint32_t depth) {
    const Content want = expectedContent(node.nid());
    if (node.bidData() == 0) {
        if (want == Content::Pc || want == Content::Tc) add(where, "has no data, where a property or table context was expected");
    } else {
        auto blocks = node.dataBlocks();
        if (blocks) checkDataTreeLayout(*blocks, where);
        if (!blocks) {
            add(where, blocks.error().description);
        } else if (want != Content::Raw) {
            const bool looksLikeHeap = !blocks->empty() && blocks->front().size() >= 4 && blocks->front()[2] == ltp::kHeapSig;
            if (want == Content::Pc || want == Content::Tc || looksLikeHeap) {
                // The heap takes the blocks read above.
                if (auto heap = checkHeap(node, std::move(blocks).value(), where)) {
                    const uint8_t sig = heap->clientSig();
                    if (want == Content::Pc && sig != ltp::bTypePC) {
                        add(where, "heap bClientSig " + hex(sig) + " where a property context (0xBC) was expected");
                    } else if (want == Content::Tc && sig == 0xAC && nidType(node.nid()) == NID_TYPE_SEARCH_CONTENTS_TABLE) {
                        // A search folder's contents table may be the 0xAC
                        // table variant, which [MS-PST] leaves undocumented
                        // (dist-list.pst node 0x730, search folder "All
                        // Messages"); only its heap is checked.
                    } else if (want == Content::Tc && sig != ltp::bTypeTC) {
                        add(where, "heap bClientSig " + hex(sig) + " where a table context (0x7C) was expected");
                    } else if (sig == ltp::bTypePC) {
                        checkPc(node, heap, where);
                    } else if (sig == ltp::bTypeTC) {
                        checkTc(node, heap, where);
                    } else if (sig == ltp::bTypeBTH && heap->userRoot() != 0) {
                        HidList used;
                        checkBth(*heap, heap->userRoot(), where, 0, 0, used);
                    }
                }
            }
        }
    }
    // Subnodes, depth-first. The subnode tree's blocks were checked in the
    // block pass; a tree that cannot be read was reported there too.
    if (node.bidSub() == 0) return;
    if (depth >= 16) {
        add(where, "subnodes nested deeper than 16 levels");
        return;
    }
    auto subs = node.subnodes();
    if (!subs) {
        add(where, subs.error().description);
        return;
    }
    for (const auto& s : **subs) {
        const Node child(db_.get(), s.nid, s.bidData, s.bidSub);
        auto childWhere = [&] { return where.text() + " subnode " + hex(s.nid); };
        checkNodeContent(child, childWhere, depth + 1);
    }
}

// [MS-PST] 2.2.2.8.3.2: readers of Outlook's lineage (pstsdk, java-libpst)
// find a data tree's block by dividing an offset by 8176, so every block
// but the last must be whole, as Outlook writes them for every kind of node
// (sample1.pst node 0x200024 subnode 0x8025/0x803f: 11 x 8176 + 3206;
// testPST.pst node 0x200044, a property context: 8176 + 520).
void Verifier::checkDataTreeLayout(const std::vector<Bytes>& blocks, const Where& where) {
    const uint32_t full = maxBlockData(f_);
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        if (blocks[i].size() != full)
            add(where, "data block " + dec(i) + " of " + dec(blocks.size()) + " holds " + dec(blocks[i].size()) +
                           " bytes; every block of a data tree but the last holds " + dec(full));
}

std::shared_ptr<const Heap> Verifier::checkHeap(const Node& node, std::vector<Bytes> blocks, const Where& where) {
    auto h = ltp::heapFromBlocks(node, std::move(blocks));
    if (!h) {
        add(where, h.error().description);
        return nullptr;
    }
    ++rep_.heaps;
    auto shared = std::make_shared<const Heap>(std::move(h).value());
    const Heap& heap = *shared;
    switch (heap.clientSig()) {
        case 0x6C: case 0x7C: case 0x8C: case 0x9C: case 0xA5: case 0xAC: case 0xB5: case 0xBC: case 0xCC: break;
        default: add(where, "heap bClientSig " + hex(heap.clientSig()) + " is not a known client signature");
    }
    const uint32_t maxData = maxBlockData(f_);
    for (size_t i = 0; i < heap.blockCount(); ++i) {
        auto bw = [&] { return where.text() + " heap block " + dec(i); };
        const ltp::HNPAGEMAP& m = heap.pageMap(i);
        const uint32_t ibHnpm = heap.pageMapOffset(i);
        const uint32_t size = static_cast<uint32_t>(heap.block(i).size());
        const uint32_t headerSize = ltp::heapBlockHeaderSize(static_cast<uint32_t>(i));
        if (ibHnpm % 2 != 0) add(bw, "ibHnpm " + dec(ibHnpm) + " is not 2-byte aligned");
        // The page map is the last thing in use, right after the last
        // allocation; a block that another block follows is then padded to
        // 8176 bytes (testPST.pst node 0x200044: map at 7644, 166 bytes,
        // 366 bytes of zeros after it, fill level 9), so the map need not
        // end the block, only fit it.
        const uint32_t inUse = ibHnpm + m.size();
        if (inUse > size)
            add(bw, "HNPAGEMAP at " + dec(ibHnpm) + " (" + dec(m.size()) + " bytes) runs past the " + dec(size) + "-byte block");
        if (!m.rgibAlloc.empty() && m.rgibAlloc.front() != headerSize)
            add(bw, "first allocation starts at " + dec(m.rgibAlloc.front()) + ", not after the " + dec(headerSize) + "-byte header");
        uint32_t zeroLength = 0;
        for (size_t k = 0; k + 1 < m.rgibAlloc.size(); ++k) {
            const uint16_t a = m.rgibAlloc[k], b = m.rgibAlloc[k + 1];
            if (b < a) {
                add(bw, "allocation " + dec(k + 1) + " ends at " + dec(b) + " before it starts at " + dec(a));
                continue;
            }
            if (b == a) ++zeroLength;
            if (uint32_t(b - a) > ltp::kMaxHeapAlloc) add(bw, "allocation " + dec(k + 1) + " of " + dec(b - a) + " bytes exceeds 3580");
        }
        if (!m.rgibAlloc.empty() && m.rgibAlloc.back() > ibHnpm)
            add(bw, "allocations end at " + dec(m.rgibAlloc.back()) + ", past ibHnpm " + dec(ibHnpm));
        if (m.cFree != zeroLength) add(bw, "cFree " + dec(m.cFree) + " but " + dec(zeroLength) + " allocations are freed");
        if (inUse > maxData) continue;
        // [MS-PST] 2.3.1.2 fill levels: the class of what is left of a full
        // block after the page map. Near a class boundary Outlook's own level
        // is one class emptier (ltp::heapFillLevel), which is a note. Its
        // rounding is known from few blocks at a boundary, so any level one
        // class off is a note too; two or more classes off is a finding.
        const uint8_t want = ltp::fillLevelFor(maxData - inUse);
        const uint8_t outlooks = ltp::heapFillLevel(inUse, maxData);
        uint8_t have = 0;
        if (i < ltp::kFillLevelBlocksInHeader) {
            have = ltp::getFillLevel(heap.header().rgbFillLevel, static_cast<uint32_t>(i));
        } else {
            const size_t bm = 8 + (i - 8) / ltp::kFillLevelBlocksInBitmap * ltp::kFillLevelBlocksInBitmap;
            auto hdr = ltp::HNBITMAPHDR::decode(heap.block(bm));
            if (hdr) have = ltp::getFillLevel(hdr->rgbFillLevel, static_cast<uint32_t>(i - bm));
        }
        const std::string level = "fill level " + dec(have) + " where " + dec(inUse) + " bytes in use give " + dec(want);
        if (have == want) continue;
        if (have == outlooks)
            note(bw, level + " (Outlook's rounding at a class boundary)");
        else if (have + 1 == want || have == want + 1)
            note(bw, level + " (one class off)");
        else
            add(bw, level);
    }
    // Fill level slots of blocks that do not exist must be 0.
    for (uint32_t i = static_cast<uint32_t>(heap.blockCount()); i < ltp::kFillLevelBlocksInHeader; ++i)
        if (ltp::getFillLevel(heap.header().rgbFillLevel, i) != 0)
            add(where, "fill level of missing heap block " + dec(i) + " is not 0");
    if (heap.userRoot() != 0)
        if (auto r = heap.get(heap.userRoot()); !r) add(where, "hidUserRoot: " + r.error().description);
    return shared;
}

void Verifier::checkBth(const Heap& heap, uint32_t hid, const Where& where, uint8_t cbKey, uint8_t cbEnt, HidList& used) {
    auto bth = ltp::Bth::open(heap, hid);
    used.push_back(hid);
    if (!bth) {
        add(where, bth.error().description);
        return;
    }
    const ltp::BTHHEADER& hd = bth->header();
    if (cbKey && (hd.cbKey != cbKey || hd.cbEnt != cbEnt)) {
        add(where, "BTH cbKey/cbEnt " + dec(hd.cbKey) + "/" + dec(hd.cbEnt) + " where " + dec(cbKey) + "/" + dec(cbEnt) + " were expected");
        return;
    }
    if (hd.hidRoot == 0) return;
    std::set<uint32_t> seen;
    std::optional<std::pair<uint64_t, uint64_t>> lastLeaf;
    // Returns the first key of the subtree at `h`; levels strictly
    // decrease and each allocation is visited once.
    std::function<std::optional<std::pair<uint64_t, uint64_t>>(uint32_t, int)> visit =
        [&](uint32_t h, int level) -> std::optional<std::pair<uint64_t, uint64_t>> {
        auto w = [&] { return where.text() + " BTH " + hex(hid) + " record array " + hex(h); };
        if (!seen.insert(h).second) {
            add(w, "is reached twice");
            return std::nullopt;
        }
        used.push_back(h);
        auto a = heap.get(h);
        if (!a) {
            add(w, a.error().description);
            return std::nullopt;
        }
        const uint32_t rec = level > 0 ? hd.cbKey + 4u : uint32_t(hd.cbKey) + hd.cbEnt;
        if (a->empty() || a->size() % rec != 0) {
            add(w, dec(a->size()) + " bytes are not a whole, non-empty number of " + dec(rec) + "-byte records");
            return std::nullopt;
        }
        std::optional<std::pair<uint64_t, uint64_t>> first, prev;
        for (size_t i = 0; i < a->size() / rec; ++i) {
            ByteSpan k = a->subspan(i * rec, hd.cbKey);
            const auto key = keyOf(k);
            if (prev && key <= *prev) add(w, "record " + dec(i) + " key " + keyText(k) + " is not above the previous key");
            prev = key;
            if (!first) first = key;
            if (level > 0) {
                const uint32_t child = store::loadLE32(a->data() + i * rec + hd.cbKey);
                auto cf = visit(child, level - 1);
                if (cf && *cf != key) add(w, "index record " + dec(i) + " key " + keyText(k) + " is not its child's first key");
                continue;
            }
            if (lastLeaf && key <= *lastLeaf) add(w, "leaf key " + keyText(k) + " is not above the previous leaf key");
            lastLeaf = key;
        }
        return first;
    };
    visit(hd.hidRoot, hd.bIdxLevels);
}

void Verifier::checkHnidValue(const Node& node, const Heap& heap, uint32_t tag, uint32_t hnid, const Where& where,
                              HidList& used) {
    if (hnid == 0) return;
    Bytes stream;  // a subnode's value; a heap allocation is checked in place
    ByteSpan raw;
    if (ltp::hnidIsHid(hnid)) {
        used.push_back(hnid);
        auto a = heap.get(hnid);
        if (!a) {
            add(where, "property " + tagText(tag) + ": " + a.error().description);
            return;
        }
        raw = *a;
    } else {
        auto sub = node.subnode(hnid);
        if (!sub) {
            add(where, "property " + tagText(tag) + ": " + sub.error().description);
            return;
        }
        auto d = sub->data();
        if (!d) {
            add(where, "property " + tagText(tag) + ": " + d.error().description);
            return;
        }
        stream = std::move(d).value();
        raw = stream;
    }
    if (auto st = ltp::checkPropertyBytes(tag, raw); !st) {
        add(where, st.error().description);
        return;
    }
    const uint16_t type = store::tagType(tag);
    if (type == store::PT_UNICODE && raw.size() % 2 != 0)
        add(where, "property " + tagText(tag) + ": UTF-16 value of odd length " + dec(raw.size()));
    if (type == store::PT_OBJECT) {
        auto ref = ltp::ObjectRef::decode(raw);
        if (!ref || raw.size() != ltp::ObjectRef::kSize) {
            add(where, "property " + tagText(tag) + ": PT_OBJECT value is not 8 bytes");
            return;
        }
        if (auto sub = node.subnode(ref->nid); !sub) add(where, "property " + tagText(tag) + ": object " + sub.error().description);
    }
}

void Verifier::checkUnusedAllocations(const Heap& heap, HidList& used, const Where& where) {
    std::sort(used.begin(), used.end());
    for (size_t b = 0; b < heap.blockCount(); ++b) {
        const auto& m = heap.pageMap(b);
        for (uint32_t i = 1; i <= m.cAlloc(); ++i) {
            const uint32_t hid = ltp::makeHid(static_cast<uint32_t>(b), i);
            if (m.rgibAlloc[i] > m.rgibAlloc[i - 1] && !std::binary_search(used.begin(), used.end(), hid))
                add(where, "heap allocation " + hex(hid) + " is used by nothing");
        }
    }
}

void Verifier::checkPc(const Node& node, const std::shared_ptr<const Heap>& heapPtr, const Where& where) {
    const Heap& heap = *heapPtr;
    HidList used;
    used.push_back(heap.userRoot());
    checkBth(heap, heap.userRoot(), where, ltp::kPcKeySize, ltp::kPcDataSize, used);
    auto pc = ltp::PropertyContext::open(node, heapPtr);
    if (!pc) {
        add(where, pc.error().description);
        return;
    }
    for (const auto& e : pc->entries()) {
        const uint32_t tag = store::makeTag(e.wPropId, e.wPropType);
        if (!store::isKnownType(e.wPropType)) add(where, "property " + tagText(tag) + " has an unknown type");
        noteNamedId(e.wPropId, where);
        if (!ltp::storedInline(e.wPropType)) checkHnidValue(node, heap, tag, e.dwValueHnid, where, used);
    }
    checkUnusedAllocations(heap, used, where);
}

void Verifier::checkTc(const Node& node, const std::shared_ptr<const Heap>& heapPtr, const Where& where) {
    const Heap& heap = *heapPtr;
    HidList used{heap.userRoot()};
    auto infoBytes = heap.get(heap.userRoot());
    if (!infoBytes) {
        add(where, "TCINFO: " + infoBytes.error().description);
        return;
    }
    auto info = ltp::TCINFO::decode(*infoBytes);
    if (!info) {
        add(where, info.error().description);
        return;
    }
    if (info->size() != infoBytes->size())
        add(where, "TCINFO allocation of " + dec(infoBytes->size()) + " bytes for " + dec(info->cols.size()) + " columns");
    const auto& rg = info->rgib;
    const uint32_t cCols = static_cast<uint32_t>(info->cols.size());
    if (!(rg[ltp::TCI_4b] <= rg[ltp::TCI_2b] && rg[ltp::TCI_2b] <= rg[ltp::TCI_1b] && rg[ltp::TCI_1b] <= rg[ltp::TCI_bm]))
        add(where, "TCINFO rgib " + dec(rg[0]) + "/" + dec(rg[1]) + "/" + dec(rg[2]) + "/" + dec(rg[3]) + " are out of order");
    if (uint32_t(rg[ltp::TCI_bm]) - rg[ltp::TCI_1b] != (cCols + 7) / 8)
        add(where, "cell existence block of " + dec(rg[ltp::TCI_bm] - rg[ltp::TCI_1b]) + " bytes for " + dec(cCols) + " columns");
    if (info->hidIndex != 0) add(where, "TCINFO hidIndex is not 0");
    std::bitset<256> bits;  // iBit is one byte
    std::vector<std::pair<uint32_t, uint32_t>> cells;
    cells.reserve(info->cols.size());
    for (size_t i = 0; i < info->cols.size(); ++i) {
        const auto& c = info->cols[i];
        auto cw = [&] { return "column " + tagText(c.tag); };
        if (i > 0 && c.tag <= info->cols[i - 1].tag) add(where, cw() + " is not in ascending tag order");
        if (!store::isKnownType(store::tagType(c.tag))) add(where, cw() + " has an unknown type");
        const bool shared = c.iBit < cCols && bits.test(c.iBit);
        if (c.iBit < cCols) bits.set(c.iBit);
        if (c.iBit >= cCols || shared) add(where, cw() + " iBit " + dec(c.iBit) + " is out of range or shared");
        const uint32_t want = cellSize(store::tagType(c.tag));
        if (c.cbData != want) add(where, cw() + " cbData " + dec(c.cbData) + " where " + dec(want) + " was expected");
        const uint32_t end = uint32_t(c.ibData) + c.cbData;
        bool placed = false;
        if (c.cbData >= 4) placed = end <= rg[ltp::TCI_4b];
        else if (c.cbData == 2) placed = c.ibData >= rg[ltp::TCI_4b] && end <= rg[ltp::TCI_2b];
        else if (c.cbData == 1) placed = c.ibData >= rg[ltp::TCI_2b] && end <= rg[ltp::TCI_1b];
        if (!placed) add(where, cw() + " at " + dec(c.ibData) + " lies outside the area for " + dec(c.cbData) + "-byte cells");
        cells.emplace_back(c.ibData, end);
    }
    std::sort(cells.begin(), cells.end());
    for (size_t i = 1; i < cells.size(); ++i)
        if (cells[i].first < cells[i - 1].second) add(where, "cells at " + dec(cells[i - 1].first) + " and " + dec(cells[i].first) + " overlap");
    const ltp::TCOLDESC* rowIdCol = nullptr;
    for (const auto& c : info->cols)
        if (c.tag == ltp::PidTagLtpRowId) rowIdCol = &c;
    if (!rowIdCol || rowIdCol->ibData != 0 || rowIdCol->iBit != 0)
        add(where, "PidTagLtpRowId is not the first column (ibData 0, iBit 0)");

    // TCROWID's dwRowIndex is 4 bytes in Unicode files and 2 in ANSI ones,
    // but Outlook's ANSI sample2.pst also has tables (0x6d7, 0x6f8) with
    // 4-byte row indexes, so ANSI files may use either.
    {
        auto rb = ltp::Bth::open(heap, info->hidRowIndex);
        const uint8_t cbEnt = (f_ == Flavour::Ansi && rb && rb->header().cbEnt == 4) ? 4 : static_cast<uint8_t>(ltp::TCROWID::size(f_) - 4);
        auto indexWhere = [&] { return where.text() + " row index"; };
        checkBth(heap, info->hidRowIndex, indexWhere, 4, cbEnt, used);
    }
    // Named columns must be in the name-to-id map. Exception, with
    // evidence: Outlook's ANSI 32-bit.pst has a column 0x81F80003 in the
    // Calendar's contents table (node 0x808e) that no row fills and the map
    // does not know; an unused column is only a finding in strict mode.
    auto columnUsed = [&](const ltp::TCOLDESC& c, const ltp::TableContext* t) {
        if (options_.strict || !t) return true;
        for (uint32_t i = 0; i < t->rowCount(); ++i)
            if (ltp::cebBit(t->rowBytes(i), rg[ltp::TCI_1b], c.iBit)) return true;
        return false;
    };
    auto tc = ltp::TableContext::open(node, heapPtr);
    for (const auto& c : info->cols)
        if (store::isNamedId(store::tagId(c.tag)) && columnUsed(c, tc ? &*tc : nullptr)) noteNamedId(store::tagId(c.tag), where);
    if (!tc) {
        add(where, tc.error().description);
        return;
    }
    const uint32_t rowSize = info->rowSize();
    if (info->hnidRows != 0 && ltp::hnidIsHid(info->hnidRows)) {
        used.push_back(info->hnidRows);
        if (rowSize && tc->rowBlocks().front().size() % rowSize != 0)
            add(where, "row matrix of " + dec(tc->rowBlocks().front().size()) + " bytes is not whole rows of " + dec(rowSize));
    } else if (tc->rowsInSubnode() && rowSize) {
        // [MS-PST] 2.3.4.4: a row-matrix block holds floor(8176 / row size)
        // whole rows; Outlook fills every block but the last up with zeros
        // to 8176 bytes, and the last holds its rows only.
        const auto& blocks = tc->rowBlocks();
        const uint32_t perBlock = ltp::rowsPerBlock(rowSize, f_);
        const uint32_t full = maxBlockData(f_);
        for (size_t b = 0; b < blocks.size(); ++b) {
            const ByteSpan blk = blocks[b];
            if (b + 1 == blocks.size()) {
                if (blk.size() % rowSize != 0 || blk.size() / rowSize > perBlock)
                    add(where, "last row matrix block of " + dec(blk.size()) + " bytes is not at most " + dec(perBlock) +
                                   " whole rows of " + dec(rowSize));
                continue;
            }
            const size_t rows = size_t(perBlock) * rowSize;
            const bool padded = blk.size() == full &&
                                std::all_of(blk.begin() + static_cast<ptrdiff_t>(rows), blk.end(), [](uint8_t c) { return c == 0; });
            if (!padded)
                add(where, "row matrix block " + dec(b) + " of " + dec(blk.size()) + " bytes is not " + dec(perBlock) +
                               " rows of " + dec(rowSize) + " followed by zeros to " + dec(full) + " bytes");
        }
    }
    auto index = tc->rowIndex();
    if (!index) {
        add(where, index.error().description);
    } else {
        if (index->size() != tc->rowCount())
            add(where, "row index has " + dec(index->size()) + " rows, the row matrix " + dec(tc->rowCount()));
        std::vector<bool> rowsSeen(tc->rowCount());
        for (const auto& r : *index) {
            if (r.dwRowIndex >= tc->rowCount()) {
                add(where, "row index entry " + hex(r.dwRowID) + " points at row " + dec(r.dwRowIndex) + " of " + dec(tc->rowCount()));
                continue;
            }
            if (rowsSeen[r.dwRowIndex]) add(where, "row " + dec(r.dwRowIndex) + " is indexed twice");
            rowsSeen[r.dwRowIndex] = true;
            if (tc->rowId(r.dwRowIndex) != r.dwRowID)
                add(where, "row index says row " + dec(r.dwRowIndex) + " is " + hex(r.dwRowID) + ", the row says " + hex(tc->rowId(r.dwRowIndex)));
        }
        // A row whose id an earlier row has. Sorted ids tell whether there
        // is one; only then are the rows named, in row order.
        std::vector<uint32_t> ids(tc->rowCount());
        for (uint32_t i = 0; i < tc->rowCount(); ++i) ids[i] = tc->rowId(i);
        std::sort(ids.begin(), ids.end());
        if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
            std::unordered_set<uint32_t> seen;
            for (uint32_t i = 0; i < tc->rowCount(); ++i)
                if (!seen.insert(tc->rowId(i)).second) add(where, "row id " + hex(tc->rowId(i)) + " appears twice");
        }
    }
    if (!options_.tableCellValues) return;
    for (uint32_t i = 0; i < tc->rowCount(); ++i) {
        ByteSpan row = tc->rowBytes(i);
        auto rowWhere = [&] { return where.text() + " row " + dec(i); };
        for (const auto& c : info->cols) {
            if (!ltp::cebBit(row, rg[ltp::TCI_1b], c.iBit)) continue;
            const uint16_t type = store::tagType(c.tag);
            if (!store::isMultiValued(type) && store::fixedSize(type) > 0) continue;
            if (c.cbData < 4) continue;
            checkHnidValue(node, heap, c.tag, store::loadLE32(row.data() + c.ibData), rowWhere, used);
        }
    }
    checkUnusedAllocations(heap, used, where);
}

}  // namespace tavrin::pst::verify
