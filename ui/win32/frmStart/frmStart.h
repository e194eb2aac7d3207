// The start window of the native wizard: the conversion mode, "&Next >" to
// the window of that mode, the help links and the exit confirmation. It
// draws and forwards to wizard::StartLogic.
#pragma once

#include "engine/wizard/start_logic.h"
#include "ui/win32/common/window.h"

namespace tavrin::ui::win32 {

class Wizard;

class frmStart : public Window, public wizard::StartView {
public:
    explicit frmStart(Wizard& wizard);

    // Shows the window (centred on the screen the first time).
    void show();

    // StartView
    bool optSingle() const override;
    void setOptionsBold(bool singleBold, bool multipleBold) override;
    void showSingleModal() override;
    void showMultipleModeless() override;
    void hideWindow() override;
    void endProgram() override;
    void yield() override;
    void openUrl(const std::string& address) override;
    std::string browseForFolder(const std::string& prompt) override;
    wizard::MsgResult messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                 wizard::MsgIcon icon) override;

protected:
    void onCommand(HWND control, WORD code) override;
    void onClose() override;

private:
    Wizard& wizard_;
    wizard::StartLogic logic_;
    HWND optSingle_ = nullptr, optMultiple_ = nullptr, cmdNext_ = nullptr, cmdHelp_ = nullptr;
    HWND lblSingleHelp_ = nullptr, lblMultipleHelp_ = nullptr;
    bool shown_ = false;
};

}  // namespace tavrin::ui::win32
