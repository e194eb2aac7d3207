// The single-folder window's handlers: choosing the source folder and
// opening the status window.
#pragma once

#include "engine/wizard/window_services.h"

namespace tavrin::wizard {

class SingleView : public WindowServices {
public:
    virtual std::string sourceMailbox() const = 0;   // txtSourceMailbox
    virtual void setSourceMailbox(const std::string& path) = 0;
    virtual void setNextEnabled(bool enabled) = 0;
    // Creates the status window when needed and shows it modally.
    virtual void showStatusModal() = 0;
};

class SingleLogic {
public:
    explicit SingleLogic(SingleView& view) : view_(view) {}

    // The initial state, also after the window was closed and is shown
    // again: an empty folder box and "&Next >" disabled.
    void Form_Load();
    void CmdAddFolder_Click();
    void CmdNext_Click();
    void lblSingleMailbox_Click();

    static constexpr const char* kCaption = "Single Folder Conversion Mode";
    static constexpr const char* kPrompt = "Choose Source Folder...";

private:
    SingleView& view_;
};

}  // namespace tavrin::wizard
