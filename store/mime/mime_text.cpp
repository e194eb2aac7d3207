#include "store/mime/mime_text.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "fs/cpu_features.h"
#include "fs/text.h"
#include "store/core/codepage.h"

namespace tavrin::store::mime {

void Findings::add(const std::string& what) {
    if (std::find(lines_.begin(), lines_.end(), what) != lines_.end()) return;
    if (lines_.size() < kMax) lines_.push_back(what);
    else ++more_;
}

std::vector<std::string> Findings::take() {
    if (more_) lines_.push_back("and " + std::to_string(more_) + " more finding" + (more_ == 1 ? "" : "s"));
    more_ = 0;
    return std::move(lines_);
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::string_view trimWhitespace(std::string_view s) {
    auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && ws(s.front())) s.remove_prefix(1);
    while (!s.empty() && ws(s.back())) s.remove_suffix(1);
    return s;
}

namespace {

struct Alias {
    const char* name;
    uint32_t codepage;
};

// Names and aliases (IANA, and what mail programs write) of the charsets
// mail uses, compared after lowering the case.
constexpr Alias kAliases[] = {
    {"utf-8", 65001}, {"utf8", 65001}, {"x-utf-8", 65001}, {"unicode-1-1-utf-8", 65001},
    {"us-ascii", 20127}, {"ascii", 20127}, {"us", 20127}, {"ansi_x3.4-1968", 20127}, {"iso646-us", 20127},
    {"cp367", 20127}, {"csascii", 20127},
    // ISO-8859-1 text is read as windows-1252, its superset, as browsers
    // and Outlook read it: mail labelled Latin-1 often holds 1252's quotes
    // (and ISO-8859-9 as windows-1254).
    {"latin1", 1252}, {"l1", 1252}, {"cp819", 1252}, {"iso-ir-100", 1252}, {"csisolatin1", 1252},
    {"latin5", 1254},
    {"latin2", 28592}, {"l2", 28592}, {"csisolatin2", 28592},
    {"latin-9", 28605}, {"latin9", 28605},
    {"iso-8859-8-i", 28598}, {"iso-8859-8-e", 28598}, {"iso_8859-8-i", 28598}, {"logical", 28598}, {"visual", 28598},
    {"cp874", 874}, {"windows-874", 874}, {"tis-620", 874}, {"x-windows-874", 874}, {"iso-8859-11", 874},
    {"koi8-r", 20866}, {"koi8r", 20866}, {"cskoi8r", 20866}, {"koi8-u", 21866}, {"koi8-ru", 21866},
    {"shift_jis", 932}, {"shift-jis", 932}, {"sjis", 932}, {"x-sjis", 932}, {"ms_kanji", 932}, {"cp932", 932},
    {"windows-31j", 932}, {"csshiftjis", 932}, {"x-ms-cp932", 932}, {"ms932", 932},
    // EUC-JP as 20932, the number Windows' converter takes (51932 is
    // MLang's only); iconv reads both as EUC-JP.
    {"euc-jp", 20932}, {"x-euc-jp", 20932}, {"eucjp", 20932}, {"cseucpkdfmtjapanese", 20932},
    {"iso-2022-jp", 50220}, {"csiso2022jp", 50220}, {"iso-2022-jp-1", 50220}, {"iso-2022-jp-2", 50220},
    // GB 2312 and GBK as Windows reads them, code page 936: GBK with the
    // euro sign at 0x80, which GB 18030 leaves undefined.
    {"gb2312", 936}, {"gbk", 936}, {"cp936", 936}, {"x-gbk", 936}, {"euc-cn", 936}, {"csgb2312", 936},
    {"gb_2312-80", 936}, {"chinese", 936}, {"x-euc-cn", 936}, {"ms936", 936}, {"windows-936", 936},
    {"csgbk", 936}, {"gb18030", 54936},
    {"big5", 950}, {"big-5", 950}, {"big5-hkscs", 950}, {"cp950", 950}, {"x-x-big5", 950}, {"csbig5", 950},
    {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"ks_c_5601", 949}, {"ks_c_5601-1989", 949}, {"cp949", 949},
    {"korean", 949}, {"csksc56011987", 949}, {"csEUCKR", 949}, {"uhc", 949}, {"windows-949", 949}, {"ksc5601", 949},
    {"iso-2022-kr", 50225}, {"csiso2022kr", 50225},
    {"utf-7", 65000}, {"utf7", 65000}, {"unicode-1-1-utf-7", 65000}, {"x-unicode-2-0-utf-7", 65000},
    {"utf-16le", 1200}, {"utf-16be", 1201}, {"utf-16", 1201}, {"unicodefffe", 1201}, {"ucs-2", 1201},
    {"utf-32le", 12000}, {"utf-32be", 12001}, {"utf-32", 12001},
    {"macintosh", 10000}, {"mac", 10000}, {"x-mac-roman", 10000}, {"csmacintosh", 10000},
    {"x-mac-cyrillic", 10007}, {"x-mac-ukrainian", 10007},
    {"ibm437", 437}, {"cp437", 437}, {"ibm850", 850}, {"cp850", 850}, {"ibm852", 852}, {"cp852", 852},
    {"ibm866", 866}, {"cp866", 866}, {"csibm866", 866},
    {"ms-ansi", 1252}, {"ansi", 1252},
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number at the end of a name such as "iso-8859-2", "iso8859_2" or
// "iso-8859-2:1987" after `prefix` (separators '-', '_', ' ' optional).
bool numberAfter(std::string_view s, std::string_view prefix, uint32_t& n) {
    if (s.substr(0, prefix.size()) != prefix) return false;
    s.remove_prefix(prefix.size());
    while (!s.empty() && (s.front() == '-' || s.front() == '_' || s.front() == ' ')) s.remove_prefix(1);
    if (s.empty() || !isDigit(s.front())) return false;
    n = 0;
    size_t i = 0;
    for (; i < s.size() && isDigit(s[i]) && n < 100000; ++i) n = n * 10 + static_cast<uint32_t>(s[i] - '0');
    return i == s.size() || s[i] == ':';
}

}  // namespace

uint32_t codepageOfCharset(std::string_view charset) {
    std::string s = lowerAscii(trimWhitespace(charset));
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) s = s.substr(1, s.size() - 2);
    if (s.empty() || s.size() > 64) return 0;
    for (const Alias& a : kAliases) {
        if (s != lowerAscii(a.name)) continue;
        // GB 18030 read as GBK where the platform has no GB 18030.
        if (a.codepage == 54936 && !isSupportedCodepage(54936)) return 936;
        return a.codepage;
    }
    uint32_t n = 0;
    for (std::string_view p : {"iso-8859", "iso8859", "iso_8859"}) {
        if (numberAfter(s, p, n)) {
            if (n == 1) return 1252;  // see the table above
            if (n == 9) return 1254;
            if (n >= 2 && n <= 10) return 28590 + n;
            if (n == 11) return 874;
            if (n >= 13 && n <= 16) return 28590 + n;
            return 0;
        }
    }
    for (std::string_view p : {"windows", "x-cp", "cp", "win", "ms"}) {
        if (numberAfter(s, p, n)) {
            if (n >= 1250 && n <= 1258) return n;
            if (p == "cp" && n > 0 && isSupportedCodepage(n)) return n;
            return 0;
        }
    }
    return 0;
}

bool isAscii(ByteSpan bytes) {
    uint8_t acc = 0;
    for (uint8_t c : bytes) acc |= c;
    return acc < 0x80;
}

bool isUtf8(ByteSpan b) {
    size_t i = 0;
    const size_t n = b.size();
    while (i < n) {
        const uint8_t c = b[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t min;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) { len = 2; min = 0x80; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; min = 0x800; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; min = 0x10000; cp = c & 0x07; }
        else return false;
        if (n - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

namespace {

// Where decoded text goes, through a pointer into room sized beforehand:
// UTF-16 units, or the same as UTF-16LE bytes.
struct UnitsOut {
    char16_t* o;
    void unit(char16_t u) { *o++ = u; }
    size_t ascii(const uint8_t* p, size_t n) {
        const size_t k = text::widenAscii(reinterpret_cast<const char*>(p), n, o);
        o += k;
        return k;
    }
};
struct LeBytesOut {
    uint8_t* o;
    void unit(char16_t u) {
        o[0] = static_cast<uint8_t>(u);
        o[1] = static_cast<uint8_t>(u >> 8);
        o += 2;
    }
    size_t ascii(const uint8_t* p, size_t n) {
        const size_t k = text::widenAsciiLe(reinterpret_cast<const char*>(p), n, o);
        o += 2 * k;
        return k;
    }
};

// UTF-8 as the WHATWG Encoding Standard decodes it (what browsers and mail
// readers do): a maximal invalid subpart becomes one U+FFFD. At most one
// UTF-16 unit is written per byte; the output after the last one is returned.
template <class Out>
Out decodeUtf8To(ByteSpan b, Out out) {
    const uint8_t* p = b.data();
    const uint8_t* const end = p + b.size();
    uint32_t cp = 0;
    int needed = 0, seen = 0;
    uint8_t lower = 0x80, upper = 0xBF;
    while (p < end) {
        const uint8_t c = *p;
        if (needed == 0) {
            if (c < 0x80) {
                p += out.ascii(p, static_cast<size_t>(end - p));
                continue;
            }
            // A whole sequence of two bytes, or of three without the
            // limits E0 and ED put on the second byte: decoded at once.
            if (c >= 0xC2 && c <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
                out.unit(static_cast<char16_t>((c & 0x1F) << 6 | (p[1] & 0x3F)));
                p += 2;
                continue;
            }
            if (c >= 0xE1 && c <= 0xEF && c != 0xED && end - p >= 3 && (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80) {
                out.unit(static_cast<char16_t>((c & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F)));
                p += 3;
                continue;
            }
            ++p;
            if (c >= 0xC2 && c <= 0xDF) {
                needed = 1;
                cp = c & 0x1F;
            } else if (c >= 0xE0 && c <= 0xEF) {
                if (c == 0xE0) lower = 0xA0;
                if (c == 0xED) upper = 0x9F;
                needed = 2;
                cp = c & 0x0F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                if (c == 0xF0) lower = 0x90;
                if (c == 0xF4) upper = 0x8F;
                needed = 3;
                cp = c & 0x07;
            } else {
                out.unit(0xFFFD);
            }
            continue;
        }
        if (c < lower || c > upper) {
            // The sequence ends here; this byte starts the next one.
            cp = 0;
            needed = seen = 0;
            lower = 0x80;
            upper = 0xBF;
            out.unit(0xFFFD);
            continue;
        }
        ++p;
        lower = 0x80;
        upper = 0xBF;
        cp = (cp << 6) | (c & 0x3F);
        if (++seen == needed) {
            if (cp < 0x10000) {
                out.unit(static_cast<char16_t>(cp));
            } else {
                out.unit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                out.unit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            }
            cp = 0;
            needed = seen = 0;
        }
    }
    if (needed) out.unit(0xFFFD);
    return out;
}

std::u16string decodeUtf8(ByteSpan b) {
    std::u16string out(b.size(), u'\0');
    const UnitsOut end = decodeUtf8To(b, UnitsOut{out.data()});
    out.resize(static_cast<size_t>(end.o - out.data()));
    return out;
}

void decodeUtf8Le(ByteSpan b, Bytes& out) {
    out.resize(2 * b.size());
    const LeBytesOut end = decodeUtf8To(b, LeBytesOut{out.data()});
    out.resize(static_cast<size_t>(end.o - out.data()));
}

// UTF-16BE (1201) and UTF-32 (12000, 12001), which Windows' converter
// does not take: decoded here, the same on every platform.
std::u16string decodeWide(ByteSpan b, uint32_t cp) {
    std::u16string out;
    if (cp == 1201) {
        out.reserve(b.size() / 2 + 1);
        for (size_t i = 0; i + 1 < b.size(); i += 2) out.push_back(static_cast<char16_t>((b[i] << 8) | b[i + 1]));
        if (b.size() % 2) out.push_back(0xFFFD);
        return out;
    }
    const bool big = cp == 12001;
    out.reserve(b.size() / 4 + 1);
    for (size_t i = 0; i + 3 < b.size(); i += 4) {
        const uint32_t v = big ? (uint32_t(b[i]) << 24) | (uint32_t(b[i + 1]) << 16) | (uint32_t(b[i + 2]) << 8) | b[i + 3]
                               : loadLE32(b.data() + i);
        if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
            out.push_back(0xFFFD);
        } else if (v >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(v));
        }
    }
    if (b.size() % 4) out.push_back(0xFFFD);
    return out;
}

// ISO-2022-JP (50220) as Shift_JIS bytes, then read as code page 932:
// iconv's ISO-2022-JP and Windows' 50220 map a few characters apart (the
// wave dash, for one), while both platforms' 932 tables are Microsoft's.
// JIS X 0212 characters, which 932 lacks, become U+FFFD.
std::u16string decodeIso2022Jp(ByteSpan b) {
    enum Mode { Ascii, Jis0208, Katakana, Jis0212 } mode = Ascii;
    Bytes sjis;
    sjis.reserve(b.size());
    const uint8_t kMark = 0xFF;  // undefined in 932: U+FFFD on both platforms
    for (size_t i = 0; i < b.size(); ++i) {
        const uint8_t c = b[i];
        if (c == 0x1B && i + 2 < b.size()) {
            const uint8_t x = b[i + 1], y = b[i + 2];
            if (x == '$' && (y == 'B' || y == '@')) { mode = Jis0208; i += 2; continue; }
            if (x == '(' && (y == 'B' || y == 'J')) { mode = Ascii; i += 2; continue; }
            if (x == '(' && y == 'I') { mode = Katakana; i += 2; continue; }
            if (x == '$' && y == '(' && i + 3 < b.size()) {
                mode = b[i + 3] == 'D' ? Jis0212 : Jis0208;
                i += 3;
                continue;
            }
        }
        if (c == 0x0E) { mode = Katakana; continue; }
        if (c == 0x0F) { mode = Ascii; continue; }
        if (c < 0x21 || c > 0x7E || mode == Ascii) {
            sjis.push_back(c);
            continue;
        }
        if (mode == Katakana) {
            sjis.push_back(c <= 0x5F ? static_cast<uint8_t>(c + 0x80) : kMark);
            continue;
        }
        if (i + 1 >= b.size() || b[i + 1] < 0x21 || b[i + 1] > 0x7E) {
            sjis.push_back(kMark);
            continue;
        }
        const uint8_t j1 = c, j2 = b[++i];
        if (mode == Jis0212) {
            sjis.push_back(kMark);
            continue;
        }
        sjis.push_back(static_cast<uint8_t>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0)));
        sjis.push_back(static_cast<uint8_t>(j2 + ((j1 & 1) ? (j2 < 0x60 ? 0x1F : 0x20) : 0x7E)));
    }
    auto r = decodeCodepage(sjis, 932);
    return r ? std::move(r).value() : std::u16string();
}

// GBK as Windows' code page 936 reads it: GB 18030, whose one- and two-byte
// codes are GBK's (the private-use ones included), with the euro sign at byte
// 0x80, which GB 18030 leaves undefined. The text is cut at those bytes only,
// so that every piece ends on a whole character.
std::u16string decodeGbk(ByteSpan b) {
    const uint32_t cp = isSupportedCodepage(54936) ? 54936 : 936;
    std::u16string out;
    size_t start = 0, i = 0;
    auto flush = [&](size_t end) {
        if (end == start) return;
        if (auto r = decodeCodepage(b.subspan(start, end - start), cp)) out += *r;
    };
    while (i < b.size()) {
        const uint8_t c = b[i];
        if (c == 0x80) {
            flush(i);
            out.push_back(u'\u20AC');
            start = ++i;
        } else if (c < 0x81 || c == 0xFF || i + 1 >= b.size()) {
            ++i;
        } else if (b[i + 1] >= 0x30 && b[i + 1] <= 0x39) {  // four bytes, when whole
            i += i + 3 < b.size() && b[i + 2] >= 0x81 && b[i + 2] <= 0xFE && b[i + 3] >= 0x30 && b[i + 3] <= 0x39 ? 4 : 1;
        } else {
            i += b[i + 1] >= 0x40 && b[i + 1] != 0x7F && b[i + 1] != 0xFF ? 2 : 1;
        }
    }
    flush(b.size());
    return out;
}

// The values of base64 digits (RFC 4648), -1 for other bytes.
constexpr std::array<int8_t, 256> makeBase64Table() {
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(a[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr auto kBase64 = makeBase64Table();

// The same values already in place for each of the four digits of a group
// (shifted by 18, 12, 6 and 0 bits); any other byte has the top bit set, so
// that one test of the four ORed together finds it.
constexpr std::array<std::array<uint32_t, 256>, 4> makeBase64Shifted() {
    std::array<std::array<uint32_t, 256>, 4> t{};
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < 256; ++c)
            t[k][c] = kBase64[c] < 0 ? 0x80000000u : static_cast<uint32_t>(kBase64[c]) << (18 - 6 * k);
    return t;
}
constexpr auto kBase64Shifted = makeBase64Shifted();

// UTF-7 (65000, RFC 2152), decoded here: iconv and Windows' converter
// part ways on damaged text, and Windows' takes no error flag. "+-" is '+';
// "+" starts base64 of UTF-16 units, ended by the first character outside
// base64 (a '-' there is dropped). Bits left over at the end of a run are
// dropped as they are by both; a byte above 0x7F is U+FFFD.
std::u16string decodeUtf7(ByteSpan b) {
    std::u16string out;
    out.reserve(b.size());
    size_t i = 0;
    while (i < b.size()) {
        const uint8_t c = b[i++];
        if (c != '+') {
            out.push_back(c < 0x80 ? char16_t(c) : char16_t(0xFFFD));
            continue;
        }
        if (i < b.size() && b[i] == '-') {
            out.push_back(u'+');
            ++i;
            continue;
        }
        uint32_t bits = 0;
        int count = 0;
        while (i < b.size() && kBase64[b[i]] >= 0) {
            bits = (bits << 6) | static_cast<uint32_t>(kBase64[b[i++]]);
            count += 6;
            if (count >= 16) {
                count -= 16;
                out.push_back(static_cast<char16_t>(bits >> count));
                bits &= (1u << count) - 1;
            }
        }
        if (i < b.size() && b[i] == '-') ++i;
    }
    return out;
}

bool decodedHere(uint32_t cp) {
    return cp == 1201 || cp == 12000 || cp == 12001 || cp == 50220 || cp == 936 || cp == 65000;
}

std::u16string decodeOr(ByteSpan bytes, uint32_t cp) {
    if (cp == kCodepageUtf8) return decodeUtf8(bytes);
    if (cp == 50220) return decodeIso2022Jp(bytes);
    if (cp == 936) return decodeGbk(bytes);
    if (cp == 65000) return decodeUtf7(bytes);
    if (decodedHere(cp)) return decodeWide(bytes, cp);
    auto r = decodeCodepage(bytes, cp);
    if (r) return std::move(r).value();
    // Only a code page the platform cannot convert fails; windows-1252 and
    // UTF-8 always convert.
    auto w = decodeCodepage(bytes, kCodepageWindows1252);
    return w ? std::move(w).value() : std::u16string();
}

}  // namespace

namespace {

// The code page text is read in, and the bytes to read (a byte order mark
// left out), as decodeText chooses them; the findings about the charset
// are told here.
struct TextSource {
    ByteSpan bytes;
    uint32_t codepage = 0;
};

TextSource unlabelledSource(ByteSpan bytes, bool* wasLegacy) {
    if (wasLegacy) *wasLegacy = false;
    if (isAscii(bytes) || isUtf8(bytes)) {
        size_t skip = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
        return {bytes.subspan(skip), kCodepageUtf8};
    }
    if (wasLegacy) *wasLegacy = true;
    return {bytes, kCodepageWindows1252};
}

TextSource textSource(ByteSpan bytes, std::string_view charset, Findings* findings, std::string_view where,
                      uint32_t* codepage) {
    uint32_t cp = codepageOfCharset(charset);
    const std::string name(trimWhitespace(charset));
    if (cp == 1201 || cp == 1200 || cp == 12001 || cp == 12000) {
        // A byte order mark decides, and is not part of the text.
        if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE && (cp == 1201 || cp == 1200)) {
            bytes = bytes.subspan(2);
            cp = 1200;
        } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF && (cp == 1201 || cp == 1200)) {
            bytes = bytes.subspan(2);
            cp = 1201;
        }
    }
    if (cp == kCodepageAscii && !isAscii(bytes)) cp = 0;  // 8-bit text labelled ASCII: as unlabelled
    if (cp != 0 && (decodedHere(cp) || isSupportedCodepage(cp))) {
        if (codepage) *codepage = cp;
        if (cp == kCodepageUtf8 && bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
            bytes = bytes.subspan(3);
        return {bytes, cp};
    }
    bool legacy = false;
    const TextSource source = unlabelledSource(bytes, &legacy);
    if (codepage) *codepage = legacy ? kCodepageWindows1252 : kCodepageUtf8;
    if (findings) {
        const char* as = legacy ? "windows-1252" : "UTF-8";
        if (!name.empty() && lowerAscii(name) != "us-ascii" && codepageOfCharset(name) != kCodepageAscii)
            findings->add(std::string(where) + ": unknown charset \"" + name.substr(0, 40) + "\", read as " + as);
        else if (legacy)
            findings->add(std::string(where) + ": 8-bit text without a charset, read as windows-1252");
    }
    return source;
}

void decodeOrLe(const TextSource& source, Bytes& out) {
    if (source.codepage == kCodepageUtf8) {
        decodeUtf8Le(source.bytes, out);
        return;
    }
    const std::u16string text = decodeOr(source.bytes, source.codepage);
    out.resize(2 * text.size());
    for (size_t i = 0; i < text.size(); ++i) storeLE16(out.data() + 2 * i, text[i]);
}

}  // namespace

std::u16string decodeUnlabelled(ByteSpan bytes, bool* wasLegacy) {
    const TextSource source = unlabelledSource(bytes, wasLegacy);
    return decodeOr(source.bytes, source.codepage);
}

void decodeUnlabelledLe(ByteSpan bytes, Bytes& out) { decodeOrLe(unlabelledSource(bytes, nullptr), out); }

std::u16string decodeText(ByteSpan bytes, std::string_view charset, Findings* findings, std::string_view where,
                          uint32_t* codepage) {
    const TextSource source = textSource(bytes, charset, findings, where, codepage);
    return decodeOr(source.bytes, source.codepage);
}

void decodeTextLe(ByteSpan bytes, std::string_view charset, Findings* findings, std::string_view where,
                  uint32_t* codepage, Bytes& out) {
    decodeOrLe(textSource(bytes, charset, findings, where, codepage), out);
}

// ---- transfer encodings ----

namespace {

int hexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

namespace {

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_BASE64_AVX2 1
// Base64 digits 32 at a time where the CPU has AVX2: whole blocks of
// digits only (a block with padding, a space, a line end or any other
// byte is left to the caller), each the same 24 bytes as its eight groups.
// The number of digits read is returned; three bytes per four are written.
// A byte is a digit when the bits its low nibble allows among high nibbles
// 2 to 7 hold that of its high nibble: '+' and '/' under 2, '0'-'9' under
// 3, 'A'-'O' and 'a'-'o' under 4 and 6, 'P'-'Z' and 'p'-'z' under 5 and 7.
// Its value is the byte plus an offset chosen by the high nibble, and for
// '/' by the nibble below (W. Mula, "Base64 decoding with SIMD").
__attribute__((target("avx2"))) size_t decodeBase64Avx2(const uint8_t* p, size_t n, uint8_t* o) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i lowBits = _mm256_setr_epi8(0x0A, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0C, 0x05,
                                             0x04, 0x04, 0x04, 0x05, 0x0A, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E,
                                             0x0E, 0x0E, 0x0C, 0x05, 0x04, 0x04, 0x04, 0x05);
    const __m256i highBits = _mm256_setr_epi8(0, 0, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                              0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                             -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i slash = _mm256_set1_epi8('/');
    const __m256i mergeAb = _mm256_set1_epi32(0x01400140), mergeAbcd = _mm256_set1_epi32(0x00011000);
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4,
                                           10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    size_t i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
        const __m256i allowed = _mm256_and_si256(_mm256_shuffle_epi8(lowBits, _mm256_and_si256(c, nibble)),
                                                 _mm256_shuffle_epi8(highBits, high));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(allowed, _mm256_setzero_si256()))) break;
        const __m256i v = _mm256_add_epi8(
            c, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(high, _mm256_cmpeq_epi8(c, slash))));
        // Four 6-bit values a b c d into one 24-bit a<<18|b<<12|c<<6|d a
        // 32-bit lane, then its three bytes high first, twelve a half.
        const __m256i abcd = _mm256_madd_epi16(_mm256_maddubs_epi16(v, mergeAb), mergeAbcd);
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(abcd, order), lanes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm256_extracti128_si256(packed, 1));
        o += 24;
    }
    return i;
}
#endif

}  // namespace

Bytes decodeBase64(ByteSpan text, bool* bad) {
    // Three bytes at most for every four characters; written through a
    // pointer and cut to size at the end.
    Bytes out(text.size() / 4 * 3 + 3);
    uint8_t* o = out.data();
    const uint8_t* p = text.data();
    const uint8_t* const end = p + text.size();
    uint32_t acc = 0;
    int bits = 0;
    bool broken = false;
    bool padded = false;
#if defined(TAVRIN_BASE64_AVX2)
    const bool avx2 = fs::cpuHasAvx2();
#endif
    while (p < end) {
        if (bits == 0 && !padded) {
            // Whole groups of four digits, the bulk of every line.
#if defined(TAVRIN_BASE64_AVX2)
            if (avx2 && end - p >= 32) {
                const size_t k = decodeBase64Avx2(p, static_cast<size_t>(end - p), o);
                p += k;
                o += k / 4 * 3;
            }
#endif
            while (end - p >= 4) {
                const uint32_t v = kBase64Shifted[0][p[0]] | kBase64Shifted[1][p[1]] | kBase64Shifted[2][p[2]] |
                                   kBase64Shifted[3][p[3]];
                if (v & 0x80000000u) break;
                o[0] = static_cast<uint8_t>(v >> 16);
                o[1] = static_cast<uint8_t>(v >> 8);
                o[2] = static_cast<uint8_t>(v);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        const uint8_t c = *p++;
        const int v = kBase64[c];
        if (v >= 0) {
            // Data after padding: a second encoded piece glued on (some
            // writers join encoded chunks); decoded on from a fresh group.
            if (padded) {
                padded = false;
                acc = 0;
                bits = 0;
            }
            acc = (acc << 6) | static_cast<uint32_t>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                *o++ = static_cast<uint8_t>(acc >> bits);
                acc &= (1u << bits) - 1;
            }
        } else if (c == '=') {
            padded = true;
        } else if (!isSpace(c)) {
            broken = true;
        }
    }
    // Left-over bits: 6 (one character of a group) cannot make a byte; 2 or
    // 4 are the padding of a group that ended early, which is fine.
    if (bits == 6) broken = true;
    if (bad) *bad = broken;
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

Bytes decodeQuotedPrintable(ByteSpan text, bool* bad) {
    // The decoded text is never longer than the encoded one.
    Bytes out(text.size());
    uint8_t* o = out.data();
    bool broken = false;
    const uint8_t* const base = text.data();
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // One line: its content, then its end.
        const void* nl = std::memchr(base + i, '\n', n - i);
        const size_t eol = nl ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - base) : n;
        size_t end = eol;
        if (end > i && text[end - 1] == '\r') --end;
        // Whitespace at the end of a line was added in transport (RFC 2045
        // 6.7 rule 3).
        while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
        bool soft = false;
        size_t k = i;
        while (k < end) {
            // The run up to the next '=' as it stands.
            const void* eq = std::memchr(base + k, '=', end - k);
            const size_t stop = eq ? static_cast<size_t>(static_cast<const uint8_t*>(eq) - base) : end;
            std::memcpy(o, base + k, stop - k);
            o += stop - k;
            k = stop;
            if (k == end) break;
            if (k + 1 == end) {
                soft = true;  // soft line break
                break;
            }
            const int hi = hexValue(text[k + 1]);
            const int lo = k + 2 < end ? hexValue(text[k + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                *o++ = static_cast<uint8_t>(hi * 16 + lo);
                k += 3;
            } else {
                *o++ = '=';  // kept as it stands (RFC 2045 6.7 note 1)
                broken = true;
                ++k;
            }
        }
        if (eol < n && !soft) {
            // The line end as it was (CRLF or LF).
            if (eol > i && text[eol - 1] == '\r') *o++ = '\r';
            *o++ = '\n';
        }
        i = eol + 1;
    }
    if (bad) *bad = broken;
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

Bytes decodeUuencode(ByteSpan text, bool* bad, std::string* name) {
    Bytes out;
    bool broken = false;
    const size_t n = text.size();
    size_t i = 0;
    auto nextLine = [&](size_t& from) {
        size_t eol = from;
        while (eol < n && text[eol] != '\n') ++eol;
        size_t end = eol;
        if (end > from && text[end - 1] == '\r') --end;
        std::string_view line = asView(text.subspan(from, end - from));
        from = eol < n ? eol + 1 : n;
        return line;
    };
    // Find "begin NNN name".
    size_t p = 0;
    bool begun = false;
    while (p < n) {
        std::string_view line = nextLine(p);
        if (line.substr(0, 6) == "begin ") {
            std::string_view rest = line.substr(6);
            const size_t sp = rest.find(' ');
            if (name && sp != std::string_view::npos) *name = std::string(trimWhitespace(rest.substr(sp + 1)));
            begun = true;
            i = p;
            break;
        }
    }
    if (!begun) i = 0;
    bool ended = false;
    while (i < n) {
        std::string_view line = nextLine(i);
        if (line == "end" || line.substr(0, 4) == "end ") {
            ended = true;
            break;
        }
        if (line.empty()) continue;
        const int count = (static_cast<uint8_t>(line[0]) - 0x20) & 0x3F;
        if (count == 0) continue;
        size_t k = 1;
        int produced = 0;
        while (produced < count) {
            uint8_t q[4];
            for (int j = 0; j < 4; ++j) {
                if (k + static_cast<size_t>(j) < line.size()) {
                    q[j] = static_cast<uint8_t>((static_cast<uint8_t>(line[k + static_cast<size_t>(j)]) - 0x20) & 0x3F);
                } else {
                    q[j] = 0;
                    broken = true;
                }
            }
            k += 4;
            const uint8_t b[3] = {static_cast<uint8_t>((q[0] << 2) | (q[1] >> 4)),
                                  static_cast<uint8_t>((q[1] << 4) | (q[2] >> 2)),
                                  static_cast<uint8_t>((q[2] << 6) | q[3])};
            for (int j = 0; j < 3 && produced < count; ++j, ++produced) out.push_back(b[j]);
            if (k > line.size() + 4) break;
        }
    }
    if (begun && !ended) broken = true;
    if (bad) *bad = broken;
    return out;
}

// ---- RFC 2047 ----

namespace {

struct EncodedWord {
    size_t end = 0;  // offset just past "?="
    std::string charset;
    Bytes bytes;  // decoded, still in `charset`
    bool bad = false;
};

// An encoded word "=?charset[*lang]?B|Q?text?=" starting at `at`.
bool parseEncodedWord(std::string_view s, size_t at, EncodedWord& w) {
    if (s.substr(at, 2) != "=?") return false;
    const size_t q1 = s.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 == at + 2 || q1 - at > 80) return false;
    if (q1 + 2 >= s.size() || s[q1 + 2] != '?') return false;
    const char enc = s[q1 + 1];
    if (enc != 'B' && enc != 'b' && enc != 'Q' && enc != 'q') return false;
    const size_t q3 = s.find("?=", q1 + 3);
    if (q3 == std::string_view::npos) return false;
    std::string_view text = s.substr(q1 + 3, q3 - (q1 + 3));
    if (text.find_first_of("\r\n") != std::string_view::npos) return false;
    std::string_view cs = s.substr(at + 2, q1 - (at + 2));
    if (const size_t star = cs.find('*'); star != std::string_view::npos) cs = cs.substr(0, star);  // RFC 2231 language
    w.charset = std::string(cs);
    w.end = q3 + 2;
    if (enc == 'B' || enc == 'b') {
        w.bytes = decodeBase64(asBytes(text), &w.bad);
    } else {
        w.bytes.clear();
        for (size_t k = 0; k < text.size(); ++k) {
            const char c = text[k];
            if (c == '_') {
                w.bytes.push_back(' ');
            } else if (c == '=' && k + 2 < text.size() && hexValue(static_cast<uint8_t>(text[k + 1])) >= 0 &&
                       hexValue(static_cast<uint8_t>(text[k + 2])) >= 0) {
                w.bytes.push_back(static_cast<uint8_t>(hexValue(static_cast<uint8_t>(text[k + 1])) * 16 +
                                                       hexValue(static_cast<uint8_t>(text[k + 2]))));
                k += 2;
            } else {
                if (c == '=') w.bad = true;
                w.bytes.push_back(static_cast<uint8_t>(c));
            }
        }
    }
    return true;
}

}  // namespace

std::u16string decodeHeaderText(ByteSpan value, Findings* findings, std::string_view where) {
    const std::string_view s = trimWhitespace(asView(value));
    std::u16string out;
    // Runs of raw text and of encoded words in one charset.
    std::string pendingCharset;
    Bytes pending;
    bool havePending = false;
    bool lastWasWord = false;
    bool badWord = false;
    bool legacy8bit = false;
    auto flushWords = [&] {
        if (!havePending) return;
        std::u16string words = decodeText(pending, pendingCharset, findings, where);
        if (out.empty()) out = std::move(words);
        else out += words;
        pending.clear();
        havePending = false;
    };
    auto rawText = [&](std::string_view t) {
        if (t.empty()) return;
        bool legacy = false;
        std::u16string raw = decodeUnlabelled(asBytes(t), &legacy);
        if (out.empty()) out = std::move(raw);
        else out += raw;
        legacy8bit = legacy8bit || legacy;
    };
    size_t i = 0;
    size_t textStart = 0;
    while (i < s.size()) {
        if (s[i] == '=' && i + 1 < s.size() && s[i + 1] == '?') {
            EncodedWord w;
            if (parseEncodedWord(s, i, w)) {
                std::string_view between = s.substr(textStart, i - textStart);
                const bool onlySpace = trimWhitespace(between).empty();
                if (!(lastWasWord && onlySpace)) {
                    flushWords();
                    rawText(between);
                }
                badWord = badWord || w.bad;
                if (havePending && lowerAscii(pendingCharset) != lowerAscii(w.charset)) flushWords();
                if (!havePending) {
                    pendingCharset = w.charset;
                    havePending = true;
                }
                pending.insert(pending.end(), w.bytes.begin(), w.bytes.end());
                lastWasWord = true;
                i = w.end;
                textStart = i;
                continue;
            }
        }
        ++i;
    }
    std::string_view tail = s.substr(textStart);
    flushWords();
    rawText(tail);
    if (findings && badWord) findings->add(std::string(where) + ": a damaged encoded word was decoded as far as it goes");
    if (findings && legacy8bit) findings->add(std::string(where) + ": 8-bit bytes that are not UTF-8, read as windows-1252");
    return out;
}

}  // namespace tavrin::store::mime
