// Every dialog and message box the wizard shows goes through this
// interface: the Qt implementation shows the real ones, tests answer them.
#pragma once

#include <QWidget>

#include <optional>
#include <string>

#include "engine/host.h"

namespace tavrin::ui {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A modal message box over `owner`. Lines are joined by CR LF.
    virtual engine::MsgResult messageBox(QWidget* owner, const std::string& text, const std::string& title,
                                         engine::MsgButtons buttons, engine::MsgIcon icon) = 0;
    // The folder browser (see BrowseForFolder).
    virtual std::string browseForFolder(QWidget* owner, const std::string& prompt) = 0;
    // The save dialog with a filter of the form "Name (*.ext)|*.ext" and a
    // proposed file name, opening in the folder wizard::SaveDialogFolder
    // names. It asks before replacing an existing file and reports a
    // confirmed replacement. nullopt when cancelled.
    virtual std::optional<std::string> saveFile(QWidget* owner, const std::string& filter,
                                                const std::string& proposedName, bool& replaceConfirmed) = 0;
    // A help page in the user's browser (see OpenUrl).
    virtual void openUrl(const std::string& address) = 0;
};

class QtDialogs : public Dialogs {
public:
    engine::MsgResult messageBox(QWidget* owner, const std::string& text, const std::string& title,
                                 engine::MsgButtons buttons, engine::MsgIcon icon) override;
    std::string browseForFolder(QWidget* owner, const std::string& prompt) override;
    std::optional<std::string> saveFile(QWidget* owner, const std::string& filter, const std::string& proposedName,
                                        bool& replaceConfirmed) override;
    void openUrl(const std::string& address) override;
};

// "Outlook Data File(s) (*.pst)|*.pst" as Qt's name filter
// "Outlook Data File(s) (*.pst)"; pairs separated by "|" in turn.
QString QtNameFilters(const std::string& filter);

}  // namespace tavrin::ui
