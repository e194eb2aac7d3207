// msg2pst dump-pst [--associated] [--folders] FILE.pst: one JSON line per
// message of the visible folder tree (the same record as dump-msg, with
// "folder" first: the path below the top of the tree, "" for the top).
// Associated (FAI) messages are left out unless --associated is given; then
// they carry "associated": true. --folders lists the folder tree instead,
// one JSON line per folder with its content count.
// A message that cannot be read is a line "FILE: folder: node N: error"
// on stderr, and the exit status is 1.
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "store/core/record.h"
#include "store/pst/messaging/pst_reader.h"

namespace tavrin::cli {
namespace {

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

std::string hexNid(uint32_t nid) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", nid);
    return buf;
}

int dumpPst(int argc, char** argv) {
    bool associated = false;
    bool folders = false;
    bool bad = false;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--associated") associated = true;
        else if (a == "--folders") folders = true;
        else if (a.rfind("--", 0) == 0 || !path.empty()) bad = true;
        else path = a;
    }
    if (bad || path.empty()) {
        std::fprintf(stderr, "usage: msg2pst dump-pst [--associated] [--folders] FILE.pst\n");
        return 2;
    }
    auto pst = pst::messaging::PstReader::open(path);
    if (!pst) {
        std::fprintf(stderr, "%s: error %d: %s\n", path.c_str(), static_cast<int>(pst.error().number),
                     pst.error().description.c_str());
        return 2;
    }
    auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
    if (!tree) {
        std::fprintf(stderr, "%s: error %d: %s\n", path.c_str(), static_cast<int>(tree.error().number),
                     tree.error().description.c_str());
        return 1;
    }
    int status = 0;
    if (folders) {
        for (const auto& e : *tree) {
            std::string line = "{\"folder\":" + store::jsonString(e.path) +
                               ",\"name\":" + store::jsonString(e.folder.displayName()) +
                               ",\"depth\":" + std::to_string(e.depth) +
                               ",\"contentCount\":" + std::to_string(e.folder.messages.size()) +
                               ",\"associatedCount\":" + std::to_string(e.folder.associated.size()) +
                               ",\"subfolders\":" + std::to_string(e.folder.subfolders.size()) + "}";
            printLine(line);
        }
        std::fflush(stdout);
        return status;
    }
    auto dumpOne = [&](const pst::messaging::FolderTreeEntry& e, uint32_t nid, bool fai) {
        auto m = (*pst)->readMessage(nid);
        if (!m) {
            std::fprintf(stderr, "%s: %s: node %s: error %d: %s\n", path.c_str(), e.path.c_str(), hexNid(nid).c_str(),
                         static_cast<int>(m.error().number), m.error().description.c_str());
            status = 1;
            return;
        }
        std::vector<std::pair<std::string, std::string>> leading = {{"folder", store::jsonString(e.path)}};
        if (fai) leading.emplace_back("associated", "true");
        printLine(store::messageRecordJson(*m, leading, {}));
    };
    for (const auto& e : *tree) {
        for (uint32_t nid : e.folder.messages) dumpOne(e, nid, false);
        if (associated)
            for (uint32_t nid : e.folder.associated) dumpOne(e, nid, true);
    }
    std::fflush(stdout);
    return status;
}

const CommandRegistration registration("dump-pst", "dump-pst [--associated] [--folders] FILE.pst",
                                       "print each message of a PST as one JSON line", dumpPst);

}  // namespace
}  // namespace tavrin::cli
