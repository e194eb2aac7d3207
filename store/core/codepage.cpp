#include "store/core/codepage.h"

#include <string>

#include "fs/text.h"

namespace tavrin::store {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Code pages in which every byte below 0x80 stands for the same ASCII
// character wherever it occurs: text made only of such bytes can be widened
// without the platform converter. Stateful encodings (ISO-2022, HZ, UTF-7)
// and the UTF-16/32 forms are not.
bool asciiTransparent(uint32_t cp) {
    switch (cp) {
        case 1200: case 1201: case 12000: case 12001:
        case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
        case 52936: case 65000:
            return false;
        default:
            return true;
    }
}

bool allAscii(ByteSpan b) {
    uint8_t acc = 0;
    for (uint8_t c : b) acc |= c;
    return acc < 0x80;
}

std::u16string widenAscii(ByteSpan b) {
    std::u16string s(b.size(), u'\0');
    for (size_t i = 0; i < b.size(); ++i) s[i] = static_cast<char16_t>(b[i]);
    return s;
}

std::u16string decodeUtf16Le(ByteSpan b) {
    std::u16string s(b.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(loadLE16(b.data() + 2 * i));
    if (b.size() % 2) s.push_back(kReplacement);
    return s;
}

// True at a well-formed surrogate pair starting at t[i].
bool pairAt(std::u16string_view t, size_t i) {
    return t[i] >= 0xD800 && t[i] <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF;
}

// Code pages whose characters are the first 128 or 256 code points.
Bytes encodeLow(std::u16string_view t, char16_t limit) {
    Bytes out;
    out.reserve(t.size());
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] < limit) {
            out.push_back(static_cast<uint8_t>(t[i]));
        } else {
            out.push_back('?');
            if (pairAt(t, i)) ++i;
        }
    }
    return out;
}

}  // namespace

bool isSupportedCodepage(uint32_t codepage) {
    switch (codepage) {
        case kCodepageUtf16Le: case kCodepageAscii: case kCodepageLatin1: case kCodepageUtf8:
            return true;
        default:
            return detail::platformSupports(codepage);
    }
}

Result<std::u16string> decodeCodepage(ByteSpan bytes, uint32_t codepage) {
    switch (codepage) {
        case kCodepageUtf16Le:
            return decodeUtf16Le(bytes);
        case kCodepageUtf8:
            return text::toUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        case kCodepageAscii: {
            std::u16string s = widenAscii(bytes);
            for (auto& c : s)
                if (c >= 0x80) c = kReplacement;
            return s;
        }
        case kCodepageLatin1:
            return widenAscii(bytes);  // ISO-8859-1 is the first 256 code points
        default:
            break;
    }
    if (!detail::platformSupports(codepage))
        return Error(err::kNoSupport, "code page " + std::to_string(codepage) + " is not supported");
    if (asciiTransparent(codepage) && allAscii(bytes)) return widenAscii(bytes);
    return detail::platformDecode(bytes, codepage);
}

Result<Bytes> encodeCodepage(std::u16string_view text, uint32_t codepage) {
    switch (codepage) {
        case kCodepageUtf16Le: {
            Bytes out(text.size() * 2);
            for (size_t i = 0; i < text.size(); ++i) storeLE16(out.data() + 2 * i, text[i]);
            return out;
        }
        case kCodepageUtf8: {
            const std::string s = text::toUtf8(text);
            return Bytes(s.begin(), s.end());
        }
        case kCodepageAscii:
            return encodeLow(text, 0x80);
        case kCodepageLatin1:
            return encodeLow(text, 0x100);
        default:
            break;
    }
    if (!detail::platformSupports(codepage))
        return Error(err::kNoSupport, "code page " + std::to_string(codepage) + " is not supported");
    if (asciiTransparent(codepage)) {
        bool ascii = true;
        for (char16_t c : text) ascii = ascii && c < 0x80;
        if (ascii) return encodeLow(text, 0x80);
    }
    return detail::platformEncode(text, codepage);
}

}  // namespace tavrin::store
