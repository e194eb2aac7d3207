#include "store/pst/ndb/database_reader.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"

namespace tavrin::pst::ndb {

namespace {

Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }

const char* treeName(uint8_t ptype) { return ptype == ptypeNBT ? "node B-tree" : "block B-tree"; }

}  // namespace

Result<std::unique_ptr<NodeDatabase>> NodeDatabase::open(std::unique_ptr<ByteSource> source, const ReadLimits& limits) {
    if (!source) return makeError(err::kInvalidParameter, "no data source");
    Bytes head(std::min<uint64_t>(source->size(), header::kSize));
    if (auto st = source->readAt(0, head); !st) return Error(st.error()).prefixed("header");
    auto h = Header::decode(head);
    if (!h) return std::move(h).error();
    if (limits.checkCrcs && !h->crcPartialOk())
        return corrupt("header: dwCRCPartial " + hex(h->dwCRCPartial) + " does not match the computed " +
                       hex(h->computedCrcPartial));
    if (limits.checkCrcs && !h->crcFullOk())
        return corrupt("header: dwCRCFull " + hex(h->dwCRCFull) + " does not match the computed " + hex(h->computedCrcFull));
    if (h->bCryptMethod != kCryptNone && h->bCryptMethod != kCryptPermute && h->bCryptMethod != kCryptCyclic)
        return makeError(err::kNoSupport, "header: unsupported bCryptMethod " + hex(h->bCryptMethod));
    return std::unique_ptr<NodeDatabase>(new NodeDatabase(std::move(source), *h, limits));
}

uint32_t NodeDatabase::leafEntrySize(uint8_t ptype) const {
    return ptype == ptypeNBT ? NBTEntry::size(flavour()) : BBTEntry::size(flavour());
}

Result<Bytes> NodeDatabase::readPage(uint64_t ib, uint8_t ptype, uint64_t bid) const {
    const Flavour f = flavour();
    // Messages name the page; they are built only when something is wrong.
    auto where = [&] { return "page " + hex(bid) + " at " + hex(ib); };
    if (ib % kPageSize != 0) return corrupt(where() + " is not on a 512-byte boundary");
    Bytes page(kPageSize);
    if (auto st = source_->readAt(ib, page); !st) return Error(st.error()).prefixed(where());
    auto t = PageTrailer::decodeFromPage(page, f);
    if (t->ptype != ptype || t->ptypeRepeat != ptype)
        return corrupt(where() + ": page type " + hex(t->ptype) + "/" + hex(t->ptypeRepeat) + " where " + hex(ptype) +
                       " was expected");
    if (t->bid != bid) return corrupt(where() + ": trailer names page " + hex(t->bid));
    if (t->wSig != pageSignature(ptype, ib, bid)) return corrupt(where() + ": wrong signature " + hex(t->wSig));
    if (limits_.checkCrcs) {
        const uint32_t crc = pageCrc(page, f);
        if (t->dwCRC != crc) return corrupt(where() + ": CRC " + hex(t->dwCRC) + " does not match the computed " + hex(crc));
    }
    return page;
}

Result<NodeDatabase::PageView> NodeDatabase::readBTreePage(const Bref& ref, uint8_t ptype, int expectedLevel) const {
    PageView v;
    auto cached = pageCache_.find(ref.ib);
    if (cached != pageCache_.end() && cached->second.bid == ref.bid && cached->second.ptype == ptype) {
        v.page = cached->second.bytes;
        v.info = cached->second.info;
    } else {
        auto page = readPage(ref.ib, ptype, ref.bid);
        if (!page) return std::move(page).error();
        v.page = std::make_shared<const Bytes>(std::move(page).value());
        v.info = *BTPageInfo::decode(*v.page, flavour());
        if (pageCache_.size() >= limits_.pageCacheEntries) pageCache_.clear();
        pageCache_[ref.ib] = CachedPage{ref.bid, ptype, v.page, v.info};
    }
    auto where = [&] { return std::string(treeName(ptype)) + " page " + hex(ref.bid) + " at " + hex(ref.ib); };
    if (v.info.cLevel > kMaxBTreeLevel) return corrupt(where() + ": cLevel " + std::to_string(v.info.cLevel) + " is too deep");
    if (expectedLevel >= 0 && v.info.cLevel != expectedLevel)
        return corrupt(where() + ": cLevel " + std::to_string(v.info.cLevel) + " where " + std::to_string(expectedLevel) +
                       " was expected");
    const uint32_t cbEnt = v.info.cLevel > 0 ? BTEntry::size(flavour()) : leafEntrySize(ptype);
    if (v.info.cbEnt != cbEnt)
        return corrupt(where() + ": cbEnt " + std::to_string(v.info.cbEnt) + " where " + std::to_string(cbEnt) + " was expected");
    if (v.info.cEnt > btEntryMax(cbEnt, flavour()))
        return corrupt(where() + ": cEnt " + std::to_string(v.info.cEnt) + " does not fit the page");
    return v;
}

Result<NodeDatabase::LeafView> NodeDatabase::findLeafEntry(const Bref& root, uint8_t ptype, uint64_t key) const {
    const Flavour f = flavour();
    const uint32_t w = idSize(f);
    // The first field of every entry kind (btkey, NID, BID), as its decoder
    // reads it; readBTreePage has checked that cEnt entries of cbEnt bytes
    // fit the page.
    auto firstId = [&](const uint8_t* e) -> uint64_t { return w == 8 ? store::loadLE64(e) : store::loadLE32(e); };
    auto notFound = [&] {
        return makeError(err::kNotFound, std::string(ptype == ptypeNBT ? "node " : "block ") + hex(key) + " is not in the " +
                                             treeName(ptype));
    };
    // Every key in [lo, hi) takes the same path from the root as this one:
    // at each index page, lo is the largest btkey up to the picked entry
    // (so no entry before it stops the scan) and hi the btkey after it.
    LeafHint& hint = leafHint_[ptype == ptypeNBT ? 0 : 1];
    LeafHint path{true, root.ib, 0, 0, false, root, -1};
    Bref ref = root;
    int level = -1;
    if (hint.valid && hint.rootIb == root.ib && key >= hint.lo && (!hint.bounded || key < hint.hi)) {
        path = hint;
        ref = hint.leaf;
        level = hint.level;
    }
    // Each step goes down one level, so this ends after at most
    // kMaxBTreeLevel + 1 pages.
    for (;;) {
        auto page = readBTreePage(ref, ptype, level);
        if (!page) return std::move(page).error();
        const uint32_t cbEnt = page->info.cbEnt;
        const uint8_t* entries = page->page->data();
        if (page->info.cLevel == 0) {
            path.leaf = ref;
            path.level = level;
            hint = path;
            for (uint32_t i = 0; i < page->info.cEnt; ++i) {
                const uint64_t id = firstId(entries + size_t(i) * cbEnt);
                const uint64_t k = ptype == ptypeNBT ? (id & 0xFFFFFFFFu) : bidKey(id);
                if (k == key) return LeafView{std::move(page->page), i * cbEnt, cbEnt};
            }
            return notFound();
        }
        // The last entry whose btkey is not above the key, stopping at the
        // first one above it.
        std::optional<uint32_t> pick;
        uint64_t lo = 0;
        for (uint32_t i = 0; i < page->info.cEnt; ++i) {
            const uint64_t btkey = firstId(entries + size_t(i) * cbEnt);
            if (btkey > key) {
                if (!path.bounded || btkey < path.hi) path.hi = btkey;
                path.bounded = true;
                break;
            }
            lo = std::max(lo, btkey);
            pick = i;
        }
        if (!pick) return notFound();
        path.lo = std::max(path.lo, lo);
        ref = BTEntry::decode(page->bytes().subspan(size_t(*pick) * cbEnt, cbEnt), f)->bref;
        level = page->info.cLevel - 1;
    }
}

Result<NodeInfo> NodeDatabase::findNode(uint32_t nid) const {
    auto e = findLeafEntry(header_.root.brefNbt, ptypeNBT, nid);
    if (!e) return std::move(e).error();
    auto n = NBTEntry::decode(e->bytes(), flavour());
    return NodeInfo{static_cast<uint32_t>(n->nid), n->bidData, n->bidSub, n->nidParent};
}

Result<BlockInfo> NodeDatabase::findBlock(uint64_t bid) const {
    auto e = findLeafEntry(header_.root.brefBbt, ptypeBBT, bidKey(bid));
    if (!e) return std::move(e).error();
    auto b = BBTEntry::decode(e->bytes(), flavour());
    return BlockInfo{b->bref.bid, b->bref.ib, b->cb, b->cRef};
}

Status NodeDatabase::walk(const Bref& root, uint8_t ptype, const std::function<void(ByteSpan)>& leaf) const {
    struct Item {
        Bref ref;
        int level;
    };
    std::vector<Item> stack{{root, -1}};
    std::unordered_set<uint64_t> seen;
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        if (!seen.insert(it.ref.ib).second)
            return corrupt(std::string(treeName(ptype)) + " page " + hex(it.ref.bid) + " at " + hex(it.ref.ib) +
                           " is reached twice");
        auto page = readBTreePage(it.ref, ptype, it.level);
        if (!page) return std::move(page).error();
        const uint32_t cbEnt = page->info.cbEnt;
        if (page->info.cLevel == 0) {
            for (uint32_t i = 0; i < page->info.cEnt; ++i) leaf(page->bytes().subspan(i * cbEnt, cbEnt));
            continue;
        }
        // Children pushed in reverse so that they come off the stack in key order.
        for (uint32_t i = page->info.cEnt; i-- > 0;) {
            auto e = BTEntry::decode(page->bytes().subspan(i * cbEnt, cbEnt), flavour());
            stack.push_back({e->bref, page->info.cLevel - 1});
        }
    }
    return {};
}

Status NodeDatabase::forEachNode(const std::function<void(const NodeInfo&)>& fn) const {
    return walk(header_.root.brefNbt, ptypeNBT, [&](ByteSpan e) {
        auto n = NBTEntry::decode(e, flavour());
        fn(NodeInfo{static_cast<uint32_t>(n->nid), n->bidData, n->bidSub, n->nidParent});
    });
}

Status NodeDatabase::forEachBlock(const std::function<void(const BlockInfo&)>& fn) const {
    return walk(header_.root.brefBbt, ptypeBBT, [&](ByteSpan e) {
        auto b = BBTEntry::decode(e, flavour());
        fn(BlockInfo{b->bref.bid, b->bref.ib, b->cb, b->cRef});
    });
}

Result<Bytes> NodeDatabase::readBlock(uint64_t bid) const {
    auto info = findBlock(bid);
    if (!info) return std::move(info).error();
    return readBlock(*info);
}

Result<Bytes> NodeDatabase::readBlock(const BlockInfo& info) const {
    const Flavour f = flavour();
    auto where = [&] { return "block " + hex(info.bid) + " at " + hex(info.ib); };
    if (info.cb > maxBlockData(f)) return corrupt(where() + ": cb " + std::to_string(info.cb) + " exceeds a block");
    if (info.ib % kBlockAlign != 0) return corrupt(where() + ": not on a 64-byte boundary");
    const uint32_t total = blockAllocSize(info.cb, f);
    Bytes raw(total);
    if (auto st = source_->readAt(info.ib, raw); !st) return Error(st.error()).prefixed(where());
    auto t = BlockTrailer::decode(ByteSpan(raw).last(blockTrailerSize(f)), f);
    if (t->cb != info.cb)
        return corrupt(where() + ": trailer cb " + std::to_string(t->cb) + " differs from the block B-tree's " +
                       std::to_string(info.cb));
    if (bidKey(t->bid) != bidKey(info.bid)) return corrupt(where() + ": trailer names block " + hex(t->bid));
    if (t->wSig != computeSig(info.ib, t->bid)) return corrupt(where() + ": wrong signature " + hex(t->wSig));
    raw.resize(info.cb);
    if (limits_.checkCrcs) {
        const uint32_t crc = computeCrc(raw);
        if (t->dwCRC != crc) return corrupt(where() + ": CRC " + hex(t->dwCRC) + " does not match the computed " + hex(crc));
    }
    if (!isInternalBid(info.bid)) (void)decodeBlock(cryptMethod(), raw, info.bid);
    return raw;
}

Result<std::vector<Bytes>> NodeDatabase::readDataBlocks(uint64_t bid) const {
    std::vector<Bytes> out;
    if (bid == 0) return out;
    if (!isInternalBid(bid)) {
        auto b = readBlock(bid);
        if (!b) return std::move(b).error();
        out.push_back(std::move(b).value());
        return out;
    }
    auto rootBytes = readBlock(bid);
    if (!rootBytes) return std::move(rootBytes).error();
    auto root = XBlock::decode(*rootBytes, flavour());
    if (!root) return Error(root.error()).prefixed("data tree " + hex(bid));
    if (root->lcbTotal > limits_.maxStreamBytes)
        return makeError(err::kTooBig, "data tree " + hex(bid) + ": " + std::to_string(root->lcbTotal) +
                                           " bytes exceed the reader's limit");
    std::unordered_set<uint64_t> seen{bidKey(bid)};
    uint64_t total = 0;
    auto addLeaf = [&](uint64_t leaf) -> Status {
        if (isInternalBid(leaf)) return corrupt("data tree " + hex(bid) + ": internal block " + hex(leaf) + " where data was expected");
        if (!seen.insert(bidKey(leaf)).second) return corrupt("data tree " + hex(bid) + ": block " + hex(leaf) + " appears twice");
        auto b = readBlock(leaf);
        if (!b) return Error(b.error()).prefixed("data tree " + hex(bid));
        total += b->size();
        if (total > root->lcbTotal)
            return corrupt("data tree " + hex(bid) + ": blocks hold more than lcbTotal " + std::to_string(root->lcbTotal));
        out.push_back(std::move(b).value());
        return {};
    };
    for (uint64_t child : root->rgbid) {
        if (root->cLevel == 1) {
            if (auto st = addLeaf(child); !st) return st.error();
            continue;
        }
        if (!isInternalBid(child)) return corrupt("data tree " + hex(bid) + ": XXBLOCK entry " + hex(child) + " is not an XBLOCK");
        if (!seen.insert(bidKey(child)).second) return corrupt("data tree " + hex(bid) + ": block " + hex(child) + " appears twice");
        auto xb = readBlock(child);
        if (!xb) return Error(xb.error()).prefixed("data tree " + hex(bid));
        auto x = XBlock::decode(*xb, flavour());
        if (!x) return Error(x.error()).prefixed("data tree " + hex(bid) + ": block " + hex(child));
        if (x->cLevel != 1) return corrupt("data tree " + hex(bid) + ": XXBLOCK entry " + hex(child) + " has cLevel " + std::to_string(x->cLevel));
        for (uint64_t leaf : x->rgbid)
            if (auto st = addLeaf(leaf); !st) return st.error();
    }
    if (total != root->lcbTotal)
        return corrupt("data tree " + hex(bid) + ": blocks hold " + std::to_string(total) + " bytes, lcbTotal says " +
                       std::to_string(root->lcbTotal));
    return out;
}

Result<Bytes> NodeDatabase::readStream(uint64_t bid) const {
    auto blocks = readDataBlocks(bid);
    if (!blocks) return std::move(blocks).error();
    if (blocks->size() == 1) return std::move(blocks->front());
    Bytes out;
    size_t n = 0;
    for (const auto& b : *blocks) n += b.size();
    if (n > limits_.maxStreamBytes) return makeError(err::kTooBig, "stream " + hex(bid) + " exceeds the reader's limit");
    out.reserve(n);
    for (const auto& b : *blocks) out.insert(out.end(), b.begin(), b.end());
    return out;
}

Result<std::vector<SubnodeInfo>> NodeDatabase::readSubnodes(uint64_t bidSub) const {
    std::vector<SubnodeInfo> out;
    if (bidSub == 0) return out;
    const std::string where = "subnode tree " + hex(bidSub);
    if (!isInternalBid(bidSub)) return corrupt(where + ": not an internal block");
    auto raw = readBlock(bidSub);
    if (!raw) return Error(raw.error()).prefixed(where);
    auto head = InternalBlockHead::decode(*raw);
    if (!head) return corrupt(where + ": truncated");
    auto addSl = [&](const SLBlock& sl) {
        for (const auto& e : sl.entries)
            out.push_back(SubnodeInfo{static_cast<uint32_t>(e.nid), e.bidData, e.bidSub});
    };
    if (head->cLevel == 0) {
        auto sl = SLBlock::decode(*raw, flavour());
        if (!sl) return Error(sl.error()).prefixed(where);
        addSl(*sl);
    } else {
        auto si = SIBlock::decode(*raw, flavour());
        if (!si) return Error(si.error()).prefixed(where);
        std::unordered_set<uint64_t> seen{bidKey(bidSub)};
        for (const auto& e : si->entries) {
            if (!seen.insert(bidKey(e.bid)).second) return corrupt(where + ": block " + hex(e.bid) + " appears twice");
            auto child = readBlock(e.bid);
            if (!child) return Error(child.error()).prefixed(where);
            auto sl = SLBlock::decode(*child, flavour());
            if (!sl) return Error(sl.error()).prefixed(where + ": block " + hex(e.bid));
            addSl(*sl);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const SubnodeInfo& a, const SubnodeInfo& b) { return a.nid < b.nid; });
    return out;
}

// ---- Node ----

Result<Node> Node::open(const NodeDatabase& db, uint32_t nid) {
    auto info = db.findNode(nid);
    if (!info) return std::move(info).error();
    return Node(&db, nid, info->bidData, info->bidSub);
}

Result<std::vector<Bytes>> Node::dataBlocks() const {
    if (!db_) return makeError(err::kInvalidParameter, "no node");
    auto r = db_->readDataBlocks(bidData_);
    if (!r) return Error(r.error()).prefixed("node " + hex(nid_));
    return r;
}

Result<Bytes> Node::data() const {
    if (!db_) return makeError(err::kInvalidParameter, "no node");
    auto r = db_->readStream(bidData_);
    if (!r) return Error(r.error()).prefixed("node " + hex(nid_));
    return r;
}

Result<const std::vector<SubnodeInfo>*> Node::subnodes() const {
    if (!db_) return makeError(err::kInvalidParameter, "no node");
    if (!subnodes_) {
        auto r = db_->readSubnodes(bidSub_);
        if (!r) return Error(r.error()).prefixed("node " + hex(nid_));
        subnodes_ = std::make_shared<std::vector<SubnodeInfo>>(std::move(r).value());
    }
    return static_cast<const std::vector<SubnodeInfo>*>(subnodes_.get());
}

Result<Node> Node::subnode(uint32_t nid) const {
    auto subs = subnodes();
    if (!subs) return std::move(subs).error();
    const auto& v = **subs;
    auto it = std::lower_bound(v.begin(), v.end(), nid, [](const SubnodeInfo& s, uint32_t n) { return s.nid < n; });
    if (it == v.end() || it->nid != nid)
        return makeError(err::kNotFound, "node " + hex(nid_) + " has no subnode " + hex(nid));
    return Node(db_, it->nid, it->bidData, it->bidSub);
}

}  // namespace tavrin::pst::ndb
