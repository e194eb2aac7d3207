// PST reader throughput: a full dump (every folder and message of the
// visible tree turned into its record) and a strict verify of a PST, each
// against a plain read of the same file's bytes, in one run; and peak RSS.
//
//   bench_pst_read [--rounds N] FILE.pst...
//
// Without a file, the largest *.pst below ../shared/samples/pst is used
// when present.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "store/core/record.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

namespace {

using namespace tavrin;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

uint64_t plainRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buf(1 << 20);
    uint64_t sum = 0;
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        const auto n = in.gcount();
        for (std::streamsize i = 0; i < n; i += 4096) sum += static_cast<uint8_t>(buf[static_cast<size_t>(i)]);
    }
    return sum;
}

// Returns the number of messages dumped, or -1 when the file cannot be read.
long long fullDump(const std::string& path, uint64_t& bytesOut) {
    auto pst = pst::messaging::PstReader::open(path);
    if (!pst) return -1;
    auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
    if (!tree) return -1;
    long long n = 0;
    for (const auto& e : *tree) {
        for (const auto* list : {&e.folder.messages, &e.folder.associated})
            for (uint32_t nid : *list) {
                auto m = (*pst)->readMessage(nid);
                if (!m) continue;
                bytesOut += store::messageRecordJson(*m, {{"folder", store::jsonString(e.path)}}, {}).size();
                ++n;
            }
    }
    return n;
}

long peakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "usage: bench_pst_read [--rounds N] FILE.pst...\n");
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::error_code ec;
        const fsys::path dir = fsys::path(TAVRIN_SHARED_DIR_DEFAULT) / "samples/pst";
        uint64_t best = 0;
        if (fsys::is_directory(dir, ec))
            for (const auto& e : fsys::recursive_directory_iterator(dir, ec))
                if (e.is_regular_file() && e.path().extension() == ".pst" && e.file_size() > best) {
                    best = e.file_size();
                    files = {e.path().string()};
                }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bench_pst_read [--rounds N] FILE.pst...\n");
        return 2;
    }
    for (const auto& f : files) {
        std::error_code ec;
        const auto size = fsys::file_size(f, ec);
        if (ec || !fsys::is_regular_file(f, ec)) {
            std::fprintf(stderr, "bench_pst_read: %s is not a readable file.\n", f.c_str());
            return 1;
        }
        if (auto probe = pst::messaging::PstReader::open(f); !probe) {
            std::fprintf(stderr, "bench_pst_read: %s\n", probe.error().description.c_str());
            return 1;
        }
        const double mb = static_cast<double>(size) / (1024.0 * 1024.0);
        double tRead = 1e30, tDump = 1e30, tVerify = 1e30;
        long long messages = 0;
        uint64_t findings = 0, sink = 0;
        for (int r = 0; r < rounds; ++r) {
            auto a = Clock::now();
            sink += plainRead(f);
            auto b = Clock::now();
            messages = fullDump(f, sink);
            auto c = Clock::now();
            auto rep = pst::verify::verifyFile(f);
            auto d = Clock::now();
            findings = rep ? rep->totalFindings : ~uint64_t(0);
            tRead = std::min(tRead, seconds(a, b));
            tDump = std::min(tDump, seconds(b, c));
            tVerify = std::min(tVerify, seconds(c, d));
        }
        std::printf("%s: %.2f MB, %lld messages, %llu findings (best of %d)\n", f.c_str(), mb, messages,
                    static_cast<unsigned long long>(findings), rounds);
        std::printf("  plain read %.4f s (%.1f MB/s)\n", tRead, mb / tRead);
        std::printf("  full dump  %.4f s (%.1f MB/s), %.1fx the plain read\n", tDump, mb / tDump, tDump / tRead);
        std::printf("  verify     %.4f s (%.1f MB/s), %.1fx the plain read\n", tVerify, mb / tVerify, tVerify / tRead);
        if (sink == 42) std::printf(" ");
    }
    std::printf("peak RSS %ld KB\n", peakRssKb());
    return 0;
}
