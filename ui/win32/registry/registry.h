// The shell helpers of the native wizard: a help page in the user's browser,
// the shell's folder browser, the common save dialog, and the folders the
// wizard starts from (Desktop, Documents, the help pages beside the program).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>

namespace tavrin::ui::win32 {

// Hands `address` to the shell's "open" verb (ShellExecuteW, normal show
// state). An empty address starts nothing; the result is not reported.
void OpenUrl(const std::string& address);

// The shell's folder browser, modal over `ownerWindow`, with `prompt` above
// the tree, which starts at the Desktop with `startFolder` (when it is a
// folder) selected and opened; only file-system folders can be confirmed.
// The chosen folder's full path (a drive root keeps its "\"), or the empty
// text when nothing was chosen or anything failed.
std::string BrowseForFolder(HWND ownerWindow, const std::string& prompt, const std::string& startFolder);

// The full path of a shell item, as BrowseForFolder returns it: no
// trailing "\" except on a drive root; the empty text for an item that is
// no file-system folder. Paths longer than 260 characters come back whole.
std::string FolderPathFromIdList(PCIDLIST_ABSOLUTE item);

// "Name (*.ext)|*.ext" as the save dialog's filter: the pairs separated by
// NUL characters, ending with two.
std::wstring SaveDialogFilter(const std::string& filter);

// The common save dialog over `owner`, opening in Documents with the
// proposed name and the filter. It does not ask about an existing file (the
// engine asks whether to add to it or replace it). nullopt when cancelled.
std::optional<std::string> SaveFileDialog(HWND owner, const std::string& filter, const std::string& proposedName);

// The current user's Desktop and Documents folders (empty when unknown).
std::string DesktopFolder();
std::string DocumentsFolder();
// Where the save dialog opens: the shell's Documents folder, wherever the
// user has moved it; else what wizard::SaveDialogFolder decides (the
// profile's Documents, else the profile).
std::string SaveDialogStartFolder();

// The folder of the running program, and the help folder beside it ("help"
// holding msg-to-pst\index.html; empty when it is not there).
std::string ProgramFolder();
std::string FindHelpFolder(const std::string& programFolder);
// The help site's base address for a folder: its file URL without a
// trailing "/" (file:///C:/Program%20Files/...).
std::string HelpSiteFor(const std::string& folder);

}  // namespace tavrin::ui::win32
