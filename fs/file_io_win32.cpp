// File access on Windows: CreateFileW on extended-length paths, positioned
// ReadFile/WriteFile, FlushFileBuffers, and MoveFileExW for renames.
//
// A source file is opened for reading with every share mode
// (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE), so that a file
// that Outlook, a backup program or a viewer holds open can still be read,
// and so that our reading never stops another program from working on it.
// Only a program that holds the file without sharing it for reading keeps us
// out; that is reported as "being used by another process".
#ifdef _WIN32

#include "fs/file_io.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "fs/win32_path.h"

namespace tavrin::fs {
namespace {

HANDLE toHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
intptr_t fromHandle(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

int32_t lastError() { return static_cast<int32_t>(GetLastError()); }

}  // namespace

InputFile::~InputFile() {
    if (handle_ != kNoHandle) CloseHandle(toHandle(handle_));
}
InputFile::InputFile(InputFile&& o) noexcept : handle_(o.handle_), size_(o.size_), path_(std::move(o.path_)) {
    o.handle_ = kNoHandle;
}
InputFile& InputFile::operator=(InputFile&& o) noexcept {
    if (this != &o) {
        if (handle_ != kNoHandle) CloseHandle(toHandle(handle_));
        handle_ = o.handle_;
        size_ = o.size_;
        path_ = std::move(o.path_);
        o.handle_ = kNoHandle;
    }
    return *this;
}

Result<InputFile> InputFile::open(const std::string& path) {
    const std::wstring name = win32::extendedPath(path);
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int32_t code = lastError();
        // A folder cannot be opened as a file (access is denied): say what it is.
        const DWORD attributes = GetFileAttributesW(name.c_str());
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return Error(err::kInvalidParameter, "The file " + path + " is not a regular file.");
        return windowsIoError(code, "opened", path);
    }
    // Pipes and devices (a path that names a console or a named pipe) are
    // not files to read at offsets.
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
    InputFile f;
    f.handle_ = fromHandle(h);
    f.size_ = static_cast<uint64_t>(size.QuadPart);
    f.path_ = path;
    return f;
}

Status InputFile::readAt(uint64_t offset, std::span<uint8_t> buf) const {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file is not open.");
    size_t got = 0;
    if (auto s = win32::readAt(toHandle(handle_), offset, buf, path_, got); !s) return s;
    if (got < buf.size()) return Error(err::kCorrupt, "The file " + path_ + " ends unexpectedly.");
    return {};
}

OutputFile::~OutputFile() {
    if (handle_ != kNoHandle) CloseHandle(toHandle(handle_));
}

Result<std::unique_ptr<OutputFile>> OutputFile::createNew(const std::string& path) {
    const std::wstring name = win32::extendedPath(path);
    // Others may read it and rename or delete it (as on POSIX systems); no
    // one else may write it while it is ours.
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return windowsIoError(lastError(), "created", path);
    return std::unique_ptr<OutputFile>(new OutputFile(fromHandle(h), path));
}

Status OutputFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    return win32::writeAt(toHandle(handle_), offset, data, path_);
}

Status OutputFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    if (handle_ == kNoHandle) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    size_t got = 0;  // what was never written reads as zeros
    return win32::readAt(toHandle(handle_), offset, buf, path_, got);
}

Status OutputFile::flush() {
    if (handle_ != kNoHandle && !FlushFileBuffers(toHandle(handle_))) return windowsIoError(lastError(), "written", path_);
    return {};
}

Status OutputFile::close() {
    if (handle_ == kNoHandle) return {};
    const HANDLE h = toHandle(handle_);
    handle_ = kNoHandle;
    if (!CloseHandle(h)) return windowsIoError(lastError(), "written", path_);
    return {};
}

bool pathExists(const std::string& path) {
    return GetFileAttributesW(win32::extendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string systemFullPath(const std::string& path) { return win32::fullPath(path); }

Status renameFile(const std::string& from, const std::string& to, bool noReplace) {
    // Without MOVEFILE_REPLACE_EXISTING an existing `to` makes the call fail
    // (ERROR_ALREADY_EXISTS) and changes nothing; with it the old file is
    // replaced in one step. MOVEFILE_WRITE_THROUGH returns only once the
    // new name is on the disk.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (noReplace ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (!MoveFileExW(win32::extendedPath(from).c_str(), win32::extendedPath(to).c_str(), flags))
        return windowsIoError(lastError(), "created", to);
    return {};
}

Status removeFile(const std::string& path) {
    if (!DeleteFileW(win32::extendedPath(path).c_str())) {
        const DWORD e = GetLastError();
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) return windowsIoError(static_cast<int32_t>(e), "removed", path);
    }
    return {};
}

}  // namespace tavrin::fs

#endif  // _WIN32
