// Where the save dialog of the single-folder mode opens: the user's
// documents folder, else the home folder, never the file-system root (where
// a quick Enter would put the PST). fs::DocumentsFolder decides; a front
// end's dialog only applies it.
#pragma once

#include <string>

#include "fs/documents_folder.h"

namespace tavrin::wizard {

inline std::string SaveDialogFolder() { return fs::DocumentsFolder(); }

}  // namespace tavrin::wizard
