#include "fs/path_parts.h"

#include "fs/path_separator.h"

namespace tavrin::fs {

namespace {

#ifdef _WIN32
constexpr std::string_view kSeparators = "\\/";
#else
constexpr std::string_view kSeparators = "/";
#endif

}  // namespace

size_t LastSeparatorAt(std::string_view path) { return path.find_last_of(kSeparators); }

size_t ExtensionAt(std::string_view path) {
    const size_t sep = LastSeparatorAt(path);
    const size_t name = sep == std::string_view::npos ? 0 : sep + 1;
    const size_t dot = path.rfind('.');
    return dot != std::string_view::npos && dot > name ? dot : std::string_view::npos;
}

bool IsRootPath(std::string_view path) {
#ifdef _WIN32
    if (path.size() == 3 && path[1] == ':' && path[2] == kPathSeparator) return true;
#endif
    return path.size() == 1 && path[0] == kPathSeparator;
}

}  // namespace tavrin::fs
