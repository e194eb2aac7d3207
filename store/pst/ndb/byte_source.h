// Where the PST reader gets its bytes: a file opened read-only or a buffer
// in memory (tests, the fuzz target). PST files can exceed 4 GiB, so the
// reader reads by offset and never loads a whole file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/bytes.h"

namespace tavrin::pst::ndb {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly out.size() bytes at `offset`; a range past the end is an
    // error.
    virtual Status readAt(uint64_t offset, store::MutableByteSpan out) const = 0;
    // A name for messages (the file's path, or "memory").
    virtual std::string name() const = 0;
};

// A file opened read-only.
class FileSource final : public ByteSource {
public:
    static Result<std::unique_ptr<FileSource>> open(const std::string& path);
    uint64_t size() const override { return file_.size(); }
    Status readAt(uint64_t offset, store::MutableByteSpan out) const override;
    std::string name() const override { return file_.path(); }

private:
    explicit FileSource(fs::InputFile f) : file_(std::move(f)) {}
    fs::InputFile file_;
};

// Bytes in memory, owned or borrowed.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(store::Bytes data) : owned_(std::move(data)), view_(owned_) {}
    // Borrows `data`, which must outlive the source.
    static std::unique_ptr<MemorySource> borrow(store::ByteSpan data) {
        auto m = std::unique_ptr<MemorySource>(new MemorySource());
        m->view_ = data;
        return m;
    }
    uint64_t size() const override { return view_.size(); }
    Status readAt(uint64_t offset, store::MutableByteSpan out) const override;
    std::string name() const override { return "memory"; }

private:
    MemorySource() = default;
    store::Bytes owned_;
    store::ByteSpan view_;
};

}  // namespace tavrin::pst::ndb
