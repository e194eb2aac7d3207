// Internet messages into the shared model: what each header and MIME
// structure becomes, then damaged messages and what is salvaged.
#include <gtest/gtest.h>

#include "fs/text.h"
#include "store/core/tags.h"
#include "store/mime/internet_mail.h"

namespace tavrin::store::mime {
namespace {

namespace t = tags;

Message read(const std::string& eml) {
    auto m = readInternetMessage(ByteSpan(reinterpret_cast<const uint8_t*>(eml.data()), eml.size()));
    EXPECT_TRUE(m.ok()) << (m.ok() ? "" : m.error().description);
    return m.ok() ? std::move(m).value() : Message{};
}

std::string str(const PropertyBag& bag, uint16_t id) {
    const Property* p = bag.find(id);
    return p ? text::toUtf8(p->asUnicode()) : "<none>";
}
std::string bin(const PropertyBag& bag, uint16_t id) {
    const Property* p = bag.find(id);
    return p ? std::string(p->data.begin(), p->data.end()) : "<none>";
}
int64_t num(const PropertyBag& bag, uint16_t id) {
    const Property* p = bag.find(id);
    return p ? static_cast<int64_t>(p->scalar) : -99;
}
std::string joined(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) s += x + "\n";
    return s;
}

const std::string kHead = "From: Ann Example <ann@example.com>\r\nTo: bob@example.com\r\nSubject: Hi\r\n";

TEST(MimeMessage, Envelope) {
    Message m = read(
        "Received: from b by c; Mon, 11 Jul 2016 10:00:00 +0000\r\n"
        "Received: from a by b; Mon, 11 Jul 2016 09:00:00 +0000\r\n"
        "From: =?utf-8?Q?J=C3=B6rg?= <jorg@example.com>\r\n"
        "Sender: Sec <sec@example.com>\r\n"
        "To: Bob <bob@example.com>, carol@example.com\r\n"
        "Cc: Dan <dan@example.com>\r\n"
        "Bcc: eve@example.com\r\n"
        "Reply-To: List <list@example.com>\r\n"
        "Subject: Re: =?utf-8?Q?caf=C3=A9?=\r\n"
        "Date: Sun, 10 Jul 2016 15:29:52 +0000\r\n"
        "Message-ID: <id1@example.com>\r\n"
        "In-Reply-To: <id0@example.com>\r\n"
        "References: <a@x>\r\n <id0@example.com>\r\n"
        "Importance: high\r\nPriority: urgent\r\nSensitivity: Company-Confidential\r\n"
        "\r\nBody\r\n");
    EXPECT_EQ(str(m.props, t::PidTagSubject), "Re: caf\xC3\xA9");
    EXPECT_EQ(str(m.props, t::PidTagSubjectPrefix), "Re: ");
    EXPECT_EQ(str(m.props, t::PidTagNormalizedSubject), "caf\xC3\xA9");
    EXPECT_EQ(str(m.props, t::PidTagSentRepresentingName), "J\xC3\xB6rg");
    EXPECT_EQ(str(m.props, t::PidTagSentRepresentingSmtpAddress), "jorg@example.com");
    EXPECT_EQ(str(m.props, t::PidTagSenderName), "Sec");
    EXPECT_EQ(str(m.props, t::PidTagSenderEmailAddress), "sec@example.com");
    EXPECT_EQ(str(m.props, 0x0C1E), "SMTP");
    EXPECT_EQ(bin(m.props, 0x0C1D), std::string("SMTP:SEC@EXAMPLE.COM\0", 21));
    EXPECT_EQ(str(m.props, 0x0050), "List");
    EXPECT_EQ(num(m.props, t::PidTagClientSubmitTime), 131126381920000000);
    EXPECT_EQ(num(m.props, t::PidTagMessageDeliveryTime), 131127048000000000);  // the topmost Received
    EXPECT_EQ(str(m.props, 0x1035), "<id1@example.com>");
    EXPECT_EQ(str(m.props, 0x1042), "<id0@example.com>");
    EXPECT_EQ(str(m.props, 0x1039), "<a@x> <id0@example.com>");
    EXPECT_EQ(num(m.props, t::PidTagImportance), 2);
    EXPECT_EQ(num(m.props, 0x0026), 1);
    EXPECT_EQ(num(m.props, t::PidTagSensitivity), 3);
    EXPECT_NE(str(m.props, 0x007D).find("Sensitivity: Company-Confidential\r\n"), std::string::npos);
    ASSERT_EQ(m.recipients.size(), 4u);
    const char* expected[][3] = {{"1", "Bob", "bob@example.com"}, {"1", "carol@example.com", "carol@example.com"},
                                 {"2", "Dan", "dan@example.com"}, {"3", "eve@example.com", "eve@example.com"}};
    for (size_t i = 0; i < 4; ++i) {
        const PropertyBag& r = m.recipients[i].props;
        EXPECT_EQ(std::to_string(num(r, t::PidTagRecipientType)), expected[i][0]);
        EXPECT_EQ(str(r, t::PidTagDisplayName), expected[i][1]);
        EXPECT_EQ(str(r, t::PidTagSmtpAddress), expected[i][2]);
        EXPECT_EQ(str(r, t::PidTagAddressType), "SMTP");
    }
    // A one-off entry id ([MS-OXCDATA] 2.2.5.1) with Unicode strings.
    const std::string id = bin(m.recipients[0].props, t::PidTagEntryId);
    const std::string uid("\x81\x2B\x1F\xA4\xBE\xA3\x10\x19\x9D\x6E\x00\xDD\x01\x0F\x54\x02", 16);
    EXPECT_EQ(id.substr(0, 4), std::string(4, '\0'));
    EXPECT_EQ(id.substr(4, 16), uid);
    EXPECT_EQ(id.substr(20, 4), std::string("\0\0\x01\x80", 4));
    EXPECT_EQ(id.substr(24, 8), std::string("B\0o\0b\0\0\0", 8));
}

TEST(MimeMessage, Priorities) {
    const struct {
        const char* header;
        int importance;
    } cases[] = {
        {"Importance: Low", 0}, {"X-Priority: 1 (Highest)", 2}, {"X-Priority: 3", 1}, {"X-Priority: 5", 0},
        {"X-MSMail-Priority: High", 2}, {"Priority: non-urgent", 0}, {"Importance: normal\r\nX-Priority: 1", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(num(read(kHead + c.header + "\r\n\r\nx").props, t::PidTagImportance), c.importance) << c.header;
    EXPECT_EQ(num(read(kHead + "\r\nx").props, t::PidTagImportance), -99);
}

TEST(MimeMessage, SubjectPrefixes) {
    const struct {
        const char* subject;
        const char* prefix;
    } cases[] = {{"Re: x", "Re: "}, {"AW: x", "AW: "}, {"Fwd: x", "Fwd: "}, {"Fwds: x", ""}, {"1: x", ""}, {"Re:x", ""}, {"Re: ", ""}};
    for (const auto& c : cases) {
        Message m = read(std::string("Subject: ") + c.subject + "\r\n\r\n");
        EXPECT_EQ(str(m.props, t::PidTagSubjectPrefix), c.prefix) << c.subject;
    }
}

TEST(MimeMessage, SenderIsFromWhenTheSameOrAbsent) {
    Message m = read("From: Ann <ann@x>\r\nSender: ann@X\r\n\r\n");
    EXPECT_EQ(str(m.props, t::PidTagSenderName), "Ann");
    m = read("From: Ann <ann@x>\r\n\r\n");
    EXPECT_EQ(str(m.props, t::PidTagSenderSmtpAddress), "ann@x");
    EXPECT_EQ(bin(m.props, 0x0C19), bin(m.props, 0x0041));  // the same one-off entry id
}

// The MIME structures and what they give: body, HTML, attachments.
TEST(MimeMessage, Structures) {
    const struct {
        const char* name;
        std::string eml;
        const char* body;
        const char* html;
        const char* attachments;  // "name|mime|size|hidden" each, ';'-separated
    } cases[] = {
        {"plain", kHead + "\r\nline 1\r\nline 2\r\n", "line 1\r\nline 2\r\n", "<none>", ""},
        {"bare LF", "Subject: x\n\nline 1\nline 2\n", "line 1\r\nline 2\r\n", "<none>", ""},
        {"charset", kHead + "Content-Type: text/plain; charset=koi8-r\r\nContent-Transfer-Encoding: 8bit\r\n\r\n\xF0\xD2\xC9",
         "\xD0\x9F\xD1\x80\xD0\xB8", "<none>", ""},
        {"alternative",
         kHead + "Content-Type: multipart/alternative; boundary=b\r\n\r\npreamble\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
                 "text\r\n--b\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                 "<p>caf=C3=A9</p>\r\n--b--\r\nepilogue\r\n",
         "text", "<p>caf\xC3\xA9</p>", ""},
        {"related",
         kHead + "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n"
                 "<img src=\"cid:img1@x\">\r\n--r\r\nContent-Type: image/png\r\nContent-ID: <img1@x>\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\niVBORw==\r\n--r\r\nContent-Type: image/gif; name=\"b.gif\"\r\n"
                 "Content-ID: <unused@x>\r\n\r\nGIF\r\n--r--\r\n",
         "<none>", "<img src=\"cid:img1@x\">", "ATT00001.png|image/png|4|1;b.gif|image/gif|3|0"},
        {"file names",
         kHead + "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                 "--m\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment;\r\n"
                 " filename*0*=utf-8''caf%C3%A9;\r\n filename*1=\".pdf\"\r\n\r\nPDF\r\n"
                 "--m\r\nContent-Type: application/octet-stream; name=\"=?utf-8?Q?r=C3=A9sum=C3=A9.doc?=\"\r\n\r\nDOC\r\n"
                 "--m\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"C:\\\\dir\\\\notes.txt\"\r\n\r\nN\r\n"
                 "--m\r\nContent-Type: text/calendar; method=REQUEST\r\n\r\nBEGIN:VCALENDAR\r\n--m--\r\n",
         "hi", "<none>",
         "caf\xC3\xA9.pdf|application/pdf|3|0;r\xC3\xA9sum\xC3\xA9.doc|application/octet-stream|3|0;"
         "notes.txt|text/plain|1|0;ATT00001.ics|text/calendar|15|0"},
        {"two inline texts joined",
         kHead + "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\none\r\n--m\r\nContent-Type: image/gif\r\n\r\nG\r\n"
                 "--m\r\nContent-Disposition: inline\r\n\r\ntwo\r\n--m--\r\n",
         "one\r\ntwo", "<none>", "ATT00001.gif|image/gif|1|0"},
        {"uuencode",
         kHead + "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: application/octet-stream\r\n"
                 "Content-Transfer-Encoding: x-uuencode\r\n\r\nbegin 644 hi.bin\r\n%:&5L;&\\`\r\n`\r\nend\r\n--m--\r\n",
         "<none>", "<none>", "hi.bin|application/octet-stream|5|0"},
        {"digest",
         kHead + "Content-Type: multipart/digest; boundary=d\r\n\r\n--d\r\n\r\nSubject: inner\r\n\r\nin\r\n--d--\r\n",
         "<none>", "<none>", "inner|message/rfc822|embedded|0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message m = read(c.eml);
        EXPECT_EQ(str(m.props, t::PidTagBody), c.body);
        EXPECT_EQ(str(m.props, t::PidTagHtml), c.html);
        std::string atts;
        for (const Attachment& a : m.attachments) {
            if (!atts.empty()) atts += ";";
            atts += str(a.props, t::PidTagDisplayName) + "|" + str(a.props, t::PidTagAttachMimeTag) + "|" +
                    (a.embedded ? "embedded" : std::to_string(a.props.find(t::PidTagAttachDataBinary)->data.size())) + "|" +
                    std::to_string(a.props.getBool(t::PidTagAttachmentHidden).value_or(false));
        }
        EXPECT_EQ(atts, c.attachments);
    }
}

TEST(MimeMessage, EmbeddedMessage) {
    Message m = read(kHead + "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n\r\nouter\r\n"
                             "--m\r\nContent-Type: message/rfc822\r\n\r\nFrom: in@x\r\nSubject: Inner\r\n"
                             "Content-Type: text/plain; charset=bogus\r\n\r\ninner\r\n--m--\r\n");
    ASSERT_EQ(m.attachments.size(), 1u);
    ASSERT_TRUE(m.attachments[0].embedded);
    EXPECT_EQ(num(m.attachments[0].props, t::PidTagAttachMethod), t::afEmbeddedMessage);
    EXPECT_EQ(str(m.attachments[0].embedded->props, t::PidTagBody), "inner");
    EXPECT_EQ(str(m.attachments[0].embedded->props, t::PidTagSentRepresentingSmtpAddress), "in@x");
    // The embedded message's findings are the outer message's, with where.
    EXPECT_NE(joined(m.warnings).find("attached message 2: the body: unknown charset \"bogus\""), std::string::npos)
        << joined(m.warnings);
    EXPECT_TRUE(m.attachments[0].embedded->warnings.empty());
}

TEST(MimeMessage, EmbeddingIsBounded) {
    std::string eml = "Subject: deepest\r\n\r\nx\r\n";
    for (int i = 0; i < kMaxEmbedding + 3; ++i) eml = "Subject: s\r\nContent-Type: message/rfc822\r\n\r\n" + eml;
    Message m = read(eml);
    int depth = 0;
    const Message* at = &m;
    while (!at->attachments.empty() && at->attachments[0].embedded) {
        at = at->attachments[0].embedded.get();
        ++depth;
    }
    EXPECT_EQ(depth, kMaxEmbedding - 1);
    EXPECT_NE(joined(m.warnings).find("kept as a file"), std::string::npos);
}

TEST(MimeMessage, SMime) {
    Message s = read(kHead + "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=sha-256;"
                             " boundary=s\r\n\r\n--s\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n--s\r\n"
                             "Content-Type: application/pkcs7-signature; name=smime.p7s\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--s--\r\n");
    EXPECT_EQ(str(s.props, t::PidTagMessageClass), "IPM.Note.SMIME.MultipartSigned");
    EXPECT_EQ(str(s.props, t::PidTagBody), "signed text");
    ASSERT_EQ(s.attachments.size(), 1u);
    EXPECT_EQ(str(s.attachments[0].props, t::PidTagAttachLongFilename), "smime.p7m");
    EXPECT_EQ(str(s.attachments[0].props, t::PidTagAttachMimeTag), "multipart/signed");
    const std::string entity = bin(s.attachments[0].props, t::PidTagAttachDataBinary);
    EXPECT_EQ(entity.rfind("Content-Type: multipart/signed;", 0), 0u) << entity;
    EXPECT_NE(entity.find("\r\n\r\n--s\r\nContent-Type: text/plain"), std::string::npos);

    Message e = read(kHead + "Content-Type: application/pkcs7-mime; smime-type=enveloped-data; name=smime.p7m\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nAAECAw==\r\n");
    EXPECT_EQ(str(e.props, t::PidTagMessageClass), "IPM.Note.SMIME");
    ASSERT_EQ(e.attachments.size(), 1u);
    EXPECT_EQ(bin(e.attachments[0].props, t::PidTagAttachDataBinary), std::string("\0\1\2\3", 4));

    // PGP/MIME is no S/MIME: its parts are attachments of an IPM.Note.
    Message p = read(kHead + "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=s\r\n\r\n"
                             "--s\r\n\r\ntext\r\n--s\r\nContent-Type: application/pgp-signature\r\n\r\nSIG\r\n--s--\r\n");
    EXPECT_EQ(str(p.props, t::PidTagMessageClass), "IPM.Note");
    EXPECT_EQ(p.attachments.size(), 1u);
}

TEST(MimeMessage, InternetCodepage) {
    const struct {
        const char* charset;
        int codepage;
    } cases[] = {{"utf-8", 65001}, {"windows-1251", 1251}, {"iso-8859-1", 1252}, {"koi8-r", 65001}, {"iso-8859-2", 65001}};
    for (const auto& c : cases) {
        Message m = read(kHead + "Content-Type: text/html; charset=" + c.charset + "\r\n\r\n<p>x</p>");
        EXPECT_EQ(num(m.props, t::PidTagInternetCodepage), c.codepage) << c.charset;
    }
}

// Every line end of the bodies and the header block becomes CR LF, wherever
// it falls in the text.
TEST(MimeMessage, LineEndsBecomeCrlf) {
    const std::string p(70, 'p');  // past the steps of eight and 64 units
    const struct {
        std::string body, want;
    } cases[] = {
        {"a\r\nb", "a\r\nb"}, {"\na", "\r\na"}, {"a\r", "a\r\n"}, {"a\r\r\nb\n", "a\r\n\r\nb\r\n"},
        {p + "\r\n" + p + "\r\n", p + "\r\n" + p + "\r\n"}, {p + "\n" + p, p + "\r\n" + p}, {p + "\r" + p, p + "\r\n" + p},
        {p + "\r\n\xC3\xA9\r" + p + "\r", p + "\r\n\xC3\xA9\r\n" + p + "\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(read("Subject: x\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + c.body).props, t::PidTagBody), c.want);
    EXPECT_EQ(str(read("Subject: x\nTo: a@x\n\nbody").props, 0x007D), "Subject: x\r\nTo: a@x\r\n");
    EXPECT_EQ(str(read("Subject: x\r\nTo: a@x").props, 0x007D), "Subject: x\r\nTo: a@x\r\n");
}

// Damaged messages: each is read, and the finding says what was wrong.
TEST(MimeMessage, Salvage) {
    const std::string longLine(1200, 'a');
    const struct {
        const char* name;
        std::string eml;
        const char* finding;  // part of a warning
        const char* body;
    } cases[] = {
        {"truncated in the header", "From: a@x\r\nSubject: cut", "ends inside its header", "<none>"},
        {"missing closing boundary",
         kHead + "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nfirst\r\n--b\r\n\r\nlast part",
         "no closing boundary", "first\r\nlast part"},
        {"no boundary at all", kHead + "Content-Type: multipart/mixed; boundary=b\r\n\r\nloose text\r\n",
         "none of its boundaries", "loose text\r\n"},
        {"empty boundary, whose delimiter is \"--\"",
         kHead + "Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n--\r\n\r\nin\r\n--\r\n\r\nlast", "no closing boundary",
         "in\r\nlast"},
        {"bad base64", kHead + "Content-Transfer-Encoding: base64\r\n\r\naGVs*bG8=\r\n", "damaged base64", "hello"},
        {"bad quoted-printable", kHead + "Content-Transfer-Encoding: quoted-printable\r\n\r\na=zz\r\n", "damaged quoted-printable",
         "a=zz\r\n"},
        {"no empty line after the header", "Subject: x\r\nno colon here\r\nmore\r\n", "does not end with an empty line",
         "no colon here\r\nmore\r\n"},
        {"mixed line ends", "Subject: x\r\n\r\none\ntwo\r\n", "line ends are mixed", "one\r\ntwo\r\n"},
        {"long lines", "Subject: x\r\n\r\n" + longLine + "\r\n", "1 line is longer than 998 characters",
         nullptr},
        {"unknown charset", kHead + "Content-Type: text/plain; charset=x-martian\r\n\r\nhi", "unknown charset \"x-martian\"",
         "hi"},
        {"8-bit header", "Subject: caf\xE9\r\n\r\nx", "Subject: 8-bit bytes that are not UTF-8", "x"},
        {"unknown transfer encoding", kHead + "Content-Transfer-Encoding: base9000\r\n\r\nraw", "unknown transfer encoding",
         "raw"},
        {"bad content type", kHead + "Content-Type: garbage\r\n\r\nDATA", "unreadable Content-Type", "<none>"},
        {"bad date", kHead + "Date: someday\r\n\r\nx", "the Date field \"someday\" cannot be read", "x"},
        {"not TNEF", kHead + "Content-Type: application/ms-tnef\r\n\r\nnot tnef", "winmail.dat cannot be decoded", "<none>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Message m = read(c.eml);
        EXPECT_NE(joined(m.warnings).find(c.finding), std::string::npos) << joined(m.warnings);
        if (c.body) {
            EXPECT_EQ(str(m.props, t::PidTagBody), c.body);
        }
    }
    // A sound message has no findings.
    EXPECT_TRUE(read(kHead + "\r\nfine\r\n").warnings.empty());
}

TEST(MimeMessage, NotAMessage) {
    for (std::string bytes : {std::string(), std::string("\r\n\r\nbody only"), std::string("\xFF\xFEH\0i\0", 6),
                              std::string("\xD0\xCF\x11\xE0 binary")}) {
        auto m = readInternetMessage(ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        ASSERT_FALSE(m.ok());
        EXPECT_EQ(m.error().number, err::kCorrupt);
    }
    EXPECT_TRUE(looksLikeInternetMessage(ByteSpan(reinterpret_cast<const uint8_t*>("\xEF\xBB\xBF" "From x\nA: b\n"), 15)));
}

TEST(MimeMessage, DeepMultipartNestingIsBounded) {
    std::string eml = "Subject: deep\r\n";
    for (int i = 0; i < 200; ++i) eml += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" + std::to_string(i) + "\r\n";
    eml += "\r\ntext\r\n";
    Message m = read(eml);
    EXPECT_NE(joined(m.warnings).find("nested more than"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::store::mime
