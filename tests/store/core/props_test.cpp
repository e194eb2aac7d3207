#include "store/core/props.h"

#include <gtest/gtest.h>

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

TEST(Message, CodepagePrefersInternetCodepage) {
    Message m;
    EXPECT_EQ(m.codepage(), 1252u);
    m.props.set(Property::int32(makeTag(tags::PidTagMessageCodepage, PT_LONG), 1251));
    EXPECT_EQ(m.codepage(), 1251u);
    m.props.set(Property::int32(makeTag(tags::PidTagInternetCodepage, PT_LONG), 65001));
    EXPECT_EQ(m.codepage(), 65001u);
}

TEST(Guid, FormatsInRegistryForm) {
    EXPECT_EQ(PS_PUBLIC_STRINGS.toString(), "{00020329-0000-0000-C000-000000000046}");
}

}  // namespace
}  // namespace tavrin::store
