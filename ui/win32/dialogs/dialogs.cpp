#include "ui/win32/dialogs/dialogs.h"

#include "ui/win32/common/look.h"
#include "ui/win32/registry/registry.h"

namespace tavrin::ui::win32 {

using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

UINT MessageBoxStyle(MsgButtons buttons, MsgIcon icon) {
    UINT style = buttons == MsgButtons::YesNo ? MB_YESNO : MB_OK;
    switch (icon) {
    case MsgIcon::Information: style |= MB_ICONINFORMATION; break;
    case MsgIcon::Question: style |= MB_ICONQUESTION; break;
    case MsgIcon::Warning: style |= MB_ICONWARNING; break;
    case MsgIcon::None: break;
    }
    return style;
}

MsgResult Win32Dialogs::messageBox(HWND owner, const std::string& text, const std::string& title,
                                   MsgButtons buttons, MsgIcon icon) {
    const int r = ::MessageBoxW(owner, W(text).c_str(), W(title).c_str(), MessageBoxStyle(buttons, icon));
    if (buttons == MsgButtons::YesNo) return r == IDYES ? MsgResult::Yes : MsgResult::No;
    return MsgResult::Ok;
}

std::string Win32Dialogs::browseForFolder(HWND owner, const std::string& prompt) {
    return BrowseForFolder(owner, prompt);
}

std::optional<std::string> Win32Dialogs::saveFile(HWND owner, const std::string& filter,
                                                  const std::string& proposedName, bool& replaceConfirmed) {
    return SaveFileDialog(owner, filter, proposedName, replaceConfirmed);
}

void Win32Dialogs::openUrl(const std::string& address) { OpenUrl(address); }

}  // namespace tavrin::ui::win32
