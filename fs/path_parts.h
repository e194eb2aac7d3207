// Splitting file-system paths the way this system does: where the last
// component starts, where an extension starts, and whether a path is the
// root of a drive. On Windows "/" separates components as "\" does; on
// POSIX systems only "/" does.
#pragma once

#include <string>
#include <string_view>

namespace tavrin::fs {

// The position of the last separator of `path`, or npos when it has none.
size_t LastSeparatorAt(std::string_view path);

// The position of the "." that starts the extension of the last component
// ("M 6.12.26.pst": the one before "pst"), or npos when that component has
// no "." after its first character ("/o.d/M", ".profile").
size_t ExtensionAt(std::string_view path);

// True for the root of a drive ("D:\" on Windows, "/" elsewhere), whose
// separator is part of its name.
bool IsRootPath(std::string_view path);

}  // namespace tavrin::fs
