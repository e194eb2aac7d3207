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

TEST(Text, LongTextsConvertWhateverFallsAcrossEightByteRuns) {
    const std::string a8 = "abcdefgh";
    const struct {
        std::string utf8;
        std::u16string utf16;
    } cases[] = {
        {a8 + a8 + "\xC3\xA9" + a8 + "x", u"abcdefghabcdefgh\u00E9abcdefghx"},
        {a8 + "\xFF" + a8, u"abcdefgh\uFFFDabcdefgh"},
        {"abcdefg\xE4\xB8\xAD" + a8, u"abcdefg\u4E2Dabcdefgh"},
        {a8 + "\xF0\x9F\x98\x80" + a8, u"abcdefgh\U0001F600abcdefgh"},
        {a8 + "\xE4\xB8", u"abcdefgh\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf16(c.utf8), c.utf16) << c.utf8;
    // Unpaired surrogates among runs of four ASCII units.
    const std::u16string lone = u"abcd" + std::u16string(1, u'\xDC00') + u"efgh" + std::u16string(1, u'\xD800');
    EXPECT_EQ(toUtf8(lone), "abcd\xEF\xBF\xBD" "efgh\xEF\xBF\xBD");
    EXPECT_EQ(toUtf8(u"abcd\u00E9efgh\U0001F600ijkl"), "abcd\xC3\xA9" "efgh\xF0\x9F\x98\x80ijkl");
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
