// Simple upper-casing of UTF-16 code units, as the formats need it where
// they compare or hash names case-insensitively ([MS-CFB] 2.6.4 directory
// names, [MS-PST] 5.4 conversation topics): one code unit to one, "i" to
// "I" whatever the locale.
#pragma once

namespace tavrin::store {

// The capital of a small letter of ASCII, Latin-1, Latin Extended-A, Greek,
// Cyrillic, Armenian or full-width Latin; every other code unit unchanged.
char16_t simpleUpperCase(char16_t c);

}  // namespace tavrin::store
