// libFuzzer target: the mbox splitter on arbitrary bytes, and each message
// it gives through the Internet message reader. Every byte of the input is
// in one message, skipped before the first, or a separator's.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "store/mime/internet_mail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::store;
    const auto messages = mime::splitMbox(ByteSpan(data, size));
    uint64_t last = 0;
    for (const auto& m : messages) {
        if (m.offset < last || m.offset >= size || m.bytes.size() > size) std::abort();
        last = m.offset;
        (void)mime::readInternetMessage(m.bytes);
    }
    return 0;
}
