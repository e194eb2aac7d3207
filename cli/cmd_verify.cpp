// msg2pst verify [--strict] FILE.pst: the strict PST verifier. Prints one
// line per finding ("where: what") and a summary; exits 0 only when there
// are none. --strict also reports what Outlook itself leaves in files it has
// used for a while (see VerifyOptions::strict); use it on freshly written
// files. It also shows the notes ("note: where: what"): what Outlook writes
// against the letter of [MS-PST] (VerifyReport::notes), which never change
// the exit status.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::cli {
namespace {

int runVerify(int argc, char** argv) {
    pst::verify::VerifyOptions options;
    std::string path;
    bool bad = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--strict") options.strict = true;
        else if (a.rfind("--", 0) == 0 || !path.empty()) bad = true;
        else path = a;
    }
    if (bad || path.empty()) {
        std::fprintf(stderr, "usage: msg2pst verify [--strict] FILE.pst\n");
        return 2;
    }
    auto report = pst::verify::verifyFile(path, options);
    if (!report) {
        std::fprintf(stderr, "msg2pst verify: %s\n", report.error().description.c_str());
        return 2;
    }
    for (const auto& f : report->findings) std::printf("%s: %s\n", path.c_str(), f.text().c_str());
    if (options.strict) {
        for (const auto& n : report->notes) std::printf("%s: note: %s\n", path.c_str(), n.text().c_str());
        if (report->totalNotes > report->notes.size())
            std::printf("%s: ... %llu more notes not shown\n", path.c_str(),
                        static_cast<unsigned long long>(report->totalNotes - report->notes.size()));
    }
    if (report->totalFindings > report->findings.size())
        std::printf("%s: ... %llu more findings not shown\n", path.c_str(),
                    static_cast<unsigned long long>(report->totalFindings - report->findings.size()));
    if (options.strict && report->totalNotes)
        std::printf("%s: %llu note(s): what Outlook itself writes, not findings\n", path.c_str(),
                    static_cast<unsigned long long>(report->totalNotes));
    std::printf("%s: %llu finding(s); checked %llu pages, %llu blocks, %llu nodes, %llu heaps, %llu folders, %llu messages\n",
                path.c_str(), static_cast<unsigned long long>(report->totalFindings),
                static_cast<unsigned long long>(report->pages), static_cast<unsigned long long>(report->blocks),
                static_cast<unsigned long long>(report->nodes), static_cast<unsigned long long>(report->heaps),
                static_cast<unsigned long long>(report->folders), static_cast<unsigned long long>(report->messages));
    return report->clean() ? 0 : 1;
}

const CommandRegistration kVerify("verify", "verify [--strict] FILE.pst", "check a PST file strictly; exit 0 only if clean", runVerify);

}  // namespace
}  // namespace tavrin::cli
