#include "fs/wildcard.h"

#include <gtest/gtest.h>

namespace tavrin::fs {
namespace {

TEST(Wildcard, PatternsAreRewrittenAsAWindowsSearchRewritesThem) {
    // In the expressions: < is DOS_STAR, > DOS_QM, " DOS_DOT.
    EXPECT_EQ(toSearchExpression(u"*"), u"*");
    EXPECT_EQ(toSearchExpression(u"*.*"), u"*");
    EXPECT_EQ(toSearchExpression(u"*.*."), u"*");
    EXPECT_EQ(toSearchExpression(u"a*.*"), u"a<\"*");
    EXPECT_EQ(toSearchExpression(u"*.msg"), u"<.msg");
    EXPECT_EQ(toSearchExpression(u"*."), u"<");
    EXPECT_EQ(toSearchExpression(u"?.?"), u">\">");
    EXPECT_EQ(toSearchExpression(u"a?.?."), u"a>\">");
    EXPECT_EQ(toSearchExpression(u".*"), u"\"*");
    EXPECT_EQ(toSearchExpression(u"Hello"), u"Hello");
}

struct Case {
    const char* pattern;
    const char* name;
    bool matches;
};

TEST(Wildcard, NamesMatchAsInAWindowsSearch) {
    const Case cases[] = {
        {"*", "anything.at.all", true},
        {"*", ".", true},
        {"*", "..", true},
        {"*.*", "README", true},      // no dot needed
        {"*.*", "a.b.c", true},
        {"*.*", "..", true},
        {"a*.*", "abc", true},
        {"a*.*", "xbc", false},
        {"*.msg", "A.MSG", true},     // case ignored
        {"*.msg", "x.y.msg", true},
        {"*.msg", "a.msg.bak", false},
        {"*.msg", "msg", false},
        {"*.", "README", true},       // names without an extension
        {"*.", "a.txt", false},
        {"?.?", "a", true},
        {"?.?", "a.b", true},
        {"?.?", "ab.c", false},
        {"a?.txt", "a.txt", true},    // ? matches nothing before a dot
        {"a?.txt", "ab.txt", true},
        {"a?c", "ac", false},
        {"a?c", "abc", true},
        {"???", "ab", true},          // ? matches nothing at the end
        {"?", ".", false},
        {"x*y", "xay", true},
        {"x*y", "xa", false},
        {"data", "DATA", true},
        {"data", "data2", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(matchesWindowsPattern(c.pattern, c.name), c.matches) << c.pattern << " vs " << c.name;
}

TEST(Wildcard, QuestionMarksCountUtf16CodeUnits) {
    const char* emoji = "\xF0\x9F\x98\x80";  // two UTF-16 code units
    EXPECT_TRUE(matchesWindowsPattern("a??", std::string("a") + emoji));
    EXPECT_TRUE(matchesWindowsPattern("a*", std::string("a") + emoji));
    EXPECT_FALSE(matchesWindowsPattern("?", emoji));
    EXPECT_TRUE(matchesWindowsPattern("?", "\xC3\xA4"));  // one code unit
}

TEST(Wildcard, LongNamesMatchInLinearRows) {
    const std::string name(4000, 'a');
    EXPECT_TRUE(matchesWindowsPattern("*a*a*a*a*a*a*a*", name));
    EXPECT_FALSE(matchesWindowsPattern("*a*a*a*a*a*a*b*", name));
}

}  // namespace
}  // namespace tavrin::fs
