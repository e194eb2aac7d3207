// msg2pst dump-msg FILE...: one JSON line per readable message file, an
// Outlook message file (.msg) or an Internet message (.eml), each read as
// what its bytes are (the normalized record plus the file name and
// property counts, and for a damaged file that was salvaged the "warnings"
// that say what was left out); a line "FILE: error N: description" on
// stderr for each file that cannot be read.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/commands.h"
#include "store/core/record.h"
#include "store/core/source_digest.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/message_files.h"

namespace tavrin::cli {
namespace {

// OLE storage attachments are shown by the compound file they are written as.
store::Bytes storageAsCompoundFile(const store::StorageEntry& root) {
    auto b = store::cfb::writeCompoundFile(root);
    return b.ok() ? std::move(b).value() : store::Bytes();
}

int dumpMsg(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: msg2pst dump-msg FILE...\n");
        return 2;
    }
    store::RecordOptions options;
    options.storageBytes = storageAsCompoundFile;
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string file = argv[i];
        auto m = store::readMessageFile(file);
        if (!m) {
            std::fprintf(stderr, "%s: error %d: %s\n", file.c_str(), static_cast<int>(m.error().number),
                         m.error().description.c_str());
            status = 1;
            continue;
        }
        // What the file holds: not the digest of its bytes that reading adds
        // for the store's duplicate test.
        const store::NamedPropName digest = store::sourceDigestName();
        std::erase_if(m->props.items(), [&](const store::Property& p) { return p.name && *p.name == digest; });
        size_t named = 0;
        for (const auto& p : m->props.items()) named += p.name.has_value();
        const uint32_t cp = m->codepage(0);
        std::vector<std::pair<std::string, std::string>> trailing = {
            {"properties", std::to_string(m->props.size())},
            {"namedProperties", std::to_string(named)},
            {"codepage", cp ? std::to_string(cp) : std::string("null")}};
        // Only a salvaged message has the field, so that the records of
        // whole messages compare as before.
        if (!m->warnings.empty()) {
            std::string list = "[";
            for (const std::string& w : m->warnings) list += (list.size() > 1 ? "," : "") + store::jsonString(w);
            trailing.emplace_back("warnings", list + "]");
        }
        const std::string line = store::messageRecordJson(*m, {{"file", store::jsonString(file)}}, trailing, options);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    std::fflush(stdout);
    return status;
}

const CommandRegistration registration("dump-msg", "dump-msg FILE...",
                                       "print each message file as one JSON line", dumpMsg);

}  // namespace
}  // namespace tavrin::cli
