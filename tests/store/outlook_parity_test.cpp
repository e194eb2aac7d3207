// A converted message as Outlook files it: the properties Outlook's store
// keeps, drops or computes, read back from the message and attachment
// property contexts and from the folder's contents-table row.
#include <gtest/gtest.h>

#include <map>

#include "store/core/codepage.h"
#include "store/core/sha256.h"
#include "store/pst/ltp/property_reader.h"
#include "store/session.h"
#include "store_test_util.h"

namespace tavrin::store {
namespace {

using namespace testing;

// One store holding the given messages in the top of its visible tree.
void writeStore(const std::string& path, std::vector<Message>&& messages) {
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Parity");
    ASSERT_TRUE(store.ok()) << store.error().description;
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    for (Message& m : messages) {
        auto item = (*top)->Items().Add(0);
        ASSERT_TRUE(item.ok());
        ASSERT_TRUE((*item)->ImportMessage(std::move(m)).ok());
        ASSERT_TRUE((*item)->Save().ok());
    }
    ASSERT_TRUE(session.Logoff().ok());
}

const Message* bySubject(const std::vector<Message>& msgs, const std::string& subject) {
    for (const Message& m : msgs)
        if (shownSubject(m) == subject) return &m;
    return nullptr;
}

// The contents-table rows of the top folder, by subject.
std::map<std::string, std::vector<Property>> contentsRows(const ReadBack& rb) {
    std::map<std::string, std::vector<Property>> out;
    const auto* top = rb.folder("");
    EXPECT_NE(top, nullptr);
    if (!top) return out;
    const auto& db = rb.reader->database();
    auto node = pst::ndb::Node::open(db, pst::messaging::contentsTableNid(top->folder.nid));
    EXPECT_TRUE(node.ok());
    if (!node.ok()) return out;
    auto tc = pst::ltp::TableContext::open(*node);
    EXPECT_TRUE(tc.ok());
    if (!tc.ok()) return out;
    for (uint32_t i = 0; i < tc->rowCount(); ++i) {
        auto row = tc->row(i);
        EXPECT_TRUE(row.ok());
        if (!row.ok()) continue;
        Message shown;
        shown.props.items() = *row;
        out[shownSubject(shown)] = std::move(*row);
    }
    return out;
}

const Property* cell(const std::vector<Property>& row, uint16_t id) {
    for (const Property& p : row)
        if (p.id() == id) return &p;
    return nullptr;
}

TEST(OutlookParity, AttachmentKeepsItsAccessAndCountsItInItsSize) {
    ScratchDir dir;
    const std::string path = dir.file("access.pst");
    Message m = simpleMessage("attachments");
    Attachment kept = fileAttachment("a.txt", Bytes{'h', 'i'});
    kept.props.set(Property::int32(tagOf(t::PidTagAccess, PT_LONG), 2));
    kept.props.set(Property::int32(tagOf(t::PidTagAttachSize, PT_LONG), 999));  // the source's, recomputed
    m.attachments.push_back(std::move(kept));
    m.attachments.push_back(fileAttachment("b.txt", Bytes{'h', 'i'}));
    m.props.set(Property::int32(tagOf(t::PidTagAccess, PT_LONG), 3));
    std::vector<Message> all;
    all.push_back(std::move(m));
    writeStore(path, std::move(all));
    expectVerifies(path);

    ReadBack rb = readBack(path);
    const auto msgs = rb.messages("");
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].props.find(t::PidTagAccess), nullptr) << "the store computes a message's access";
    ASSERT_EQ(msgs[0].attachments.size(), 2u);
    const PropertyBag& a = msgs[0].attachments[0].props;
    const PropertyBag& b = msgs[0].attachments[1].props;
    EXPECT_EQ(a.getInt32(t::PidTagAccess), 2);
    EXPECT_EQ(b.find(t::PidTagAccess), nullptr) << "no access in the source, none invented";
    // PidTagAttachSize: 4 for itself plus every value: method 4, file name
    // and display name 10 each, data 2, rendering position 4, access 4.
    EXPECT_EQ(a.getInt32(t::PidTagAttachSize), 4 + 4 + 10 + 10 + 2 + 4 + 4);
    EXPECT_EQ(b.getInt32(t::PidTagAttachSize), 4 + 4 + 10 + 10 + 2 + 4);
}

// Outlook's message objects hold no empty display list, no status and no
// RTF sync flag; the status lives in the folder's contents-table row.
TEST(OutlookParity, MessageHoldsNoEmptyListsStatusOrRtfSyncAndTheRowKeepsTheStatus) {
    ScratchDir dir;
    const std::string path = dir.file("lists.pst");
    std::vector<Message> all;
    {
        // Empty lists from the source: Cc has a recipient to name, Bcc none.
        Message m = simpleMessage("empty lists");
        m.props.set(uni(t::PidTagDisplayCc, ""));
        m.props.set(uni(t::PidTagDisplayBcc, ""));
        m.props.set(Property::int32(tagOf(t::PidTagMessageStatus, PT_LONG), 0x1000));
        m.props.set(Property::boolean(tagOf(t::PidTagRtfInSync, PT_BOOLEAN), true));
        all.push_back(std::move(m));
    }
    {
        // Only a Cc recipient: no To list, computed or stored.
        Message m = simpleMessage("cc only");
        m.recipients.erase(m.recipients.begin());
        m.props.set(Property::string8(tagOf(t::PidTagDisplayTo, PT_STRING8), Bytes{0}));
        all.push_back(std::move(m));
    }
    writeStore(path, std::move(all));
    expectVerifies(path);

    ReadBack rb = readBack(path);
    const auto msgs = rb.messages("");
    const auto rows = contentsRows(rb);
    ASSERT_EQ(rows.size(), 2u);
    for (const char* subject : {"empty lists", "cc only"}) {
        SCOPED_TRACE(subject);
        const Message* m = bySubject(msgs, subject);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->props.find(t::PidTagMessageStatus), nullptr);
        EXPECT_EQ(m->props.find(t::PidTagRtfInSync), nullptr);
        EXPECT_EQ(m->props.find(t::PidTagDisplayBcc), nullptr);
        EXPECT_EQ(utf8Of(m->props.find(t::PidTagDisplayCc)), "Carol Jones");
        const auto& row = rows.at(subject);
        const Property* status = cell(row, t::PidTagMessageStatus);
        ASSERT_NE(status, nullptr) << "every row has a status";
        EXPECT_EQ(status->asInt32(), std::string(subject) == "empty lists" ? 0x1000 : 0);
        EXPECT_EQ(utf8Of(cell(row, t::PidTagDisplayCc)), "Carol Jones");
    }
    const Message* ccOnly = bySubject(msgs, "cc only");
    ASSERT_NE(ccOnly, nullptr);
    EXPECT_EQ(ccOnly->props.find(t::PidTagDisplayTo), nullptr);
    EXPECT_EQ(cell(rows.at("cc only"), t::PidTagDisplayTo), nullptr) << "no cell for an empty list";
    EXPECT_EQ(utf8Of(bySubject(msgs, "empty lists")->props.find(t::PidTagDisplayTo)), "Bob Builder");
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// An HTML body given as a string comes back as Outlook keeps it: binary, in
// the message's Internet code page.
TEST(OutlookParity, HtmlStringIsStoredAsBinaryInTheInternetCodepage) {
    ScratchDir dir;
    const std::string path = dir.file("html.pst");
    const uint32_t cpid = tagOf(t::PidTagInternetCodepage, PT_LONG);
    const std::string privet = "<p>\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE2\x82\xAC</p>";  // "Привет €"
    const Bytes privet1251{'<', 'p', '>', 0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2, ' ', 0x88, '<', '/', 'p', '>'};
    auto unicodeHtml = [](const std::string& utf8) {
        return Property::unicodeUtf8(tagOf(t::PidTagHtml, PT_UNICODE), utf8);
    };
    std::vector<Message> all;
    {
        // 8-bit, in code page 1251 for both strings and the Internet form;
        // an embedded message without code pages takes its parent's.
        Message m = simpleMessage("cp1251");
        m.props.set(Property::int32(tagOf(t::PidTagMessageCodepage, PT_LONG), 1251));
        m.props.set(Property::int32(cpid, 1251));
        m.props.set(Property::string8(tagOf(t::PidTagHtml, PT_STRING8), privet1251));
        Attachment a;
        a.props.set(Property::int32(tagOf(t::PidTagAttachMethod, PT_LONG), t::afEmbeddedMessage));
        a.embedded = std::make_unique<Message>(simpleMessage("inner"));
        a.embedded->props.set(unicodeHtml(privet));
        m.attachments.push_back(std::move(a));
        all.push_back(std::move(m));
    }
    {
        Message m = simpleMessage("utf-8");
        m.props.set(Property::int32(cpid, 65001));
        m.props.set(unicodeHtml(privet));
        all.push_back(std::move(m));
    }
    {
        // US-ASCII cannot hold it: UTF-8, and the code page says so.
        Message m = simpleMessage("ascii");
        m.props.set(Property::int32(cpid, 20127));
        m.props.set(unicodeHtml(privet));
        all.push_back(std::move(m));
    }
    {
        // A binary body wins over a string one.
        Message m = simpleMessage("both");
        m.props.set(unicodeHtml("<p>string</p>"));
        m.props.set(Property::binary(tagOf(t::PidTagHtml, PT_BINARY), bytesOf("<p>binary</p>")));
        all.push_back(std::move(m));
    }
    writeStore(path, std::move(all));
    expectVerifies(path);

    ReadBack rb = readBack(path);
    const auto msgs = rb.messages("");
    auto html = [](const Message* m) -> Bytes {
        if (!m) return {};
        const Property* p = m->props.find(t::PidTagHtml);
        EXPECT_NE(p, nullptr);
        if (!p) return {};
        EXPECT_EQ(p->type(), PT_BINARY);
        EXPECT_EQ(m->props.findTag(tagOf(t::PidTagHtml, PT_UNICODE)), nullptr);
        return p->data;
    };
    const Message* cp1251 = bySubject(msgs, "cp1251");
    ASSERT_NE(cp1251, nullptr);
    EXPECT_EQ(html(cp1251), privet1251);
    ASSERT_EQ(cp1251->attachments.size(), 1u);
    ASSERT_NE(cp1251->attachments[0].embedded, nullptr);
    EXPECT_EQ(html(cp1251->attachments[0].embedded.get()), privet1251);
    EXPECT_EQ(html(bySubject(msgs, "utf-8")), bytesOf(privet));
    const Message* ascii = bySubject(msgs, "ascii");
    EXPECT_EQ(html(ascii), bytesOf(privet));
    EXPECT_EQ(ascii->props.getInt32(t::PidTagInternetCodepage), 65001);
    EXPECT_EQ(html(bySubject(msgs, "both")), bytesOf("<p>binary</p>"));
}

// PidTagConversationId: computed into the contents-table row, never in the
// message object (as in every Outlook file with the column).
TEST(OutlookParity, RowCarriesTheConversationIdTheMessageDoesNot) {
    ScratchDir dir;
    const std::string path = dir.file("conversation.pst");
    const uint32_t tracking = tagOf(t::PidTagConversationIndexTracking, PT_BOOLEAN);
    const uint32_t index = tagOf(t::PidTagConversationIndex, PT_BINARY);
    Bytes header{0x01, 0x01, 0xCF, 0x32, 0x61, 0xFE};
    for (uint8_t i = 0; i < 16; ++i) header.push_back(static_cast<uint8_t>(0xA0 + i));
    Bytes reply = header;
    reply.insert(reply.end(), {0x00, 0x00, 0x01, 0x02, 0x03});
    std::vector<Message> all;
    auto add = [&](const std::string& subject, const char* topic, std::optional<bool> tracked, Bytes idx) {
        Message m = simpleMessage(subject);
        if (topic) m.props.set(uni(t::PidTagConversationTopic, topic));
        if (tracked) m.props.set(Property::boolean(tracking, *tracked));
        if (!idx.empty()) m.props.set(Property::binary(index, idx));
        m.props.set(Property::binary(tagOf(t::PidTagConversationId, PT_BINARY), Bytes(16, 0xEE)));  // stale
        all.push_back(std::move(m));
    };
    add("tracked", "Topic", true, header);
    add("tracked reply", "Topic", true, reply);
    // Not tracked, or an index without the header: the topic's MD5.
    add("untracked", "Hello w\xC3\xB6rld \xC4\xB1i", false, header);
    add("bad index", "Fallback topic", true, Bytes(header.begin(), header.begin() + 21));
    add("no topic", nullptr, std::nullopt, {});
    writeStore(path, std::move(all));
    expectVerifies(path);

    ReadBack rb = readBack(path);
    for (const Message& m : rb.messages(""))
        EXPECT_EQ(m.props.find(t::PidTagConversationId), nullptr) << shownSubject(m);
    const auto rows = contentsRows(rb);
    auto id = [&](const char* subject) {
        const Property* c = cell(rows.at(subject), t::PidTagConversationId);
        return c ? toHex(c->data) : std::string("none");
    };
    EXPECT_EQ(id("tracked"), "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    EXPECT_EQ(id("tracked reply"), "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    EXPECT_EQ(id("untracked"), "968814f83c7147a85eaeaf15e9dffe89");  // MD5 of UTF-16LE "HELLO WÖRLD II"
    EXPECT_EQ(id("bad index"), "bd8f9d65c74ce3413767409604b8f09e");  // "FALLBACK TOPIC"
    EXPECT_EQ(id("no topic"), "none");
}

// PidTagPstBodyPrefix (0x6619), which Outlook's store adds to every message
// with a plain-text body: its first 255 characters.
TEST(OutlookParity, StoreKeepsTheBodyPrefixAsOutlookDoes) {
    ScratchDir dir;
    const std::string path = dir.file("prefix.pst");
    const std::string longBody(300, 'x');
    // 254 characters, then U+1F600 as a surrogate pair over the 255th and 256th.
    const std::string pairAtEnd = std::string(254, 'y') + "\xF0\x9F\x98\x80" + "tail";
    std::vector<Message> all;
    {
        Message m = simpleMessage("long", longBody);
        Attachment a;
        a.props.set(Property::int32(tagOf(t::PidTagAttachMethod, PT_LONG), t::afEmbeddedMessage));
        a.embedded = std::make_unique<Message>(simpleMessage("inner", "Short.\r\n"));
        m.attachments.push_back(std::move(a));
        all.push_back(std::move(m));
    }
    all.push_back(simpleMessage("pair", pairAtEnd));
    {
        Message m = simpleMessage("no body");
        m.props.erase(t::PidTagBody);
        all.push_back(std::move(m));
    }
    writeStore(path, std::move(all));
    expectVerifies(path);

    ReadBack rb = readBack(path);
    const auto msgs = rb.messages("");
    auto prefix = [](const Message* m) {
        const Property* p = m ? m->props.find(0x6619) : nullptr;
        return p ? utf8Of(p) : std::string("none");
    };
    const Message* longOne = bySubject(msgs, "long");
    ASSERT_NE(longOne, nullptr);
    EXPECT_EQ(prefix(longOne), longBody.substr(0, 255));
    ASSERT_EQ(longOne->attachments.size(), 1u);
    EXPECT_EQ(prefix(longOne->attachments[0].embedded.get()), "Short.\r\n");
    EXPECT_EQ(prefix(bySubject(msgs, "pair")), std::string(254, 'y')) << "a surrogate pair is not cut";
    EXPECT_EQ(prefix(bySubject(msgs, "no body")), "none");
}

}  // namespace
}  // namespace tavrin::store
