// PendingFile and ScratchFile on POSIX systems. On Linux both are opened
// with O_TMPFILE in the target's folder, so they have no name until commit
// gives one with linkat; a process that dies, however, leaves nothing.
// Where O_TMPFILE is missing (other systems, file systems without it, no
// /proc to link through) the pending file is named after its owner and the
// scratch file is unlinked right after it is made.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "fs/file_io.h"
#include "fs/pending_file_platform.h"

namespace tavrin::fs {
namespace detail {

int64_t currentProcessId() { return static_cast<int64_t>(::getpid()); }

bool processRunning(int64_t pid) {
    if (pid <= 0 || pid > INT_MAX) return true;  // not a process id: never taken for a dead owner
    if (::kill(static_cast<pid_t>(pid), 0) == 0) return true;
    return errno != ESRCH;
}

std::string hostName() {
    char b[256] = {};
    if (::gethostname(b, sizeof b - 1) != 0) return {};
    return b;
}

}  // namespace detail

namespace {

int openRetry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A nameless file in `folder`, or -1 with errno. EOPNOTSUPP stands for "the
// system or the file system has no nameless files".
int openNameless(const std::string& folder) {
#ifdef O_TMPFILE
    if (detail::namedTemporariesForced()) {
        errno = EOPNOTSUPP;
        return -1;
    }
    // Linking a nameless file into place goes through /proc/self/fd.
    if (::access("/proc/self/fd", X_OK) != 0) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = openRetry(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    // Kernels without O_TMPFILE see O_DIRECTORY | O_RDWR: EISDIR.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) errno = EOPNOTSUPP;
    return -1;
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder == ".") return name;
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

// Creates "FOLDER/NAME.KIND-..." exclusively; -1 with errno.
int openNamed(const std::string& target, const char* kind, std::string& made) {
    const std::string folder = detail::folderOf(target);
    const std::string base = detail::fileNameOf(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        made = joinPath(folder, detail::temporaryName(base, kind));
        const int fd = openRetry(made.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

Status writeAll(int fd, uint64_t offset, std::span<const uint8_t> data, const std::string& target) {
    if (fd < 0) return Error(err::kInvalidParameter, "The file " + target + " is closed.");
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "written", target);
        }
        if (n == 0) return ioError(ENOSPC, "written", target);
        done += static_cast<size_t>(n);
    }
    return {};
}

Status readAll(int fd, uint64_t offset, std::span<uint8_t> buf, const std::string& target) {
    if (fd < 0) return Error(err::kInvalidParameter, "The file " + target + " is closed.");
    size_t done = 0;
    while (done < buf.size()) {
        const ssize_t n = ::pread(fd, buf.data() + done, buf.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return ioError(errno, "read", target);
        }
        if (n == 0) {  // never written: reads as zeros
            std::fill(buf.begin() + static_cast<ptrdiff_t>(done), buf.end(), 0);
            break;
        }
        done += static_cast<size_t>(n);
    }
    return {};
}

// The folder's own entry on stable storage after a name was added to it.
void syncFolder(const std::string& folder) {
    const int fd = openRetry(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

// ---- PendingFile ----

struct PendingFile::Impl {
    int fd = -1;
    std::string target, folder;
    std::string named;  // the temporary name of the named form; empty when nameless

    // What was written is put on stable storage (fdatasync) on a thread of
    // its own every kSyncEvery bytes whose write-out was started, so that
    // commit's fsync has little left to wait for: a disk, and the host of a
    // virtual one, may keep written data in a cache until it is flushed.
    // A failure is kept and told by commit (the system tells it only once).
    static constexpr uint64_t kSyncEvery = uint64_t(16) << 20;
    std::mutex syncMutex;
    std::condition_variable syncWanted;
    std::thread syncer;
    uint64_t startedBytes = 0;
    bool syncAsked = false, syncStop = false;
    int syncError = 0;

    ~Impl() { discard(); }
    void askSync(uint64_t bytes) {
        std::lock_guard<std::mutex> lock(syncMutex);
        startedBytes += bytes;
        if (startedBytes < kSyncEvery || syncStop) return;
        startedBytes = 0;
        syncAsked = true;
        if (syncer.joinable()) {
            syncWanted.notify_one();
            return;
        }
        try {
            syncer = std::thread([this] { syncLoop(); });
        } catch (const std::system_error&) {
            syncAsked = false;  // no thread: commit's fsync does it all
        }
    }
    void syncLoop() {
        std::unique_lock<std::mutex> lock(syncMutex);
        for (;;) {
            syncWanted.wait(lock, [&] { return syncAsked || syncStop; });
            if (syncStop) return;
            syncAsked = false;
            lock.unlock();
#ifdef __linux__
            const int r = ::fdatasync(fd);
#else
            const int r = ::fsync(fd);
#endif
            const int e = errno;
            lock.lock();
            if (r != 0 && syncError == 0) syncError = e;
        }
    }
    // Ends the thread; the failure it met, or 0.
    int stopSync() {
        std::thread t;
        {
            std::lock_guard<std::mutex> lock(syncMutex);
            syncStop = true;
            t = std::move(syncer);
        }
        syncWanted.notify_one();
        if (t.joinable()) t.join();
        return syncError;
    }
    void discard() {
        stopSync();
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (!named.empty()) ::unlink(named.c_str());
        named.clear();
    }
};

PendingFile::PendingFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PendingFile::~PendingFile() = default;

Result<std::unique_ptr<PendingFile>> PendingFile::create(const std::string& target) {
    auto impl = std::make_unique<Impl>();
    impl->target = target;
    impl->folder = detail::folderOf(target);
    (void)removeOrphanedTemporaries(impl->folder);
    impl->fd = openNameless(impl->folder);
    if (impl->fd < 0 && errno != EOPNOTSUPP) return ioError(errno, "created", target);
    if (impl->fd < 0) {
        impl->fd = openNamed(target, "tmp", impl->named);
        if (impl->fd < 0) {
            const int e = errno;
            impl->named.clear();
            return ioError(e == EEXIST ? EIO : e, "created", target);
        }
    }
    return std::unique_ptr<PendingFile>(new PendingFile(std::move(impl)));
}

Status PendingFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    return writeAll(impl_->fd, offset, data, impl_->target);
}
Status PendingFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    return readAll(impl_->fd, offset, buf, impl_->target);
}
Status PendingFile::flush() {
    if (impl_->fd >= 0 && ::fsync(impl_->fd) != 0) return ioError(errno, "written", impl_->target);
    return {};
}
#ifdef __linux__
void PendingFile::startWriteback(uint64_t offset, uint64_t size) {
    if (impl_->fd < 0 || size == 0) return;
    (void)::sync_file_range(impl_->fd, static_cast<off_t>(offset), static_cast<off_t>(size), SYNC_FILE_RANGE_WRITE);
    impl_->askSync(size);
}
#endif
Status PendingFile::close() {
    discard();
    return {};
}
void PendingFile::discard() { impl_->discard(); }
const std::string& PendingFile::target() const { return impl_->target; }
bool PendingFile::nameless() const { return impl_->named.empty(); }

Status PendingFile::check() const {
    const Impl& m = *impl_;
    if (m.fd < 0) return Error(err::kInvalidParameter, "The file " + m.target + " is closed.");
    struct stat st {};
    if (::stat(m.folder.c_str(), &st) != 0) return ioError(errno, "created", m.target);
    if (!S_ISDIR(st.st_mode)) return ioError(ENOTDIR, "created", m.target);
    if (!m.named.empty()) {
        // The temporary name was taken away (or its folder moved).
        if (::fstat(m.fd, &st) != 0) return ioError(errno, "written", m.target);
        if (st.st_nlink == 0 || ::access(m.named.c_str(), F_OK) != 0) return ioError(ENOENT, "created", m.target);
    }
    return {};
}

Status PendingFile::commit(bool replaceExisting) {
    Impl& m = *impl_;
    if (m.fd < 0) return Error(err::kInvalidParameter, "The file " + m.target + " is closed.");
    if (const int e = m.stopSync(); e != 0 || ::fsync(m.fd) != 0) {
        const int why = e != 0 ? e : errno;
        m.discard();
        return ioError(why, "written", m.target);
    }
    Status result;
    if (!m.named.empty()) {
        result = renameFile(m.named, m.target, !replaceExisting);
    } else {
        const std::string self = "/proc/self/fd/" + std::to_string(m.fd);
        auto linkTo = [&](const std::string& name) {
            return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        };
        if (!replaceExisting) {
            if (!linkTo(m.target)) result = ioError(errno, "created", m.target);
        } else {
            // Linked under an owner's name first, then renamed over the old
            // file: the target is always either the old file or the new one.
            std::string step;
            bool linked = false;
            int e = EEXIST;
            for (int attempt = 0; attempt < 16 && !linked && e == EEXIST; ++attempt) {
                step = joinPath(m.folder, detail::temporaryName(detail::fileNameOf(m.target), "tmp"));
                linked = linkTo(step);
                if (!linked) e = errno;
            }
            if (!linked) {
                result = ioError(e, "created", m.target);
            } else if (::rename(step.c_str(), m.target.c_str()) != 0) {
                result = ioError(errno, "created", m.target);
                ::unlink(step.c_str());
            }
        }
    }
    if (result.ok()) {
        m.named.clear();  // it is the target now
        syncFolder(m.folder);
    }
    m.discard();
    return result;
}

// ---- ScratchFile ----

struct ScratchFile::Impl {
    int fd = -1;
    std::string target;
    ~Impl() {
        if (fd >= 0) ::close(fd);
    }
};

ScratchFile::ScratchFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScratchFile::~ScratchFile() = default;

Result<std::unique_ptr<ScratchFile>> ScratchFile::create(const std::string& target) {
    auto impl = std::make_unique<Impl>();
    impl->target = target;
    impl->fd = openNameless(detail::folderOf(target));
    if (impl->fd < 0 && errno != EOPNOTSUPP) return ioError(errno, "created", target);
    if (impl->fd < 0) {
        std::string made;
        impl->fd = openNamed(target, "spill", made);
        if (impl->fd < 0) return ioError(errno == EEXIST ? EIO : errno, "created", target);
        // Nameless from here on; a crash before this line leaves a name
        // that removeOrphanedTemporaries recognises.
        ::unlink(made.c_str());
    }
    return std::unique_ptr<ScratchFile>(new ScratchFile(std::move(impl)));
}

Status ScratchFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    return writeAll(impl_->fd, offset, data, impl_->target);
}
Status ScratchFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    return readAll(impl_->fd, offset, buf, impl_->target);
}
Status ScratchFile::close() {
    if (impl_->fd >= 0) ::close(impl_->fd);
    impl_->fd = -1;
    return {};
}

}  // namespace tavrin::fs

#endif  // _WIN32
