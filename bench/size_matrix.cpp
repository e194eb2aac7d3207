// size_matrix: writes the message-file trees of the reader size matrix, the
// stores at which a PST reader that follows Outlook's block layout first
// meets a second data block, a second row-matrix block or an XBLOCK:
//
//   nNNNNN   one folder holding N messages: N = 1..300, 500, 1000, 4800, 10000
//   rNNNN    one message with 1, 100, 786 or 2000 recipients
//   a300     one message with 300 attachments
//   f5000    5000 folders side by side, one message in each
//   vNNNNN   a plain body, an attachment and a binary PR_HTML of 8175, 8176,
//            8177, 65535, 65536 and 65537 bytes (the body is UTF-16, so an
//            odd size is taken one byte further from the boundary)
//
// Usage: size_matrix OUTDIR
// OUTDIR/stores.tsv lists each store (id, group, messages, folders, what it
// holds); OUTDIR/<id>/ is the tree to convert. The N-message folders share one
// pool of messages through hard links, so the whole matrix takes about
// 150 MB. Every message carries its subject, sender, recipients, a body and,
// except in the recipient stores, at least one attachment.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/synthetic_msg.h"

namespace fs = std::filesystem;
using namespace tavrin;
using namespace tavrin::bench;
using namespace tavrin::store;

namespace {

struct Recipient {
    int type;  // MAPI_TO 1, MAPI_CC 2, MAPI_BCC 3
    std::string name, address;
};
struct Attachment {
    std::string name;
    Bytes data;
};
struct Shape {
    std::string subject;
    std::string body;
    std::string html;  // stored as binary PR_HTML when not empty
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
};

Bytes messageFile(const Shape& s, uint32_t seq) {
    using namespace tags;
    Object m;
    m.text(makeTag(PidTagSubject, PT_UNICODE), s.subject);
    m.text(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note");
    m.text(makeTag(PidTagSenderName, PT_UNICODE), "Alice Example");
    m.text(makeTag(0x0C1E, PT_UNICODE), "SMTP");  // PidTagSenderAddressType
    m.text(makeTag(PidTagSenderEmailAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagSenderSmtpAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagBody, PT_UNICODE), s.body);
    if (!s.html.empty()) m.variable(makeTag(PidTagHtml, PT_BINARY), Bytes(s.html.begin(), s.html.end()));
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), s.attachments.empty() ? 0x01 : 0x11);
    m.fixed(makeTag(PidTagInternetCodepage, PT_LONG), 65001);
    m.fixed(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 0x01D7000000000000ull + 10000000ull * seq);
    m.fixed(makeTag(PidTagMessageDeliveryTime, PT_SYSTIME), 0x01D7000000000000ull + 10000000ull * (seq + 60));
    StorageEntry root;
    root.isStorage = true;
    root.name = u"Root Entry";
    for (size_t i = 0; i < s.recipients.size(); ++i) {
        const Recipient& r = s.recipients[i];
        Object rc;
        rc.fixed(makeTag(PidTagRecipientType, PT_LONG), static_cast<uint64_t>(r.type));
        rc.text(makeTag(PidTagDisplayName, PT_UNICODE), r.name);
        rc.text(makeTag(PidTagEmailAddress, PT_UNICODE), r.address);
        rc.text(makeTag(PidTagAddressType, PT_UNICODE), "SMTP");
        root.children.push_back(rc.storage("__recip_version1.0_#" + hex8(static_cast<uint32_t>(i)), 8));
    }
    for (size_t i = 0; i < s.attachments.size(); ++i) {
        Object a;
        a.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
        a.text(makeTag(PidTagAttachLongFilename, PT_UNICODE), s.attachments[i].name);
        a.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), s.attachments[i].data);
        root.children.push_back(a.storage("__attach_version1.0_#" + hex8(static_cast<uint32_t>(i)), 8));
    }
    StorageEntry top = m.storage("", 32, static_cast<uint32_t>(s.recipients.size()),
                                 static_cast<uint32_t>(s.attachments.size()));
    for (auto& c : top.children) root.children.push_back(std::move(c));
    auto b = cfb::writeCompoundFile(root);
    if (!b.ok()) {
        std::fprintf(stderr, "size_matrix: cannot write message '%s'\n", s.subject.c_str());
        std::exit(1);
    }
    return std::move(b).value();
}

void writeFile(const fs::path& p, const Bytes& b) {
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    if (!f) {
        std::fprintf(stderr, "size_matrix: cannot write %s\n", p.string().c_str());
        std::exit(1);
    }
}

Bytes randomBytes(Rng& r, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(r.next());
    return b;
}

std::string padded(int v, int width) {
    std::string s = std::to_string(v);
    return std::string(width > static_cast<int>(s.size()) ? width - s.size() : 0, '0') + s;
}

// An ordinary small message: two recipients, a short body, one attachment.
Shape ordinary(Rng& r, const std::string& subject) {
    Shape s;
    s.subject = subject;
    s.body = words(r, 200 + r.next() % 300);
    s.recipients = {{1, "Bob Builder", "bob@example.org"}, {2, "Carol Jones", "carol@example.net"}};
    s.attachments.push_back({"notes.bin", randomBytes(r, 1 + r.next() % 400)});
    return s;
}

// ASCII text of exactly n bytes.
std::string asciiOf(Rng& r, size_t n) {
    std::string s;
    while (s.size() < n) s += "value " + std::to_string(r.next() % 100000) + (r.next() % 10 ? " " : "\r\n");
    s.resize(n);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: size_matrix OUTDIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    if (fs::exists(out) && !fs::is_empty(out)) {
        std::fprintf(stderr, "size_matrix: %s exists and is not empty\n", out.string().c_str());
        return 2;
    }
    fs::create_directories(out);
    std::ofstream tsv(out / "stores.tsv");
    tsv << "id\tgroup\tmessages\tfolders\tholds\n";
    Rng r{12};
    uint32_t seq = 0;

    // The pool behind the N-message folders.
    const int poolSize = 10000;
    for (int i = 1; i <= poolSize; ++i)
        writeFile(out / "pool" / ("m" + padded(i, 5) + ".msg"), messageFile(ordinary(r, "Pool message " + std::to_string(i)), ++seq));
    std::vector<int> ns;
    for (int n = 1; n <= 300; ++n) ns.push_back(n);
    for (int n : {500, 1000, 4800, 10000}) ns.push_back(n);
    for (int n : ns) {
        const std::string id = "n" + padded(n, 5);
        fs::create_directories(out / id);
        for (int i = 1; i <= n; ++i) {
            const std::string name = "m" + padded(i, 5) + ".msg";
            fs::create_hard_link(out / "pool" / name, out / id / name);
        }
        tsv << id << "\tmessages in one folder\t" << n << "\t1\t" << n << " messages in one folder\n";
    }

    for (int count : {1, 100, 786, 2000}) {
        Shape s;
        s.subject = std::to_string(count) + " recipients";
        s.body = words(r, 300);
        static const char* const names[] = {"Émile Zola", "Zoë Müller", "李 明", "Bob Builder"};
        for (int i = 0; i < count; ++i)
            s.recipients.push_back({1 + i % 3, std::string(names[i % 4]) + " " + std::to_string(i),
                                    "person" + std::to_string(i) + "@example.com"});
        const std::string id = "r" + padded(count, 4);
        writeFile(out / id / "message.msg", messageFile(s, ++seq));
        tsv << id << "\trecipients\t1\t1\tone message with " << count << " recipients\n";
    }

    {
        Shape s = ordinary(r, "300 attachments");
        s.attachments.clear();
        for (int i = 0; i < 300; ++i)
            s.attachments.push_back({"file " + padded(i, 3) + ".bin", randomBytes(r, 1 + (r.next() % 3000))});
        writeFile(out / "a300" / "message.msg", messageFile(s, ++seq));
        tsv << "a300\tattachments\t1\t1\tone message with 300 attachments\n";
    }

    for (int i = 1; i <= 5000; ++i)
        writeFile(out / "f5000" / ("Folder " + padded(i, 4)) / "message.msg",
                  messageFile(ordinary(r, "In folder " + std::to_string(i)), ++seq));
    tsv << "f5000\tfolders\t5000\t5000\t5000 folders with one message each\n";

    for (size_t size : {8175u, 8176u, 8177u, 65535u, 65536u, 65537u}) {
        const size_t boundary = size < 20000 ? 8176 : 65536;
        const size_t chars = size % 2 == 0 ? size / 2 : (size < boundary ? (size - 1) / 2 : (size + 1) / 2);
        const std::string id = "v" + padded(static_cast<int>(size), 5);
        Shape body = ordinary(r, "Body of " + std::to_string(chars * 2) + " bytes");
        body.body = asciiOf(r, chars);
        Shape att = ordinary(r, "Attachment of " + std::to_string(size) + " bytes");
        att.attachments = {{"data " + std::to_string(size) + ".bin", randomBytes(r, size)}};
        Shape html = ordinary(r, "HTML of " + std::to_string(size) + " bytes");
        html.html = "<html><body>" + asciiOf(r, size - 26) + "</body></html>";
        writeFile(out / id / "body.msg", messageFile(body, ++seq));
        writeFile(out / id / "attachment.msg", messageFile(att, ++seq));
        writeFile(out / id / "html.msg", messageFile(html, ++seq));
        tsv << id << "\tvalues\t3\t1\tbody of " << chars * 2 << " bytes (UTF-16), attachment and binary PR_HTML of "
            << size << " bytes\n";
    }
    std::printf("size_matrix: wrote %s\n", out.string().c_str());
    return 0;
}
