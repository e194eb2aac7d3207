#include "store/pst/messaging/string8.h"

#include "store/core/codepage.h"

namespace tavrin::pst::messaging {

std::u16string decodeString8(store::ByteSpan bytes, uint32_t codepage) {
    if (auto s = store::decodeCodepage(bytes, codepage)) return std::move(s).value();
    // A code page this build cannot convert: Windows-1252, the ANSI code
    // page the message files of this product default to.
    if (auto s = store::decodeCodepage(bytes, store::kCodepageWindows1252)) return std::move(s).value();
    return store::decodeCodepage(bytes, store::kCodepageLatin1).value();
}

}  // namespace tavrin::pst::messaging
