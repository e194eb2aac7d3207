#include "store/msg/oxmsg/msg_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "fs/file_io.h"
#include "store/core/tags.h"
#include "store/msg/cfb/compound_file.h"
#include "store/msg/oxmsg/nameid.h"
#include "store/msg/oxmsg/oxmsg_format.h"

namespace tavrin::store::oxmsg {
namespace {

using cfb::CompoundFile;
using cfb::StreamData;

Error corrupt(const std::string& what) { return Error(err::kCorrupt, what); }

char16_t asciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c; }

// True when `name` starts with the ASCII `prefix`, ignoring ASCII case.
bool hasPrefix(std::u16string_view name, std::string_view prefix) {
    if (name.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (asciiUpper(name[i]) != asciiUpper(static_cast<char16_t>(static_cast<unsigned char>(prefix[i])))) return false;
    return true;
}
bool isName(std::u16string_view name, std::string_view expected) {
    return name.size() == expected.size() && hasPrefix(name, expected);
}

// Eight hexadecimal digits at `at`.
std::optional<uint32_t> hex8(std::u16string_view s, size_t at) {
    if (s.size() < at + 8) return std::nullopt;
    uint32_t v = 0;
    for (size_t i = at; i < at + 8; ++i) {
        const char16_t c = s[i];
        uint32_t d;
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
        else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else return std::nullopt;
        v = (v << 4) | d;
    }
    return v;
}

std::string hexTag(uint32_t tag) {
    static const char d[] = "0123456789ABCDEF";
    std::string s(8, '0');
    for (int i = 0; i < 8; ++i) s[7 - i] = d[(tag >> (4 * i)) & 15];
    return s;
}

// The streams and storages of one message, recipient or attachment object,
// sorted out by name.
struct ObjectEntries {
    std::optional<uint32_t> properties;
    std::vector<std::pair<uint32_t, uint32_t>> streams;   // (tag, entry), sorted by tag
    std::vector<std::pair<uint64_t, uint32_t>> elements;  // ((tag << 32) | index, entry), sorted
    std::vector<std::pair<uint32_t, uint32_t>> storages;  // (tag, entry): PT_OBJECT storages
    std::vector<std::pair<uint32_t, uint32_t>> recipients;   // (number, entry)
    std::vector<std::pair<uint32_t, uint32_t>> attachments;  // (number, entry)
    std::optional<uint32_t> nameId;
    std::vector<uint8_t> used;  // per stream: looked up for a listed property

    // The stream of a tag; marks it as used.
    std::optional<uint32_t> stream(uint32_t tag) {
        auto it = std::lower_bound(streams.begin(), streams.end(), tag, [](const auto& e, uint32_t t) { return e.first < t; });
        if (it == streams.end() || it->first != tag) return std::nullopt;
        used[static_cast<size_t>(it - streams.begin())] = 1;
        return it->second;
    }
    // The first storage of a tag, in directory order (storages is stably
    // sorted by tag).
    std::optional<uint32_t> storage(uint32_t tag) const {
        auto it = std::lower_bound(storages.begin(), storages.end(), tag, [](const auto& e, uint32_t t) { return e.first < t; });
        if (it == storages.end() || it->first != tag) return std::nullopt;
        return it->second;
    }
};

ObjectEntries classify(const CompoundFile& cf, uint32_t storage) {
    ObjectEntries o;
    constexpr size_t kSubstgLen = sizeof kSubstgPrefix - 1;  // "__substg1.0_"
    const auto kids = cf.children(storage);
    o.streams.reserve(kids.size());
    for (uint32_t id : kids) {
        const cfb::DirEntry& e = cf.entry(id);
        const std::u16string_view n = e.name();
        if (hasPrefix(n, kSubstgPrefix)) {
            auto tag = hex8(n, kSubstgLen);
            if (!tag) continue;
            if (n.size() == kSubstgLen + 8) {
                if (e.isStream()) o.streams.emplace_back(*tag, id);
                else o.storages.emplace_back(*tag, id);
            } else if (n.size() == kSubstgLen + 17 && n[kSubstgLen + 8] == u'-' && e.isStream()) {
                if (auto index = hex8(n, kSubstgLen + 9)) o.elements.emplace_back((uint64_t(*tag) << 32) | *index, id);
            }
        } else if (e.isStream() && isName(n, kPropertiesStream)) {
            o.properties = id;
        } else if (e.isStorage() && hasPrefix(n, kRecipientPrefix) && n.size() == sizeof kRecipientPrefix - 1 + 8) {
            if (auto k = hex8(n, sizeof kRecipientPrefix - 1)) o.recipients.emplace_back(*k, id);
        } else if (e.isStorage() && hasPrefix(n, kAttachmentPrefix) && n.size() == sizeof kAttachmentPrefix - 1 + 8) {
            if (auto k = hex8(n, sizeof kAttachmentPrefix - 1)) o.attachments.emplace_back(*k, id);
        } else if (e.isStorage() && isName(n, kNameIdStorage)) {
            o.nameId = id;
        }
    }
    std::sort(o.streams.begin(), o.streams.end());
    o.used.assign(o.streams.size(), 0);
    std::sort(o.elements.begin(), o.elements.end());
    std::stable_sort(o.storages.begin(), o.storages.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::sort(o.recipients.begin(), o.recipients.end());
    std::sort(o.attachments.begin(), o.attachments.end());
    return o;
}

// The tags seen in one property stream, to find a repeated entry: open
// addressing over a table at least twice the number of entries.
class TagSet {
public:
    explicit TagSet(size_t entries) {
        size_t cap = 64;
        while (cap < entries * 2) cap <<= 1;
        if (cap <= kInline) {
            slots_ = inline_;
        } else {
            heap_.resize(cap);
            slots_ = heap_.data();
        }
        mask_ = cap - 1;
        std::fill(slots_, slots_ + cap, kEmpty);
    }
    // False when the tag was there already.
    bool insert(uint32_t tag) {
        // A tag equal to the empty marker is kept aside.
        if (tag == kEmpty) {
            const bool fresh = !sawEmpty_;
            sawEmpty_ = true;
            return fresh;
        }
        // Tags that differ only in their id (the high 16 bits) must spread
        // over the whole table, so the slot comes from a full avalanche mix;
        // taking the low bits of a plain product would put every property of
        // one type on one probe chain and make a long stream quadratic.
        for (size_t i = mix(tag) & mask_;; i = (i + 1) & mask_) {
            if (slots_[i] == tag) return false;
            if (slots_[i] == kEmpty) {
                slots_[i] = tag;
                return true;
            }
        }
    }

private:
    // The 32-bit finaliser of MurmurHash3.
    static uint32_t mix(uint32_t h) {
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        h ^= h >> 16;
        return h;
    }
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr size_t kInline = 256;
    uint32_t inline_[kInline];
    std::vector<uint32_t> heap_;
    uint32_t* slots_;
    size_t mask_;
    bool sawEmpty_ = false;
};

class Reader {
public:
    Reader(const CompoundFile& cf) : cf_(cf) {}

    Status readNameMap(const ObjectEntries& top) {
        if (!top.nameId) return {};
        ObjectEntries n = classify(cf_, *top.nameId);
        StreamData guids, entries, strings;
        if (auto id = n.stream(kGuidStreamTag)) {
            auto d = cf_.read(*id);
            if (!d) return std::move(d).error().prefixed("named properties: GUID stream");
            guids = std::move(d).value();
        }
        if (auto id = n.stream(kEntryStreamTag)) {
            auto d = cf_.read(*id);
            if (!d) return std::move(d).error().prefixed("named properties: entry stream");
            entries = std::move(d).value();
        }
        if (auto id = n.stream(kStringStreamTag)) {
            auto d = cf_.read(*id);
            if (!d) return std::move(d).error().prefixed("named properties: string stream");
            strings = std::move(d).value();
        }
        names_ = NameMap::parse(guids.bytes(), entries.bytes(), strings.bytes());
        return {};
    }

    // A message (the file's root or an embedded message's storage).
    Status readMessage(uint32_t storage, ObjectEntries& o, uint32_t headerSize, int depth, Message& out) {
        if (!o.properties) return corrupt("no property stream (" + std::string(kPropertiesStream) + ")");
        if (auto s = readProperties(o, headerSize, out.props); !s) return s;
        out.recipients.reserve(o.recipients.size());
        for (size_t i = 0; i < o.recipients.size(); ++i) {
            ObjectEntries r = classify(cf_, o.recipients[i].second);
            Recipient rec;
            if (auto s = readProperties(r, kObjectHeaderSize, rec.props); !s)
                return Error(s.error()).prefixed("recipient " + std::to_string(i));
            out.recipients.push_back(std::move(rec));
        }
        out.attachments.reserve(o.attachments.size());
        for (size_t i = 0; i < o.attachments.size(); ++i) {
            Attachment att;
            if (auto s = readAttachment(o.attachments[i].second, depth, att); !s)
                return Error(s.error()).prefixed("attachment " + std::to_string(i));
            out.attachments.push_back(std::move(att));
        }
        (void)storage;
        return {};
    }

private:
    Status readAttachment(uint32_t storage, int depth, Attachment& att) {
        ObjectEntries a = classify(cf_, storage);
        if (auto s = readProperties(a, kObjectHeaderSize, att.props); !s) return s;
        const uint32_t objectTag = makeTag(tags::PidTagAttachDataBinary, PT_OBJECT);
        const auto object = a.storage(objectTag);
        if (!object) return {};
        const int32_t method = att.props.getInt32(tags::PidTagAttachMethod).value_or(tags::afNone);
        ObjectEntries inner = classify(cf_, *object);
        // An embedded message is a storage with a property stream; afStorage
        // (and anything else) is an OLE object's storage, kept whole.
        const bool isMessage = method == tags::afEmbeddedMessage || (method != tags::afStorage && inner.properties);
        if (isMessage) {
            if (depth + 1 > kMaxEmbeddingDepth)
                return corrupt("embedded messages are nested more than " + std::to_string(kMaxEmbeddingDepth) + " deep");
            att.embedded = std::make_unique<Message>();
            if (auto s = readMessage(*object, inner, kEmbeddedHeaderSize, depth + 1, *att.embedded); !s)
                return Error(s.error()).prefixed("embedded message");
        } else {
            auto st = cf_.copyStorage(*object);
            if (!st) return std::move(st).error().prefixed("OLE storage");
            att.storage = std::make_unique<StorageEntry>(std::move(st).value());
        }
        return {};
    }

    Result<StreamData> readStream(uint32_t id, uint32_t tag) const {
        auto d = cf_.read(id);
        if (!d) return std::move(d).error().prefixed(std::string(kSubstgPrefix) + hexTag(tag));
        return d;
    }

    // Removes the trailing NULs of a string value (PT_UNICODE in pairs).
    static void trimString(Bytes& b, uint16_t base) {
        if (base == PT_UNICODE) {
            b.resize(b.size() & ~size_t(1));
            while (b.size() >= 2 && b[b.size() - 1] == 0 && b[b.size() - 2] == 0) b.resize(b.size() - 2);
        } else if (base == PT_STRING8) {
            while (!b.empty() && b.back() == 0) b.pop_back();
        }
    }

    Status readValue(ObjectEntries& o, Property& p, const uint8_t* value) {
        const uint16_t type = p.type();
        const uint16_t base = baseType(type);
        if (!isMultiValued(type)) {
            if (const uint32_t fs = fixedSize(type)) {
                uint64_t v = 0;
                for (uint32_t i = 0; i < fs; ++i) v |= uint64_t(value[i]) << (8 * i);
                p.scalar = base == PT_BOOLEAN ? (v != 0) : v;
                return {};
            }
            if (base == PT_OBJECT) {
                // Embedded messages and storages hang off the attachment; a
                // stream under a PT_OBJECT tag is kept as data.
                if (auto id = o.stream(p.tag)) {
                    auto d = readStream(*id, p.tag);
                    if (!d) return std::move(d).error();
                    p.data = std::move(d).value().take();
                }
                return {};
            }
            if (isVariableSize(type)) {
                if (auto id = o.stream(p.tag)) {
                    auto d = readStream(*id, p.tag);
                    if (!d) return std::move(d).error();
                    p.data = std::move(d).value().take();
                    trimString(p.data, base);
                    return {};
                }
                // No value stream: fine for an empty value (some writers
                // leave the stream out), damage otherwise ([MS-OXMSG] 2.1.3:
                // every variable-size property has its stream).
                const uint32_t size = loadLE32(value);
                const uint32_t emptySize = base == PT_UNICODE ? 2 : base == PT_STRING8 ? 1 : 0;
                if (size > emptySize)
                    return corrupt("property " + hexTag(p.tag) + " (" + std::to_string(size) +
                                   " bytes) has no value stream " + kSubstgPrefix + hexTag(p.tag));
                return {};
            }
            // PT_NULL, PT_UNSPECIFIED and unknown types: the raw 8 bytes.
            p.scalar = loadLE64(value);
            return {};
        }
        // Multi-valued: fixed-size elements back to back in one stream.
        const uint32_t elem = base == PT_CLSID ? 16 : fixedSize(base);
        if (elem) {
            if (auto id = o.stream(p.tag)) {
                auto d = readStream(*id, p.tag);
                if (!d) return std::move(d).error();
                const ByteSpan b = d->bytes();
                const size_t n = b.size() / elem;
                p.multi.resize(n);
                for (size_t i = 0; i < n; ++i) p.multi[i].assign(b.begin() + i * elem, b.begin() + (i + 1) * elem);
            }
            return {};
        }
        // Variable-size elements: a length stream plus one stream per element
        // (__substg1.0_TTTTTTTT-NNNNNNNN). The element streams decide.
        uint64_t tableCount = 0;
        if (auto id = o.stream(p.tag)) {
            const cfb::DirEntry& e = cf_.entry(*id);
            tableCount = e.size / (base == PT_BINARY ? kMvBinaryLengthEntry : kMvStringLengthEntry);
        }
        const uint64_t lo = uint64_t(p.tag) << 32;
        auto first = std::lower_bound(o.elements.begin(), o.elements.end(), std::make_pair(lo, uint32_t(0)));
        auto last = first;
        while (last != o.elements.end() && (last->first >> 32) == p.tag) ++last;
        const uint64_t present = static_cast<uint64_t>(last - first);
        const uint64_t limit = std::max(tableCount, present);
        uint64_t count = 0;
        for (auto it = first; it != last; ++it) {
            const uint64_t index = it->first & 0xFFFFFFFFu;
            if (index < limit) count = std::max(count, index + 1);
        }
        p.multi.resize(static_cast<size_t>(count));
        for (auto it = first; it != last; ++it) {
            const uint64_t index = it->first & 0xFFFFFFFFu;
            if (index >= count) continue;
            auto d = readStream(it->second, p.tag);
            if (!d) return std::move(d).error();
            p.multi[index] = std::move(d).value().take();
            trimString(p.multi[index], base);
        }
        return {};
    }

    // [MS-OXMSG] 2.4 property stream, then the streams it does not list.
    Status readProperties(ObjectEntries& o, uint32_t headerSize, PropertyBag& bag) {
        StreamData ps;
        if (o.properties) {
            auto d = cf_.read(*o.properties);
            if (!d) return std::move(d).error().prefixed("property stream");
            ps = std::move(d).value();
        }
        ByteSpan b = ps.bytes();
        if (o.properties) {
            // Writers disagree on the header of embedded messages (24 or 32
            // bytes): take the one that leaves whole entries.
            uint32_t h = headerSize;
            if (headerSize != kObjectHeaderSize && b.size() >= headerSize && (b.size() - headerSize) % kEntrySize != 0) {
                const uint32_t other = headerSize == kTopLevelHeaderSize ? kEmbeddedHeaderSize : kTopLevelHeaderSize;
                if (b.size() >= other && (b.size() - other) % kEntrySize == 0) h = other;
            }
            if (b.size() < h)
                return corrupt("property stream: " + std::to_string(b.size()) + " bytes, shorter than its " +
                               std::to_string(h) + "-byte header");
            b = b.subspan(h);
        }
        const size_t n = b.size() / kEntrySize;  // a partial entry at the end is ignored
        auto& items = bag.items();
        items.reserve(n + 4);
        TagSet seen(n);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* e = b.data() + i * kEntrySize;
            const uint32_t tag = loadLE32(e + entry::tag);
            if (!seen.insert(tag)) continue;  // a repeated entry: the first one counts
            Property p;
            p.tag = tag;
            p.flags = loadLE32(e + entry::flags);
            if (auto s = readValue(o, p, e + entry::value); !s) return s;
            if (isNamedId(p.id()))
                if (const NamedPropName* nm = names_.find(p.id())) p.name = *nm;
            items.push_back(std::move(p));
        }
        // Streams of properties the property stream does not list. They are
        // salvage: one whose directory entry is broken is left out rather
        // than failing the message.
        for (size_t k = 0; k < o.streams.size(); ++k) {
            if (o.used[k]) continue;
            const uint32_t tag = o.streams[k].first;
            if (!isVariableSize(tagType(tag)) && !isMultiValued(tagType(tag))) continue;
            if (!seen.insert(tag)) continue;
            Property& p = items.emplace_back();
            p.tag = tag;
            uint8_t none[8] = {};
            if (auto s = readValue(o, p, none); !s) {
                items.pop_back();
                continue;
            }
            if (isNamedId(p.id()))
                if (const NamedPropName* nm = names_.find(p.id())) p.name = *nm;
        }
        return {};
    }

    const CompoundFile& cf_;
    NameMap names_;
};

}  // namespace

Result<Message> readMsg(ByteSpan file) {
    auto cf = CompoundFile::open(file);
    if (!cf) return std::move(cf).error();
    Reader r(*cf);
    ObjectEntries top = classify(*cf, CompoundFile::root());
    if (!top.properties)
        return corrupt("not an Outlook message: the file has no " + std::string(kPropertiesStream) + " stream");
    if (auto s = r.readNameMap(top); !s) return std::move(s).take();
    Message m;
    if (auto s = r.readMessage(CompoundFile::root(), top, kTopLevelHeaderSize, 0, m); !s) return std::move(s).take();
    return m;
}

Result<Message> readMsgFile(const std::string& path) {
    auto f = fs::InputFile::open(path);
    if (!f) return std::move(f).error();
    auto bytes = f->readAll();
    if (!bytes) return std::move(bytes).error();
    return readMsg(*bytes);
}

}  // namespace tavrin::store::oxmsg
