// The text layer of Internet mail: charsets, transfer encodings (base64,
// quoted-printable, uuencode) and RFC 2047 encoded words.
//
// Every charset goes through the code page layer (store/core/codepage.h),
// so that Linux and Windows read a message alike. Text whose charset is
// missing or not known here is read as UTF-8 when it is valid UTF-8, else
// as windows-1252; an unknown charset, and 8-bit text that is not UTF-8,
// are told as findings.
//
// Nothing here fails: damaged input is decoded as far as it goes, and what
// was wrong is reported through the `bad` flags or a Findings list.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/core/bytes.h"

namespace tavrin::store::mime {

// What a reader found wrong in a message and salvaged, one line each. The
// same line is kept once; past kMaxFindings the rest are counted.
class Findings {
public:
    static constexpr size_t kMax = 64;
    void add(const std::string& what);
    // The lines, with "and N more findings" when some were left out.
    std::vector<std::string> take();
    bool empty() const { return lines_.empty(); }

private:
    std::vector<std::string> lines_;
    size_t more_ = 0;
};

// The Windows code page of a MIME charset name (any letter case, aliases
// included), or 0 when the name is not known. "utf-16" without a byte
// order is 1201 (big-endian, RFC 2781).
uint32_t codepageOfCharset(std::string_view charset);

// Whether the bytes are well-formed UTF-8 / only 7-bit.
bool isUtf8(ByteSpan bytes);
bool isAscii(ByteSpan bytes);

// Bytes in `charset` as UTF-16 (UTF-8 decoded as the WHATWG Encoding
// Standard does: each maximal invalid sequence is one U+FFFD). A missing, unknown or unsupported charset,
// or an ASCII one with 8-bit bytes, falls back to UTF-8 when the bytes are
// valid UTF-8, else windows-1252, with a finding named after `where`.
// `codepage`, when given, receives the code page the text was read in.
std::u16string decodeText(ByteSpan bytes, std::string_view charset, Findings* findings, std::string_view where,
                          uint32_t* codepage = nullptr);
// 8-bit text without a charset: UTF-8 when valid, else windows-1252 (and
// `wasLegacy` set).
std::u16string decodeUnlabelled(ByteSpan bytes, bool* wasLegacy = nullptr);
// The same two into UTF-16LE bytes, a property value's form, replacing
// `out`: a body is decoded once into the buffer its property keeps.
void decodeTextLe(ByteSpan bytes, std::string_view charset, Findings* findings, std::string_view where,
                  uint32_t* codepage, Bytes& out);
void decodeUnlabelledLe(ByteSpan bytes, Bytes& out);

// Transfer decodings. Characters outside the encoding's alphabet, a
// truncated group or a malformed escape set `bad`; what can be decoded is.
Bytes decodeBase64(ByteSpan text, bool* bad = nullptr);
Bytes decodeQuotedPrintable(ByteSpan text, bool* bad = nullptr);
// uuencode: the lines between "begin MODE NAME" and "end"; `name` gets
// NAME. Without a begin line the whole text is taken as encoded lines.
Bytes decodeUuencode(ByteSpan text, bool* bad = nullptr, std::string* name = nullptr);

// An unstructured header value (RFC 5322 2.2.1, already unfolded) with its
// RFC 2047 encoded words decoded: whitespace between two encoded words
// goes; adjacent words in one charset are decoded together (a character
// may be split between them). Raw 8-bit bytes are read as decodeUnlabelled
// does, with a finding. Whitespace around the value is trimmed; what an
// encoded word holds is kept as it is.
std::u16string decodeHeaderText(ByteSpan value, Findings* findings, std::string_view where);

// ASCII helpers.
std::string lowerAscii(std::string_view s);
std::string_view trimWhitespace(std::string_view s);
inline std::string_view asView(ByteSpan b) { return {reinterpret_cast<const char*>(b.data()), b.size()}; }
inline ByteSpan asBytes(std::string_view s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

}  // namespace tavrin::store::mime
