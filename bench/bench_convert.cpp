// Conversion throughput: message files converted into a new PST through the
// store operations (LogonPstStore, Items.Add, Import, Save, Logoff), against
// a plain copy of the same bytes (every input file appended to one output
// file), in one run; messages and MB per second; peak RSS of the conversion.
//
//   bench_convert [--count N] [--rounds R] [--keep] [DIR]
//   bench_convert --write-corpus DIR [COUNT]
//   bench_convert --convert-only DIR OUT.pst [REPEAT]
//       one conversion in this process (for profilers), each file imported
//       REPEAT times (for files beyond 4 GiB)
//
// Without DIR a synthetic corpus is written to a temporary folder first:
// COUNT (10,000) messages of about 20 KB, a third of them with attachments.
// Each measurement runs in a child process, so that its peak RSS is its own.
// Targets: conversion / copy <= 2.0, >= 3,000 messages/s, peak RSS <= 100 MB.
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
#include "store/session.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- a synthetic corpus -------------------------------------------------

struct Rng {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
};

std::string hex8(uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

// One object of a message file: its property stream entries and streams.
struct Object {
    Bytes props;
    std::vector<StorageEntry> streams;
    void fixed(uint32_t tag, uint64_t v) {
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u64(v);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
    }
    void variable(uint32_t tag, Bytes data) {
        const uint64_t extra = tagType(tag) == PT_UNICODE ? 2 : 0;
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u32(static_cast<uint32_t>(data.size() + extra));
        w.u32(0);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
        StorageEntry s;
        s.name = text::toUtf16("__substg1.0_" + hex8(tag));
        s.data = std::move(data);
        streams.push_back(std::move(s));
    }
    void text(uint32_t tag, const std::string& utf8) {
        const std::u16string u = text::toUtf16(utf8);
        Bytes b(u.size() * 2);
        for (size_t i = 0; i < u.size(); ++i) storeLE16(b.data() + 2 * i, u[i]);
        variable(tag, std::move(b));
    }
    // The object as a storage; `header` is the property stream's header size
    // (32 top level, 8 recipients and attachments).
    StorageEntry storage(const std::string& name, size_t header, uint32_t recips = 0, uint32_t atts = 0) const {
        StorageEntry s;
        s.name = text::toUtf16(name);
        s.isStorage = true;
        s.children = streams;
        StorageEntry p;
        p.name = u"__properties_version1.0";
        p.data.assign(header, 0);
        if (header >= 24) {
            storeLE32(&p.data[8], recips);
            storeLE32(&p.data[12], atts);
            storeLE32(&p.data[16], recips);
            storeLE32(&p.data[20], atts);
        }
        p.data.insert(p.data.end(), props.begin(), props.end());
        s.children.push_back(std::move(p));
        return s;
    }
};

std::string words(Rng& r, size_t bytes) {
    static const char* const w[] = {"meeting", "budget", "report", "the", "and", "Grüße", "quarterly", "team",
                                    "update", "please", "review", "attached", "thanks", "日本語", "schedule"};
    std::string s;
    while (s.size() < bytes) {
        s += w[r.next() % 15];
        s += (r.next() % 12 == 0) ? "\r\n" : " ";
    }
    return s;
}

Bytes syntheticMessage(Rng& r, int n) {
    using namespace tags;
    const bool withAttachment = n % 3 == 0;
    Object m;
    m.text(makeTag(PidTagSubject, PT_UNICODE), "Message " + std::to_string(n) + " " + words(r, 40));
    m.text(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note");
    m.text(makeTag(PidTagSenderName, PT_UNICODE), "Alice Example");
    m.text(makeTag(0x0C1E, PT_UNICODE), "SMTP");
    m.text(makeTag(PidTagSenderEmailAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagSenderSmtpAddress, PT_UNICODE), "alice@example.com");
    // Bodies sized so that a message file is about 20 KB on average.
    m.text(makeTag(PidTagBody, PT_UNICODE), words(r, withAttachment ? 2800 : 4300));
    const std::string html = "<html><body><p>" + words(r, withAttachment ? 2400 : 3900) + "</p></body></html>";
    m.variable(makeTag(PidTagHtml, PT_BINARY), Bytes(html.begin(), html.end()));
    Bytes key(16);
    for (auto& b : key) b = static_cast<uint8_t>(r.next());
    m.variable(makeTag(PidTagSearchKey, PT_BINARY), key);
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), withAttachment ? 0x11 : 0x01);
    m.fixed(makeTag(PidTagInternetCodepage, PT_LONG), 65001);
    m.fixed(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    m.fixed(makeTag(PidTagMessageDeliveryTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    for (uint16_t id = 0x3000; id < 0x3010; ++id) m.fixed(makeTag(id, PT_LONG), r.next());
    StorageEntry root;
    root.isStorage = true;
    root.name = u"Root Entry";
    const uint32_t recips = 3;
    for (uint32_t i = 0; i < recips; ++i) {
        Object rc;
        rc.fixed(makeTag(PidTagRecipientType, PT_LONG), 1 + i % 2);
        rc.text(makeTag(PidTagDisplayName, PT_UNICODE), "Recipient " + std::to_string(i));
        rc.text(makeTag(PidTagEmailAddress, PT_UNICODE), "r" + std::to_string(i) + "@example.com");
        rc.text(makeTag(PidTagAddressType, PT_UNICODE), "SMTP");
        root.children.push_back(rc.storage("__recip_version1.0_#" + hex8(i), 8));
    }
    if (withAttachment) {
        Object a;
        a.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
        a.text(makeTag(PidTagAttachLongFilename, PT_UNICODE), "notes " + std::to_string(n) + ".bin");
        Bytes data(6000 + r.next() % 4000);
        for (auto& b : data) b = static_cast<uint8_t>(r.next());
        a.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), std::move(data));
        root.children.push_back(a.storage("__attach_version1.0_#00000000", 8));
    }
    StorageEntry top = m.storage("", 32, recips, withAttachment ? 1 : 0);
    for (auto& c : top.children) root.children.push_back(std::move(c));
    auto b = cfb::writeCompoundFile(root);
    return b.ok() ? std::move(b).value() : Bytes();
}

void writeCorpus(const fsys::path& dir, int count) {
    fsys::create_directories(dir);
    Rng r{42};
    for (int i = 0; i < count; ++i) {
        const Bytes b = syntheticMessage(r, i);
        std::ofstream(dir / ("m" + std::to_string(i) + ".msg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
}

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
// operations the engine uses.
bool convertAll(const std::vector<std::string>& inputs, const std::string& out, int repeat = 1) {
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
    for (int k = 0; k < repeat; ++k)
        for (const auto& p : inputs) {
            auto item = (*folder)->Items().Add(0);
            if (!item || !(*item)->Import(p, olMSGUnicode) || !(*item)->Save()) ++failed;
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
    bool keep = false;
    std::string dir;
    if (argc >= 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
        writeCorpus(argv[2], argc >= 4 ? std::max(1, std::atoi(argv[3])) : count);
        return 0;
    }
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--convert-only") == 0) {
        // One conversion in this process, for profilers.
        std::vector<std::string> inputs;
        for (const auto& e : fsys::recursive_directory_iterator(argv[2]))
            if (e.is_regular_file() && text::equalsIgnoreAsciiCase(e.path().extension().string(), ".msg"))
                inputs.push_back(e.path().string());
        std::sort(inputs.begin(), inputs.end());
        const auto t0 = Clock::now();
        const bool ok = convertAll(inputs, argv[3], argc == 5 ? std::max(1, std::atoi(argv[4])) : 1);
        std::printf("%s in %.1f s\n", ok ? "converted" : "FAILED", std::chrono::duration<double>(Clock::now() - t0).count());
        return ok ? 0 : 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) count = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--keep") == 0) keep = true;
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: bench_convert [--count N] [--rounds R] [--keep] [DIR]\n"
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
    std::printf("%zu message files, %.1f MB (%.1f KB each); %d rounds, copy and conversion alternating\n",
                inputs.size(), bytes / 1e6, bytes / 1e3 / inputs.size(), rounds);

    std::vector<double> ratios, convTimes, copyTimes;
    long peak = 0;
    uint64_t pstSize = 0;
    for (int r = 0; r < rounds; ++r) {
        const std::string copyOut = (work / ("copy" + std::to_string(r) + ".bin")).string();
        const std::string pstOut = (work / ("out" + std::to_string(r) + ".pst")).string();
        Run c, v;
        if (r % 2 == 0) {
            c = inChild([&] { return plainCopy(inputs, copyOut); });
            v = inChild([&] { return convertAll(inputs, pstOut); });
        } else {
            v = inChild([&] { return convertAll(inputs, pstOut); });
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
    std::printf("conversion:  %.3f s median, %.1f MB/s, %.0f messages/s (target >= 3000: %s)\n", conv,
                bytes / conv / 1e6, perSecond, perSecond >= 3000 ? "met" : "MISSED");
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
