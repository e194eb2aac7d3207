// File access for the readers and the writer.
//
// Source files are only ever opened read-only (InputFile). Output goes
// through the FileSink interface so that a writer can be tested against a
// sink that fails after N bytes, the way a full disk does. Errors come back
// as tavrin::Error with a description that names the file and the reason.
//
// The system calls are in file_io_posix.cpp and file_io_win32.cpp. On
// Windows every path is opened in its extended-length form (fs/win32_path.h),
// so paths longer than 260 characters work, and a source is opened with
// every share mode, so that a file another program holds open can still be
// read without getting in that program's way.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fs/result.h"

namespace tavrin::fs {

// An open file of the system: a descriptor on POSIX systems, a HANDLE on
// Windows. Both use -1 for "none" (INVALID_HANDLE_VALUE).
inline constexpr intptr_t kNoHandle = -1;

// A file opened read-only, read at explicit offsets.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    static Result<InputFile> open(const std::string& path);

    uint64_t size() const { return size_; }
    const std::string& path() const { return path_; }
    bool isOpen() const { return handle_ != kNoHandle; }

    // Reads exactly buf.size() bytes at `offset`; a short file is an error.
    Status readAt(uint64_t offset, std::span<uint8_t> buf) const;
    // Reads the whole file (refuses files larger than `limit`).
    Result<std::vector<uint8_t>> readAll(uint64_t limit = uint64_t(1) << 32) const;

private:
    intptr_t handle_ = kNoHandle;
    uint64_t size_ = 0;
    std::string path_;
};

// Reads a whole file opened read-only.
Result<std::vector<uint8_t>> readFile(const std::string& path, uint64_t limit = uint64_t(1) << 32);

// Random-access output.
class FileSink {
public:
    virtual ~FileSink() = default;
    virtual Status writeAt(uint64_t offset, std::span<const uint8_t> data) = 0;
    virtual Status readAt(uint64_t offset, std::span<uint8_t> buf) = 0;  // read back what was written
    virtual Status flush() = 0;  // data on stable storage
    virtual Status close() = 0;
    // A hint: the system may start writing these bytes to the disk now, so
    // that a later flush() has less to wait for. Nothing is promised and
    // nothing is reported; by default it does nothing.
    virtual void startWriteback(uint64_t offset, uint64_t size) {
        (void)offset;
        (void)size;
    }
};

// A new file, created exclusively: an existing file at the path is an error
// ("The file PATH already exists.") and is never touched.
class OutputFile final : public FileSink {
public:
    ~OutputFile() override;
    static Result<std::unique_ptr<OutputFile>> createNew(const std::string& path);

    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override;
    Status close() override;
    const std::string& path() const { return path_; }

private:
    OutputFile(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    intptr_t handle_ = kNoHandle;
    std::string path_;
};

// A sink in memory that fails with a disk-full error once `failAfter` bytes
// in total have been written. For tests of write failures.
class FailingSink final : public FileSink {
public:
    explicit FailingSink(uint64_t failAfter) : budget_(failAfter) {}
    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override { return {}; }
    Status close() override { return {}; }
    const std::vector<uint8_t>& bytes() const { return data_; }
    uint64_t written() const { return written_; }

private:
    uint64_t budget_;
    uint64_t written_ = 0;
    std::vector<uint8_t> data_;
};

// ---- Output that appears whole or not at all; scratch that never stays ----
//
// A long write (a PST of many gigabytes) must leave nothing behind however it
// ends: a failure, a stop, a crash or `kill -9`. The platform part of the two
// classes below lives in fs/pending_file_<platform>.cpp behind
// fs/pending_file_platform.h; what every implementation guarantees:
//
// PendingFile, the file that becomes TARGET:
// - create(target) opens a new, empty file for reading and writing on the
//   volume of `target`, in its folder. Where the system allows it the file
//   has no name of its own and vanishes with the process, whatever ends it
//   (Linux: O_TMPFILE, named by linkat at commit; Windows: a file marked for
//   deletion that commit un-marks and renames). Elsewhere it is named
//   "NAME.tmp-PID-HOST-RANDOM" beside the target (NAME the target's file
//   name, PID the owning process, HOST eight hex digits naming this
//   computer), and removeOrphanedTemporaries() takes it away at the next run.
//   create() calls removeOrphanedTemporaries() on the target's folder first.
// - Nothing appears at `target` before commit(). commit() puts the data on
//   stable storage and gives the file the target's name in one step. With
//   replaceExisting false an existing target is never touched: commit fails
//   with "The file TARGET already exists.". With replaceExisting true the
//   old file is replaced atomically. After commit, successful or not, the
//   object is closed and nothing of a failed commit remains.
// - discard(), close() and the destructor of an uncommitted file remove it.
// - check() fails when the file could no longer be committed (its folder was
//   removed or renamed, its temporary name deleted), so that a long write
//   can stop early instead of failing at the end.
// - Every failure names the target, never a temporary name:
//   "The file TARGET could not be written: No space left on device." A full
//   disk or quota has the number err::kDiskFull.
//
// ScratchFile, working storage of one write (a writer's spill):
// - create(target) opens a new, empty file beside `target` (so it uses the
//   target's volume) that has no name while it is used: O_TMPFILE, or created
//   and unlinked at once (POSIX), or delete-on-close (Windows). Its name, if
//   it ever has one, is "NAME.spill-PID-HOST-RANDOM", which
//   removeOrphanedTemporaries() recognises.
// - It is gone when closed or destroyed, and when the process ends.
// - Failures name the target, as above.
class PendingFile final : public FileSink {
public:
    struct Impl;
    ~PendingFile() override;
    static Result<std::unique_ptr<PendingFile>> create(const std::string& target);

    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override;
    // Closes without committing: the same as discard().
    Status close() override;
    // On Linux, sync_file_range's start of write-out, and every 16 MiB of
    // it an fdatasync on a thread of the file's own (a failure of which
    // commit tells); elsewhere nothing.
    void startWriteback(uint64_t offset, uint64_t size) override;
    Status check() const;
    Status commit(bool replaceExisting);
    void discard();
    const std::string& target() const;
    // True when the file has no name of its own (it cannot outlive the
    // process); false for the named form.
    bool nameless() const;

private:
    explicit PendingFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class ScratchFile final : public FileSink {
public:
    struct Impl;
    ~ScratchFile() override;
    static Result<std::unique_ptr<ScratchFile>> create(const std::string& target);

    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override { return {}; }
    Status close() override;

private:
    explicit ScratchFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Removes from `folder` the temporary files of the named forms above
// ("NAME.tmp-PID-HOST-RANDOM", "NAME.spill-PID-HOST-RANDOM") whose owner was
// a process of this computer that no longer runs. Files of other computers
// (a shared folder) and of running processes are left alone. Returns how
// many were removed.
size_t removeOrphanedTemporaries(const std::string& folder);

// Only for tests: makes create() use the named forms even where the system
// offers nameless files, as on a file system without them.
void forceNamedTemporariesForTesting(bool on);

bool pathExists(const std::string& path);
// The path as the system resolves it against the current folder: on Windows
// GetFullPathNameW ("/" becomes "\", "." and ".." are resolved, a relative
// path gets the current folder in front); on POSIX systems the path
// unchanged, as relative paths work there as they are.
std::string systemFullPath(const std::string& path);
// Renames `from` to `to`. With noReplace, an existing `to` makes it fail
// and nothing changes.
Status renameFile(const std::string& from, const std::string& to, bool noReplace);
Status removeFile(const std::string& path);
// A description of an errno value for a file: "The file X could not be
// written: No space left on device."
Error ioError(int errnum, const std::string& what, const std::string& path);
// The same for a Windows system error code: "The file X could not be
// written: There is not enough space on the disk." Numbers as ioError gives
// them for the same condition (a full disk is err::kDiskFull, a file held
// by another program err::kAccessDenied).
Error windowsIoError(int32_t windowsCode, const std::string& what, const std::string& path);

}  // namespace tavrin::fs
