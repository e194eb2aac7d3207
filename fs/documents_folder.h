// The user's documents folder, else the home folder, never the file-system
// root: where the save dialog of the single-folder mode opens (a quick Enter
// there must not put the PST at the root).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tavrin::fs {

// What the decision reads, so that tests can give it another world.
struct DocumentsFolderSources {
    std::function<std::optional<std::string>(const std::string& name)> env;   // an environment variable
    std::function<std::optional<std::string>(const std::string& path)> readText;  // a small text file
    std::function<bool(const std::string& path)> isFolder;
};

// POSIX: the XDG documents folder (XDG_DOCUMENTS_DIR of
// $XDG_CONFIG_HOME/user-dirs.dirs, default ~/.config, or of the
// environment), else ~/Documents, else $HOME; each only when it is an
// existing folder. Windows: %USERPROFILE%\Documents, else %USERPROFILE%.
// Empty when none is known (the dialog keeps its own default).
std::string DocumentsFolder(const DocumentsFolderSources& sources);
// The same over the real environment and file system.
std::string DocumentsFolder();

}  // namespace tavrin::fs
