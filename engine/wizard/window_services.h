// What every wizard window offers its logic: the yield, the help pages, the
// folder browser and message boxes. A window implements these with its own
// toolkit (the Qt windows pass themselves as the dialogs' owner); tests fake
// them.
#pragma once

#include <string>

#include "engine/host.h"

namespace tavrin::wizard {

using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

class WindowServices {
public:
    virtual ~WindowServices() = default;
    // Lets the window system deliver pending input and paint events.
    virtual void yield() = 0;
    // Opens an address in the user's browser; reports nothing on failure.
    virtual void openUrl(const std::string& address) = 0;
    // The folder browser, modal over this window, with `prompt` as its
    // title. The chosen folder's full path (a drive root keeps its
    // separator), or the empty text when nothing was chosen.
    virtual std::string browseForFolder(const std::string& prompt) = 0;
    virtual MsgResult messageBox(const std::string& text, const std::string& title, MsgButtons buttons,
                                 MsgIcon icon) = 0;
};

// 24-bit colours as 0xRRGGBB.
inline constexpr unsigned kWhite = 0xFFFFFF;
inline constexpr unsigned kLightYellow = 0xFFFFC0;
inline constexpr unsigned kConvertingGreen = 0x008000;

}  // namespace tavrin::wizard
