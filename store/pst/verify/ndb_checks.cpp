// The node database pass of the verifier: header, B-trees, blocks,
// reference counts, allocation maps and header counters ([MS-PST] 2.2).
#include <array>
#include <algorithm>
#include <string>

#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"
#include "store/pst/verify/verifier_impl.h"

namespace tavrin::pst::verify {

using namespace ndb;

namespace {

const char* treeKind(uint8_t ptype) { return ptype == ptypeNBT ? "NBT" : "BBT"; }

std::string dec(uint64_t v) { return std::to_string(v); }

}  // namespace

bool Verifier::checkHeader() {
    Bytes raw(std::min<uint64_t>(fileSize_, header::kSize));
    if (auto st = src_->readAt(0, raw); !st) {
        add("offset 0x0 (header)", st.error().description);
        return false;
    }
    auto h = Header::decode(raw);
    if (!h) {
        add("offset 0x0 (header)", h.error().description);
        return false;
    }
    h_ = *h;
    f_ = h_.flavour;
    const std::string where = "offset 0x0 (header)";
    if (!h_.crcPartialOk())
        add(where, "dwCRCPartial " + hex(h_.dwCRCPartial) + " does not match the computed " + hex(h_.computedCrcPartial));
    if (!h_.crcFullOk())
        add(where, "dwCRCFull " + hex(h_.dwCRCFull) + " does not match the computed " + hex(h_.computedCrcFull));
    if (h_.bSentinel != header::kSentinel) add(where, "bSentinel is " + hex(h_.bSentinel) + ", not 0x80");
    if (h_.bCryptMethod != kCryptNone && h_.bCryptMethod != kCryptPermute && h_.bCryptMethod != kCryptCyclic)
        add(where, "bCryptMethod " + hex(h_.bCryptMethod) + " is not 0, 1 or 2");
    if (h_.bPlatformCreate != header::kPlatform || h_.bPlatformAccess != header::kPlatform)
        add(where, "bPlatformCreate/bPlatformAccess are " + hex(h_.bPlatformCreate) + "/" + hex(h_.bPlatformAccess) + ", not 0x01");
    // [MS-PST] 2.2.2.6 wants qwUnused 0, but Outlook leaves other values
    // there in files it has used (met in Outlook-written files outside the
    // shared samples; readers ignore the field): a note, not a finding.
    if (f_ == Flavour::Unicode && h_.qwUnused != 0) note(where, "qwUnused is " + hex(h_.qwUnused) + ", not 0");
    if (f_ == Flavour::Unicode && h_.dwAlign != 0) add(where, "dwAlign is not 0");
    const Root& r = h_.root;
    // [MS-PST] 2.6.1.3.7: INVALID_AMAP is what a writer that stopped in the
    // middle of a change leaves (Outlook after a crash, or a killed add):
    // the B-trees hold as before, but the allocation maps, the density
    // list and the space past ibFileEof are not to be trusted, and the next
    // writer rebuilds the maps from the B-trees. A note, and those are not
    // checked.
    mapsUntrusted_ = r.fAMapValid != root::kValidAMap1 && r.fAMapValid != root::kValidAMap2;
    if (mapsUntrusted_)
        note(where, "fAMapValid is " + hex(r.fAMapValid) + ": the allocation maps are marked invalid; the next change "
                                                            "rebuilds them from the B-trees");
    if (r.ibFileEof != fileSize_) {
        if (mapsUntrusted_ && fileSize_ > r.ibFileEof)
            note(where, "the file goes on past ibFileEof " + hex(r.ibFileEof) + " to " + hex(fileSize_));
        else
            add(where, "ibFileEof " + hex(r.ibFileEof) + " differs from the file size " + hex(fileSize_));
    }
    return true;
}

void Verifier::walkBTree(uint8_t ptype) {
    const Bref root = ptype == ptypeNBT ? h_.root.brefNbt : h_.root.brefBbt;
    std::unordered_set<uint64_t> seenIb;
    std::optional<uint64_t> lastLeafKey;
    const uint32_t leafSize = ptype == ptypeNBT ? NBTEntry::size(f_) : BBTEntry::size(f_);

    // Returns the first key of the page's subtree. Depth is bounded by the
    // strictly decreasing levels; each page is visited at most once.
    std::function<std::optional<uint64_t>(const Bref&, int, std::optional<uint64_t>, std::optional<uint64_t>, bool)> visit;
    visit = [&](const Bref& ref, int level, std::optional<uint64_t> lo, std::optional<uint64_t> hi,
                bool isRoot) -> std::optional<uint64_t> {
        auto where = [&] { return pageWhere(treeKind(ptype), ref.bid, ref.ib); };
        if (ref.ib % kPageSize != 0 || !store::inBounds(fileSize_, ref.ib, kPageSize)) {
            add(where, "page is not a whole 512-byte page inside the file");
            return std::nullopt;
        }
        if (!seenIb.insert(ref.ib).second) {
            add(where, "page is reached twice in the B-tree");
            return std::nullopt;
        }
        std::array<uint8_t, kPageSize> page;
        if (auto st = src_->readAt(ref.ib, page); !st) {
            add(where, st.error().description);
            return std::nullopt;
        }
        ++rep_.pages;
        const PageTrailer t = *PageTrailer::decodeFromPage(page, f_);
        if (t.ptype != ptype) {
            add(where, "page type " + hex(t.ptype) + " where " + hex(ptype) + " was expected");
            return std::nullopt;
        }
        allocs_.push_back({ref.ib, kPageSize, ref.bid, treeKind(ptype), Alloc::Kind::BTreePage});
        maxPageBid_ = std::max(maxPageBid_, ref.bid);
        if (t.ptypeRepeat != t.ptype) add(where, "ptypeRepeat " + hex(t.ptypeRepeat) + " differs from ptype");
        if (t.bid != ref.bid) add(where, "trailer BID " + hex(t.bid) + " differs from the referencing BREF");
        if (t.wSig != computeSig(ref.ib, ref.bid)) add(where, "wSig " + hex(t.wSig) + " is not " + hex(computeSig(ref.ib, ref.bid)));
        if (t.dwCRC != pageCrc(page, f_)) add(where, "dwCRC " + hex(t.dwCRC) + " does not match the computed " + hex(pageCrc(page, f_)));
        const BTPageInfo info = *BTPageInfo::decode(page, f_);
        if (info.cLevel > kMaxBTreeLevel) {
            add(where, "cLevel " + dec(info.cLevel) + " is implausibly deep");
            return std::nullopt;
        }
        if (level >= 0 && info.cLevel != level) {
            add(where, "cLevel " + dec(info.cLevel) + " where " + dec(level) + " was expected");
            return std::nullopt;
        }
        const uint32_t cbEnt = info.cLevel > 0 ? BTEntry::size(f_) : leafSize;
        if (info.cbEnt != cbEnt) {
            add(where, "cbEnt " + dec(info.cbEnt) + " where " + dec(cbEnt) + " was expected");
            return std::nullopt;
        }
        if (info.cEntMax != btEntryMax(cbEnt, f_)) add(where, "cEntMax " + dec(info.cEntMax) + " is not " + dec(btEntryMax(cbEnt, f_)));
        if (info.cEnt > btEntryMax(cbEnt, f_)) {
            add(where, "cEnt " + dec(info.cEnt) + " exceeds the page");
            return std::nullopt;
        }
        if (info.cEnt == 0 && !isRoot) add(where, "non-root page has no entries");
        if (f_ == Flavour::Unicode && info.dwPadding != 0) add(where, "dwPadding is not 0");

        std::optional<uint64_t> first, prev;
        for (uint32_t i = 0; i < info.cEnt; ++i) {
            ByteSpan e = ByteSpan(page).subspan(i * cbEnt, cbEnt);
            uint64_t key = 0;
            std::optional<BTEntry> bt;
            if (info.cLevel > 0) {
                bt = BTEntry::decode(e, f_);
                key = bt->btkey;
            } else if (ptype == ptypeNBT) {
                auto n = *NBTEntry::decode(e, f_);
                key = n.nid;
                // dwPadding is not checked: Outlook leaves non-zero bytes there
                // (testPST.pst, dist-list.pst, testPST_variousBodyTypes.pst).
                if (n.nid > 0xFFFFFFFFu)
                    add(nodeWhere(static_cast<uint32_t>(n.nid)) + " (" + where() + ")", "NID " + hex(n.nid) + " has non-zero upper bytes");
            } else {
                // dwPadding is not checked, as for NBTENTRY: Outlook leaves junk.
                key = bidKey(BBTEntry::decode(e, f_)->bref.bid);
            }
            if (prev && key <= *prev) add(where, "entry " + dec(i) + " key " + hex(key) + " is not above the previous " + hex(*prev));
            if ((lo && key < *lo) || (hi && key >= *hi))
                add(where, "entry " + dec(i) + " key " + hex(key) + " lies outside the range of its parent entry");
            prev = key;
            if (!first) first = key;
            if (info.cLevel > 0) {
                std::optional<uint64_t> next;
                if (i + 1 < info.cEnt) next = BTEntry::decode(ByteSpan(page).subspan((i + 1) * cbEnt, cbEnt), f_)->btkey;
                else next = hi;
                auto childFirst = visit(bt->bref, info.cLevel - 1, key, next, false);
                if (childFirst && *childFirst != key)
                    add(where, "entry " + dec(i) + " key " + hex(key) + " but its child page starts at " + hex(*childFirst));
                continue;
            }
            if (lastLeafKey && key <= *lastLeafKey)
                add(where, "leaf key " + hex(key) + " is not above the previous leaf key " + hex(*lastLeafKey));
            lastLeafKey = key;
            if (ptype == ptypeNBT) {
                auto n = *NBTEntry::decode(e, f_);
                const NodeInfo ni{static_cast<uint32_t>(n.nid), n.bidData, n.bidSub, n.nidParent};
                if (!nodeIndex_.emplace(ni.nid, nodes_.size()).second) {
                    add(nodeWhere(ni.nid), "NID appears twice in the NBT");
                    continue;
                }
                nodes_.push_back(ni);
            } else {
                auto b = *BBTEntry::decode(e, f_);
                BlockRec rec;
                rec.bid = b.bref.bid;
                rec.ib = b.bref.ib;
                rec.cb = b.cb;
                rec.cRef = b.cRef;
                if (firstBlockKey(bidKey(b.bref.bid))) blocks_.push_back(rec);
                else add(blockWhere(b.bref.bid, b.bref.ib), "BID appears twice in the BBT");
            }
        }
        return first;
    };
    visit(root, -1, std::nullopt, std::nullopt, true);
}

void Verifier::checkBlocks() {
    Bytes raw;  // one buffer for every block
    for (auto& b : blocks_) {
        const uint64_t key = bidKey(b.bid);
        auto where = [&] { return blockWhere(b.bid, b.ib); };
        ++rep_.blocks;
        maxBlockBid_ = std::max(maxBlockBid_, bidKey(b.bid));
        if (b.bid & 1) add(where, "BID has the reserved bit 0 set");
        if (b.cb > maxBlockData(f_)) {
            add(where, "cb " + std::to_string(b.cb) + " exceeds the largest block");
            continue;
        }
        const uint64_t size = blockAllocSize(b.cb, f_);
        if (b.ib % kBlockAlign != 0 || !store::inBounds(fileSize_, b.ib, size)) {
            add(where, "block of " + std::to_string(size) + " bytes is not 64-byte aligned inside the file");
            continue;
        }
        allocs_.push_back({b.ib, size, b.bid, "", Alloc::Kind::Block});
        raw.resize(size);
        if (auto st = src_->readAt(b.ib, raw); !st) {
            add(where, st.error().description);
            continue;
        }
        const BlockTrailer t = *BlockTrailer::decode(ByteSpan(raw).last(blockTrailerSize(f_)), f_);
        bool ok = true;
        if (t.cb != b.cb) {
            add(where, "trailer cb " + std::to_string(t.cb) + " differs from the BBT's " + std::to_string(b.cb));
            ok = false;
        }
        if (t.bid != b.bid) {
            add(where, "trailer BID " + hex(t.bid) + " differs from the BBT's");
            ok = false;
        }
        if (t.wSig != computeSig(b.ib, b.bid)) add(where, "wSig " + hex(t.wSig) + " is not " + hex(computeSig(b.ib, b.bid)));
        raw.resize(b.cb);
        const uint32_t crc = computeCrc(raw);
        if (t.dwCRC != crc) {
            add(where, "dwCRC " + hex(t.dwCRC) + " does not match the computed " + hex(crc));
            ok = false;
        }
        b.readable = ok;
        if (!ok || !isInternalBid(b.bid)) continue;

        auto head = InternalBlockHead::decode(raw);
        if (!head) {
            add(where, "internal block too short for its header");
            continue;
        }
        InternalRec rec;
        rec.btype = head->btype;
        rec.cLevel = head->cLevel;
        if (head->btype == btypeXBlock) {
            auto x = XBlock::decode(raw, f_);
            if (!x) {
                add(where, x.error().description);
                continue;
            }
            if (x->rgbid.size() > xblockMaxEntries(f_)) add(where, "XBLOCK has more entries than a block holds");
            const uint64_t used = 8 + x->rgbid.size() * idSize(f_);
            if (used != raw.size()) add(where, "XBLOCK cb " + std::to_string(raw.size()) + " is not 8 + cEnt entries (" + std::to_string(used) + ")");
            rec.lcbTotal = x->lcbTotal;
            rec.children = x->rgbid;
        } else if (head->btype == btypeSLBlock && head->cLevel == 0) {
            auto sl = SLBlock::decode(raw, f_);
            if (!sl) {
                add(where, sl.error().description);
                continue;
            }
            if (sl->dwPadding != 0) add(where, "SLBLOCK dwPadding is not 0");
            const uint64_t used = subnodeBlockHeadSize(f_) + sl->entries.size() * SLEntry::size(f_);
            if (used != raw.size()) add(where, "SLBLOCK cb " + std::to_string(raw.size()) + " is not its entries' size " + std::to_string(used));
            // The NID of an SLENTRY is 4 bytes widened to 8; Outlook leaves
            // junk in the upper 4 (sample1.pst block 0x34e: 0xfc00000000008025
            // for subnode 0x8025), so only the low 4 bytes are the NID.
            for (auto& e : sl->entries) e.nid &= 0xFFFFFFFFu;
            for (size_t i = 1; i < sl->entries.size(); ++i)
                if (sl->entries[i].nid <= sl->entries[i - 1].nid)
                    add(where, "SLENTRY " + std::to_string(i) + " NID " + hex(sl->entries[i].nid) + " is not above the previous one");
            rec.entries = sl->entries;
        } else if (head->btype == btypeSLBlock && head->cLevel == 1) {
            auto si = SIBlock::decode(raw, f_);
            if (!si) {
                add(where, si.error().description);
                continue;
            }
            if (si->dwPadding != 0) add(where, "SIBLOCK dwPadding is not 0");
            for (auto& e : si->entries) e.nid &= 0xFFFFFFFFu;
            for (size_t i = 0; i < si->entries.size(); ++i) {
                if (i > 0 && si->entries[i].nid <= si->entries[i - 1].nid)
                    add(where, "SIENTRY " + std::to_string(i) + " NID " + hex(si->entries[i].nid) + " is not above the previous one");
                rec.children.push_back(si->entries[i].bid);
                rec.siKeys.push_back(si->entries[i].nid);
            }
        } else {
            add(where, "internal block with btype " + hex(head->btype) + " and cLevel " + std::to_string(head->cLevel));
            continue;
        }
        internal_[key] = std::move(rec);
    }
}

void Verifier::checkReferences() {
    // `from` references `bid`, which must be a block of the given kind.
    enum class Want { Any, External, XBlock1, XBlockAny, SLBlock, SubnodeTree };
    auto ref = [&](uint64_t bid, const Where& from, Want want) {
        BlockRec* blk = findBlockRec(bid);
        if (!blk) {
            add(from, "references block " + hex(bid) + ", which is not in the BBT");
            return;
        }
        ++blk->refs;
        const bool internalBid = isInternalBid(bid);
        auto in = internal_.find(bidKey(bid));
        const InternalRec* rec = in == internal_.end() ? nullptr : &in->second;
        switch (want) {
            case Want::Any:
                if (internalBid && rec && rec->btype != btypeXBlock)
                    add(from, "data BID " + hex(bid) + " is a subnode block, not a data tree");
                break;
            case Want::External:
                if (internalBid) add(from, "entry " + hex(bid) + " is an internal block where data was expected");
                break;
            case Want::XBlock1:
                if (!internalBid || (rec && (rec->btype != btypeXBlock || rec->cLevel != 1)))
                    add(from, "XXBLOCK entry " + hex(bid) + " is not an XBLOCK");
                break;
            case Want::XBlockAny:
                break;
            case Want::SLBlock:
                if (!internalBid || (rec && (rec->btype != btypeSLBlock || rec->cLevel != 0)))
                    add(from, "SIBLOCK entry " + hex(bid) + " is not an SLBLOCK");
                break;
            case Want::SubnodeTree:
                if (!internalBid || (rec && rec->btype != btypeSLBlock))
                    add(from, "subnode BID " + hex(bid) + " is not an SLBLOCK or SIBLOCK");
                break;
        }
    };
    auto noteNid = [&](uint64_t nid) {
        const uint32_t n = static_cast<uint32_t>(nid);
        maxNidIndex_[nidType(n)] = std::max(maxNidIndex_[nidType(n)], nidIndex(n));
    };

    for (const auto& n : nodes_) {
        noteNid(n.nid);
        auto where = [&] { return nodeWhere(n.nid); };
        if (n.bidData) ref(n.bidData, where, Want::Any);
        if (n.bidSub) ref(n.bidSub, where, Want::SubnodeTree);
    }
    for (const auto& [key, rec] : internal_) {
        const BlockRec* self = findBlockRec(key);  // every internal block is one of blocks_
        auto where = [&] { return blockWhere(self->bid, self->ib); };
        if (rec.btype == btypeXBlock) {
            uint64_t total = 0;
            bool known = true;
            for (uint64_t c : rec.children) {
                ref(c, where, rec.cLevel == 1 ? Want::External : Want::XBlock1);
                const BlockRec* cb = findBlockRec(c);
                if (!cb) { known = false; continue; }
                if (rec.cLevel == 1) {
                    total += cb->cb;
                } else {
                    auto ci = internal_.find(bidKey(c));
                    if (ci == internal_.end()) known = false;
                    else total += ci->second.lcbTotal;
                }
            }
            if (known && total != rec.lcbTotal)
                add(where, "lcbTotal " + std::to_string(rec.lcbTotal) + " differs from its children's " + std::to_string(total) + " bytes");
        } else if (rec.cLevel == 0) {
            for (const auto& e : rec.entries) {
                noteNid(e.nid);
                auto ew = [&] { return where() + " (subnode " + hex(e.nid) + ")"; };
                if (e.bidData) ref(e.bidData, ew, Want::Any);
                if (e.bidSub) ref(e.bidSub, ew, Want::SubnodeTree);
            }
        } else {
            for (size_t i = 0; i < rec.children.size(); ++i) {
                ref(rec.children[i], where, Want::SLBlock);
                auto ci = internal_.find(bidKey(rec.children[i]));
                if (ci != internal_.end() && ci->second.cLevel == 0 && ci->second.btype == btypeSLBlock) {
                    if (ci->second.entries.empty() || ci->second.entries.front().nid != rec.siKeys[i])
                        add(where, "SIENTRY " + std::to_string(i) + " NID " + hex(rec.siKeys[i]) +
                                       " is not the first NID of its SLBLOCK");
                }
            }
        }
    }
    // [MS-PST] 2.2.2.7.7.3.1: Outlook counts the BBT's own reference plus one
    // per NBT entry, SLENTRY, SIENTRY and XBLOCK/XXBLOCK slot that names the
    // block (2 for a block used once; shared template blocks have more).
    for (const auto& b : blocks_) {
        auto where = [&] { return blockWhere(b.bid, b.ib); };
        if (b.refs == 0) {
            // Outlook leaves blocks in the BBT after the last node that used
            // them is gone, until it reuses their space (met in
            // Outlook-written files outside the shared samples). Such a
            // block's trailer and CRC were still checked above, and its
            // space still counts in the AMaps: only the missing reference
            // is a note.
            note(where, "block is in the BBT (cRef " + std::to_string(b.cRef) + ") but no node or block references it");
            continue;
        }
        if (b.cRef != b.refs + 1)
            add(where, "cRef " + std::to_string(b.cRef) + " where 1 + " + std::to_string(b.refs) + " references were found");
    }
}

void Verifier::checkMaps() {
    const Root& r = h_.root;
    if (r.ibFileEof <= kFirstAMapOffset) {
        add("offset 0x0 (header)", "ibFileEof " + hex(r.ibFileEof) + " leaves no room for an allocation map");
        return;
    }
    const uint64_t span = std::min(r.ibFileEof, fileSize_) - kFirstAMapOffset;
    const uint64_t sections = (span + kAMapCoverage - 1) / kAMapCoverage;
    // [MS-PST] 2.6.1.1.2: a Unicode file grows by whole AMap sections.
    // Exception, with evidence: the ANSI sample written by Outlook
    // (go-pst/32-bit.pst, wVer 14) is 65,536 bytes long, mid-section, with
    // a consistent header and maps; older Outlook grew ANSI files by
    // smaller steps. So the rule is only applied to Unicode files.
    if (f_ == Flavour::Unicode && span % kAMapCoverage != 0)
        add("offset 0x0 (header)", "ibFileEof " + hex(r.ibFileEof) + " does not end an AMap section");
    const uint64_t lastAMap = amapOffset(sections - 1);
    if (r.ibAMapLast != lastAMap)
        add("offset 0x0 (header)", "ibAMapLast " + hex(r.ibAMapLast) + " is not the last AMap page " + hex(lastAMap));

    auto checkMapPage = [&](uint64_t ib, uint8_t ptype, const char* kind) -> std::optional<MapPage> {
        auto where = [&] { return "offset " + hex(ib) + " (" + kind + " page)"; };
        std::array<uint8_t, kPageSize> page;
        if (!store::inBounds(fileSize_, ib, kPageSize)) {
            add(where, "page lies past the end of the file");
            return std::nullopt;
        }
        if (auto st = src_->readAt(ib, page); !st) {
            add(where, st.error().description);
            return std::nullopt;
        }
        ++rep_.pages;
        allocs_.push_back({ib, kPageSize, 0, kind, Alloc::Kind::MapPage});
        const PageTrailer t = *PageTrailer::decodeFromPage(page, f_);
        if (t.ptype != ptype || t.ptypeRepeat != ptype) {
            add(where, std::string("page type ") + hex(t.ptype) + "/" + hex(t.ptypeRepeat) + ", not a " + kind + " page");
            return std::nullopt;
        }
        if (t.wSig != 0) add(where, "wSig " + hex(t.wSig) + " is not 0");
        if (t.bid != ib) add(where, "trailer BID " + hex(t.bid) + " is not the page's offset");
        if (t.dwCRC != pageCrc(page, f_)) add(where, "dwCRC " + hex(t.dwCRC) + " does not match the computed " + hex(pageCrc(page, f_)));
        return MapPage::decode(page, f_);
    };

    std::vector<std::optional<MapPage>> amaps(sections);
    uint64_t pmapZeros = 0;
    for (uint64_t k = 0; k < sections; ++k) {
        amaps[k] = checkMapPage(amapOffset(k), ptypeAMap, "AMap");
        if (sectionHasPMap(k)) {
            if (auto pm = checkMapPage(pmapOffset(k), ptypePMap, "PMap"))
                for (uint8_t byte : pm->rgb) pmapZeros += 8 - std::popcount(byte);
        }
        if (sectionHasFMap(k)) (void)checkMapPage(fmapOffset(k), ptypeFMap, "FMap");
        if (sectionHasFPMap(k)) (void)checkMapPage(fpmapOffset(k), ptypeFPMap, "FPMap");
    }

    // Allocations in file order: no overlap, none across a section boundary
    // or past the end of the file.
    std::sort(allocs_.begin(), allocs_.end(), [](const Alloc& a, const Alloc& b) { return a.ib < b.ib; });
    for (size_t i = 0; i < allocs_.size(); ++i) {
        const Alloc& a = allocs_[i];
        if (i > 0 && a.ib < allocs_[i - 1].ib + allocs_[i - 1].size)
            add(a.where(), "overlaps " + allocs_[i - 1].where());
        if (a.ib < kFirstAMapOffset || a.ib + a.size > r.ibFileEof) {
            add(a.where(), "lies outside the mapped part of the file");
            continue;
        }
        const uint64_t k = (a.ib - kFirstAMapOffset) / kAMapCoverage;
        if ((a.ib + a.size - 1 - kFirstAMapOffset) / kAMapCoverage != k) add(a.where(), "straddles the AMap section boundary");
    }

    if (mapsUntrusted_) return;  // see checkHeader

    // Expected AMap bits, section by section, against the stored ones.
    uint64_t zeroBits = 0;
    size_t next = 0;
    for (uint64_t k = 0; k < sections; ++k) {
        const uint64_t start = amapOffset(k);
        std::array<uint8_t, kAMapBytes> want{};
        while (next < allocs_.size() && allocs_[next].ib < start + kAMapCoverage) {
            const Alloc& a = allocs_[next++];
            if (a.ib < start) continue;
            const uint64_t first = (a.ib - start) / kSlotSize;
            const uint64_t last = std::min<uint64_t>((a.ib + a.size - 1 - start) / kSlotSize, kAMapBytes * 8 - 1);
            for (uint64_t s = first; s <= last; ++s) setMapBit(want, static_cast<uint32_t>(s), true);
        }
        // Slots past the end of the file cannot hold anything and must not
        // look free (the ANSI sample, which ends mid-section, marks them in
        // use).
        {
            const uint64_t inFile = r.ibFileEof <= start ? 0 : (r.ibFileEof - start + kSlotSize - 1) / kSlotSize;
            uint32_t s = static_cast<uint32_t>(std::min<uint64_t>(inFile, kAMapBytes * 8));
            for (; s % 8 != 0 && s < kAMapBytes * 8; ++s) setMapBit(want, s, true);
            std::fill(want.begin() + s / 8, want.end(), uint8_t(0xFF));
        }
        if (!amaps[k]) continue;
        const auto& have = amaps[k]->rgb;
        for (uint8_t byte : have) zeroBits += 8 - std::popcount(byte);
        auto where = [&] { return "offset " + hex(start) + " (AMap page)"; };
        // Mismatches as runs of slots, the first few of each kind named.
        for (const bool wantSet : {true, false}) {
            uint32_t count = 0;
            std::string ranges;
            int shown = 0;
            for (uint32_t s = 0; s < kAMapBytes * 8;) {
                // Bytes without a mismatch of this kind are passed whole.
                const uint8_t w = want[s / 8], h = have[s / 8];
                if (s % 8 == 0 && (wantSet ? (w & ~h) : (~w & h)) == 0) { s += 8; continue; }
                if (!(mapBit(want, s) == wantSet && mapBit(have, s) != wantSet)) { ++s; continue; }
                uint32_t e = s;
                while (e < kAMapBytes * 8 && mapBit(want, e) == wantSet && mapBit(have, e) != wantSet) ++e;
                // Exception, with evidence: Outlook keeps superseded B-tree
                // pages marked in use until it reuses them. dist-list.pst has
                // 200 such slots (25 whole pages at 512-byte boundaries whose
                // trailers still say ptypeBBT/ptypeNBT, none reachable from
                // the B-tree roots), 32-bit.pst 96 (old BT pages, zeroed and
                // 0xAA-filled pages). A leak of whole pages is only space, so
                // it is a finding only with VerifyOptions::strict.
                const bool wholePages = s % 8 == 0 && e % 8 == 0;
                if (!wantSet && wholePages && !options_.strict) {
                    s = e;
                    continue;
                }
                count += e - s;
                if (shown++ < 4)
                    ranges += (ranges.empty() ? "" : ", ") + hex(start + uint64_t(s) * kSlotSize) + "-" + hex(start + uint64_t(e) * kSlotSize);
                s = e;
            }
            if (count == 0) continue;
            if (shown > 4) ranges += ", ...";
            add(where, std::to_string(count) + (wantSet ? " slots in use are marked free: " : " slots marked in use hold no page or block: ") + ranges);
        }
    }
    if (r.cbAMapFree != zeroBits * kSlotSize)
        add("offset 0x0 (header)", "cbAMapFree " + std::to_string(r.cbAMapFree) + " differs from the AMaps' " +
                                        std::to_string(zeroBits * kSlotSize) + " free bytes");
    if (r.cbPMapFree != pmapZeros * kPageSize)
        add("offset 0x0 (header)", "cbPMapFree " + std::to_string(r.cbPMapFree) + " differs from the PMaps' " +
                                        std::to_string(pmapZeros * kPageSize) + " free bytes");

    // The density list (Unicode files; optional: an all-zero page means
    // none, as older Outlook wrote).
    if (f_ == Flavour::Unicode && fileSize_ >= kDListOffset + kPageSize) {
        Bytes page(kPageSize);
        if (src_->readAt(kDListOffset, page) &&
            std::any_of(page.begin(), page.end(), [](uint8_t b) { return b != 0; })) {
            const std::string where = "offset " + hex(kDListOffset) + " (DList page)";
            ++rep_.pages;
            const PageTrailer t = *PageTrailer::decodeFromPage(page, f_);
            if (t.ptype != ptypeDL || t.ptypeRepeat != ptypeDL) {
                add(where, "page type " + hex(t.ptype) + " is not a DList page");
            } else {
                // Outlook gives the DList the current bidNextP without
                // advancing it (sample1.pst: DList BID 0x4df = bidNextP 0x4df;
                // the same in every Unicode sample with a DList), so the
                // DList may equal bidNextP but not exceed it; a fresh file
                // must carry exactly bidNextP, or Microsoft's outlook-pst
                // library takes its DList for a stale one.
                if (t.bid > h_.bidNextP) add(where, "BID " + hex(t.bid) + " is above bidNextP " + hex(h_.bidNextP));
                else if (options_.strict && t.bid != h_.bidNextP)
                    add(where, "BID " + hex(t.bid) + " is not the header's bidNextP " + hex(h_.bidNextP));
                if (t.wSig != computeSig(kDListOffset, t.bid)) add(where, "wSig " + hex(t.wSig) + " is not " + hex(computeSig(kDListOffset, t.bid)));
                if (t.dwCRC != pageCrc(page, f_)) add(where, "dwCRC " + hex(t.dwCRC) + " does not match the computed " + hex(pageCrc(page, f_)));
                auto d = DListPage::decode(page);
                if (!d) {
                    add(where, d.error().description);
                } else {
                    if (!d->entries.empty() && d->ulCurrentPage >= sections)
                        add(where, "ulCurrentPage " + std::to_string(d->ulCurrentPage) + " names no AMap");
                    for (size_t i = 0; i < d->entries.size(); ++i) {
                        const auto& e = d->entries[i];
                        if (e.dwPageNum >= sections) {
                            add(where, "entry " + std::to_string(i) + " names AMap " + std::to_string(e.dwPageNum) + " of " + std::to_string(sections));
                            continue;
                        }
                        if (!amaps[e.dwPageNum]) continue;
                        uint32_t zeros = 0;
                        for (uint8_t byte : amaps[e.dwPageNum]->rgb) zeros += 8 - std::popcount(byte);
                        if (e.dwFreeSlots != zeros)
                            add(where, "entry " + std::to_string(i) + " says " + std::to_string(e.dwFreeSlots) + " free slots in AMap " +
                                           std::to_string(e.dwPageNum) + ", which has " + std::to_string(zeros));
                    }
                }
            }
        }
    }
}

void Verifier::checkCounters() {
    const std::string where = "offset 0x0 (header)";
    if (!blocks_.empty() && bidKey(h_.bidNextB) <= maxBlockBid_)
        add(where, "bidNextB " + hex(h_.bidNextB) + " is not above the highest block BID " + hex(maxBlockBid_));
    if (maxPageBid_ && h_.bidNextP <= maxPageBid_)
        add(where, "bidNextP " + hex(h_.bidNextP) + " is not above the highest page BID " + hex(maxPageBid_));
    for (uint32_t t = 0; t < 32; ++t)
        if (maxNidIndex_[t] > h_.rgnid[t])
            add(where, "rgnid[" + std::to_string(t) + "] " + hex(h_.rgnid[t]) + " is below the highest index in use " +
                           hex(maxNidIndex_[t]));
}

}  // namespace tavrin::pst::verify
