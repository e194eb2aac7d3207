#include "store/pst/verify/verifier.h"

#include "store/pst/verify/verifier_impl.h"

namespace tavrin::pst::verify {

void Verifier::add(std::string where, std::string what) {
    ++rep_.totalFindings;
    if (rep_.findings.size() < options_.maxFindings) rep_.findings.push_back(Finding{std::move(where), std::move(what)});
}

void Verifier::note(std::string where, std::string what) {
    ++rep_.totalNotes;
    if (rep_.notes.size() < options_.maxFindings) rep_.notes.push_back(Finding{std::move(where), std::move(what)});
}

void Verifier::run() {
    fileSize_ = src_->size();
    if (!checkHeader()) return;
    walkBTree(ndb::ptypeNBT);
    walkBTree(ndb::ptypeBBT);
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

Result<VerifyReport> verifyFile(const std::string& path, const VerifyOptions& options) {
    auto src = ndb::FileSource::open(path);
    if (!src) return std::move(src).error();
    return verify(std::move(src).value(), options);
}

}  // namespace tavrin::pst::verify
