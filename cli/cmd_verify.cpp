// msg2pst verify FILE.pst: the strict PST verifier. Prints one line per
// finding ("where: what") and a summary; exits 0 only when there are none.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::cli {
namespace {

int runVerify(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]).rfind("--", 0) == 0) {
        std::fprintf(stderr, "usage: msg2pst verify FILE.pst\n");
        return 2;
    }
    const std::string path = argv[1];
    auto report = pst::verify::verifyFile(path);
    if (!report) {
        std::fprintf(stderr, "msg2pst verify: %s\n", report.error().description.c_str());
        return 2;
    }
    for (const auto& f : report->findings) std::printf("%s: %s\n", path.c_str(), f.text().c_str());
    if (report->totalFindings > report->findings.size())
        std::printf("%s: ... %llu more findings not shown\n", path.c_str(),
                    static_cast<unsigned long long>(report->totalFindings - report->findings.size()));
    std::printf("%s: %llu finding(s); checked %llu pages, %llu blocks, %llu nodes, %llu heaps, %llu folders, %llu messages\n",
                path.c_str(), static_cast<unsigned long long>(report->totalFindings),
                static_cast<unsigned long long>(report->pages), static_cast<unsigned long long>(report->blocks),
                static_cast<unsigned long long>(report->nodes), static_cast<unsigned long long>(report->heaps),
                static_cast<unsigned long long>(report->folders), static_cast<unsigned long long>(report->messages));
    return report->clean() ? 0 : 1;
}

const CommandRegistration kVerify("verify", "verify FILE.pst", "check a PST file strictly; exit 0 only if clean", runVerify);

}  // namespace
}  // namespace tavrin::cli
