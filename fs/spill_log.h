// An append-only log of byte records for runs over millions of items (the
// record of every file a conversion found): the first bytes are kept in
// memory, the rest go into a scratch file in the system's temporary folder
// that has no name and vanishes with the process. Where no such file can be
// made, or writing to it fails, everything from there on stays in memory.
//
// Records are never changed where they are: an offset returned by append
// names the same record for the life of the log, so that several readers
// (copies of a list that share the log) each keep their own view of it.
// Reading a record back can fail (the scratch file cannot be read); the
// failure is returned, never a blank record.
//
// Not for concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"

namespace tavrin::fs {

class SpillLog {
public:
    // Up to `keepInMemory` bytes wait in memory before they are written to
    // the scratch file.
    explicit SpillLog(size_t keepInMemory = size_t(1) << 20);
    ~SpillLog();
    SpillLog(const SpillLog&) = delete;
    SpillLog& operator=(const SpillLog&) = delete;

    // Appends one record; returns where it starts.
    uint64_t append(std::string_view record);
    // Where the next record will start (the bytes held).
    uint64_t end() const { return flushed_ + tail_.size(); }
    // The record that starts at `at` (an offset append returned); `next` is
    // where the one after it starts. Fails when the record would run past
    // the end of the log, and when the scratch file cannot be read back.
    Result<std::string> read(uint64_t at, uint64_t& next) const;
    // Where the record after the one at `at` starts, without reading it.
    Result<uint64_t> next(uint64_t at) const;

private:
    Result<uint32_t> length(uint64_t at) const;
    Status bytes(uint64_t at, size_t n, const uint8_t*& out) const;
    void spill();

    size_t keepInMemory_;
    std::vector<uint8_t> tail_;  // the bytes from flushed_ on
    uint64_t flushed_ = 0;       // bytes in the scratch file
    bool inMemory_ = false;      // no (more) spilling: everything new stays in tail_
    std::unique_ptr<ScratchFile> file_;
    mutable std::vector<uint8_t> window_;  // the last bytes read back from the file
    mutable uint64_t windowAt_ = 0;
};

}  // namespace tavrin::fs
