// The real dialogs of the native wizard: message boxes, the shell's folder
// browser, the common save dialog and help pages in the browser.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <memory>

#include "engine/wizard/form.h"

namespace tavrin::ui::win32 {

std::unique_ptr<wizard::Dialogs> MakeDialogs();

// The MessageBoxW style of a box: its buttons and icon.
UINT MessageBoxStyle(wizard::MsgButtons buttons, wizard::MsgIcon icon);

}  // namespace tavrin::ui::win32
