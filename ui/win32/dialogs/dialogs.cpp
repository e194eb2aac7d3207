#include "ui/win32/dialogs/dialogs.h"

#include "ui/win32/common/window.h"
#include "ui/win32/registry/registry.h"

namespace tavrin::ui::win32 {

using wizard::MsgButtons;
using wizard::MsgIcon;
using wizard::MsgResult;

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

namespace {

HWND HandleOf(wizard::Form* form) {
    const Window* w = WindowOf(form);
    return w ? w->hwnd() : nullptr;
}

class Win32Dialogs : public wizard::Dialogs {
public:
    MsgResult messageBox(wizard::Form* owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
        const int r =
            ::MessageBoxW(HandleOf(owner), W(text).c_str(), W(title).c_str(), MessageBoxStyle(buttons, icon));
        if (buttons == MsgButtons::YesNo) return r == IDYES ? MsgResult::Yes : MsgResult::No;
        return MsgResult::Ok;
    }
    std::string browseForFolder(wizard::Form* owner, const std::string& prompt,
                                const std::string& startFolder) override {
        return BrowseForFolder(HandleOf(owner), prompt, startFolder);
    }
    std::optional<std::string> saveFile(wizard::Form* owner, const std::string& filter,
                                        const std::string& proposedName, bool& replaceConfirmed) override {
        return SaveFileDialog(HandleOf(owner), filter, proposedName, replaceConfirmed);
    }
    void openUrl(const std::string& address) override { OpenUrl(address); }
};

}  // namespace

std::unique_ptr<wizard::Dialogs> MakeDialogs() { return std::make_unique<Win32Dialogs>(); }

}  // namespace tavrin::ui::win32
