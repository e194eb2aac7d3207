#include "fs/text.h"

#include <cstdint>

namespace tavrin::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i. Invalid input yields U+FFFD
// and consumes one byte.
char32_t decodeUtf8(std::string_view s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) { ++i; return b0; }
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else { ++i; return kReplacement; }
    if (i + len > s.size()) { ++i; return kReplacement; }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) { ++i; return kReplacement; }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) { ++i; return kReplacement; }
    i += len;
    return cp;
}

// The UTF-16 code unit sequence of a code point, as a sort key: code points
// above U+FFFF start with a high surrogate (0xD800..0xDBFF), which sorts
// below U+E000..U+FFFF.
uint32_t firstUnit(char32_t cp) {
    if (cp < 0x10000) return cp;
    return 0xD800 + ((cp - 0x10000) >> 10);
}
uint32_t secondUnit(char32_t cp) { return 0xDC00 + ((cp - 0x10000) & 0x3FF); }

}  // namespace

std::string toUtf8(std::u16string_view s) {
    // At most three bytes per code unit (a surrogate pair, two units, makes
    // four): written in place, then cut to length. A long text is measured
    // first rather than given three times its room.
    size_t room = 3 * s.size();
    if (s.size() > 4096) {
        room = 0;
        for (char16_t c : s) room += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
    std::string out(room, '\0');
    char* p = out.data();
    auto put = [&p](uint32_t b) { *p++ = static_cast<char>(b); };
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            put(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
                ++i;
            } else {
                c = kReplacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacement;
        }
        if (c < 0x800) {
            put(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            put(0xE0 | (c >> 12));
            put(0x80 | ((c >> 6) & 0x3F));
        } else {
            put(0xF0 | (c >> 18));
            put(0x80 | ((c >> 12) & 0x3F));
            put(0x80 | ((c >> 6) & 0x3F));
        }
        put(0x80 | (c & 0x3F));
    }
    out.resize(static_cast<size_t>(p - out.data()));
    return out;
}

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        char32_t cp = decodeUtf8(s, i);
        if (cp < 0x10000) {
            out.push_back(static_cast<char16_t>(cp));
        } else {
            out.push_back(static_cast<char16_t>(firstUnit(cp)));
            out.push_back(static_cast<char16_t>(secondUnit(cp)));
        }
    }
    return out;
}

int compareOrdinal(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        // Fast path: equal ASCII bytes.
        if (a[i] == b[j] && static_cast<unsigned char>(a[i]) < 0x80) { ++i; ++j; continue; }
        const char32_t ca = decodeUtf8(a, i);
        const char32_t cb = decodeUtf8(b, j);
        if (ca == cb) continue;
        const uint32_t ua = firstUnit(ca), ub = firstUnit(cb);
        if (ua != ub) return ua < ub ? -1 : 1;
        // Same high surrogate: compare the low ones.
        const uint32_t la = secondUnit(ca), lb = secondUnit(cb);
        return la < lb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace tavrin::text
