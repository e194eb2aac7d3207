// The search cursor's system calls on POSIX systems: stat for attributes,
// directory streams for searches, errno mapped onto the Windows codes that
// the callers test. See mod_files.h for the mapping.
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

#include "fs/mod_files_platform.h"
#include "fs/text.h"
#include "fs/wildcard.h"

namespace tavrin::fs {
namespace detail {
namespace {

bool isDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

// Attribute bits for an entry: `st` describes what it leads to (the link's
// target for a link that resolves), `isLink` whether the entry itself is a
// symbolic link.
uint32_t attributesOf(bool folder, bool readOnly, bool isLink, std::string_view name) {
    uint32_t attributes = 0;
    if (folder) attributes |= kAttrDirectory;
    else if (readOnly) attributes |= kAttrReadOnly;
    if (!name.empty() && name[0] == '.' && !isDotOrDotDot(name)) attributes |= kAttrHidden;
    if (isLink) attributes |= kAttrReparsePoint;
    return attributes == 0 ? kAttrNormal : attributes;
}

uint32_t attributesFrom(const struct stat& st, bool isLink, std::string_view name) {
    return attributesOf(S_ISDIR(st.st_mode), (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0, isLink, name);
}

// A dangling link or a link loop: the link itself, read as a file.
uint32_t unresolvedLinkAttributes(std::string_view name) {
    uint32_t attributes = kAttrReparsePoint;
    if (!name.empty() && name[0] == '.' && !isDotOrDotDot(name)) attributes |= kAttrHidden;
    return attributes;
}

// The last component of a path, ignoring trailing separators.
std::string_view lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t p = path.rfind('/');
    return p == std::string_view::npos ? path : path.substr(p + 1);
}

// The folder that holds the last component of `path`.
std::string holdingFolder(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const size_t p = path.rfind('/');
    if (p == std::string_view::npos) return ".";
    if (p == 0) return "/";
    return std::string(path.substr(0, p));
}

// ENOENT means "file not found" when the folder that should hold the entry
// exists, "path not found" when it does not.
int32_t missingEntryCode(std::string_view path) {
    struct stat st {};
    const std::string folder = holdingFolder(path);
    if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kErrorFileNotFound;
    return kErrorPathNotFound;
}

// Attributes of `path` (links followed for the folder bit), or -1 with `code`.
int32_t attributesOfPath(const std::string& path, int32_t& code) {
    struct stat own {};
    if (path.empty() || ::lstat(path.c_str(), &own) != 0) {
        const int e = path.empty() ? ENOENT : errno;
        code = e == ENOENT ? missingEntryCode(path) : windowsErrorFromErrno(e);
        return -1;
    }
    const std::string_view name = lastComponent(path);
    if (!S_ISLNK(own.st_mode)) return static_cast<int32_t>(attributesFrom(own, false, name));
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return static_cast<int32_t>(unresolvedLinkAttributes(name));
    return static_cast<int32_t>(attributesFrom(target, true, name));
}

// A search for one named entry (a pattern without wildcards).
class SingleEntrySearch final : public SearchStream {
public:
    bool next(FoundItem&, int32_t& code) override {
        code = kErrorNoMoreFiles;
        return false;
    }
    bool close(int32_t&) override { return true; }
};

// A wildcard search over a directory stream.
class DirectorySearch final : public SearchStream {
public:
    DirectorySearch(DIR* dir, std::u16string expression, SearchDetail wanted)
        : dir_(dir), expression_(std::move(expression)), all_(expression_ == u"*"), wanted_(wanted) {
        // "." and ".." first, as Windows reports them; the stream's own
        // copies are skipped below.
        for (const char* dot : {".", ".."}) {
            if (!matchesSearchExpression(expression_, text::toUtf16(dot))) continue;
            struct stat st {};
            FoundItem item;
            item.name = dot;
            item.attributes = ::fstatat(::dirfd(dir_), dot, &st, 0) == 0 ? attributesFrom(st, false, dot)
                                                                           : kAttrDirectory;
            pending_.push_back(std::move(item));
        }
    }
    ~DirectorySearch() override {
        if (dir_) ::closedir(dir_);
    }

    bool next(FoundItem& item, int32_t& code) override {
        if (!pending_.empty()) {
            item = std::move(pending_.front());
            pending_.pop_front();
            return true;
        }
        if (!dir_) {
            code = kErrorInvalidHandle;
            return false;
        }
        for (;;) {
            errno = 0;
            const struct dirent* ent = ::readdir(dir_);
            if (!ent) {
                code = errno != 0 ? windowsErrorFromErrno(errno) : kErrorNoMoreFiles;
                return false;
            }
            const std::string_view name = ent->d_name;
            if (isDotOrDotDot(name)) continue;
            // "*" takes every name: a walk need not test each of a million.
            if (!all_ && !matchesSearchExpression(expression_, text::toUtf16(name))) continue;
            uint32_t attributes = 0;
            if (!entryAttributes(*ent, attributes)) continue;  // gone since the stream listed it
            item.name = std::string(name);
            item.attributes = attributes;
            return true;
        }
    }

    bool close(int32_t& code) override {
        DIR* dir = dir_;
        dir_ = nullptr;
        if (dir && ::closedir(dir) != 0) {
            code = windowsErrorFromErrno(errno);
            return false;
        }
        return true;
    }

private:
    bool entryAttributes(const struct dirent& ent, uint32_t& attributes) const {
#ifdef DT_DIR
        // A file or a folder (not a link, nor a type the listing leaves
        // open): its folder and hidden bits are known without a call.
        if (wanted_ == SearchDetail::FolderBit && (ent.d_type == DT_REG || ent.d_type == DT_DIR)) {
            attributes = attributesOf(ent.d_type == DT_DIR, false, false, ent.d_name);
            return true;
        }
#endif
        const int fd = ::dirfd(dir_);
        struct stat own {};
        if (::fstatat(fd, ent.d_name, &own, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) return false;
            // Listed but not examinable (a folder readable without search
            // permission): the stream's own type is all there is.
#ifdef DT_DIR
            attributes = ent.d_type == DT_DIR ? kAttrDirectory : kAttrNormal;
#else
            attributes = kAttrNormal;
#endif
            return true;
        }
        if (!S_ISLNK(own.st_mode)) {
            attributes = attributesFrom(own, false, ent.d_name);
            return true;
        }
        struct stat target {};
        attributes = ::fstatat(fd, ent.d_name, &target, 0) == 0 ? attributesFrom(target, true, ent.d_name)
                                                                : unresolvedLinkAttributes(ent.d_name);
        return true;
    }

    DIR* dir_;
    std::u16string expression_;
    bool all_;  // the expression is "*"
    SearchDetail wanted_;
    std::deque<FoundItem> pending_;
};

}  // namespace

int32_t windowsErrorFromErrno(int errnum) {
    switch (errnum) {
        case 0: return 0;
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM: return kErrorAccessDenied;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EBADF: return kErrorInvalidHandle;
        case EINVAL: return kErrorInvalidParameter;
        case ENAMETOOLONG: return kErrorFilenameExcedRange;
        case EIO: return kErrorIoDevice;
        case ELOOP: return kErrorCantResolveFilename;
        default: return kErrorGenFailure;
    }
}

int32_t sysGetFileAttributes(const std::string& path, int32_t& code) { return attributesOfPath(path, code); }

std::unique_ptr<SearchStream> sysFindFirst(const std::string& pattern, FoundItem& first, int32_t& code,
                                           SearchDetail wanted) {
    const size_t slash = pattern.rfind('/');
    const std::string namePart = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (namePart.empty()) {  // a pattern ending in a separator names no entry
        code = kErrorFileNotFound;
        return nullptr;
    }
    if (!hasWildcards(namePart)) {
        const int32_t attributes = attributesOfPath(pattern, code);
        if (attributes == -1) return nullptr;
        first.name = namePart;
        first.attributes = static_cast<uint32_t>(attributes);
        return std::make_unique<SingleEntrySearch>();
    }
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : pattern.substr(0, slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        code = errno == ENOENT ? kErrorPathNotFound : windowsErrorFromErrno(errno);
        return nullptr;
    }
    auto search = std::make_unique<DirectorySearch>(dir, toSearchExpression(text::toUtf16(namePart)), wanted);
    if (!search->next(first, code)) {
        if (code == kErrorNoMoreFiles) code = kErrorFileNotFound;  // nothing matched
        return nullptr;
    }
    return search;
}

int32_t sysLastError() { return windowsErrorFromErrno(errno); }

bool sysFolderIdentity(const std::string& path, uint64_t& volume, uint64_t& file, int32_t& code) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        code = errno == ENOENT ? missingEntryCode(path) : windowsErrorFromErrno(errno);
        return false;
    }
    volume = static_cast<uint64_t>(st.st_dev);
    file = static_cast<uint64_t>(st.st_ino);
    return true;
}

}  // namespace detail

void InitApiSupport() {
    // POSIX calls have no wide and ANSI forms and no platform probe: the
    // call flags stay false.
    detail::apiSupportState().initialised = true;
    DetectPlatform();
}

int32_t DetectPlatform() {
    detail::setLastFileError(0);
    return kPlatformPosix;
}

}  // namespace tavrin::fs

#endif  // !_WIN32
