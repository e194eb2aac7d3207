#include "fs/text.h"

#include <bit>
#include <cstdint>

#include "fs/cpu_features.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The code point of the UTF-16 text at s[i] (a surrogate pair joined, an
// unpaired surrogate U+FFFD), advancing i past it.
inline char32_t nextCodePoint(std::u16string_view s, size_t& i) {
    char32_t c = s[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
        if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) return 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
        return kReplacement;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) return kReplacement;
    return c;
}

// The number of ASCII units at the start of `in`.
size_t asciiUnits(const char16_t* in, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; n - i >= 8; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(a, high), _mm_setzero_si128())) != 0xFFFF) break;
    }
#endif
    while (i < n && in[i] < 0x80) ++i;
    return i;
}

// The same two over UTF-16LE units given as bytes (2 * n of them).
inline char16_t unitLe(const unsigned char* in, size_t i) {
    return static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8));
}

size_t asciiUnitsLe(const unsigned char* in, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    // SSE2 lanes are little-endian: a 16-bit lane is the unit itself. The
    // mask has two bits a unit, clear from the first unit past ASCII.
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; n - i >= 8; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(a, high), _mm_setzero_si128())));
        if (m != 0xFFFF) return i + std::countr_zero(~m) / 2;
    }
#endif
    while (i < n && unitLe(in, i) < 0x80) ++i;
    return i;
}

size_t narrowAsciiLe(const unsigned char* in, size_t n, unsigned char* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; n - i >= 16; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
        // Written whole: the bytes from the first unit past ASCII on are
        // written again later (the output has a byte or more a unit).
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
        const unsigned m =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(a, high), _mm_setzero_si128()))) |
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(b, high), _mm_setzero_si128()))) << 16;
        if (m != 0xFFFFFFFFu) return i + std::countr_zero(~m) / 2;
    }
#endif
    for (; i < n && unitLe(in, i) < 0x80; ++i) out[i] = in[2 * i];
    return i;
}

// A code point of two bytes or more (U+0080 up) in UTF-8 at `o`; the
// byte after it.
inline unsigned char* putUtf8(char32_t cp, unsigned char* o) {
    if (cp < 0x800) {
        *o++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
    } else {
        if (cp < 0x10000) {
            *o++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
        } else {
            *o++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
            *o++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        }
        *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return o;
}

}  // namespace

size_t widenAscii(const char* in, size_t n, char16_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; n - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
        // The units from the first 8-bit byte on are written but not counted.
        if (const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v))) return i + std::countr_zero(high);
    }
#endif
    for (; i < n && static_cast<unsigned char>(in[i]) < 0x80; ++i) out[i] = static_cast<char16_t>(in[i]);
    return i;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_TEXT_AVX2 1
namespace {
// widenAsciiLe's 32 bytes a step where the CPU has AVX2.
__attribute__((target("avx2"))) size_t widenAsciiLeAvx2(const char* in, size_t n, unsigned char* out) {
    size_t i = 0;
    for (; n - i >= 32; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i + 32),
                            _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
        if (const unsigned high = static_cast<unsigned>(_mm256_movemask_epi8(v))) return i + std::countr_zero(high);
    }
    return i;
}
}  // namespace
#endif

size_t widenAsciiLe(const char* in, size_t n, unsigned char* out) {
    size_t i = 0;
#if defined(TAVRIN_TEXT_AVX2)
    if (fs::cpuHasAvx2()) {
        i = widenAsciiLeAvx2(in, n, out);
        if (n - i >= 32) return i;  // stopped at an 8-bit byte
    }
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; n - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(v, zero));
        if (const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v))) return i + std::countr_zero(high);
    }
#endif
    for (; i < n && static_cast<unsigned char>(in[i]) < 0x80; ++i) {
        out[2 * i] = static_cast<unsigned char>(in[i]);
        out[2 * i + 1] = 0;
    }
    return i;
}

size_t narrowAscii(const char16_t* in, size_t n, char* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; n - i >= 16; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(_mm_or_si128(a, b), high), _mm_setzero_si128())) != 0xFFFF)
            break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < n && in[i] < 0x80; ++i) out[i] = static_cast<char>(in[i]);
    return i;
}

bool hasUnpairedSurrogate(std::u16string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    for (;;) {
        // Most texts hold no surrogate at all: skipped eight units at a time.
#if defined(__SSE2__)
        const __m128i mask = _mm_set1_epi16(static_cast<short>(0xF800));
        const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
        for (; n - i >= 8; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.data() + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, mask), surrogate)) != 0) break;
        }
#endif
        while (i < n && (s[i] & 0xF800) != 0xD800) ++i;
        if (i == n) return false;
        if (s[i] > 0xDBFF || i + 1 == n || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return true;
        i += 2;
    }
}

// Both directions size their output first and write it through a pointer:
// bodies of many kilobytes pass through here, mostly ASCII.
std::string toUtf8(std::u16string_view s) {
    const size_t n = s.size();
    size_t bytes = n;
    for (size_t i = 0; i < n;) {
        if (s[i] < 0x80) {
            i += asciiUnits(s.data() + i, n - i);
            continue;
        }
        const char16_t c = s[i++];
        if (c < 0x800) {
            bytes += 1;
            continue;
        }
        // Three bytes, or four for a surrogate pair (two units).
        bytes += 2;
        if (c >= 0xD800 && c <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) ++i;
    }
    std::string out(bytes, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            const size_t k = narrowAscii(s.data() + i, n - i, reinterpret_cast<char*>(o));
            o += k;
            i += k;
            continue;
        }
        o = putUtf8(nextCodePoint(s, i), o);
    }
    return out;
}

bool utf16LeToUtf8(const unsigned char* in, size_t n, std::vector<unsigned char>& out) {
    size_t bytes = n;
    for (size_t i = 0; i < n;) {
        const char16_t c = unitLe(in, i);
        if (c < 0x80) {
            i += asciiUnitsLe(in + 2 * i, n - i);
            continue;
        }
        ++i;
        if (c < 0x800) {
            bytes += 1;
            continue;
        }
        // Three bytes, or four for a surrogate pair (two units).
        bytes += 2;
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || i == n || unitLe(in, i) < 0xDC00 || unitLe(in, i) > 0xDFFF) return false;
            ++i;
        }
    }
    std::vector<unsigned char> r(bytes);
    unsigned char* o = r.data();
    for (size_t i = 0; i < n;) {
        char32_t cp = unitLe(in, i);
        if (cp < 0x80) {
            const size_t k = narrowAsciiLe(in + 2 * i, n - i, o);
            o += k;
            i += k;
            continue;
        }
        ++i;
        // Every surrogate is the first of a pair: checked above.
        if (cp >= 0xD800 && cp <= 0xDBFF) cp = 0x10000 + ((cp - 0xD800) << 10) + (unitLe(in, i++) - 0xDC00);
        o = putUtf8(cp, o);
    }
    out = std::move(r);
    return true;
}

namespace {

// Runs of ASCII and single units, into UTF-16 units (char16_t) or their
// UTF-16LE bytes; each returns where the next one goes.
char16_t* widenRun(const char* in, size_t n, char16_t* o, size_t& taken) {
    taken = widenAscii(in, n, o);
    return o + taken;
}
unsigned char* widenRun(const char* in, size_t n, unsigned char* o, size_t& taken) {
    taken = widenAsciiLe(in, n, o);
    return o + 2 * taken;
}
char16_t* putUnit(char16_t* o, uint32_t unit) {
    *o = static_cast<char16_t>(unit);
    return o + 1;
}
unsigned char* putUnit(unsigned char* o, uint32_t unit) {
    o[0] = static_cast<unsigned char>(unit);
    o[1] = static_cast<unsigned char>(unit >> 8);
    return o + 2;
}

// UTF-8 into UTF-16 at `o`, which has room for one unit a byte of `s`;
// returns the end of what was written.
template <typename Out>
Out* utf8ToUtf16(std::string_view s, Out* o) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            size_t k = 0;
            o = widenRun(s.data() + i, n - i, o, k);
            i += k;
            continue;
        }
        const char32_t cp = decodeUtf8(s, i);
        if (cp < 0x10000) {
            o = putUnit(o, cp);
        } else {
            o = putUnit(o, firstUnit(cp));
            o = putUnit(o, secondUnit(cp));
        }
    }
    return o;
}

}  // namespace

std::u16string toUtf16(std::string_view s) {
    // At most one UTF-16 unit per byte; cut to size at the end.
    std::u16string out(s.size(), u'\0');
    out.resize(static_cast<size_t>(utf8ToUtf16(s, out.data()) - out.data()));
    return out;
}

void appendUtf16Le(std::string_view s, std::vector<unsigned char>& out) {
    // At most one unit (two bytes) per byte; cut to size at the end.
    const size_t start = out.size();
    out.resize(start + 2 * s.size());
    out.resize(static_cast<size_t>(utf8ToUtf16(s, out.data() + start) - out.data()));
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
