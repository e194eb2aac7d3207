// The documents folder, over a made-up home: the XDG documents folder
// as user-dirs.dirs or the environment names it, else ~/Documents, else
// home; never a folder that is not there.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "fs/documents_folder.h"

namespace tavrin::fs {
namespace {

struct World {
    std::map<std::string, std::string> env, files;
    std::set<std::string> folders;
    DocumentsFolderSources sources() {
        DocumentsFolderSources s;
        s.env = [this](const std::string& n) -> std::optional<std::string> {
            auto it = env.find(n);
            return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        s.readText = [this](const std::string& p) -> std::optional<std::string> {
            auto it = files.find(p);
            return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
        };
        s.isFolder = [this](const std::string& p) { return folders.count(p) > 0; };
        return s;
    }
};

#ifndef _WIN32
TEST(DocumentsFolder, DocumentsAsXdgNamesThemElseDocumentsElseHome) {
    World w;
    w.env["HOME"] = "/home/ann";
    w.folders = {"/home/ann", "/home/ann/Dokumente", "/home/ann/Documents", "/data/docs"};
    w.files["/home/ann/.config/user-dirs.dirs"] =
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
        "  XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\r\n";
    EXPECT_EQ(DocumentsFolder(w.sources()), "/home/ann/Dokumente");
    // Another config folder, with an absolute path.
    w.env["XDG_CONFIG_HOME"] = "/etc/ann";
    w.files["/etc/ann/user-dirs.dirs"] = "XDG_DOCUMENTS_DIR=\"/data/docs\"\n";
    EXPECT_EQ(DocumentsFolder(w.sources()), "/data/docs");
    // A relative XDG_CONFIG_HOME is ignored; the named folder must exist.
    w.env["XDG_CONFIG_HOME"] = "relative";
    w.folders.erase("/home/ann/Dokumente");
    EXPECT_EQ(DocumentsFolder(w.sources()), "/home/ann/Documents");
    // No configuration: the environment, then ~/Documents, then home.
    w.files.clear();
    w.env["XDG_DOCUMENTS_DIR"] = "/data/docs";
    EXPECT_EQ(DocumentsFolder(w.sources()), "/data/docs");
    w.env.erase("XDG_DOCUMENTS_DIR");
    w.folders.erase("/home/ann/Documents");
    EXPECT_EQ(DocumentsFolder(w.sources()), "/home/ann");
    w.folders.clear();
    EXPECT_EQ(DocumentsFolder(w.sources()), "");
    w.env.clear();
    EXPECT_EQ(DocumentsFolder(w.sources()), "");
}
#endif

}  // namespace
}  // namespace tavrin::fs
