// A synthetic corpus of message files for the benchmarks: compound files
// written field by field, with the properties, recipients and attachments of
// ordinary mail, from a seeded generator so that every run sees the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "fs/text.h"
#include "store/core/props.h"
#include "store/core/tags.h"
#include "store/msg/cfb/cfb_writer.h"

namespace tavrin::bench {

using namespace tavrin::store;

struct Rng {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
};

std::string hex8(uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

// One object of a message file: its property stream entries and streams.
struct Object {
    Bytes props;
    std::vector<StorageEntry> streams;
    void fixed(uint32_t tag, uint64_t v) {
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u64(v);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
    }
    void variable(uint32_t tag, Bytes data) {
        const uint64_t extra = tagType(tag) == PT_UNICODE ? 2 : 0;
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u32(static_cast<uint32_t>(data.size() + extra));
        w.u32(0);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
        StorageEntry s;
        s.name = text::toUtf16("__substg1.0_" + hex8(tag));
        s.data = std::move(data);
        streams.push_back(std::move(s));
    }
    void text(uint32_t tag, const std::string& utf8) {
        const std::u16string u = text::toUtf16(utf8);
        Bytes b(u.size() * 2);
        for (size_t i = 0; i < u.size(); ++i) storeLE16(b.data() + 2 * i, u[i]);
        variable(tag, std::move(b));
    }
    // The object as a storage; `header` is the property stream's header size
    // (32 top level, 8 recipients and attachments).
    StorageEntry storage(const std::string& name, size_t header, uint32_t recips = 0, uint32_t atts = 0) const {
        StorageEntry s;
        s.name = text::toUtf16(name);
        s.isStorage = true;
        s.children = streams;
        StorageEntry p;
        p.name = u"__properties_version1.0";
        p.data.assign(header, 0);
        if (header >= 24) {
            storeLE32(&p.data[8], recips);
            storeLE32(&p.data[12], atts);
            storeLE32(&p.data[16], recips);
            storeLE32(&p.data[20], atts);
        }
        p.data.insert(p.data.end(), props.begin(), props.end());
        s.children.push_back(std::move(p));
        return s;
    }
};

std::string words(Rng& r, size_t bytes) {
    static const char* const w[] = {"meeting", "budget", "report", "the", "and", "Grüße", "quarterly", "team",
                                    "update", "please", "review", "attached", "thanks", "日本語", "schedule"};
    std::string s;
    while (s.size() < bytes) {
        s += w[r.next() % 15];
        s += (r.next() % 12 == 0) ? "\r\n" : " ";
    }
    return s;
}

// What one synthetic message holds.
struct MessageShape {
    size_t bodyBytes = 4300;   // plain body, in UTF-8 bytes of text
    size_t htmlBytes = 3900;   // HTML body text
    uint16_t fillers = 16;     // extra PT_LONG properties from 0x3000
    bool attachment = false;   // by-value attachments
    bool binaryAttachment = false;  // random bytes (6 to 10 KB), else 3 KB of text
    uint32_t attachments = 1;       // how many, when `attachment`
    size_t attachmentBytes = 0;     // random bytes of each binary attachment (0: 6 to 10 KB)
};

inline Bytes syntheticMessage(Rng& r, int n, const MessageShape& shape) {
    using namespace tags;
    Object m;
    m.text(makeTag(PidTagSubject, PT_UNICODE), "Message " + std::to_string(n) + " " + words(r, 40));
    m.text(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note");
    m.text(makeTag(PidTagSenderName, PT_UNICODE), "Alice Example");
    m.text(makeTag(0x0C1E, PT_UNICODE), "SMTP");  // PidTagSenderAddressType
    m.text(makeTag(PidTagSenderEmailAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagSenderSmtpAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagBody, PT_UNICODE), words(r, shape.bodyBytes));
    const std::string html = "<html><body><p>" + words(r, shape.htmlBytes) + "</p></body></html>";
    m.variable(makeTag(PidTagHtml, PT_BINARY), Bytes(html.begin(), html.end()));
    Bytes key(16);
    for (auto& b : key) b = static_cast<uint8_t>(r.next());
    m.variable(makeTag(PidTagSearchKey, PT_BINARY), key);
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), shape.attachment ? 0x11 : 0x01);
    m.fixed(makeTag(PidTagInternetCodepage, PT_LONG), 65001);
    m.fixed(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    m.fixed(makeTag(PidTagMessageDeliveryTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    for (uint16_t id = 0x3000; id < 0x3000 + shape.fillers; ++id) m.fixed(makeTag(id, PT_LONG), r.next());
    StorageEntry root;
    root.isStorage = true;
    root.name = u"Root Entry";
    const uint32_t recips = 3;
    for (uint32_t i = 0; i < recips; ++i) {
        Object rc;
        rc.fixed(makeTag(PidTagRecipientType, PT_LONG), 1 + i % 2);
        rc.text(makeTag(PidTagDisplayName, PT_UNICODE), "Recipient " + std::to_string(i));
        rc.text(makeTag(PidTagEmailAddress, PT_UNICODE), "r" + std::to_string(i) + "@example.com");
        rc.text(makeTag(PidTagAddressType, PT_UNICODE), "SMTP");
        root.children.push_back(rc.storage("__recip_version1.0_#" + hex8(i), 8));
    }
    const uint32_t atts = shape.attachment ? shape.attachments : 0;
    for (uint32_t k = 0; k < atts; ++k) {
        Object a;
        a.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
        Bytes data;
        if (shape.binaryAttachment) {
            a.text(makeTag(PidTagAttachLongFilename, PT_UNICODE),
                   "notes " + std::to_string(n) + (k ? "-" + std::to_string(k) : "") + ".bin");
            data.resize(shape.attachmentBytes ? shape.attachmentBytes : 6000 + r.next() % 4000);
            for (auto& b : data) b = static_cast<uint8_t>(r.next());
        } else {
            a.text(makeTag(PidTagAttachLongFilename, PT_UNICODE), "notes.txt");
            const std::string t = words(r, 3000);
            data.assign(t.begin(), t.end());
        }
        a.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), std::move(data));
        root.children.push_back(a.storage("__attach_version1.0_#" + hex8(k), 8));
    }
    StorageEntry top = m.storage("", 32, recips, atts);
    for (auto& c : top.children) root.children.push_back(std::move(c));
    auto b = cfb::writeCompoundFile(root);
    return b.ok() ? std::move(b).value() : Bytes();
}

// Writes COUNT message files m0.msg... into DIR, message n shaped by shapeOf(n).
inline void writeCorpus(const std::filesystem::path& dir, int count,
                        const std::function<MessageShape(int)>& shapeOf) {
    std::filesystem::create_directories(dir);
    Rng r{42};
    for (int i = 0; i < count; ++i) {
        const Bytes b = syntheticMessage(r, i, shapeOf(i));
        std::ofstream(dir / ("m" + std::to_string(i) + ".msg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
}

}  // namespace tavrin::bench
