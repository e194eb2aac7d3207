// The single-folder window of the native wizard: the source folder and
// "&Next >" to the status window. It draws and forwards to
// wizard::SingleLogic.
#pragma once

#include "engine/wizard/single_logic.h"
#include "ui/win32/common/window.h"

namespace tavrin::ui::win32 {

class Wizard;

class frmSingle : public Window, public wizard::SingleView {
public:
    frmSingle(Wizard& wizard, HWND owner);

    // Shows the window modally over its owner, centred on it, in its initial
    // state (empty folder box, "&Next >" disabled); returns when it is closed.
    void showModal();

    // SingleView
    std::string sourceMailbox() const override;
    void setSourceMailbox(const std::string& path) override;
    void setNextEnabled(bool enabled) override;
    void showStatusModal() override;
    void yield() override;
    void openUrl(const std::string& address) override;
    std::string browseForFolder(const std::string& prompt) override;
    wizard::MsgResult messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                 wizard::MsgIcon icon) override;

protected:
    void onCommand(HWND control, WORD code) override;
    void onCancel() override { hide(); }

private:
    Wizard& wizard_;
    wizard::SingleLogic logic_;
    HWND owner_;
    HWND cmdAddFolder_ = nullptr, cmdNext_ = nullptr, txtSourceMailbox_ = nullptr, lblSingleMailbox_ = nullptr;
};

// The text of a window (a text box, a label), whatever its length.
std::string WindowText(HWND window);

}  // namespace tavrin::ui::win32
