// Every dialog and message box the native wizard shows goes through this
// interface: Win32Dialogs shows the real ones, tests answer them.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <string>

#include "engine/host.h"

namespace tavrin::ui::win32 {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal message box over `owner`. Lines are joined by CR LF.
    virtual engine::MsgResult messageBox(HWND owner, const std::string& text, const std::string& title,
                                         engine::MsgButtons buttons, engine::MsgIcon icon) = 0;
    // The folder browser (see BrowseForFolder).
    virtual std::string browseForFolder(HWND owner, const std::string& prompt) = 0;
    // The save dialog (see SaveFileDialog). nullopt when cancelled.
    virtual std::optional<std::string> saveFile(HWND owner, const std::string& filter,
                                                const std::string& proposedName, bool& replaceConfirmed) = 0;
    // A help page in the user's browser (see OpenUrl).
    virtual void openUrl(const std::string& address) = 0;
};

class Win32Dialogs : public Dialogs {
public:
    engine::MsgResult messageBox(HWND owner, const std::string& text, const std::string& title,
                                 engine::MsgButtons buttons, engine::MsgIcon icon) override;
    std::string browseForFolder(HWND owner, const std::string& prompt) override;
    std::optional<std::string> saveFile(HWND owner, const std::string& filter, const std::string& proposedName,
                                        bool& replaceConfirmed) override;
    void openUrl(const std::string& address) override;
};

// The MessageBoxW style of a box: its buttons and icon.
UINT MessageBoxStyle(engine::MsgButtons buttons, engine::MsgIcon icon);

}  // namespace tavrin::ui::win32
