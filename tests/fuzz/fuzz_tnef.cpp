// libFuzzer target: the TNEF (winmail.dat) reader on arbitrary bytes, then
// the record of what it read.
#include <cstddef>
#include <cstdint>

#include "store/core/record.h"
#include "store/mime/tnef_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrin::store;
    auto m = tnef::readTnef(ByteSpan(data, size));
    if (!m) return 0;
    const std::string json = messageRecordJson(*m, {}, {});
    return json.empty() ? 1 : 0;
}
