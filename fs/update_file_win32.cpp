// UpdateFile on Windows: CreateFileW for reading and writing that shares
// reading only, positioned ReadFile/WriteFile, FlushFileBuffers and
// SetFileInformationByHandle for the length.
#ifdef _WIN32

#include "fs/update_file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>

#include "fs/win32_path.h"

namespace tavrin::fs {

namespace {
HANDLE toHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
int32_t lastError() { return static_cast<int32_t>(GetLastError()); }
}  // namespace

UpdateFile::~UpdateFile() { (void)close(); }

Result<std::unique_ptr<UpdateFile>> UpdateFile::open(const std::string& path) {
    const std::wstring name = win32::extendedPath(path);
    // No FILE_SHARE_WRITE: a program that has the file open for writing
    // (Outlook) keeps us out, and we keep it out while we change the file.
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int32_t code = lastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            return Error(err::kFileInUse, "The file " + path + " is open in another program.");
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Error(err::kInvalidParameter, "The file " + path + " is not a regular file.");
        return windowsIoError(code, "opened", path);
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return Error(err::kInvalidParameter, "The file " + path + " is not a regular file.");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) {
        const int32_t code = lastError();
        CloseHandle(h);
        return windowsIoError(code, "read", path);
    }
    return std::unique_ptr<UpdateFile>(
        new UpdateFile(reinterpret_cast<intptr_t>(h), path, static_cast<uint64_t>(size.QuadPart)));
}

Status UpdateFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        OVERLAPPED ov{};
        const uint64_t at = offset + done;
        ov.Offset = static_cast<DWORD>(at);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!WriteFile(toHandle(handle_), data.data() + done, chunk, &n, &ov)) return windowsIoError(lastError(), "written", path_);
        if (n == 0) return windowsIoError(ERROR_DISK_FULL, "written", path_);
        done += n;
    }
    if (offset + data.size() > size_) size_ = offset + data.size();
    return {};
}

Status UpdateFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    size_t done = 0;
    while (done < buf.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(buf.size() - done, 1u << 30));
        OVERLAPPED ov{};
        const uint64_t at = offset + done;
        ov.Offset = static_cast<DWORD>(at);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!ReadFile(toHandle(handle_), buf.data() + done, chunk, &n, &ov)) {
            const int32_t code = lastError();
            if (code == ERROR_HANDLE_EOF) return Error(err::kCorrupt, "The file " + path_ + " ends unexpectedly.");
            return windowsIoError(code, "read", path_);
        }
        if (n == 0) return Error(err::kCorrupt, "The file " + path_ + " ends unexpectedly.");
        done += n;
    }
    return {};
}

Status UpdateFile::flush() {
    if (handle_ != kNoHandle && !FlushFileBuffers(toHandle(handle_))) return windowsIoError(lastError(), "written", path_);
    return {};
}

Status UpdateFile::truncate(uint64_t size) {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(toHandle(handle_), FileEndOfFileInfo, &info, sizeof info))
        return windowsIoError(lastError(), "written", path_);
    size_ = size;
    return {};
}

Status UpdateFile::close() {
    if (handle_ == kNoHandle) return {};
    const HANDLE h = toHandle(handle_);
    handle_ = kNoHandle;
    if (!CloseHandle(h)) return windowsIoError(lastError(), "written", path_);
    return {};
}

}  // namespace tavrin::fs

#endif  // _WIN32
