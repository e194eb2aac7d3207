#include "engine/help_site.h"

namespace tavrin::engine {

namespace {
std::string& base() {
    static std::string b;
    return b;
}
}  // namespace

std::vector<std::string> HelpPaths() {
    return {kHelpMain, kHelpSingleFolder, kHelpMultipleFolders, kHelpSelectFolder, kHelpSelectRootFolder,
            kHelpSessionError};
}

const std::string& HelpSite() { return base(); }

void SetHelpSite(std::string b) {
    while (!b.empty() && b.back() == '/') b.pop_back();
    base() = std::move(b);
}

HelpTarget ResolveHelpPath(const std::string& path) {
    HelpTarget t;
    std::string p = path;
    if (const size_t hash = p.find('#'); hash != std::string::npos) {
        t.anchor = p.substr(hash + 1);
        p.erase(hash);
    }
    while (!p.empty() && p.front() == '/') p.erase(0, 1);
    if (p.empty() || p.back() == '/') p += "index.html";
    t.file = p;
    return t;
}

std::string HelpAddress(const std::string& path) {
    const std::string& b = base();
    if (b.rfind("file:", 0) != 0) return b + path;
    const HelpTarget t = ResolveHelpPath(path);
    return b + "/" + t.file + (t.anchor.empty() ? "" : "#" + t.anchor);
}

}  // namespace tavrin::engine
