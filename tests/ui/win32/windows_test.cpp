// The native wizard's windows as a user meets them: start states,
// navigation and modality, the folder choices, the list and its select-all
// box, and the status window's buttons through real runs. Buttons are
// pressed by sending them BM_CLICK, keys by posting them to the message
// loop; every dialog is answered by FakeDialogs.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/help_site.h"
#include "tests/ui/win32/win32_fixture.h"
#include "ui/win32/frmMigateAll/frmMigateAll.h"
#include "ui/win32/frmMultiple/frmMultiple.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/frmStart/frmStart.h"
#include "ui/win32/wizard/wizard.h"

namespace tavrin::ui::win32 {
namespace {

using namespace tavrin::ui::win32::testing;

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        TAVRIN_NEED_DISPLAY();
        wizard_ = std::make_unique<Wizard>(dialogs_);
        wizard_->onEndProgram = [this] { ++ended_; };
    }
    void TearDown() override { wizard_.reset(); }
    frmStart& start() { return wizard_->start(); }
    // The wizard goes to the multiple-folder window as a user gets there.
    frmMultiple& toList() {
        start().show();
        Click(start(), "OptMultiple");
        Click(start(), "CmdNext");
        EXPECT_NE(wizard_->multipleIfCreated(), nullptr);
        return wizard_->multiple();
    }
    static HWND owner(const Window& w) { return ::GetWindow(w.hwnd(), GW_OWNER); }

    FakeDialogs dialogs_;
    std::unique_ptr<Wizard> wizard_;
    int ended_ = 0;
};

// The names of the controls that Tab visits, from `first`.
std::vector<std::string> FocusOrder(const Window& w, HWND first, int count) {
    std::vector<std::string> order;
    HWND c = first;
    for (int i = 0; i < count && c; ++i) {
        const ControlInfo* info = w.info(c);
        order.push_back(info ? info->name : "?");
        c = ::GetNextDlgTabItem(w.hwnd(), c, FALSE);
    }
    return order;
}

// Presses a key with Alt held, as the keyboard delivers it to the focused
// control, and lets the message loop handle it.
void AltKey(HWND focus, wchar_t key) {
    ::PostMessageW(focus, WM_SYSKEYDOWN, ::VkKeyScanW(key) & 0xFF, 0x20000001);
    ::PostMessageW(focus, WM_SYSCHAR, key, 0x20000001);
    ::PostMessageW(focus, WM_SYSKEYUP, ::VkKeyScanW(key) & 0xFF, 0xE0000001);
}

void Key(HWND focus, UINT vk) {
    ::PostMessageW(focus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
}

// ---- Start window ----------------------------------------------------------

TEST_F(Windows, StartWindowOpensWithSingleSelectedAndBoldAtItsSize) {
    frmStart& s = start();
    s.show();
    EXPECT_EQ(TextOf(s.hwnd()), L"Tavrin MSG to PST Converter v6.4");
    EXPECT_EQ(ClientSize(s.hwnd()).cx, 618);
    EXPECT_EQ(ClientSize(s.hwnd()).cy, 472);
    EXPECT_TRUE(Checked(Control(s, "OptSingle")));
    EXPECT_FALSE(Checked(Control(s, "OptMultiple")));
    EXPECT_TRUE(IsBold(Control(s, "OptSingle")));
    EXPECT_FALSE(IsBold(Control(s, "OptMultiple")));
    EXPECT_EQ(TextOf(Control(s, "CmdNext")), L"&Next >");
    EXPECT_EQ(TextOf(Control(s, "CmdHelp")), L"&Help Manual");
    EXPECT_TRUE(IsBold(Control(s, "lblTitle")));
    EXPECT_EQ(std::wstring(FontOf(Control(s, "lblTitle")).lfFaceName), L"Tahoma");
    EXPECT_NE(::SendMessageW(s.hwnd(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_EQ(::GetFocus(), Control(s, "OptSingle"));
    // Centred on the screen.
    RECT r{};
    ::GetWindowRect(s.hwnd(), &r);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(::MonitorFromWindow(s.hwnd(), MONITOR_DEFAULTTOPRIMARY), &mi);
    EXPECT_NEAR((r.left + r.right) / 2, (mi.rcWork.left + mi.rcWork.right) / 2, 1);
    EXPECT_NEAR((r.top + r.bottom) / 2, (mi.rcWork.top + mi.rcWork.bottom) / 2, 1);
}

TEST_F(Windows, StartFocusRunsFromTheOptionsToNextThenHelp) {
    frmStart& s = start();
    // Tab visits the option pair as one stop, then "&Next >" and "&Help
    // Manual"; the arrow keys move inside the pair.
    EXPECT_EQ(FocusOrder(s, Control(s, "OptSingle"), 4),
              (std::vector<std::string>{"OptSingle", "CmdNext", "CmdHelp", "OptSingle"}));
    EXPECT_EQ(::GetNextDlgGroupItem(s.hwnd(), Control(s, "OptSingle"), FALSE), Control(s, "OptMultiple"));
    EXPECT_EQ(::GetNextDlgGroupItem(s.hwnd(), Control(s, "OptMultiple"), FALSE), Control(s, "OptSingle"));
}

TEST_F(Windows, ChoosingAnOptionOnlyMovesTheBoldAndClickingItAgainKeepsIt) {
    frmStart& s = start();
    s.show();
    Click(s, "OptMultiple");
    EXPECT_TRUE(Checked(Control(s, "OptMultiple")));
    EXPECT_FALSE(Checked(Control(s, "OptSingle")));
    EXPECT_TRUE(IsBold(Control(s, "OptMultiple")));
    EXPECT_FALSE(IsBold(Control(s, "OptSingle")));
    Click(s, "OptMultiple");
    EXPECT_TRUE(Checked(Control(s, "OptMultiple")));
    EXPECT_TRUE(IsBold(Control(s, "OptMultiple")));
    EXPECT_FALSE(IsBold(Control(s, "OptSingle")));
    Click(s, "OptSingle");
    EXPECT_TRUE(IsBold(Control(s, "OptSingle")));
    EXPECT_FALSE(IsBold(Control(s, "OptMultiple")));
    EXPECT_EQ(wizard_->singleIfCreated(), nullptr);
    EXPECT_EQ(wizard_->multipleIfCreated(), nullptr);
}

TEST_F(Windows, AltNOnTheStartWindowPressesNext) {
    frmStart& s = start();
    s.show();
    bool seen = false;
    WhenModal<frmSingle>([&](frmSingle& f) {
        seen = true;
        ::SendMessageW(f.hwnd(), WM_CLOSE, 0, 0);
    });
    AltKey(Control(s, "OptSingle"), L'n');
    for (int i = 0; i < 200 && !seen; ++i) Settle(1);
    EXPECT_TRUE(seen);
}

TEST_F(Windows, ClosingTheStartWindowAsksAndNoKeepsItOpen) {
    frmStart& s = start();
    s.show();
    dialogs_.answer = [](const Box&) { return MsgResult::No; };
    ::SendMessageW(s.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(s.isVisible());
    EXPECT_EQ(ended_, 0);
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Are you sure you want to exit now?");
    EXPECT_EQ(dialogs_.boxes[0].title, "Tavrin MSG to PST Converter");
    EXPECT_EQ(dialogs_.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Question);
    EXPECT_EQ(dialogs_.boxes[0].owner, s.hwnd());
}

TEST_F(Windows, YesEndsTheProgramWithTheListWindowLoaded) {
    frmMultiple& m = toList();
    m.showStart();  // as "< Bac&k" does, but with the list window left open
    ::SendMessageW(start().hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(ended_, 1);
    EXPECT_FALSE(m.isVisible());
    EXPECT_FALSE(start().isVisible());
    EXPECT_EQ(dialogs_.boxes.size(), 1u);  // closing the list window asked nothing
}

TEST_F(Windows, YesPostsTheQuitThatEndsTheMessageLoop) {
    Wizard real(dialogs_);  // ends the program as the program does
    real.start().show();
    ::SendMessageW(real.start().hwnd(), WM_CLOSE, 0, 0);
    MSG m{};
    bool quit = false;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (m.message == WM_QUIT) quit = true;
    EXPECT_TRUE(quit);
    EXPECT_FALSE(real.start().isVisible());
}

TEST_F(Windows, NextWithoutTouchingTheOptionsOpensTheSingleWindowModallyOverTheStart) {
    frmStart& s = start();
    s.show();
    bool seen = false;
    WhenModal<frmSingle>([&](frmSingle& f) {
        seen = true;
        EXPECT_TRUE(s.isVisible());
        EXPECT_FALSE(::IsWindowEnabled(s.hwnd()));  // takes no input meanwhile
        EXPECT_EQ(owner(f), s.hwnd());
        EXPECT_EQ(TextOf(f.hwnd()), L"Single Folder Conversion Mode");
        EXPECT_EQ(ClientSize(f.hwnd()).cx, 579);
        EXPECT_EQ(ClientSize(f.hwnd()).cy, 250);
        EXPECT_EQ(::GetFocus(), Control(f, "CmdAddFolder"));
        // Centred on the start window.
        RECT a{}, b{};
        ::GetWindowRect(f.hwnd(), &a);
        ::GetWindowRect(s.hwnd(), &b);
        EXPECT_NEAR(a.left + a.right, b.left + b.right, 2);
        EXPECT_FALSE(Click(s, "CmdNext"));  // the start window waits
        ::SendMessageW(f.hwnd(), WM_CLOSE, 0, 0);
    });
    Click(s, "CmdNext");
    EXPECT_TRUE(seen);
    // Closing it returns to the start window, unchanged and taking input.
    EXPECT_TRUE(s.isVisible());
    EXPECT_TRUE(::IsWindowEnabled(s.hwnd()));
    EXPECT_TRUE(Checked(Control(s, "OptSingle")));
}

TEST_F(Windows, MultipleThenBackKeepsTheChoiceAndTheSameListWindow) {
    TempDir dir("back");
    fsys::create_directories(dir.path() / "Root" / "Alice");
    fsys::create_directories(dir.path() / "Root" / "Bob");
    frmMultiple& m = toList();
    EXPECT_TRUE(m.isVisible());
    EXPECT_FALSE(start().isVisible());
    EXPECT_EQ(owner(m), nullptr);
    dialogs_.folders = {(dir.path() / "Root").string(), (dir.path() / "Out").string()};
    Click(m, "CmdAddFolder");
    Click(m, "cmdChange");
    m.setRowChecked(1, true);
    Click(m, "cmdBack");
    EXPECT_TRUE(start().isVisible());
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(Checked(Control(start(), "OptMultiple")));
    EXPECT_TRUE(IsBold(Control(start(), "OptMultiple")));
    Click(start(), "CmdNext");
    EXPECT_EQ(wizard_->multipleIfCreated(), &m);
    EXPECT_TRUE(m.isVisible());
    ASSERT_EQ(m.rowCount(), 2);
    EXPECT_FALSE(m.rowChecked(0));
    EXPECT_TRUE(m.rowChecked(1));
    EXPECT_EQ(m.outputFolder(), (dir.path() / "Out").string());
}

TEST_F(Windows, ClosingTheListWindowGoesBackToTheStartWindow) {
    frmMultiple& m = toList();
    ::SendMessageW(m.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(m.isVisible());
    EXPECT_TRUE(start().isVisible());
    EXPECT_TRUE(dialogs_.boxes.empty());
}

// ---- Single-folder window --------------------------------------------------

TEST_F(Windows, SingleNextIsDisabledUntilAFolderIsChosenAndACancelKeepsTheChoice) {
    TempDir dir("single");
    fsys::create_directories(dir.path() / "Mail");
    frmSingle& f = wizard_->single();
    ::ShowWindow(f.hwnd(), SW_SHOW);
    HWND next = Control(f, "CmdNext");
    EXPECT_FALSE(::IsWindowEnabled(next));
    EXPECT_TRUE(TextOf(Control(f, "txtSourceMailbox")).empty());
    EXPECT_FALSE(Click(f, "CmdNext"));  // disabled: nothing happens
    EXPECT_EQ(wizard_->statusIfCreated(), nullptr);
    Click(f, "CmdAddFolder");  // cancelled
    EXPECT_FALSE(::IsWindowEnabled(next));
    const std::string mail = (dir.path() / "Mail").string();
    dialogs_.folders = {mail};
    Click(f, "CmdAddFolder");
    EXPECT_TRUE(::IsWindowEnabled(next));
    EXPECT_EQ(f.sourceMailbox(), mail);
    Click(f, "CmdAddFolder");  // cancelled again
    EXPECT_TRUE(::IsWindowEnabled(next));
    EXPECT_EQ(f.sourceMailbox(), mail);
    EXPECT_EQ(dialogs_.prompts, (std::vector<std::string>(3, "Choose Source Folder...")));
    EXPECT_EQ(dialogs_.browseOwners.back(), f.hwnd());
    // Tab visits "Select...", "&Next >" and the folder box.
    EXPECT_EQ(FocusOrder(f, Control(f, "CmdAddFolder"), 4),
              (std::vector<std::string>{"CmdAddFolder", "CmdNext", "txtSourceMailbox", "CmdAddFolder"}));
}

TEST_F(Windows, ADriveRootIsShownWithItsBackslash) {
    frmSingle& f = wizard_->single();
    ::ShowWindow(f.hwnd(), SW_SHOW);
    dialogs_.folders = {"C:\\"};
    Click(f, "CmdAddFolder");
    EXPECT_EQ(TextOf(Control(f, "txtSourceMailbox")), L"C:\\");
}

TEST_F(Windows, ReopeningTheSingleWindowShowsItsInitialState) {
    frmStart& s = start();
    s.show();
    dialogs_.folders = {"C:\\windows"};
    int round = 0;
    std::function<void(frmSingle&)> step = [&](frmSingle& f) {
        EXPECT_FALSE(::IsWindowEnabled(Control(f, "CmdNext"))) << round;
        EXPECT_TRUE(TextOf(Control(f, "txtSourceMailbox")).empty()) << round;
        if (round++ == 0) Click(f, "CmdAddFolder");
        ::SendMessageW(f.hwnd(), WM_CLOSE, 0, 0);
    };
    WhenModal<frmSingle>(step);
    Click(s, "CmdNext");
    WhenModal<frmSingle>(step);
    Click(s, "CmdNext");
    EXPECT_EQ(round, 2);
}

// ---- Multiple-folder window ------------------------------------------------

class ListWindow : public Windows {
protected:
    void SetUp() override {
        Windows::SetUp();
        if (!wizard_) return;
        dir_ = std::make_unique<TempDir>("list");
        for (const char* n : {"Carol", "Alice", "Bob"}) fsys::create_directories(dir_->path() / "Root" / n);
        std::ofstream(dir_->path() / "Root" / "loose.msg") << "x";
        fsys::create_directories(dir_->path() / "Empty");
        m_ = &wizard_->multiple();
        m_->showModeless();
    }
    void TearDown() override {
        Windows::TearDown();
        dir_.reset();
    }
    HWND selectAll() { return Control(*m_, "chkSelectAll"); }
    HWND lv() { return Control(*m_, "lv"); }
    void list(const fsys::path& root) {
        dialogs_.folders = {root.string()};
        Click(*m_, "CmdAddFolder");
    }
    std::wstring header(int column) {
        wchar_t text[64] = {};
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT;
        c.pszText = text;
        c.cchTextMax = 64;
        ListView_GetColumn(lv(), column, &c);
        return text;
    }
    std::unique_ptr<TempDir> dir_;
    frmMultiple* m_ = nullptr;
};

TEST_F(ListWindow, OpensWithTheDesktopAsOutputAndTheSelectAllBoxDisabled) {
    EXPECT_EQ(TextOf(m_->hwnd()), L"Multiple Folder Conversion Mode");
    EXPECT_EQ(ClientSize(m_->hwnd()).cx, 706);
    EXPECT_EQ(ClientSize(m_->hwnd()).cy, 472);
    EXPECT_FALSE(m_->outputFolder().empty());
    EXPECT_NE(m_->outputFolder().back(), '\\');
    EXPECT_TRUE(fsys::is_directory(fsys::path(m_->outputFolder())));
    EXPECT_FALSE(::IsWindowEnabled(selectAll()));
    EXPECT_FALSE(Checked(selectAll()));
    EXPECT_EQ(TextOf(selectAll()), L"Check All");
    EXPECT_EQ(m_->rowCount(), 0);
    EXPECT_EQ(header(0), L"User");
    EXPECT_EQ(header(1), L"Mailbox Folder");
    EXPECT_EQ(ListView_GetColumnWidth(lv(), 0), 200);
    // The two columns fill the list: no sideways scrolling.
    RECT client{};
    ::GetClientRect(lv(), &client);
    EXPECT_EQ(ListView_GetColumnWidth(lv(), 0) + ListView_GetColumnWidth(lv(), 1), client.right);
    EXPECT_EQ(::GetFocus(), Control(*m_, "CmdNext"));
    EXPECT_TRUE(ListView_GetExtendedListViewStyle(lv()) & LVS_EX_CHECKBOXES);
}

TEST_F(ListWindow, AltKGoesBack) {
    AltKey(Control(*m_, "CmdNext"), L'k');
    for (int i = 0; i < 200 && m_->isVisible(); ++i) Settle(1);
    EXPECT_FALSE(m_->isVisible());
    EXPECT_TRUE(start().isVisible());
}

TEST_F(ListWindow, FocusOrderRunsNextListSelectBoxChangeOutputBack) {
    list(dir_->path() / "Root");  // enables the select-all box
    EXPECT_EQ(FocusOrder(*m_, Control(*m_, "CmdNext"), 8),
              (std::vector<std::string>{"CmdNext", "lv", "CmdAddFolder", "chkSelectAll", "cmdChange",
                                        "txtOutputFolder", "cmdBack", "CmdNext"}));
}

TEST_F(ListWindow, ListsDirectSubFoldersWithPicturesPathsTooltipsUnticked) {
    list(dir_->path() / "Root");
    ASSERT_EQ(m_->rowCount(), 3);
    const std::string root = (dir_->path() / "Root").string() + "\\";
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        names.push_back(m_->rowText(i));
        EXPECT_EQ(m_->rowSubItemText(i), root + names.back());
        EXPECT_FALSE(m_->rowChecked(i));
        // The person picture (ImageList1's 4) beside the name, the folder
        // (2) beside the path.
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        ListView_GetItem(lv(), &item);
        EXPECT_EQ(item.iImage, 3);
        item.iSubItem = 1;
        ListView_GetItem(lv(), &item);
        EXPECT_EQ(item.iImage, 1);
        // The path is the tooltip of its cell, and only of that cell.
        RECT cell{};
        ListView_GetSubItemRect(lv(), i, 1, LVIR_LABEL, &cell);
        EXPECT_EQ(m_->cellTooltip(POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2}),
                  m_->rowSubItemText(i));
        ListView_GetSubItemRect(lv(), i, 0, LVIR_LABEL, &cell);
        EXPECT_EQ(m_->cellTooltip(POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2}), "");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "Bob", "Carol"}));
    EXPECT_EQ(ImageList_GetImageCount(m_->imageList()), 4);
    // The list's tooltip asks the window for the text under the pointer.
    RECT cell{};
    ListView_GetSubItemRect(lv(), 2, 1, LVIR_LABEL, &cell);
    POINT p{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    ::ClientToScreen(lv(), &p);
    ::SetCursorPos(p.x, p.y);
    wchar_t tip[512] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = m_->hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(lv());
    ti.lpszText = tip;
    ::SendMessageW(m_->listTooltip(), TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(U(tip), root + "Carol");
    EXPECT_TRUE(::IsWindowEnabled(selectAll()));
}

TEST_F(ListWindow, ARootWithATrailingBackslashIsNotDoubled) {
    list(dir_->path() / "Root" / "");
    ASSERT_EQ(m_->rowCount(), 3);
    EXPECT_EQ(m_->rowSubItemText(0), (dir_->path() / "Root" / "Alice").string());
}

TEST_F(ListWindow, CheckAllTicksEveryRowAndTheCaptionFollows) {
    list(dir_->path() / "Root");
    Click(*m_, "chkSelectAll");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(m_->rowChecked(i));
    EXPECT_EQ(TextOf(selectAll()), L"Uncheck All");
    Click(*m_, "chkSelectAll");
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(m_->rowChecked(i));
    EXPECT_EQ(TextOf(selectAll()), L"Check All");
}

TEST_F(ListWindow, SpaceOnARowTicksIt) {
    list(dir_->path() / "Root");
    ::SetFocus(lv());
    ListView_SetItemState(lv(), 1, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Key(lv(), VK_SPACE);
    Settle();
    EXPECT_TRUE(m_->rowChecked(1));
    EXPECT_FALSE(m_->rowChecked(0));
}

TEST_F(ListWindow, ListingAnewWhileTickedUnticksAndResetsTheCaption) {
    list(dir_->path() / "Root");
    Click(*m_, "chkSelectAll");
    list(dir_->path() / "Root");
    EXPECT_FALSE(Checked(selectAll()));
    EXPECT_EQ(TextOf(selectAll()), L"Check All");
    for (int i = 0; i < m_->rowCount(); ++i) EXPECT_FALSE(m_->rowChecked(i));
}

TEST_F(ListWindow, AnotherRootReplacesTheRowsAndACancelKeepsThem) {
    list(dir_->path() / "Root");
    m_->setRowChecked(2, true);
    Click(*m_, "CmdAddFolder");  // cancelled
    EXPECT_EQ(m_->rowCount(), 3);
    EXPECT_TRUE(m_->rowChecked(2));
    fsys::create_directories(dir_->path() / "Other" / "Zed");
    list(dir_->path() / "Other");
    ASSERT_EQ(m_->rowCount(), 1);
    EXPECT_EQ(m_->rowText(0), "Zed");
    EXPECT_FALSE(m_->rowChecked(0));
}

TEST_F(ListWindow, AnEmptyRootKeepsTheCaptionAndNextSaysNoFoldersSelected) {
    list(dir_->path() / "Empty");
    EXPECT_EQ(m_->rowCount(), 0);
    EXPECT_TRUE(::IsWindowEnabled(selectAll()));
    Click(*m_, "chkSelectAll");
    EXPECT_TRUE(Checked(selectAll()));
    EXPECT_EQ(TextOf(selectAll()), L"Check All");
    Click(*m_, "CmdNext");
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
    EXPECT_EQ(dialogs_.boxes[0].title, "Select Folder(s) to Convert");
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs_.boxes[0].owner, m_->hwnd());
    EXPECT_EQ(wizard_->statusIfCreated(), nullptr);
}

TEST_F(ListWindow, RowsButNoneTickedAlsoSaysNoFoldersSelected) {
    list(dir_->path() / "Root");
    Click(*m_, "CmdNext");
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].title, "Select Folder(s) to Convert");
}

TEST_F(ListWindow, ATickedRowOpensTheStatusWindowOwnedByTheList) {
    list(dir_->path() / "Root");
    m_->setRowChecked(2, true);
    bool seen = false;
    WhenModal<frmMigateAll>([&](frmMigateAll& st) {
        seen = true;
        EXPECT_EQ(owner(st), m_->hwnd());
        EXPECT_FALSE(::IsWindowEnabled(m_->hwnd()));
        ::SendMessageW(st.hwnd(), WM_CLOSE, 0, 0);
    });
    Click(*m_, "CmdNext");
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialogs_.boxes.empty());
    EXPECT_TRUE(::IsWindowEnabled(m_->hwnd()));
}

TEST_F(ListWindow, ChangeSetsTheOutputFolderAsReturnedAndACancelKeepsIt) {
    const std::string before = m_->outputFolder();
    Click(*m_, "cmdChange");
    EXPECT_EQ(m_->outputFolder(), before);
    dialogs_.folders = {"D:\\"};
    Click(*m_, "cmdChange");
    EXPECT_EQ(m_->outputFolder(), "D:\\");
    EXPECT_EQ(dialogs_.prompts.back(), "Choose Output Folder...");
}

// ---- Status window ---------------------------------------------------------

// The buttons' states, sampled while a run yields.
struct ButtonStates {
    bool startEnabled, skipEnabled, stopVisible, stopEnabled;
    bool operator==(const ButtonStates&) const = default;
};

ButtonStates StatesOf(frmMigateAll& st) {
    return {::IsWindowEnabled(Control(st, "CmdStartConversion")) != 0,
            ::IsWindowEnabled(Control(st, "CmdSkip")) != 0, ::IsWindowVisible(Control(st, "CmdStopMigration")) != 0,
            ::IsWindowEnabled(Control(st, "CmdStopMigration")) != 0};
}

class StatusWindow : public Windows {
protected:
    void SetUp() override {
        Windows::SetUp();
        if (!wizard_) return;
        dir_ = std::make_unique<TempDir>("status");
        for (int i = 0; i < 6; ++i) WriteMsg(dir_->path() / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
        dialogs_.folders = {(dir_->path() / "Mail").string()};
        start().show();
        ::ShowWindow(wizard_->single().hwnd(), SW_SHOW);
        Click(wizard_->single(), "CmdAddFolder");
        dialogs_.savePath = (dir_->path() / "out.pst").string();
    }
    void TearDown() override {
        Windows::TearDown();
        dir_.reset();
    }
    // Opens the status window modally from the single-folder window and
    // runs `step` in it.
    void inStatus(std::function<void(frmMigateAll&)> step) {
        bool seen = false;
        WhenModal<frmMigateAll>([&](frmMigateAll& st) {
            seen = true;
            st.engine().setYieldInterval(std::chrono::microseconds(0));
            step(st);
            if (st.isVisible()) ::SendMessageW(st.hwnd(), WM_CLOSE, 0, 0);
        });
        Click(wizard_->single(), "CmdNext");
        EXPECT_TRUE(seen);
    }
    std::unique_ptr<TempDir> dir_;
};

TEST_F(StatusWindow, StartStateAndTheStopButtonOverTheStartButton) {
    inStatus([&](frmMigateAll& st) {
        EXPECT_EQ(TextOf(st.hwnd()), L"Conversion Status");
        EXPECT_EQ(ClientSize(st.hwnd()).cx, 578);
        EXPECT_EQ(ClientSize(st.hwnd()).cy, 261);
        // Modal without an owner: every other wizard window waits.
        EXPECT_EQ(owner(st), nullptr);
        EXPECT_FALSE(::IsWindowEnabled(wizard_->single().hwnd()));
        EXPECT_FALSE(::IsWindowEnabled(start().hwnd()));
        EXPECT_EQ(TextOf(Control(st, "lblCount1")), L"Conversion Not Started Yet...");
        EXPECT_EQ(TextOf(Control(st, "lblProgress")), L"0% Complete");
        EXPECT_EQ(TextOf(Control(st, "LblCurrentDBX")), L"Converting Messages...");
        EXPECT_EQ(TextOf(Control(st, "FrameConversion")), L" Details ");
        EXPECT_EQ(::SendMessageW(Control(st, "ProgressBar1"), PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, true}));
        EXPECT_EQ(::GetFocus(), Control(st, "CmdStartConversion"));
        EXPECT_EQ(TextOf(Control(st, "CmdStartConversion")), L"Sta&rt Conversion");
        EXPECT_EQ(TextOf(Control(st, "CmdStopMigration")), L"S&top Conversion");
        EXPECT_EQ(st.tooltipOf(Control(st, "CmdStopMigration")), L"Stops Complete Conversion");
        EXPECT_EQ(st.tooltipOf(Control(st, "CmdSkip")), L"Cancel Conversion of Current Folder");
        // The delete-option row is laid out but hidden.
        EXPECT_FALSE(::IsWindowVisible(Control(st, "ChkDelete")));
        EXPECT_FALSE(Checked(Control(st, "ChkDelete")));
        EXPECT_FALSE(::IsWindowVisible(Control(st, "Image1")));
        EXPECT_FALSE(::IsWindowVisible(Control(st, "lblDeleteHelp")));
        // The stop button, once shown, is the one under the pointer in the
        // start button's place.
        HWND start = Control(st, "CmdStartConversion"), stop = Control(st, "CmdStopMigration");
        RECT a{}, b{};
        ::GetWindowRect(start, &a);
        ::GetWindowRect(stop, &b);
        EXPECT_TRUE(::EqualRect(&a, &b));
        ::ShowWindow(stop, SW_SHOW);
        POINT centre{(a.left + a.right) / 2, (a.top + a.bottom) / 2};
        ::ScreenToClient(st.hwnd(), &centre);
        EXPECT_EQ(::ChildWindowFromPointEx(st.hwnd(), centre, CWP_SKIPINVISIBLE), stop);
        ::ShowWindow(stop, SW_HIDE);
        EXPECT_EQ(::ChildWindowFromPointEx(st.hwnd(), centre, CWP_SKIPINVISIBLE), start);
    });
    // Closing it gives the input back to the windows below.
    EXPECT_TRUE(::IsWindowEnabled(wizard_->single().hwnd()));
}

TEST_F(StatusWindow, ButtonStatesThroughARunAndAfterIt) {
    std::vector<ButtonStates> seen;
    inStatus([&](frmMigateAll& st) {
        const UINT_PTR sampler = EveryTick([&] {
            const ButtonStates s = StatesOf(st);
            if (seen.empty() || !(seen.back() == s)) seen.push_back(s);
            return false;
        });
        ButtonStates atSave{}, atEnd{};
        dialogs_.onSave = [&] { atSave = StatesOf(st); };
        dialogs_.answer = [&](const Box& b) {
            if (b.title == "Completed") atEnd = StatesOf(st);
            return MsgResult::Ok;
        };
        Click(st, "CmdStartConversion");
        StopTick(sampler);
        // Queued: start and skip disabled, stop not yet shown.
        EXPECT_EQ(atSave, (ButtonStates{false, false, false, true}));
        // Converting: start disabled, skip enabled, stop shown over start.
        EXPECT_NE(std::find(seen.begin(), seen.end(), ButtonStates{false, true, true, true}), seen.end());
        // After the folder conversion, before the completion box closes.
        EXPECT_EQ(atEnd, (ButtonStates{true, true, true, true}));
        // After the run: start enabled, skip disabled, stop disabled and hidden.
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, false}));
        EXPECT_TRUE(st.isVisible());
        EXPECT_EQ(TextOf(Control(st, "lblProgress")), L"100% Complete");
        EXPECT_EQ(::SendMessageW(Control(st, "ProgressBar1"), PBM_GETPOS, 0, 0), 100);
        // The frame caption carries a literal "&", doubled for the group frame.
        EXPECT_EQ(TextOf(Control(st, "FrameConversion")), L"Reading Messages && Email Metadata - (6 of 6) File(s)");
    });
    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    EXPECT_EQ(dialogs_.saveFilters, (std::vector<std::string>{"Outlook Data File(s) (*.pst)|*.pst"}));
    ASSERT_EQ(dialogs_.saveProposals.size(), 1u);
    EXPECT_EQ(dialogs_.saveProposals[0].rfind("Mail", 0), 0u);
    EXPECT_EQ(dialogs_.saveProposals[0].substr(dialogs_.saveProposals[0].size() - 4), ".pst");
    EXPECT_EQ(dialogs_.saveOwners[0], wizard_->status().hwnd());
}

TEST_F(StatusWindow, ACancelledSaveClosesTheWindowWithoutAStop) {
    dialogs_.savePath.reset();
    inStatus([&](frmMigateAll& st) {
        Click(st, "CmdStartConversion");
        EXPECT_FALSE(st.isVisible());
        EXPECT_FALSE(st.engine().stopRequested());
        EXPECT_TRUE(st.engine().lastRun().cancelled);
        EXPECT_FALSE(st.engine().lastRun().stopped);
    });
    EXPECT_FALSE(fsys::exists(dir_->path() / "out.pst"));
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.title, "Confirm Stop");
    EXPECT_TRUE(::IsWindowEnabled(wizard_->single().hwnd()));
}

TEST_F(StatusWindow, StopWhileASkipIsPendingClosesAtOnceAndLeavesTheStopSet) {
    inStatus([&](frmMigateAll& st) {
        bool pressed = false, closedAtOnce = false;
        const UINT_PTR t = EveryTick([&] {
            if (!::IsWindowVisible(Control(st, "CmdStopMigration")) || !::IsWindowEnabled(Control(st, "CmdSkip")))
                return false;
            pressed = true;
            Click(st, "CmdSkip");
            Click(st, "CmdStopMigration");
            closedAtOnce = !st.isVisible();
            return true;
        });
        Click(st, "CmdStartConversion");
        StopTick(t);
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(closedAtOnce);
        EXPECT_TRUE(st.engine().stopRequested());
    });
    for (const Box& b : dialogs_.boxes) {
        EXPECT_NE(b.title, "Confirm Skip");
        EXPECT_NE(b.title, "Confirm Stop");
    }
}

TEST_F(StatusWindow, TheCloseBoxDuringARunAsksNothingAndEndsTheRun) {
    inStatus([&](frmMigateAll& st) {
        bool closed = false;
        const UINT_PTR t = EveryTick([&] {
            if (!::IsWindowEnabled(Control(st, "CmdSkip"))) return false;
            closed = true;
            ::SendMessageW(st.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
        Click(st, "CmdStartConversion");
        StopTick(t);
        EXPECT_TRUE(closed);
        EXPECT_FALSE(st.isVisible());
        EXPECT_TRUE(st.engine().lastRun().stopped);
        EXPECT_FALSE(st.engine().isRunning());
    });
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.buttons, MsgButtons::YesNo) << b.title;
}

TEST_F(StatusWindow, AltRStartsTheConversion) {
    inStatus([&](frmMigateAll& st) {
        AltKey(Control(st, "CmdStartConversion"), L'r');
        for (int i = 0; i < 500 && dialogs_.boxes.empty(); ++i) Settle(1);
        ASSERT_FALSE(dialogs_.boxes.empty());
        EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    });
    EXPECT_TRUE(fsys::exists(dir_->path() / "out.pst"));
}

TEST_F(StatusWindow, EscapeDuringARunClosesLikeTheCloseBox) {
    inStatus([&](frmMigateAll& st) {
        bool pressed = false;
        const UINT_PTR t = EveryTick([&] {
            if (!::IsWindowEnabled(Control(st, "CmdSkip"))) return false;
            pressed = true;
            Key(Control(st, "CmdSkip"), VK_ESCAPE);
            return true;
        });
        Click(st, "CmdStartConversion");
        StopTick(t);
        EXPECT_TRUE(pressed);
        EXPECT_FALSE(st.isVisible());
        EXPECT_TRUE(st.engine().lastRun().stopped);
    });
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.buttons, MsgButtons::YesNo) << b.title;
}

TEST_F(StatusWindow, ASecondShowingStartsFromTheStartStateAgain) {
    inStatus([&](frmMigateAll& st) { Click(st, "CmdStartConversion"); });
    inStatus([&](frmMigateAll& st) {
        EXPECT_EQ(TextOf(Control(st, "lblCount1")), L"Conversion Not Started Yet...");
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, true}));
        EXPECT_EQ(::SendMessageW(Control(st, "ProgressBar1"), PBM_GETPOS, 0, 0), 0);
    });
}

TEST_F(StatusWindow, AFileNameWithAmpersandsIsShownAsWritten) {
    const fsys::path odd = dir_->path() / "Mail" / "R&D &plan.msg";
    WriteMsg(odd, "s");
    std::wstring shown;
    inStatus([&](frmMigateAll& st) {
        HWND dbx = Control(st, "LblCurrentDBX");
        const UINT_PTR t = EveryTick([&] {
            if (TextOf(dbx).find(L"R&D") != std::wstring::npos) shown = TextOf(dbx);
            return false;
        });
        Click(st, "CmdStartConversion");
        StopTick(t);
        if (shown.empty() && TextOf(dbx).find(L"R&D") != std::wstring::npos) shown = TextOf(dbx);
        // Drawn without access-key marks: the label shows every "&".
        EXPECT_TRUE(::GetWindowLongPtrW(dbx, GWL_STYLE) & SS_NOPREFIX);
    });
    EXPECT_EQ(shown, W("Converting Messages... from (" + odd.string() + ")"));
}

}  // namespace
}  // namespace tavrin::ui::win32
