#include "store/mime/tnef_reader.h"

#include <string>
#include <vector>

#include "store/core/codepage.h"
#include "store/core/tags.h"

namespace tavrin::store::tnef {

namespace {

// Attribute levels and ids ([MS-OXTNEF] 2.1.3.3, 2.1.3.6): the id in the
// low word, the attribute type in the high word.
constexpr uint8_t kLevelMessage = 1;
constexpr uint8_t kLevelAttachment = 2;

constexpr uint32_t attSubject = 0x00018004;
constexpr uint32_t attDateSent = 0x00038005;
constexpr uint32_t attDateRecd = 0x00038006;
constexpr uint32_t attMessageClass = 0x00078008;
constexpr uint32_t attBody = 0x0002800C;
constexpr uint32_t attPriority = 0x0004800D;
constexpr uint32_t attAttachData = 0x0006800F;
constexpr uint32_t attAttachTitle = 0x00018010;
constexpr uint32_t attAttachMetaFile = 0x00068011;
constexpr uint32_t attAttachCreateDate = 0x00038012;
constexpr uint32_t attAttachModifyDate = 0x00038013;
constexpr uint32_t attDateModified = 0x00038020;
constexpr uint32_t attAttachRenddata = 0x00069002;
constexpr uint32_t attMsgProps = 0x00069003;
constexpr uint32_t attRecipTable = 0x00069004;
constexpr uint32_t attAttachment = 0x00069005;
constexpr uint32_t attOemCodepage = 0x00069007;

// IID_IMessage {00020307-0000-0000-C000-000000000046} in its stored order.
constexpr uint8_t kIidMessage[16] = {0x07, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr size_t kMaxWarnings = 32;

std::string hex32(uint32_t v) {
    static const char d[] = "0123456789ABCDEF";
    std::string s(8, '0');
    for (int i = 0; i < 8; ++i) s[7 - i] = d[(v >> (4 * i)) & 15];
    return s;
}

// Legacy message classes of attMessageClass and what MAPI calls them.
std::string mapiClass(std::string c) {
    struct Pair {
        const char* legacy;
        const char* mapi;
    };
    static const Pair pairs[] = {
        {"IPM.Microsoft Mail.Note", "IPM.Note"},
        {"IPM.Microsoft Mail.Read Receipt", "Report.IPM.Note.IPNRN"},
        {"IPM.Microsoft Mail.Non-Delivery", "Report.IPM.Note.NDR"},
        {"IPM.Microsoft Schedule.MtgReq", "IPM.Schedule.Meeting.Request"},
        {"IPM.Microsoft Schedule.MtgRespP", "IPM.Schedule.Meeting.Resp.Pos"},
        {"IPM.Microsoft Schedule.MtgRespN", "IPM.Schedule.Meeting.Resp.Neg"},
        {"IPM.Microsoft Schedule.MtgRespA", "IPM.Schedule.Meeting.Resp.Tent"},
        {"IPM.Microsoft Schedule.MtgCncl", "IPM.Schedule.Meeting.Canceled"},
    };
    for (const Pair& p : pairs)
        if (c == p.legacy) return p.mapi;
    return c;
}

// A string attribute without its terminating NULs.
ByteSpan cString(ByteSpan d) {
    while (!d.empty() && d.back() == 0) d = d.first(d.size() - 1);
    return d;
}

// [MS-OXTNEF] 2.1.3.4 Date: year, month, day, hour, minute, second, day of week.
std::optional<uint64_t> tnefDate(ByteSpan d) {
    ByteReader r(d);
    const int y = r.u16(), mo = r.u16(), da = r.u16(), h = r.u16(), mi = r.u16(), s = r.u16();
    if (!r.ok() || y < 1601 || y > 9999 || mo < 1 || mo > 12 || da < 1 || da > 31 || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    int64_t yy = y - (mo <= 2);
    const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(yy - era * 400);
    const unsigned doy = (153 * (static_cast<unsigned>(mo) + (mo > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(da) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + static_cast<int64_t>(doe) - 719468;
    const int64_t unix = days * 86400 + h * 3600 + mi * 60 + s;
    return static_cast<uint64_t>((unix + 11644473600LL) * 10000000LL);
}

class Reader {
public:
    explicit Reader(int depth) : depth_(depth) {}

    Result<Message> read(ByteSpan data) {
        ByteReader r(data);
        if (r.u32() != kSignature || !r.ok()) return Error(err::kCorrupt, "not a TNEF stream: no TNEF signature");
        r.u16();  // legacy attachment key
        if (!r.ok()) return Error(err::kCorrupt, "the TNEF stream ends after its signature");
        Message m;
        Attachment* current = nullptr;
        size_t index = 0;
        while (!r.atEnd()) {
            const size_t at = r.offset();
            const uint8_t level = r.u8();
            const uint32_t id = r.u32();
            const uint32_t length = r.u32();
            if (!r.ok()) {
                warn("the TNEF stream is cut off in an attribute header at byte " + std::to_string(at));
                break;
            }
            if (length > r.remaining()) {
                warn("attribute 0x" + hex32(id) + " is cut off (" + std::to_string(length) + " bytes declared, " +
                     std::to_string(r.remaining()) + " left): left out");
                break;
            }
            ByteSpan value = r.bytes(length);
            const uint16_t checksum = r.u16();
            if (!r.ok()) {
                warn("attribute 0x" + hex32(id) + " has no checksum; its value is kept");
            } else {
                uint32_t sum = 0;
                for (uint8_t b : value) sum += b;
                if ((sum & 0xFFFF) != checksum) warn("attribute 0x" + hex32(id) + ": checksum mismatch; its value is kept");
            }
            if (level == kLevelMessage) {
                messageAttribute(m, id, value);
            } else if (level == kLevelAttachment) {
                if (id == attAttachRenddata || !current) {
                    m.attachments.emplace_back();
                    current = &m.attachments.back();
                    ++index;
                    current->props.set(Property::int32(makeTag(tags::PidTagAttachMethod, PT_LONG), tags::afByValue));
                }
                attachmentAttribute(*current, index, id, value);
                if (!status_.ok()) return status_.error();
            } else {
                warn("attribute 0x" + hex32(id) + " has an unknown level " + std::to_string(level) + ": the rest is left out");
                break;
            }
            if (!status_.ok()) return status_.error();
        }
        finish(m);
        if (more_) warnings_.push_back("and " + std::to_string(more_) + " more warnings");
        m.warnings = std::move(warnings_);
        return m;
    }

private:
    void warn(const std::string& what) {
        if (warnings_.size() < kMaxWarnings) warnings_.push_back(where_ + what);
        else ++more_;
    }

    void setIfAbsent(PropertyBag& bag, Property p) {
        if (!bag.find(p.id())) bag.set(std::move(p));
    }

    void messageAttribute(Message& m, uint32_t id, ByteSpan v) {
        switch (id) {
            case attOemCodepage:
                if (v.size() >= 4 && loadLE32(v.data()) != 0) codepage_ = loadLE32(v.data());
                break;
            case attMessageClass:
                legacyClass_ = std::string(reinterpret_cast<const char*>(cString(v).data()), cString(v).size());
                break;
            case attSubject:
                legacy_.set(Property::string8(makeTag(tags::PidTagSubject, PT_STRING8), cString(v)));
                break;
            case attBody:
                legacy_.set(Property::string8(makeTag(tags::PidTagBody, PT_STRING8), cString(v)));
                break;
            case attDateSent:
            case attDateRecd:
            case attDateModified:
                if (auto t = tnefDate(v)) {
                    const uint16_t pid = id == attDateSent   ? tags::PidTagClientSubmitTime
                                         : id == attDateRecd ? tags::PidTagMessageDeliveryTime
                                                             : tags::PidTagLastModificationTime;
                    legacy_.set(Property::systime(makeTag(pid, PT_SYSTIME), *t));
                }
                break;
            case attPriority:
                if (v.size() >= 2) {
                    const int p = loadLE16(v.data());
                    legacy_.set(Property::int32(makeTag(tags::PidTagImportance, PT_LONG), p == 1 ? 2 : p == 3 ? 0 : 1));
                }
                break;
            case attMsgProps: {
                Scope s(*this, "message properties: ");
                readProperties(v, m.props);
                break;
            }
            case attRecipTable: {
                Scope s(*this, "recipient table: ");
                ByteReader r(v);
                const uint32_t rows = r.u32();
                if (!r.ok() || rows > r.remaining() / 4) {
                    warn("the row count " + std::to_string(rows) + " does not fit the table: left out");
                    break;
                }
                for (uint32_t i = 0; i < rows && r.ok(); ++i) {
                    Recipient rec;
                    const size_t before = r.offset();
                    readPropertyList(r, rec.props);
                    if (r.offset() == before) break;
                    m.recipients.push_back(std::move(rec));
                }
                break;
            }
            default:
                break;  // attFrom, attMessageID, attTnefVersion, ...: nothing MAPI keeps
        }
    }

    void attachmentAttribute(Attachment& a, size_t index, uint32_t id, ByteSpan v) {
        Scope s(*this, "attachment " + std::to_string(index) + ": ");
        switch (id) {
            case attAttachRenddata: {
                // [MS-OXTNEF] 2.1.3.3.15: type, position, rendering size, flags.
                ByteReader r(v);
                r.u16();
                const uint32_t pos = r.u32();
                if (r.ok()) a.props.set(Property::int32(makeTag(tags::PidTagRenderingPosition, PT_LONG), static_cast<int32_t>(pos)));
                break;
            }
            case attAttachData:
                a.props.set(Property::binary(makeTag(tags::PidTagAttachDataBinary, PT_BINARY), v));
                break;
            case attAttachTitle:
                setIfAbsent(a.props, Property::string8(makeTag(tags::PidTagAttachFilename, PT_STRING8), cString(v)));
                break;
            case attAttachMetaFile:
                a.props.set(Property::binary(makeTag(tags::PidTagAttachRendering, PT_BINARY), v));
                break;
            case attAttachCreateDate:
            case attAttachModifyDate:
                if (auto t = tnefDate(v))
                    a.props.set(Property::systime(
                        makeTag(id == attAttachCreateDate ? tags::PidTagCreationTime : tags::PidTagLastModificationTime,
                                PT_SYSTIME),
                        *t));
                break;
            case attAttachment: {
                ByteReader r(v);
                readPropertyList(r, a.props, &a);
                break;
            }
            default:
                break;
        }
    }

    void readProperties(ByteSpan v, PropertyBag& bag) {
        ByteReader r(v);
        readPropertyList(r, bag);
    }

    // [MS-OXTNEF] 2.1.3.5 a counted list of properties. An embedded
    // message (PR_ATTACH_DATA_OBJ with IID_IMessage) goes to `att`.
    void readPropertyList(ByteReader& r, PropertyBag& bag, Attachment* att = nullptr) {
        const uint32_t count = r.u32();
        if (!r.ok()) {
            warn("the property count is missing");
            return;
        }
        // Each property takes at least 8 bytes (tag and a 4-byte value).
        if (count > r.remaining() / 8 + 1) {
            warn("the property count " + std::to_string(count) + " does not fit its " + std::to_string(r.remaining()) +
                 " bytes; the properties that fit are read");
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (r.atEnd()) {
                warn(std::to_string(count - i) + " of " + std::to_string(count) + " properties are missing");
                return;
            }
            Property p;
            if (!readProperty(r, p, att)) {
                warn("property " + std::to_string(i) + " (0x" + hex32(p.tag) + ") is cut off; the rest of the list is left out");
                return;
            }
            if (p.tag != 0) bag.set(std::move(p));
            if (!status_.ok()) return;
        }
    }

    static void pad(ByteReader& r, uint32_t n) {
        if (n % 4) r.skip(4 - n % 4);
    }

    // One property; false when the list is cut off in it. A property that
    // is read but cannot be kept gets tag 0.
    bool readProperty(ByteReader& r, Property& p, Attachment* att) {
        p.tag = r.u32();
        if (!r.ok()) return false;
        const uint16_t type = p.type();
        if (isNamedId(p.id())) {
            NamedPropName name;
            ByteSpan g = r.bytes(16);
            const uint32_t kind = r.u32();
            if (!r.ok()) return false;
            std::copy(g.begin(), g.end(), name.guid.b.begin());
            if (kind == 0) {
                name.lid = r.u32();
            } else if (kind == 1) {
                const uint32_t len = r.u32();
                ByteSpan s = r.bytes(len);
                pad(r, len);
                if (!r.ok()) return false;
                name.isString = true;
                for (size_t k = 0; k + 1 < s.size(); k += 2) name.name.push_back(static_cast<char16_t>(loadLE16(s.data() + k)));
                while (!name.name.empty() && name.name.back() == 0) name.name.pop_back();
            } else {
                return false;
            }
            if (!r.ok()) return false;
            p.name = std::move(name);
        }
        const uint16_t base = baseType(type);
        const bool multi = isMultiValued(type);
        const bool variable = base == PT_STRING8 || base == PT_UNICODE || base == PT_BINARY || base == PT_OBJECT ||
                              base == PT_SVREID || base == PT_SRESTRICT || base == PT_ACTIONS;
        uint32_t values = 1;
        if (multi || variable) {
            values = r.u32();
            if (!r.ok() || values > r.remaining() / 4 + 1) return false;
        }
        const uint32_t fixed = base == PT_CLSID ? 16 : fixedSize(base);
        if (!variable && fixed == 0) {
            // PT_NULL, PT_UNSPECIFIED and unknown types: no length is known,
            // so nothing after it can be read.
            return false;
        }
        for (uint32_t k = 0; k < values; ++k) {
            if (variable) {
                const uint32_t size = r.u32();
                ByteSpan d = r.bytes(size);
                pad(r, size);
                if (!r.ok()) return false;
                if (base == PT_OBJECT) {
                    object(p, d, att);
                    continue;
                }
                Bytes b(d.begin(), d.end());
                if (base == PT_UNICODE) {
                    b.resize(b.size() & ~size_t(1));
                    while (b.size() >= 2 && b[b.size() - 1] == 0 && b[b.size() - 2] == 0) b.resize(b.size() - 2);
                } else if (base == PT_STRING8) {
                    while (!b.empty() && b.back() == 0) b.pop_back();
                }
                if (multi) p.multi.push_back(std::move(b));
                else p.data = std::move(b);
            } else {
                // Values of fewer than 4 bytes are padded to 4.
                const uint32_t stored = fixed < 4 ? 4 : fixed;
                ByteSpan d = r.bytes(stored);
                if (!r.ok()) return false;
                if (multi) {
                    p.multi.emplace_back(d.begin(), d.begin() + fixed);
                } else if (base == PT_CLSID) {
                    p.data.assign(d.begin(), d.end());
                } else {
                    uint64_t v = 0;
                    for (uint32_t i = 0; i < fixed; ++i) v |= uint64_t(d[i]) << (8 * i);
                    p.scalar = base == PT_BOOLEAN ? (v != 0) : v;
                }
            }
        }
        return true;
    }

    // A PT_OBJECT value: an embedded message's TNEF stream becomes the
    // attachment's message; other objects (OLE storages) keep their bytes
    // as the attachment's data.
    void object(Property& p, ByteSpan d, Attachment* att) {
        const uint32_t tag = p.tag;
        p.tag = 0;  // the bag keeps no PT_OBJECT value
        if (!att || tagId(tag) != tags::PidTagAttachDataBinary || d.size() < 16) return;
        ByteSpan body = d.subspan(16);
        if (std::equal(d.begin(), d.begin() + 16, kIidMessage)) {
            if (depth_ + 1 > kMaxDepth) {
                status_ = Error(err::kCorrupt, "embedded messages in the TNEF stream are nested more than " +
                                                   std::to_string(kMaxDepth) + " deep");
                return;
            }
            Reader inner(depth_ + 1);
            auto m = inner.read(body);
            if (!inner.status_.ok()) {
                status_ = inner.status_;
                return;
            }
            if (!m) {
                warn("the embedded message cannot be read (" + m.error().description + "): kept as data");
                att->props.set(Property::binary(makeTag(tags::PidTagAttachDataBinary, PT_BINARY), body));
                return;
            }
            for (const std::string& w : m->warnings) warn("embedded message: " + w);
            m->warnings.clear();
            att->embedded = std::make_unique<Message>(std::move(*m));
            att->props.set(Property::int32(makeTag(tags::PidTagAttachMethod, PT_LONG), tags::afEmbeddedMessage));
            att->props.erase(tags::PidTagAttachDataBinary);
            return;
        }
        att->props.set(Property::binary(makeTag(tags::PidTagAttachDataBinary, PT_BINARY), body));
        att->props.set(Property::int32(makeTag(tags::PidTagAttachMethod, PT_LONG), tags::afByValue));
    }

    // 8-bit strings into Unicode, the legacy attributes under what the
    // encapsulated properties did not say, and the message class.
    void finish(Message& m) {
        for (const Property& p : legacy_.items()) setIfAbsent(m.props, p);
        if (!legacyClass_.empty())
            setIfAbsent(m.props, Property::unicodeUtf8(makeTag(tags::PidTagMessageClass, PT_UNICODE), mapiClass(legacyClass_)));
        widen(m.props);
        for (Recipient& r : m.recipients) widen(r.props);
        for (Attachment& a : m.attachments) widen(a.props);
    }

    void widen(PropertyBag& bag) {
        for (Property& p : bag.items()) {
            if (baseType(p.type()) != PT_STRING8) continue;
            auto toUnicode = [&](const Bytes& b) {
                auto t = decodeCodepage(b, codepage_);
                if (!t) t = decodeCodepage(b, kCodepageWindows1252);
                Bytes out;
                if (t) {
                    out.resize(t->size() * 2);
                    for (size_t i = 0; i < t->size(); ++i) storeLE16(out.data() + 2 * i, (*t)[i]);
                }
                return out;
            };
            if (isMultiValued(p.type())) {
                for (Bytes& b : p.multi) b = toUnicode(b);
                p.tag = makeTag(p.id(), static_cast<uint16_t>(PT_UNICODE | MV_FLAG));
            } else {
                p.data = toUnicode(p.data);
                p.tag = makeTag(p.id(), PT_UNICODE);
            }
        }
    }

    class Scope {
    public:
        Scope(Reader& r, const std::string& what) : r_(r), n_(r.where_.size()) { r.where_ += what; }
        ~Scope() { r_.where_.resize(n_); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Reader& r_;
        size_t n_;
    };

    int depth_;
    uint32_t codepage_ = kCodepageWindows1252;
    std::string legacyClass_;
    PropertyBag legacy_;
    std::vector<std::string> warnings_;
    size_t more_ = 0;
    std::string where_;
    Status status_;
};

}  // namespace

bool isTnef(ByteSpan data) { return data.size() >= 4 && loadLE32(data.data()) == kSignature; }

Result<Message> readTnef(ByteSpan data) {
    Reader r(0);
    return r.read(data);
}

}  // namespace tavrin::store::tnef
