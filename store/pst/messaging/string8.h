// Conversion of 8-bit (PT_STRING8) values to UTF-16 for the Unicode PST.
// The one place where the writer decodes a code page.
#pragma once

#include <cstdint>
#include <string>

#include "store/core/bytes.h"

namespace tavrin::pst::messaging {

// Decodes `bytes` in Windows code page `codepage`.
std::u16string decodeString8(store::ByteSpan bytes, uint32_t codepage);

}  // namespace tavrin::pst::messaging
