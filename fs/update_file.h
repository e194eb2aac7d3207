// An existing file changed in place: a PST that messages are added to.
//
// The file is opened for reading and writing by this program alone, so that
// two programs never change it at once:
// - Windows: CreateFileW without FILE_SHARE_WRITE. A file another program
//   holds open for writing (Outlook keeps its data files open so) cannot be
//   opened, and while we hold it no other program can open it for writing;
//   readers that share writing can still read it.
// - POSIX systems: an advisory lock (flock, exclusive) taken at once or not
//   at all. Every program of ours that changes a file takes it, so two of
//   them never change one file at once; programs that ignore advisory locks
//   are not kept out.
// A file held by another program fails with err::kFileInUse and the file
// is left as it was.
//
// Nothing is written until the caller writes; opening, reading and closing
// change nothing of the file (not even its time stamps).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"

namespace tavrin::fs {

// A file read and written at offsets, whose length is known and can be set.
class RandomAccessFile : public FileSink {
public:
    virtual uint64_t size() const = 0;
    // Sets the length: cuts the file, or extends it with zeros.
    virtual Status truncate(uint64_t size) = 0;
    // For messages: the path, or a name.
    virtual const std::string& name() const = 0;
};

class UpdateFile final : public RandomAccessFile {
public:
    ~UpdateFile() override;
    // Opens an existing regular file. Fails with err::kFileNotFound when
    // there is none, err::kAccessDenied when it may not be written, and
    // err::kFileInUse when another program holds it.
    static Result<std::unique_ptr<UpdateFile>> open(const std::string& path);

    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override;  // everything written is on stable storage
    Status close() override;  // also gives the file up for other programs
    uint64_t size() const override { return size_; }
    Status truncate(uint64_t size) override;
    const std::string& name() const override { return path_; }

private:
    UpdateFile(intptr_t handle, std::string path, uint64_t size) : handle_(handle), path_(std::move(path)), size_(size) {}
    intptr_t handle_ = kNoHandle;
    std::string path_;
    uint64_t size_ = 0;
};

// A file in memory, for tests: `beforeWrite` (when set) sees every write,
// truncate and flush first and may fail it, as a full disk or a dead
// process would.
class MemoryFile final : public RandomAccessFile {
public:
    enum class Op { Write, Truncate, Flush };
    using Hook = std::function<Status(Op op, uint64_t offset, size_t size)>;

    explicit MemoryFile(std::vector<uint8_t> bytes = {}, std::string name = "memory")
        : bytes_(std::move(bytes)), name_(std::move(name)) {}
    Status writeAt(uint64_t offset, std::span<const uint8_t> data) override;
    Status readAt(uint64_t offset, std::span<uint8_t> buf) override;
    Status flush() override { return beforeWrite ? beforeWrite(Op::Flush, 0, 0) : Status(); }
    Status close() override { return {}; }
    uint64_t size() const override { return bytes_.size(); }
    Status truncate(uint64_t size) override;
    const std::string& name() const override { return name_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    Hook beforeWrite;

private:
    std::vector<uint8_t> bytes_;
    std::string name_;
};

}  // namespace tavrin::fs
