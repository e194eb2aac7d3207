// Adding to a large store against converting into a new file: 1,000
// message files added (duplicates tested, as by default) to a store of
// 100,000 messages in 100 folders (over 1 GB), against the same 1,000
// converted into a new file, through the store operations. Also what the
// add writes (the process's write(2) bytes, /proc/self/io wchar) against the
// new file's size and the store's.
//
//   bench_add [--store N] [--add N] [--rounds R] [--keep] [WORKDIR]
//   bench_add --add-only WORKDIR   one add in this process (for profilers)
//
// The store is built once in WORKDIR (default: a temporary folder, removed
// afterwards unless --keep) and copied afresh for every round.
// Targets: add / new <= 1.5; bytes written by the add <= the new file's
// size + 1 % of the store.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fs/text.h"
#include "store/read_ahead.h"
#include "store/session.h"
#include "synthetic_msg.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

bench::MessageShape shapeOf(int n) {
    bench::MessageShape s;
    s.attachment = n % 3 == 0;
    s.binaryAttachment = s.attachment;
    s.bodyBytes = s.attachment ? 2800 : 4300;
    s.htmlBytes = s.attachment ? 2400 : 3900;
    return s;
}

std::vector<std::string> writeFiles(const fsys::path& dir, int count, uint64_t seed, int first) {
    std::error_code ec;
    if (fsys::exists(dir / ("m" + std::to_string(count - 1) + ".msg")) && !fsys::exists(dir / ("m" + std::to_string(count) + ".msg"))) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i) out.push_back((dir / ("m" + std::to_string(i) + ".msg")).string());
        return out;
    }
    fsys::remove_all(dir, ec);
    fsys::create_directories(dir);
    bench::Rng r{seed};
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        const Bytes b = bench::syntheticMessage(r, first + i, shapeOf(i));
        const fsys::path p = dir / ("m" + std::to_string(i) + ".msg");
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        out.push_back(p.string());
    }
    return out;
}

// A copy of the store, on the disk before the clock starts (so that the
// add's own flush does not write the copy out).
bool freshCopy(const fsys::path& from, const fsys::path& to) {
    std::error_code ec;
    fsys::remove(to, ec);
    if (!fsys::copy_file(from, to, ec)) return false;
    const int fd = ::open(to.c_str(), O_RDWR);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

uint64_t writtenBytes() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t v = 0;
    while (io >> key >> v)
        if (key == "wchar:") return v;
    return 0;
}

// Imports files[i] into folder (i * folders / count) of `store` ("F0", ...,
// created when missing).
bool importInto(const std::string& path, const std::vector<std::string>& files, int folders, const LogonOptions& options,
                size_t* present = nullptr) {
    RDOSession session;
    auto store = session.LogonPstStore(path, olStoreUnicode, "Bench", options);
    if (!store) {
        std::fprintf(stderr, "logon: %s\n", store.error().description.c_str());
        return false;
    }
    if (!(*store)->ValidateIPMTree()) return false;
    auto top = (*store)->IPMRootFolder();
    if (!top) return false;
    std::vector<std::shared_ptr<RDOFolder>> targets;
    for (int f = 0; f < folders; ++f) {
        const std::string name = "F" + std::to_string(f);
        auto found = session.GetFolderFromComponents((*store)->DisplayName(), {name});
        auto folder = found ? found : (*top)->Folders().Add(name);
        if (!folder) return false;
        targets.push_back(*folder);
    }
    ReadAheadOptions o;
    o.threads = defaultReadAheadThreads();
    MessageReadAhead reader(files.size(), [&](size_t i) { return files[i]; }, o);
    for (size_t i = 0; i < files.size(); ++i) {
        auto item = targets[i * static_cast<size_t>(folders) / files.size()]->Items().Add(0);
        if (!item || !(*item)->Import(reader.take(i)) || !(*item)->Save()) return false;
        if (present && (*item)->WasAlreadyPresent()) ++*present;
    }
    if (Status s = session.Logoff(); !s) {
        std::fprintf(stderr, "logoff: %s\n", s.error().description.c_str());
        return false;
    }
    return true;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpu = 0;  // user + system seconds of the child
    uint64_t written = 0;
    long peakKb = 0;  // the child's peak resident set
};

// Runs `work` in a child process: wall and CPU time, bytes written, peak
// memory.
template <class F>
Run inChild(F work) {
    int fd[2];
    if (::pipe(fd) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fd[0]);
        const uint64_t w0 = writtenBytes();
        const auto t0 = Clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        char buf[96];
        const int n = std::snprintf(buf, sizeof buf, "%d %.9f %llu", ok ? 1 : 0, s,
                                    static_cast<unsigned long long>(writtenBytes() - w0));
        (void)!::write(fd[1], buf, static_cast<size_t>(n));
        ::_exit(0);
    }
    ::close(fd[1]);
    char buf[96] = {};
    ssize_t got = 0, n;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = ::read(fd[0], buf + got, sizeof buf - 1 - got)) > 0) got += n;
    ::close(fd[0]);
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    Run r;
    r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    r.peakKb = ru.ru_maxrss;
    int ok = 0;
    unsigned long long w = 0;
    if (std::sscanf(buf, "%d %lf %llu", &ok, &r.seconds, &w) == 3) r.ok = ok == 1 && WIFEXITED(status);
    r.written = w;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int storeCount = 100000, addCount = 1000, rounds = 3;
    bool keep = false, addOnly = false;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--store") == 0 && i + 1 < argc) storeCount = std::max(100, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--add") == 0 && i + 1 < argc) addCount = std::max(10, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[i], "--add-only") == 0) addOnly = true;
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: bench_add [--store N] [--add N] [--rounds R] [--keep] [WORKDIR]");
            return 0;
        } else dir = argv[i];
    }
    const bool ownDir = dir.empty();
    const fsys::path work = ownDir ? fsys::temp_directory_path() / ("tavrin-bench-add-" + std::to_string(::getpid())) : fsys::path(dir);
    fsys::create_directories(work);
    constexpr int kFolders = 100, kFilesPerBatch = 10000;
    const fsys::path store = work / "store.pst";
    std::error_code ec;
    if (!fsys::exists(store)) {
        // 10,000 files, each imported into store / 10,000 folders' worth.
        const auto t0 = Clock::now();
        const auto batch = writeFiles(work / "store-src", std::min(storeCount, kFilesPerBatch), 42, 0);
        std::vector<std::string> all;
        for (int i = 0; i < storeCount; ++i) all.push_back(batch[static_cast<size_t>(i) % batch.size()]);
        LogonOptions o;
        if (!importInto(store.string(), all, kFolders, o)) return 1;
        fsys::remove_all(work / "store-src", ec);
        std::printf("store: %d messages in %d folders, %.1f MB, built in %.1f s\n", storeCount, kFolders,
                    fsys::file_size(store) / 1e6, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const uint64_t storeSize = fsys::file_size(store);
    const auto added = writeFiles(work / "add-src", addCount, 7, 1000000);
    uint64_t addBytes = 0;
    for (const auto& p : added) addBytes += fsys::file_size(p);
    std::printf("adding %d message files (%.1f MB) into 10 of the store's folders, %d rounds\n", addCount, addBytes / 1e6, rounds);
    if (addOnly) {
        if (!freshCopy(store, work / "target.pst")) return 1;
        LogonOptions adding;
        adding.addToExisting = true;
        const auto t0 = Clock::now();
        const bool ok = importInto((work / "target.pst").string(), added, 10, adding);
        std::printf("%s in %.3f s\n", ok ? "added" : "FAILED", std::chrono::duration<double>(Clock::now() - t0).count());
        return ok ? 0 : 1;
    }

    std::vector<double> ratios, news, adds, cpuRatios;
    long peakNew = 0, peakAdd = 0;
    uint64_t newSize = 0, addWritten = 0, grown = 0;
    for (int r = 0; r < rounds; ++r) {
        const fsys::path fresh = work / "new.pst", target = work / "target.pst";
        fsys::remove(fresh, ec);
        if (!freshCopy(store, target)) {
            std::fprintf(stderr, "copy of the store failed\n");
            return 1;
        }
        LogonOptions adding;
        adding.addToExisting = true;
        // The 1,000 go into folders F0..F9 of the store, 100 each.
        auto into = [&](const std::string& path, const LogonOptions& o) {
            return importInto(path, added, 10, o);
        };
        Run n, a;
        if (r % 2 == 0) {
            n = inChild([&] { return into(fresh.string(), LogonOptions{}); });
            a = inChild([&] { return into(target.string(), adding); });
        } else {
            a = inChild([&] { return into(target.string(), adding); });
            n = inChild([&] { return into(fresh.string(), LogonOptions{}); });
        }
        if (!n.ok || !a.ok) {
            std::fprintf(stderr, "round %d failed (new %d, add %d)\n", r, n.ok, a.ok);
            return 1;
        }
        newSize = fsys::file_size(fresh);
        addWritten = a.written;
        grown = fsys::file_size(target) - storeSize;
        std::printf("  round %d: new file %.3f s (CPU %.3f s, %.0f MB), add %.3f s (CPU %.3f s, %.0f MB), ratio %.2f (CPU %.2f); "
                    "add wrote %.1f MB, the file grew %.1f MB\n",
                    r, n.seconds, n.cpu, n.peakKb / 1024.0, a.seconds, a.cpu, a.peakKb / 1024.0, a.seconds / n.seconds,
                    a.cpu / n.cpu, a.written / 1e6, grown / 1e6);
        ratios.push_back(a.seconds / n.seconds);
        cpuRatios.push_back(a.cpu / n.cpu);
        peakNew = std::max(peakNew, n.peakKb);
        peakAdd = std::max(peakAdd, a.peakKb);
        news.push_back(n.seconds);
        adds.push_back(a.seconds);
    }
    const double ratio = median(ratios);
    const double budget = newSize + 0.01 * storeSize;
    std::printf("store: %.1f MB; new file of the %d: %.1f MB\n", storeSize / 1e6, addCount, newSize / 1e6);
    std::printf("new file:  %.3f s median\nadd:       %.3f s median\n", median(news), median(adds));
    std::printf("add / new: %.2f median (target <= 1.50: %s); CPU time %.2f median\n", ratio, ratio <= 1.5 ? "met" : "MISSED",
                median(cpuRatios));
    std::printf("peak memory: new file %.0f MB, add %.0f MB\n", peakNew / 1024.0, peakAdd / 1024.0);
    std::printf("written by the add: %.1f MB (target <= new file %.1f MB + 1%% of the store %.1f MB = %.1f MB: %s)\n",
                addWritten / 1e6, newSize / 1e6, storeSize / 1e8, budget / 1e6, addWritten <= budget ? "met" : "MISSED");
    if (!keep && ownDir) fsys::remove_all(work, ec);
    else {
        fsys::remove(work / "target.pst", ec);
        fsys::remove(work / "new.pst", ec);
    }
    return 0;
}
