#include "fs/text.h"

#include <gtest/gtest.h>

namespace tavrin::text {
namespace {

TEST(Text, RoundTripsUtf8AndUtf16IncludingSupplementaryPlanes) {
    const std::string s = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";  // A, e-acute, a CJK ideograph, an emoji
    const std::u16string u = toUtf16(s);
    ASSERT_EQ(u.size(), 5u);
    EXPECT_EQ(u[3], 0xD83D);
    EXPECT_EQ(toUtf8(u), s);
}

TEST(Text, InvalidInputBecomesReplacementCharacters) {
    EXPECT_EQ(toUtf16("\xFF"), std::u16string(1, u'\xFFFD'));
    EXPECT_EQ(toUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

TEST(Text, LongTextsConvertWhateverFallsBetweenRunsOfAscii) {
    const struct {
        const char* utf8;
        const char16_t* utf16;
    } cases[] = {
        {"abcdefghabcdefghijklmnop\xC3\xA9" "abcdefghx", u"abcdefghabcdefghijklmnop\u00E9abcdefghx"},
        {"abcdefghijklmnop\xFF" "abcdefgh", u"abcdefghijklmnop\uFFFDabcdefgh"},
        {"abcdefg\xE4\xB8\xAD" "abcdefghijklmnopq", u"abcdefg\u4E2Dabcdefghijklmnopq"},
        {"abcdefghijklmnopq\xF0\x9F\x98\x80" "abcdefgh", u"abcdefghijklmnopq\U0001F600abcdefgh"},
        {"abcdefghijklmnopq\xE4\xB8", u"abcdefghijklmnopq\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.utf8;
        // The same units as UTF-16LE bytes, after what `out` held.
        std::vector<unsigned char> le{'>'}, want{'>'};
        appendUtf16Le(c.utf8, le);
        for (char16_t u : std::u16string_view(c.utf16)) want.insert(want.end(), {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8)});
        EXPECT_EQ(le, want) << c.utf8;
        if (std::u16string_view(c.utf16).find(u'\uFFFD') == std::u16string_view::npos) {
            EXPECT_EQ(toUtf8(c.utf16), c.utf8);
        }
    }
    // Unpaired surrogates between runs of ASCII.
    const char16_t lone[] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 0xDC00, 'e', 0xD800};
    EXPECT_EQ(toUtf8(std::u16string_view(lone, 20)), "abcdefghijklmnopq\xEF\xBF\xBD" "e\xEF\xBF\xBD");
}

TEST(Text, UnpairedSurrogatesAreFoundAnywhere) {
    const struct {
        std::u16string_view text;
        bool unpaired;
    } cases[] = {
        {u"plain text, long enough for a block", false},
        {u"a pair \U0001F600 in a long enough text", false},
        {std::u16string_view(u"0123456789\xD800", 11), true},
        {std::u16string_view(u"01234567\xDC00\xD800x", 11), true},
        {std::u16string_view(u"0123456\xD800\xDC00\xD800", 10), true},
        {u"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(hasUnpairedSurrogate(c.text), c.unpaired) << c.text.size();
}

// Short and long texts (a long one is measured before it is written) of
// every width, lone surrogates of both kinds included.
TEST(Text, Utf8OfEveryWidthFitsShortAndLongTexts) {
    const struct {
        std::u16string unit;
        std::string utf8;
    } cases[] = {
        {u"a", "a"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u4E2D", "\xE4\xB8\xAD"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {std::u16string(1, u'\xD800'), "\xEF\xBF\xBD"},
        {std::u16string(1, u'\xDC00') + u"a", "\xEF\xBF\xBD" "a"},
        // Runs of ASCII that end anywhere in a step of the vector loops.
        {u"abcdefghij\u00E9klmnopqrstuvwxyz01234\u4E2D", "abcdefghij\xC3\xA9klmnopqrstuvwxyz01234\xE4\xB8\xAD"},
    };
    for (const auto& c : cases)
        for (size_t n : {size_t(1), size_t(5000)}) {
            std::u16string u;
            std::string want;
            for (size_t i = 0; i < n; ++i) u += c.unit, want += c.utf8;
            EXPECT_EQ(toUtf8(u), want) << c.utf8 << " x" << n;
            // From UTF-16LE bytes: the same, or false for a lone surrogate.
            std::vector<unsigned char> le, out;
            for (char16_t x : u) le.push_back(static_cast<unsigned char>(x)), le.push_back(static_cast<unsigned char>(x >> 8));
            const bool lone = want.find("\xEF\xBF\xBD") != std::string::npos;
            EXPECT_EQ(utf16LeToUtf8(le.data(), u.size(), out), !lone) << c.utf8 << " x" << n;
            if (!lone) {
                EXPECT_EQ(std::string(out.begin(), out.end()), want) << c.utf8 << " x" << n;
            }
        }
}

TEST(Text, OrdinalComparisonFollowsUtf16CodeUnits) {
    EXPECT_LT(compareOrdinal("A", "B"), 0);
    EXPECT_LT(compareOrdinal("B", "a"), 0);
    EXPECT_LT(compareOrdinal("A", "A\\B"), 0);
    EXPECT_EQ(compareOrdinal("abc", "abc"), 0);
    // U+1F600 is D83D DE00 in UTF-16 and sorts before U+E000, although its
    // UTF-8 bytes (F0 ...) sort after U+E000's (EE ...).
    EXPECT_LT(compareOrdinal("\xF0\x9F\x98\x80", "\xEE\x80\x80"), 0);
    EXPECT_GT(compareOrdinal("\xEF\xBF\xBF", "\xF0\x9F\x98\x80"), 0);
}

}  // namespace
}  // namespace tavrin::text
