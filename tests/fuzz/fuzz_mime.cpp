// libFuzzer target: the Internet message reader (RFC 5322/MIME, with TNEF
// parts and embedded messages) on arbitrary bytes, then the record of what
// it read (which walks every value it produced).
#include <cstddef>
#include <cstdint>

#include "store/core/record.h"
#include "store/mime/internet_mail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::store;
    auto m = mime::readInternetMessage(ByteSpan(data, size));
    if (!m) return 0;
    const std::string json = messageRecordJson(*m, {}, {});
    return json.empty() ? 1 : 0;
}
