#include "ui/XPStyle/XPStyle.h"

#include <QPainter>
#include <QResizeEvent>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>
#endif

#include "ui/common/look.h"

namespace tavrin::ui {

XPStyle::XPStyle(QWidget* parent) : QWidget(parent) {
#ifdef _WIN32
    // The extended combo box class of the common controls, then shell32,
    // kept loaded for the control's lifetime.
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;  // 8
    icc.dwICC = ICC_USEREX_CLASSES;
    ::InitCommonControlsEx(&icc);
    shell32_ = ::LoadLibraryW(L"shell32.dll");
#endif
    setFixedSize(kSide, kSide);
}

XPStyle::~XPStyle() {
#ifdef _WIN32
    if (shell32_) ::FreeLibrary(static_cast<HMODULE>(shell32_));
#endif
}

void XPStyle::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (e->size() != QSize(kSide, kSide)) resize(kSide, kSide);
}

void XPStyle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawPixmap(QRect(0, 0, kSide, kSide), AppIcon().pixmap(48, 48));
}

}  // namespace tavrin::ui
