// What the native wizard's tests share: dialogs that answer from a script
// instead of waiting for a user, a way to act on a modal window once it is
// shown, clicks as a user makes them (sent to the controls as messages), and
// generated message folders.
#pragma once

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "ui/win32/common/message_loop.h"
#include "ui/win32/common/window.h"
#include "ui/win32/dialogs/dialogs.h"

namespace tavrin::ui::win32::testing {

namespace fsys = std::filesystem;
using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

struct Box {
    std::string text, title;
    MsgButtons buttons;
    MsgIcon icon;
    HWND owner;
};

// Answers every dialog at once from what the test put in.
struct FakeDialogs : Dialogs {
    std::deque<std::string> folders;  // browseForFolder answers in turn; none left: cancelled
    std::vector<std::string> prompts;
    std::vector<HWND> browseOwners;
    std::vector<Box> boxes;
    std::function<MsgResult(const Box&)> answer;  // default: Yes to a question
    std::optional<std::string> savePath;          // nullopt: the save dialog is cancelled
    std::vector<std::string> saveFilters, saveProposals;
    std::vector<HWND> saveOwners;
    std::function<void()> onSave;
    std::vector<std::string> urls;

    MsgResult messageBox(HWND owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
        boxes.push_back({text, title, buttons, icon, owner});
        if (answer) return answer(boxes.back());
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    }
    std::string browseForFolder(HWND owner, const std::string& prompt) override {
        prompts.push_back(prompt);
        browseOwners.push_back(owner);
        if (folders.empty()) return {};
        std::string f = folders.front();
        folders.pop_front();
        return f;
    }
    std::optional<std::string> saveFile(HWND owner, const std::string& filter, const std::string& proposedName,
                                        bool& replaceConfirmed) override {
        saveOwners.push_back(owner);
        saveFilters.push_back(filter);
        saveProposals.push_back(proposedName);
        replaceConfirmed = false;
        if (onSave) onSave();
        return savePath;
    }
    void openUrl(const std::string& address) override { urls.push_back(address); }
};

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

// Runs `step` with the modal window of type T as soon as it is the
// innermost modal window. A test that never gets there fails after 20 s and
// hides the modal windows, so that it cannot hang.
template <class T>
void WhenModal(std::function<void(T&)> step) {
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    auto id = std::make_shared<UINT_PTR>(0);
    *id = EveryTick([step, deadline, id] {
        const auto& modal = Window::ModalWindows();
        if (!modal.empty()) {
            if (auto* w = dynamic_cast<T*>(modal.back()); w && w->isVisible()) {
                StopTick(*id);
                step(*w);
                return false;
            }
        }
        if (::GetTickCount64() > deadline) {
            StopTick(*id);
            ADD_FAILURE() << "no modal " << typeid(T).name() << " appeared";
            for (Window* m : Window::ModalWindows()) m->closeForEnd();
        }
        return false;
    });
}

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

// ---- Message folders -------------------------------------------------------

inline void WriteMsg(const fsys::path& p, const std::string& subject) {
    fsys::create_directories(p.parent_path());
    tavrin::testing::MessageBuilder m;
    m.unicode(store::makeTag(store::tags::PidTagSubject, store::PT_UNICODE), subject);
    const store::Bytes b = m.file();
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A temporary folder of the test, removed afterwards.
class TempDir {
public:
    explicit TempDir(const std::string& tag)
        : path_(fsys::temp_directory_path() /
                ("tavrin-win32-" + tag + "-" + std::to_string(::GetCurrentProcessId()))) {
        fsys::remove_all(path_);
        fsys::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fsys::remove_all(path_, ec);
    }
    const fsys::path& path() const { return path_; }

private:
    fsys::path path_;
};

// True when windows can be made (under wine: a display is there). Tests
// skip without one, unless TAVRIN_REQUIRE_DISPLAY is set (as in CI), where
// a missing display is a failure.
inline bool HaveDisplay() {
    static const bool have = [] {
        HWND w = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        if (w) ::DestroyWindow(w);
        return w != nullptr;
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
