// What a front end gives the wizard's windows: a window built from its
// layout (Form), the toolkit that makes such windows, and the dialogs. The
// Qt and the Win32 front ends implement these with their own toolkit;
// tests fake them, so that every decision of the windows runs without a
// screen.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/host.h"
#include "engine/wizard/layout.h"

namespace tavrin::wizard {

using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

// A window built from a WindowLayout. Controls are named as in the layout;
// a name the layout does not have is a programming error, which a front
// end ignores and a test's fake reports.
class Form {
public:
    virtual ~Form() = default;
    virtual const WindowLayout& layout() const = 0;

    // What the control holds: the text of a text box or label, the caption
    // of a button (with its access-key mark).
    virtual std::string text(std::string_view control) const = 0;
    // Shows `text` as it is: an "&" is drawn, never taken as a mark.
    virtual void setText(std::string_view control, const std::string& text) = 0;
    virtual bool isEnabled(std::string_view control) const = 0;
    virtual void setEnabled(std::string_view control, bool enabled) = 0;
    virtual bool isShown(std::string_view control) const = 0;
    virtual void setShown(std::string_view control, bool shown) = 0;
    virtual bool isChecked(std::string_view control) const = 0;
    // Ticks, unticks or selects without running the control's click handler.
    virtual void setChecked(std::string_view control, bool checked) = 0;
    // The caption in the bold or regular weight of its font (a link that
    // follows the caption moves with its end).
    virtual void setBold(std::string_view control, bool bold) = 0;
    virtual void setFocus(std::string_view control) = 0;
    // A progress bar's range and position (minimum <= value <= maximum).
    virtual void setProgress(std::string_view control, int minimum, int maximum, int value) = 0;

    // A list: rows of one text per column, from 0, each unticked when added.
    virtual void clearRows(std::string_view list) = 0;
    virtual void addRow(std::string_view list, const std::vector<std::string>& cells) = 0;
    virtual int rowCount(std::string_view list) const = 0;
    virtual std::string cell(std::string_view list, int row, int column) const = 0;
    virtual bool isRowChecked(std::string_view list, int row) const = 0;
    virtual void setRowChecked(std::string_view list, int row, bool checked) = 0;
    // A row's text colour (kSystemColour: the list's own) and weight.
    virtual void setRowLook(std::string_view list, int row, unsigned colour, bool bold) = 0;
    // Rows in turn in the two colours, starting with the first.
    virtual void setAlternatingRows(std::string_view list, unsigned first, unsigned second) = 0;

    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual bool isShown() const = 0;
    // Shows the window and makes it the active one.
    virtual void showModeless() = 0;
    // Shows the window modally, in front of `owner` (none: a window of its
    // own): every other window of the wizard takes no input until it is
    // hidden. Returns then, or when the program ends.
    virtual void showModal(Form* owner) = 0;
    // Hides the window (a modal showing ends) without asking anything.
    virtual void hide() = 0;
    // Centres the window on `other` when that is shown, else on the screen.
    virtual void centreOn(const Form* other) = 0;

    // Set by the window's logic: a clickable control was clicked (after an
    // option button or check box changed its state), and the user asks to
    // close the window (close box, system menu, or Escape in a modal
    // window); false keeps it open.
    std::function<void(std::string_view control)> onClick;
    std::function<bool()> onClose;
};

// Every dialog the wizard shows. `owner` is the window it is modal over
// (none: no owner).
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box; lines are joined by CR LF. With AddReplaceCancel the
    // buttons read "Add to it" (the default), "Replace it" and "Cancel";
    // closing the box is Cancel.
    virtual MsgResult messageBox(Form* owner, const std::string& text, const std::string& title,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    // The folder browser, with `prompt` as its title, opening at
    // `startFolder` (empty: the system's choice). The chosen folder's full
    // path (a drive root keeps its separator, other folders have none at
    // the end), or the empty text when nothing was chosen.
    virtual std::string browseForFolder(Form* owner, const std::string& prompt, const std::string& startFolder) = 0;
    // The save dialog with a filter "Name (*.ext)|*.ext" and a proposed
    // name, opening in wizard::SaveDialogFolder. It does not ask about an
    // existing file (the engine asks whether to add to it or replace it).
    // nullopt when cancelled.
    virtual std::optional<std::string> saveFile(Form* owner, const std::string& filter,
                                                const std::string& proposedName) = 0;
    // A help page in the user's browser; nothing is reported on failure.
    virtual void openUrl(const std::string& address) = 0;
};

// What the wizard needs of a toolkit beyond its windows.
class Toolkit {
public:
    virtual ~Toolkit() = default;
    // A window of the layout, hidden.
    virtual std::unique_ptr<Form> makeForm(const WindowLayout& layout) = 0;
    // Lets the window system deliver pending input and paint events.
    virtual void yield() = 0;
    // Ends the program's event loop.
    virtual void quit() = 0;
    // The current user's Desktop folder.
    virtual std::string desktopFolder() = 0;
};

}  // namespace tavrin::wizard
