// msg2pst convert SRC_DIR OUT.pst: a headless conversion of one folder tree
// through the store operations. Every sub-folder becomes a mail folder
// under the top of the store's folder tree (a name the store already has,
// such as Inbox, is reused), every .msg file (any letter case) is imported
// into the folder that mirrors its own, flagged as the conversion flags
// items (PR_MESSAGE_FLAGS 17, read, unless --flags says otherwise) and
// saved. Other files are skipped. Progress goes to the terminal; a summary
// lists what failed. Exit 0 only when every message file was converted.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "fs/text.h"
#include "store/session.h"

namespace tavrin::cli {
namespace {

namespace sfs = std::filesystem;

struct Job {
    sfs::path dir;
    std::vector<std::string> components;  // below the top of the store's tree
};

bool isMessageFile(const sfs::path& p) { return text::asciiLower(p.extension().string()) == ".msg"; }

// The store's display name: the folder's name, " : Created - " and the
// date stamp d.m.YY H.m.ss, as the wizard names its stores.
std::string storeName(const sfs::path& src) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d.%d.%02d %d.%d.%02d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year % 100, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    std::string name = sfs::absolute(src).lexically_normal().filename().string();
    if (name.empty()) name = sfs::absolute(src).lexically_normal().parent_path().filename().string();
    return name + " : Created - " + stamp;
}

int runConvert(int argc, char** argv) {
    std::vector<std::string> args;
    bool replace = false;
    int32_t flags = 17;
    bool flagsGiven = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--replace") {
            replace = true;
        } else if (a == "--keep-flags") {
            flagsGiven = false;
        } else if (a == "--flags" && i + 1 < argc) {
            flags = static_cast<int32_t>(std::strtol(argv[++i], nullptr, 0));
        } else if (a.rfind("--", 0) == 0) {
            args.clear();
            break;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: msg2pst convert [--replace] [--flags N | --keep-flags] SRC_DIR OUT.pst\n");
        return 2;
    }
    const sfs::path src = args[0];
    const std::string out = args[1];
    std::error_code ec;
    if (!sfs::is_directory(src, ec)) {
        std::fprintf(stderr, "msg2pst convert: %s is not a folder\n", src.string().c_str());
        return 2;
    }

    // The source tree, folders in name order, files of each folder in name
    // order.
    std::vector<Job> jobs{{src, {}}};
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::vector<sfs::path> subs;
        for (const auto& e : sfs::directory_iterator(jobs[i].dir, sfs::directory_options::skip_permission_denied, ec))
            if (e.is_directory(ec) && !e.is_symlink(ec)) subs.push_back(e.path());
        std::sort(subs.begin(), subs.end());
        for (const auto& s : subs) {
            Job j{s, jobs[i].components};
            j.components.push_back(s.filename().string());
            jobs.insert(jobs.begin() + static_cast<ptrdiff_t>(i + 1), std::move(j));
        }
    }
    std::vector<std::pair<size_t, sfs::path>> files;
    size_t skipped = 0;
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::vector<sfs::path> here;
        for (const auto& e : sfs::directory_iterator(jobs[i].dir, sfs::directory_options::skip_permission_denied, ec))
            if (e.is_regular_file(ec)) here.push_back(e.path());
        std::sort(here.begin(), here.end());
        for (auto& p : here) {
            if (isMessageFile(p))
                files.emplace_back(i, std::move(p));
            else
                ++skipped;
        }
    }

    store::RDOSession session;
    store::LogonOptions options;
    options.replaceExisting = replace;
    const std::string name = storeName(src);
    auto pst = session.LogonPstStore(out, store::olStoreUnicode, name, options);
    if (!pst) {
        std::fprintf(stderr, "msg2pst convert: %s\n", pst.error().description.c_str());
        return 1;
    }
    if (auto s = (*pst)->ValidateIPMTree(); !s) {
        std::fprintf(stderr, "msg2pst convert: %s\n", s.error().description.c_str());
        return 1;
    }

    std::vector<std::pair<std::string, std::string>> failures;  // path, why
    std::vector<std::shared_ptr<store::RDOFolder>> folders(jobs.size());
    std::vector<std::string> folderErrors(jobs.size());
    {
        auto top = (*pst)->IPMRootFolder();
        if (!top) {
            std::fprintf(stderr, "msg2pst convert: %s\n", top.error().description.c_str());
            return 1;
        }
        folders[0] = *top;
    }
    for (size_t i = 1; i < jobs.size(); ++i) {
        // The parent is the job with one component less (it comes earlier).
        std::shared_ptr<store::RDOFolder> parent;
        for (size_t k = i; k-- > 0;)
            if (jobs[k].components.size() + 1 == jobs[i].components.size()) {
                parent = folders[k];
                break;
            }
        if (!parent) {
            folderErrors[i] = "its parent folder could not be created";
            continue;
        }
        auto existing = session.GetFolderFromComponents(name, jobs[i].components);
        if (existing) {
            folders[i] = *existing;
            continue;
        }
        auto added = parent->Folders().Add(jobs[i].components.back(), store::olFolderMail);
        if (added)
            folders[i] = *added;
        else
            folderErrors[i] = added.error().description;
    }

    const bool tty = isatty(STDERR_FILENO);
    const auto started = std::chrono::steady_clock::now();
    size_t converted = 0, done = 0;
    for (const auto& [job, path] : files) {
        ++done;
        if (tty)
            std::fprintf(stderr, "\r[%zu/%zu] %3zu%% ", done, files.size(), files.size() ? done * 100 / files.size() : 100);
        if (!folders[job]) {
            failures.emplace_back(path.string(), "its folder could not be created: " + folderErrors[job]);
            continue;
        }
        auto item = folders[job]->Items().Add(0);
        if (!item) {
            failures.emplace_back(path.string(), item.error().description);
            continue;
        }
        if (auto s = (*item)->Import(path.string(), store::olMSGUnicode); !s) {
            failures.emplace_back(path.string(), s.error().description);
            continue;
        }
        Status s;
        if (flagsGiven) s = store::MAPIUtils().HrSetOneProp((*item)->MAPIOBJECT(), 0x0E070003, flags, true);
        if (s) s = (*item)->Save();
        if (!s) {
            failures.emplace_back(path.string(), s.error().description);
            continue;
        }
        ++converted;
    }
    if (tty) std::fprintf(stderr, "\r%40s\r", "");
    const Status closed = session.Logoff();
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("Converted: %zu\nFailed: %zu\nSkipped: %zu\n", converted, failures.size(), skipped);
    for (const auto& [p, why] : failures) std::printf("  failed: %s: %s\n", p.c_str(), why.c_str());
    if (!closed) {
        std::printf("The file %s was not written: %s\n", out.c_str(), closed.error().description.c_str());
        return 1;
    }
    std::printf("Wrote %s (store \"%s\") in %.2f s.\n", out.c_str(), name.c_str(), secs);
    return failures.empty() ? 0 : 1;
}

const CommandRegistration kConvert("convert", "convert [--replace] SRC_DIR OUT.pst",
                                   "convert a folder of .msg files into a new PST", runConvert);

}  // namespace
}  // namespace tavrin::cli
