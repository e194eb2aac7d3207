// The system's converters between Windows code pages and UTF-16: iconv on
// POSIX systems (codepage_posix.cpp), MultiByteToWideChar and
// WideCharToMultiByte on Windows (codepage_win.cpp). Both give the same
// Unicode for the same bytes. store/core/codepage.h is the one caller: it
// handles UTF-8, UTF-16LE, US-ASCII and ISO-8859-1 itself and calls these
// only for code pages the system supports.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::fs {

bool SystemSupportsCodepage(uint32_t codepage);
// Bytes that are not valid in the code page become U+FFFD.
std::u16string SystemDecode(std::span<const uint8_t> bytes, uint32_t codepage);
// Characters the code page cannot represent become '?'.
std::vector<uint8_t> SystemEncode(std::u16string_view text, uint32_t codepage);

}  // namespace tavrin::fs
