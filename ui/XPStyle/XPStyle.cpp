#include "ui/XPStyle/XPStyle.h"

#include <QPainter>
#include <QResizeEvent>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "ui/common/look.h"

namespace tavrin::ui {

XPStyle::XPStyle(QWidget* parent) : QWidget(parent) {
#ifdef _WIN32
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
