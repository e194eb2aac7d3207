// File search and path helpers (ModFiles): a folder-existence test, an
// attribute query and a search cursor over the entries of one folder.
//
// Results keep the Windows conventions on every system, because the engine
// is written against them:
//   - attribute bits as Windows reports them; bit 0x10 marks a folder; a
//     failed attribute query answers -1 (every bit set, so a caller that
//     tests the folder bit excludes -1 first);
//   - a failed search start answers -1;
//   - failures are Windows system error codes, kept in LastFileError() and
//     in the search cursor; code 18 (ERROR_NO_MORE_FILES) is the normal end
//     of a search.
// No operation here throws or shows a message.
//
// On Windows the calls go to the wide Win32 functions with a long-path
// prefix on NT-family systems and to the ANSI ones elsewhere (chosen once per
// process by InitApiSupport); that code is in mod_files_win32.cpp. On POSIX
// systems mod_files_posix.cpp maps them onto stat and directory streams:
//   - errno becomes the Windows code a caller would see for the same failure:
//       ENOENT  -> 2 (ERROR_FILE_NOT_FOUND) when the folder holding the entry
//                  exists, else 3 (ERROR_PATH_NOT_FOUND); a search of a
//                  missing folder fails with 3;
//       ENOTDIR -> 3 (ERROR_PATH_NOT_FOUND)
//       EACCES, EPERM -> 5 (ERROR_ACCESS_DENIED)
//       EMFILE, ENFILE -> 4 (ERROR_TOO_MANY_OPEN_FILES)
//       ENOMEM  -> 8 (ERROR_NOT_ENOUGH_MEMORY)
//       EBADF   -> 6 (ERROR_INVALID_HANDLE)
//       EINVAL  -> 87 (ERROR_INVALID_PARAMETER)
//       ENAMETOOLONG -> 206 (ERROR_FILENAME_EXCED_RANGE)
//       EIO     -> 1117 (ERROR_IO_DEVICE)
//       ELOOP   -> 1921 (ERROR_CANT_RESOLVE_FILENAME)
//       others  -> 31 (ERROR_GEN_FAILURE)
//     a pattern that matches nothing in an existing folder fails with 2, as
//     on Windows;
//   - attributes: 0x10 folder, 0x01 read-only (no write permission bit at
//     all), 0x02 hidden (a name starting with "."), 0x400 for a symbolic
//     link (a link to a folder reports 0x410, like a Windows directory link);
//     0x80 (normal) for an entry with none of these. Links are followed for
//     the folder bit; a dangling link reads as a file (0x400);
//   - patterns: a name part with "*" or "?" is matched as Windows matches it
//     (fs/wildcard.h: "*.*" also matches names without a dot, case is
//     ignored for ASCII letters); a name part without them names one entry
//     and finds exactly that entry (letter case as the file system decides);
//   - "." and "..": a wildcard search of a folder reports "." and then ".."
//     first, whenever the pattern matches them, as NTFS does for every folder
//     except a drive root; here they are reported for every folder,
//     including "/". Directory streams list them in no fixed place, so the
//     search reports them itself and skips the stream's own;
//   - other entries come in the order the directory stream lists them, not
//     sorted (NTFS lists in name order, other file systems in their own);
//   - search handles are small positive numbers naming a directory stream
//     held by this module.
//
// Not for concurrent use: LastFileError and the handle table are
// process-wide and unsynchronised, as the callers run on one thread.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::fs {

// Attribute bits (FILE_ATTRIBUTE_*).
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrNormal = 0x80;
inline constexpr uint32_t kAttrReparsePoint = 0x400;

// Windows system error codes that callers test.
inline constexpr int32_t kErrorFileNotFound = 2;   // ERROR_FILE_NOT_FOUND
inline constexpr int32_t kErrorPathNotFound = 3;   // ERROR_PATH_NOT_FOUND
inline constexpr int32_t kErrorTooManyOpenFiles = 4;
inline constexpr int32_t kErrorAccessDenied = 5;   // ERROR_ACCESS_DENIED
inline constexpr int32_t kErrorInvalidHandle = 6;  // ERROR_INVALID_HANDLE
inline constexpr int32_t kErrorNotEnoughMemory = 8;
inline constexpr int32_t kErrorNoMoreFiles = 18;   // ERROR_NO_MORE_FILES: the normal end of a search
inline constexpr int32_t kErrorGenFailure = 31;
inline constexpr int32_t kErrorInvalidParameter = 87;
inline constexpr int32_t kErrorFilenameExcedRange = 206;
inline constexpr int32_t kErrorIoDevice = 1117;
inline constexpr int32_t kErrorCantResolveFilename = 1921;

// Platform identifiers (OSVERSIONINFO.dwPlatformId), and the one this
// module reports on a POSIX system, where no Windows platform applies.
inline constexpr int32_t kPlatformWin32s = 0;
inline constexpr int32_t kPlatformWin32Windows = 1;
inline constexpr int32_t kPlatformWin32NT = 2;
inline constexpr int32_t kPlatformPosix = 100;

// What InitApiSupport found, once per process. On POSIX systems only
// `initialised` is ever set: the calls there have no wide/ANSI forms.
struct ApiSupportFlags {
    bool initialised = false;
    bool hasGetVersionExW = false;
    bool hasGetVersionExA = false;
    bool wideGetFileAttributes = false;
    bool wideFindFirstFile = false;
    bool wideFindNextFile = false;
};
const ApiSupportFlags& ApiSupport();

// 0 after an operation that succeeded; after a failed system call, that
// call's system error code; -1 when the system reported no code.
int32_t LastFileError();

// The search cursor over one folder, owned by the caller, one per search.
// It closes a search that is still open when it is destroyed; it can be
// moved but not copied (two copies would share one search).
struct FileEntry {
    bool Failed = false;      // the last step ended with an error other than code 18
    int32_t ErrorCode = 0;    // that error's system code; 0 when Failed is false
    bool HasItem = false;     // Name and Attributes describe a current item
    std::string Pattern;      // what the search was started with
    int32_t Handle = 0;       // -1 after EndFind and after a start that found nothing;
                              // 0 after FindNextEntry ran out
    std::string Name;         // the current item's name without any folder part
    uint32_t Attributes = 0;  // the current item's attribute bits

    FileEntry() = default;
    ~FileEntry();
    FileEntry(FileEntry&& other) noexcept;
    FileEntry& operator=(FileEntry&& other) noexcept;
    FileEntry(const FileEntry&) = delete;
    FileEntry& operator=(const FileEntry&) = delete;
};

// True when `path` names an existing folder: tried as given, then trimmed
// of spaces with "*.*" searched in it, then as trimmed folder plus "nul".
// Leaves LastFileError at 0.
bool FolderExists(const std::string& path);

// True when `path` (or the first match of a pattern) is an existing entry
// that is not a folder. Leaves LastFileError at 0.
bool FileExists(const std::string& path);

// The attribute bits of `path`, or -1 when the query fails (LastFileError
// then holds the code).
int32_t GetPathAttributes(const std::string& path);

// What a search tells of each item: every attribute bit, or only the
// folder and hidden bits, which is all a walk that tells folders from files
// needs (a POSIX folder listing gives them for a file or a folder without
// examining the entry: a walk of a million files need not make a million
// calls for bits it does not read).
enum class SearchDetail { AllAttributes, FolderBit };

// Starts a search for a path or a pattern (folder, separator, name pattern).
// Returns the search handle, with the first item in `entry`; -1 when nothing
// matched or the search could not start (`entry.Failed`/`ErrorCode` tell
// which, code 18 not counting as a failure); 0, without any search and with
// `entry.Handle` unchanged, for a pattern beginning with "ftp://" in any
// letter case.
int32_t FindFirstEntry(const std::string& pattern, FileEntry& entry,
                       SearchDetail detail = SearchDetail::AllAttributes);

// Moves to the next item. Nonzero when `entry` holds it; 0 when the search
// has ended, in which case it is already closed (Handle 0), Failed and
// ErrorCode tell why, and LastFileError reports the closing.
int32_t FindNextEntry(FileEntry& entry);

// Closes the search (nothing to close when Handle is 0 or -1) and sets
// Handle to -1 and HasItem to false. True when the closing succeeded.
bool EndFind(FileEntry& entry);

// `path` without leading and trailing spaces, ending in the path separator;
// a single separator when nothing is left.
std::string AddBackslash(const std::string& path);

// The text before its first NUL character, or all of it.
std::string TrimAtNull(const std::string& text);

// The UTF-16 code units of a Windows long path, NUL-terminated: "\\?\UNC\"
// followed by the path from its third character for a path beginning with
// two backslashes, "\\?\" followed by the whole path otherwise. Nothing else
// is normalised. Used by the Win32 calls; pure text, on every system.
std::u16string MakeLongPathBuffer(const std::string& path);

// Fills ApiSupport (runs at most once per process: the first call of
// GetPathAttributes, FindFirstEntry or FindNextEntry starts it).
void InitApiSupport();

// The platform identifier as the system reports it (kPlatformWin32NT on
// NT-family Windows, kPlatformPosix elsewhere); sets LastFileError to 0.
int32_t DetectPlatform();

// Records a failed system call in LastFileError: `reported` (the code that
// call reported), else the system's current last-error value, else -1.
void CaptureApiError(int32_t reported = 0);

}  // namespace tavrin::fs
