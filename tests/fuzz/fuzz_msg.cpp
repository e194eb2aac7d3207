// libFuzzer target: the message file reader on arbitrary bytes, then the
// record of what it read (which walks every value the reader produced) and
// the compound file writer on every OLE storage.
#include <cstddef>
#include <cstdint>

#include "store/core/record.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/oxmsg/msg_reader.h"

namespace {

tavrin::store::Bytes rewrite(const tavrin::store::StorageEntry& e) {
    auto b = tavrin::store::cfb::writeCompoundFile(e);
    return b.ok() ? std::move(b).value() : tavrin::store::Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::store;
    auto m = oxmsg::readMsg(ByteSpan(data, size));
    if (!m) return 0;
    RecordOptions options;
    options.storageBytes = rewrite;
    const std::string json = messageRecordJson(*m, {}, {}, options);
    return json.empty() ? 1 : 0;
}
