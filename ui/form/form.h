// The Qt toolkit of the wizard: windows built from their layouts with Qt
// Widgets, the yield and the end of the event loop.
#pragma once

#include <QWidget>

#include <memory>

#include "engine/wizard/form.h"

namespace tavrin::ui {

std::unique_ptr<wizard::Toolkit> MakeToolkit();

// The window of a form that the Qt toolkit made (null for none or another
// form). Its controls are its children named as in the layout.
QWidget* WidgetOf(const wizard::Form* form);

}  // namespace tavrin::ui
