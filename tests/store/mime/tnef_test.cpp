// TNEF streams built here field by field: a whole one read back, then
// copies with one fault each.
#include "store/mime/tnef_reader.h"

#include <gtest/gtest.h>

#include "fs/text.h"
#include "store/core/tags.h"

namespace tavrin::store::tnef {
namespace {

namespace t = tags;

// Writes TNEF attributes and MAPI property lists ([MS-OXTNEF] 2.1.3).
struct Tnef {
    ByteWriter w;
    Tnef() {
        w.u32(kSignature);
        w.u16(0x0001);
    }
    Tnef& attr(uint8_t level, uint32_t id, const Bytes& data) {
        w.u8(level);
        w.u32(id);
        w.u32(static_cast<uint32_t>(data.size()));
        w.bytes(data);
        uint32_t sum = 0;
        for (uint8_t b : data) sum += b;
        w.u16(static_cast<uint16_t>(sum));
        return *this;
    }
    Bytes take() { return w.take(); }
};

struct Props {
    ByteWriter w;
    uint32_t count = 0;
    Props() { w.u32(0); }
    void pad(size_t n) {
        while (n++ % 4) w.u8(0);
    }
    Props& i32(uint32_t tag, uint32_t v) {
        w.u32(tag);
        w.u32(v);
        ++count;
        return *this;
    }
    Props& var(uint32_t tag, const Bytes& v) {
        w.u32(tag);
        w.u32(1);
        w.u32(static_cast<uint32_t>(v.size()));
        w.bytes(v);
        pad(v.size());
        ++count;
        return *this;
    }
    Props& named(uint32_t tag, const char* name, uint32_t v) {
        w.u32(tag);
        for (int i = 0; i < 16; ++i) w.u8(static_cast<uint8_t>(i));
        w.u32(1);  // MNID_STRING
        Bytes n;
        for (const char* p = name; *p; ++p) n.insert(n.end(), {static_cast<uint8_t>(*p), 0});
        n.insert(n.end(), {0, 0});
        w.u32(static_cast<uint32_t>(n.size()));
        w.bytes(n);
        pad(n.size());
        w.u32(v);
        ++count;
        return *this;
    }
    Bytes take() {
        w.patchLE32(0, count);
        return w.take();
    }
};

Bytes utf16z(const std::string& s) {
    Bytes b;
    for (char16_t c : text::toUtf16(s)) b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    b.insert(b.end(), {0, 0});
    return b;
}
Bytes str8(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}
std::string text(const PropertyBag& bag, uint16_t id) {
    const Property* p = bag.find(id);
    return p && p->type() == PT_UNICODE ? text::toUtf8(p->asUnicode()) : "<none>";
}

// IID_IMessage followed by an embedded message's TNEF stream.
Bytes embedded(const Bytes& stream) {
    static const uint8_t iid[16] = {0x07, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    ByteWriter w;
    w.bytes(ByteSpan(iid, 16));
    w.bytes(stream);
    return w.take();
}

Bytes wholeStream() {
    Tnef inner;
    inner.attr(1, 0x00069003, Props().var(makeTag(t::PidTagSubject, PT_UNICODE), utf16z("Inner")).take());
    Tnef s;
    s.attr(1, 0x00069007, {0xE3, 0x04, 0, 0, 0, 0, 0, 0});  // OEM code page 1251
    s.attr(1, 0x00078008, str8("IPM.Microsoft Mail.Note"));
    s.attr(1, 0x00018004, str8("\xCF\xF0\xE8"));                    // attSubject in 1251
    s.attr(1, 0x0004800D, {3, 0});                                 // attPriority low
    s.attr(1, 0x00038005, {0xE0, 0x07, 7, 0, 10, 0, 15, 0, 29, 0, 52, 0, 0, 0});  // 2016-07-10 15:29:52
    s.attr(1, 0x00069003,
           Props()
               .var(makeTag(t::PidTagBody, PT_STRING8), str8("body \xE0"))
               .i32(makeTag(t::PidTagSensitivity, PT_LONG), 2)
               .named(makeTag(0x8001, PT_LONG), "Custom", 7)
               .take());
    Props row;
    row.var(makeTag(t::PidTagDisplayName, PT_UNICODE), utf16z("Bob")).i32(makeTag(t::PidTagRecipientType, PT_LONG), 1);
    ByteWriter table;
    table.u32(1);
    table.bytes(row.take());
    s.attr(1, 0x00069004, table.take());
    s.attr(2, 0x00069002, {1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0});
    s.attr(2, 0x00018010, str8("file.txt"));
    s.attr(2, 0x0006800F, {'d', 'a', 't', 'a'});
    s.attr(2, 0x00069005, Props().var(makeTag(t::PidTagAttachLongFilename, PT_UNICODE), utf16z("long file.txt")).take());
    s.attr(2, 0x00069002, {1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0});
    s.attr(2, 0x00069005,
           Props()
               .i32(makeTag(t::PidTagAttachMethod, PT_LONG), 5)
               .var(makeTag(t::PidTagAttachDataBinary, PT_OBJECT), embedded(inner.take()))
               .take());
    return s.take();
}

TEST(Tnef, ReadsAWholeStream) {
    auto m = readTnef(wholeStream());
    ASSERT_TRUE(m.ok()) << m.error().description;
    EXPECT_TRUE(m->warnings.empty()) << m->warnings.front();
    EXPECT_EQ(text(m->props, t::PidTagMessageClass), "IPM.Note");
    EXPECT_EQ(text(m->props, t::PidTagSubject), "\xD0\x9F\xD1\x80\xD0\xB8");  // from 1251
    EXPECT_EQ(text(m->props, t::PidTagBody), "body \xD0\xB0");
    EXPECT_EQ(m->props.getInt32(t::PidTagImportance), 0);
    EXPECT_EQ(m->props.getInt32(t::PidTagSensitivity), 2);
    EXPECT_EQ(m->props.getSystime(t::PidTagClientSubmitTime), 131126381920000000u);
    const Property* named = m->props.find(0x8001);
    ASSERT_TRUE(named && named->name);
    EXPECT_EQ(named->name->name, u"Custom");
    EXPECT_EQ(named->scalar, 7u);
    ASSERT_EQ(m->recipients.size(), 1u);
    EXPECT_EQ(text(m->recipients[0].props, t::PidTagDisplayName), "Bob");
    ASSERT_EQ(m->attachments.size(), 2u);
    EXPECT_EQ(text(m->attachments[0].props, t::PidTagAttachFilename), "file.txt");
    EXPECT_EQ(text(m->attachments[0].props, t::PidTagAttachLongFilename), "long file.txt");
    EXPECT_EQ(m->attachments[0].props.find(t::PidTagAttachDataBinary)->data, (Bytes{'d', 'a', 't', 'a'}));
    ASSERT_TRUE(m->attachments[1].embedded);
    EXPECT_EQ(m->attachments[1].props.getInt32(t::PidTagAttachMethod), t::afEmbeddedMessage);
    EXPECT_EQ(text(m->attachments[1].embedded->props, t::PidTagSubject), "Inner");
}

TEST(Tnef, NotTnef) {
    for (Bytes b : {Bytes{}, Bytes{0x78, 0x9F, 0x3E}, Bytes{'P', 'N', 'G', 0, 0, 0}}) {
        auto m = readTnef(b);
        ASSERT_FALSE(m.ok());
        EXPECT_EQ(m.error().number, err::kCorrupt);
    }
}

// Every cut of the stream reads without failing, keeping what came before.
TEST(Tnef, EveryTruncationIsSalvaged) {
    const Bytes whole = wholeStream();
    for (size_t n = 6; n < whole.size(); ++n) {
        auto m = readTnef(ByteSpan(whole.data(), n));
        ASSERT_TRUE(m.ok()) << n;
    }
}

TEST(Tnef, Damage) {
    const struct {
        const char* name;
        Bytes stream;
        const char* warning;
    } cases[] = {
        {"bad checksum",
         [] {
             Bytes b = Tnef().attr(1, 0x00018004, str8("x")).take();
             b.back() ^= 1;
             return b;
         }(),
         "checksum mismatch"},
        {"length past the end",
         [] {
             Bytes b = Tnef().attr(1, 0x00018004, str8("x")).take();
             b[6 + 5] = 0x40;
             return b;
         }(),
         "is cut off"},
        {"unknown level", Tnef().attr(9, 0x00018004, str8("x")).take(), "unknown level 9"},
        {"huge property count",
         [] {
             ByteWriter p;
             p.u32(0x7FFFFFFF);
             p.u32(makeTag(t::PidTagSensitivity, PT_LONG));
             p.u32(1);
             return Tnef().attr(1, 0x00069003, p.take()).take();
         }(),
         "does not fit"},
        {"huge recipient count",
         [] {
             ByteWriter p;
             p.u32(0xFFFFFFFF);
             return Tnef().attr(1, 0x00069004, p.take()).take();
         }(),
         "row count"},
        {"property of no known size",
         [] {
             ByteWriter p;
             p.u32(2);
             p.u32(makeTag(0x1234, PT_NULL));
             p.u32(0);
             return Tnef().attr(1, 0x00069003, p.take()).take();
         }(),
         "is cut off"},
    };
    for (const auto& c : cases) {
        auto m = readTnef(c.stream);
        ASSERT_TRUE(m.ok()) << c.name;
        std::string all;
        for (const auto& w : m->warnings) all += w + "\n";
        EXPECT_NE(all.find(c.warning), std::string::npos) << c.name << ": " << all;
    }
}

TEST(Tnef, NestingIsBounded) {
    Bytes stream = Tnef().attr(1, 0x00018004, str8("deepest")).take();
    for (int i = 0; i < kMaxDepth + 2; ++i) {
        Tnef outer;
        outer.attr(2, 0x00069002, {1, 0, 0, 0, 0, 0});
        outer.attr(2, 0x00069005,
                   Props()
                       .i32(makeTag(t::PidTagAttachMethod, PT_LONG), 5)
                       .var(makeTag(t::PidTagAttachDataBinary, PT_OBJECT), embedded(stream))
                       .take());
        stream = outer.take();
    }
    auto m = readTnef(stream);
    ASSERT_FALSE(m.ok());
    EXPECT_NE(m.error().description.find("nested more than"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::store::tnef
