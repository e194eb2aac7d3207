// Message file reader throughput: parsing .msg files from memory and from
// disk, each against just reading the same bytes, in one run.
//
//   bench_msg_read [--rounds N] [DIR...]
//   bench_msg_read --write-corpus DIR [COUNT]
//
// DIR: folders searched (recursively) for *.msg files. Without one, a
// synthetic corpus of 1000 messages of about 25 KB is written to a temporary
// folder first (--write-corpus writes it to DIR and stops). Target: reading plus parsing a file takes at most 1.5 times
// as long as reading it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/props.h"
#include "store/core/tags.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/oxmsg/msg_reader.h"
#include "synthetic_msg.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- measuring ----------------------------------------------------------

struct Corpus {
    std::vector<std::string> paths;
    std::vector<Bytes> data;
    uint64_t bytes = 0;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void report(const char* what, double s, const Corpus& c) {
    std::printf("  %-28s %8.3f s  %9.1f MB/s  %9.0f msgs/s\n", what, s, c.bytes / s / 1e6, c.paths.size() / s);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 15;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: bench_msg_read [--rounds N] [DIR...]");
            return 0;
        } else dirs.push_back(argv[i]);
    }
    // About 25 KB a message file, each with a text attachment.
    auto writeCorpus = [](const fsys::path& dir, int count) {
        bench::MessageShape shape;
        shape.bodyBytes = 5000;
        shape.htmlBytes = 4000;
        shape.fillers = 32;
        shape.attachment = true;
        bench::writeCorpus(dir, count, [&](int) { return shape; });
    };
    if (argc >= 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
        writeCorpus(argv[2], argc >= 4 ? std::max(1, std::atoi(argv[3])) : 1000);
        return 0;
    }
    fsys::path temp;
    if (dirs.empty()) {
        temp = fsys::temp_directory_path() / ("tavrin-bench-msg-" + std::to_string(::getpid()));
        writeCorpus(temp, 1000);
        dirs.push_back(temp.string());
        std::printf("corpus: 1000 synthetic messages in %s\n", temp.c_str());
    }
    Corpus c;
    for (const auto& d : dirs) {
        std::error_code ec;
        for (const auto& e : fsys::recursive_directory_iterator(d, ec))
            if (e.is_regular_file() && text::equalsIgnoreAsciiCase(e.path().extension().string(), ".msg"))
                c.paths.push_back(e.path().string());
    }
    std::sort(c.paths.begin(), c.paths.end());
    for (const auto& p : c.paths) {
        auto b = fs::readFile(p);  // also warms the page cache
        c.data.push_back(b.ok() ? std::move(b).value() : Bytes());
        c.bytes += c.data.back().size();
    }
    if (c.paths.empty()) {
        std::fprintf(stderr, "no .msg files found\n");
        return 1;
    }
    size_t failures = 0;
    for (const auto& b : c.data) failures += !oxmsg::readMsg(b).ok();
    std::printf("%zu files, %.1f MB (%.1f KB each), %zu unreadable, %d rounds (times: the best round)\n", c.paths.size(),
                c.bytes / 1e6, c.bytes / 1e3 / c.paths.size(), failures, rounds);

    volatile uint64_t sink = 0;
    auto copyAll = [&] {
        for (const auto& b : c.data) {
            Bytes copy(b.begin(), b.end());
            sink = sink + copy.size();
        }
    };
    auto parseAll = [&] {
        for (const auto& b : c.data) {
            auto m = oxmsg::readMsg(b);
            sink = sink + (m.ok() ? m->props.size() : 0);
        }
    };
    auto readAll = [&] {
        for (const auto& p : c.paths) {
            auto b = fs::readFile(p);
            sink = sink + (b.ok() ? b->size() : 0);
        }
    };
    auto readParseAll = [&] {
        for (const auto& p : c.paths) {
            auto m = oxmsg::readMsgFile(p);
            sink = sink + (m.ok() ? m->props.size() : 0);
        }
    };
    auto time = [](auto f) {
        const auto t0 = Clock::now();
        f();
        return seconds(Clock::now() - t0);
    };
    // The pairs are measured back to back, in alternating order, round after
    // round: other load on the machine then hits both sides of a ratio alike.
    std::vector<double> memRatios, diskRatios;
    double memCopy = 1e300, memParse = 1e300, diskRead = 1e300, diskParse = 1e300;
    for (int r = 0; r < rounds; ++r) {
        double a, b, x, y;
        if (r % 2 == 0) {
            a = time(copyAll); b = time(parseAll); x = time(readAll); y = time(readParseAll);
        } else {
            b = time(parseAll); a = time(copyAll); y = time(readParseAll); x = time(readAll);
        }
        memCopy = std::min(memCopy, a);
        memParse = std::min(memParse, b);
        diskRead = std::min(diskRead, x);
        diskParse = std::min(diskParse, y);
        memRatios.push_back(b / a);
        diskRatios.push_back(y / x);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    };
    std::puts("from memory:");
    report("copy the bytes", memCopy, c);
    report("parse", memParse, c);
    std::puts("from disk (page cache):");
    report("read the file", diskRead, c);
    report("read and parse", diskParse, c);
    const double ratio = median(diskRatios);
    std::printf("read+parse / read: %.2f median of %d rounds, %.2f from the best times (target <= 1.50: %s)\n", ratio,
                rounds, diskParse / diskRead, ratio <= 1.5 ? "met" : "MISSED");
    std::printf("parse / copy (memory): %.2f median\n", median(memRatios));
    if (!temp.empty()) fsys::remove_all(temp);
    return 0;
}
