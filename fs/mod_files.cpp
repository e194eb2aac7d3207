// The search cursor and the existence tests, over the system calls of
// mod_files_platform.h.
#include "fs/mod_files.h"

#include <mutex>
#include <unordered_map>
#include <utility>

#include "fs/mod_files_platform.h"
#include "fs/path_separator.h"
#include "fs/text.h"

namespace tavrin::fs {
namespace {

// The last error of the calling thread, as the system keeps its own: folder
// conversions running side by side (msg2pst convert --jobs) each see theirs.
thread_local int32_t g_lastFileError = 0;

// Open searches by handle. Handles are 1, 2, ... so that they never collide
// with -1 (no search) and 0 (search ended). Shared by all threads; each
// search is used by the thread that started it.
class HandleTable {
public:
    int32_t add(std::unique_ptr<detail::SearchStream> search) {
        std::lock_guard<std::mutex> lock(mutex_);
        do {
            next_ = next_ >= INT32_MAX ? 1 : next_ + 1;
        } while (open_.count(next_) != 0);
        open_.emplace(next_, std::move(search));
        return next_;
    }
    detail::SearchStream* find(int32_t handle) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = open_.find(handle);
        return it == open_.end() ? nullptr : it->second.get();
    }
    // FindClose: false with `code` when the handle is not open or the
    // closing fails. The handle is gone either way.
    bool close(int32_t handle, int32_t& code) {
        std::unique_ptr<detail::SearchStream> search;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = open_.find(handle);
            if (it == open_.end()) {
                code = kErrorInvalidHandle;
                return false;
            }
            search = std::move(it->second);
            open_.erase(it);
        }
        return search->close(code);
    }

private:
    std::mutex mutex_;
    std::unordered_map<int32_t, std::unique_ptr<detail::SearchStream>> open_;
    int32_t next_ = 0;
};

HandleTable& handles() {
    static HandleTable table;
    return table;
}

void ensureApiSupport() {
    if (!detail::apiSupportState().initialised) InitApiSupport();
}

bool startsWithFtp(const std::string& pattern) {
    return pattern.size() >= 6 && text::equalsIgnoreAsciiCase(std::string_view(pattern).substr(0, 6), "ftp://");
}

void takeItem(FileEntry& entry, const detail::FoundItem& item) {
    entry.Name = TrimAtNull(item.name);
    entry.Attributes = item.attributes;
}

// Records how a search step failed: code 18 is the normal end.
void recordSearchFailure(FileEntry& entry) {
    entry.HasItem = false;
    if (g_lastFileError == kErrorNoMoreFiles) {
        entry.Failed = false;
        entry.ErrorCode = 0;
    } else {
        entry.Failed = true;
        entry.ErrorCode = g_lastFileError;
    }
}

bool isOpenHandle(int32_t handle) { return handle != 0 && handle != -1; }

}  // namespace

namespace detail {

ApiSupportFlags& apiSupportState() {
    static ApiSupportFlags flags;
    return flags;
}

void setLastFileError(int32_t code) { g_lastFileError = code; }

}  // namespace detail

const ApiSupportFlags& ApiSupport() { return detail::apiSupportState(); }

int32_t LastFileError() { return g_lastFileError; }

void CaptureApiError(int32_t reported) {
    int32_t code = reported;
    if (code == 0) code = detail::sysLastError();
    if (code == 0) code = -1;
    g_lastFileError = code;
}

FileEntry::~FileEntry() {
    // A search abandoned without EndFind: release it quietly.
    if (isOpenHandle(Handle)) {
        int32_t ignored = 0;
        handles().close(Handle, ignored);
    }
}

FileEntry::FileEntry(FileEntry&& o) noexcept
    : Failed(o.Failed),
      ErrorCode(o.ErrorCode),
      HasItem(o.HasItem),
      Pattern(std::move(o.Pattern)),
      Handle(o.Handle),
      Name(std::move(o.Name)),
      Attributes(o.Attributes) {
    o.Handle = -1;
    o.HasItem = false;
}

FileEntry& FileEntry::operator=(FileEntry&& o) noexcept {
    if (this != &o) {
        if (isOpenHandle(Handle)) {
            int32_t ignored = 0;
            handles().close(Handle, ignored);
        }
        Failed = o.Failed;
        ErrorCode = o.ErrorCode;
        HasItem = o.HasItem;
        Pattern = std::move(o.Pattern);
        Handle = o.Handle;
        Name = std::move(o.Name);
        Attributes = o.Attributes;
        o.Handle = -1;
        o.HasItem = false;
    }
    return *this;
}

int32_t GetPathAttributes(const std::string& path) {
    ensureApiSupport();
    int32_t code = 0;
    const int32_t result = detail::sysGetFileAttributes(path, code);
    if (result == -1) CaptureApiError(code);
    else g_lastFileError = 0;
    return result;
}

int32_t FindFirstEntry(const std::string& pattern, FileEntry& entry, SearchDetail wanted) {
    ensureApiSupport();
    entry.Pattern = pattern;
    if (startsWithFtp(pattern)) {
        entry.HasItem = false;
        entry.Failed = false;
        entry.ErrorCode = 0;
        return 0;
    }
    detail::FoundItem item;
    int32_t code = 0;
    std::unique_ptr<detail::SearchStream> search = detail::sysFindFirst(pattern, item, code, wanted);
    int32_t handle = -1;
    if (search) {
        handle = handles().add(std::move(search));
        takeItem(entry, item);
        g_lastFileError = 0;
        entry.HasItem = true;
        entry.Failed = false;
        entry.ErrorCode = 0;
    } else {
        CaptureApiError(code);
        recordSearchFailure(entry);
    }
    entry.Handle = handle;
    return handle;
}

int32_t FindNextEntry(FileEntry& entry) {
    ensureApiSupport();
    detail::FoundItem item;
    int32_t code = 0;
    bool found = false;
    if (detail::SearchStream* search = handles().find(entry.Handle)) found = search->next(item, code);
    else code = kErrorInvalidHandle;  // FindNextFile on a handle that is not open
    if (found) {
        takeItem(entry, item);
        g_lastFileError = 0;
        entry.HasItem = true;
        return 1;
    }
    CaptureApiError(code);
    recordSearchFailure(entry);
    EndFind(entry);
    entry.Handle = 0;
    return 0;
}

bool EndFind(FileEntry& entry) {
    bool ok = true;
    int32_t code = 0;
    if (isOpenHandle(entry.Handle)) ok = handles().close(entry.Handle, code);
    if (ok) g_lastFileError = 0;
    else CaptureApiError(code);
    entry.HasItem = false;
    entry.Handle = -1;
    return ok;
}

bool FileExists(const std::string& path) {
    bool answer = false;
    const int32_t attributes = GetPathAttributes(path);
    if (attributes != -1 && (static_cast<uint32_t>(attributes) & kAttrDirectory) == 0) {
        answer = true;
    } else {
        FileEntry search;
        const int32_t handle = FindFirstEntry(path, search);
        if (isOpenHandle(handle)) {
            answer = (search.Attributes & kAttrDirectory) == 0;
            int32_t ignored = 0;
            handles().close(handle, ignored);
            search.Handle = -1;
        }
    }
    g_lastFileError = 0;
    return answer;
}

bool FolderExists(const std::string& path) {
    g_lastFileError = 0;
    const std::string folder = AddBackslash(path);
    bool answer = false;
    const int32_t attributes = GetPathAttributes(path);
    if (attributes != -1 && (static_cast<uint32_t>(attributes) & kAttrDirectory) != 0) {
        answer = true;
    } else {
        FileEntry search;
        const int32_t handle = FindFirstEntry(folder + "*.*", search);
        if (isOpenHandle(handle)) {
            int32_t ignored = 0;
            handles().close(handle, ignored);
            search.Handle = -1;
            answer = true;
        } else {
            answer = FileExists(folder + "nul");
        }
    }
    g_lastFileError = 0;
    return answer;
}

std::string AddBackslash(const std::string& path) {
    const size_t begin = path.find_first_not_of(' ');
    if (begin == std::string::npos) return std::string(kPathSeparatorText);
    const size_t end = path.find_last_not_of(' ');
    std::string out = path.substr(begin, end - begin + 1);
    if (out.back() != kPathSeparator) out.push_back(kPathSeparator);
    return out;
}

std::string TrimAtNull(const std::string& text) {
    const size_t p = text.find('\0');
    return p == std::string::npos ? text : text.substr(0, p);
}

std::u16string MakeLongPathBuffer(const std::string& path) {
    std::u16string out;
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        out = u"\\\\?\\UNC\\";
        out += text::toUtf16(std::string_view(path).substr(2));
    } else {
        out = u"\\\\?\\";
        out += text::toUtf16(path);
    }
    out.push_back(u'\0');
    return out;
}

}  // namespace tavrin::fs
