// 8-bit text: the one place that converts between Windows code pages and
// UTF-16.
//
// PT_STRING8 values and HTML bodies stored as bytes are in the code page the
// message declares (PR_INTERNET_CPID, PR_MESSAGE_CODEPAGE). The conversion
// itself is the system's (fs/codepage_platform.h).
// UTF-8, UTF-16LE, US-ASCII and ISO-8859-1 are converted here directly.
//
// Rules, the same on every platform:
//   - a code page this build cannot convert is an error (err::kNoSupport),
//     so that callers can fall back to another one on purpose;
//   - bytes that are not valid in a supported code page never fail a
//     conversion: each invalid sequence becomes U+FFFD;
//   - characters the target code page cannot represent are encoded as '?'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fs/result.h"
#include "store/core/bytes.h"

namespace tavrin::store {

// Code page identifiers ([MS-OXCDATA]/Windows code page numbers) handled
// without the platform converter.
inline constexpr uint32_t kCodepageUtf16Le = 1200;
inline constexpr uint32_t kCodepageWindows1252 = 1252;
inline constexpr uint32_t kCodepageAscii = 20127;
inline constexpr uint32_t kCodepageLatin1 = 28591;
inline constexpr uint32_t kCodepageUtf8 = 65001;

bool isSupportedCodepage(uint32_t codepage);

// The ANSI (Windows) code page of a locale ([MS-LCID] language id in the low
// word), or 0 for a locale whose texts have no ANSI code page.
uint32_t ansiCodepageForLcid(uint32_t lcid);

Result<std::u16string> decodeCodepage(ByteSpan bytes, uint32_t codepage);
Result<Bytes> encodeCodepage(std::u16string_view text, uint32_t codepage);

}  // namespace tavrin::store
