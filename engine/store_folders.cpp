#include "engine/store_folders.h"

#include <algorithm>
#include <array>

namespace tavrin::engine {

namespace {

// Folders the mirroring leaves to the messages that need them.
constexpr std::array<std::string_view, 7> kMadeOnlyForMessages = {
    "Calendar", "Contacts", "Emailed Contacts", "Tasks", "Sent", "Notebook", "Conversations"};

std::string_view trimBlanks(std::string_view s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A mailbox "NAME.mbox" (a file or an Apple Mail folder) is the folder NAME.
std::string_view withoutMailboxExtension(std::string_view name) {
    constexpr std::string_view ext = ".mbox";
    if (name.size() <= ext.size()) return name;
    for (size_t k = 0; k < ext.size(); ++k) {
        const char c = name[name.size() - ext.size() + k];
        if ((c >= 'A' && c <= 'Z' ? char(c + 32) : c) != ext[k]) return name;
    }
    return name.substr(0, name.size() - ext.size());
}

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) out.emplace_back(withoutMailboxExtension(path.substr(start, end - start)));
        start = end + 1;
    }
    return out;
}

}  // namespace

StoreFolder StoreFolderFor(std::string_view relative, const DefaultFolderNames& defaults) {
    bool mirrored = true;
    if (const size_t bang = relative.find('!'); bang != std::string_view::npos) {
        relative = trimBlanks(relative.substr(0, bang));
        mirrored = false;
    }
    if (const size_t drive = relative.find(":\\"); drive != std::string_view::npos) {
        const size_t next = relative.find(":\\", drive + 2);
        relative = relative.substr(drive + 2, next == std::string_view::npos ? next : next - drive - 2);
    }
    const bool driveRoot = relative.empty() || relative.front() != '\\';
    StoreFolder f;
    f.path = components(relative);
    if (f.path.empty()) return f;  // the top
    const std::string& last = f.path.back();
    if (f.path.size() == 1 && (last == "Inbox" || last == "Sent")) {
        f.path.front() = last == "Inbox" ? defaults.inbox : defaults.sent;
        return f;  // a default folder: it is there
    }
    if (f.path.front() == "Inbox") f.path.front() = defaults.inbox;
    if (f.path.front() == "Sent") f.path.front() = defaults.sent;
    if (driveRoot && f.path.size() == 1) f.mirrored = mirrored && last != "Emailed Contacts";
    else f.mirrored = mirrored && std::find(kMadeOnlyForMessages.begin(), kMadeOnlyForMessages.end(), last) ==
                                      kMadeOnlyForMessages.end();
    return f;
}

std::string StoreFolderText(const std::vector<std::string>& path) {
    if (path.empty()) return "\\";
    std::string out;
    for (const std::string& c : path) out += "\\" + c;
    return out;
}

}  // namespace tavrin::engine
