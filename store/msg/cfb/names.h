// Directory entry names as [MS-CFB] 2.6.4 orders them: a shorter name sorts
// first; names of equal length compare code unit by code unit after simple
// upper-casing.
#pragma once

#include <string_view>

namespace tavrin::store::cfb {

// Negative, zero or positive in [MS-CFB] order.
int compareNames(std::u16string_view a, std::u16string_view b);
inline bool sameName(std::u16string_view a, std::u16string_view b) { return compareNames(a, b) == 0; }

}  // namespace tavrin::store::cfb
