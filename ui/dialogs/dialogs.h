// The real dialogs of the Qt wizard: message boxes, the folder browser, the
// save dialog and help pages in the browser.
#pragma once

#include <QString>

#include <memory>
#include <string>

#include "engine/wizard/form.h"

namespace tavrin::ui {

std::unique_ptr<wizard::Dialogs> MakeDialogs();

// "Outlook Data File(s) (*.pst)|*.pst" as Qt's name filter
// "Outlook Data File(s) (*.pst)"; pairs separated by "|" in turn.
QString QtNameFilters(const std::string& filter);

}  // namespace tavrin::ui
