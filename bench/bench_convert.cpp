// Conversion throughput: message files converted into a new PST through the
// store operations (LogonPstStore, Items.Add, Import, Save, Logoff), against
// a plain copy of the same bytes (every input file appended to one output
// file), in one run; messages and MB per second; peak RSS of the conversion.
//
//   bench_convert [--count N] [--rounds R] [--threads T] [--keep] [DIR]
//   bench_convert --write-corpus DIR [COUNT]
//   bench_convert --convert-only DIR OUT.pst [REPEAT] [THREADS]
//       one conversion in this process (for profilers), each file imported
//       REPEAT times (for files beyond 4 GiB)
//
// Without DIR a synthetic corpus is written to a temporary folder first:
// COUNT (10,000) messages of about 20 KB, a third of them with attachments.
// The files are read ahead on T threads (as many as the machine has cores
// to spare by default) as the engine reads them, and imported in order.
// Each measurement runs in a child process, so that its peak RSS is its own.
// Targets: conversion / copy <= 2.0, >= 25,000 messages/s, peak RSS <= 100 MB.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/props.h"
#include "store/core/tags.h"
#include "store/msg/cfb/cfb_writer.h"
#include "synthetic_msg.h"
#include "store/read_ahead.h"
#include "store/session.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- a synthetic corpus -------------------------------------------------

// About 20 KB a message file on average; a third carry an attachment.
bench::MessageShape convertShape(int n) {
    bench::MessageShape s;
    s.attachment = n % 3 == 0;
    s.binaryAttachment = s.attachment;
    s.bodyBytes = s.attachment ? 2800 : 4300;
    s.htmlBytes = s.attachment ? 2400 : 3900;
    return s;
}

void writeCorpus(const fsys::path& dir, int count) { bench::writeCorpus(dir, count, convertShape); }

// --- the two workloads ----------------------------------------------------

// Appends every input file to one new output file, then makes it durable
// (the writer also syncs its file once at the end).
bool plainCopy(const std::vector<std::string>& inputs, const std::string& out) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (const auto& p : inputs) {
        auto b = fs::readFile(p);
        if (!b) {
            ok = false;
            break;
        }
        size_t done = 0;
        while (done < b->size()) {
            const ssize_t n = ::write(fd, b->data() + done, b->size() - done);
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<size_t>(n);
        }
    }
    ok = ::fsync(fd) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

// Converts every input file into a new PST, one folder, through the store
// operations the engine uses, the files read ahead on `threads` threads.
bool convertAll(const std::vector<std::string>& inputs, const std::string& out, int repeat = 1,
                unsigned threads = store::defaultReadAheadThreads()) {
    RDOSession session;
    auto store = session.LogonPstStore(out, olStoreUnicode, "Bench");
    if (!store) {
        std::fprintf(stderr, "logon: %s\n", store.error().description.c_str());
        return false;
    }
    if (!(*store)->ValidateIPMTree()) return false;
    auto inbox = (*store)->GetDefaultFolder(olFolderInbox);
    if (!inbox) return false;
    auto folder = (*inbox)->Folders().Add("Bench");
    if (!folder) return false;
    size_t failed = 0;
    for (int k = 0; k < repeat; ++k) {
        ReadAheadOptions o;
        o.threads = threads;
        MessageReadAhead files(inputs.size(), [&](size_t i) { return inputs[i]; }, o);
        for (size_t i = 0; i < inputs.size(); ++i) {
            auto item = (*folder)->Items().Add(0);
            if (!item || !(*item)->Import(files.take(i), olMSGUnicode) || !(*item)->Save()) ++failed;
        }
    }
    if (Status s = session.Logoff(); !s) {
        std::fprintf(stderr, "logoff: %s\n", s.error().description.c_str());
        return false;
    }
    if (failed) std::fprintf(stderr, "%zu message file(s) failed\n", failed);
    return failed == 0;
}

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpu = 0;  // user + system
    long peakRssKb = 0;
};

// Runs `work` in a child process: its wall time and its own peak RSS.
template <class F>
Run inChild(F work) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipefd[0]);
        const auto t0 = Clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        char buf[64];
        const int n = std::snprintf(buf, sizeof buf, "%d %.9f", ok ? 1 : 0, s);
        (void)!::write(pipefd[1], buf, static_cast<size_t>(n));
        ::_exit(0);
    }
    ::close(pipefd[1]);
    char buf[64] = {};
    ssize_t got = 0, n;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 && (n = ::read(pipefd[0], buf + got, sizeof buf - 1 - got)) > 0)
        got += n;
    ::close(pipefd[0]);
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    Run r;
    int ok = 0;
    if (std::sscanf(buf, "%d %lf", &ok, &r.seconds) == 2) r.ok = ok == 1 && WIFEXITED(status);
    r.peakRssKb = ru.ru_maxrss;
    r.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 10000, rounds = 3;
    unsigned threads = store::defaultReadAheadThreads();
    bool keep = false;
    std::string dir;
    if (argc >= 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
        writeCorpus(argv[2], argc >= 4 ? std::max(1, std::atoi(argv[3])) : count);
        return 0;
    }
    if ((argc >= 4 && argc <= 6) && std::strcmp(argv[1], "--convert-only") == 0) {
        // One conversion in this process, for profilers.
        std::vector<std::string> inputs;
        for (const auto& e : fsys::recursive_directory_iterator(argv[2]))
            if (e.is_regular_file() && text::equalsIgnoreAsciiCase(e.path().extension().string(), ".msg"))
                inputs.push_back(e.path().string());
        std::sort(inputs.begin(), inputs.end());
        const auto t0 = Clock::now();
        const bool ok = convertAll(inputs, argv[3], argc >= 5 ? std::max(1, std::atoi(argv[4])) : 1,
                                   argc == 6 ? static_cast<unsigned>(std::max(0, std::atoi(argv[5])))
                                             : store::defaultReadAheadThreads());
        std::printf("%s in %.1f s\n", ok ? "converted" : "FAILED", std::chrono::duration<double>(Clock::now() - t0).count());
        return ok ? 0 : 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = static_cast<unsigned>(std::max(0, std::atoi(argv[++i])));
        else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: bench_convert [--count N] [--rounds R] [--threads T] [--keep] [DIR]\n"
                      "       bench_convert --write-corpus DIR [COUNT]");
            return 0;
        } else dir = argv[i];
    }
    const fsys::path work = fsys::temp_directory_path() / ("tavrin-bench-convert-" + std::to_string(::getpid()));
    fsys::create_directories(work);
    if (dir.empty()) {
        dir = (work / "corpus").string();
        const auto t0 = Clock::now();
        writeCorpus(dir, count);
        std::printf("corpus: %d synthetic messages written to %s in %.1f s\n", count, dir.c_str(),
                    std::chrono::duration<double>(Clock::now() - t0).count());
    }
    std::vector<std::string> inputs;
    uint64_t bytes = 0;
    std::error_code ec;
    for (const auto& e : fsys::recursive_directory_iterator(dir, ec))
        if (e.is_regular_file() && text::equalsIgnoreAsciiCase(e.path().extension().string(), ".msg"))
            inputs.push_back(e.path().string());
    std::sort(inputs.begin(), inputs.end());
    for (const auto& p : inputs) {
        auto b = fs::readFile(p);  // also warms the page cache for both sides
        if (b) bytes += b->size();
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no .msg files in %s\n", dir.c_str());
        return 1;
    }
    std::printf("%zu message files, %.1f MB (%.1f KB each); %d rounds, copy and conversion alternating; "
                "%u read-ahead thread(s)\n",
                inputs.size(), bytes / 1e6, bytes / 1e3 / inputs.size(), rounds, threads);

    std::vector<double> ratios, convTimes, copyTimes;
    long peak = 0;
    uint64_t pstSize = 0;
    for (int r = 0; r < rounds; ++r) {
        const std::string copyOut = (work / ("copy" + std::to_string(r) + ".bin")).string();
        const std::string pstOut = (work / ("out" + std::to_string(r) + ".pst")).string();
        Run c, v;
        if (r % 2 == 0) {
            c = inChild([&] { return plainCopy(inputs, copyOut); });
            v = inChild([&] { return convertAll(inputs, pstOut, 1, threads); });
        } else {
            v = inChild([&] { return convertAll(inputs, pstOut, 1, threads); });
            c = inChild([&] { return plainCopy(inputs, copyOut); });
        }
        if (!c.ok || !v.ok) {
            std::fprintf(stderr, "round %d failed (copy %d, convert %d)\n", r, c.ok, v.ok);
            return 1;
        }
        pstSize = fsys::file_size(pstOut, ec);
        std::printf("  round %d: copy %.3f s (cpu %.3f), convert %.3f s (cpu %.3f), ratio %.2f, convert peak RSS %ld KB\n",
                    r, c.seconds, c.cpu, v.seconds, v.cpu, v.seconds / c.seconds, v.peakRssKb);
        ratios.push_back(v.seconds / c.seconds);
        convTimes.push_back(v.seconds);
        copyTimes.push_back(c.seconds);
        peak = std::max(peak, v.peakRssKb);
        fsys::remove(copyOut, ec);
        if (!(keep && r + 1 == rounds)) fsys::remove(pstOut, ec);
    }
    const double conv = median(convTimes), ratio = median(ratios);
    const double perSecond = inputs.size() / conv;
    std::printf("PST written: %.1f MB\n", pstSize / 1e6);
    std::printf("plain copy:  %.3f s median, %.1f MB/s\n", median(copyTimes), bytes / median(copyTimes) / 1e6);
    std::printf("conversion:  %.3f s median, %.1f MB/s, %.0f messages/s (target >= 25000: %s)\n", conv,
                bytes / conv / 1e6, perSecond, perSecond >= 25000 ? "met" : "MISSED");
    std::printf("conversion / copy: %.2f median (target <= 2.00: %s), %.2f from the best times\n", ratio,
                ratio <= 2.0 ? "met" : "MISSED",
                *std::min_element(convTimes.begin(), convTimes.end()) /
                    *std::min_element(copyTimes.begin(), copyTimes.end()));
    std::printf("peak RSS of the conversion: %.1f MB (target <= 100 MB: %s)\n", peak / 1024.0,
                peak <= 100 * 1024 ? "met" : "MISSED");
    if (keep)
        std::printf("kept: %s\n", (work / ("out" + std::to_string(rounds - 1) + ".pst")).c_str());
    else
        fsys::remove_all(work, ec);
    return 0;
}
