// MIME to MAPI: an Internet message into store::Message as Outlook's own
// conversion stores it ([MS-OXCMAIL] 2.2.3 and 2.4). See internet_mail.h.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fs/cpu_features.h"
#include "fs/text.h"
#include "store/core/codepage.h"
#include "store/core/tags.h"
#include "store/mime/header_values.h"
#include "store/mime/internet_mail.h"
#include "store/mime/mime_entity.h"
#include "store/mime/mime_text.h"
#include "store/mime/tnef_reader.h"

namespace tavrin::store::mime {

namespace {

namespace t = tags;

// Property ids used only here ([MS-OXPROPS]).
constexpr uint16_t PidTagPriority = 0x0026;
constexpr uint16_t PidTagSentRepresentingSearchKey = 0x003B;
constexpr uint16_t PidTagSentRepresentingEntryId = 0x0041;
constexpr uint16_t PidTagReplyRecipientEntries = 0x004F;
constexpr uint16_t PidTagReplyRecipientNames = 0x0050;
constexpr uint16_t PidTagSentRepresentingAddressType = 0x0064;
constexpr uint16_t PidTagTransportMessageHeaders = 0x007D;
constexpr uint16_t PidTagSenderEntryId = 0x0C19;
constexpr uint16_t PidTagSenderSearchKey = 0x0C1D;
constexpr uint16_t PidTagSenderAddressType = 0x0C1E;
constexpr uint16_t PidTagResponsibility = 0x0E0F;
constexpr uint16_t PidTagInternetMessageId = 0x1035;
constexpr uint16_t PidTagInternetReferences = 0x1039;
constexpr uint16_t PidTagInReplyToId = 0x1042;
constexpr uint16_t PidTagSendRichInfo = 0x3A40;
constexpr uint16_t PidTagAttachContentLocation = 0x3713;
constexpr uint32_t kAttachFlagMhtmlRef = 4;  // ATT_MHTML_REF

constexpr uint32_t tagU(uint16_t id) { return makeTag(id, PT_UNICODE); }

Property text16(uint16_t id, std::u16string_view v) { return Property::unicode(tagU(id), v); }
Property text8(uint16_t id, std::string_view v) { return Property::unicodeUtf8(tagU(id), v); }

std::u16string widen(std::string_view ascii) {
    std::u16string s;
    s.reserve(ascii.size());
    for (char c : ascii) s.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return s;
}

void appendUtf16Z(Bytes& b, std::u16string_view s) {
    const size_t at = b.size();
    b.resize(at + 2 * (s.size() + 1));
    for (size_t i = 0; i < s.size(); ++i) storeLE16(b.data() + at + 2 * i, s[i]);
}

// [MS-OXCDATA] 2.2.5.1 one-off entry id with Unicode strings and no rich
// text (flags MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO).
Bytes oneOffEntryId(const std::u16string& name, const std::string& address) {
    static const uint8_t kOneOffUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                           0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
    ByteWriter w(64 + 2 * (name.size() + address.size()));
    w.u32(0);  // flags
    w.bytes(ByteSpan(kOneOffUid, 16));
    w.u16(0);       // version
    w.u16(0x8001);  // MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO
    Bytes b = w.take();
    appendUtf16Z(b, name);
    appendUtf16Z(b, u"SMTP");
    text::appendUtf16Le(address, b);
    b.push_back(0);
    b.push_back(0);
    return b;
}

// PidTagSearchKey of an address: "SMTP:" and the address in upper case,
// with a terminating NUL ([MS-OXCMAIL] 2.2.3.2.1).
Bytes searchKey(const std::string& address) {
    Bytes b(5 + address.size() + 1);
    std::memcpy(b.data(), "SMTP:", 5);
    for (size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        b[5 + i] = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    return b;  // ends with the NUL of its construction
}

std::u16string displayNameOf(const Mailbox& m) { return m.name.empty() ? text::toUtf16(m.address) : m.name; }

// The subject prefix as MAPI computes it: one to three characters that are
// not digits, spaces or punctuation, then ": " (PidTagSubjectPrefix).
size_t subjectPrefixLength(const std::u16string& s) {
    for (size_t n = 1; n <= 3 && n + 1 < s.size(); ++n) {
        const char16_t c = s[n - 1];
        const bool bad = (c >= u'0' && c <= u'9') || c == u' ' || c == u'\t' ||
                         (c < 0x80 && !((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')));
        if (bad) return 0;
        if (s[n] == u':' && s[n + 1] == u' ') return n + 2;
    }
    return 0;
}

// Whether every line end of the UTF-16LE text of `n` units at `s` is
// CR LF already: each CR has an LF after it and each LF a CR before it,
// which is unit k being CR exactly when unit k + 1 is LF, over the whole
// text, with neither an LF first nor a CR last. The vector steps compare
// the units at k with those at k + 1 and gather the differences, looked at
// every 64 units; each returns the number of units k it checked.
#if defined(__SSE2__)
size_t crlfPairsSse2(const uint8_t* s, size_t n, bool& lone) {
    const __m128i cr = _mm_set1_epi16(u'\r'), lf = _mm_set1_epi16(u'\n');
    __m128i diff = _mm_setzero_si128();
    size_t i = 0;
    for (; n - i >= 9; i += 8) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i + 2));
        diff = _mm_or_si128(diff, _mm_xor_si128(_mm_cmpeq_epi16(here, cr), _mm_cmpeq_epi16(next, lf)));
        if ((i & 63) == 56 && _mm_movemask_epi8(diff)) break;
    }
    lone = _mm_movemask_epi8(diff) != 0;
    return i;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_CRLF_AVX2 1
__attribute__((target("avx2"))) size_t crlfPairsAvx2(const uint8_t* s, size_t n, bool& lone) {
    const __m256i cr = _mm256_set1_epi16(u'\r'), lf = _mm256_set1_epi16(u'\n');
    __m256i diff = _mm256_setzero_si256();
    size_t i = 0;
    for (; n - i >= 17; i += 16) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2 * i));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 2 * i + 2));
        diff = _mm256_or_si256(diff, _mm256_xor_si256(_mm256_cmpeq_epi16(here, cr), _mm256_cmpeq_epi16(next, lf)));
        if ((i & 63) == 48 && _mm256_movemask_epi8(diff)) break;
    }
    lone = _mm256_movemask_epi8(diff) != 0;
    return i;
}
#endif

bool allCrlf(const uint8_t* s, size_t n) {
    if (n == 0) return true;
    if (loadLE16(s) == u'\n' || loadLE16(s + 2 * (n - 1)) == u'\r') return false;
    size_t i = 0;  // units k < i are checked
    bool lone = false;
#if defined(TAVRIN_CRLF_AVX2)
    if (fs::cpuHasAvx2()) i = crlfPairsAvx2(s, n, lone);
    else
#endif
#if defined(__SSE2__)
        i = crlfPairsSse2(s, n, lone);
#endif
    if (lone) return false;
    for (; i + 1 < n; ++i)
        if ((loadLE16(s + 2 * i) == u'\r') != (loadLE16(s + 2 * i + 2) == u'\n')) return false;
    return true;
}

// The UTF-16LE text with every line end made CR LF: a bare CR or LF
// becomes CR LF. Most text has CR LF line ends already: then it is kept as
// it is.
void crlf(Bytes& b) {
    const size_t n = b.size() / 2;
    if (allCrlf(b.data(), n)) return;
    Bytes out;
    out.reserve(b.size() + b.size() / 8);
    auto put = [&out](char16_t c) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    };
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = static_cast<char16_t>(loadLE16(b.data() + 2 * i));
        if (c == u'\r') {
            put(u'\r');
            put(u'\n');
            if (i + 1 < n && loadLE16(b.data() + 2 * i + 2) == u'\n') ++i;
        } else if (c == u'\n') {
            put(u'\r');
            put(u'\n');
        } else {
            put(c);
        }
    }
    b = std::move(out);
}

// Whether the UTF-16LE text holds `what` (at a unit boundary).
bool containsUnits(const Bytes& text, std::u16string_view what) {
    Bytes needle;
    needle.reserve(2 * what.size());
    for (char16_t c : what) {
        needle.push_back(static_cast<uint8_t>(c));
        needle.push_back(static_cast<uint8_t>(c >> 8));
    }
    const std::string_view hay = asView(text), pin = asView(needle);
    for (size_t at = hay.find(pin); at != std::string_view::npos; at = hay.find(pin, at + 1))
        if (at % 2 == 0) return true;
    return false;
}

Property textLe(uint16_t id, Bytes&& v) {
    Property p;
    p.tag = tagU(id);
    p.data = std::move(v);
    return p;
}

std::string trimmed(std::string_view v) { return std::string(trimWhitespace(v)); }

std::string collapseSpace(std::string_view v) {
    std::string out;
    bool space = false;
    for (char c : trimWhitespace(v)) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            space = true;
            continue;
        }
        if (space && !out.empty()) out.push_back(' ');
        space = false;
        out.push_back(c);
    }
    return out;
}

// The Content-ID without its angle brackets.
std::string contentId(const Entity& e) {
    const HeaderField* f = e.field("Content-ID");
    if (!f) return {};
    std::string v = trimmed(f->value);
    if (v.size() >= 2 && v.front() == '<' && v.back() == '>') v = v.substr(1, v.size() - 2);
    return v;
}

// A file name extension for a MIME type, for attachments without a name.
const char* extensionOf(const std::string& mime) {
    struct Pair {
        const char* type;
        const char* ext;
    };
    static const Pair pairs[] = {
        {"text/plain", ".txt"}, {"text/html", ".htm"}, {"text/calendar", ".ics"}, {"text/rtf", ".rtf"},
        {"text/xml", ".xml"}, {"text/csv", ".csv"}, {"text/x-vcard", ".vcf"}, {"text/vcard", ".vcf"},
        {"image/jpeg", ".jpg"}, {"image/jpg", ".jpg"}, {"image/pjpeg", ".jpg"}, {"image/png", ".png"},
        {"image/gif", ".gif"}, {"image/bmp", ".bmp"}, {"image/tiff", ".tif"}, {"image/svg+xml", ".svg"},
        {"application/pdf", ".pdf"}, {"application/zip", ".zip"}, {"application/msword", ".doc"},
        {"application/rtf", ".rtf"}, {"application/ics", ".ics"}, {"application/xml", ".xml"},
        {"application/pkcs7-signature", ".p7s"}, {"application/x-pkcs7-signature", ".p7s"},
        {"application/pkcs7-mime", ".p7m"}, {"application/x-pkcs7-mime", ".p7m"},
        {"application/pgp-signature", ".asc"}, {"application/pgp-encrypted", ".asc"},
        {"message/rfc822", ".eml"}, {"message/delivery-status", ".txt"}, {"message/disposition-notification", ".txt"},
        {"audio/mpeg", ".mp3"}, {"audio/wav", ".wav"}, {"video/mp4", ".mp4"},
    };
    for (const Pair& p : pairs)
        if (mime == p.type) return p.ext;
    return ".bin";
}

std::u16string extensionOfName(const std::u16string& name) {
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos || dot == 0 || name.size() - dot > 16) return {};
    if (name.find_first_of(u"/\\", dot) != std::u16string::npos) return {};
    return name.substr(dot);
}

// Code pages a body keeps as its PidTagInternetCodepage: those that
// Windows and the PST readers know by number. A body in another charset
// is stored as UTF-8 (its text is Unicode by now), so that no reader has
// to know an ISO or EUC code page number.
uint32_t internetCodepageFor(uint32_t cp) {
    switch (cp) {
        case 874: case 932: case 936: case 949: case 950:
        case 1250: case 1251: case 1252: case 1253: case 1254: case 1255: case 1256: case 1257: case 1258:
        case kCodepageAscii: case kCodepageLatin1: case kCodepageUtf8:
            return cp;
        default:
            return kCodepageUtf8;
    }
}

struct PendingAttachment {
    Attachment att;
    std::string contentId;
    std::string contentLocation;
    bool related = false;  // a resource of a multipart/related
};

class Converter {
public:
    Converter(Findings& findings, int depth) : findings_(findings), depth_(depth) {}

    Result<Message> convert(ByteSpan data) {
        bool mixedLineEnds = false;
        ParseOptions options;
        options.mixedLineEnds = &mixedLineEnds;
        Entity top = parseEntity(data, findings_, options);
        if (top.headers.empty()) return Error(err::kCorrupt, "not an Internet message: it has no header fields");
        if (mixedLineEnds) findings_.add("line ends are mixed (CR LF and bare LF); read as they are");
        Message m;
        m.props.reserve(40);  // about what a message with a sender, a date and both bodies has
        envelope(top, m);
        content(top, m);
        m.props.set(Property::int32(makeTag(t::PidTagMessageFlags, PT_LONG),
                                    t::MSGFLAG_READ | (m.attachments.empty() ? 0 : t::MSGFLAG_HASATTACH)));
        return m;
    }

private:
    // ---- header fields ----

    void envelope(const Entity& top, Message& m) {
        // The header block as it came, with CRLF line ends.
        Bytes headers;
        decodeUnlabelledLe(top.header, headers);
        crlf(headers);
        if (!headers.empty() && loadLE16(headers.data() + headers.size() - 2) != u'\n')
            headers.insert(headers.end(), {'\r', 0, '\n', 0});
        m.props.set(textLe(PidTagTransportMessageHeaders, std::move(headers)));

        if (const HeaderField* s = top.field("Subject")) {
            const std::u16string subject = decodeHeaderText(asBytes(s->value), &findings_, "Subject");
            m.props.set(text16(t::PidTagSubject, subject));
            const size_t n = subjectPrefixLength(subject);
            const std::u16string_view view = subject;
            m.props.set(text16(t::PidTagSubjectPrefix, view.substr(0, n)));
            m.props.set(text16(t::PidTagNormalizedSubject, view.substr(n)));
            m.props.set(text16(t::PidTagConversationTopic, view.substr(n)));
        }
        if (const HeaderField* tt = top.field("Thread-Topic"))
            m.props.set(text16(t::PidTagConversationTopic, decodeHeaderText(asBytes(tt->value), &findings_, "Thread-Topic")));
        if (const HeaderField* ti = top.field("Thread-Index")) {
            Bytes index = decodeBase64(asBytes(ti->value));
            if (index.size() >= 22) m.props.set(Property::binary(makeTag(t::PidTagConversationIndex, PT_BINARY), std::move(index)));
        }

        const std::vector<Mailbox> from = addresses(top, "From");
        const std::vector<Mailbox> sender = addresses(top, "Sender");
        if (!from.empty()) setAddress(m.props, from.front(), false);
        // A Sender of the From address adds nothing (and often no name).
        const bool sameSender = !sender.empty() && !from.empty() &&
                                text::equalsIgnoreAsciiCase(sender.front().address, from.front().address);
        if (!sender.empty() && !sameSender) setAddress(m.props, sender.front(), true);
        else if (!from.empty()) setAddress(m.props, from.front(), true);

        std::vector<Mailbox> lists[3] = {addresses(top, "To"), addresses(top, "Cc"), addresses(top, "Bcc")};
        m.recipients.reserve(lists[0].size() + lists[1].size() + lists[2].size());
        for (int type = 1; type <= 3; ++type)
            for (const Mailbox& mb : lists[type - 1]) m.recipients.push_back(recipient(mb, type));
        if (const std::vector<Mailbox> reply = addresses(top, "Reply-To"); !reply.empty()) {
            std::u16string names;
            ByteWriter entries;
            entries.u32(static_cast<uint32_t>(reply.size()));
            entries.u32(0);  // cbEntries, patched below
            for (const Mailbox& mb : reply) {
                if (!names.empty()) names += u"; ";
                names += displayNameOf(mb);
                // [MS-OXCDATA] 2.3.3 FlatEntryList: each entry padded to 4.
                const Bytes id = oneOffEntryId(displayNameOf(mb), mb.address);
                entries.u32(static_cast<uint32_t>(id.size()));
                entries.bytes(id);
                entries.align(4);
            }
            const size_t cb = entries.size() - 8;
            entries.patchLE32(4, static_cast<uint32_t>(cb));
            m.props.set(text16(PidTagReplyRecipientNames, names));
            m.props.set(Property::binary(makeTag(PidTagReplyRecipientEntries, PT_BINARY), entries.take()));
        }

        std::optional<uint64_t> date;
        if (const HeaderField* d = top.field("Date")) {
            date = parseDateTime(d->value);
            if (date) m.props.set(Property::systime(makeTag(t::PidTagClientSubmitTime, PT_SYSTIME), *date));
            else findings_.add("the Date field \"" + trimmed(d->value).substr(0, 60) + "\" cannot be read");
        }
        std::optional<uint64_t> delivered;
        if (const HeaderField* r = top.field("Received")) delivered = parseReceivedDate(r->value);
        if (!delivered) delivered = date;
        if (delivered) m.props.set(Property::systime(makeTag(t::PidTagMessageDeliveryTime, PT_SYSTIME), *delivered));

        if (const HeaderField* id = top.field("Message-ID")) m.props.set(text8(PidTagInternetMessageId, collapseSpace(id->value)));
        if (const HeaderField* irt = top.field("In-Reply-To")) m.props.set(text8(PidTagInReplyToId, collapseSpace(irt->value)));
        if (const HeaderField* refs = top.field("References")) m.props.set(text8(PidTagInternetReferences, collapseSpace(refs->value)));

        if (auto imp = importance(top)) m.props.set(Property::int32(makeTag(t::PidTagImportance, PT_LONG), *imp));
        if (const HeaderField* p = top.field("Priority")) {
            const std::string v = lowerAscii(trimmed(p->value));
            const int prio = v == "urgent" ? 1 : v == "non-urgent" ? -1 : 0;
            m.props.set(Property::int32(makeTag(PidTagPriority, PT_LONG), prio));
        }
        if (const HeaderField* s = top.field("Sensitivity")) {
            const std::string v = lowerAscii(trimmed(s->value));
            const int sens = v == "personal" ? 1 : v == "private" ? 2 : v == "company-confidential" ? 3 : 0;
            m.props.set(Property::int32(makeTag(t::PidTagSensitivity, PT_LONG), sens));
        }
    }

    std::vector<Mailbox> addresses(const Entity& e, const char* field) {
        std::vector<Mailbox> out;
        for (const HeaderField& f : e.headers) {
            if (!text::equalsIgnoreAsciiCase(f.name, field)) continue;
            std::vector<Mailbox> list = parseAddressList(f.value, &findings_, field);
            if (out.empty()) out = std::move(list);
            else out.insert(out.end(), std::make_move_iterator(list.begin()), std::make_move_iterator(list.end()));
        }
        return out;
    }

    // [MS-OXCMAIL] 2.2.3.2.5: Importance, else X-Priority, Priority,
    // X-MSMail-Priority.
    static std::optional<int32_t> importance(const Entity& e) {
        if (const HeaderField* f = e.field("Importance")) {
            const std::string v = lowerAscii(trimmed(f->value));
            if (v == "low") return 0;
            if (v == "normal") return 1;
            if (v == "high") return 2;
        }
        if (const HeaderField* f = e.field("X-Priority")) {
            const std::string v = trimmed(f->value);
            if (!v.empty() && v[0] >= '1' && v[0] <= '5') return v[0] <= '2' ? 2 : v[0] == '3' ? 1 : 0;
        }
        if (const HeaderField* f = e.field("Priority")) {
            const std::string v = lowerAscii(trimmed(f->value));
            if (v == "non-urgent") return 0;
            if (v == "normal") return 1;
            if (v == "urgent") return 2;
        }
        if (const HeaderField* f = e.field("X-MSMail-Priority")) {
            const std::string v = lowerAscii(trimmed(f->value));
            if (v == "low") return 0;
            if (v == "normal") return 1;
            if (v == "high") return 2;
        }
        return std::nullopt;
    }

    // The sender (PidTagSender*) or sent-representing (PidTagSentRepresenting*)
    // properties of a mailbox.
    static void setAddress(PropertyBag& bag, const Mailbox& mb, bool sender) {
        const std::u16string name = displayNameOf(mb);
        bag.set(text16(sender ? t::PidTagSenderName : t::PidTagSentRepresentingName, name));
        if (mb.address.empty()) return;
        bag.set(text8(sender ? PidTagSenderAddressType : PidTagSentRepresentingAddressType, "SMTP"));
        bag.set(text8(sender ? t::PidTagSenderEmailAddress : t::PidTagSentRepresentingEmailAddress, mb.address));
        bag.set(text8(sender ? t::PidTagSenderSmtpAddress : t::PidTagSentRepresentingSmtpAddress, mb.address));
        bag.set(Property::binary(makeTag(sender ? PidTagSenderEntryId : PidTagSentRepresentingEntryId, PT_BINARY),
                                 oneOffEntryId(name, mb.address)));
        bag.set(Property::binary(makeTag(sender ? PidTagSenderSearchKey : PidTagSentRepresentingSearchKey, PT_BINARY),
                                 searchKey(mb.address)));
    }

    static Recipient recipient(const Mailbox& mb, int type) {
        Recipient r;
        PropertyBag& b = r.props;
        b.reserve(11);  // what follows sets
        const std::u16string name = displayNameOf(mb);
        b.set(Property::int32(makeTag(t::PidTagRecipientType, PT_LONG), type));
        b.set(text16(t::PidTagDisplayName, name));
        b.set(Property::int32(makeTag(t::PidTagObjectType, PT_LONG), 6));   // MAPI_MAILUSER
        b.set(Property::int32(makeTag(t::PidTagDisplayType, PT_LONG), 0));  // DT_MAILUSER
        b.set(Property::boolean(makeTag(PidTagResponsibility, PT_BOOLEAN), false));
        b.set(Property::boolean(makeTag(PidTagSendRichInfo, PT_BOOLEAN), false));
        if (!mb.address.empty()) {
            b.set(text8(t::PidTagAddressType, "SMTP"));
            b.set(text8(t::PidTagEmailAddress, mb.address));
            b.set(text8(t::PidTagSmtpAddress, mb.address));
            b.set(Property::binary(makeTag(t::PidTagEntryId, PT_BINARY), oneOffEntryId(name, mb.address)));
            b.set(Property::binary(makeTag(t::PidTagSearchKey, PT_BINARY), searchKey(mb.address)));
        }
        return r;
    }

    // ---- content ----

    void content(const Entity& top, Message& m) {
        std::string cls = "IPM.Note";
        if (top.is("multipart", "signed") && !top.parts.empty() &&
            lowerAscii(top.contentType.param("protocol") ? top.contentType.param("protocol")->value : "").find("pkcs7-signature") !=
                std::string::npos) {
            // Clear-signed S/MIME: Outlook keeps the signed entity whole as
            // smime.p7m and shows the signed part's text.
            cls = "IPM.Note.SMIME.MultipartSigned";
            Walk w;
            w.bodiesOnly = true;
            walk(top.parts[0], w, "1");
            Attachment a;
            Bytes entity;
            for (const HeaderField& h : top.headers) {
                if (lowerAscii(h.name).rfind("content-", 0) != 0 && lowerAscii(h.name) != "mime-version") continue;
                entity.insert(entity.end(), h.name.begin(), h.name.end());
                entity.push_back(':');
                entity.insert(entity.end(), h.value.begin(), h.value.end());
                entity.push_back('\r');
                entity.push_back('\n');
            }
            entity.push_back('\r');
            entity.push_back('\n');
            entity.insert(entity.end(), top.body.begin(), top.body.end());
            byValue(a, u"smime.p7m", "multipart/signed", std::move(entity));
            w.attachments.push_back({std::move(a), {}, {}, false});
            finishContent(m, w, cls);
            return;
        }
        if (top.is("application", "pkcs7-mime") || top.is("application", "x-pkcs7-mime")) {
            cls = "IPM.Note.SMIME";
            Walk w;
            Attachment a;
            std::u16string name = fileName(top);
            byValue(a, name.empty() ? u"smime.p7m" : name, "application/pkcs7-mime", decodeBody(top, findings_, "smime.p7m"));
            w.attachments.push_back({std::move(a), {}, {}, false});
            finishContent(m, w, cls);
            return;
        }
        Walk w;
        walk(top, w, "");
        finishContent(m, w, cls);
    }

    struct Walk {
        bool bodiesOnly = false;
        Bytes text;  // UTF-16LE, as their properties keep them
        Bytes html;
        bool haveText = false;
        bool haveHtml = false;
        uint32_t textCodepage = 0;
        uint32_t htmlCodepage = 0;
        std::vector<PendingAttachment> attachments;
        std::vector<Message> tnef;  // decoded winmail.dat streams
        int unnamed = 0;
    };

    static std::string partName(const std::string& path) { return path.empty() ? "the body" : "part " + path; }

    void walk(const Entity& e, Walk& w, const std::string& path, bool related = false) {
        if (e.isMultipart()) {
            // multipart/related: the root (the "start" part, else the
            // first) is content; the other parts are its resources.
            size_t root = 0;
            const bool isRelated = e.subtype == "related";
            if (isRelated) {
                if (const Parameter* start = e.contentType.param("start")) {
                    std::string id = start->value;
                    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
                    for (size_t i = 0; i < e.parts.size(); ++i)
                        if (contentId(e.parts[i]) == id) root = i;
                }
            }
            for (size_t i = 0; i < e.parts.size(); ++i)
                walk(e.parts[i], w, path.empty() ? std::to_string(i + 1) : path + "." + std::to_string(i + 1),
                     isRelated ? i != root : related);
            return;
        }
        const std::string disposition = e.disposition.value;
        const bool inlineText = (e.is("text", "plain") || e.is("text", "html")) &&
                                (disposition.empty() || disposition == "inline");
        if (inlineText) {
            uint32_t cp = 0;
            const Parameter* cs = e.contentType.param("charset");
            const std::string where = partName(path);
            Bytes decoded;
            const ByteSpan raw = decodeBody(e, findings_, where, decoded);
            Bytes text;
            decodeTextLe(raw, cs ? cs->value : std::string(), &findings_, where, &cp, text);
            crlf(text);
            const bool html = e.subtype == "html";
            Bytes& into = html ? w.html : w.text;
            bool& have = html ? w.haveHtml : w.haveText;
            if (have) {
                into.insert(into.end(), {'\r', 0, '\n', 0});
                into.insert(into.end(), text.begin(), text.end());
            } else {
                into = std::move(text);
            }
            have = true;
            uint32_t& slot = html ? w.htmlCodepage : w.textCodepage;
            if (slot == 0) slot = cp;
            return;
        }
        if (w.bodiesOnly) return;
        if (e.is("message", "rfc822")) {
            embedded(e, w, path);
            return;
        }
        if (e.is("application", "ms-tnef") || e.is("application", "vnd.ms-tnef")) {
            const Bytes data = decodeBody(e, findings_, partName(path));
            auto msg = tnef::readTnef(data);
            if (msg) {
                for (const std::string& f : msg->warnings) findings_.add("winmail.dat: " + f);
                msg->warnings.clear();
                w.tnef.push_back(std::move(*msg));
                return;
            }
            findings_.add("winmail.dat cannot be decoded (" + msg.error().description + "); kept as an attachment");
        }
        PendingAttachment pa;
        pa.related = related;
        pa.contentId = contentId(e);
        if (const HeaderField* loc = e.field("Content-Location")) pa.contentLocation = trimmed(loc->value);
        std::string uuName;
        Bytes data;
        const std::string te = e.transferEncoding;
        if (te == "x-uuencode" || te == "uuencode" || te == "x-uue" || te == "uue") {
            bool bad = false;
            data = decodeUuencode(e.body, &bad, &uuName);
            if (bad) findings_.add(partName(path) + ": damaged uuencode, decoded as far as it goes");
        } else {
            data = decodeBody(e, findings_, partName(path));
        }
        std::u16string name = fileName(e);
        if (name.empty() && !uuName.empty()) name = decodeUnlabelled(asBytes(uuName));
        if (name.empty()) name = generatedName(w, e.mimeType());
        byValue(pa.att, name, e.mimeType(), std::move(data));
        if (!pa.contentId.empty()) pa.att.props.set(text8(t::PidTagAttachContentId, pa.contentId));
        if (!pa.contentLocation.empty()) pa.att.props.set(text8(PidTagAttachContentLocation, pa.contentLocation));
        w.attachments.push_back(std::move(pa));
    }

    std::u16string generatedName(Walk& w, const std::string& mime) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "ATT%05d", ++w.unnamed);
        return widen(std::string(buf) + extensionOf(mime));
    }

    std::u16string fileName(const Entity& e) {
        std::u16string name = e.disposition.text("filename", &findings_, "file name");
        if (name.empty()) name = e.contentType.text("name", &findings_, "file name");
        // Path parts a sender's program left in are not part of the name.
        const size_t slash = name.find_last_of(u"/\\");
        if (slash != std::u16string::npos && slash + 1 < name.size()) name = name.substr(slash + 1);
        return name;
    }

    // The data is moved in: an attachment's bytes are held once.
    static void byValue(Attachment& a, const std::u16string& name, const std::string& mime, Bytes data) {
        a.props.set(Property::int32(makeTag(t::PidTagAttachMethod, PT_LONG), t::afByValue));
        Property bin;
        bin.tag = makeTag(t::PidTagAttachDataBinary, PT_BINARY);
        bin.data = std::move(data);
        a.props.set(std::move(bin));
        a.props.set(text16(t::PidTagAttachLongFilename, name));
        a.props.set(text16(t::PidTagDisplayName, name));
        const std::u16string ext = extensionOfName(name);
        if (!ext.empty()) a.props.set(text16(t::PidTagAttachExtension, ext));
        a.props.set(text8(t::PidTagAttachMimeTag, mime));
        a.props.set(Property::int32(makeTag(t::PidTagRenderingPosition, PT_LONG), -1));
    }

    void embedded(const Entity& e, Walk& w, const std::string& path) {
        Bytes data = decodeBody(e, findings_, partName(path));
        PendingAttachment pa;
        std::u16string name = fileName(e);
        if (depth_ + 1 < kMaxEmbedding) {
            Findings inner;
            Converter c(inner, depth_ + 1);
            auto msg = c.convert(data);
            if (msg) {
                const std::string where = "attached message " + (path.empty() ? std::string("1") : path) + ": ";
                for (const std::string& f : inner.take()) findings_.add(where + f);
                Attachment& a = pa.att;
                const Property* subj = msg->props.find(t::PidTagSubject);
                const std::u16string subject = subj ? subj->asUnicode() : std::u16string();
                a.props.set(Property::int32(makeTag(t::PidTagAttachMethod, PT_LONG), t::afEmbeddedMessage));
                a.props.set(text16(t::PidTagDisplayName, !subject.empty() ? subject : !name.empty() ? name : u"Untitled"));
                if (!name.empty()) a.props.set(text16(t::PidTagAttachLongFilename, name));
                a.props.set(text8(t::PidTagAttachMimeTag, "message/rfc822"));
                a.props.set(Property::int32(makeTag(t::PidTagRenderingPosition, PT_LONG), -1));
                a.embedded = std::make_unique<Message>(std::move(*msg));
                w.attachments.push_back(std::move(pa));
                return;
            }
            findings_.add(partName(path) + ": the attached message cannot be read (" + msg.error().description +
                          "); kept as a file");
        } else {
            findings_.add(partName(path) + ": attached messages nested more than " + std::to_string(kMaxEmbedding) +
                          " deep; kept as a file");
        }
        if (name.empty()) name = generatedName(w, "message/rfc822");
        byValue(pa.att, name, "message/rfc822", std::move(data));
        w.attachments.push_back(std::move(pa));
    }

    void finishContent(Message& m, Walk& w, const std::string& cls) {
        // The resources of multipart/related that the HTML shows are hidden
        // (looked for before the HTML moves into its property).
        std::vector<bool> hidden(w.attachments.size());
        for (size_t k = 0; k < w.attachments.size(); ++k) {
            const PendingAttachment& pa = w.attachments[k];
            hidden[k] = pa.related && w.haveHtml &&
                        ((!pa.contentId.empty() && containsUnits(w.html, text::toUtf16("cid:" + pa.contentId))) ||
                         (!pa.contentLocation.empty() && containsUnits(w.html, text::toUtf16(pa.contentLocation))));
        }
        m.props.set(text8(t::PidTagMessageClass, cls));
        if (w.haveText && !w.text.empty()) m.props.set(textLe(t::PidTagBody, std::move(w.text)));
        if (w.haveHtml && !w.html.empty()) m.props.set(textLe(t::PidTagHtml, std::move(w.html)));
        const uint32_t cp = w.haveHtml ? w.htmlCodepage : w.haveText ? w.textCodepage : 0;
        m.props.set(Property::int32(makeTag(t::PidTagInternetCodepage, PT_LONG),
                                    static_cast<int32_t>(internetCodepageFor(cp ? cp : kCodepageUtf8))));
        for (size_t k = 0; k < w.attachments.size(); ++k) {
            PendingAttachment& pa = w.attachments[k];
            if (hidden[k]) {
                pa.att.props.set(Property::boolean(makeTag(t::PidTagAttachmentHidden, PT_BOOLEAN), true));
                pa.att.props.set(Property::int32(makeTag(t::PidTagAttachFlags, PT_LONG), kAttachFlagMhtmlRef));
            }
            m.attachments.push_back(std::move(pa.att));
        }
        // winmail.dat: its properties over the MIME ones, its recipients
        // when MIME named none, its attachments after the others.
        for (Message& tn : w.tnef) {
            for (Property& p : tn.props.items()) {
                if (p.id() == t::PidTagMessageFlags || p.id() == PidTagTransportMessageHeaders) continue;
                m.props.set(std::move(p));
            }
            if (m.recipients.empty()) m.recipients = std::move(tn.recipients);
            for (Attachment& a : tn.attachments) m.attachments.push_back(std::move(a));
        }
    }

    Findings& findings_;
    int depth_;
};

}  // namespace

bool looksLikeInternetMessage(ByteSpan head) { return looksLikeHeader(head); }

Result<Message> readInternetMessage(ByteSpan bytes) {
    try {
        Findings findings;
        Converter c(findings, 0);
        auto m = c.convert(bytes);
        if (!m) return m;
        m->warnings = findings.take();
        return m;
    } catch (const std::bad_alloc&) {
        return Error(err::kNoMemory, "There is not enough memory to read the message.");
    }
}

}  // namespace tavrin::store::mime
