#include "store/core/record.h"

#include <cstdio>

#include "fs/text.h"
#include "store/core/codepage.h"
#include "store/core/sha256.h"
#include "store/core/tags.h"

namespace tavrin::store {
namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

const char* const kNull = "null";

// Code pages an embedded message takes from its parent when it declares
// none; 0 for none.
struct Inherited {
    uint32_t strings = 0;
    uint32_t html = 0;
};

std::u16string stripTrailingNuls(std::u16string s) {
    while (!s.empty() && s.back() == u'\0') s.pop_back();
    return s;
}

// 8-bit text in `codepage`; a code page that cannot be converted falls back
// to 1252, so that a record can always be made.
std::u16string decode8(ByteSpan bytes, uint32_t codepage) {
    if (auto r = decodeCodepage(bytes, codepage)) return std::move(r).value();
    if (auto r = decodeCodepage(bytes, kCodepageWindows1252)) return std::move(r).value();
    return text::toUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string jsonText(const std::optional<std::u16string>& s) {
    if (!s || s->empty()) return kNull;
    return jsonString(text::toUtf8(*s));
}

std::string hashOrNull(const std::optional<std::u16string>& s, size_t* length = nullptr) {
    if (length) *length = 0;
    if (!s) return kNull;
    const std::string t = normalizedUtf8(*s);
    if (t.empty()) return kNull;
    if (length) *length = t.size();
    return "\"" + sha256Hex(ByteSpan(reinterpret_cast<const uint8_t*>(t.data()), t.size())) + "\"";
}

std::string timeOrNull(const PropertyBag& bag, uint16_t id) {
    auto t = bag.getSystime(id);
    if (!t) return kNull;
    const std::string s = isoTimeFromFiletime(*t);
    return s.empty() ? kNull : "\"" + s + "\"";
}

// The first non-empty text among the ids.
std::optional<std::u16string> firstText(const PropertyBag& bag, std::initializer_list<uint16_t> ids, uint32_t cp) {
    for (uint16_t id : ids)
        if (auto s = textProperty(bag, id, cp); s && !s->empty()) return s;
    return std::nullopt;
}

void appendMembers(std::string& out, const Members& members, bool& first) {
    for (const auto& [k, v] : members) {
        if (!first) out += ',';
        first = false;
        out += jsonString(k);
        out += ':';
        out += v;
    }
}

std::string recipientType(const PropertyBag& bag) {
    auto t = bag.getInt32(tags::PidTagRecipientType);
    if (!t) return kNull;
    switch (*t & 0xF) {
        case 1: return "\"to\"";
        case 2: return "\"cc\"";
        case 3: return "\"bcc\"";
        default: return "\"" + std::to_string(*t) + "\"";
    }
}

// HTML stored as bytes is in the internet code page.
std::optional<std::u16string> htmlText(const Message& m, uint32_t htmlCp, uint32_t cp) {
    const Property* p = m.props.find(tags::PidTagHtml);
    if (!p) return std::nullopt;
    switch (p->type()) {
        case PT_BINARY: return decode8(p->data, htmlCp);
        case PT_UNICODE: case PT_STRING8: return textProperty(m.props, tags::PidTagHtml, cp);
        default: return std::nullopt;
    }
}

std::string record(const Message& m, const Inherited& inherited, const Members& leading, const Members& trailing,
                   const RecordOptions& options, int depth);

std::string attachmentJson(const Attachment& a, const Inherited& inherited, uint32_t cp, const RecordOptions& options,
                           int depth) {
    const auto name = firstText(a.props, {tags::PidTagAttachLongFilename, tags::PidTagAttachFilename,
                                          tags::PidTagDisplayName}, cp);
    std::string out = "{\"name\":" + jsonText(name);
    if (a.embedded) {
        // Embedded messages are bounded by the readers; the depth check only
        // keeps a hand-made cyclic model from recursing forever.
        out += ",\"message\":";
        out += depth < 64 ? record(*a.embedded, inherited, {}, {}, options, depth + 1) : std::string(kNull);
        return out + "}";
    }
    Bytes storageData;
    ByteSpan data;
    if (const Property* p = a.props.findTag(makeTag(tags::PidTagAttachDataBinary, PT_BINARY))) {
        data = p->data;
    } else if (a.storage && options.storageBytes) {
        storageData = options.storageBytes(*a.storage);
        data = storageData;
    }
    out += ",\"size\":" + std::to_string(data.size());
    out += ",\"sha256\":\"" + sha256Hex(data) + "\"}";
    return out;
}

std::string record(const Message& m, const Inherited& inherited, const Members& leading, const Members& trailing,
                   const RecordOptions& options, int depth) {
    // The code pages the message declares, else those of the message it is
    // embedded in, else the defaults.
    Inherited own{m.codepage(0), m.internetCodepage(0)};
    if (!own.strings) own.strings = inherited.strings;
    if (!own.html) own.html = inherited.html;
    const uint32_t cp = own.strings ? own.strings : kCodepageWindows1252;
    const uint32_t htmlCp = own.html ? own.html : kCodepageUtf8;
    const PropertyBag& b = m.props;
    std::string out = "{";
    bool first = true;
    appendMembers(out, leading, first);
    if (!first) out += ',';

    out += "\"subject\":";
    if (auto s = textProperty(b, tags::PidTagSubject, cp)) {
        if (s->size() >= 2 && (*s)[0] == u'\x01') s->erase(0, 2);
        out += jsonString(text::toUtf8(*s));
    } else {
        out += kNull;
    }

    out += ",\"sender\":{\"name\":" + jsonText(textProperty(b, tags::PidTagSenderName, cp));
    out += ",\"address\":" +
           jsonText(firstText(b, {tags::PidTagSenderSmtpAddress, tags::PidTagSenderEmailAddress}, cp)) + "}";

    out += ",\"recipients\":[";
    for (size_t i = 0; i < m.recipients.size(); ++i) {
        const PropertyBag& r = m.recipients[i].props;
        if (i) out += ',';
        out += "{\"type\":" + recipientType(r);
        out += ",\"name\":" + jsonText(textProperty(r, tags::PidTagDisplayName, cp));
        out += ",\"address\":" + jsonText(firstText(r, {tags::PidTagSmtpAddress, tags::PidTagEmailAddress}, cp)) + "}";
    }
    out += "]";

    out += ",\"messageClass\":" + jsonText(textProperty(b, tags::PidTagMessageClass, cp));
    size_t bodyLength = 0;
    out += ",\"bodySha256\":" + hashOrNull(textProperty(b, tags::PidTagBody, cp), &bodyLength);
    out += ",\"bodyLength\":" + std::to_string(bodyLength);
    out += ",\"htmlSha256\":" + hashOrNull(htmlText(m, htmlCp, cp));

    out += ",\"attachments\":[";
    for (size_t i = 0; i < m.attachments.size(); ++i) {
        if (i) out += ',';
        out += attachmentJson(m.attachments[i], own, cp, options, depth);
    }
    out += "]";

    out += ",\"submitTime\":" + timeOrNull(b, tags::PidTagClientSubmitTime);
    out += ",\"deliveryTime\":" + timeOrNull(b, tags::PidTagMessageDeliveryTime);
    auto flags = b.getInt32(tags::PidTagMessageFlags);
    out += ",\"flags\":" + (flags ? std::to_string(*flags) : std::string(kNull));

    first = false;
    appendMembers(out, trailing, first);
    out += "}";
    return out;
}

}  // namespace

std::optional<std::u16string> textProperty(const PropertyBag& bag, uint16_t id, uint32_t codepage) {
    // By tag: another value under the same id (a damaged file's 0x10001E00
    // before its 0x1000001E) must not hide the text.
    if (const Property* p = bag.findTag(makeTag(id, PT_UNICODE))) return stripTrailingNuls(p->asUnicode());
    if (const Property* p = bag.findTag(makeTag(id, PT_STRING8))) return stripTrailingNuls(decode8(p->data, codepage));
    return std::nullopt;
}

std::string normalizedUtf8(std::u16string_view text) {
    std::u16string t;
    t.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            t.push_back(u'\n');
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else {
            t.push_back(text[i]);
        }
    }
    while (!t.empty() && t.back() == u'\0') t.pop_back();
    return text::toUtf8(t);
}

std::string isoTimeFromFiletime(uint64_t filetime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    const int64_t secs = static_cast<int64_t>(filetime / kTicksPerSecond);  // since 1601-01-01
    int64_t days = secs / 86400;
    const int64_t rem = secs % 86400;
    // Days since 1601-01-01 to a civil date: shift to days since 0000-03-01
    // (1601-01-01 is day 584694 of that count) and use the 400-year cycle.
    days += 584694;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t year = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2) ++year;
    // Dates in 1601 are what a zero or near-zero FILETIME reads as: no date.
    if (year <= 1601) return {};
    char buf[40];
    if (year <= 9999)
        std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                      static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rem / 3600),
                      static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
    else
        std::snprintf(buf, sizeof buf, "+%06lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                      static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rem / 3600),
                      static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
    return buf;
}

std::string jsonString(std::string_view s) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\b': out += "\\b"; break;
                case '\f': out += "\\f"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\t': out += "\\t"; break;
                default:
                    if (c < 0x20) {
                        out += "\\u00";
                        out += hex[c >> 4];
                        out += hex[c & 15];
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence is copied; anything else is U+FFFD.
        size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len && i + len <= s.size();
        char32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; ok && k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (ok) {
            const char32_t min = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
            ok = cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        }
        if (ok) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    out += '"';
    return out;
}

std::string messageRecordJson(const Message& m, const Members& leading, const Members& trailing) {
    return messageRecordJson(m, leading, trailing, RecordOptions{});
}

std::string messageRecordJson(const Message& m, const Members& leading, const Members& trailing,
                              const RecordOptions& options) {
    return record(m, Inherited{}, leading, trailing, options, 0);
}

}  // namespace tavrin::store
