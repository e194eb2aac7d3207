#include "store/mime/mime_entity.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

#include "fs/cpu_features.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrin::store::mime {

namespace {

// A line of `data` from `pos`: [begin, contentEnd) is its text without the
// line end, `next` the offset after its line end.
struct Line {
    size_t begin = 0;
    size_t contentEnd = 0;
    size_t next = 0;
    bool crlf = false;
    bool terminated = false;
};

Line lineAt(ByteSpan data, size_t pos) {
    Line l;
    l.begin = pos;
    const uint8_t* p = data.data() + pos;
    const size_t left = data.size() - pos;
    const void* nl = left ? std::memchr(p, '\n', left) : nullptr;
    if (!nl) {
        l.contentEnd = l.next = data.size();
        return l;
    }
    const size_t eol = pos + static_cast<size_t>(static_cast<const uint8_t*>(nl) - p);
    l.terminated = true;
    l.next = eol + 1;
    l.contentEnd = eol;
    if (eol > pos && data[eol - 1] == '\r') {
        l.contentEnd = eol - 1;
        l.crlf = true;
    }
    return l;
}

bool isFieldNameChar(uint8_t c) { return c >= 33 && c <= 126 && c != ':'; }

// The length of the field name at the start of a line ("Subject" of
// "Subject: x"), or 0 when the line does not start a header field. Spaces
// before the colon are allowed (RFC 822's obsolete syntax).
size_t fieldNameLength(ByteSpan line) {
    size_t i = 0;
    while (i < line.size() && isFieldNameChar(line[i])) ++i;
    if (i == 0) return 0;
    size_t name = i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != ':') return 0;
    return name;
}

// Skips a UTF-8 byte order mark, lines of nothing but spaces and an mbox
// "From " line at the start.
size_t messageStart(ByteSpan data) {
    size_t pos = 0;
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) pos = 3;
    for (;;) {
        size_t i = pos;
        while (i < data.size() && (data[i] == ' ' || data[i] == '\t')) ++i;
        if (i == pos || i >= data.size() || (data[i] != '\r' && data[i] != '\n')) break;
        pos = lineAt(data, pos).next;
    }
    if (data.size() - pos >= 5 && std::memcmp(data.data() + pos, "From ", 5) == 0) pos = lineAt(data, pos).next;
    return pos;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

struct Tokenizer {
    std::string_view s;
    size_t i = 0;

    void skipSpaceAndComments() {
        for (;;) {
            while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
            if (i < s.size() && s[i] == '(') {
                int depth = 0;
                while (i < s.size()) {
                    if (s[i] == '\\') { i += 2; continue; }
                    if (s[i] == '(') ++depth;
                    if (s[i] == ')' && --depth == 0) { ++i; break; }
                    ++i;
                }
                continue;
            }
            break;
        }
    }
    bool atEnd() const { return i >= s.size(); }
};

std::string unquote(std::string_view s, size_t& i) {
    // s[i] is the opening quote.
    std::string out;
    ++i;
    while (i < s.size() && s[i] != '"') {
        if (s[i] == '\\' && i + 1 < s.size()) ++i;
        out.push_back(s[i]);
        ++i;
    }
    if (i < s.size()) ++i;  // closing quote
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string percentDecode(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t k = 0; k < s.size(); ++k) {
        if (s[k] == '%' && k + 2 < s.size() && hexDigit(s[k + 1]) >= 0 && hexDigit(s[k + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(s[k + 1]) * 16 + hexDigit(s[k + 2])));
            k += 2;
        } else {
            out.push_back(s[k]);
        }
    }
    return out;
}

}  // namespace

// ---- structured values ----

const Parameter* StructuredValue::param(std::string_view name) const {
    for (const Parameter& p : params)
        if (p.name == name) return &p;
    return nullptr;
}

std::u16string StructuredValue::text(std::string_view name, Findings* findings, std::string_view where) const {
    const Parameter* p = param(name);
    if (!p) return {};
    if (p->extended) {
        std::u16string t = decodeText(asBytes(p->value), p->charset, findings, where);
        return t;
    }
    return decodeHeaderText(asBytes(p->value), findings, where);
}

StructuredValue parseStructured(std::string_view value) {
    StructuredValue out;
    Tokenizer t{value};
    t.skipSpaceAndComments();
    size_t start = t.i;
    while (t.i < value.size() && value[t.i] != ';' && value[t.i] != '(') ++t.i;
    out.value = lowerAscii(trimWhitespace(value.substr(start, t.i - start)));
    // Parameters; RFC 2231 sections gathered by name first.
    struct Section {
        std::string value;
        bool extended = false;
    };
    std::map<std::string, std::map<int, Section>> sectioned;
    std::vector<std::string> order;
    std::vector<Parameter> plain;
    while (!t.atEnd()) {
        t.skipSpaceAndComments();
        if (t.atEnd()) break;
        if (value[t.i] == ';') {
            ++t.i;
            continue;
        }
        size_t n0 = t.i;
        while (t.i < value.size() && value[t.i] != '=' && value[t.i] != ';') ++t.i;
        std::string name = lowerAscii(trimWhitespace(value.substr(n0, t.i - n0)));
        if (t.i >= value.size() || value[t.i] != '=') continue;  // a name without a value
        ++t.i;
        while (t.i < value.size() && (value[t.i] == ' ' || value[t.i] == '\t')) ++t.i;
        std::string v;
        if (t.i < value.size() && value[t.i] == '"') {
            v = unquote(value, t.i);
            // Anything up to the next ';' after a closing quote is dropped.
            while (t.i < value.size() && value[t.i] != ';') ++t.i;
        } else {
            size_t v0 = t.i;
            while (t.i < value.size() && value[t.i] != ';') ++t.i;
            v = std::string(trimWhitespace(value.substr(v0, t.i - v0)));
        }
        if (name.empty()) continue;
        // RFC 2231: name*, name*N, name*N*.
        const size_t star = name.find('*');
        if (star == std::string::npos) {
            plain.push_back({name, v, {}, false});
            continue;
        }
        std::string base = name.substr(0, star);
        std::string rest = name.substr(star + 1);
        bool extended = false;
        int index = 0;
        if (rest.empty()) {
            extended = true;
        } else {
            if (rest.back() == '*') {
                extended = true;
                rest.pop_back();
            }
            if (rest.empty() || rest.size() > 4 || !std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            index = std::stoi(rest);
        }
        if (!sectioned.count(base)) order.push_back(base);
        sectioned[base][index] = Section{v, extended};
    }
    for (const std::string& base : order) {
        Parameter p;
        p.name = base;
        bool first = true;
        for (auto& [index, sec] : sectioned[base]) {
            std::string v = sec.value;
            if (sec.extended) {
                p.extended = true;
                if (first) {
                    // charset'language'value
                    const size_t q1 = v.find('\'');
                    const size_t q2 = q1 == std::string::npos ? std::string::npos : v.find('\'', q1 + 1);
                    if (q2 != std::string::npos) {
                        p.charset = v.substr(0, q1);
                        v = v.substr(q2 + 1);
                    }
                }
                v = percentDecode(v);
            }
            p.value += v;
            first = false;
        }
        // An RFC 2231 value wins over a plain one of the same name.
        plain.erase(std::remove_if(plain.begin(), plain.end(), [&](const Parameter& q) { return q.name == base; }),
                    plain.end());
        out.params.push_back(std::move(p));
    }
    // Plain parameters first, in their order (the first of a repeated name counts).
    if (out.params.empty()) {
        // No RFC 2231 value: the plain ones in place, repeats left out.
        size_t kept = 0;
        for (size_t k = 0; k < plain.size(); ++k) {
            bool repeat = false;
            for (size_t q = 0; q < kept && !repeat; ++q) repeat = plain[q].name == plain[k].name;
            if (repeat) continue;
            if (kept != k) plain[kept] = std::move(plain[k]);
            ++kept;
        }
        plain.resize(kept);
        out.params = std::move(plain);
        return out;
    }
    std::vector<Parameter> all;
    for (Parameter& p : plain)
        if (std::none_of(all.begin(), all.end(), [&](const Parameter& q) { return q.name == p.name; }))
            all.push_back(std::move(p));
    for (Parameter& p : out.params) all.push_back(std::move(p));
    out.params = std::move(all);
    return out;
}

// ---- entities ----

const HeaderField* Entity::field(std::string_view name) const {
    for (const HeaderField& h : headers)
        if (equalsNoCase(h.name, name)) return &h;
    return nullptr;
}

std::vector<const HeaderField*> Entity::fields(std::string_view name) const {
    std::vector<const HeaderField*> out;
    for (const HeaderField& h : headers)
        if (equalsNoCase(h.name, name)) out.push_back(&h);
    return out;
}

namespace {

// The line scan reads 64 bytes at a time as masks of their LF and CR bytes
// (bit k for byte k). Only the first LF of a block can end a line longer
// than 64 bytes, so one length is looked at a block; the line ends are told
// apart by the CR before each LF (the last byte of the block before carried
// over).
struct LineScan {
    const uint8_t* p;
    size_t lineStart = 0;
    uint64_t crCarry = 0;  // 1 when the byte before the block is a CR
    uint64_t anyCrlf = 0, anyBare = 0;
    size_t longLines = 0;

    void lineEnd(size_t eol) {
        size_t len = eol - lineStart;
        if (len > 998 && p[eol - 1] == '\r') --len;
        if (len > 998) ++longLines;
    }
    void block(size_t at, uint64_t lf, uint64_t cr) {
        const uint64_t crBefore = (cr << 1) | crCarry;
        crCarry = cr >> 63;
        if (!lf) return;
        anyCrlf |= lf & crBefore;
        anyBare |= lf & ~crBefore;
        lineEnd(at + static_cast<size_t>(std::countr_zero(lf)));
        lineStart = at + 64 - static_cast<size_t>(std::countl_zero(lf));
    }
};

#if defined(__SSE2__)
inline uint64_t bits16(__m128i v, __m128i c, int shift) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, c)))) << shift;
}

// The whole 64-byte blocks of `n`; the number of bytes read is returned.
size_t scanBlocksSse2(LineScan& s, size_t n) {
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    size_t i = 0;
    for (; n - i >= 64; i += 64) {
        const auto* q = reinterpret_cast<const __m128i*>(s.p + i);
        const __m128i a = _mm_loadu_si128(q), b = _mm_loadu_si128(q + 1);
        const __m128i c = _mm_loadu_si128(q + 2), d = _mm_loadu_si128(q + 3);
        s.block(i, bits16(a, lf, 0) | bits16(b, lf, 16) | bits16(c, lf, 32) | bits16(d, lf, 48),
                bits16(a, cr, 0) | bits16(b, cr, 16) | bits16(c, cr, 32) | bits16(d, cr, 48));
    }
    return i;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVRIN_LINES_AVX2 1
__attribute__((target("avx2"))) inline uint64_t bits32(__m256i v, __m256i c) {
    return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, c))));
}

__attribute__((target("avx2"))) size_t scanBlocksAvx2(LineScan& s, size_t n) {
    const __m256i lf = _mm256_set1_epi8('\n'), cr = _mm256_set1_epi8('\r');
    size_t i = 0;
    for (; n - i >= 64; i += 64) {
        const auto* q = reinterpret_cast<const __m256i*>(s.p + i);
        const __m256i a = _mm256_loadu_si256(q), b = _mm256_loadu_si256(q + 1);
        s.block(i, bits32(a, lf) | bits32(b, lf) << 32, bits32(a, cr) | bits32(b, cr) << 32);
    }
    return i;
}
#endif

}  // namespace

LineFacts scanLines(ByteSpan data) {
    LineScan s{data.data()};
    const size_t n = data.size();
    size_t i = 0;
#if defined(TAVRIN_LINES_AVX2)
    if (fs::cpuHasAvx2()) i = scanBlocksAvx2(s, n);
    else
#endif
#if defined(__SSE2__)
        i = scanBlocksSse2(s, n);
#endif
    for (; i < n; ++i) {
        if (s.p[i] != '\n') continue;
        (i > 0 && s.p[i - 1] == '\r' ? s.anyCrlf : s.anyBare) = 1;
        s.lineEnd(i);
        s.lineStart = i + 1;
    }
    LineFacts f;
    f.longLines = s.longLines + (n - s.lineStart > 998);  // the last line, without LF
    f.mixedEnds = s.anyCrlf && s.anyBare;
    return f;
}

bool looksLikeHeader(ByteSpan data) {
    const size_t pos = messageStart(data);
    if (pos >= data.size()) return false;
    const Line l = lineAt(data, pos);
    return fieldNameLength(data.subspan(l.begin, l.contentEnd - l.begin)) > 0;
}

namespace {

class Parser {
public:
    Parser(Findings& f) : findings_(f) {}

    void parse(ByteSpan data, const ParseOptions& options, int depth, Entity& e) {
        size_t pos = options.topLevel ? messageStart(data) : 0;
        readHeader(data, pos, options.topLevel, e);
        interpretHeader(e, options.inDigest);
        if (e.isMultipart()) {
            if (depth >= kMaxNesting) {
                findings_.add("multipart parts nested more than " + std::to_string(kMaxNesting) +
                              " deep: the rest is kept as one part");
                e.type = "application";
                e.subtype = "octet-stream";
                return;
            }
            splitMultipart(e, depth);
        }
    }

    // One pass over the lines of a whole message: those too long are told;
    // `mixed` is set when both CR LF and bare LF end lines.
    void noteLongLines(ByteSpan data, bool* mixed) {
        const LineFacts f = scanLines(data);
        if (mixed) *mixed = f.mixedEnds;
        const size_t count = f.longLines;
        if (count)
            findings_.add(std::to_string(count) + (count == 1 ? " line is" : " lines are") +
                          " longer than 998 characters; read as they are");
    }

private:
    void readHeader(ByteSpan data, size_t pos, bool topLevel, Entity& e) {
        const size_t start = pos;
        size_t headerEnd = pos;
        bool any = false;
        e.headers.reserve(topLevel ? 32 : 4);  // about what a message or a part has
        while (pos < data.size()) {
            const Line l = lineAt(data, pos);
            ByteSpan text = data.subspan(l.begin, l.contentEnd - l.begin);
            if (text.empty()) {
                // The empty line that ends the header.
                e.header = data.subspan(start, headerEnd - start);
                e.body = data.subspan(l.next);
                return;
            }
            if ((text[0] == ' ' || text[0] == '\t') && any) {
                // A folded line: part of the field before it.
                HeaderField& h = e.headers.back();
                h.value.append(reinterpret_cast<const char*>(text.data()), text.size());
                headerEnd = l.next;
                pos = l.next;
                continue;
            }
            const size_t nameLen = fieldNameLength(text);
            if (nameLen == 0) {
                if (!any && !topLevel) {
                    // A part without header fields whose empty line is
                    // missing: all of it is body.
                    findings_.add("a part has no header and no empty line before its body");
                } else if (!any) {
                    findings_.add("the message has no header fields");
                } else {
                    findings_.add("the header does not end with an empty line; the rest is read as the body");
                }
                e.header = data.subspan(start, headerEnd - start);
                e.body = data.subspan(l.begin);
                return;
            }
            HeaderField h;
            h.name.assign(reinterpret_cast<const char*>(text.data()), nameLen);
            size_t colon = nameLen;
            while (text[colon] != ':') ++colon;
            h.value.assign(reinterpret_cast<const char*>(text.data()) + colon + 1, text.size() - colon - 1);
            e.headers.push_back(std::move(h));
            any = true;
            headerEnd = l.next;
            pos = l.next;
        }
        // The data ends inside the header: no body.
        if (topLevel && any) findings_.add("the message ends inside its header; it has no body");
        e.header = data.subspan(start, headerEnd - start);
        e.body = data.subspan(data.size());
    }

    void interpretHeader(Entity& e, bool inDigest) {
        if (const HeaderField* ct = e.field("Content-Type")) {
            e.contentType = parseStructured(ct->value);
            const std::string& v = e.contentType.value;
            const size_t slash = v.find('/');
            if (slash != std::string::npos && slash > 0 && slash + 1 < v.size()) {
                e.type = std::string(trimWhitespace(v.substr(0, slash)));
                e.subtype = std::string(trimWhitespace(v.substr(slash + 1)));
                e.hasContentType = true;
            } else {
                // Kept as data: text/plain, RFC 2045's default, would show
                // whatever it is as the message's text.
                findings_.add("unreadable Content-Type \"" + v.substr(0, 60) + "\", kept as application/octet-stream");
                e.type = "application";
                e.subtype = "octet-stream";
                e.hasContentType = true;
            }
        }
        if (!e.hasContentType && inDigest) {
            e.type = "message";
            e.subtype = "rfc822";
        }
        if (const HeaderField* cd = e.field("Content-Disposition")) e.disposition = parseStructured(cd->value);
        if (const HeaderField* te = e.field("Content-Transfer-Encoding"))
            e.transferEncoding = lowerAscii(trimWhitespace(te->value));
    }

    // Whether the line [b, end) is a delimiter of `boundary`; `close` set
    // for the closing one.
    static bool isDelimiter(ByteSpan line, std::string_view boundary, bool& close) {
        if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-') return false;
        if (std::memcmp(line.data() + 2, boundary.data(), boundary.size()) != 0) return false;
        ByteSpan rest = line.subspan(boundary.size() + 2);
        close = false;
        if (rest.size() >= 2 && rest[0] == '-' && rest[1] == '-') {
            close = true;
            rest = rest.subspan(2);
        }
        for (uint8_t c : rest)
            if (c != ' ' && c != '\t') return false;
        return true;
    }

    void splitMultipart(Entity& e, int depth) {
        const Parameter* b = e.contentType.param("boundary");
        const std::string boundary = b ? b->value : std::string();
        const ByteSpan body = e.body;
        std::vector<std::pair<size_t, size_t>> ranges;  // of the parts
        bool closed = false;
        size_t partStart = SIZE_MAX;
        size_t pos = 0;
        // boundary="" is read as given: its delimiter lines are "--".
        if (b && boundary.size() <= 200) {
            // Only lines that start with "--" and the boundary can be
            // delimiters: the body is searched for that, not read by line.
            const std::string dashes = "--" + boundary;
            const std::string_view view = asView(body);
            while (pos < body.size()) {
                const size_t at = view.find(dashes, pos);
                if (at == std::string_view::npos) break;
                if (at > 0 && body[at - 1] != '\n') {
                    pos = at + 1;
                    continue;
                }
                const Line l = lineAt(body, at);
                ByteSpan text = body.subspan(l.begin, l.contentEnd - l.begin);
                bool close = false;
                if (isDelimiter(text, boundary, close)) {
                    if (partStart != SIZE_MAX) {
                        // The line end before the delimiter belongs to it.
                        size_t end = l.begin;
                        if (end > partStart && body[end - 1] == '\n') --end;
                        if (end > partStart && body[end - 1] == '\r') --end;
                        ranges.emplace_back(partStart, end);
                    }
                    if (close) {
                        closed = true;
                        break;
                    }
                    partStart = l.next;
                }
                pos = l.next;
            }
        }
        if (!closed && partStart != SIZE_MAX) {
            findings_.add("a multipart has no closing boundary; its last part runs to the end");
            ranges.emplace_back(partStart, body.size());
        }
        if (ranges.empty() && partStart == SIZE_MAX) {
            if (trimWhitespace(asView(body)).empty()) {
                findings_.add("a multipart has no parts");
                return;
            }
            // No delimiter at all: the body is kept as one text part.
            findings_.add(boundary.empty() ? "a multipart has no boundary; its body is read as text"
                                           : "a multipart has none of its boundaries; its body is read as text");
            Entity part;
            part.body = body;
            part.hasContentType = true;
            e.parts.push_back(std::move(part));
            return;
        }
        const bool digest = e.subtype == "digest";
        e.parts.reserve(ranges.size());
        for (const auto& [s, t] : ranges) {
            Entity part;
            ParseOptions o;
            o.topLevel = false;
            o.inDigest = digest;
            parse(body.subspan(s, t - s), o, depth + 1, part);
            e.parts.push_back(std::move(part));
        }
    }

    Findings& findings_;
};

}  // namespace

Entity parseEntity(ByteSpan data, Findings& findings, ParseOptions options) {
    Parser p(findings);
    Entity e;
    if (options.topLevel) p.noteLongLines(data, options.mixedLineEnds);
    p.parse(data, options, 0, e);
    return e;
}

ByteSpan decodeBody(const Entity& e, Findings& findings, std::string_view where, Bytes& decoded) {
    const std::string& te = e.transferEncoding;
    bool bad = false;
    if (te == "base64") {
        decoded = decodeBase64(e.body, &bad);
        if (bad) findings.add(std::string(where) + ": damaged base64, decoded as far as it goes");
    } else if (te == "quoted-printable") {
        decoded = decodeQuotedPrintable(e.body, &bad);
        if (bad) findings.add(std::string(where) + ": damaged quoted-printable, decoded as far as it goes");
    } else if (te == "x-uuencode" || te == "uuencode" || te == "x-uue" || te == "uue") {
        decoded = decodeUuencode(e.body, &bad);
        if (bad) findings.add(std::string(where) + ": damaged uuencode, decoded as far as it goes");
    } else {
        if (!te.empty() && te != "7bit" && te != "8bit" && te != "binary")
            findings.add(std::string(where) + ": unknown transfer encoding \"" + te.substr(0, 40) + "\", kept as it is");
        return e.body;
    }
    return decoded;
}

Bytes decodeBody(const Entity& e, Findings& findings, std::string_view where) {
    Bytes decoded;
    const ByteSpan body = decodeBody(e, findings, where, decoded);
    if (body.data() != decoded.data()) decoded.assign(body.begin(), body.end());
    return decoded;
}

}  // namespace tavrin::store::mime
