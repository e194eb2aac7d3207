#include "store/core/props.h"

#include <gtest/gtest.h>

#include "store/core/codepage.h"
#include "store/core/message.h"
#include "store/core/tags.h"

namespace tavrin::store {
namespace {

TEST(PropertyBag, FindPrefersUnicodeAndSetReplacesEveryTypeOfTheId) {
    PropertyBag bag;
    const uint8_t a[] = {'h', 'i'};
    bag.set(Property::string8(makeTag(tags::PidTagSubject, PT_STRING8), a));
    bag.items().push_back(Property::unicodeUtf8(makeTag(tags::PidTagSubject, PT_UNICODE), "hi"));
    EXPECT_EQ(bag.find(tags::PidTagSubject)->type(), PT_UNICODE);
    bag.set(Property::unicodeUtf8(makeTag(tags::PidTagSubject, PT_UNICODE), "new"));
    ASSERT_EQ(bag.size(), 1u);
    EXPECT_EQ(bag.find(tags::PidTagSubject)->asUnicode(), u"new");
}

TEST(Message, StringCodepageComesFromMessageCodepageThenLocaleThenInternetCodepage) {
    Message m;
    EXPECT_EQ(m.codepage(), 1252u);
    EXPECT_EQ(m.codepage(0), 0u);
    m.props.set(Property::int32(makeTag(tags::PidTagInternetCodepage, PT_LONG), 65001));
    EXPECT_EQ(m.codepage(), 65001u);
    EXPECT_EQ(m.internetCodepage(), 65001u);
    // A German locale: 8-bit strings in 1252 even though the body's internet
    // form is UTF-8.
    m.props.set(Property::int32(makeTag(tags::PidTagMessageLocaleId, PT_LONG), 0x0407));
    EXPECT_EQ(m.codepage(), 1252u);
    m.props.set(Property::int32(makeTag(tags::PidTagMessageCodepage, PT_LONG), 1251));
    EXPECT_EQ(m.codepage(), 1251u);
    EXPECT_EQ(m.internetCodepage(), 65001u);
    Message n;
    n.props.set(Property::int32(makeTag(tags::PidTagMessageCodepage, PT_LONG), 936));
    EXPECT_EQ(n.internetCodepage(), 936u);
    EXPECT_EQ(Message().internetCodepage(), 65001u);
}

TEST(Codepage, AnsiCodepageOfLocales) {
    EXPECT_EQ(ansiCodepageForLcid(0x0409), 1252u);  // en-US
    EXPECT_EQ(ansiCodepageForLcid(0x0419), 1251u);  // ru-RU
    EXPECT_EQ(ansiCodepageForLcid(0x0404), 950u);   // zh-TW
    EXPECT_EQ(ansiCodepageForLcid(0x0804), 936u);   // zh-CN
    EXPECT_EQ(ansiCodepageForLcid(0x0411), 932u);   // ja-JP
    EXPECT_EQ(ansiCodepageForLcid(0x0412), 949u);   // ko-KR
    EXPECT_EQ(ansiCodepageForLcid(0x0405), 1250u);  // cs-CZ
    EXPECT_EQ(ansiCodepageForLcid(0x0C1A), 1251u);  // sr-Cyrl
    EXPECT_EQ(ansiCodepageForLcid(0x081A), 1250u);  // sr-Latn
    EXPECT_EQ(ansiCodepageForLcid(0x041E), 874u);   // th-TH
    EXPECT_EQ(ansiCodepageForLcid(0x0439), 0u);     // hi-IN: no ANSI code page
}

TEST(Guid, FormatsInRegistryForm) {
    EXPECT_EQ(PS_PUBLIC_STRINGS.toString(), "{00020329-0000-0000-C000-000000000046}");
}

}  // namespace
}  // namespace tavrin::store
