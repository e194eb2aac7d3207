#include "store/core/record.h"

#include <gtest/gtest.h>

#include "fs/text.h"
#include "store/core/tags.h"

namespace tavrin::store {
namespace {

using namespace tags;

Property u16(uint16_t id, const char* utf8) { return Property::unicodeUtf8(makeTag(id, PT_UNICODE), utf8); }
Property s8(uint16_t id, std::vector<uint8_t> bytes) { return Property::string8(makeTag(id, PT_STRING8), bytes); }
Property i32(uint16_t id, int32_t v) { return Property::int32(makeTag(id, PT_LONG), v); }

Recipient recipient(int32_t type, const char* name, const char* smtp, const char* email) {
    Recipient r;
    r.props.set(i32(PidTagRecipientType, type));
    if (name) r.props.set(u16(PidTagDisplayName, name));
    if (smtp) r.props.set(u16(PidTagSmtpAddress, smtp));
    if (email) r.props.set(u16(PidTagEmailAddress, email));
    return r;
}

TEST(MessageRecord, FullRecordInFieldOrderOnOneLine) {
    Message m;
    m.props.set(u16(PidTagSubject, "Hello \"you\""));
    m.props.set(u16(PidTagSenderName, "Ann"));
    m.props.set(u16(PidTagSenderSmtpAddress, "ann@x.org"));
    m.props.set(u16(PidTagSenderEmailAddress, "/O=EX/CN=ANN"));
    m.props.set(u16(PidTagMessageClass, "IPM.Note"));
    m.props.set(Property::unicode(makeTag(PidTagBody, PT_UNICODE), u"line1\r\nline2\rline3\0\0"));
    const uint8_t html[] = {'<', 'p', '>', 0xCF, '<', '/', 'p', '>'};
    m.props.set(Property::binary(makeTag(PidTagHtml, PT_BINARY), html));
    m.props.set(i32(PidTagInternetCodepage, 1251));
    m.props.set(Property::systime(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 128262877731234567ull));
    m.props.set(Property::systime(makeTag(PidTagMessageDeliveryTime, PT_SYSTIME), 0));
    m.props.set(i32(PidTagMessageFlags, 35));
    m.recipients.push_back(recipient(1, "Bob", "", "bob@x.org"));
    m.recipients.push_back(recipient(2, "Cy", nullptr, nullptr));
    m.recipients.push_back(recipient(0x11, nullptr, "d@x.org", nullptr));
    m.recipients.push_back(recipient(4, "E", nullptr, nullptr));

    Attachment data;
    data.props.set(u16(PidTagAttachLongFilename, ""));
    data.props.set(u16(PidTagAttachFilename, "REPORT~1.PDF"));
    const uint8_t abc[] = {'a', 'b', 'c'};
    data.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), abc));
    m.attachments.push_back(std::move(data));

    Attachment inner;
    inner.props.set(u16(PidTagDisplayName, "Inner"));
    inner.embedded = std::make_unique<Message>();
    // No code page of its own: the 8-bit texts are in the outer message's.
    inner.embedded->props.set(s8(PidTagSubject, {0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, 0x00}));
    inner.embedded->props.set(s8(PidTagBody, {0xD2, 0xE5, 0xEB, 0xEE}));
    m.attachments.push_back(std::move(inner));

    Attachment empty;  // by reference: no data
    m.attachments.push_back(std::move(empty));

    const std::string json = messageRecordJson(m, {{"file", "\"a.msg\""}}, {{"properties", "12"}, {"codepage", "1251"}});
    EXPECT_EQ(json,
              "{\"file\":\"a.msg\",\"subject\":\"Hello \\\"you\\\"\",\"sender\":{\"name\":\"Ann\",\"address\":\"ann@x.org\"},"
              "\"recipients\":[{\"type\":\"to\",\"name\":\"Bob\",\"address\":\"bob@x.org\"},"
              "{\"type\":\"cc\",\"name\":\"Cy\",\"address\":null},"
              "{\"type\":\"to\",\"name\":null,\"address\":\"d@x.org\"},"
              "{\"type\":\"4\",\"name\":\"E\",\"address\":null}],"
              "\"messageClass\":\"IPM.Note\","
              "\"bodySha256\":\"6bb6a5ad9b9c43a7cb535e636578716b64ac42edea814a4cad102ba404946837\",\"bodyLength\":17,"
              "\"htmlSha256\":\"60dcafc1155488d69276a9a7e11f0096a2f942749b892151c1426f2f303edadf\","
              "\"attachments\":[{\"name\":\"REPORT~1.PDF\",\"size\":3,"
              "\"sha256\":\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"},"
              "{\"name\":\"Inner\",\"message\":{\"subject\":\"Привет\",\"sender\":{\"name\":null,\"address\":null},"
              "\"recipients\":[],\"messageClass\":null,"
              "\"bodySha256\":\"58cb66d28b6c2367bdb94fc26a3ab4f3234715393c61a3d41951526f93f0740c\",\"bodyLength\":8,"
              "\"htmlSha256\":null,\"attachments\":[],\"submitTime\":null,\"deliveryTime\":null,\"flags\":null}},"
              "{\"name\":null,\"size\":0,"
              "\"sha256\":\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\"}],"
              "\"submitTime\":\"2007-06-14T09:42:53Z\",\"deliveryTime\":null,\"flags\":35,"
              "\"properties\":12,\"codepage\":1251}");
}

TEST(MessageRecord, EmptyMessageAndStringsWithoutCodepage) {
    Message m;
    EXPECT_EQ(messageRecordJson(m, {}, {}),
              "{\"subject\":null,\"sender\":{\"name\":null,\"address\":null},\"recipients\":[],\"messageClass\":null,"
              "\"bodySha256\":null,\"bodyLength\":0,\"htmlSha256\":null,\"attachments\":[],\"submitTime\":null,"
              "\"deliveryTime\":null,\"flags\":null}");
    // 8-bit strings without a declared code page are 1252; an empty subject
    // stays an empty text, an empty body is no body.
    m.props.set(s8(PidTagSubject, {}));
    m.props.set(s8(PidTagSenderName, {'J', 0xFC, 'r', 'g'}));
    m.props.set(Property::unicode(makeTag(PidTagBody, PT_UNICODE), u"\0"));
    const std::string json = messageRecordJson(m, {}, {});
    EXPECT_NE(json.find("\"subject\":\"\","), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"J\xC3\xBCrg\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"bodySha256\":null,\"bodyLength\":0"), std::string::npos) << json;
    // A text is found by its string tags: a value of another type under the
    // same id, first in the bag, does not hide it.
    Message junk;
    Property other;
    other.tag = makeTag(PidTagBody, 0x1E00);
    junk.props.items().push_back(other);
    junk.props.items().push_back(s8(PidTagBody, {'h', 'i'}));
    EXPECT_NE(messageRecordJson(junk, {}, {}).find("\"bodyLength\":2"), std::string::npos) << messageRecordJson(junk, {}, {});
}

TEST(MessageRecord, HtmlBytesWithoutCodepageAreUtf8AndPstSubjectPrefixIsDropped) {
    Message m;
    const std::string html = "<p>\xD0\x9F</p>";
    m.props.set(Property::binary(makeTag(PidTagHtml, PT_BINARY),
                                 ByteSpan(reinterpret_cast<const uint8_t*>(html.data()), html.size())));
    m.props.set(Property::unicode(makeTag(PidTagSubject, PT_UNICODE), u"\x01\x05Hello"));
    const std::string json = messageRecordJson(m, {}, {});
    EXPECT_NE(json.find("\"htmlSha256\":\"60dcafc1155488d69276a9a7e11f0096a2f942749b892151c1426f2f303edadf\""),
              std::string::npos) << json;
    EXPECT_NE(json.find("\"subject\":\"Hello\""), std::string::npos) << json;
}

TEST(MessageRecord, StorageAttachmentUsesTheGivenEncoder) {
    Message m;
    Attachment a;
    a.props.set(i32(PidTagAttachMethod, afStorage));
    a.storage = std::make_unique<StorageEntry>();
    m.attachments.push_back(std::move(a));
    RecordOptions opt;
    opt.storageBytes = [](const StorageEntry&) { return Bytes{'a', 'b', 'c'}; };
    EXPECT_NE(messageRecordJson(m, {}, {}, opt).find("\"size\":3,\"sha256\":\"ba7816bf"), std::string::npos);
    EXPECT_NE(messageRecordJson(m, {}, {}).find("\"size\":0,\"sha256\":\"e3b0c442"), std::string::npos);
}

TEST(MessageRecord, TimesAreUtcWholeSeconds) {
    EXPECT_EQ(isoTimeFromFiletime(0), "");
    EXPECT_EQ(isoTimeFromFiletime(315360000000000ull - 1), "");  // still 1601
    EXPECT_EQ(isoTimeFromFiletime(315360000000000ull), "1602-01-01T00:00:00Z");
    EXPECT_EQ(isoTimeFromFiletime(125962560010000000ull), "2000-02-29T00:00:01Z");
    EXPECT_EQ(isoTimeFromFiletime(2650467743990000000ull), "9999-12-31T23:59:59Z");
    EXPECT_EQ(isoTimeFromFiletime(2650467743990000000ull + 10000000ull), "+010000-01-01T00:00:00Z");
    EXPECT_FALSE(isoTimeFromFiletime(~0ull).empty());
}

TEST(JsonString, EscapesLikeJsonStringify) {
    EXPECT_EQ(jsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(jsonString(std::string("\b\f\n\r\t\x01\x1f", 7)), "\"\\b\\f\\n\\r\\t\\u0001\\u001f\"");
    EXPECT_EQ(jsonString(std::string("\0", 1)), "\"\\u0000\"");
    EXPECT_EQ(jsonString("é中\xF0\x9F\x98\x80"), "\"é中\xF0\x9F\x98\x80\"");
    // Invalid UTF-8: a stray continuation byte, a truncated sequence, an
    // encoded surrogate, an overlong form.
    EXPECT_EQ(jsonString("\x80"), "\"\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("a\xE4\xB8"), "\"a\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xED\xA0\x80"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
    EXPECT_EQ(jsonString("\xC0\xAF"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(NormalizedText, LineEndsAndTrailingNuls) {
    EXPECT_EQ(normalizedUtf8(u"a\r\nb\rc\n\r\nd\0\0"), std::string("a\nb\nc\n\nd"));
    EXPECT_EQ(normalizedUtf8(u"\r\r\n"), "\n\n");
    EXPECT_EQ(normalizedUtf8(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));  // inner NULs stay
}

}  // namespace
}  // namespace tavrin::store
