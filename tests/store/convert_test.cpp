// Message files converted through the store operations: the file verifies
// clean, our reader gets back what the message files held, and, where they
// are installed, libpff's pffexport and libpst's readpst read it too.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "store/core/record.h"
#include "store/message_files.h"
#include "store/msg/msg_builder.h"
#include "store/session.h"
#include "store_test_util.h"

namespace tavrin::store {
namespace {

using namespace testing;
using tavrin::testing::MessageBuilder;
using tavrin::testing::ObjectBuilder;

constexpr uint32_t T(uint16_t id, uint16_t type) { return makeTag(id, type); }

// PSETID_Common {00062008-0000-0000-C000-000000000046}.
const Guid kCommon{{0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

ObjectBuilder recipientObject(int type, const std::string& name, const std::string& address) {
    ObjectBuilder r;
    r.fixed(T(t::PidTagRecipientType, PT_LONG), static_cast<uint64_t>(type));
    r.unicode(T(t::PidTagDisplayName, PT_UNICODE), name);
    r.unicode(T(t::PidTagAddressType, PT_UNICODE), "SMTP");
    r.unicode(T(t::PidTagEmailAddress, PT_UNICODE), address);
    r.unicode(T(t::PidTagSmtpAddress, PT_UNICODE), address);
    return r;
}

void addFile(MessageBuilder& m, const std::string& name, const Bytes& data) {
    MessageBuilder::Att a;
    a.props.fixed(T(t::PidTagAttachMethod, PT_LONG), t::afByValue);
    a.props.unicode(T(t::PidTagAttachLongFilename, PT_UNICODE), name);
    a.props.unicode(T(t::PidTagDisplayName, PT_UNICODE), name);
    a.props.variable(T(t::PidTagAttachDataBinary, PT_BINARY), data);
    m.attachments.push_back(std::move(a));
}

void mailBasics(MessageBuilder& m, const std::string& subject, const std::string& body) {
    m.unicode(T(t::PidTagMessageClass, PT_UNICODE), "IPM.Note");
    m.unicode(T(t::PidTagSubject, PT_UNICODE), subject);
    m.unicode(T(t::PidTagBody, PT_UNICODE), body);
    m.unicode(T(t::PidTagSenderName, PT_UNICODE), "Alice Example");
    m.unicode(T(0x0C1E, PT_UNICODE), "SMTP");
    m.unicode(T(t::PidTagSenderEmailAddress, PT_UNICODE), "alice@example.com");
    m.fixed(T(t::PidTagMessageFlags, PT_LONG), t::MSGFLAG_READ);
    m.fixed(T(t::PidTagClientSubmitTime, PT_SYSTIME), 132530000000000000ull);
}

struct Fixture {
    std::string name;       // file name
    std::string folder;     // source sub-folder ("" = top)
    std::string subject;
    std::string body;
    std::vector<std::pair<std::string, Bytes>> files;
    std::string embeddedSubject;  // empty: none
    Bytes content;          // the .msg file
};

std::string lines(const std::string& word, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += word + " line " + std::to_string(i) + "\r\n";
    return s;
}

// The generated message files: plain, large, with named properties, 8-bit
// strings in a declared code page, several recipient types, by-value
// attachments small and large, and an embedded message with its own
// attachment.
std::vector<Fixture> fixtures() {
    std::vector<Fixture> out;
    {
        Fixture f{"plain.msg", "", "Plain message", "Just a short body.\r\n", {}, {}, {}};
        MessageBuilder m;
        mailBasics(m, f.subject, f.body);
        m.recipients.push_back(recipientObject(1, "Bob Builder", "bob@example.org"));
        f.content = m.file();
        out.push_back(std::move(f));
    }
    {
        Fixture f{"big.msg", "Work", "Large body and attachments", lines("quarterly report", 1500), {}, {}, {}};
        f.files = {{"small.txt", Bytes{'o', 'k', '\n'}}, {"big.bin", patternBytes(300000, 5)}};
        MessageBuilder m;
        mailBasics(m, f.subject, f.body);
        m.recipients.push_back(recipientObject(1, "Bob Builder", "bob@example.org"));
        m.recipients.push_back(recipientObject(1, "Dave", "dave@example.com"));
        m.recipients.push_back(recipientObject(2, "Carol Jones", "carol@example.net"));
        m.recipients.push_back(recipientObject(3, "Eve Hidden", "eve@example.com"));
        // Named properties: a numeric one in PSETID_Common, a string one in
        // PS_PUBLIC_STRINGS.
        m.addGuid(kCommon);
        m.nameNumeric(3, 0, 0x8580);
        m.unicode(T(0x8000, PT_UNICODE), "common value");
        m.nameString(2, 1, "Tavrin-Test");
        m.fixed(T(0x8001, PT_LONG), 4242);
        for (const auto& [n, d] : f.files) addFile(m, n, d);
        f.content = m.file();
        out.push_back(std::move(f));
    }
    {
        // 8-bit strings in code page 1251: "Привет" and "Тест".
        Fixture f{"cyrillic.msg", "Work", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
                  "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82\r\n", {}, {}, {}};
        MessageBuilder m;
        m.string8(T(t::PidTagMessageClass, PT_STRING8), Bytes{'I', 'P', 'M', '.', 'N', 'o', 't', 'e'});
        m.string8(T(t::PidTagSubject, PT_STRING8), Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2});
        m.string8(T(t::PidTagBody, PT_STRING8), Bytes{0xD2, 0xE5, 0xF1, 0xF2, '\r', '\n'});
        m.fixed(T(t::PidTagMessageCodepage, PT_LONG), 1251);
        m.fixed(T(t::PidTagMessageFlags, PT_LONG), t::MSGFLAG_READ);
        m.string8(T(t::PidTagSenderName, PT_STRING8), Bytes{'S', 'e', 'n', 'd', 'e', 'r'});
        m.string8(T(0x0C1E, PT_STRING8), Bytes{'S', 'M', 'T', 'P'});
        m.string8(T(t::PidTagSenderEmailAddress, PT_STRING8), Bytes{'s', '@', 'e', 'x', '.', 'r', 'u'});
        m.recipients.push_back(recipientObject(1, "Olya", "olya@example.ru"));
        // An 8-bit recipient name ("Оля") and attachment file name
        // ("Тест.txt"): in a PST both live in table columns too.
        ObjectBuilder r;
        r.fixed(T(t::PidTagRecipientType, PT_LONG), 2ull);
        r.string8(T(t::PidTagDisplayName, PT_STRING8), Bytes{0xCE, 0xEB, 0xFF});
        r.string8(T(t::PidTagEmailAddress, PT_STRING8), Bytes{'o', '@', 'e', 'x', '.', 'r', 'u'});
        m.recipients.push_back(std::move(r));
        MessageBuilder::Att a;
        a.props.fixed(T(t::PidTagAttachMethod, PT_LONG), t::afByValue);
        a.props.string8(T(t::PidTagAttachLongFilename, PT_STRING8), Bytes{0xD2, 0xE5, 0xF1, 0xF2, '.', 't', 'x', 't'});
        a.props.variable(T(t::PidTagAttachDataBinary, PT_BINARY), Bytes{'1'});
        m.attachments.push_back(std::move(a));
        f.files = {{"\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82.txt", Bytes{'1'}}};
        f.content = m.file();
        out.push_back(std::move(f));
    }
    {
        Fixture f{"outer.msg", "Work/Deep", "Outer message", "See the attached message.\r\n", {}, "Inner message", {}};
        MessageBuilder inner;
        mailBasics(inner, f.embeddedSubject, "Inner body.\r\n");
        inner.recipients.push_back(recipientObject(1, "Bob Builder", "bob@example.org"));
        addFile(inner, "inner.dat", patternBytes(9000, 9));
        MessageBuilder m;
        mailBasics(m, f.subject, f.body);
        m.recipients.push_back(recipientObject(1, "Dave", "dave@example.com"));
        MessageBuilder::Att a;
        a.props.fixed(T(t::PidTagAttachMethod, PT_LONG), t::afEmbeddedMessage);
        a.props.unicode(T(t::PidTagDisplayName, PT_UNICODE), f.embeddedSubject);
        a.extra.push_back(inner.buildEmbedded());
        m.attachments.push_back(std::move(a));
        f.files = {{"outer.txt", Bytes{'x'}}};
        addFile(m, "outer.txt", Bytes{'x'});
        f.content = m.file();
        out.push_back(std::move(f));
    }
    return out;
}

// Writes the fixtures below `src` and converts them into `pst` through the
// store operations, mirroring the folders.
void convert(const sfs::path& src, const std::string& pst, const std::vector<Fixture>& all) {
    RDOSession session;
    auto store = session.LogonPstStore(pst, olStoreUnicode, "Converted");
    ASSERT_TRUE(store.ok()) << store.error().description;
    auto top = (*store)->IPMRootFolder();
    ASSERT_TRUE(top.ok());
    for (const Fixture& f : all) {
        const sfs::path file = src / f.folder / f.name;
        sfs::create_directories(file.parent_path());
        writeText(file, std::string(f.content.begin(), f.content.end()));
        ASSERT_FALSE(f.content.empty()) << f.name;

        std::shared_ptr<RDOFolder> folder = *top;
        std::string rest = f.folder;
        while (!rest.empty()) {
            const size_t slash = rest.find('/');
            const std::string part = rest.substr(0, slash);
            rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
            std::shared_ptr<RDOFolder> next;
            for (const auto& c : folder->Folders().items())
                if (c->Name() == part) next = c;
            if (!next) {
                auto added = folder->Folders().Add(part);
                ASSERT_TRUE(added.ok());
                next = *added;
            }
            folder = next;
        }
        auto item = folder->Items().Add(0);
        ASSERT_TRUE(item.ok());
        ASSERT_TRUE((*item)->Import(file.string(), olMSGUnicode).ok()) << f.name;
        ASSERT_TRUE((*item)->Save().ok()) << f.name;
    }
    ASSERT_TRUE(session.Logoff().ok());
}

const Attachment* byName(const Message& m, const std::string& name) {
    for (const Attachment& a : m.attachments)
        if (utf8Of(a.props.find(t::PidTagAttachLongFilename)) == name) return &a;
    return nullptr;
}

class Converted : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir;
        all_ = new std::vector<Fixture>(fixtures());
        convert(dir_->path() / "src", pstPath(), *all_);
    }
    static void TearDownTestSuite() {
        delete all_;
        delete dir_;
    }
    static std::string pstPath() { return dir_->file("converted.pst"); }
    static ScratchDir* dir_;
    static std::vector<Fixture>* all_;
};
ScratchDir* Converted::dir_ = nullptr;
std::vector<Fixture>* Converted::all_ = nullptr;

TEST_F(Converted, PassesTheVerifier) { expectVerifies(pstPath()); }

TEST_F(Converted, OurReaderGetsBackWhatTheFilesHeld) {
    ReadBack rb = readBack(pstPath());
    for (const Fixture& f : *all_) {
        SCOPED_TRACE(f.name);
        const auto msgs = rb.messages(f.folder);
        const Message* m = nullptr;
        for (const Message& x : msgs)
            if (shownSubject(x) == f.subject) m = &x;
        ASSERT_NE(m, nullptr) << "message not found in \"" << f.folder << "\"";
        EXPECT_EQ(utf8Of(m->props.find(t::PidTagBody)), f.body);
        auto src = readMessageFile((dir_->path() / "src" / f.folder / f.name).string());
        ASSERT_TRUE(src.ok());
        ASSERT_EQ(m->recipients.size(), src->recipients.size());
        for (size_t i = 0; i < m->recipients.size(); ++i) {
            // The source's 8-bit names through its code page.
            EXPECT_EQ(textProperty(m->recipients[i].props, t::PidTagDisplayName, 0),
                      textProperty(src->recipients[i].props, t::PidTagDisplayName, src->codepage(0)));
            EXPECT_EQ(m->recipients[i].props.getInt32(t::PidTagRecipientType),
                      src->recipients[i].props.getInt32(t::PidTagRecipientType));
        }
        for (const auto& [name, data] : f.files) {
            const Attachment* a = byName(*m, name);
            ASSERT_NE(a, nullptr) << name;
            const Property* bin = a->props.find(t::PidTagAttachDataBinary);
            ASSERT_NE(bin, nullptr);
            EXPECT_EQ(bin->data, data) << name;
        }
        const int32_t flags = m->props.getInt32(t::PidTagMessageFlags).value_or(0);
        EXPECT_EQ((flags & t::MSGFLAG_HASATTACH) != 0, !src->attachments.empty());
        if (!f.embeddedSubject.empty()) {
            const Attachment* e = nullptr;
            for (const Attachment& a : m->attachments)
                if (a.embedded) e = &a;
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(shownSubject(*e->embedded), f.embeddedSubject);
            ASSERT_EQ(e->embedded->attachments.size(), 1u);
            EXPECT_EQ(e->embedded->attachments[0].props.find(t::PidTagAttachDataBinary)->data, patternBytes(9000, 9));
        }
    }
}

TEST_F(Converted, StoreComputesAddressingAndKeepsNamedProperties) {
    ReadBack rb = readBack(pstPath());
    const auto msgs = rb.messages("Work");
    const Message* big = nullptr;
    for (const Message& m : msgs)
        if (shownSubject(m) == "Large body and attachments") big = &m;
    ASSERT_NE(big, nullptr);
    // Outlook's display lists: names of each type joined by "; ".
    EXPECT_EQ(utf8Of(big->props.find(t::PidTagDisplayTo)), "Bob Builder; Dave");
    EXPECT_EQ(utf8Of(big->props.find(t::PidTagDisplayCc)), "Carol Jones");
    EXPECT_EQ(utf8Of(big->props.find(t::PidTagDisplayBcc)), "Eve Hidden");
    // Sent by the sender on nobody else's behalf.
    EXPECT_EQ(utf8Of(big->props.find(t::PidTagSentRepresentingEmailAddress)), "alice@example.com");
    EXPECT_EQ(utf8Of(big->props.find(t::PidTagSentRepresentingName)), "Alice Example");
    NamedPropName common;
    common.guid = kCommon;
    common.lid = 0x8580;
    const Property* c = big->props.findNamed(common);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(utf8Of(c), "common value");
    NamedPropName custom;
    custom.guid = PS_PUBLIC_STRINGS;
    custom.isString = true;
    custom.name = u"Tavrin-Test";
    const Property* s = big->props.findNamed(custom);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->asInt32(), 4242);
    // The cyrillic message's 8-bit strings became Unicode through code page 1251.
    const Message* cyr = nullptr;
    for (const Message& m : msgs)
        if (shownSubject(m) == "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82") cyr = &m;
    ASSERT_NE(cyr, nullptr);
    EXPECT_EQ(cyr->props.find(t::PidTagSubject)->type(), PT_UNICODE);
    EXPECT_EQ(cyr->props.find(t::PidTagSenderName)->type(), PT_UNICODE);
    // The recipient table (where a PST keeps recipients) and the attachment.
    ASSERT_EQ(cyr->recipients.size(), 2u);
    const Property* rn = cyr->recipients[1].props.find(t::PidTagDisplayName);
    ASSERT_NE(rn, nullptr);
    EXPECT_EQ(rn->type(), PT_UNICODE);
    EXPECT_EQ(utf8Of(rn), "\xD0\x9E\xD0\xBB\xD1\x8F");
    EXPECT_EQ(cyr->recipients[1].props.find(t::PidTagEmailAddress)->type(), PT_UNICODE);
    ASSERT_EQ(cyr->attachments.size(), 1u);
    const Property* an = cyr->attachments[0].props.find(t::PidTagAttachLongFilename);
    ASSERT_NE(an, nullptr);
    EXPECT_EQ(an->type(), PT_UNICODE);
    EXPECT_EQ(utf8Of(an), "\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82.txt");
}

// ---- independent readers ----

bool haveTool(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<sfs::path> filesNamed(const sfs::path& top, const std::string& name) {
    std::vector<sfs::path> out;
    for (const auto& e : sfs::recursive_directory_iterator(top))
        if (e.is_regular_file() && e.path().filename() == name) out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(Converted, PffexportReadsEveryMessage) {
    if (!haveTool("pffexport")) GTEST_SKIP() << "pffexport (libpff) is not installed";
    const sfs::path target = dir_->path() / "pff";
    ASSERT_EQ(run("pffexport -q -m items -t " + quoted(target.string()) + " " + quoted(pstPath())), 0);
    const sfs::path top = dir_->path() / "pff.export" / "Top of Outlook data file";
    ASSERT_TRUE(sfs::is_directory(top));
    for (const Fixture& f : *all_) {
        SCOPED_TRACE(f.name);
        // The message directory whose headers name the subject.
        const sfs::path where = f.folder.empty() ? top : top / f.folder;
        sfs::path found;
        for (const sfs::path& h : filesNamed(where, "OutlookHeaders.txt"))
            if (h.parent_path().parent_path() == where &&
                readText(h).find("Subject:\t\t\t\t" + f.subject + "\n") != std::string::npos)
                found = h.parent_path();
        ASSERT_FALSE(found.empty()) << "no message in " << where;
        std::string body = readText(found / "Message.txt");
        EXPECT_NE(body.find(f.body.substr(0, f.body.size() - 2)), std::string::npos);
        EXPECT_NE(readText(found / "Recipients.txt").find("Display name:"), std::string::npos);
        for (size_t i = 0; i < f.files.size(); ++i) {
            const sfs::path att = found / "Attachments";
            bool same = false;
            for (const auto& e : sfs::directory_iterator(att))
                if (e.path().filename().string().ends_with("_" + f.files[i].first)) {
                    const std::string got = readText(e.path());
                    same = Bytes(got.begin(), got.end()) == f.files[i].second;
                }
            EXPECT_TRUE(same) << f.files[i].first;
        }
        if (!f.embeddedSubject.empty()) {
            bool inner = false;
            for (const sfs::path& h : filesNamed(found / "Attachments", "OutlookHeaders.txt"))
                inner |= readText(h).find("Subject:\t\t\t\t" + f.embeddedSubject + "\n") != std::string::npos;
            EXPECT_TRUE(inner) << "embedded message not exported";
        }
    }
}

std::string base64Decode(const std::string& in) {
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

// The base64 content of the MIME part whose headers name `filename`.
std::string attachmentOf(const std::string& eml, const std::string& filename) {
    const size_t at = eml.find("filename=\"" + filename + "\"");
    if (at == std::string::npos) return {};
    const size_t start = eml.find("\n\n", at);
    const size_t end = eml.find("\n--", start);
    if (start == std::string::npos || end == std::string::npos) return {};
    return base64Decode(eml.substr(start + 2, end - start - 2));
}

TEST_F(Converted, ReadpstReadsEveryMessage) {
    if (!haveTool("readpst")) GTEST_SKIP() << "readpst (libpst) is not installed";
    const sfs::path out = dir_->path() / "readpst";
    sfs::create_directories(out);
    ASSERT_EQ(run("readpst -q -j 0 -D -e -b -8 -o " + quoted(out.string()) + " " + quoted(pstPath())), 0);
    std::vector<sfs::path> tops;
    for (const auto& e : sfs::directory_iterator(out))
        if (e.is_directory()) tops.push_back(e.path());
    ASSERT_EQ(tops.size(), 1u);
    size_t emls = 0;
    for (const auto& e : sfs::recursive_directory_iterator(tops[0])) emls += e.path().extension() == ".eml";
    EXPECT_EQ(emls, all_->size());
    for (const Fixture& f : *all_) {
        SCOPED_TRACE(f.name);
        if (f.subject.find('\xD0') != std::string::npos) continue;  // readpst writes it RFC 2047-encoded
        std::string eml;
        for (const auto& e : sfs::directory_iterator(tops[0] / f.folder))
            if (e.path().extension() == ".eml") {
                const std::string text = readText(e.path());
                if (text.find("\nSubject: " + f.subject + "\n") != std::string::npos) eml = text;
            }
        ASSERT_FALSE(eml.empty()) << "no message in " << (tops[0] / f.folder);
        EXPECT_NE(eml.find("From: \"Alice Example\" <alice@example.com>"), std::string::npos)
            << "readpst names the sender from the sent-representing address";
        EXPECT_NE(eml.find(f.body.substr(0, f.body.find('\r'))), std::string::npos);
        for (const auto& [name, data] : f.files)
            EXPECT_EQ(attachmentOf(eml, name), std::string(data.begin(), data.end())) << name;
        if (!f.embeddedSubject.empty()) {
            EXPECT_NE(eml.find("Content-Type: message/rfc822"), std::string::npos);
            EXPECT_NE(eml.find("Subject: " + f.embeddedSubject + "\n"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace tavrin::store
