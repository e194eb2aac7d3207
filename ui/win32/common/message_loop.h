// The native wizard's message pumping: the program's loop, the yield of long
// work and the loops of modal windows all deliver messages the same way, so
// that Tab, the arrow keys and the access keys (Alt+N) work in every window.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tavrin::ui::win32 {

// Hands one message to its window: the keyboard navigation of the wizard
// window it belongs to first, then translation and dispatch.
void DeliverMessage(MSG& message);

// Waits for one message and delivers it. False when WM_QUIT arrived; the
// quit is posted again so that every enclosing loop ends too.
bool PumpOneMessage();

// Delivers the messages that are pending now, without waiting (at most a
// few hundred, so that a fast timer cannot keep it going). False when
// WM_QUIT arrived (posted again).
bool DeliverPendingMessages();

// The program's loop: runs until WM_QUIT and returns its exit code.
int RunMessageLoop();

}  // namespace tavrin::ui::win32
