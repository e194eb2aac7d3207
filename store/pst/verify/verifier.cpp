#include "store/pst/verify/verifier.h"

#include <algorithm>

#include "store/pst/verify/verifier_impl.h"

namespace tavrin::pst::verify {

void Verifier::add(const Where& where, std::string what) {
    ++rep_.totalFindings;
    if (rep_.findings.size() < options_.maxFindings) rep_.findings.push_back(Finding{where.text(), std::move(what)});
}

void Verifier::note(const Where& where, std::string what) {
    ++rep_.totalNotes;
    if (rep_.notes.size() < options_.maxFindings) rep_.notes.push_back(Finding{where.text(), std::move(what)});
}

Verifier::BlockRec* Verifier::findBlockRec(uint64_t bid) {
    const uint64_t key = ndb::bidKey(bid);
    auto it = std::lower_bound(blocks_.begin(), blocks_.end(), key,
                               [](const BlockRec& b, uint64_t k) { return ndb::bidKey(b.bid) < k; });
    return it != blocks_.end() && ndb::bidKey(it->bid) == key ? &*it : nullptr;
}

bool Verifier::firstBlockKey(uint64_t key) {
    if (!blockKeysUnordered_) {
        if (blocks_.empty() || key > ndb::bidKey(blocks_.back().bid)) return true;
        blockKeysUnordered_ = true;
        blockKeys_.reserve(blocks_.size() * 2);
        for (const BlockRec& b : blocks_) blockKeys_.insert(ndb::bidKey(b.bid));
    }
    return blockKeys_.insert(key).second;
}

std::string Verifier::Alloc::where() const {
    switch (kind) {
        case Kind::BTreePage: return pageWhere(name, bid, ib);
        case Kind::MapPage: return "offset " + hex(ib) + " (" + name + " page)";
        case Kind::Block: break;
    }
    return blockWhere(bid, ib);
}

void Verifier::run() {
    fileSize_ = src_->size();
    if (!checkHeader()) return;
    walkBTree(ndb::ptypeNBT);
    walkBTree(ndb::ptypeBBT);
    if (blockKeysUnordered_)
        std::stable_sort(blocks_.begin(), blocks_.end(),
                         [](const BlockRec& a, const BlockRec& b) { return ndb::bidKey(a.bid) < ndb::bidKey(b.bid); });
    blockKeys_ = {};
    rep_.nodes = nodes_.size();
    checkBlocks();
    checkReferences();
    checkMaps();
    checkCounters();

    // The upper layers read through the node database. CRCs were checked
    // above, once per page and block, so the reader does not report them
    // again for every node that uses the block.
    ndb::ReadLimits limits;
    limits.checkCrcs = false;
    auto db = ndb::NodeDatabase::open(std::move(src_), limits);
    if (!db) {
        add("offset 0x0 (header)", db.error().description);
        return;
    }
    db_ = std::move(db).value();
    checkAllNodes();
    checkMessaging();
}

VerifyReport verify(std::unique_ptr<ndb::ByteSource> source, const VerifyOptions& options) {
    VerifyReport report;
    Verifier v(std::move(source), options, report);
    v.run();
    return report;
}

namespace {
// A source the verifier borrows.
class BorrowedSource final : public ndb::ByteSource {
public:
    explicit BorrowedSource(const ndb::ByteSource& s) : s_(s) {}
    uint64_t size() const override { return s_.size(); }
    Status readAt(uint64_t offset, store::MutableByteSpan out) const override { return s_.readAt(offset, out); }
    std::string name() const override { return s_.name(); }

private:
    const ndb::ByteSource& s_;
};
}  // namespace

std::vector<Finding> verifyNodes(const ndb::ByteSource& source, std::span<const uint32_t> nids,
                                 const VerifyOptions& options) {
    VerifyReport report;
    Verifier v(nullptr, options, report);
    auto db = ndb::NodeDatabase::open(std::make_unique<BorrowedSource>(source));
    if (!db) return {Finding{"offset 0x0 (header)", db.error().description}};
    v.db_ = std::move(db).value();
    v.h_ = v.db_->header();
    v.f_ = v.h_.flavour;
    for (uint32_t nid : nids) {
        auto info = v.db_->findNode(nid);
        const std::string where = Verifier::nodeWhere(nid);
        if (!info) {
            v.add(where, info.error().description);
            continue;
        }
        v.checkNodeContent(ndb::Node(v.db_.get(), nid, info->bidData, info->bidSub), where, 0);
    }
    return std::move(report.findings);
}

Result<VerifyReport> verifyFile(const std::string& path, const VerifyOptions& options) {
    auto src = ndb::FileSource::open(path);
    if (!src) return std::move(src).error();
    return verify(std::move(src).value(), options);
}

}  // namespace tavrin::pst::verify
