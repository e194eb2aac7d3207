// MultiByteToWideChar/WideCharToMultiByte behind the code page seam
// (Windows builds).
#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <climits>

#include "store/core/codepage.h"

namespace tavrin::store::detail {

bool platformSupports(uint32_t codepage) { return IsValidCodePage(codepage) != 0; }

// Without MB_ERR_INVALID_CHARS, invalid sequences become U+FFFD (Windows
// Vista and later); without a default character, unmappable characters
// become the code page's default character ('?').
std::u16string platformDecode(ByteSpan bytes, uint32_t codepage) {
    std::u16string out;
    // Converted in pieces whose sizes fit an int.
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t n = bytes.size() - pos;
        if (n > (INT_MAX / 4)) n = INT_MAX / 4;
        const auto* src = reinterpret_cast<const char*>(bytes.data() + pos);
        const int len = MultiByteToWideChar(codepage, 0, src, static_cast<int>(n), nullptr, 0);
        if (len <= 0) {
            out.append(n, u'\xFFFD');
        } else {
            const size_t at = out.size();
            out.resize(at + static_cast<size_t>(len));
            MultiByteToWideChar(codepage, 0, src, static_cast<int>(n), reinterpret_cast<wchar_t*>(&out[at]), len);
        }
        pos += n;
    }
    return out;
}

Bytes platformEncode(std::u16string_view text, uint32_t codepage) {
    Bytes out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t n = text.size() - pos;
        if (n > (INT_MAX / 8)) n = INT_MAX / 8;
        const auto* src = reinterpret_cast<const wchar_t*>(text.data() + pos);
        const int len = WideCharToMultiByte(codepage, 0, src, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        if (len <= 0) {
            out.insert(out.end(), n, '?');
        } else {
            const size_t at = out.size();
            out.resize(at + static_cast<size_t>(len));
            WideCharToMultiByte(codepage, 0, src, static_cast<int>(n), reinterpret_cast<char*>(out.data() + at), len,
                                nullptr, nullptr);
        }
        pos += n;
    }
    return out;
}

}  // namespace tavrin::store::detail

#endif  // _WIN32
