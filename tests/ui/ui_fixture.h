// What the Qt wizard tests share besides the made-up dialogs and message
// folders: a way to act on a modal window once it is shown, and the
// controls of a window by their names.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "tests/engine/wizard/wizard_fakes.h"
#include "ui/form/form.h"

namespace tavrin::ui::testing {

using namespace tavrin::wizard::testing;
using wizard::MsgButtons;
using wizard::MsgIcon;
using wizard::MsgResult;

// Runs `step` with the modal window of type T (and, when given, of that
// object name) as soon as it is the active modal window. A test that never
// gets there fails after 20 s and closes the modal windows, so that it
// cannot hang.
template <class T>
void WhenModal(std::function<void(T&)> step, const char* name = nullptr) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, step, name] {
        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (w && w->isVisible() && (!name || w->objectName() == QLatin1String(name))) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            step(*w);
            return;
        }
        if (clock->elapsed() > 20000) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal " << (name ? name : T::staticMetaObject.className()) << " appeared";
            while (QWidget* m = QApplication::activeModalWidget()) m->close();
        }
    });
    timer->start();
}

// The window of a wizard window.
inline QWidget& W(wizard::Form& form) { return *WidgetOf(&form); }

template <class T = QWidget>
T* Child(QWidget& window, const char* name) {
    T* c = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << name;
    return c;
}

inline void Click(QWidget& window, const char* name) {
    if (auto* b = Child<QAbstractButton>(window, name)) b->click();
}

}  // namespace tavrin::ui::testing
