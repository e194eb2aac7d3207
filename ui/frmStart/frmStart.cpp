#include "ui/frmStart/frmStart.h"

namespace tavrin::ui {

frmStart::frmStart(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QStringLiteral("Tavrin MSG to PST Converter v6.4"));
    resize(618, 472);
}

}  // namespace tavrin::ui
