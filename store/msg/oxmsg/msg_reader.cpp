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
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char16_t c = name[i], p = static_cast<unsigned char>(prefix[i]);
        if (c != p && asciiUpper(c) != asciiUpper(p)) return false;
    }
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
// addressing over a table at least twice the number of tags it will hold
// (a full table would make insert() probe forever).
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

// At most this many warnings are kept for one message; the rest are counted
// in a last line (a hostile file can list a property 65,536 times over).
constexpr size_t kMaxWarnings = 64;

std::string propertyName(uint32_t tag) { return "property 0x" + hexTag(tag); }

// Bytes a variable-size value's declared size counts beyond its stream
// ([MS-OXMSG] 2.4.2.2): the terminator of a string. Writers disagree on
// PT_STRING8 (some count it, some do not), so the larger is allowed.
uint32_t terminatorAllowance(uint16_t base) {
    return base == PT_UNICODE ? 2 : base == PT_STRING8 ? 1 : 0;
}

class Reader {
public:
    Reader(const CompoundFile& cf) : cf_(cf) {}

    // The named property map. A stream of it that cannot be read leaves the
    // names it held unknown (their properties are then dropped, each with a
    // warning).
    void readNameMap(const ObjectEntries& top) {
        if (!top.nameId) return;
        Scope scope(*this, "named properties");
        ObjectEntries n = classify(cf_, *top.nameId);
        StreamData guids, entries, strings;
        auto load = [&](uint32_t tag, const char* what, StreamData& out) {
            if (auto id = n.stream(tag)) {
                auto d = cf_.read(*id);
                if (d) out = std::move(d).value();
                else warn(std::string("the ") + what + " stream cannot be read (" + d.error().description + ")");
            }
        };
        load(kGuidStreamTag, "GUID", guids);
        load(kEntryStreamTag, "entry", entries);
        load(kStringStreamTag, "string", strings);
        names_ = NameMap::parse(guids.bytes(), entries.bytes(), strings.bytes());
    }

    // A message (the file's root or an embedded message's storage). Fails
    // only on nesting beyond kMaxEmbeddingDepth; damage inside is left out
    // with a warning.
    Status readMessage(ObjectEntries& o, uint32_t headerSize, int depth, Message& out) {
        readProperties(o, headerSize, out.props);
        out.recipients.reserve(o.recipients.size());
        for (size_t i = 0; i < o.recipients.size(); ++i) {
            Scope scope(*this, "recipient " + std::to_string(i));
            ObjectEntries r = classify(cf_, o.recipients[i].second);
            Recipient rec;
            readProperties(r, kObjectHeaderSize, rec.props);
            if (!r.properties) {
                if (rec.props.size() == 0) {
                    warn("no property stream and no values: left out");
                    continue;
                }
                warn("no property stream: only the values of its own streams are kept");
            }
            out.recipients.push_back(std::move(rec));
        }
        out.attachments.reserve(o.attachments.size());
        for (size_t i = 0; i < o.attachments.size(); ++i) {
            Scope scope(*this, "attachment " + std::to_string(i));
            ObjectEntries a = classify(cf_, o.attachments[i].second);
            Attachment att;
            if (auto s = readAttachment(a, depth, att); !s)
                return Error(s.error()).prefixed("attachment " + std::to_string(i));
            if (!a.properties) {
                if (att.props.size() == 0 && !att.embedded && !att.storage) {
                    warn("no property stream and no values: left out");
                    continue;
                }
                warn("no property stream: only the values of its own streams are kept");
            }
            out.attachments.push_back(std::move(att));
        }
        return {};
    }

    // The warnings, with a last line for those past kMaxWarnings.
    std::vector<std::string> takeWarnings() {
        if (more_) warnings_.push_back("and " + std::to_string(more_) + " more warning" + (more_ == 1 ? "" : "s"));
        more_ = 0;
        return std::move(warnings_);
    }

private:
    // Prefixes the warnings given while it lives with "WHAT: ".
    class Scope {
    public:
        Scope(Reader& r, const std::string& what) : r_(r), length_(r.where_.size()) { r.where_ += what + ": "; }
        ~Scope() { r_.where_.resize(length_); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Reader& r_;
        size_t length_;
    };

    void warn(const std::string& what) {
        if (warnings_.size() < kMaxWarnings) warnings_.push_back(where_ + what);
        else ++more_;
    }
    Status readAttachment(ObjectEntries& a, int depth, Attachment& att) {
        readProperties(a, kObjectHeaderSize, att.props);
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
            Scope scope(*this, "embedded message");
            att.embedded = std::make_unique<Message>();
            if (!inner.properties) warn("no property stream: only the values of its own streams are kept");
            if (auto s = readMessage(inner, kEmbeddedHeaderSize, depth + 1, *att.embedded); !s)
                return Error(s.error()).prefixed("embedded message");
        } else {
            auto st = cf_.copyStorage(*object);
            if (st) att.storage = std::make_unique<StorageEntry>(std::move(st).value());
            else warn("the OLE storage cannot be read (" + st.error().description + ")");
        }
        return {};
    }

    // The bytes of a value stream, or nullopt with a warning.
    std::optional<Bytes> readStream(uint32_t id, uint32_t tag) {
        auto d = cf_.read(id);
        if (!d) {
            warn(propertyName(tag) + ": the value stream cannot be read (" + d.error().description + ")");
            return std::nullopt;
        }
        return std::move(d).value().take();
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

    // A stream shorter than the size its entry declares: what is there is
    // kept, and told.
    void checkLength(uint32_t tag, uint64_t length, uint32_t declared, uint32_t allowance) {
        if (length + allowance < declared)
            warn(propertyName(tag) + ": the value stream is short (" + std::to_string(length) + " of " +
                 std::to_string(declared) + " bytes); what it holds is kept");
    }

    // Reads the value of `p` from its entry's 8 value bytes (all zero for a
    // stream that has no entry) and its streams. False when the value cannot
    // be read at all: the property is then left out, with a warning.
    bool readValue(ObjectEntries& o, Property& p, const uint8_t* value, bool listed) {
        const uint16_t type = p.type();
        const uint16_t base = baseType(type);
        const uint32_t declared = loadLE32(value);
        if (!isMultiValued(type)) {
            if (const uint32_t fs = fixedSize(type)) {
                uint64_t v = 0;
                for (uint32_t i = 0; i < fs; ++i) v |= uint64_t(value[i]) << (8 * i);
                p.scalar = base == PT_BOOLEAN ? (v != 0) : v;
                return true;
            }
            if (base == PT_OBJECT) {
                // Embedded messages and storages hang off the attachment; a
                // stream under a PT_OBJECT tag is kept as data.
                if (auto id = o.stream(p.tag)) {
                    auto d = readStream(*id, p.tag);
                    if (!d) return false;
                    p.data = std::move(*d);
                }
                return true;
            }
            if (isVariableSize(type)) {
                if (auto id = o.stream(p.tag)) {
                    auto d = readStream(*id, p.tag);
                    if (!d) return false;
                    p.data = std::move(*d);
                    if (listed) checkLength(p.tag, p.data.size(), declared, terminatorAllowance(base));
                    trimString(p.data, base);
                    return true;
                }
                // No value stream: fine for an empty value (some writers
                // leave the stream out), damage otherwise ([MS-OXMSG] 2.1.3:
                // every variable-size property has its stream).
                if (declared > terminatorAllowance(base)) {
                    warn(propertyName(p.tag) + ": the value stream is missing (" + std::to_string(declared) + " bytes)");
                    return false;
                }
                return true;
            }
            // PT_NULL, PT_UNSPECIFIED and unknown types: the raw 8 bytes.
            p.scalar = loadLE64(value);
            return true;
        }
        // Multi-valued: fixed-size elements back to back in one stream.
        const uint32_t elem = base == PT_CLSID ? 16 : fixedSize(base);
        if (elem) {
            auto id = o.stream(p.tag);
            if (!id) {
                if (declared > 0) {
                    warn(propertyName(p.tag) + ": the value stream is missing (" + std::to_string(declared) + " bytes)");
                    return false;
                }
                return true;
            }
            auto d = readStream(*id, p.tag);
            if (!d) return false;
            if (listed) checkLength(p.tag, d->size(), declared, 0);
            const size_t n = d->size() / elem;
            p.multi.resize(n);
            for (size_t i = 0; i < n; ++i) p.multi[i].assign(d->begin() + i * elem, d->begin() + (i + 1) * elem);
            return true;
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
        uint64_t found = 0;
        for (auto it = first; it != last; ++it) {
            const uint64_t index = it->first & 0xFFFFFFFFu;
            if (index >= count) continue;
            ++found;
            auto d = readStream(it->second, p.tag);
            if (!d) continue;  // told; the element stays empty
            p.multi[index] = std::move(*d);
            trimString(p.multi[index], base);
        }
        // Elements the length stream lists without a stream of their own
        // are empty (one missing in the middle) or cut off (at the end).
        const uint64_t expected = std::max(tableCount, count);
        if (found < expected)
            warn(propertyName(p.tag) + ": " + std::to_string(expected - found) + " of " + std::to_string(expected) +
                 " value streams are missing");
        return true;
    }

    // A named property keeps its name; one whose name cannot be found
    // cannot be written anywhere and is left out.
    bool resolveName(Property& p) {
        if (!isNamedId(p.id())) return true;
        if (const NamedPropName* nm = names_.find(p.id())) {
            p.name = *nm;
            return true;
        }
        const char* why = names_.problem(p.id());
        warn(propertyName(p.tag) + ": " +
             (why ? std::string("its named-property entry cannot be read (") + why + ")"
                  : "no named-property entry for index " + std::to_string(p.id() - 0x8000)));
        return false;
    }

    // [MS-OXMSG] 2.4 property stream, then the streams it does not list.
    // Whatever cannot be read is left out with a warning; a missing property
    // stream is the caller's to tell.
    void readProperties(ObjectEntries& o, uint32_t headerSize, PropertyBag& bag) {
        StreamData ps;
        bool readable = false;
        if (o.properties) {
            auto d = cf_.read(*o.properties);
            if (d) {
                ps = std::move(d).value();
                readable = true;
            } else {
                warn("the property stream cannot be read (" + d.error().description + ")");
            }
        }
        ByteSpan b = ps.bytes();
        if (readable) {
            // Writers disagree on the header of embedded messages (24 or 32
            // bytes): take the one that leaves whole entries.
            uint32_t h = headerSize;
            if (headerSize != kObjectHeaderSize && b.size() >= headerSize && (b.size() - headerSize) % kEntrySize != 0) {
                const uint32_t other = headerSize == kTopLevelHeaderSize ? kEmbeddedHeaderSize : kTopLevelHeaderSize;
                if (b.size() >= other && (b.size() - other) % kEntrySize == 0) h = other;
            }
            if (b.size() < h) {
                warn("the property stream is " + std::to_string(b.size()) + " bytes, shorter than its " +
                         std::to_string(h) + "-byte header");
                b = {};
            } else {
                b = b.subspan(h);
            }
        }
        const size_t n = b.size() / kEntrySize;  // a partial entry at the end is ignored
        auto& items = bag.items();
        items.reserve(n + 4);
        TagSet seen(n + o.streams.size());  // the entries, then the streams they do not list
        for (size_t i = 0; i < n; ++i) {
            const uint8_t* e = b.data() + i * kEntrySize;
            const uint32_t tag = loadLE32(e + entry::tag);
            if (!seen.insert(tag)) continue;  // a repeated entry: the first one counts
            Property& p = items.emplace_back();
            p.tag = tag;
            p.flags = loadLE32(e + entry::flags);
            if (!readValue(o, p, e + entry::value, true) || !resolveName(p)) items.pop_back();
        }
        // Streams of properties the property stream does not list (some
        // writers leave the entry out): kept, with flags 0.
        for (size_t k = 0; k < o.streams.size(); ++k) {
            if (o.used[k]) continue;
            const uint32_t tag = o.streams[k].first;
            if (!isVariableSize(tagType(tag)) && !isMultiValued(tagType(tag))) continue;
            if (!seen.insert(tag)) continue;
            Property& p = items.emplace_back();
            p.tag = tag;
            const uint8_t none[8] = {};
            if (!readValue(o, p, none, false) || !resolveName(p)) items.pop_back();
        }
    }

    const CompoundFile& cf_;
    NameMap names_;
    std::string where_;  // "attachment 1: embedded message: "
    std::vector<std::string> warnings_;
    size_t more_ = 0;
};

}  // namespace

Result<Message> readMsg(ByteSpan file, std::shared_ptr<const cfb::LazyFile> lazy) {
    auto cf = CompoundFile::open(file, std::move(lazy));
    if (!cf) return std::move(cf).error();
    Reader r(*cf);
    ObjectEntries top = classify(*cf, CompoundFile::root());
    if (!top.properties)
        return corrupt("not an Outlook message: the file has no " + std::string(kPropertiesStream) + " stream");
    r.readNameMap(top);
    Message m;
    if (auto s = r.readMessage(top, kTopLevelHeaderSize, 0, m); !s) return std::move(s).take();
    m.warnings = r.takeWarnings();
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
