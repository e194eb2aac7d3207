// MultiByteToWideChar/WideCharToMultiByte behind the code page seam
// (Windows builds).
//
// Both systems must give the same Unicode for the same bytes, so that a
// message converted on Windows reads as it does when converted on Linux
// (iconv, codepage_posix.cpp). Windows' tables agree with iconv's on every
// character both define; they differ only where iconv finds no character:
//   - bytes a single-byte code page leaves undefined: Windows gives the C1
//     control of the same number or a private-use character, iconv nothing;
//   - the user-defined areas of 936, 949 and 950 (private-use characters in
//     Windows' tables; 932's user-defined area is private use in both);
//   - a lead byte without a valid trail byte (Windows gives '?' or U+30FB);
//   - three single cases: 1255's byte CA, which newer Windows tables define;
//     950's ETEN extensions (lead bytes C6 to C8) and byte 80, and 932's
//     user-defined area, which both map to the same characters;
//   - code page 1258 (Vietnamese): iconv joins a letter and the tone mark
//     after it into one precomposed character, Windows leaves them apart.
// Text in which none of these occur is converted in one call; otherwise
// each character is converted alone and those cases become U+FFFD (as iconv's
// failures do), and 1258's tone marks are joined as iconv joins them. The
// table in tests/store/core/codepage_tables.txt, generated from the POSIX
// build, checks every single byte and byte pair of the mail code pages.
#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <climits>

#include "fs/codepage_platform.h"

namespace tavrin::fs {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool isC1OrPrivateUse(char16_t c) { return (c >= 0x80 && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF); }

// The combining tone marks of code page 1258 (bytes CC, EC, D2, DE, F2).
bool isToneMark(char16_t c) { return c == 0x0300 || c == 0x0301 || c == 0x0303 || c == 0x0309 || c == 0x0323; }

// Converts with `flags`; false when the system refuses (invalid input with
// MB_ERR_INVALID_CHARS, or flags this code page does not take).
bool convert(uint32_t codepage, DWORD flags, const uint8_t* src, size_t n, std::u16string& out) {
    out.clear();
    if (n == 0) return true;
    const auto* s = reinterpret_cast<const char*>(src);
    const int len = MultiByteToWideChar(codepage, flags, s, static_cast<int>(n), nullptr, 0);
    if (len <= 0) return false;
    out.resize(static_cast<size_t>(len));
    return MultiByteToWideChar(codepage, flags, s, static_cast<int>(n), reinterpret_cast<wchar_t*>(out.data()), len) ==
           len;
}

// Whether a character Windows gives for one byte (`lead` 0) or for the
// double-byte sequence that starts with `lead` is a character iconv has no
// counterpart for.
bool undefinedInIconv(uint32_t codepage, char16_t c, uint8_t lead) {
    if (codepage == 1255 && c == 0x05BA) return true;  // byte CA, a point later added to Windows' table
    if (!isC1OrPrivateUse(c)) return false;
    if (lead != 0) {
        if (codepage == 932) return false;  // 932's user-defined area is private use in both
        if (codepage == 950 && lead >= 0xC6 && lead <= 0xC8) return false;  // the ETEN extensions, in both
        return true;
    }
    return !(codepage == 950 && c == 0x80);  // 950's byte 80 is U+0080 in both
}

// One character at a time, for text in which something needs a closer look.
std::u16string decodeEach(std::span<const uint8_t> bytes, uint32_t codepage, bool doubleByte) {
    std::u16string out, one;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const bool lead = doubleByte && IsDBCSLeadByteEx(codepage, bytes[i]);
        if (lead && i + 1 < bytes.size() && convert(codepage, MB_ERR_INVALID_CHARS, bytes.data() + i, 2, one) &&
            one.size() == 1 && !undefinedInIconv(codepage, one[0], bytes[i])) {
            out += one;
            i += 2;
            continue;
        }
        if (codepage == 949 && i + 1 < bytes.size() && bytes[i] == 0xA2 && bytes[i + 1] == 0xE8) {
            out.push_back(kReplacement);  // iconv takes this unassigned pair as one bad character
            i += 2;
            continue;
        }
        if (!lead && convert(codepage, MB_ERR_INVALID_CHARS, bytes.data() + i, 1, one) && one.size() == 1 &&
            !undefinedInIconv(codepage, one[0], 0)) {
            out += one;
        } else {
            out.push_back(kReplacement);  // an undefined byte; a lead byte's trail is read again on its own
        }
        ++i;
    }
    return out;
}

// 1258: a letter and the tone mark after it become the precomposed letter
// where Unicode has one (canonical composition of the pair). iconv also
// joins six accented letters with the tilde although Unicode's letters put
// the tilde first (U+1E4C is O, tilde, acute): taken over as iconv has them.
std::u16string joinToneMarks(const std::u16string& in) {
    static const char16_t kTildeAfter[][3] = {{0x00D3, 0x0303, 0x1E4C}, {0x00D6, 0x0303, 0x1E4E},
                                              {0x00DA, 0x0303, 0x1E78}, {0x00F3, 0x0303, 0x1E4D},
                                              {0x00F6, 0x0303, 0x1E4F}, {0x00FA, 0x0303, 0x1E79}};
    std::u16string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        bool joined = false;
        for (const auto& t : kTildeAfter)
            if (i + 1 < in.size() && in[i] == t[0] && in[i + 1] == t[1]) {
                out.push_back(t[2]);
                ++i;
                joined = true;
                break;
            }
        if (joined) continue;
        if (i + 1 < in.size() && isToneMark(in[i + 1]) && !isToneMark(in[i])) {
            const wchar_t pair[2] = {static_cast<wchar_t>(in[i]), static_cast<wchar_t>(in[i + 1])};
            wchar_t composed[4] = {};
            const int n = NormalizeString(NormalizationC, pair, 2, composed, 4);
            if (n == 1) {
                out.push_back(static_cast<char16_t>(composed[0]));
                ++i;
                continue;
            }
        }
        out.push_back(in[i]);
    }
    return out;
}

}  // namespace

bool SystemSupportsCodepage(uint32_t codepage) { return IsValidCodePage(codepage) != 0; }

std::u16string SystemDecode(std::span<const uint8_t> bytes, uint32_t codepage) {
    if (bytes.size() > static_cast<size_t>(INT_MAX / 4)) {
        // Converted in pieces whose sizes fit an int (a piece may end inside
        // a character; such sizes never occur in a message's strings).
        std::u16string out;
        for (size_t pos = 0; pos < bytes.size(); pos += INT_MAX / 4)
            out += SystemDecode(bytes.subspan(pos, std::min<size_t>(INT_MAX / 4, bytes.size() - pos)), codepage);
        return out;
    }
    CPINFO info{};
    const bool table = GetCPInfo(codepage, &info) && (info.MaxCharSize == 1 || info.MaxCharSize == 2);
    std::u16string out;
    if (!table) {
        // Stateful and multi-byte encodings without a table (ISO-2022, UTF-7,
        // GB18030): the system's own rules; an invalid sequence is U+FFFD.
        if (!convert(codepage, 0, bytes.data(), bytes.size(), out)) out.assign(bytes.size(), kReplacement);
        return out;
    }
    bool plain = convert(codepage, MB_ERR_INVALID_CHARS, bytes.data(), bytes.size(), out);
    for (size_t i = 0; plain && i < out.size(); ++i)
        plain = !(isC1OrPrivateUse(out[i]) || (codepage == 1255 && out[i] == 0x05BA)) ||
                (codepage == 932 && out[i] >= 0xE000);
    if (!plain) out = decodeEach(bytes, codepage, info.MaxCharSize == 2);
    if (codepage == 1258) out = joinToneMarks(out);
    return out;
}

std::vector<uint8_t> SystemEncode(std::u16string_view text, uint32_t codepage) {
    std::vector<uint8_t> out;
    // As iconv: a character the code page lacks is one '?', never a
    // look-alike (no best fit), and a surrogate pair is one character.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    auto encode = [&](const char16_t* src, int n, std::vector<uint8_t>& to) {
        const auto* s = reinterpret_cast<const wchar_t*>(src);
        int len = WideCharToMultiByte(codepage, flags, s, n, nullptr, 0, nullptr, nullptr);
        if (len <= 0 && flags != 0 && GetLastError() == ERROR_INVALID_FLAGS) {
            flags = 0;
            len = WideCharToMultiByte(codepage, flags, s, n, nullptr, 0, nullptr, nullptr);
        }
        if (len <= 0) {
            to.insert(to.end(), static_cast<size_t>(n), '?');
            return;
        }
        const size_t at = to.size();
        to.resize(at + static_cast<size_t>(len));
        WideCharToMultiByte(codepage, flags, s, n, reinterpret_cast<char*>(to.data() + at), len, nullptr, nullptr);
    };
    size_t pos = 0;
    while (pos < text.size()) {
        // A run without surrogates in one call, then each surrogate pair alone.
        size_t end = pos;
        while (end < text.size() && (text[end] < 0xD800 || text[end] > 0xDFFF) && end - pos < INT_MAX / 8) ++end;
        if (end > pos) {
            encode(text.data() + pos, static_cast<int>(end - pos), out);
            pos = end;
            continue;
        }
        const bool pair = text[pos] <= 0xDBFF && pos + 1 < text.size() && text[pos + 1] >= 0xDC00 && text[pos + 1] <= 0xDFFF;
        if (!pair) {
            out.push_back('?');
            ++pos;
            continue;
        }
        std::vector<uint8_t> one;
        encode(text.data() + pos, 2, one);
        if (one == std::vector<uint8_t>{'?', '?'} || one.empty()) one = std::vector<uint8_t>{'?'};
        out.insert(out.end(), one.begin(), one.end());
        pos += 2;
    }
    return out;
}

}  // namespace tavrin::fs

#endif  // _WIN32
