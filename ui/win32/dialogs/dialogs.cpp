#include "ui/win32/dialogs/dialogs.h"

#include <commctrl.h>

#include "ui/win32/common/window.h"
#include "ui/win32/registry/registry.h"

namespace tavrin::ui::win32 {

using wizard::MsgButtons;
using wizard::MsgIcon;
using wizard::MsgResult;

UINT MessageBoxStyle(MsgButtons buttons, MsgIcon icon) {
    UINT style = buttons == MsgButtons::YesNo ? MB_YESNO : buttons == MsgButtons::AddReplaceCancel ? MB_YESNOCANCEL : MB_OK;
    switch (icon) {
    case MsgIcon::Information: style |= MB_ICONINFORMATION; break;
    case MsgIcon::Question: style |= MB_ICONQUESTION; break;
    case MsgIcon::Warning: style |= MB_ICONWARNING; break;
    case MsgIcon::None: break;
    }
    return style;
}

MsgResult MessageBoxAnswer(MsgButtons buttons, int pressed) {
    switch (buttons) {
    case MsgButtons::YesNo: return pressed == IDYES ? MsgResult::Yes : MsgResult::No;
    case MsgButtons::AddReplaceCancel:
        return pressed == IDYES ? MsgResult::Add : pressed == IDNO ? MsgResult::Replace : MsgResult::Cancel;
    case MsgButtons::Ok: break;
    }
    return MsgResult::Ok;
}

namespace {

// "Add to it" (the default), "Replace it", "Cancel" in a task dialog, when
// the common controls of version 6 are active (the program's manifest asks
// for them); else 0 and the caller shows a message box.
int AddReplaceCancelTaskDialog(HWND owner, const std::string& text, const std::string& title, MsgIcon icon) {
    using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
    auto taskDialog =
        comctl ? reinterpret_cast<TaskDialogIndirectFn>(
                     reinterpret_cast<void*>(::GetProcAddress(comctl, "TaskDialogIndirect")))
               : nullptr;
    if (!taskDialog) return 0;
    const std::wstring wtext = W(text), wtitle = W(title);
    const TASKDIALOG_BUTTON buttons[] = {{IDYES, L"&Add to it"}, {IDNO, L"&Replace it"}};
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = owner;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = wtitle.c_str();
    config.pszMainIcon = icon == MsgIcon::Warning ? TD_WARNING_ICON
                         : icon == MsgIcon::Information ? TD_INFORMATION_ICON : nullptr;
    config.pszContent = wtext.c_str();
    config.cButtons = 2;
    config.pButtons = buttons;
    config.nDefaultButton = IDYES;
    int pressed = 0;
    if (FAILED(taskDialog(&config, &pressed, nullptr, nullptr))) return 0;
    return pressed;
}

HWND HandleOf(wizard::Form* form) {
    const Window* w = WindowOf(form);
    return w ? w->hwnd() : nullptr;
}

class Win32Dialogs : public wizard::Dialogs {
public:
    MsgResult messageBox(wizard::Form* owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
        if (buttons == MsgButtons::AddReplaceCancel) {
            if (const int r = AddReplaceCancelTaskDialog(HandleOf(owner), text, title, icon))
                return MessageBoxAnswer(buttons, r);
            // Without the task dialog the buttons are Yes, No and Cancel, and the text says which is which.
            const std::string said = text + "\r\n\r\nYes: add to it.\r\nNo: replace it.";
            return MessageBoxAnswer(buttons, ::MessageBoxW(HandleOf(owner), W(said).c_str(), W(title).c_str(),
                                                           MessageBoxStyle(buttons, icon)));
        }
        const int r =
            ::MessageBoxW(HandleOf(owner), W(text).c_str(), W(title).c_str(), MessageBoxStyle(buttons, icon));
        return MessageBoxAnswer(buttons, r);
    }
    std::string browseForFolder(wizard::Form* owner, const std::string& prompt,
                                const std::string& startFolder) override {
        return BrowseForFolder(HandleOf(owner), prompt, startFolder);
    }
    std::optional<std::string> saveFile(wizard::Form* owner, const std::string& filter,
                                        const std::string& proposedName) override {
        return SaveFileDialog(HandleOf(owner), filter, proposedName);
    }
    void openUrl(const std::string& address) override { OpenUrl(address); }
};

}  // namespace

std::unique_ptr<wizard::Dialogs> MakeDialogs() { return std::make_unique<Win32Dialogs>(); }

}  // namespace tavrin::ui::win32
