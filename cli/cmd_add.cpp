// msg2pst x-add [--duplicates add|skip] [--into FOLDER] SRC OUT.pst: an
// experimental, unlisted command that adds the message files below SRC to
// the store OUT.pst straight through the store operations (creating the
// file when there is none). Each source folder becomes the store folder of
// the same relative path below FOLDER (the top of the visible tree when
// FOLDER is not given); a message the folder already holds is skipped
// unless --duplicates add. One line per 25 files on stdout ("files N"),
// then a summary. It exists for testing adding in place (a kill at any
// moment) until `convert --add` drives the same operations.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "store/session.h"

namespace tavrin::cli {
namespace {

namespace sfs = std::filesystem;

bool isMsg(const sfs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".msg";
}

int runAdd(int argc, char** argv) {
    store::LogonOptions options;
    options.addToExisting = true;
    std::string into, src, out;
    bool bad = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--duplicates" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "add") options.addDuplicates = true;
            else if (v != "skip") bad = true;
        } else if (a == "--into" && i + 1 < argc) {
            into = argv[++i];
        } else if (a.rfind("--", 0) == 0) {
            bad = true;
        } else if (src.empty()) {
            src = a;
        } else if (out.empty()) {
            out = a;
        } else {
            bad = true;
        }
    }
    if (bad || out.empty()) {
        std::fprintf(stderr, "usage: msg2pst x-add [--duplicates add|skip] [--into FOLDER] SRC OUT.pst\n");
        return 2;
    }
    std::error_code ec;
    std::vector<sfs::path> files, folders;
    for (auto it = sfs::recursive_directory_iterator(src, ec); !ec && it != sfs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) folders.push_back(it->path());
        else if (it->is_regular_file(ec) && isMsg(it->path())) files.push_back(it->path());
    }
    if (ec) {
        std::fprintf(stderr, "msg2pst x-add: %s: %s\n", src.c_str(), ec.message().c_str());
        return 2;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());

    store::RDOSession session;
    auto st = session.LogonPstStore(out, store::olStoreUnicode, sfs::path(src).filename().string(), options);
    if (!st) {
        std::fprintf(stderr, "msg2pst x-add: %s\n", st.error().description.c_str());
        return 1;
    }
    if (auto s = (*st)->ValidateIPMTree(); !s) {
        std::fprintf(stderr, "msg2pst x-add: %s\n", s.error().description.c_str());
        return 1;
    }
    const std::string storeName = (*st)->DisplayName();
    // The store folder of a path below the top: found, or made.
    auto folderOf = [&](const std::vector<std::string>& parts) -> Result<std::shared_ptr<store::RDOFolder>> {
        auto cur = (*st)->IPMRootFolder();
        if (!cur) return cur;
        std::vector<std::string> done;
        for (const std::string& p : parts) {
            done.push_back(p);
            auto found = session.GetFolderFromComponents(storeName, done);
            if (found) {
                cur = found;
                continue;
            }
            auto added = (*cur)->Folders().Add(p);
            if (!added) return added;
            cur = added;
        }
        return cur;
    };
    auto partsOf = [&](const sfs::path& dir) {
        std::vector<std::string> parts;
        if (!into.empty()) parts.push_back(into);
        for (const auto& c : sfs::relative(dir, src, ec))
            if (c != ".") parts.push_back(c.string());
        return parts;
    };
    size_t added = 0, present = 0, failed = 0;
    for (const auto& d : folders)
        if (auto f = folderOf(partsOf(d)); !f) {
            ++failed;
            std::fprintf(stderr, "%s: %s\n", d.string().c_str(), f.error().description.c_str());
        }
    for (size_t i = 0; i < files.size(); ++i) {
        auto folder = folderOf(partsOf(files[i].parent_path()));
        Status s = folder ? Status() : Status(folder.error());
        std::shared_ptr<store::RDOMail> item;
        if (s) {
            auto it = (*folder)->Items().Add();
            if (it) item = *it;
            else s = it.error();
        }
        if (s) s = item->Import(files[i].string());
        if (s) s = item->Save();
        if (!s) {
            ++failed;
            std::fprintf(stderr, "%s: %s\n", files[i].string().c_str(), s.error().description.c_str());
        } else if (item->WasAlreadyPresent()) {
            ++present;
        } else {
            ++added;
        }
        if ((i + 1) % 25 == 0) {
            std::printf("files %zu\n", i + 1);
            std::fflush(stdout);
        }
        if (auto c = session.CheckOutput(); !c) {
            std::fprintf(stderr, "msg2pst x-add: %s\n", c.error().description.c_str());
            return 1;
        }
    }
    std::printf("completing\n");
    std::fflush(stdout);
    if (auto s = session.Logoff(); !s) {
        std::fprintf(stderr, "msg2pst x-add: %s\n", s.error().description.c_str());
        return 1;
    }
    std::printf("%zu added, %zu already present, %zu failed\n", added, present, failed);
    return failed ? 1 : 0;
}

// No summary: not listed in --help.
const CommandRegistration registration("x-add", "x-add [--duplicates add|skip] [--into FOLDER] SRC OUT.pst", "", runAdd);

}  // namespace
}  // namespace tavrin::cli
