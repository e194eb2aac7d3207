// The separator between the parts of a file-system path.
//
// Everything that builds or splits a file-system path uses these: the
// search cursor, the path helpers, the folder scanner and the engine's queue
// walk. Windows paths use "\", POSIX paths "/". Paths inside a message store
// (mail-folder paths) are not file-system paths and do not use them.
#pragma once

#include <string_view>

namespace tavrin::fs {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif
inline constexpr std::string_view kPathSeparatorText{&kPathSeparator, 1};

}  // namespace tavrin::fs
