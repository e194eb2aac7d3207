#include "ui/win32/common/message_loop.h"

#include "ui/win32/common/window.h"

namespace tavrin::ui::win32 {

void DeliverMessage(MSG& message) {
    HWND root = message.hwnd ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root && Window::IsWizardWindow(root) && ::IsDialogMessageW(root, &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

bool PumpOneMessage() {
    MSG message;
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
        return false;
    }
    if (got == -1) return false;
    DeliverMessage(message);
    return true;
}

bool DeliverPendingMessages() {
    MSG message;
    for (int i = 0; i < 500 && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        DeliverMessage(message);
    }
    return true;
}

int RunMessageLoop() {
    MSG message;
    BOOL got;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) return 1;
        DeliverMessage(message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace tavrin::ui::win32
