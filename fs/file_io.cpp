// The parts of file access that do not touch the system: whole-file reads
// and the failing sink for tests. The system calls are in file_io_posix.cpp
// and file_io_win32.cpp.
#include "fs/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "fs/folder_identity.h"

namespace tavrin::fs {
namespace {

int32_t numberFor(int errnum) {
    switch (errnum) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
            return err::kDiskFull;
        case EFBIG: return err::kTooBig;  // larger than the file system or a limit allows (FAT32: 4 GiB)
        case EACCES: case EPERM: case EROFS: return err::kAccessDenied;
        case ENOENT: case ENOTDIR: return err::kFileNotFound;
        case EEXIST: return err::kFileExists;
        case ENOMEM: return err::kNoMemory;
        default: return err::kIo;
    }
}

}  // namespace

Error ioError(int errnum, const std::string& what, const std::string& path) {
    if (errnum == EEXIST) return Error(err::kFileExists, "The file " + path + " already exists.");
    return Error(numberFor(errnum), "The file " + path + " could not be " + what + ": " + std::strerror(errnum) + ".");
}

Error windowsIoError(int32_t code, const std::string& what, const std::string& path) {
    int32_t number = err::kIo;
    switch (code) {
        case 39: case 112: number = err::kDiskFull; break;  // ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL
        case 80: case 183: return Error(err::kFileExists, "The file " + path + " already exists.");
        case 2: case 3: number = err::kFileNotFound; break;
        case 5: case 19: case 32: case 33: number = err::kAccessDenied; break;  // denied, write-protected, in use
        case 8: case 14: number = err::kNoMemory; break;
        default: break;
    }
    return Error(number, "The file " + path + " could not be " + what + ": " + systemErrorText(code));
}

Result<std::vector<uint8_t>> InputFile::readAll(uint64_t limit) const {
    if (size_ > limit) return Error(err::kTooBig, "The file " + path_ + " is too large.");
    std::vector<uint8_t> data(static_cast<size_t>(size_));
    if (auto s = readAt(0, data); !s) return std::move(s).take();
    return data;
}

Result<std::vector<uint8_t>> readFile(const std::string& path, uint64_t limit) {
    auto f = InputFile::open(path);
    if (!f) return std::move(f).error();
    return f->readAll(limit);
}

Status FailingSink::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    if (written_ + data.size() > budget_) {
        written_ = budget_;
        return Error(err::kDiskFull, "The file could not be written: No space left on device.");
    }
    if (data_.size() < offset + data.size()) data_.resize(static_cast<size_t>(offset + data.size()));
    std::copy(data.begin(), data.end(), data_.begin() + static_cast<ptrdiff_t>(offset));
    written_ += data.size();
    return {};
}

Status FailingSink::readAt(uint64_t offset, std::span<uint8_t> buf) {
    for (size_t i = 0; i < buf.size(); ++i)
        buf[i] = offset + i < data_.size() ? data_[static_cast<size_t>(offset + i)] : 0;
    return {};
}

}  // namespace tavrin::fs
