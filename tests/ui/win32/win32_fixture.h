// What the native wizard's tests share besides the made-up dialogs and
// message folders: a way to act on a modal window once it is shown, clicks
// as a user makes them (sent to the controls as messages), and what a
// control shows.
#pragma once

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/engine/wizard/wizard_fakes.h"
#include "ui/win32/common/message_loop.h"
#include "ui/win32/common/window.h"

namespace tavrin::ui::win32::testing {

using namespace tavrin::wizard::testing;
using wizard::MsgButtons;
using wizard::MsgIcon;
using wizard::MsgResult;

// ---- Timers that act while a modal window's loop runs ----------------------

struct TimerStep {
    std::function<void()> run;
    bool running = false;
};

inline std::map<UINT_PTR, TimerStep>& TimerSteps() {
    static std::map<UINT_PTR, TimerStep> steps;
    return steps;
}

inline void StopTick(UINT_PTR id) {
    ::KillTimer(nullptr, id);
    TimerSteps().erase(id);
}

inline void CALLBACK RunTimerStep(HWND, UINT, UINT_PTR id, DWORD) {
    auto it = TimerSteps().find(id);
    // A step that delivers messages itself is not entered again meanwhile.
    if (it == TimerSteps().end() || it->second.running) return;
    it->second.running = true;
    std::function<void()> run = it->second.run;  // the step may add or end timers
    run();
    it = TimerSteps().find(id);
    if (it != TimerSteps().end()) it->second.running = false;
}

// Calls `tick` every few milliseconds from the message loop until it
// returns true. Returns the timer's id.
inline UINT_PTR EveryTick(std::function<bool()> tick) {
    const UINT_PTR id = ::SetTimer(nullptr, 0, 1, &RunTimerStep);
    TimerSteps()[id].run = [id, tick] {
        if (tick()) StopTick(id);
    };
    return id;
}

// Runs `step` with the window of that name as soon as it is the innermost
// modal window. A test that never gets there fails after 20 s and hides the
// modal windows, so that it cannot hang.
inline void WhenModal(const std::string& name, std::function<void(Window&)> step) {
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    auto id = std::make_shared<UINT_PTR>(0);
    *id = EveryTick([step, deadline, id, name] {
        const auto& modal = Window::ModalWindows();
        if (!modal.empty() && modal.back()->name() == name && modal.back()->isShown()) {
            StopTick(*id);
            step(*modal.back());
            return false;
        }
        if (::GetTickCount64() > deadline) {
            StopTick(*id);
            ADD_FAILURE() << "no modal " << name << " appeared";
            for (Window* m : Window::ModalWindows()) m->hide();
        }
        return false;
    });
}

// The window of a wizard window.
inline Window& Win(wizard::Form& form) { return *WindowOf(&form); }

// ---- A user's clicks ---------------------------------------------------------

// A control of a window by its name; the test fails when there is none.
inline HWND Control(const Window& w, const char* name) {
    HWND h = w.control(name);
    EXPECT_NE(h, nullptr) << w.name() << "." << name;
    return h;
}

// True when a user could click the control: it and its window are shown and
// take input.
inline bool Clickable(HWND control) {
    HWND root = ::GetAncestor(control, GA_ROOT);
    return control && ::IsWindowEnabled(control) && ::IsWindowVisible(control) && root && ::IsWindowEnabled(root) &&
           ::IsWindowVisible(root);
}

// Presses a button, option button or check box as a mouse click does
// (BM_CLICK). A control the user could not click is left alone.
inline bool Click(const Window& w, const char* name) {
    HWND b = Control(w, name);
    if (!Clickable(b)) return false;
    ::SendMessageW(b, BM_CLICK, 0, 0);
    return true;
}

// Clicks a label (a help link) with the left mouse button.
inline bool ClickLabel(const Window& w, const char* name) {
    HWND l = Control(w, name);
    if (!Clickable(l)) return false;
    ::SendMessageW(l, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    ::SendMessageW(l, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    return true;
}

// Delivers the messages that are waiting (timers, paints, posted input).
inline void Settle(int rounds = 5) {
    for (int i = 0; i < rounds; ++i) {
        DeliverPendingMessages();
        ::Sleep(1);
    }
}

inline std::wstring TextOf(HWND h) {
    wchar_t buffer[1024] = {};
    ::GetWindowTextW(h, buffer, 1024);
    return buffer;
}

inline LOGFONTW FontOf(HWND h) {
    LOGFONTW lf{};
    HFONT f = reinterpret_cast<HFONT>(::SendMessageW(h, WM_GETFONT, 0, 0));
    if (f) ::GetObjectW(f, sizeof lf, &lf);
    return lf;
}

inline bool IsBold(HWND h) { return FontOf(h).lfWeight >= FW_BOLD; }

inline bool Checked(HWND h) { return ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The client area's size in pixels.
inline SIZE ClientSize(HWND h) {
    RECT r{};
    ::GetClientRect(h, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

// The room a control's caption needs in a font, and the room it has.
struct Fit {
    SIZE need, room;
};

inline Fit Measure(HWND control, wizard::Kind kind, const wizard::FontSpec& font, int dpi) {
    using wizard::Kind;
    RECT r{};
    ::GetClientRect(control, &r);
    const std::wstring text = TextOf(control);
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, Font(font, dpi));
    RECT calc{0, 0, r.right, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX;
    if (kind == Kind::WrappedLabel || kind == Kind::PathLabel) flags |= DT_WORDBREAK;
    else flags |= DT_SINGLELINE;
    if (kind == Kind::Button || kind == Kind::Option || kind == Kind::CheckBox || kind == Kind::Frame)
        flags &= ~static_cast<UINT>(DT_NOPREFIX);
    ::DrawTextW(dc, text.c_str(), -1, &calc, flags);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    SIZE need{calc.right, calc.bottom};
    SIZE room{r.right, r.bottom};
    const int px = Px(15 * 4, dpi);  // 4 pixels at 96 dots per inch
    switch (kind) {
    case Kind::Button: room.cx -= 2 * px; break;  // the button's edges and focus frame
    case Kind::Option:
    case Kind::CheckBox: room.cx -= Px(15 * 17, dpi); break;  // the box or circle and its gap
    case Kind::Frame: room.cx -= 4 * px; break;
    default: break;
    }
    return {need, room};
}

// True when windows can be made (under wine: a display is there). Tests
// skip without one, unless TAVRIN_REQUIRE_DISPLAY is set (as in CI), where
// a missing display is a failure.
inline bool HaveDisplay() {
    // A few tries: under wine on a loaded machine the first window of a
    // program can fail while its X connection comes up.
    static const bool have = [] {
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt) ::Sleep(200);
            HWND w = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
            if (w) {
                ::DestroyWindow(w);
                return true;
            }
        }
        return false;
    }();
    return have;
}

#define TAVRIN_NEED_DISPLAY()                                                                      \
    do {                                                                                           \
        if (!::tavrin::ui::win32::testing::HaveDisplay()) {                                        \
            if (std::getenv("TAVRIN_REQUIRE_DISPLAY")) FAIL() << "no display for the windows";     \
            GTEST_SKIP() << "no display for the windows (run under Xvfb: scripts/build-windows)"; \
        }                                                                                          \
    } while (0)

}  // namespace tavrin::ui::win32::testing
