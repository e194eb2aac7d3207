// Paths and texts for the Win32 calls (see win32_path.h).
#ifdef _WIN32

#include "fs/win32_path.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "fs/file_io.h"
#include "fs/text.h"

namespace tavrin::fs::win32 {
namespace {

bool startsWith(std::wstring_view s, std::wstring_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// GetFullPathNameW of a wide path; empty when the call fails.
std::wstring resolve(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    for (int attempt = 0; attempt < 4 && size > 0; ++attempt) {
        std::wstring out(size, L'\0');
        const DWORD n = GetFullPathNameW(path.c_str(), size, out.data(), nullptr);
        if (n == 0) break;
        if (n < size) {
            out.resize(n);
            return out;
        }
        size = n;  // the current folder changed in between: try again
    }
    return {};
}

}  // namespace

std::wstring widen(std::string_view utf8) {
    const std::u16string u16 = text::toUtf16(utf8);
    return std::wstring(u16.begin(), u16.end());
}

std::string narrow(std::wstring_view wide) {
    return text::toUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring extendedPath(const std::string& path) {
    std::wstring w = widen(path);
    if (startsWith(w, L"\\\\?\\") || startsWith(w, L"\\\\.\\")) return w;
    if (w.empty()) return w;
    std::wstring full = resolve(w);
    if (full.empty()) return w;
    if (startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) return full;
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string fullPath(const std::string& path) {
    if (path.empty()) return path;
    const std::wstring full = resolve(widen(path));
    return full.empty() ? path : narrow(full);
}

namespace {

// ReadFile and WriteFile take a 32-bit count: larger buffers go in pieces.
constexpr DWORD kMaxPiece = DWORD(1) << 30;

OVERLAPPED at(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

}  // namespace

Status writeAt(void* handle, uint64_t offset, std::span<const uint8_t> data, const std::string& name) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return Error(err::kInvalidParameter, "The file " + name + " is closed.");
    size_t done = 0;
    while (done < data.size()) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(data.size() - done, kMaxPiece));
        OVERLAPPED o = at(offset + done);
        DWORD n = 0;
        if (!WriteFile(handle, data.data() + done, want, &n, &o))
            return windowsIoError(static_cast<int32_t>(GetLastError()), "written", name);
        if (n == 0) return windowsIoError(ERROR_DISK_FULL, "written", name);
        done += n;
    }
    return {};
}

Status readAt(void* handle, uint64_t offset, std::span<uint8_t> buf, const std::string& name, size_t& got) {
    got = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return Error(err::kInvalidParameter, "The file " + name + " is closed.");
    while (got < buf.size()) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(buf.size() - got, kMaxPiece));
        OVERLAPPED o = at(offset + got);
        DWORD n = 0;
        if (!ReadFile(handle, buf.data() + got, want, &n, &o)) {
            const DWORD e = GetLastError();
            if (e == ERROR_HANDLE_EOF) break;  // the offset is at or past the end
            return windowsIoError(static_cast<int32_t>(e), "read", name);
        }
        if (n == 0) break;
        got += n;
    }
    std::fill(buf.begin() + static_cast<ptrdiff_t>(got), buf.end(), 0);
    return {};
}

}  // namespace tavrin::fs::win32

#endif  // _WIN32
