// Where the save dialog of the single-folder mode opens: the user's
// documents folder, else the home folder, never the file-system root (where
// a quick Enter would put the PST). The decision is here; a front end's
// dialog only applies it.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tavrin::wizard {

// What the decision reads, so that tests can give it another world.
struct SaveFolderSources {
    std::function<std::optional<std::string>(const std::string& name)> env;   // an environment variable
    std::function<std::optional<std::string>(const std::string& path)> readText;  // a small text file
    std::function<bool(const std::string& path)> isFolder;
};

// POSIX: the XDG documents folder (XDG_DOCUMENTS_DIR of
// $XDG_CONFIG_HOME/user-dirs.dirs, default ~/.config, or of the
// environment), else ~/Documents, else $HOME; each only when it is an
// existing folder. Windows: %USERPROFILE%\Documents, else %USERPROFILE%.
// Empty when none is known (the dialog keeps its own default).
std::string SaveDialogFolder(const SaveFolderSources& sources);
// The same over the real environment and file system.
std::string SaveDialogFolder();

}  // namespace tavrin::wizard
