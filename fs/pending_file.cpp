// The platform-independent part of PendingFile and ScratchFile: the names
// of temporary files that must be recognisable by their owner, and the
// removal of those whose owner is gone.
#include <atomic>
#include <cstdio>
#include <random>

#include "fs/file_io.h"
#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/pending_file_platform.h"

namespace tavrin::fs {
namespace detail {
namespace {

std::atomic<bool> gForceNamed{false};

bool isSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == kPathSeparator;
#endif
}

bool allOf(const std::string& s, size_t from, size_t to, bool (*pred)(char)) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i)
        if (!pred(s[i])) return false;
    return true;
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); }

}  // namespace

const std::string& hostTag() {
    static const std::string tag = [] {
        // FNV-1a over the computer's name.
        uint32_t h = 2166136261u;
        for (unsigned char c : hostName()) {
            h ^= c;
            h *= 16777619u;
        }
        char b[9];
        std::snprintf(b, sizeof b, "%08x", h);
        return std::string(b);
    }();
    return tag;
}

std::string temporaryName(const std::string& targetName, const char* kind) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    char b[64];
    std::snprintf(b, sizeof b, ".%s-%lld-%s-%08x", kind, static_cast<long long>(currentProcessId()),
                  hostTag().c_str(), static_cast<unsigned>(rng()));
    return targetName + b;
}

bool parseTemporaryName(const std::string& name, int64_t& pid, std::string& host) {
    // From the end: "-" 8 hex, "-" 8 hex, "-" digits, then ".tmp" or ".spill".
    if (name.size() < 2 * 9 + 2) return false;
    const size_t randomAt = name.size() - 8;
    const size_t hostAt = randomAt - 9;
    if (name[randomAt - 1] != '-' || name[hostAt - 1] != '-') return false;
    if (!allOf(name, randomAt, name.size(), isHex) || !allOf(name, hostAt, hostAt + 8, isHex)) return false;
    const size_t pidEnd = hostAt - 1;
    size_t pidAt = pidEnd;
    while (pidAt > 0 && isDigit(name[pidAt - 1]) && pidEnd - pidAt < 19) --pidAt;
    if (pidAt == pidEnd || pidAt == 0 || name[pidAt - 1] != '-') return false;
    const std::string head = name.substr(0, pidAt - 1);
    auto endsWith = [&](const char* t) {
        const std::string s(t);
        return head.size() > s.size() && head.compare(head.size() - s.size(), s.size(), s) == 0;
    };
    if (!endsWith(".tmp") && !endsWith(".spill")) return false;
    pid = std::stoll(name.substr(pidAt, pidEnd - pidAt));
    host = name.substr(hostAt, 8);
    return true;
}

std::string folderOf(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
    if (cut == 0) return ".";
    std::string folder = path.substr(0, cut);
    // Keep the separator of a root ("/", "D:\"); drop it elsewhere.
    if (folder.size() > 1 && !(folder.size() == 3 && folder[1] == ':')) folder.pop_back();
    return folder;
}

std::string fileNameOf(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !isSeparator(path[cut - 1])) --cut;
    return path.substr(cut);
}

bool namedTemporariesForced() { return gForceNamed.load(); }

}  // namespace detail

void forceNamedTemporariesForTesting(bool on) { detail::gForceNamed.store(on); }

size_t removeOrphanedTemporaries(const std::string& folder) {
    std::string prefix = folder.empty() ? std::string(".") : folder;
    if (prefix.back() != kPathSeparator) prefix.append(1, kPathSeparator);
    const int64_t self = detail::currentProcessId();
    std::vector<std::string> gone;
    FileEntry e;
    if (FindFirstEntry(prefix + "*", e) > 0) {
        // A folder holds a bounded number of entries; the bound only guards
        // against a file system that never reports the end.
        size_t seen = 0;
        do {
            if (e.Attributes & kAttrDirectory) continue;
            int64_t pid = 0;
            std::string host;
            if (!detail::parseTemporaryName(e.Name, pid, host)) continue;
            if (host != detail::hostTag() || pid == self || detail::processRunning(pid)) continue;
            gone.push_back(prefix + e.Name);
        } while (++seen < (size_t(1) << 24) && FindNextEntry(e) != 0);
        EndFind(e);
    }
    size_t removed = 0;
    for (const std::string& p : gone) removed += removeFile(p).ok();
    return removed;
}

#ifndef __linux__
// Only Linux has a call to start write-out of a range (sync_file_range).
void PendingFile::startWriteback(uint64_t, uint64_t) {}
#endif

}  // namespace tavrin::fs
