// The append-only log: a length prefix (4 bytes, little-endian) before each
// record; the bytes before flushed_ are in the scratch file, the rest in
// memory.
#include "fs/spill_log.h"

#include <algorithm>
#include <filesystem>

namespace tavrin::fs {

namespace {

constexpr size_t kWindow = size_t(64) << 10;  // bytes read back from the file at a time

Error beyondTheEnd(uint64_t at) {
    return Error(err::kCorrupt, "No record of the log starts at byte " + std::to_string(at) + ".");
}

}  // namespace

SpillLog::SpillLog(size_t keepInMemory) : keepInMemory_(keepInMemory) {}
SpillLog::~SpillLog() = default;

uint64_t SpillLog::append(std::string_view record) {
    const uint64_t at = end();
    const uint32_t n = static_cast<uint32_t>(record.size());
    for (int k = 0; k < 4; ++k) tail_.push_back(static_cast<uint8_t>(n >> (8 * k)));
    tail_.insert(tail_.end(), record.begin(), record.end());
    if (tail_.size() >= keepInMemory_ && !inMemory_) spill();
    return at;
}

void SpillLog::spill() {
    if (!file_) {
        std::error_code ec;
        const auto dir = std::filesystem::temp_directory_path(ec);
        auto f = ec ? Result<std::unique_ptr<ScratchFile>>(Error(err::kNotFound, "There is no temporary folder."))
                    : ScratchFile::create((dir / "tavrin-log").string());
        if (!f) {
            inMemory_ = true;  // no scratch file here: everything stays in memory
            return;
        }
        file_ = std::move(*f);
    }
    if (!file_->writeAt(flushed_, tail_).ok()) {
        inMemory_ = true;  // what was written stays readable; the rest stays here
        return;
    }
    flushed_ += tail_.size();
    tail_.clear();
}

// `n` bytes at `at`, valid until the next read.
Status SpillLog::bytes(uint64_t at, size_t n, const uint8_t*& out) const {
    if (at >= flushed_) {
        const uint64_t off = at - flushed_;
        if (off > tail_.size() || tail_.size() - off < n) return beyondTheEnd(at);
        out = tail_.data() + off;
        return {};
    }
    if (at + n > flushed_) return beyondTheEnd(at);  // a record never straddles the file's end
    if (at < windowAt_ || at + n > windowAt_ + window_.size()) {
        window_.resize(static_cast<size_t>(std::min<uint64_t>(std::max(n, kWindow), flushed_ - at)));
        windowAt_ = at;
        if (Status s = file_->readAt(at, window_); !s) {
            window_.clear();
            return s;
        }
    }
    out = window_.data() + (at - windowAt_);
    return {};
}

Result<uint32_t> SpillLog::length(uint64_t at) const {
    const uint8_t* p = nullptr;
    if (Status s = bytes(at, 4, p); !s) return std::move(s).take();
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

Result<std::string> SpillLog::read(uint64_t at, uint64_t& next) const {
    auto n = length(at);
    if (!n) return std::move(n).error();
    const uint8_t* p = nullptr;
    if (Status s = bytes(at + 4, *n, p); !s) return std::move(s).take();
    next = at + 4 + *n;
    return std::string(reinterpret_cast<const char*>(p), *n);
}

Result<uint64_t> SpillLog::next(uint64_t at) const {
    auto n = length(at);
    if (!n) return std::move(n).error();
    if (end() - at - 4 < *n) return beyondTheEnd(at);
    return at + 4 + *n;
}

}  // namespace tavrin::fs
