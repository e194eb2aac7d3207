// Message files built in memory: a good one read back property by property,
// then copies with one fault each.
#include "store/msg/oxmsg/msg_reader.h"

#include <gtest/gtest.h>

#include "fs/text.h"
#include "msg_builder.h"
#include "store/core/tags.h"
#include "store/msg/cfb/compound_file.h"
#include "store/msg/oxmsg/nameid.h"

namespace tavrin::store::oxmsg {
namespace {

using namespace tags;
using testing::MessageBuilder;
using testing::ObjectBuilder;
using testing::storageEntry;
using testing::streamEntry;
using testing::utf16le;

const Guid kGuid = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

Bytes le(std::initializer_list<uint64_t> values, int width) {
    Bytes b;
    for (uint64_t v : values)
        for (int k = 0; k < width; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
    return b;
}

Bytes writeFile(const StorageEntry& root) {
    auto b = cfb::writeCompoundFile(root);
    EXPECT_TRUE(b.ok());
    return b.ok() ? std::move(b).value() : Bytes();
}

MessageBuilder innerMessage() {
    MessageBuilder inner;
    inner.unicode(makeTag(PidTagSubject, PT_UNICODE), "Inner");
    inner.fixed(makeTag(PidTagMessageFlags, PT_LONG), 1);
    inner.fixed(makeTag(0x8001, PT_LONG), 77);  // named, through the outer message's map
    ObjectBuilder r;
    r.unicode(makeTag(PidTagDisplayName, PT_UNICODE), "Inner Recipient");
    inner.recipients.push_back(r);
    MessageBuilder::Att a;
    a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    a.props.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes{9, 8, 7});
    inner.attachments.push_back(a);
    return inner;
}

// A message with one property of every kind the reader handles.
MessageBuilder goodMessage() {
    MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "Hello");
    m.string8(makeTag(PidTagSenderName, PT_STRING8), Bytes{0xCF, 0xE5, 0xF2, 0xFF, 0x00});  // NUL-terminated
    m.fixed(makeTag(PidTagMessageCodepage, PT_LONG), 1251);
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), 0x11);
    m.fixed(makeTag(PidTagImportance, PT_I2), 0xFFFF0002ull);  // junk in the reserved bytes
    m.fixed(makeTag(PidTagRtfInSync, PT_BOOLEAN), 0x0000FF01ull);
    m.fixed(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 0x01D9000011112222ull);
    m.fixed(makeTag(0x0E08, PT_I8), 0x123456789ABCDEFull);
    m.fixed(makeTag(0x1234, PT_DOUBLE), 0x400921FB54442D18ull);
    m.variable(makeTag(PidTagSearchKey, PT_BINARY), Bytes{1, 2, 3, 4});
    m.variable(makeTag(0x1235, PT_CLSID), Bytes(kGuid.b.begin(), kGuid.b.end()));
    m.unicode(makeTag(PidTagBody, PT_UNICODE), "");  // an empty string: size 2, empty stream
    m.multiFixed(makeTag(0x1236, PT_LONG | MV_FLAG), le({5, 6, 7}, 4));
    m.multiVariable(makeTag(0x1237, PT_UNICODE | MV_FLAG), {utf16le(u"one"), utf16le(u"two\0"), utf16le(u"")});
    m.multiVariable(makeTag(0x1238, PT_BINARY | MV_FLAG), {Bytes{0xAA}, Bytes{0xBB, 0xCC}});
    // Named properties: 0x8000 numeric in PS_MAPI, 0x8001 string in the
    // first stream GUID, 0x8002 numeric in PS_PUBLIC_STRINGS.
    m.addGuid(kGuid);
    m.nameNumeric(1, 0, 0x8520);
    m.nameString(3, 1, "Keywords");
    m.nameNumeric(2, 2, 0x1234);
    m.unicode(makeTag(0x8000, PT_UNICODE), "named numeric");
    m.fixed(makeTag(0x8001, PT_LONG), 42);
    m.fixed(makeTag(0x8002, PT_BOOLEAN), 1);
    m.fixed(makeTag(0x8003, PT_LONG), 3);  // no name in the map

    ObjectBuilder r0, r1;
    r0.fixed(makeTag(PidTagRecipientType, PT_LONG), 1);
    r0.unicode(makeTag(PidTagDisplayName, PT_UNICODE), "Bob");
    r1.fixed(makeTag(PidTagRecipientType, PT_LONG), 2);
    r1.unicode(makeTag(PidTagDisplayName, PT_UNICODE), "Cy");
    m.recipients = {r0, r1};

    MessageBuilder::Att byValue;
    byValue.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    byValue.props.unicode(makeTag(PidTagAttachLongFilename, PT_UNICODE), "big.bin");
    Bytes big(10000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31);
    byValue.props.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), big);

    MessageBuilder::Att embedded;
    embedded.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afEmbeddedMessage);
    embedded.props.fixed(makeTag(PidTagAttachDataBinary, PT_OBJECT), 0xFFFFFFFF);
    embedded.extra.push_back(innerMessage().buildEmbedded());

    MessageBuilder::Att ole;
    ole.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afStorage);
    ole.props.fixed(makeTag(PidTagAttachDataBinary, PT_OBJECT), 0xFFFFFFFF);
    StorageEntry obj = storageEntry("__substg1.0_3701000D",
                                    {streamEntry("\x01" "CompObj", Bytes{1, 2, 3}), streamEntry("CONTENTS", Bytes(5000, 0x5A)),
                                     storageEntry("ObjectPool", {streamEntry("x", Bytes{4})})});
    obj.clsid = kGuid;
    ole.extra.push_back(obj);
    m.attachments = {byValue, embedded, ole};
    return m;
}

Result<Message> readBuilt(const MessageBuilder& b) {
    const Bytes file = b.file();
    return readMsg(file);
}

const Property& prop(const PropertyBag& bag, uint32_t tag) {
    static const Property none;
    const Property* p = bag.findTag(tag);
    EXPECT_NE(p, nullptr) << std::hex << tag;
    return p ? *p : none;
}

TEST(MsgReader, ReadsEveryKindOfProperty) {
    auto r = readBuilt(goodMessage());
    ASSERT_TRUE(r.ok()) << r.error().description;
    const PropertyBag& b = r->props;
    EXPECT_EQ(prop(b, makeTag(PidTagSubject, PT_UNICODE)).asUnicode(), u"Hello");
    EXPECT_EQ(prop(b, makeTag(PidTagSenderName, PT_STRING8)).data, (Bytes{0xCF, 0xE5, 0xF2, 0xFF}));  // NUL gone
    EXPECT_EQ(prop(b, makeTag(PidTagSubject, PT_UNICODE)).flags, 6u);
    EXPECT_EQ(r->codepage(), 1251u);
    EXPECT_EQ(b.getInt32(PidTagMessageFlags), 0x11);
    EXPECT_EQ(prop(b, makeTag(PidTagImportance, PT_I2)).scalar, 2u);  // reserved bytes ignored
    EXPECT_EQ(prop(b, makeTag(PidTagRtfInSync, PT_BOOLEAN)).scalar, 1u);
    EXPECT_EQ(b.getSystime(PidTagClientSubmitTime), 0x01D9000011112222ull);
    EXPECT_EQ(prop(b, makeTag(0x0E08, PT_I8)).scalar, 0x123456789ABCDEFull);
    EXPECT_EQ(prop(b, makeTag(0x1234, PT_DOUBLE)).scalar, 0x400921FB54442D18ull);
    EXPECT_EQ(prop(b, makeTag(PidTagSearchKey, PT_BINARY)).data, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(prop(b, makeTag(0x1235, PT_CLSID)).data, Bytes(kGuid.b.begin(), kGuid.b.end()));
    EXPECT_TRUE(prop(b, makeTag(PidTagBody, PT_UNICODE)).data.empty());
    EXPECT_EQ(prop(b, makeTag(0x1236, PT_LONG | MV_FLAG)).multi, (std::vector<Bytes>{le({5}, 4), le({6}, 4), le({7}, 4)}));
    EXPECT_EQ(prop(b, makeTag(0x1237, PT_UNICODE | MV_FLAG)).multi,
              (std::vector<Bytes>{utf16le(u"one"), utf16le(u"two"), Bytes{}}));
    EXPECT_EQ(prop(b, makeTag(0x1238, PT_BINARY | MV_FLAG)).multi, (std::vector<Bytes>{Bytes{0xAA}, Bytes{0xBB, 0xCC}}));
    // The length streams are not properties of their own.
    size_t mv = 0;
    for (const auto& p : b.items()) mv += p.id() == 0x1237;
    EXPECT_EQ(mv, 1u);
}

TEST(MsgReader, ResolvesNamedPropertiesThroughTheMap) {
    auto r = readBuilt(goodMessage());
    ASSERT_TRUE(r.ok()) << r.error().description;
    const PropertyBag& b = r->props;
    const Property& n0 = prop(b, makeTag(0x8000, PT_UNICODE));
    ASSERT_TRUE(n0.name);
    EXPECT_EQ(n0.name->guid, PS_MAPI);
    EXPECT_FALSE(n0.name->isString);
    EXPECT_EQ(n0.name->lid, 0x8520u);
    const Property& n1 = prop(b, makeTag(0x8001, PT_LONG));
    ASSERT_TRUE(n1.name);
    EXPECT_EQ(n1.name->guid, kGuid);
    EXPECT_TRUE(n1.name->isString);
    EXPECT_EQ(n1.name->name, u"Keywords");
    const Property& n2 = prop(b, makeTag(0x8002, PT_BOOLEAN));
    ASSERT_TRUE(n2.name);
    EXPECT_EQ(n2.name->guid, PS_PUBLIC_STRINGS);
    // A named property without a name cannot be converted: it is left out, and told.
    EXPECT_EQ(b.findTag(makeTag(0x8003, PT_LONG)), nullptr);
    EXPECT_EQ(r->warnings, std::vector<std::string>{"property 0x80030003: no named-property entry for index 3"});
    EXPECT_FALSE(prop(b, makeTag(PidTagSubject, PT_UNICODE)).name.has_value());
    // The embedded message uses the same map.
    ASSERT_TRUE(r->attachments[1].embedded);
    const Property& inner = prop(r->attachments[1].embedded->props, makeTag(0x8001, PT_LONG));
    ASSERT_TRUE(inner.name);
    EXPECT_EQ(inner.name->name, u"Keywords");
}

TEST(MsgReader, ReadsRecipientsAndEveryKindOfAttachment) {
    auto r = readBuilt(goodMessage());
    ASSERT_TRUE(r.ok()) << r.error().description;
    ASSERT_EQ(r->recipients.size(), 2u);
    EXPECT_EQ(prop(r->recipients[0].props, makeTag(PidTagDisplayName, PT_UNICODE)).asUnicode(), u"Bob");
    EXPECT_EQ(prop(r->recipients[1].props, makeTag(PidTagDisplayName, PT_UNICODE)).asUnicode(), u"Cy");
    ASSERT_EQ(r->attachments.size(), 3u);

    const Attachment& byValue = r->attachments[0];
    EXPECT_EQ(prop(byValue.props, makeTag(PidTagAttachDataBinary, PT_BINARY)).data.size(), 10000u);
    EXPECT_EQ(prop(byValue.props, makeTag(PidTagAttachDataBinary, PT_BINARY)).data[9999], static_cast<uint8_t>(9999 * 31));
    EXPECT_FALSE(byValue.embedded);
    EXPECT_FALSE(byValue.storage);

    const Attachment& em = r->attachments[1];
    ASSERT_TRUE(em.embedded);
    EXPECT_EQ(prop(em.embedded->props, makeTag(PidTagSubject, PT_UNICODE)).asUnicode(), u"Inner");
    EXPECT_EQ(em.embedded->props.getInt32(PidTagMessageFlags), 1);  // read with the 24-byte header
    ASSERT_EQ(em.embedded->recipients.size(), 1u);
    ASSERT_EQ(em.embedded->attachments.size(), 1u);
    EXPECT_EQ(prop(em.embedded->attachments[0].props, makeTag(PidTagAttachDataBinary, PT_BINARY)).data, (Bytes{9, 8, 7}));
    EXPECT_NE(em.props.findTag(makeTag(PidTagAttachDataBinary, PT_OBJECT)), nullptr);

    const Attachment& ole = r->attachments[2];
    ASSERT_TRUE(ole.storage);
    EXPECT_FALSE(ole.embedded);
    EXPECT_EQ(ole.storage->clsid, kGuid);
    ASSERT_EQ(ole.storage->children.size(), 3u);
    // In [MS-CFB] order: shorter names first.
    EXPECT_EQ(ole.storage->children[0].name, u"\x01" "CompObj");
    EXPECT_EQ(ole.storage->children[1].name, u"CONTENTS");
    EXPECT_EQ(ole.storage->children[1].data, Bytes(5000, 0x5A));
    EXPECT_TRUE(ole.storage->children[2].isStorage);
    // It can be written out as a compound file again.
    auto again = cfb::writeCompoundFile(*ole.storage);
    ASSERT_TRUE(again.ok());
    auto cf = cfb::CompoundFile::open(*again);
    ASSERT_TRUE(cf.ok());
    EXPECT_EQ(cf->entry(0).clsid, kGuid);
}

TEST(MsgReader, Version4FilesReadTheSame) {
    const MessageBuilder m = goodMessage();
    auto v4 = cfb::writeCompoundFile(m.build(), 4);
    ASSERT_TRUE(v4.ok());
    auto a = readBuilt(m);
    auto b = readMsg(*v4);
    ASSERT_TRUE(a.ok());
    ASSERT_TRUE(b.ok()) << b.error().description;
    ASSERT_EQ(a->props.size(), b->props.size());
    for (size_t i = 0; i < a->props.size(); ++i) {
        EXPECT_EQ(a->props.items()[i].tag, b->props.items()[i].tag);
        EXPECT_EQ(a->props.items()[i].data, b->props.items()[i].data);
        EXPECT_EQ(a->props.items()[i].multi, b->props.items()[i].multi);
    }
    EXPECT_EQ(b->attachments.size(), 3u);
}

TEST(MsgReader, ToleratesWhatWritersDo) {
    {
        // Streams without an entry in the property stream are kept.
        MessageBuilder m;
        m.unicode(makeTag(PidTagSubject, PT_UNICODE), "s");
        m.children.push_back(streamEntry("__substg1.0_0E1D001F", utf16le(u"unlisted")));
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        const Property& p = prop(r->props, makeTag(0x0E1D, PT_UNICODE));
        EXPECT_EQ(p.asUnicode(), u"unlisted");
        EXPECT_EQ(p.flags, 0u);
    }
    {
        // More unlisted streams than the property stream has entries (here
        // none at all): once an endless loop.
        MessageBuilder m;
        for (uint16_t i = 0; i < 100; ++i)
            m.children.push_back(streamEntry("__substg1.0_" + testing::hex8(makeTag(0x6000 + i, PT_BINARY)), Bytes{1}));
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_EQ(r->props.size(), 100u);
    }
    {
        // An embedded message written with a 32-byte header.
        MessageBuilder m;
        MessageBuilder::Att a;
        a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afEmbeddedMessage);
        MessageBuilder inner = innerMessage();
        StorageEntry e = inner.build(32);
        e.name = u"__substg1.0_3701000D";
        a.extra.push_back(e);
        m.attachments.push_back(a);
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        ASSERT_TRUE(r->attachments[0].embedded);
        EXPECT_EQ(r->attachments[0].embedded->props.getInt32(PidTagMessageFlags), 1);
    }
    {
        // Recipients in the order of their numbers, not their names; a
        // partial entry at the end of a property stream is ignored.
        MessageBuilder m;
        StorageEntry root = m.build();
        for (uint32_t n : {0x0Bu, 0x02u}) {
            ObjectBuilder r;
            r.fixed(makeTag(PidTagRecipientType, PT_LONG), n);
            StorageEntry s = storageEntry("__recip_version1.0_#" + testing::hex8(n));
            Bytes ps = r.propertyStream(8);
            ps.resize(ps.size() + 5, 0xEE);
            s.children.push_back(streamEntry("__properties_version1.0", ps));
            root.children.push_back(s);
        }
        auto r = readMsg(writeFile(root));
        ASSERT_TRUE(r.ok()) << r.error().description;
        ASSERT_EQ(r->recipients.size(), 2u);
        EXPECT_EQ(r->recipients[0].props.getInt32(PidTagRecipientType), 2);
        EXPECT_EQ(r->recipients[1].props.getInt32(PidTagRecipientType), 0x0B);
    }
    {
        // A multi-valued string with one element stream missing: the
        // element is empty, the others are kept in place.
        MessageBuilder m;
        m.multiVariable(makeTag(0x1237, PT_UNICODE | MV_FLAG), {utf16le(u"a"), utf16le(u"b"), utf16le(u"c")});
        auto& kids = m.children;
        kids.erase(std::remove_if(kids.begin(), kids.end(), [](const StorageEntry& e) { return e.name == u"__substg1.0_1237101F-00000001"; }),
                   kids.end());
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_EQ(prop(r->props, makeTag(0x1237, PT_UNICODE | MV_FLAG)).multi,
                  (std::vector<Bytes>{utf16le(u"a"), Bytes{}, utf16le(u"c")}));
        EXPECT_EQ(r->warnings, std::vector<std::string>{"property 0x1237101F: 1 of 3 value streams are missing"});
    }
    {
        // Properties whose names cannot be read cannot be converted: they
        // are left out, each with the reason.
        MessageBuilder m;
        m.nameNumeric(9, 0, 1);         // GUID index past the GUID stream
        m.nameNumeric(0, 1, 1);         // GUID index 0
        m.nameString(1, 2, "x");
        m.nameStrings[0] = 0xFF;        // string length past the stream
        m.fixed(makeTag(0x8000, PT_LONG), 1);
        m.fixed(makeTag(0x8001, PT_LONG), 1);
        m.fixed(makeTag(0x8002, PT_LONG), 1);
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_EQ(r->props.size(), 0u);
        EXPECT_EQ(r->warnings, (std::vector<std::string>{
                                   "property 0x80000003: its named-property entry cannot be read (its GUID index is out of range)",
                                   "property 0x80010003: its named-property entry cannot be read (its GUID index is 0)",
                                   "property 0x80020003: its named-property entry cannot be read (its name is out of range of "
                                   "the string stream)"}));
        const NameMap map = NameMap::parse(m.nameGuids, m.nameEntries, m.nameStrings);
        EXPECT_EQ(map.size(), 0u);
        EXPECT_EQ(map.skipped(), 3u);
    }
}

// goodMessage() without its one deliberate fault (a named property with no
// name): a message that reads whole.
MessageBuilder wholeMessage() {
    MessageBuilder m = goodMessage();
    std::erase_if(m.entries, [](const ObjectBuilder::Entry& e) { return e.tag == makeTag(0x8003, PT_LONG); });
    return m;
}

StorageEntry& child(StorageEntry& s, const std::u16string& name) {
    for (auto& c : s.children)
        if (c.name == name) return c;
    static StorageEntry none;
    ADD_FAILURE() << "no child " << text::toUtf8(name);
    return none;
}
void removeChild(StorageEntry& s, const std::u16string& name) {
    const size_t before = s.children.size();
    std::erase_if(s.children, [&](const StorageEntry& e) { return e.name == name; });
    EXPECT_EQ(s.children.size() + 1, before) << text::toUtf8(name);
}

// Damage inside a sound compound file: the message converts with everything
// that can be read, and each thing left out is named in a warning.
TEST(MsgReader, SalvagesDamagedMessagesAndTellsWhatWasLeftOut) {
    {
        auto whole = readMsg(writeFile(wholeMessage().build()));
        ASSERT_TRUE(whole.ok()) << whole.error().description;
        EXPECT_TRUE(whole->warnings.empty()) << whole->warnings[0];
    }
    struct Case {
        const char* what;
        std::function<void(StorageEntry&)> fault;
        std::vector<std::string> warnings;
        std::function<void(const Message&)> check;
    };
    const uint32_t subject = makeTag(PidTagSubject, PT_UNICODE);
    const std::vector<Case> cases = {
        {"value stream missing",
         [](StorageEntry& root) { removeChild(root, u"__substg1.0_300B0102"); },
         {"property 0x300B0102: the value stream is missing (4 bytes)"},
         [](const Message& m) { EXPECT_EQ(m.props.findTag(makeTag(PidTagSearchKey, PT_BINARY)), nullptr); }},
        {"value stream shorter than its entry says",
         [](StorageEntry& root) { child(root, u"__substg1.0_0037001F").data.resize(4); },
         {"property 0x0037001F: the value stream is short (4 of 12 bytes); what it holds is kept"},
         [&](const Message& m) { EXPECT_EQ(prop(m.props, subject).asUnicode(), u"He"); }},
        {"named property whose entry is out of range",
         [](StorageEntry& root) {
             // Entry 1 (0x8001, "Keywords") points past the GUID stream.
             Bytes& entries = child(child(root, u"__nameid_version1.0"), u"__substg1.0_00030102").data;
             entries[8 + 4] = static_cast<uint8_t>(9 << 1 | 1);
         },
         {"property 0x80010003: its named-property entry cannot be read (its GUID index is out of range)",
          "attachment 1: embedded message: property 0x80010003: its named-property entry cannot be read (its GUID "
          "index is out of range)"},
         [](const Message& m) {
             EXPECT_EQ(m.props.findTag(makeTag(0x8001, PT_LONG)), nullptr);
             EXPECT_TRUE(prop(m.props, makeTag(0x8000, PT_UNICODE)).name);
         }},
        {"recipient without its property stream",
         [](StorageEntry& root) { removeChild(child(root, u"__recip_version1.0_#00000001"), u"__properties_version1.0"); },
         {"recipient 1: no property stream: only the values of its own streams are kept"},
         [](const Message& m) {
             ASSERT_EQ(m.recipients.size(), 2u);
             EXPECT_EQ(prop(m.recipients[1].props, makeTag(PidTagDisplayName, PT_UNICODE)).asUnicode(), u"Cy");
             EXPECT_FALSE(m.recipients[1].props.getInt32(PidTagRecipientType));
         }},
        {"recipient storage with nothing in it",
         [](StorageEntry& root) { child(root, u"__recip_version1.0_#00000000").children.clear(); },
         {"recipient 0: no property stream and no values: left out"},
         [](const Message& m) {
             ASSERT_EQ(m.recipients.size(), 1u);
             EXPECT_EQ(prop(m.recipients[0].props, makeTag(PidTagDisplayName, PT_UNICODE)).asUnicode(), u"Cy");
         }},
        {"recipient value stream missing",
         [](StorageEntry& root) { removeChild(child(root, u"__recip_version1.0_#00000001"), u"__substg1.0_3001001F"); },
         {"recipient 1: property 0x3001001F: the value stream is missing (6 bytes)"},
         [](const Message& m) {
             ASSERT_EQ(m.recipients.size(), 2u);
             EXPECT_EQ(m.recipients[1].props.getInt32(PidTagRecipientType), 2);
         }},
        {"attachment without its property stream",
         [](StorageEntry& root) { removeChild(child(root, u"__attach_version1.0_#00000000"), u"__properties_version1.0"); },
         {"attachment 0: no property stream: only the values of its own streams are kept"},
         [](const Message& m) {
             ASSERT_EQ(m.attachments.size(), 3u);
             EXPECT_EQ(prop(m.attachments[0].props, makeTag(PidTagAttachDataBinary, PT_BINARY)).data.size(), 10000u);
             EXPECT_EQ(prop(m.attachments[0].props, makeTag(PidTagAttachLongFilename, PT_UNICODE)).asUnicode(), u"big.bin");
         }},
        {"embedded message without its property stream",
         [](StorageEntry& root) {
             removeChild(child(child(root, u"__attach_version1.0_#00000001"), u"__substg1.0_3701000D"), u"__properties_version1.0");
         },
         {"attachment 1: embedded message: no property stream: only the values of its own streams are kept"},
         [](const Message& m) {
             ASSERT_EQ(m.attachments.size(), 3u);
             ASSERT_TRUE(m.attachments[1].embedded);
             const Message& inner = *m.attachments[1].embedded;
             EXPECT_EQ(prop(inner.props, makeTag(PidTagSubject, PT_UNICODE)).asUnicode(), u"Inner");
             EXPECT_EQ(inner.recipients.size(), 1u);
             EXPECT_EQ(inner.attachments.size(), 1u);
             EXPECT_TRUE(inner.warnings.empty());  // told on the top-level message
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StorageEntry root = wholeMessage().build();
        c.fault(root);
        auto r = readMsg(writeFile(root));
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_EQ(r->warnings, c.warnings);
        c.check(*r);
        // The rest of the message is there.
        EXPECT_EQ(r->codepage(), 1251u);
        EXPECT_EQ(r->props.getInt32(PidTagMessageFlags), 0x11);
        EXPECT_EQ(r->attachments.size(), 3u);
        if (c.what != std::string("value stream shorter than its entry says")) {
            EXPECT_EQ(prop(r->props, subject).asUnicode(), u"Hello");
        }
    }
    {
        // A value stream whose sectors cannot be read: the property is left
        // out, the attachment stays.
        const Bytes good = wholeMessage().file();
        auto cf = cfb::CompoundFile::open(good);
        ASSERT_TRUE(cf.ok());
        const uint32_t att = *cf->find(0, u"__attach_version1.0_#00000000");
        const uint32_t data = *cf->find(att, u"__substg1.0_37010102");
        Bytes bad = good;
        storeLE32(bad.data() + (uint64_t(loadLE32(good.data() + 48)) + 1) * 512 + data * 128 + 116, 0x00FFFFFF);
        auto r = readMsg(bad);
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_EQ(r->warnings, std::vector<std::string>{"attachment 0: property 0x37010102: the value stream cannot be read "
                                                        "(compound file: stream: sector 0x00FFFFFF is out of range)"});
        ASSERT_EQ(r->attachments.size(), 3u);
        EXPECT_EQ(r->attachments[0].props.findTag(makeTag(PidTagAttachDataBinary, PT_BINARY)), nullptr);
        EXPECT_EQ(r->attachments[0].props.getInt32(PidTagAttachMethod), afByValue);
    }
    {
        // A hostile file cannot make the list of warnings grow without bound.
        MessageBuilder m;
        for (uint16_t i = 0; i < 1000; ++i) m.fixed(makeTag(static_cast<uint16_t>(0x8000 + i), PT_LONG), i);
        auto r = readBuilt(m);
        ASSERT_TRUE(r.ok()) << r.error().description;
        ASSERT_EQ(r->warnings.size(), 65u);
        EXPECT_EQ(r->warnings.back(), "and 936 more warnings");
    }
}

// What cannot be salvaged is refused with a clear error: a file that is not
// a compound file, one whose FAT or directory cannot be read, and one with
// no message in it.
TEST(MsgReader, RefusesFilesThatAreNotMessages) {
    const Bytes good = wholeMessage().file();
    struct Case {
        const char* what;
        std::function<void(Bytes&)> fault;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"not a compound file", [](Bytes& b) { b = {'h', 'e', 'l', 'l', 'o'}; }, "compound file: the file is too short"},
        {"a text file", [](Bytes& b) { std::fill(b.begin(), b.end(), 'x'); }, "compound file: bad signature"},
        {"a FAT sector out of range", [](Bytes& b) { storeLE32(b.data() + 76, 0x00FFFFF0); },
         "compound file: FAT sector 0x00FFFFF0 is out of range"},
        {"a directory chain out of range", [](Bytes& b) { storeLE32(b.data() + 48, 0x00FFFFF0); }, "compound file: directory"},
    };
    for (const auto& c : cases) {
        Bytes b = good;
        c.fault(b);
        auto r = readMsg(b);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.error().number, err::kCorrupt) << c.what;
        EXPECT_EQ(r.error().description.rfind(c.expect, 0), 0u) << c.what << ": " << r.error().description;
    }
    StorageEntry root = wholeMessage().build();
    removeChild(root, u"__properties_version1.0");
    auto r = readMsg(writeFile(root));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, err::kCorrupt);
    EXPECT_EQ(r.error().description, "not an Outlook message: the file has no __properties_version1.0 stream");
}

TEST(MsgReader, RefusesEmbeddingBeyondItsBound) {
    auto nest = [](int levels) {
        MessageBuilder inner;
        inner.unicode(makeTag(PidTagSubject, PT_UNICODE), "deepest");
        StorageEntry cur = inner.buildEmbedded();
        for (int i = 1; i < levels; ++i) {
            MessageBuilder m;
            MessageBuilder::Att a;
            a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afEmbeddedMessage);
            a.extra.push_back(cur);
            m.attachments.push_back(a);
            cur = m.buildEmbedded();
        }
        MessageBuilder top;
        MessageBuilder::Att a;
        a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afEmbeddedMessage);
        a.extra.push_back(cur);
        top.attachments.push_back(a);
        return writeFile(top.build());
    };
    auto ok = readMsg(nest(kMaxEmbeddingDepth));
    ASSERT_TRUE(ok.ok()) << ok.error().description;
    const Message* m = &*ok;
    int depth = 0;
    while (!m->attachments.empty() && m->attachments[0].embedded) {
        m = m->attachments[0].embedded.get();
        ++depth;
    }
    EXPECT_EQ(depth, kMaxEmbeddingDepth);
    auto tooDeep = readMsg(nest(kMaxEmbeddingDepth + 1));
    ASSERT_FALSE(tooDeep.ok());
    EXPECT_NE(tooDeep.error().description.find("nested more than 32 deep"), std::string::npos) << tooDeep.error().description;
}

TEST(MsgReader, ScrambledCopiesNeverCrash) {
    const Bytes good = goodMessage().file();
    uint32_t x = 99;
    for (int round = 0; round < 400; ++round) {
        Bytes b = good;
        for (int k = 0; k < 6; ++k) {
            x = x * 1103515245u + 12345u;
            b[(x >> 8) % b.size()] = static_cast<uint8_t>(x >> 24);
        }
        (void)readMsg(b);
    }
    for (size_t cut = 0; cut < good.size(); cut += 211) (void)readMsg(ByteSpan(good).first(cut));
}

// A property stream of 1 MiB holds 65,536 entries. Entries of one type that
// differ only in their id, and repeats of one tag, must not make reading
// quadratic: this input once took minutes.
TEST(MsgReader, LongPropertyStreamsOfOneTypeReadInLinearTime) {
    MessageBuilder m;
    const uint32_t count = 60000;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t id = static_cast<uint16_t>(0x1000 + i);
        m.fixed(makeTag(id, PT_LONG), i);
        if (isNamedId(id)) m.nameNumeric(1, static_cast<uint16_t>(id - 0x8000), id);  // named: must have a name
    }
    for (uint32_t i = 0; i < 4000; ++i) m.fixed(makeTag(0x1000, PT_LONG), 0);  // repeats: the first counts
    auto r = readMsg(m.file());
    ASSERT_TRUE(r.ok()) << r.error().description;
    ASSERT_EQ(r->props.items().size(), count);
    EXPECT_EQ(r->props.items()[count - 1].tag, makeTag(static_cast<uint16_t>(0x1000 + count - 1), PT_LONG));
}

TEST(MsgReader, OpensFilesReadOnlyAndReportsMissingOnes) {
    auto r = readMsgFile("/nonexistent/dir/x.msg");
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().number, err::kFileNotFound);
}

}  // namespace
}  // namespace tavrin::store::oxmsg
