// Address lists and dates of RFC 5322 headers, with the forms real mail has.
#include "store/mime/header_values.h"

#include <gtest/gtest.h>

#include "fs/text.h"

namespace tavrin::store::mime {
namespace {

std::string show(const std::vector<Mailbox>& list) {
    std::string s;
    for (const Mailbox& m : list) s += "[" + text::toUtf8(m.name) + "|" + m.address + "]";
    return s;
}

TEST(HeaderValues, AddressLists) {
    const struct {
        const char* value;
        const char* mailboxes;
    } cases[] = {
        {"a@example.com", "[|a@example.com]"},
        {"Ann <a@example.com>", "[Ann|a@example.com]"},
        {"\"Doe, John\" <j@x.org>, b@y.org", "[Doe, John|j@x.org][|b@y.org]"},
        {"\"Q \\\"uote\\\"\" <q@x>", "[Q \"uote\"|q@x]"},
        {"a@b (Ann Comment)", "[Ann Comment|a@b]"},
        {"=?utf-8?Q?J=C3=B6rg?= <j@x>", "[J\xC3\xB6rg|j@x]"},
        {"\"=?utf-8?Q?J=C3=B6rg?=\" <j@x>", "[J\xC3\xB6rg|j@x]"},
        {"undisclosed-recipients:;", ""},
        {"Team: a@x, B <b@x>;, c@x", "[|a@x][B|b@x][|c@x]"},
        {"Mary <@machine.tld:mary@example.net>, , jdoe@test   . example", "[Mary|mary@example.net][|jdoe@test.example]"},
        {"Bob <bob@x> Bobby <bobby@x>", "[Bob Bobby bobby@x|bob@x]"},
        {"just a name", "[just a name|]"},
        {"<a@x>", "[|a@x]"},
        {"Broken <a@x", "[Broken|a@x]"},
        {"a>b@x (C\\)d (e))", "[C)d (e)|ab@x]"},  // a stray closer; an escape and a nested comment
        {"<\"a>b\"@x>", "[|\"a>b\"@x]"},
        {"Ann <a b@x>", "[Ann|ab@x]"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(show(parseAddressList(c.value, nullptr, "To")), c.mailboxes) << c.value;
}

uint64_t ft(int64_t unixSeconds) { return static_cast<uint64_t>((unixSeconds + 11644473600LL) * 10000000LL); }

TEST(HeaderValues, Dates) {
    // 2016-07-10 15:29:52 UTC is 1468164592.
    const uint64_t t = ft(1468164592);
    const struct {
        const char* value;
        std::optional<uint64_t> filetime;
    } cases[] = {
        {"Sun, 10 Jul 2016 15:29:52 +0000", t},
        {"10 Jul 2016 15:29:52 GMT", t},
        {"Sun, 10 Jul 2016 17:29:52 +0200 (CEST)", t},
        {"Sun, 10 Jul 2016 11:29:52 EDT", t},
        {"Sun, 10 Jul 16 15:29:52 UT", t},
        {"Sun, 10-Jul-2016 15:29:52", t},               // no zone: UTC
        {"Sunday, 10 July 2016 15:29:52 Z", t},
        {"Sun Jul 10 15:29:52 2016", t},                 // asctime
        {"2016-07-10T17:29:52+02:00", t},                // ISO 8601
        {"Sun, 10 Jul 2016 15:29 +0000", ft(1468164540)},
        {"Fri, 19 Sep 91 12:41:43 EDT", ft(685298503)},
        {"not a date", std::nullopt},
        {"32 Jul 2016 15:29:52", std::nullopt},
        {"10 Jul 2016", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseDateTime(c.value), c.filetime) << c.value;
    EXPECT_EQ(parseReceivedDate("from a by b; Sun, 10 Jul 2016 15:29:52 +0000"), t);
    EXPECT_EQ(parseReceivedDate("from a by b"), std::nullopt);
}

}  // namespace
}  // namespace tavrin::store::mime
