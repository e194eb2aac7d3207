// Writes the fuzz targets' seed files: small stores from our own PST writer
// (for fuzz_pst) and small message files (for fuzz_msg and fuzz_import).
//
//   make_fuzz_seeds DIR    writes DIR/pst/*.pst and DIR/msg/*.msg
//
// The output is the same on every run (fixed time, record keys and names),
// so the files kept in tests/fuzz/seeds change only when the writer does.
// A store is cut after its last non-zero bytes: the writer extends a file
// to the end of its 248 KiB allocation-map section, and those zeros would
// only slow every run of the fuzzer down (the reader and the verifier read
// what the header points at; the missing tail is one finding). Each seed
// must stay within 64 KiB, the fuzzer's input limit.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/tags.h"
#include "store/message_files.h"
#include "store/msg/msg_builder.h"
#include "store/pst/messaging/store_writer.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace t = tavrin::store::tags;
namespace m = tavrin::pst::messaging;
namespace fsys = std::filesystem;

constexpr size_t kMaxSeed = 64 * 1024;
int failures = 0;

void save(const fsys::path& p, const Bytes& b) {
    if (b.empty() || b.size() > kMaxSeed) {
        std::fprintf(stderr, "%s: %zu bytes (must be 1 to %zu)\n", p.string().c_str(), b.size(), kMaxSeed);
        ++failures;
        return;
    }
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    std::printf("%s: %zu bytes\n", p.string().c_str(), b.size());
}

// ---- messages in memory ----

Property uni(uint16_t id, const std::string& utf8) { return Property::unicodeUtf8(makeTag(id, PT_UNICODE), utf8); }

Recipient recipient(int type, const std::string& name, const std::string& address) {
    Recipient r;
    r.props.set(Property::int32(makeTag(t::PidTagRecipientType, PT_LONG), type));
    r.props.set(uni(t::PidTagDisplayName, name));
    r.props.set(uni(t::PidTagAddressType, "SMTP"));
    r.props.set(uni(t::PidTagEmailAddress, address));
    return r;
}

Message mail(const std::string& subject, const std::string& body = "Hello.\r\n") {
    Message msg;
    msg.props.set(uni(t::PidTagMessageClass, "IPM.Note"));
    msg.props.set(uni(t::PidTagSubject, subject));
    msg.props.set(uni(t::PidTagBody, body));
    msg.props.set(uni(t::PidTagSenderName, "Alice Example"));
    msg.props.set(uni(t::PidTagSenderEmailAddress, "alice@example.com"));
    msg.props.set(Property::int32(makeTag(t::PidTagMessageFlags, PT_LONG), t::MSGFLAG_READ));
    msg.props.set(Property::systime(makeTag(t::PidTagClientSubmitTime, PT_SYSTIME), 0x01DA000000000000ull));
    msg.recipients.push_back(recipient(1, "Bob Builder", "bob@example.org"));
    msg.recipients.push_back(recipient(2, "Carol Jones", "carol@example.net"));
    return msg;
}

Attachment file(const std::string& name, Bytes data) {
    Attachment a;
    a.props.set(Property::int32(makeTag(t::PidTagAttachMethod, PT_LONG), t::afByValue));
    a.props.set(uni(t::PidTagAttachLongFilename, name));
    a.props.set(Property::binary(makeTag(t::PidTagAttachDataBinary, PT_BINARY), std::move(data)));
    return a;
}

Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(seed >> 16);
    }
    return b;
}

// ---- stores ----

class Store {
public:
    explicit Store(uint8_t cryptMethod = 0x01) {
        m::StoreOptions o;
        o.displayName = "Seed";
        o.now = 0x01DB000000000000ull;
        o.random = [seed = uint32_t(7)](uint8_t* p, size_t n) mutable {
            for (size_t i = 0; i < n; ++i) {
                seed = seed * 1103515245u + 12345u;
                p[i] = static_cast<uint8_t>(seed >> 16);
            }
        };
        o.storage = [](const StorageEntry& e) { return writeStorageAsCompoundFile(e); };
        o.ndb.cryptMethod = cryptMethod;
        o.ndb.dwUnique = 0x5EED;
        auto w = m::PstWriter::create(out_, scratch_, std::move(o));
        if (w.ok()) writer_ = std::move(*w);
        else ++failures;
    }
    m::PstWriter& w() { return *writer_; }
    uint32_t ipm() { return *writer_->folderByRole(m::FolderRole::IpmSubtree); }
    void add(uint32_t folder, const Message& msg) {
        if (!writer_->addMessage(folder, msg).ok()) ++failures;
    }
    uint32_t folder(uint32_t parent, const std::string& name) {
        auto f = writer_->addFolder(parent, name, "IPF.Note");
        if (!f.ok()) {
            ++failures;
            return parent;
        }
        return *f;
    }
    // The finished file without its trailing zeros (in whole 64-byte units).
    Bytes finish() {
        if (!writer_ || !writer_->finish().ok()) {
            ++failures;
            return {};
        }
        Bytes b = out_.bytes();
        size_t end = b.size();
        while (end > 0 && b[end - 1] == 0) --end;
        b.resize(std::min(b.size(), (end + 63) / 64 * 64));
        return b;
    }

private:
    fs::FailingSink out_{std::numeric_limits<uint64_t>::max()};
    fs::FailingSink scratch_{std::numeric_limits<uint64_t>::max()};
    std::unique_ptr<m::PstWriter> writer_;
};

void pstSeeds(const fsys::path& dir) {
    fsys::create_directories(dir);
    {
        Store s;
        save(dir / "empty.pst", s.finish());
    }
    {
        Store s;
        if (!s.w().validateIpmTree().ok()) ++failures;
        save(dir / "standard-folders.pst", s.finish());
    }
    {
        // Messages with named properties (the name-to-id map), 8-bit text
        // and an HTML body.
        Store s;
        Message a = mail("First");
        Property named = Property::int32(makeTag(0x8000, PT_LONG), 5);
        named.name = NamedPropName{PS_PUBLIC_STRINGS, true, 0, u"Keywords"};
        a.props.set(named);
        Property lid = Property::int32(makeTag(0x8001, PT_LONG), 1);
        lid.name = NamedPropName{PS_MAPI, false, 0x8520, {}};
        a.props.set(lid);
        s.add(s.ipm(), a);
        Message b = mail("Second");
        b.props.set(Property::int32(makeTag(t::PidTagMessageCodepage, PT_LONG), 1251));
        Property s8;
        s8.tag = makeTag(t::PidTagSenderName, PT_STRING8);
        s8.data = {0xCF, 0xE5, 0xF2, 0xFF};
        b.props.set(s8);
        b.props.set(Property::binary(makeTag(t::PidTagHtml, PT_BINARY), Bytes{'<', 'p', '>', 'h', 'i', '<', '/', 'p', '>'}));
        s.add(s.ipm(), b);
        s.add(s.ipm(), mail("Third", ""));
        save(dir / "messages.pst", s.finish());
    }
    {
        // A file attachment, an OLE storage and an embedded message that
        // has an attachment of its own.
        Store s;
        Message msg = mail("Attachments");
        msg.attachments.push_back(file("data.bin", pattern(3000, 1)));
        Attachment ole;
        ole.props.set(Property::int32(makeTag(t::PidTagAttachMethod, PT_LONG), t::afStorage));
        ole.storage = std::make_unique<StorageEntry>(
            testing::storageEntry("Root Entry", {testing::streamEntry("CONTENTS", pattern(600, 2))}));
        msg.attachments.push_back(std::move(ole));
        Attachment embedded;
        embedded.props.set(Property::int32(makeTag(t::PidTagAttachMethod, PT_LONG), t::afEmbeddedMessage));
        embedded.props.set(uni(t::PidTagDisplayName, "Inner"));
        embedded.embedded = std::make_unique<Message>(mail("Inner"));
        embedded.embedded->attachments.push_back(file("inner.txt", Bytes{'x', 'y'}));
        msg.attachments.push_back(std::move(embedded));
        s.add(s.ipm(), msg);
        save(dir / "attachments.pst", s.finish());
    }
    {
        // Folders three deep, with messages at two levels.
        Store s;
        const uint32_t a = s.folder(s.ipm(), "Projects");
        const uint32_t b = s.folder(a, "2024");
        const uint32_t c = s.folder(b, "Q1");
        s.folder(a, "Archive");
        s.add(b, mail("In 2024"));
        s.add(c, mail("In Q1"));
        save(dir / "folders.pst", s.finish());
    }
    {
        // Values that need data trees and a table whose rows are in a
        // subnode: a 10,000-byte body, a value of exactly one block and 40
        // recipients.
        Store s;
        Message msg = mail("Large values", std::string(5000, 'b'));
        msg.props.set(Property::binary(makeTag(t::PidTagRtfCompressed, PT_BINARY), pattern(8176, 3)));
        for (int i = 0; i < 38; ++i) msg.recipients.push_back(recipient(1, "R" + std::to_string(i), "r@x.org"));
        s.add(s.ipm(), msg);
        save(dir / "large-values.pst", s.finish());
    }
    {
        // Without encoding, so that the structures are plain in the bytes.
        Store s(0x00);
        s.add(s.ipm(), mail("Plain"));
        save(dir / "plain.pst", s.finish());
    }
}

// ---- message files ----

using testing::MessageBuilder;
using testing::ObjectBuilder;

void msgSeeds(const fsys::path& dir) {
    fsys::create_directories(dir);
    auto write = [&](const char* name, const MessageBuilder& b) { save(dir / name, b.file()); };
    {
        // 8-bit strings in a Cyrillic code page, recipients of each kind.
        MessageBuilder b;
        b.fixed(makeTag(t::PidTagMessageCodepage, PT_LONG), 1251);
        b.string8(makeTag(t::PidTagSubject, PT_STRING8), Bytes{0xCF, 0xF0, 0xE8, 0xE2, 0xE5, 0xF2});
        b.string8(makeTag(t::PidTagBody, PT_STRING8), Bytes{'b', 'o', 'd', 'y', 0});
        b.string8(makeTag(t::PidTagMessageClass, PT_STRING8), Bytes{'I', 'P', 'M', '.', 'N', 'o', 't', 'e'});
        for (int i = 1; i <= 3; ++i) {
            ObjectBuilder r;
            r.fixed(makeTag(t::PidTagRecipientType, PT_LONG), i);
            r.string8(makeTag(t::PidTagDisplayName, PT_STRING8), Bytes{'R', static_cast<uint8_t>('0' + i)});
            r.string8(makeTag(t::PidTagEmailAddress, PT_STRING8), Bytes{'r', '@', 'x'});
            b.recipients.push_back(r);
        }
        write("string8.msg", b);
    }
    {
        // Named properties: numeric and string names, a GUID of the file's
        // own, multi-valued values of each kind.
        MessageBuilder b;
        b.unicode(makeTag(t::PidTagSubject, PT_UNICODE), "Named");
        b.addGuid(Guid{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}});
        b.nameNumeric(1, 0, 0x8520);
        b.nameString(3, 1, "Keywords");
        b.nameString(2, 2, "Category");
        b.unicode(makeTag(0x8000, PT_UNICODE), "numeric");
        b.multiVariable(makeTag(0x8001, PT_UNICODE | MV_FLAG), {testing::utf16le(u"a"), testing::utf16le(u"bc")});
        b.fixed(makeTag(0x8002, PT_BOOLEAN), 1);
        b.multiFixed(makeTag(0x1236, PT_LONG | MV_FLAG), Bytes{1, 0, 0, 0, 2, 0, 0, 0});
        b.multiVariable(makeTag(0x1238, PT_BINARY | MV_FLAG), {Bytes{0xAA}, Bytes{0xBB, 0xCC}});
        write("named.msg", b);
    }
    {
        // An OLE attachment and an HTML body stored as a string.
        MessageBuilder b;
        b.unicode(makeTag(t::PidTagSubject, PT_UNICODE), "OLE");
        b.unicode(makeTag(t::PidTagHtml, PT_UNICODE), "<p>hi</p>");
        MessageBuilder::Att ole;
        ole.props.fixed(makeTag(t::PidTagAttachMethod, PT_LONG), t::afStorage);
        ole.props.fixed(makeTag(t::PidTagAttachDataBinary, PT_OBJECT), 0xFFFFFFFF);
        StorageEntry obj = testing::storageEntry(
            "__substg1.0_3701000D", {testing::streamEntry("\x01" "CompObj", Bytes{1, 2, 3}), testing::streamEntry("CONTENTS", pattern(700, 4))});
        ole.extra.push_back(obj);
        b.attachments.push_back(ole);
        write("ole.msg", b);
    }
    {
        // Damage a salvaging reader must survive: a value stream that is
        // missing, a recipient without its property stream.
        MessageBuilder b;
        b.unicode(makeTag(t::PidTagSubject, PT_UNICODE), "Damaged");
        b.entries.push_back({makeTag(t::PidTagConversationIndex, PT_BINARY), 6, 22});
        ObjectBuilder r;
        r.unicode(makeTag(t::PidTagDisplayName, PT_UNICODE), "No properties");
        b.recipients.push_back(r);
        StorageEntry root = b.build();
        for (auto& c : root.children)
            if (c.name == u"__recip_version1.0_#00000000")
                std::erase_if(c.children, [](const StorageEntry& e) { return e.name == u"__properties_version1.0"; });
        auto bytes = cfb::writeCompoundFile(root);
        if (bytes.ok()) save(dir / "damaged.msg", *bytes);
        else ++failures;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIR\n");
        return 2;
    }
    const fsys::path dir = argv[1];
    pstSeeds(dir / "pst");
    msgSeeds(dir / "msg");
    return failures == 0 ? 0 : 1;
}
