#include "store/pst/messaging/string8.h"

#include <string_view>

#include "fs/text.h"

namespace tavrin::pst::messaging {

namespace {
// Windows-1252 0x80..0x9F; the rest of the code page is Latin-1.
constexpr char16_t k1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
}  // namespace

std::u16string decodeString8(store::ByteSpan bytes, uint32_t codepage) {
    std::u16string out;
    switch (codepage) {
        case 65001:
            return text::toUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        case 1200:
            out.resize(bytes.size() / 2);
            for (size_t i = 0; i < out.size(); ++i) out[i] = store::loadLE16(bytes.data() + 2 * i);
            return out;
        case 28591:
            out.assign(bytes.begin(), bytes.end());
            return out;
        case 20127:
            out.reserve(bytes.size());
            for (uint8_t b : bytes) out.push_back(b < 0x80 ? b : 0xFFFD);
            return out;
        default:
            out.reserve(bytes.size());
            for (uint8_t b : bytes) out.push_back(b >= 0x80 && b < 0xA0 ? k1252High[b - 0x80] : char16_t(b));
            return out;
    }
}

}  // namespace tavrin::pst::messaging
