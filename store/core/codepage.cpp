#include "store/core/codepage.h"

#include <string>

#include "fs/codepage_platform.h"
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
            return fs::SystemSupportsCodepage(codepage);
    }
}

uint32_t ansiCodepageForLcid(uint32_t lcid) {
    const uint32_t primary = lcid & 0x3FF;
    const uint32_t sub = (lcid >> 10) & 0x3F;
    switch (primary) {
        case 0x00: return 0;  // neutral or none
        case 0x05: case 0x0E: case 0x15: case 0x18: case 0x1B: case 0x1C: case 0x24: return 1250;
        case 0x1A:  // Croatian, Bosnian and Serbian: Latin 1250, Cyrillic 1251
            return (sub == 0x03 || sub == 0x07 || sub == 0x0A || sub == 0x0C) ? 1251 : 1250;
        case 0x02: case 0x19: case 0x22: case 0x23: case 0x2F: case 0x3F: case 0x40: case 0x44: case 0x50:
        case 0x28 /* Tajik */: case 0x6D /* Bashkir */: case 0x85 /* Sakha */:
            return 1251;
        case 0x08: return 1253;
        case 0x1F: case 0x42 /* Turkmen */: return 1254;
        case 0x2C: return sub == 0x02 ? 1251 : 1254;  // Azerbaijani Cyrillic / Latin
        case 0x43: return sub == 0x02 ? 1251 : 1254;  // Uzbek Cyrillic / Latin
        case 0x0D: return 1255;
        case 0x01: case 0x29: case 0x20: case 0x8C /* Dari */: case 0x92 /* Kurdish */: return 1256;
        case 0x25: case 0x26: case 0x27: return 1257;
        case 0x2A: return 1258;
        case 0x1E: return 874;
        case 0x11: return 932;
        case 0x04: return (sub == 0x02 || sub == 0x04) ? 936 : 950;  // PRC, Singapore / Taiwan, Hong Kong, Macao
        case 0x12: return 949;
        // Scripts without an ANSI code page (Indic, Georgian, Armenian, ...).
        case 0x2B: case 0x37: case 0x39: case 0x45: case 0x46: case 0x47: case 0x48: case 0x49: case 0x4A:
        case 0x4B: case 0x4C: case 0x4D: case 0x4E: case 0x4F: case 0x57: case 0x5A: case 0x65:
            return 0;
        default: return 1252;
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
    if (!fs::SystemSupportsCodepage(codepage))
        return Error(err::kNoSupport, "code page " + std::to_string(codepage) + " is not supported");
    if (asciiTransparent(codepage) && allAscii(bytes)) return widenAscii(bytes);
    return fs::SystemDecode(bytes, codepage);
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
            const auto* b = reinterpret_cast<const uint8_t*>(s.data());
            return Bytes(b, b + s.size());
        }
        case kCodepageAscii:
            return encodeLow(text, 0x80);
        case kCodepageLatin1:
            return encodeLow(text, 0x100);
        default:
            break;
    }
    if (!fs::SystemSupportsCodepage(codepage))
        return Error(err::kNoSupport, "code page " + std::to_string(codepage) + " is not supported");
    if (asciiTransparent(codepage)) {
        bool ascii = true;
        for (char16_t c : text) ascii = ascii && c < 0x80;
        if (ascii) return encodeLow(text, 0x80);
    }
    return fs::SystemEncode(text, codepage);
}

}  // namespace tavrin::store
