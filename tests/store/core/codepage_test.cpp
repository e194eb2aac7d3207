#include "store/core/codepage.h"

#include <gtest/gtest.h>

#include <iostream>
#include <vector>

#include "platform_test_util.h"

namespace tavrin::store {
namespace {

std::u16string dec(std::vector<uint8_t> b, uint32_t cp) {
    auto r = decodeCodepage(b, cp);
    EXPECT_TRUE(r.ok()) << cp << ": " << (r.ok() ? "" : r.error().description);
    return r.ok() ? r.value() : std::u16string();
}
Bytes enc(std::u16string_view s, uint32_t cp) {
    auto r = encodeCodepage(s, cp);
    EXPECT_TRUE(r.ok()) << cp;
    return r.ok() ? r.value() : Bytes();
}

TEST(Codepage, EveryWindowsCodepageOfMailIsSupported) {
    std::vector<uint32_t> required = {874, 932, 936, 949, 950, 1200, 20127, 65001};
    for (uint32_t cp = 1250; cp <= 1258; ++cp) required.push_back(cp);
    for (uint32_t cp : {28591u, 28592u, 28593u, 28594u, 28595u, 28596u, 28597u, 28598u, 28599u, 28603u, 28605u})
        required.push_back(cp);
    for (uint32_t cp : required) EXPECT_TRUE(isSupportedCodepage(cp)) << cp;
}

TEST(Codepage, UnknownCodepageIsAnErrorNotAGuess) {
    for (uint32_t cp : {0u, 1u, 12345u, 28602u /* ISO-8859-12 was never published */, 0xFFFFFFFFu}) {
        EXPECT_FALSE(isSupportedCodepage(cp)) << cp;
        auto d = decodeCodepage(std::vector<uint8_t>{'a'}, cp);
        ASSERT_FALSE(d.ok()) << cp;
        EXPECT_EQ(d.error().number, err::kNoSupport);
        EXPECT_FALSE(encodeCodepage(u"a", cp).ok()) << cp;
    }
}

TEST(Codepage, DecodesSingleAndDoubleByteCodepages) {
    EXPECT_EQ(dec({0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}, 1251), u"Привет");
    EXPECT_EQ(dec({0x80, 'x'}, 1252), u"€x");
    EXPECT_EQ(dec({0xA4}, 28605), u"€");  // ISO-8859-15
    EXPECT_EQ(dec({0xE9}, 28591), u"é");
    EXPECT_EQ(dec({0xC1, 0xF5}, 1253), u"Αυ");
    EXPECT_EQ(dec({0x93, 0xFA, 0x96, 0x7B}, 932), u"日本");
    EXPECT_EQ(dec({0xD6, 0xD0, 0xCE, 0xC4}, 936), u"中文");
    EXPECT_EQ(dec({0xC7, 0xD1, 0xB1, 0xB9}, 949), u"한국");
    EXPECT_EQ(dec({0xA4, 0xA4, 0xA4, 0xE5}, 950), u"中文");
    EXPECT_EQ(dec({0xE4, 0xB8, 0xAD}, 65001), u"中");
    EXPECT_EQ(dec({'h', 0, 'i', 0}, 1200), u"hi");
    EXPECT_EQ(dec({'p', 'l', 'a', 'i', 'n'}, 1251), u"plain");
    EXPECT_EQ(dec({}, 932), u"");
}

TEST(Codepage, InvalidBytesBecomeReplacementCharacters) {
    EXPECT_EQ(dec({'a', 0xFF, 'b'}, 65001), u"a\uFFFDb");
    EXPECT_EQ(dec({'a', 0x80}, 20127), u"a\uFFFD");
    EXPECT_EQ(dec({'a', 0, 'b'}, 1200), u"a\uFFFD");  // odd length
    // A lead byte at the end, and a lead byte with an impossible trail byte.
    EXPECT_EQ(dec({'x', 0x93}, 932), u"x\uFFFD");
    EXPECT_EQ(dec({0x81, 0x20, 'y'}, 932), u"\uFFFD y");
    EXPECT_EQ(dec({0x81, 'z'}, 1252), u"\uFFFDz");  // unassigned in 1252
}

TEST(Codepage, EncodesAndReplacesWhatTheCodepageCannotHold) {
    EXPECT_EQ(enc(u"Привет", 1251), (Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2}));
    EXPECT_EQ(enc(u"日本", 932), (Bytes{0x93, 0xFA, 0x96, 0x7B}));
    EXPECT_EQ(enc(u"aЖb", 1252), (Bytes{'a', '?', 'b'}));
    EXPECT_EQ(enc(u"a\U0001F600b", 1251), (Bytes{'a', '?', 'b'}));  // one character, one '?'
    EXPECT_EQ(enc(u"é€", 28591), (Bytes{0xE9, '?'}));
    EXPECT_EQ(enc(u"é", 20127), (Bytes{'?'}));
    EXPECT_EQ(enc(u"hi", 1200), (Bytes{'h', 0, 'i', 0}));
    EXPECT_EQ(enc(u"中", 65001), (Bytes{0xE4, 0xB8, 0xAD}));
}

TEST(Codepage, StatefulEncodingsRoundTrip) {
    const std::u16string text = u"日本 and ASCII";
    if (tavrin::testing::runningUnderWine() && !isSupportedCodepage(50220)) {
        std::cout << "wine has no ISO-2022-JP (50220) converter; Windows and iconv have\n";
    } else {
        const Bytes jis = enc(text, 50220);
        ASSERT_FALSE(jis.empty());
        EXPECT_EQ(jis.front(), 0x1B);  // starts with an escape sequence
        EXPECT_EQ(dec(jis, 50220), text);
    }
    const Bytes utf7 = enc(u"a+b", 65000);
    EXPECT_EQ(dec(utf7, 65000), u"a+b");
}

TEST(Codepage, LongTextsConvertWhole) {
    std::vector<uint8_t> b;
    for (int i = 0; i < 100000; ++i) {
        b.push_back(0x93);
        b.push_back(0xFA);
    }
    const std::u16string s = dec(b, 932);
    ASSERT_EQ(s.size(), 100000u);
    EXPECT_EQ(s.back(), u'日');
    EXPECT_EQ(enc(s, 932), b);
}

}  // namespace
}  // namespace tavrin::store
