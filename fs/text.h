// Text encodings used throughout the program.
//
// Texts are kept as UTF-8 (std::string). Property values and on-disk names
// are UTF-16 (std::u16string). Ordinal comparisons follow UTF-16 code units,
// which is not the same as UTF-8 byte order for characters above U+FFFF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::text {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view s);
// UTF-8 to UTF-16. An invalid sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view s);

// The fast paths of converters, for text that is mostly ASCII: the ASCII
// characters at the start of `in` (at most `n`) copied to `out` as UTF-16
// units, or as bytes; the number copied is returned. `out` has room for `n`
// units or bytes: those past the number returned may be overwritten.
size_t widenAscii(const char* in, size_t n, char16_t* out);
size_t narrowAscii(const char16_t* in, size_t n, char* out);
// widenAscii into UTF-16LE bytes (2 * n of room at `out`).
size_t widenAsciiLe(const char* in, size_t n, unsigned char* out);

// Whether the text holds a surrogate that is not part of a pair (which
// UTF-8 cannot carry: toUtf8 makes it U+FFFD).
bool hasUnpairedSurrogate(std::u16string_view s);

// UTF-16LE to UTF-8 straight from a value's bytes: `units` code units at
// `in` (any alignment), encoded as toUtf8 does into `out`, which is
// replaced. False, with `out` untouched, when the text holds an unpaired
// surrogate.
bool utf16LeToUtf8(const unsigned char* in, size_t units, std::vector<unsigned char>& out);

// UTF-8 to UTF-16LE bytes appended to `out`, decoded as toUtf16 decodes
// it: a property value's form without a UTF-16 string between.
void appendUtf16Le(std::string_view s, std::vector<unsigned char>& out);

// Ordinal comparison by UTF-16 code units of two UTF-8 texts, without
// converting them: negative, zero or positive. A text that is a prefix of
// the other sorts first.
int compareOrdinal(std::string_view a, std::string_view b);

// ASCII-only case folding, for the comparisons that ignore letter case
// (".msg", "." and "..", "ftp://").
std::string asciiLower(std::string_view s);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);

}  // namespace tavrin::text
