// Charsets, transfer encodings and RFC 2047 words, case by case.
#include "store/mime/mime_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fs/text.h"
#include "store/core/codepage.h"

namespace tavrin::store::mime {
namespace {

std::string utf8(const std::u16string& s) { return text::toUtf8(s); }
std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(MimeText, CharsetNames) {
    const struct {
        const char* name;
        uint32_t codepage;
    } cases[] = {
        {"utf-8", 65001}, {"UTF8", 65001}, {" \"utf-8\" ", 65001}, {"us-ascii", 20127},
        {"iso-8859-1", 1252}, {"ISO_8859-1:1987", 1252}, {"latin1", 1252}, {"iso-8859-2", 28592},
        {"iso8859-15", 28605}, {"iso-8859-9", 1254}, {"iso-8859-8-i", 28598}, {"windows-1251", 1251},
        {"cp1250", 1250}, {"x-cp1253", 1253}, {"koi8-r", 20866}, {"Shift_JIS", 932}, {"iso-2022-jp", 50220},
        {"euc-kr", 949}, {"ks_c_5601-1987", 949}, {"big5", 950}, {"utf-7", 65000}, {"utf-16", 1201},
        {"utf-16le", 1200}, {"tis-620", 874}, {"x-unknown", 0}, {"", 0}, {"iso-8859-12", 0},
        {"gb2312", 936}, {"GBK", 936}, {"euc-cn", 936},
    };
    for (const auto& c : cases) EXPECT_EQ(codepageOfCharset(c.name), c.codepage) << c.name;
}

TEST(MimeText, DecodeTextByCharset) {
    const struct {
        std::string bytes;
        const char* charset;
        const char* text;
        bool finding;
    } cases[] = {
        {"caf\xC3\xA9", "utf-8", "caf\xC3\xA9", false},
        {"abcdefgh\xE0\x80zabcdefgh\xC3\xA9", "utf-8", "abcdefgh\xEF\xBF\xBD\xEF\xBF\xBDzabcdefgh\xC3\xA9", false},
        {"caf\xE9", "iso-8859-1", "caf\xC3\xA9", false},
        {"\x93q\x94", "iso-8859-1", "\xE2\x80\x9Cq\xE2\x80\x9D", false},  // 1252's quotes
        {"\xC0\xEB", "windows-1251", "\xD0\x90\xD0\xBB", false},
        {"caf\xC3\xA9", "", "caf\xC3\xA9", false},            // unlabelled, valid UTF-8
        {"caf\xE9", "", "caf\xC3\xA9", true},                 // unlabelled, not UTF-8: windows-1252
        {"caf\xE9", "x-klingon", "caf\xC3\xA9", true},        // unknown charset
        {"plain", "x-klingon", "plain", true},
        {"caf\xE9", "us-ascii", "caf\xC3\xA9", true},         // 8-bit text labelled ASCII
        {"\xEF\xBB\xBFhi", "utf-8", "hi", false},             // byte order mark
        {std::string("\xFF\xFEh\0i\0", 6), "utf-16", "hi", false},  // BOM decides the byte order
        {std::string("\0h\0i", 4), "utf-16", "hi", false},     // no BOM: big-endian
        {"a\xE3\x81z", "utf-8", "a\xEF\xBF\xBDz", false},      // one U+FFFD for a cut sequence
        // ISO-2022-JP through 932, alike on both platforms: the wave dash
        // is U+FF5E, half-width katakana and JIS X 0212 (U+FFFD) included.
        {"a\x1B$B\x24\x22\x21\x41\x1B(Bb\x1B(I\x31\x1B(B\x1B$(D\x30\x21\x1B(B", "iso-2022-jp",
         "a\xE3\x81\x82\xEF\xBD\x9E" "b\xEF\xBD\xB1\xEF\xBF\xBD", false},
        {std::string("\0\0\0h\0\x01\xF6\x00", 8), "utf-32be", "h\xF0\x9F\x98\x80", false},
        {"a\xFF\xFEz", "utf-8", "a\xEF\xBF\xBD\xEF\xBF\xBDz", false},
        // GBK as Windows reads it: 0x80 alone is the euro sign, as a trail
        // byte part of a character; GB 18030's four-byte codes kept where
        // the system has GB 18030 (wine has not).
        {"\x80\x81\x80\xB0\xA1", "gb2312", "\xE2\x82\xAC\xE4\xBA\x90\xE5\x95\x8A", false},
        // UTF-7, alike on both platforms: "+-", a run ended by '-' or by any
        // other character, a surrogate pair, and damage (an 8-bit byte,
        // bits left over, a '+' at the end) decoded as far as it goes.
        {"Fr+APY-sche +-1 +APw.", "utf-7", "Fr\xC3\xB6sche +1 \xC3\xBC.", false},
        {"+2D3eAA-x", "unicode-1-1-utf-7", "\xF0\x9F\x98\x80x", false},
        {"a+\xE9" "b+AP-c+", "x-unicode-2-0-utf-7", "a\xEF\xBF\xBD" "bc", false},
        {"\x81\x30\x81\x30", "gb2312", isSupportedCodepage(54936) ? "\xC2\x80" : "\xEF\xBF\xBD" "0" "\xEF\xBF\xBD" "0", false},
    };
    for (const auto& c : cases) {
        Findings f;
        EXPECT_EQ(utf8(decodeText(asBytes(c.bytes), c.charset, &f, "x")), c.text) << c.charset << " " << c.bytes;
        EXPECT_EQ(!f.empty(), c.finding) << c.charset << " " << c.bytes;
    }
}

TEST(MimeText, Base64) {
    const struct {
        const char* in;
        const char* out;
        bool bad;
    } cases[] = {
        {"aGVsbG8=", "hello", false}, {"aGVs\r\nbG8=\r\n", "hello", false}, {"aGVsbG8", "hello", false},
        {"aGVsbA==", "hell", false},  {"aGVs*bG8=", "hello", true},        {"aGVsb", "hel", true},
        {"aGk=aGk=", "hihi", false},  {"", "", false},
        {"aGVsbG8gd29y\r\nbGQ=", "hello world", false}, {"aGVsbG8g*d29y", "hello wor", true},
        {"aG Vs bG8g d29y", "hello wor", false},
    };
    for (const auto& c : cases) {
        bool bad = false;
        EXPECT_EQ(str(decodeBase64(asBytes(c.in), &bad)), c.out) << c.in;
        EXPECT_EQ(bad, c.bad) << c.in;
    }
}

// Long runs, read many digits at a time: every byte value, any line length,
// and a stray byte anywhere (skipped, and told unless it is a space).
TEST(MimeText, Base64LongRuns) {
    const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string data, run;
    for (int i = 0; i < 3 * 256; ++i) data.push_back(static_cast<char>(i * 7 % 256));
    for (size_t i = 0; i < data.size(); i += 3) {
        const uint32_t v = uint8_t(data[i]) << 16 | uint8_t(data[i + 1]) << 8 | uint8_t(data[i + 2]);
        for (int k = 18; k >= 0; k -= 6) run.push_back(digits[(v >> k) & 63]);
    }
    for (size_t line : {size_t(0), size_t(76), size_t(64), size_t(33)}) {
        std::string in;
        for (size_t i = 0; i < run.size(); ++i) in += (line && i && i % line == 0 ? "\r\n" : "") + std::string(1, run[i]);
        bool bad = true;
        EXPECT_EQ(str(decodeBase64(asBytes(in), &bad)), data) << line;
        EXPECT_FALSE(bad);
    }
    for (int b = 0; b < 256; ++b) {
        const char stray = static_cast<char>(b);
        if (b == '=' || std::strchr(digits, b)) continue;
        for (size_t at = b % 7; at < 70; at += 7) {
            bool bad = false;
            EXPECT_EQ(str(decodeBase64(asBytes(run.substr(0, at) + stray + run.substr(at)), &bad)), data) << b << " " << at;
            EXPECT_EQ(bad, !std::strchr(" \t\r\n", b)) << b;
        }
    }
}

TEST(MimeText, QuotedPrintable) {
    const struct {
        const char* in;
        const char* out;
        bool bad;
    } cases[] = {
        {"caf=C3=A9", "caf\xC3\xA9", false},
        {"soft=\r\nbreak", "softbreak", false},
        {"soft=  \nbreak", "softbreak", false},           // spaces after the '='
        {"trail   \r\nnext", "trail\r\nnext", false},     // transport padding goes
        {"a=3db", "a=b", false},                          // lower-case hex
        {"a=zzb", "a=zzb", true},                         // kept as it stands
        {"end=", "end", false},
        {"x=4", "x=4", true},
        {"a=\nb=C3=\r\n=A9 \n=", "ab\xC3\xA9\n", false},  // escapes split by soft breaks
    };
    for (const auto& c : cases) {
        bool bad = false;
        EXPECT_EQ(str(decodeQuotedPrintable(asBytes(c.in), &bad)), c.out) << c.in;
        EXPECT_EQ(bad, c.bad) << c.in;
    }
}

TEST(MimeText, Uuencode) {
    bool bad = true;
    std::string name;
    EXPECT_EQ(str(decodeUuencode(asBytes("begin 644 hi.txt\r\n%:&5L;&\\`\r\n`\r\nend\r\n"), &bad, &name)), "hello");
    EXPECT_FALSE(bad);
    EXPECT_EQ(name, "hi.txt");
    EXPECT_EQ(str(decodeUuencode(asBytes("begin 644 x\n%:&5L;&\\`\n"), &bad)), "hello");
    EXPECT_TRUE(bad);  // no "end"
}

TEST(MimeText, EncodedWords) {
    const struct {
        const char* in;
        const char* out;
        bool finding;
    } cases[] = {
        {"=?utf-8?Q?caf=C3=A9?=", "caf\xC3\xA9", false},
        {"=?ISO-8859-1?q?a_b?=", "a b", false},
        {"=?utf-8?B?Y2Fmw6k=?=", "caf\xC3\xA9", false},
        {"=?utf-8?Q?a?= =?utf-8?Q?b?=", "ab", false},               // space between words goes
        {"=?utf-8?Q?a?=\t =?utf-8?Q?b?= c", "ab c", false},
        {"x =?utf-8?Q?a?= y", "x a y", false},
        {"=?utf-8?B?ww==?= =?utf-8?B?qQ==?=", "\xC3\xA9", false},   // a character split over two words
        {"=?utf-8*en?Q?hi?=", "hi", false},                          // RFC 2231 language
        {"=?windows-1251?B?wOv04OLo8go=?=", "\xD0\x90\xD0\xBB\xD1\x84\xD0\xB0\xD0\xB2\xD0\xB8\xD1\x82\n", false},
        {"  padded  ", "padded", false},
        {"=?bogus", "=?bogus", false},
        {"=?x-none?Q?abc?=", "abc", true},                           // unknown charset
        {"caf\xE9", "caf\xC3\xA9", true},                            // raw 8-bit, not UTF-8
        {"caf\xC3\xA9", "caf\xC3\xA9", false},                       // raw UTF-8
        {"=?utf-8?B?Y*2Fm?=", "caf", true},                          // damaged word
        {"=?utf-7?Q?Fr+APY-sche_=28x=29?=", "Fr\xC3\xB6sche (x)", false},
    };
    for (const auto& c : cases) {
        Findings f;
        EXPECT_EQ(utf8(decodeHeaderText(asBytes(c.in), &f, "Subject")), c.out) << c.in;
        EXPECT_EQ(!f.empty(), c.finding) << c.in;
    }
}

TEST(MimeText, FindingsAreKeptOnceAndCapped) {
    Findings f;
    f.add("same");
    f.add("same");
    for (size_t i = 0; i < Findings::kMax + 5; ++i) f.add("n" + std::to_string(i));
    auto lines = f.take();
    EXPECT_EQ(lines.front(), "same");
    EXPECT_EQ(lines.size(), Findings::kMax + 1);
    EXPECT_EQ(lines.back(), "and 6 more findings");
}

}  // namespace
}  // namespace tavrin::store::mime
