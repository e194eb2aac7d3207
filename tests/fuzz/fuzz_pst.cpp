// libFuzzer target: the PST reader on arbitrary bytes — the folder tree and
// every message it lists, each turned into its record (which walks every
// value read) — and the strict verifier on the same bytes.
#include <cstddef>
#include <cstdint>

#include "store/core/record.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin;
    const store::ByteSpan bytes(data, size);
    {
        pst::verify::VerifyOptions options;
        options.maxFindings = 100;
        (void)pst::verify::verify(pst::ndb::MemorySource::borrow(bytes), options);
    }
    auto reader = pst::messaging::PstReader::open(pst::ndb::MemorySource::borrow(bytes));
    if (!reader) return 0;
    auto tree = (*reader)->folderTree((*reader)->ipmSubtree());
    if (!tree) return 0;
    size_t length = 0;
    for (const auto& e : *tree) {
        for (uint32_t nid : e.folder.messages) {
            auto m = (*reader)->readMessage(nid);
            if (m) length += store::messageRecordJson(*m, {}, {}).size();
        }
        for (uint32_t nid : e.folder.associated) {
            auto m = (*reader)->readMessage(nid);
            if (m) length += store::messageRecordJson(*m, {}, {}).size();
        }
    }
    return length == size_t(-1) ? 1 : 0;
}
