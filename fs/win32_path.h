// Paths and texts for the Win32 calls of the fs layer (Windows builds only).
//
// Texts are UTF-8 everywhere in the program; the wide Win32 calls take
// UTF-16. File access (file_io_win32.cpp and the temporary files) opens paths
// in their extended-length form so that a path longer than MAX_PATH (260)
// works on every Windows, without the system-wide long-path setting.
#pragma once

#ifdef _WIN32

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fs/result.h"

namespace tavrin::fs::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// The extended-length form of a path: made absolute against the current
// folder ("/" becomes "\", "." and ".." are resolved, as Windows itself
// resolves a path), then "\\?\" in front of a drive path and "\\?\UNC\" in
// place of the two backslashes of a UNC path. A path that already begins
// with "\\?\" or "\\.\" is passed on unchanged.
std::wstring extendedPath(const std::string& path);

// The absolute form of a path as Windows resolves it (GetFullPathNameW),
// without a prefix; the path unchanged when it cannot be resolved.
std::string fullPath(const std::string& path);

// Positioned writes and reads on an open file handle (a HANDLE), in pieces
// that ReadFile and WriteFile take; errors name `name`. readAt fills what
// lies past the end of the file with zeros and says in `got` how much the
// file held.
Status writeAt(void* handle, uint64_t offset, std::span<const uint8_t> data, const std::string& name);
Status readAt(void* handle, uint64_t offset, std::span<uint8_t> buf, const std::string& name, size_t& got);

}  // namespace tavrin::fs::win32

#endif  // _WIN32
