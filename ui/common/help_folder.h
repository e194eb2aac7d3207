// Where the shipped help pages are: beside the program in a build, or in
// the installed data folder.
#pragma once

#include <QString>

#include <string>

namespace tavrin::ui {

// The help folder for a program in `programDir`: programDir/help, else
// programDir/../share/tavrin-msg-to-pst/help. Empty when neither holds the
// main page.
QString FindHelpFolder(const QString& programDir);

// The help site's base address for a folder: its file URL without a
// trailing "/".
std::string HelpSiteFor(const QString& folder);

}  // namespace tavrin::ui
