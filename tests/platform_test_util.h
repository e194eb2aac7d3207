// What a test needs to know about the system it runs on.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "fs/text.h"

namespace tavrin::testing {

// True when a Windows build runs under wine, whose file system differs from
// NTFS in a few documented corners (the tests that meet one say so).
inline bool runningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// Files and folders at paths of any length and in any script (UTF-8). On
// Windows these use the extended-length form ("\\?\" in front), since the
// C runtime and std::filesystem stop at MAX_PATH; the paths must be absolute.
#ifdef _WIN32
inline std::wstring longPath(const std::string& utf8) {
    const std::u16string u = text::toUtf16(utf8);
    std::wstring w(u.begin(), u.end());
    if (w.rfind(L"\\\\?\\", 0) == 0) return w;
    if (w.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + w.substr(2);
    return L"\\\\?\\" + w;
}
#endif

// Creates the folder and every missing folder above it.
inline bool makeFolders(const std::string& path) {
#ifdef _WIN32
    const std::wstring w = longPath(path);
    for (size_t i = 7; i <= w.size(); ++i) {  // past "\\?\C:\"
        if (i < w.size() && w[i] != L'\\') continue;
        const std::wstring part = w.substr(0, i);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return true;
#else
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return !ec;
#endif
}

inline bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
#ifdef _WIN32
    const HANDLE h = CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(h);
    return ok && n == bytes.size();
#else
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
#endif
}

// Removes a folder with everything in it; links and junctions are removed,
// never followed.
inline void removeTree(const std::string& path) {
#ifdef _WIN32
    const std::wstring w = longPath(path);
    WIN32_FIND_DATAW d{};
    const HANDLE h = FindFirstFileW((w + L"\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = d.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = w + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                const std::u16string u(name.begin(), name.end());
                removeTree(path + "\\" + text::toUtf8(u));
            } else if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(child.c_str());
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(h, &d));
        FindClose(h);
    }
    RemoveDirectoryW(w.c_str());
#else
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
#endif
}

}  // namespace tavrin::testing
