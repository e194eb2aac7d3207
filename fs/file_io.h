// File access for the readers and the writer.
//
// Source files are only ever opened read-only (InputFile). Output goes
// through the FileSink interface so that a writer can be tested against a
// sink that fails after N bytes, the way a full disk does. Errors come back
// as tavrin::Error with a description that names the file and the reason.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fs/result.h"

namespace tavrin::fs {

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
    bool isOpen() const { return fd_ >= 0; }

    // Reads exactly buf.size() bytes at `offset`; a short file is an error.
    Status readAt(uint64_t offset, std::span<uint8_t> buf) const;
    // Reads the whole file (refuses files larger than `limit`).
    Result<std::vector<uint8_t>> readAll(uint64_t limit = uint64_t(1) << 32) const;

private:
    int fd_ = -1;
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
    OutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_ = -1;
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

bool pathExists(const std::string& path);
// Renames `from` to `to`. With noReplace, an existing `to` makes it fail
// and nothing changes.
Status renameFile(const std::string& from, const std::string& to, bool noReplace);
Status removeFile(const std::string& path);
// A description of an errno value for a file: "The file X could not be
// written: No space left on device."
Error ioError(int errnum, const std::string& what, const std::string& path);

}  // namespace tavrin::fs
