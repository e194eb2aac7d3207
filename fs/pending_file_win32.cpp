// PendingFile and ScratchFile on Windows. Windows has no nameless files, so
// both are made beside the target under the recognisable temporary names
// (pending_file.cpp), and the system takes them away when the process ends:
//   - a scratch file is opened with FILE_FLAG_DELETE_ON_CLOSE;
//   - a pending file is marked for deletion (FileDispositionInfo) right
//     after it is made: it goes when its handle closes, however the process
//     ends. Commit takes the mark away, puts the data on the disk and
//     renames it with MoveFileExW (MOVEFILE_REPLACE_EXISTING when replacing:
//     the target is then always either the old file or the new one), with
//     MOVEFILE_WRITE_THROUGH. Where a file system refuses the mark (some
//     network shares), the file keeps its name and removeOrphanedTemporaries
//     takes it away at the next run once its process is gone.
#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "fs/file_io.h"
#include "fs/pending_file_platform.h"
#include "fs/win32_path.h"

namespace tavrin::fs {
namespace detail {

int64_t currentProcessId() { return static_cast<int64_t>(GetCurrentProcessId()); }

bool processRunning(int64_t pid) {
    if (pid <= 0 || pid > 0xFFFFFFFFll) return true;  // not a process id: never taken for a dead owner
    const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process; denied means it runs
    DWORD code = 0;
    const bool running = !GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

std::string hostName() {
    wchar_t name[256] = {};
    DWORD size = 255;
    if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size)) return {};
    return win32::narrow(std::wstring_view(name, size));
}

}  // namespace detail

namespace {

int32_t lastError() { return static_cast<int32_t>(GetLastError()); }

// Creates "FOLDER\NAME.KIND-..." exclusively; INVALID_HANDLE_VALUE with the
// error code in `code`.
HANDLE createNamed(const std::string& target, const char* kind, DWORD flags, std::string& made, int32_t& code) {
    const std::string folder = detail::folderOf(target);
    const std::string base = detail::fileNameOf(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = detail::temporaryName(base, kind);
        made = folder == "." ? name : folder + (folder.back() == '\\' ? "" : "\\") + name;
        const HANDLE h = CreateFileW(win32::extendedPath(made).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, flags, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        code = lastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return h;
    }
    code = ERROR_FILE_EXISTS;
    return INVALID_HANDLE_VALUE;
}

// True while `name` still names the open file `h` (neither removed, nor
// marked for deletion by someone else, nor replaced).
bool stillNamed(HANDLE h, const std::string& name) {
    const HANDLE other = CreateFileW(win32::extendedPath(name).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const bool same = GetFileInformationByHandle(h, &a) && GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                      a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

bool markForDeletion(HANDLE h, bool on) {
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = on ? TRUE : FALSE;
    return SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
}

}  // namespace

// ---- PendingFile ----

struct PendingFile::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string target, folder;
    std::string named;     // the temporary name
    bool marked = false;   // marked for deletion: gone with its handle

    ~Impl() { discard(); }
    void discard() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);  // a marked file goes with it
        handle = INVALID_HANDLE_VALUE;
        if (!named.empty() && !marked) DeleteFileW(win32::extendedPath(named).c_str());
        named.clear();
        marked = false;
    }
};

PendingFile::PendingFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PendingFile::~PendingFile() = default;

Result<std::unique_ptr<PendingFile>> PendingFile::create(const std::string& target) {
    auto impl = std::make_unique<Impl>();
    impl->target = target;
    impl->folder = detail::folderOf(target);
    (void)removeOrphanedTemporaries(impl->folder);
    int32_t code = 0;
    impl->handle = createNamed(target, "tmp", FILE_ATTRIBUTE_NORMAL, impl->named, code);
    if (impl->handle == INVALID_HANDLE_VALUE) {
        impl->named.clear();
        return windowsIoError(code == ERROR_FILE_EXISTS ? ERROR_GEN_FAILURE : code, "created", target);
    }
    impl->marked = !detail::namedTemporariesForced() && markForDeletion(impl->handle, true);
    return std::unique_ptr<PendingFile>(new PendingFile(std::move(impl)));
}

Status PendingFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    return win32::writeAt(impl_->handle, offset, data, impl_->target);
}
Status PendingFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    size_t got = 0;
    return win32::readAt(impl_->handle, offset, buf, impl_->target, got);
}
Status PendingFile::flush() {
    if (impl_->handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(impl_->handle))
        return windowsIoError(lastError(), "written", impl_->target);
    return {};
}
Status PendingFile::close() {
    discard();
    return {};
}
void PendingFile::discard() { impl_->discard(); }
const std::string& PendingFile::target() const { return impl_->target; }
bool PendingFile::nameless() const { return impl_->marked; }

Status PendingFile::check() const {
    const Impl& m = *impl_;
    if (m.handle == INVALID_HANDLE_VALUE) return Error(err::kInvalidParameter, "The file " + m.target + " is closed.");
    const DWORD attributes = GetFileAttributesW(win32::extendedPath(m.folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return windowsIoError(lastError(), "created", m.target);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return windowsIoError(ERROR_PATH_NOT_FOUND, "created", m.target);
    // The temporary name was taken away (or its folder moved).
    if (!m.marked && !stillNamed(m.handle, m.named)) return windowsIoError(ERROR_FILE_NOT_FOUND, "created", m.target);
    return {};
}

Status PendingFile::commit(bool replaceExisting) {
    Impl& m = *impl_;
    if (m.handle == INVALID_HANDLE_VALUE) return Error(err::kInvalidParameter, "The file " + m.target + " is closed.");
    Status result;
    if (!FlushFileBuffers(m.handle)) result = windowsIoError(lastError(), "written", m.target);
    if (result.ok() && !m.marked && !stillNamed(m.handle, m.named))
        result = windowsIoError(ERROR_FILE_NOT_FOUND, "created", m.target);
    if (result.ok() && m.marked) {
        if (!markForDeletion(m.handle, false)) result = windowsIoError(lastError(), "written", m.target);
        else m.marked = false;
    }
    if (result.ok()) {
        // The handle shares deletion, so the open file can be renamed.
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
        if (!MoveFileExW(win32::extendedPath(m.named).c_str(), win32::extendedPath(m.target).c_str(), flags))
            result = windowsIoError(lastError(), "created", m.target);
        else
            m.named.clear();  // it is the target now
    }
    m.discard();
    return result;
}

// ---- ScratchFile ----

struct ScratchFile::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string target;
    ~Impl() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

ScratchFile::ScratchFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ScratchFile::~ScratchFile() = default;

Result<std::unique_ptr<ScratchFile>> ScratchFile::create(const std::string& target) {
    auto impl = std::make_unique<Impl>();
    impl->target = target;
    std::string made;
    int32_t code = 0;
    impl->handle =
        createNamed(target, "spill", FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, made, code);
    if (impl->handle == INVALID_HANDLE_VALUE)
        return windowsIoError(code == ERROR_FILE_EXISTS ? ERROR_GEN_FAILURE : code, "created", target);
    return std::unique_ptr<ScratchFile>(new ScratchFile(std::move(impl)));
}

Status ScratchFile::writeAt(uint64_t offset, std::span<const uint8_t> data) {
    return win32::writeAt(impl_->handle, offset, data, impl_->target);
}
Status ScratchFile::readAt(uint64_t offset, std::span<uint8_t> buf) {
    size_t got = 0;
    return win32::readAt(impl_->handle, offset, buf, impl_->target, got);
}
Status ScratchFile::close() {
    if (impl_->handle != INVALID_HANDLE_VALUE) CloseHandle(impl_->handle);
    impl_->handle = INVALID_HANDLE_VALUE;
    return {};
}

}  // namespace tavrin::fs

#endif  // _WIN32
