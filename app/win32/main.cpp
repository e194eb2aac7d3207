// The native Windows wizard's entry point: it creates and shows the start
// window and runs the message loop. There is no other start-up code.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "engine/help_site.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "ui/win32/common/message_loop.h"
#include "ui/win32/common/window.h"
#include "ui/win32/dialogs/dialogs.h"
#include "ui/win32/registry/registry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace tavrin::ui::win32;
    // COM, single-threaded, for the shell's folder browser and ShellExecute.
    const HRESULT ole = ::OleInitialize(nullptr);
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);
    // The help pages beside the program.
    const std::string help = FindHelpFolder(ProgramFolder());
    if (!help.empty()) tavrin::engine::SetHelpSite(HelpSiteFor(help));

    int code = 0;
    {
        const auto toolkit = MakeToolkit();
        const auto dialogs = MakeDialogs();
        tavrin::wizard::Wizard wizard(*toolkit, *dialogs);
        wizard.start().show();
        code = RunMessageLoop();
    }
    if (SUCCEEDED(ole)) ::OleUninitialize();
    return code;
}
