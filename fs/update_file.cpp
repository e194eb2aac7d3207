// The part of UpdateFile that does not touch the system: the file in memory
// for tests. The system calls are in update_file_posix.cpp and
// update_file_win32.cpp.
#include "fs/update_file.h"

#include <algorithm>
#include <cstring>

namespace tavrin::fs {

Status MemoryFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    if (beforeWrite)
        if (auto s = beforeWrite(Op::Write, offset, data.size()); !s) return s;
    if (offset + data.size() > bytes_.size()) bytes_.resize(static_cast<size_t>(offset + data.size()), 0);
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<ptrdiff_t>(offset));
    return {};
}

Status MemoryFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    if (offset > bytes_.size() || buf.size() > bytes_.size() - offset)
        return Error(err::kCorrupt, "The file " + name_ + " ends unexpectedly.");
    std::memcpy(buf.data(), bytes_.data() + offset, buf.size());
    return {};
}

Status MemoryFile::truncate(uint64_t size) {
    if (beforeWrite)
        if (auto s = beforeWrite(Op::Truncate, size, 0); !s) return s;
    bytes_.resize(static_cast<size_t>(size), 0);
    return {};
}

}  // namespace tavrin::fs
