// File access on POSIX systems: descriptors, pread/pwrite, fsync, and
// link() for a rename that never replaces.
#ifndef _WIN32

#include "fs/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tavrin::fs {
namespace {

int fdOf(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

InputFile::~InputFile() {
    if (handle_ >= 0) ::close(fdOf(handle_));
}
InputFile::InputFile(InputFile&& o) noexcept : handle_(o.handle_), size_(o.size_), path_(std::move(o.path_)) { o.handle_ = -1; }
InputFile& InputFile::operator=(InputFile&& o) noexcept {
    if (this != &o) {
        if (handle_ >= 0) ::close(fdOf(handle_));
        handle_ = o.handle_;
        size_ = o.size_;
        path_ = std::move(o.path_);
        o.handle_ = -1;
    }
    return *this;
}

Result<InputFile> InputFile::open(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return ioError(errno, "opened", path);
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
    // O_NONBLOCK only keeps open() from hanging on a FIFO that slipped past
    // the check above; a regular file's reads ignore it (readAt clears it
    // should a file system say otherwise), so it costs no further calls.
    InputFile f;
    f.handle_ = fd;
    f.size_ = static_cast<uint64_t>(st.st_size);
    f.path_ = path;
    return f;
}

Status InputFile::readAt(uint64_t offset, std::span<uint8_t> buf) const {
    if (handle_ < 0) return Error(err::kInvalidParameter, "The file is not open.");
    size_t done = 0;
    bool blocking = false;
    while (done < buf.size()) {
        const ssize_t n = ::pread(fdOf(handle_), buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && !blocking) {
                blocking = true;
                const int fl = ::fcntl(fdOf(handle_), F_GETFL);
                if (fl >= 0 && ::fcntl(fdOf(handle_), F_SETFL, fl & ~O_NONBLOCK) == 0) continue;
                errno = EAGAIN;
            }
            return ioError(errno, "read", path_);
        }
        if (n == 0) return Error(err::kCorrupt, "The file " + path_ + " ends unexpectedly.");
        done += static_cast<size_t>(n);
    }
    return {};
}

OutputFile::~OutputFile() {
    if (handle_ >= 0) ::close(fdOf(handle_));
}

Result<std::unique_ptr<OutputFile>> OutputFile::createNew(const std::string& path) {
    int fd;
    do fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return ioError(errno, "created", path);
    return std::unique_ptr<OutputFile>(new OutputFile(fd, path));
}

Status OutputFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
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
    return {};
}

Status OutputFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n = ::pread(fdOf(handle_), buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "read", path_);
        }
        if (n == 0) {  // never written: reads as zeros
            std::fill(buf.begin() + done, buf.end(), 0);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return {};
}

Status OutputFile::flush() {
    if (handle_ >= 0 && ::fsync(fdOf(handle_)) != 0) return ioError(errno, "written", path_);
    return {};
}

Status OutputFile::close() {
    if (handle_ < 0) return {};
    const int fd = fdOf(handle_);
    handle_ = -1;
    if (::close(fd) != 0) return ioError(errno, "written", path_);
    return {};
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string systemFullPath(const std::string& path) { return path; }

Status renameFile(const std::string& from, const std::string& to, bool noReplace) {
    if (noReplace) {
        // link() fails with EEXIST instead of replacing; then drop the old name.
        if (::link(from.c_str(), to.c_str()) != 0) {
            const int e = errno;
            if (e != EPERM && e != ENOSYS && e != EOPNOTSUPP) return ioError(e, "created", to);
            // File systems without hard links: check, then rename (a small race).
            if (pathExists(to)) return ioError(EEXIST, "created", to);
            if (::rename(from.c_str(), to.c_str()) != 0) return ioError(errno, "created", to);
            return {};
        }
        ::unlink(from.c_str());
        return {};
    }
    if (::rename(from.c_str(), to.c_str()) != 0) return ioError(errno, "created", to);
    return {};
}

Status removeFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return ioError(errno, "removed", path);
    return {};
}

}  // namespace tavrin::fs

#endif  // !_WIN32
