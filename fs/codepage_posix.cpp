// iconv behind the code page seam (POSIX builds); see fs/codepage_platform.h.
#ifndef _WIN32

#include <errno.h>
#include <iconv.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fs/codepage_platform.h"

namespace tavrin::fs {
namespace {

uint16_t loadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void storeLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// The iconv name of a Windows code page, or null.
const char* iconvName(uint32_t cp, char* buf, size_t len) {
    switch (cp) {
        case 874: case 932: case 936: case 949: case 950: case 1361:
        case 437: case 737: case 775: case 850: case 852: case 855: case 857: case 858:
        case 860: case 861: case 862: case 863: case 864: case 865: case 866: case 869:
            std::snprintf(buf, len, "CP%u", cp);
            return buf;
        case 1201: return "UTF-16BE";
        case 12000: return "UTF-32LE";
        case 12001: return "UTF-32BE";
        case 10000: return "MACINTOSH";
        case 10007: return "MAC-CYRILLIC";
        case 20866: return "KOI8-R";
        case 21866: return "KOI8-U";
        case 20932: case 51932: return "EUC-JP";
        case 50220: case 50221: case 50222: return "ISO-2022-JP";
        case 50225: return "ISO-2022-KR";
        case 51936: return "EUC-CN";
        case 51949: return "EUC-KR";
        case 54936: return "GB18030";
        case 65000: return "UTF-7";
        case 38598: return "ISO-8859-8";  // logical-order Hebrew: same bytes as 28598
        case 28603: return "ISO-8859-13";
        case 28604: return "ISO-8859-14";
        case 28605: return "ISO-8859-15";
        case 28606: return "ISO-8859-16";
        default: break;
    }
    if (cp >= 1250 && cp <= 1258) {
        std::snprintf(buf, len, "CP%u", cp);
        return buf;
    }
    if (cp >= 28591 && cp <= 28601) {  // ISO-8859-1 .. ISO-8859-11 (28602, part 12, was never published)
        std::snprintf(buf, len, "ISO-8859-%u", cp - 28590);
        return buf;
    }
    return nullptr;
}

// Converters are opened once per thread and code page and direction (an
// iconv descriptor must not be used by two threads at once).
struct Converter {
    uint32_t codepage;
    bool decode;
    iconv_t cd;
};

struct ConverterCache {
    std::vector<Converter> items;
    ~ConverterCache() {
        for (auto& c : items)
            if (c.cd != reinterpret_cast<iconv_t>(-1)) iconv_close(c.cd);
    }
    // An open descriptor, or (iconv_t)-1 when iconv cannot convert this code page.
    iconv_t get(uint32_t cp, bool decode) {
        for (auto& c : items)
            if (c.codepage == cp && c.decode == decode) return c.cd;
        char buf[24];
        const char* name = iconvName(cp, buf, sizeof buf);
        iconv_t cd = reinterpret_cast<iconv_t>(-1);
        if (name) cd = decode ? iconv_open("UTF-16LE", name) : iconv_open(name, "UTF-16LE");
        items.push_back({cp, decode, cd});
        return cd;
    }
};

ConverterCache& cache() {
    thread_local ConverterCache c;
    return c;
}

// Runs iconv over `in`, growing `out` as needed. On an invalid or
// unconvertible input sequence `onBad` appends a substitute and returns how
// many input bytes to skip.
template <class OnBad>
void runIconv(iconv_t cd, std::span<const uint8_t> in, std::vector<uint8_t>& out, OnBad onBad) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial shift state
    char* src = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    size_t srcLeft = in.size();
    size_t used = 0;
    out.resize(in.size() * 2 + 16);
    bool flushing = false;
    for (;;) {
        char* dst = reinterpret_cast<char*>(out.data() + used);
        size_t dstLeft = out.size() - used;
        const size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                  : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        used = out.size() - dstLeft;
        if (r != static_cast<size_t>(-1)) {
            if (flushing) break;
            flushing = true;  // emit what a stateful converter still holds
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2 + 16);
            continue;
        }
        if (flushing) break;
        // EILSEQ (invalid or unconvertible) or EINVAL (incomplete at the end).
        out.resize(used);
        const size_t skip = onBad(out, reinterpret_cast<const uint8_t*>(src), srcLeft, errno == EINVAL);
        used = out.size();
        if (skip >= srcLeft) {
            srcLeft = 0;
        } else {
            src += skip;
            srcLeft -= skip;
        }
        out.resize(used + srcLeft * 2 + 16);
    }
    out.resize(used);
}

}  // namespace

bool SystemSupportsCodepage(uint32_t codepage) {
    return cache().get(codepage, true) != reinterpret_cast<iconv_t>(-1) &&
           cache().get(codepage, false) != reinterpret_cast<iconv_t>(-1);
}

std::u16string SystemDecode(std::span<const uint8_t> bytes, uint32_t codepage) {
    iconv_t cd = cache().get(codepage, true);
    std::vector<uint8_t> out;
    runIconv(cd, bytes, out, [](std::vector<uint8_t>& o, const uint8_t*, size_t, bool) {
        o.push_back(0xFD);  // U+FFFD, little-endian
        o.push_back(0xFF);
        return size_t(1);
    });
    std::u16string s(out.size() / 2, u'\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(loadLE16(out.data() + 2 * i));
    return s;
}

std::vector<uint8_t> SystemEncode(std::u16string_view text, uint32_t codepage) {
    iconv_t cd = cache().get(codepage, false);
    std::vector<uint8_t> in(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) storeLE16(in.data() + 2 * i, text[i]);
    std::vector<uint8_t> out;
    runIconv(cd, in, out, [](std::vector<uint8_t>& o, const uint8_t* at, size_t left, bool) {
        o.push_back('?');
        // A whole surrogate pair stands for one character.
        if (left >= 4) {
            const uint16_t hi = loadLE16(at), lo = loadLE16(at + 2);
            if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) return size_t(4);
        }
        return size_t(2);
    });
    return out;
}

}  // namespace tavrin::fs

#endif  // !_WIN32
