// RFC 5322 / MIME (RFC 2045, 2046, 2231) structure of an Internet message:
// the header fields of each entity, its content type and disposition with
// their parameters, and for a multipart entity its parts, as spans of the
// message's bytes (which must outlive the tree).
//
// The parser never fails. A line end is CRLF or a bare LF. Damage is read
// as far as it goes and told through Findings: a header without the empty
// line before the body, a multipart without its closing delimiter (the
// last part runs to the end), a multipart without any delimiter (its body
// becomes one text part), nesting deeper than kMaxNesting (the rest is kept
// as one part), lines longer than RFC 5322's 998 characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/core/bytes.h"
#include "store/mime/mime_text.h"

namespace tavrin::store::mime {

// Multiparts nested deeper than this are kept whole as one part.
inline constexpr int kMaxNesting = 48;

struct HeaderField {
    std::string name;   // as written
    std::string value;  // unfolded: the bytes after the colon, line breaks of folding removed
};

// One parameter of a structured field, RFC 2231 sections already joined.
struct Parameter {
    std::string name;     // lower case
    std::string value;    // unquoted bytes (percent-decoded for RFC 2231)
    std::string charset;  // RFC 2231 charset, or empty
    bool extended = false;  // an RFC 2231 value (name*=...)
};

struct StructuredValue {
    std::string value;  // lower case ("multipart/mixed", "attachment")
    std::vector<Parameter> params;

    const Parameter* param(std::string_view name) const;
    // A parameter as text: RFC 2231 through its charset, otherwise with
    // RFC 2047 words decoded (common in file names though not allowed).
    std::u16string text(std::string_view name, Findings* findings, std::string_view where) const;
};

StructuredValue parseStructured(std::string_view value);

struct Entity {
    std::vector<HeaderField> headers;
    ByteSpan header;  // the raw header block, without the empty line after it
    ByteSpan body;    // the raw (transfer-encoded) body
    std::string type = "text";      // lower case
    std::string subtype = "plain";  // lower case
    StructuredValue contentType;
    StructuredValue disposition;  // value empty when there is no Content-Disposition
    std::string transferEncoding;  // lower case, trimmed
    bool hasContentType = false;
    std::vector<Entity> parts;  // of a multipart

    bool isMultipart() const { return type == "multipart"; }
    bool is(std::string_view t, std::string_view s) const { return type == t && subtype == s; }
    std::string mimeType() const { return type + "/" + subtype; }
    // The first field of this name (any letter case), or null.
    const HeaderField* field(std::string_view name) const;
    // Every field of this name, in order.
    std::vector<const HeaderField*> fields(std::string_view name) const;
};

struct ParseOptions {
    bool topLevel = true;     // a whole message: a byte order mark and an mbox "From " line are skipped
    bool inDigest = false;    // a part of multipart/digest: message/rfc822 by default
    bool* mixedLineEnds = nullptr;  // a whole message: set when both CR LF and bare LF end its lines
};

// What one pass over the lines of a whole message finds: how many lines are
// longer than RFC 5322's 998 characters (a CR before the LF not counted; a
// last line without LF counted whole), and whether both CR LF and bare LF
// end lines.
struct LineFacts {
    size_t longLines = 0;
    bool mixedEnds = false;
};
LineFacts scanLines(ByteSpan data);

// Parses `data` as one entity (header, body and, for a multipart, its parts).
Entity parseEntity(ByteSpan data, Findings& findings, ParseOptions options = {});

// The body of a leaf entity with its Content-Transfer-Encoding undone.
// `where` names the part in findings.
Bytes decodeBody(const Entity& e, Findings& findings, std::string_view where);
// The same without a copy of a body that has no transfer encoding: the
// entity's own bytes, or `decoded` holding the decoded ones.
ByteSpan decodeBody(const Entity& e, Findings& findings, std::string_view where, Bytes& decoded);

// Whether `data` starts like an Internet message: a header field (after an
// optional byte order mark and mbox "From " line).
bool looksLikeHeader(ByteSpan data);

}  // namespace tavrin::store::mime
