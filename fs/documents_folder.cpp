#include "fs/documents_folder.h"

#include <cstdlib>
#include <sstream>

#include "fs/file_io.h"
#include "fs/mod_files.h"

namespace tavrin::fs {

namespace {

#ifndef _WIN32
// XDG_DOCUMENTS_DIR from a user-dirs.dirs text: lines of the form
// XDG_DOCUMENTS_DIR="$HOME/Documents" (a path relative to $HOME, or
// absolute). nullopt when the text does not set it.
std::optional<std::string> documentsFromUserDirs(const std::string& text, const std::string& home) {
    std::istringstream in(text);
    std::optional<std::string> found;
    for (std::string line; std::getline(in, line);) {
        const size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line[b] == '#') continue;
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.compare(b, key.size(), key) != 0) continue;
        std::string v = line.substr(b + key.size());
        while (!v.empty() && (v.back() == '\r' || v.back() == ' ' || v.back() == '\t')) v.pop_back();
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
        if (!v.empty() && v[0] == '/') found = v;  // the last setting counts, as when the file is sourced
    }
    return found;
}
#endif

}  // namespace

std::string DocumentsFolder(const DocumentsFolderSources& s) {
    auto folder = [&](const std::optional<std::string>& p) { return p && !p->empty() && s.isFolder(*p); };
#ifdef _WIN32
    (void)folder;
    const auto profile = s.env("USERPROFILE");
    if (!profile || profile->empty()) return {};
    if (const std::string docs = *profile + "\\Documents"; s.isFolder(docs)) return docs;
    return s.isFolder(*profile) ? *profile : std::string();
#else
    const auto home = s.env("HOME");
    if (!home || home->empty()) return {};
    std::string config = s.env("XDG_CONFIG_HOME").value_or("");
    if (config.empty() || config[0] != '/') config = *home + "/.config";
    std::optional<std::string> docs;
    if (auto text = s.readText(config + "/user-dirs.dirs")) docs = documentsFromUserDirs(*text, *home);
    if (!docs) docs = s.env("XDG_DOCUMENTS_DIR");
    if (folder(docs)) return *docs;
    if (const std::string d = *home + "/Documents"; s.isFolder(d)) return d;
    return folder(home) ? *home : std::string();
#endif
}

std::string DocumentsFolder() {
    DocumentsFolderSources s;
    s.env = [](const std::string& name) -> std::optional<std::string> {
        const char* v = std::getenv(name.c_str());
        if (!v) return std::nullopt;
        return std::string(v);
    };
    s.readText = [](const std::string& path) -> std::optional<std::string> {
        auto bytes = readFile(path, 1 << 20);
        if (!bytes) return std::nullopt;
        return std::string(bytes->begin(), bytes->end());
    };
    s.isFolder = [](const std::string& path) { return FolderExists(path); };
    return DocumentsFolder(s);
}

}  // namespace tavrin::fs
