// File-name patterns matched the way a Windows directory search matches
// them, for the search cursor on systems whose own calls know no patterns.
//
// A Windows search first rewrites the name part of its pattern into an
// expression with three extra wildcards, then matches each directory entry
// against it, ignoring letter case:
//   - trailing dots of the pattern are dropped;
//   - a whole pattern of "*.*" becomes "*", which matches every name;
//   - "?" becomes DOS_QM: any one character, or nothing at a "." or at the
//     end of the name ("?.?" matches "a");
//   - "*" followed by "." becomes DOS_STAR: any run of characters that does
//     not reach the name's last "." ("*.txt" needs a ".txt" at the end);
//   - "." followed by "?" or "*" becomes DOS_DOT: a "." or nothing at the
//     end of the name, so "*.*"-style suffixes also match names without a
//     dot ("a*.*" matches "abc").
// A remaining "*" matches any run of characters. Characters are UTF-16 code
// units, as on Windows; letter case is folded for ASCII letters only, and
// 8.3 short names (which Windows also tries) do not exist here.
#pragma once

#include <string>
#include <string_view>

namespace tavrin::fs {

// Expression characters (the values NTFS uses for them).
inline constexpr char16_t kDosStar = u'<';
inline constexpr char16_t kDosQm = u'>';
inline constexpr char16_t kDosDot = u'"';

// True when the name part holds a "*" or "?".
bool hasWildcards(std::string_view namePattern);

// The search expression for the name part of a pattern, as above.
std::u16string toSearchExpression(std::u16string_view namePattern);

// Whether `name` matches a search expression (case folded for ASCII).
bool matchesSearchExpression(std::u16string_view expression, std::u16string_view name);

// Both steps on UTF-8 texts: does a directory entry `name` match the name
// part `namePattern` of a search pattern?
bool matchesWindowsPattern(std::string_view namePattern, std::string_view name);

}  // namespace tavrin::fs
