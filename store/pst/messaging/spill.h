// A scratch file of record streams kept beside the output while it is
// written: what must wait for the end of the session (the rows of every
// folder's contents table, the node entries of the messages) goes here
// instead of staying in memory. Each stream gathers records in a small
// buffer and writes them out in chunks of whole records; all buffers
// together stay under a fixed budget.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/bytes.h"

namespace tavrin::pst::messaging {

class SpillFile {
public:
    explicit SpillFile(fs::FileSink& sink, size_t chunkSize = 64 * 1024, size_t budget = 4 * 1024 * 1024)
        : sink_(sink), chunk_(chunkSize), budget_(budget) {}

    uint32_t newStream();
    Status append(uint32_t stream, store::ByteSpan record);
    uint64_t records(uint32_t stream) const { return streams_[stream].count; }
    // Bytes appended so far over all streams, record headers included.
    uint64_t bytes() const { return end_ + buffered_; }

    // Reads a stream's records back in the order they were appended.
    class Reader {
    public:
        // True with the next record in `out`, false at the end.
        Result<bool> next(store::Bytes& out);

    private:
        friend class SpillFile;
        Reader(SpillFile& f, uint32_t s) : file_(f), stream_(s) {}
        Status load();
        SpillFile& file_;
        uint32_t stream_;
        size_t chunkIndex_ = 0;
        bool inTail_ = false;
        store::Bytes data_;
        size_t pos_ = 0;
    };
    Reader read(uint32_t stream) { return Reader(*this, stream); }

private:
    struct Stream {
        store::Bytes buffer;
        std::vector<std::pair<uint64_t, uint32_t>> chunks;  // offset, size
        uint64_t count = 0;
    };
    Status flush(Stream& s);

    fs::FileSink& sink_;
    size_t chunk_;
    size_t budget_;
    size_t buffered_ = 0;
    uint64_t end_ = 0;
    std::vector<Stream> streams_;
};

}  // namespace tavrin::pst::messaging
