// The search cursor's system calls on Windows.
//
// Once per process InitApiSupport probes kernel32 and the platform: on an
// NT-family system every wrapper calls the wide function with a long-path
// buffer ("\\?\" or "\\?\UNC\" in front of the path), elsewhere the ANSI
// function with the path in the system's ANSI code page. The error code of
// a failed call is taken right after it.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "fs/mod_files_platform.h"
#include "fs/text.h"

namespace tavrin::fs {
namespace detail {
namespace {

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW size field");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA size field");

int32_t codeOf(DWORD e) { return static_cast<int32_t>(e); }

// The long-path buffer as a wide string for the W calls (wchar_t is UTF-16
// on Windows); the buffer's own NUL terminates it.
std::wstring wideLongPath(const std::string& path) {
    const std::u16string buffer = MakeLongPathBuffer(path);
    return std::wstring(buffer.begin(), buffer.end() - 1);
}

// UTF-8 -> UTF-16 -> the ANSI code page, for the A calls. Characters the
// code page lacks become its default character.
std::string toAnsi(const std::string& utf8) {
    const std::u16string u16 = text::toUtf16(utf8);
    const std::wstring wide(u16.begin(), u16.end());
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A fixed-size, NUL-padded name field of the find data, as UTF-8.
std::string fromWideField(const wchar_t* field, size_t capacity) {
    std::u16string u16;
    for (size_t i = 0; i < capacity && field[i] != 0; ++i) u16.push_back(static_cast<char16_t>(field[i]));
    return text::toUtf8(u16);
}

std::string fromAnsiField(const char* field, size_t capacity) {
    size_t len = 0;
    while (len < capacity && field[len] != 0) ++len;
    if (len == 0) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(len), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(len), wide.data(), n);
    return text::toUtf8(std::u16string(wide.begin(), wide.end()));
}

void takeWide(const WIN32_FIND_DATAW& data, FoundItem& item) {
    item.name = fromWideField(data.cFileName, MAX_PATH);
    item.attributes = data.dwFileAttributes;
}

void takeAnsi(const WIN32_FIND_DATAA& data, FoundItem& item) {
    item.name = fromAnsiField(data.cFileName, MAX_PATH);
    item.attributes = data.dwFileAttributes;
}

class Win32Search final : public SearchStream {
public:
    explicit Win32Search(HANDLE handle) : handle_(handle) {}
    ~Win32Search() override {
        if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
    }

    bool next(FoundItem& item, int32_t& code) override {
        BOOL ok;
        if (apiSupportState().wideFindNextFile) {
            WIN32_FIND_DATAW data{};
            ok = FindNextFileW(handle_, &data);
            if (ok) takeWide(data, item);
        } else {
            WIN32_FIND_DATAA data{};
            ok = FindNextFileA(handle_, &data);
            if (ok) takeAnsi(data, item);
        }
        if (!ok) code = codeOf(GetLastError());
        return ok != 0;
    }

    bool close(int32_t& code) override {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        if (!FindClose(handle)) {
            code = codeOf(GetLastError());
            return false;
        }
        return true;
    }

private:
    HANDLE handle_;
};

}  // namespace

int32_t sysGetFileAttributes(const std::string& path, int32_t& code) {
    DWORD result;
    if (apiSupportState().wideGetFileAttributes) {
        const std::wstring buffer = wideLongPath(path);
        result = GetFileAttributesW(buffer.c_str());
    } else {
        const std::string ansi = toAnsi(path);
        result = GetFileAttributesA(ansi.c_str());
    }
    if (result == INVALID_FILE_ATTRIBUTES) {
        code = codeOf(GetLastError());
        return -1;
    }
    return static_cast<int32_t>(result);
}

std::unique_ptr<SearchStream> sysFindFirst(const std::string& pattern, FoundItem& first, int32_t& code,
                                           SearchDetail) {
    HANDLE handle;
    if (apiSupportState().wideFindFirstFile) {
        const std::wstring buffer = wideLongPath(pattern);
        WIN32_FIND_DATAW data{};
        handle = FindFirstFileW(buffer.c_str(), &data);
        if (handle != INVALID_HANDLE_VALUE) takeWide(data, first);
    } else {
        const std::string ansi = toAnsi(pattern);
        WIN32_FIND_DATAA data{};
        handle = FindFirstFileA(ansi.c_str(), &data);
        if (handle != INVALID_HANDLE_VALUE) takeAnsi(data, first);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        code = codeOf(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32Search>(handle);
}

int32_t sysLastError() { return codeOf(GetLastError()); }

bool sysFolderIdentity(const std::string& path, uint64_t& volume, uint64_t& file, int32_t& code) {
    // Opening a folder needs FILE_FLAG_BACKUP_SEMANTICS; without
    // FILE_FLAG_OPEN_REPARSE_POINT the open follows links and junctions.
    HANDLE h;
    if (apiSupportState().wideGetFileAttributes) {
        const std::wstring buffer = wideLongPath(path);
        h = CreateFileW(buffer.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    } else {
        const std::string ansi = toAnsi(path);
        h = CreateFileA(ansi.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
        code = codeOf(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(h, &info);
    if (!ok) code = codeOf(GetLastError());
    CloseHandle(h);
    if (!ok) return false;
    volume = info.dwVolumeSerialNumber;
    file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

}  // namespace detail

void InitApiSupport() {
    ApiSupportFlags& api = detail::apiSupportState();
    api.initialised = true;
    HMODULE kernel32 = LoadLibraryA("kernel32");
    if (!kernel32) return;  // every wrapper uses the ANSI calls
    api.hasGetVersionExA = GetProcAddress(kernel32, "GetVersionExA") != nullptr;
    api.hasGetVersionExW = GetProcAddress(kernel32, "GetVersionExW") != nullptr;
    const int32_t platform = DetectPlatform();
    FreeLibrary(kernel32);
    if (platform == kPlatformWin32NT) {
        api.wideGetFileAttributes = true;
        api.wideFindFirstFile = true;
        api.wideFindNextFile = true;
    }
}

// GetVersionEx is deprecated in current SDKs; it is the probe this module
// relies on, and it still answers dwPlatformId correctly.
#if defined(_MSC_VER) && !defined(__clang__)
#pragma warning(push)
#pragma warning(disable : 4996)
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif

int32_t DetectPlatform() {
    ApiSupportFlags& api = detail::apiSupportState();
    // A failed probe is recorded and marked absent, and the next one is tried.
    for (;;) {
        if (api.hasGetVersionExW) {
            OSVERSIONINFOW info{};
            info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
            if (GetVersionExW(&info)) {
                detail::setLastFileError(0);
                return static_cast<int32_t>(info.dwPlatformId);
            }
            CaptureApiError(detail::codeOf(GetLastError()));
            api.hasGetVersionExW = false;
            continue;
        }
        if (api.hasGetVersionExA) {
            OSVERSIONINFOA info{};
            info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
            if (GetVersionExA(&info)) {
                detail::setLastFileError(0);
                return static_cast<int32_t>(info.dwPlatformId);
            }
            CaptureApiError(detail::codeOf(GetLastError()));
            api.hasGetVersionExA = false;
            continue;
        }
        const DWORD version = GetVersion();
        detail::setLastFileError(0);
        return (version & 0x80000000u) != 0 ? kPlatformWin32Windows : kPlatformWin32NT;
    }
}

#if defined(_MSC_VER) && !defined(__clang__)
#pragma warning(pop)
#else
#pragma GCC diagnostic pop
#endif

}  // namespace tavrin::fs

#endif  // _WIN32
