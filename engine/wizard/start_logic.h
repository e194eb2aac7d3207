// The start window's handlers: the mode choice, "&Next >" to the window of
// that mode, the help links and the exit confirmation.
#pragma once

#include "engine/wizard/window_services.h"

namespace tavrin::wizard {

class StartView : public WindowServices {
public:
    virtual bool optSingle() const = 0;
    virtual void setOptionsBold(bool singleBold, bool multipleBold) = 0;
    // Creates the single-folder window when needed and shows it modally,
    // owned by the start window.
    virtual void showSingleModal() = 0;
    // Creates the multiple-folder window when needed (an existing one keeps
    // its list and choices) and shows it modelessly, without an owner.
    virtual void showMultipleModeless() = 0;
    virtual void hideWindow() = 0;
    // Ends the program at once: every window closes without further events.
    virtual void endProgram() = 0;
};

class StartLogic {
public:
    explicit StartLogic(StartView& view) : view_(view) {}

    void Form_Load();
    void OptSingle_Click();
    void OptMultiple_Click();
    void CmdNext_Click();
    void CmdHelp_Click();
    void lblSingleHelp_Click();
    void lblMultipleHelp_Click();
    // The window is being closed. Returns true to cancel the close.
    bool Form_Unload();

    // The version comes from the build (the CMake project's version).
    static constexpr const char* kCaption = "Tavrin MSG to PST Converter v" TAVRIN_CAPTION_VERSION;
    static constexpr const char* kAppTitle = "Tavrin MSG to PST Converter";
    static constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

private:
    StartView& view_;
};

}  // namespace tavrin::wizard
