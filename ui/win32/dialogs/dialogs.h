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

// The MessageBoxW style of a box: its buttons and icon. AddReplaceCancel is
// Yes (add to it), No (replace it) and Cancel where the task dialog with
// those three buttons is not available (comctl32 before version 6).
UINT MessageBoxStyle(wizard::MsgButtons buttons, wizard::MsgIcon icon);
// The answer of a box from the button pressed (IDYES, IDNO, IDCANCEL, IDOK;
// the task dialog's buttons use the same numbers).
wizard::MsgResult MessageBoxAnswer(wizard::MsgButtons buttons, int pressed);

}  // namespace tavrin::ui::win32
