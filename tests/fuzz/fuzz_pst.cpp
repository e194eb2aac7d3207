// libFuzzer target: the strict verifier on arbitrary bytes, and the PST
// reader on the same bytes: the folder tree and every message it lists,
// each walked value by value (a sanitizer sees every byte the reader
// produced).
#include <cstddef>
#include <cstdint>

#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

namespace {

using namespace tavrin;

// A sum over every byte of every value, recipients, attachments and
// embedded messages included, so that none of them can go unread.
uint64_t touch(const store::PropertyBag& bag) {
    uint64_t sum = 0;
    for (const auto& p : bag.items()) {
        sum += p.tag + p.scalar;
        for (uint8_t b : p.data) sum += b;
        for (const auto& v : p.multi)
            for (uint8_t b : v) sum += b;
        if (p.name) sum += p.name->lid + p.name->name.size();
    }
    return sum;
}

uint64_t touch(const store::StorageEntry& e) {
    uint64_t sum = e.name.size() + e.stateBits;
    for (uint8_t b : e.data) sum += b;
    for (const auto& c : e.children) sum += touch(c);
    return sum;
}

uint64_t touch(const store::Message& m) {
    uint64_t sum = touch(m.props);
    for (const auto& r : m.recipients) sum += touch(r.props);
    for (const auto& a : m.attachments) {
        sum += touch(a.props);
        if (a.embedded) sum += touch(*a.embedded);
        if (a.storage) sum += touch(*a.storage);
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const store::ByteSpan bytes(data, size);
    {
        pst::verify::VerifyOptions options;
        options.strict = true;
        options.maxFindings = 10;  // all are counted; only these are kept as texts
        (void)pst::verify::verify(pst::ndb::MemorySource::borrow(bytes), options);
    }
    // Without CRC checks: nearly every mutation breaks a CRC, and the
    // reader would refuse the file before any parser below the NDB layer
    // saw it (the verifier checks the CRCs).
    pst::messaging::ReadOptions readOptions;
    readOptions.limits.checkCrcs = false;
    auto reader = pst::messaging::PstReader::open(pst::ndb::MemorySource::borrow(bytes), readOptions);
    if (!reader) return 0;
    auto tree = (*reader)->folderTree((*reader)->ipmSubtree());
    if (!tree) return 0;
    uint64_t sum = 0;
    for (const auto& e : *tree) {
        for (uint32_t nid : e.folder.messages)
            if (auto m = (*reader)->readMessage(nid)) sum += touch(*m);
        for (uint32_t nid : e.folder.associated)
            if (auto m = (*reader)->readMessage(nid)) sum += touch(*m);
    }
    return sum == uint64_t(-1) ? 1 : 0;
}
