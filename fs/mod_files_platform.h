// The seam between the search cursor's logic (mod_files.cpp) and the system
// calls under it. mod_files_win32.cpp implements it on Windows (Win32 calls,
// wide or ANSI as ApiSupport says), mod_files_posix.cpp on POSIX systems.
// Every call reports a failure as a Windows system error code in `code`,
// captured right after the failing call. Internal to the fs layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/mod_files.h"

namespace tavrin::fs::detail {

// One item of a search: the find data that the logic reads.
struct FoundItem {
    std::string name;         // the entry's name, as the system gave it
    uint32_t attributes = 0;  // dwFileAttributes
};

// An open search (FindFirstFile's handle).
class SearchStream {
public:
    virtual ~SearchStream() = default;
    // The next item; false at the end (code 18) or on a failure (its code).
    virtual bool next(FoundItem& item, int32_t& code) = 0;
    // FindClose. False with a code when it fails.
    virtual bool close(int32_t& code) = 0;
};

// GetFileAttributes: the attribute bits, or -1 with `code` set.
int32_t sysGetFileAttributes(const std::string& path, int32_t& code);

// FindFirstFile: the open search with its first item in `first`, or null
// with `code` set (INVALID_HANDLE_VALUE). `wanted`: see SearchDetail (the
// find data of Windows holds every bit anyway).
std::unique_ptr<SearchStream> sysFindFirst(const std::string& pattern, FoundItem& first, int32_t& code,
                                           SearchDetail wanted);

// The identity of the folder that `path` leads to (links followed): its
// volume and its file number on that volume. False with `code` on failure.
bool sysFolderIdentity(const std::string& path, uint64_t& volume, uint64_t& file, int32_t& code);

// GetLastError, for CaptureApiError when a call reported no code.
int32_t sysLastError();

// The module's state, for the platform files.
ApiSupportFlags& apiSupportState();
void setLastFileError(int32_t code);

#ifndef _WIN32
// The Windows system error code for an errno value (see mod_files.h).
int32_t windowsErrorFromErrno(int errnum);
#endif

}  // namespace tavrin::fs::detail
