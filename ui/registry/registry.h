// The shell helpers of the wizard: a help page in the user's browser and the
// folder browser.
#pragma once

#include <QString>
#include <QWidget>

#include <string>

namespace tavrin::ui {

// Opens `address` in the user's browser through the desktop services. An
// empty address starts nothing; a failure is not reported.
void OpenUrl(const std::string& address);

// The folder browser, modal over `ownerWindow`, with `prompt` as its title.
// It opens at `startFolder` (empty or gone: the top of the folder tree),
// lets the user confirm only folders, and returns the chosen folder's full
// path (a drive root keeps its separator, other folders have none at the
// end), or the empty text when nothing was chosen.
std::string BrowseForFolder(QWidget* ownerWindow, const std::string& prompt, const std::string& startFolder);

// The folder dialog's answer as BrowseForFolder returns it: native
// separators, no trailing separator except on a drive root or "/", and the
// empty text for anything that is not a local folder.
std::string FolderResult(const QString& chosen);

}  // namespace tavrin::ui
