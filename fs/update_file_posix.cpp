// UpdateFile on POSIX systems: a descriptor opened read-write, an exclusive
// flock taken without waiting, pread/pwrite, fsync and ftruncate.
#ifndef _WIN32

#include "fs/update_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrin::fs {

namespace {
int fdOf(intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

UpdateFile::~UpdateFile() { (void)close(); }

Result<std::unique_ptr<UpdateFile>> UpdateFile::open(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EISDIR) return Error(err::kInvalidParameter, "The file " + path + " is not a regular file.");
        return ioError(errno, "opened", path);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return ioError(e, "read", path);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Error(err::kInvalidParameter, "The file " + path + " is not a regular file.");
    }
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    int r;
    do r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) return Error(err::kFileInUse, "The file " + path + " is open in another program.");
        return ioError(e, "opened", path);
    }
    return std::unique_ptr<UpdateFile>(new UpdateFile(fd, path, static_cast<uint64_t>(st.st_size)));
}

Status UpdateFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    if (handle_ < 0) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fdOf(handle_), data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "written", path_);
        }
        if (n == 0) return ioError(ENOSPC, "written", path_);
        done += static_cast<size_t>(n);
    }
    if (offset + data.size() > size_) size_ = offset + data.size();
    return {};
}

Status UpdateFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    if (handle_ < 0) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n = ::pread(fdOf(handle_), buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "read", path_);
        }
        if (n == 0) return Error(err::kCorrupt, "The file " + path_ + " ends unexpectedly.");
        done += static_cast<size_t>(n);
    }
    return {};
}

Status UpdateFile::flush() {
    if (handle_ >= 0 && ::fsync(fdOf(handle_)) != 0) return ioError(errno, "written", path_);
    return {};
}

Status UpdateFile::truncate(uint64_t size) {
    if (handle_ < 0) return Error(err::kInvalidParameter, "The file " + path_ + " is closed.");
    int r;
    do r = ::ftruncate(fdOf(handle_), static_cast<off_t>(size));
    while (r != 0 && errno == EINTR);
    if (r != 0) return ioError(errno, "written", path_);
    size_ = size;
    return {};
}

Status UpdateFile::close() {
    if (handle_ < 0) return {};
    const int fd = fdOf(handle_);
    handle_ = kNoHandle;
    // Closing the descriptor releases the lock.
    if (::close(fd) != 0) return ioError(errno, "written", path_);
    return {};
}

}  // namespace tavrin::fs

#endif  // !_WIN32
