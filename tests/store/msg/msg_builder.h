// Builds .msg files in memory for tests: storages and streams laid out as
// [MS-OXMSG] 2.2 describes, written with the compound file writer.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "fs/text.h"
#include "store/core/message.h"
#include "store/core/props.h"
#include "store/msg/cfb/cfb_writer.h"

namespace tavrin::testing {

using store::Bytes;
using store::StorageEntry;

inline std::u16string u16(const std::string& s) { return text::toUtf16(s); }

inline std::string hex8(uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

inline StorageEntry streamEntry(const std::string& name, Bytes data) {
    StorageEntry e;
    e.name = u16(name);
    e.data = std::move(data);
    return e;
}

inline StorageEntry storageEntry(const std::string& name, std::vector<StorageEntry> kids = {}) {
    StorageEntry e;
    e.name = u16(name);
    e.isStorage = true;
    e.children = std::move(kids);
    return e;
}

inline Bytes utf16le(const std::u16string& s) {
    Bytes b(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        b[2 * i] = static_cast<uint8_t>(s[i]);
        b[2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
    }
    return b;
}

// One message, recipient or attachment object: a property stream plus
// __substg1.0_ streams, and for messages their sub-objects.
class ObjectBuilder {
public:
    struct Entry {
        uint32_t tag;
        uint32_t flags;
        uint64_t value;
    };

    // Fixed-size value, inline.
    ObjectBuilder& fixed(uint32_t tag, uint64_t value, uint32_t flags = 6) {
        entries.push_back({tag, flags, value});
        return *this;
    }
    // Variable-size value: entry with its size, and the stream.
    ObjectBuilder& variable(uint32_t tag, Bytes data, uint32_t flags = 6) {
        const uint16_t type = store::tagType(tag);
        const uint64_t extra = type == store::PT_UNICODE ? 2 : type == store::PT_STRING8 ? 1 : 0;
        entries.push_back({tag, flags, data.size() + extra});
        children.push_back(streamEntry("__substg1.0_" + hex8(tag), std::move(data)));
        return *this;
    }
    ObjectBuilder& unicode(uint32_t tag, const std::string& utf8) { return variable(tag, utf16le(u16(utf8))); }
    ObjectBuilder& string8(uint32_t tag, Bytes bytes) { return variable(tag, std::move(bytes)); }
    // Variable-size multi-valued: a length stream and one stream per value.
    ObjectBuilder& multiVariable(uint32_t tag, const std::vector<Bytes>& values) {
        const bool binary = store::baseType(store::tagType(tag)) == store::PT_BINARY;
        Bytes lengths;
        for (size_t i = 0; i < values.size(); ++i) {
            const uint32_t n = static_cast<uint32_t>(values[i].size()) + (binary ? 0 : 2);
            for (int k = 0; k < 4; ++k) lengths.push_back(static_cast<uint8_t>(n >> (8 * k)));
            if (binary) lengths.insert(lengths.end(), 4, 0);
            children.push_back(streamEntry("__substg1.0_" + hex8(tag) + "-" + hex8(static_cast<uint32_t>(i)), values[i]));
        }
        entries.push_back({tag, 6, lengths.size()});
        children.push_back(streamEntry("__substg1.0_" + hex8(tag), std::move(lengths)));
        return *this;
    }
    // Fixed-size multi-valued: one stream with the values back to back.
    ObjectBuilder& multiFixed(uint32_t tag, Bytes packed) {
        entries.push_back({tag, 6, packed.size()});
        children.push_back(streamEntry("__substg1.0_" + hex8(tag), std::move(packed)));
        return *this;
    }

    Bytes propertyStream(uint32_t headerSize, uint32_t recipients = 0, uint32_t attachments = 0) const {
        Bytes b(headerSize, 0);
        if (headerSize >= 24) {
            auto put = [&](size_t off, uint32_t v) {
                for (int k = 0; k < 4; ++k) b[off + k] = static_cast<uint8_t>(v >> (8 * k));
            };
            put(8, recipients);
            put(12, attachments);
            put(16, recipients);
            put(20, attachments);
        }
        for (const Entry& e : entries) {
            for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(e.tag >> (8 * k)));
            for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(e.flags >> (8 * k)));
            for (int k = 0; k < 8; ++k) b.push_back(static_cast<uint8_t>(e.value >> (8 * k)));
        }
        return b;
    }

    std::vector<Entry> entries;
    std::vector<StorageEntry> children;
};

class MessageBuilder : public ObjectBuilder {
public:
    std::vector<ObjectBuilder> recipients;
    struct Att {
        ObjectBuilder props;
        std::vector<StorageEntry> extra;  // e.g. the __substg1.0_3701000D storage
    };
    std::vector<Att> attachments;
    // Named property map streams (top level only).
    Bytes nameGuids, nameEntries, nameStrings;
    bool hasNameMap = false;

    // Adds a named property mapping: GUID index (1 PS_MAPI, 2 PS_PUBLIC_STRINGS,
    // 3+ the GUID stream), property index (id - 0x8000), numeric id or string.
    void nameNumeric(uint16_t guidIndex, uint16_t propIndex, uint32_t lid) {
        hasNameMap = true;
        putEntry(lid, static_cast<uint16_t>(guidIndex << 1), propIndex);
    }
    void nameString(uint16_t guidIndex, uint16_t propIndex, const std::string& name) {
        hasNameMap = true;
        const uint32_t offset = static_cast<uint32_t>(nameStrings.size());
        const Bytes s = utf16le(u16(name));
        for (int k = 0; k < 4; ++k) nameStrings.push_back(static_cast<uint8_t>(s.size() >> (8 * k)));
        nameStrings.insert(nameStrings.end(), s.begin(), s.end());
        while (nameStrings.size() % 4) nameStrings.push_back(0);
        putEntry(offset, static_cast<uint16_t>((guidIndex << 1) | 1), propIndex);
    }
    void addGuid(const store::Guid& g) {
        hasNameMap = true;
        nameGuids.insert(nameGuids.end(), g.b.begin(), g.b.end());
    }

    StorageEntry build(uint32_t headerSize = 32) const {
        StorageEntry root = storageEntry("Root Entry", children);
        root.children.push_back(streamEntry("__properties_version1.0",
                                            propertyStream(headerSize, static_cast<uint32_t>(recipients.size()),
                                                           static_cast<uint32_t>(attachments.size()))));
        for (size_t i = 0; i < recipients.size(); ++i) {
            StorageEntry r = storageEntry("__recip_version1.0_#" + hex8(static_cast<uint32_t>(i)), recipients[i].children);
            r.children.push_back(streamEntry("__properties_version1.0", recipients[i].propertyStream(8)));
            root.children.push_back(std::move(r));
        }
        for (size_t i = 0; i < attachments.size(); ++i) {
            StorageEntry a = storageEntry("__attach_version1.0_#" + hex8(static_cast<uint32_t>(i)), attachments[i].props.children);
            a.children.push_back(streamEntry("__properties_version1.0", attachments[i].props.propertyStream(8)));
            for (const auto& e : attachments[i].extra) a.children.push_back(e);
            root.children.push_back(std::move(a));
        }
        if (hasNameMap && headerSize == 32) {
            root.children.push_back(storageEntry("__nameid_version1.0",
                                                 {streamEntry("__substg1.0_00020102", nameGuids),
                                                  streamEntry("__substg1.0_00030102", nameEntries),
                                                  streamEntry("__substg1.0_00040102", nameStrings)}));
        }
        return root;
    }
    // As an embedded message: the storage __substg1.0_3701000D with a 24-byte header.
    StorageEntry buildEmbedded() const {
        StorageEntry e = build(24);
        e.name = u"__substg1.0_3701000D";
        return e;
    }
    Bytes file() const {
        auto b = store::cfb::writeCompoundFile(build());
        return b.ok() ? std::move(b).value() : Bytes();
    }

private:
    void putEntry(uint32_t key, uint16_t kindAndGuid, uint16_t propIndex) {
        for (int k = 0; k < 4; ++k) nameEntries.push_back(static_cast<uint8_t>(key >> (8 * k)));
        nameEntries.push_back(static_cast<uint8_t>(kindAndGuid));
        nameEntries.push_back(static_cast<uint8_t>(kindAndGuid >> 8));
        nameEntries.push_back(static_cast<uint8_t>(propIndex));
        nameEntries.push_back(static_cast<uint8_t>(propIndex >> 8));
    }
};

}  // namespace tavrin::testing
