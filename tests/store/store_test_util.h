// Shared helpers of the store operation tests: a scratch directory per test,
// messages built in memory, and reading a written PST back.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fs/text.h"
#include "store/core/message.h"
#include "store/core/tags.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::store::testing {

namespace sfs = std::filesystem;
namespace t = store::tags;

// A directory of its own for each test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::random_device rd;
        path_ = sfs::temp_directory_path() /
                ("tavrin-" + std::string(info ? info->name() : "test") + "-" + std::to_string(rd()));
        sfs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        sfs::remove_all(path_, ec);
    }
    const sfs::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        for (const auto& e : sfs::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    sfs::path path_;
};

inline std::string readText(const sfs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeText(const sfs::path& p, const std::string& s) {
    std::ofstream out(p, std::ios::binary);
    out << s;
}

inline uint32_t tagOf(uint16_t id, uint16_t type) { return makeTag(id, type); }

inline Property uni(uint16_t id, const std::string& utf8) { return Property::unicodeUtf8(tagOf(id, PT_UNICODE), utf8); }

inline Recipient recipient(int type, const std::string& name, const std::string& address) {
    Recipient r;
    r.props.set(Property::int32(tagOf(t::PidTagRecipientType, PT_LONG), type));
    r.props.set(uni(t::PidTagDisplayName, name));
    r.props.set(uni(t::PidTagAddressType, "SMTP"));
    r.props.set(uni(t::PidTagEmailAddress, address));
    return r;
}

inline Attachment fileAttachment(const std::string& name, const Bytes& data) {
    Attachment a;
    a.props.set(Property::int32(tagOf(t::PidTagAttachMethod, PT_LONG), t::afByValue));
    a.props.set(uni(t::PidTagAttachLongFilename, name));
    a.props.set(uni(t::PidTagDisplayName, name));
    a.props.set(Property::binary(tagOf(t::PidTagAttachDataBinary, PT_BINARY), data));
    return a;
}

// Deterministic bytes that do not compress into a repeating pattern.
inline Bytes patternBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<uint8_t>(x);
    }
    return b;
}

// A plain mail: subject, body, sender, two recipients.
inline Message simpleMessage(const std::string& subject, const std::string& body = "Hello.\r\n") {
    Message m;
    m.props.set(uni(t::PidTagMessageClass, "IPM.Note"));
    m.props.set(uni(t::PidTagSubject, subject));
    m.props.set(uni(t::PidTagBody, body));
    m.props.set(uni(t::PidTagSenderName, "Alice Example"));
    m.props.set(uni(0x0C1E, "SMTP"));
    m.props.set(uni(t::PidTagSenderEmailAddress, "alice@example.com"));
    m.props.set(Property::int32(tagOf(t::PidTagMessageFlags, PT_LONG), t::MSGFLAG_READ));
    m.recipients.push_back(recipient(1, "Bob Builder", "bob@example.org"));
    m.recipients.push_back(recipient(2, "Carol Jones", "carol@example.net"));
    return m;
}

inline std::string utf8Of(const Property* p) {
    if (!p) return {};
    if (p->type() == PT_UNICODE) return text::toUtf8(p->asUnicode());
    return std::string(p->data.begin(), p->data.end());
}

// The subject as readers show it: without Outlook's U+0001 prefix marker.
inline std::string shownSubject(const Message& m) {
    std::u16string s = m.props.find(t::PidTagSubject) ? m.props.find(t::PidTagSubject)->asUnicode() : u"";
    if (s.size() >= 2 && s[0] == u'\x01') s = s.substr(2);
    return text::toUtf8(s);
}

// Asserts that the strict verifier finds nothing in the file.
inline void expectVerifies(const std::string& path) {
    auto rep = pst::verify::verifyFile(path);
    ASSERT_TRUE(rep.ok()) << rep.error().description;
    std::string shown;
    for (size_t i = 0; i < rep->findings.size() && i < 20; ++i) shown += rep->findings[i].text() + "\n";
    EXPECT_TRUE(rep->clean()) << rep->totalFindings << " finding(s):\n" << shown;
}

// Folder path ("" = IPM subtree, "Inbox/Old") -> messages, as our reader
// sees the file.
struct ReadBack {
    std::unique_ptr<pst::messaging::PstReader> reader;
    std::vector<pst::messaging::FolderTreeEntry> tree;

    const pst::messaging::FolderTreeEntry* folder(const std::string& path) const {
        for (const auto& f : tree)
            if (f.path == path) return &f;
        return nullptr;
    }
    std::vector<Message> messages(const std::string& path) const {
        std::vector<Message> out;
        if (const auto* f = folder(path))
            for (uint32_t nid : f->folder.messages) {
                auto m = reader->readMessage(nid);
                EXPECT_TRUE(m.ok()) << (m.ok() ? "" : m.error().description);
                if (m.ok()) out.push_back(std::move(*m));
            }
        return out;
    }
};

inline ReadBack readBack(const std::string& path) {
    ReadBack rb;
    auto r = pst::messaging::PstReader::open(path);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().description);
    if (!r.ok()) return rb;
    rb.reader = std::move(*r);
    auto tree = rb.reader->folderTree(rb.reader->ipmSubtree());
    EXPECT_TRUE(tree.ok()) << (tree.ok() ? "" : tree.error().description);
    if (tree.ok()) rb.tree = std::move(*tree);
    return rb;
}

}  // namespace tavrin::store::testing
