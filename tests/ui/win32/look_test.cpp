// How the native wizard's windows look: every caption fits its control in
// the window's fonts, the colours the labels are drawn in, the help links
// (blue, hand pointer, tooltip, their pages), the pictures, the list's
// alternating rows and its converting row as they are painted, and the
// layout on a screen of more dots per inch.
#include <gtest/gtest.h>

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

class Look : public ::testing::Test {
protected:
    void SetUp() override {
        TAVRIN_NEED_DISPLAY();
        wizard_ = std::make_unique<Wizard>(dialogs_);
        wizard_->onEndProgram = [] {};
    }
    void TearDown() override { wizard_.reset(); }
    std::vector<Window*> windows() {
        return {&wizard_->start(), &wizard_->single(), &wizard_->multiple(), &wizard_->status()};
    }
    FakeDialogs dialogs_;
    std::unique_ptr<Wizard> wizard_;
};

// ---- Text that fits ----------------------------------------------------------

// The room a control's caption needs in its font, and the room it has.
struct Fit {
    SIZE need, room;
};

Fit Measure(const Window& w, const ControlInfo& c) {
    RECT r{};
    ::GetClientRect(c.hwnd, &r);
    const std::wstring text = TextOf(c.hwnd);
    HDC dc = ::GetDC(c.hwnd);
    HGDIOBJ old = ::SelectObject(dc, Font(c.font, w.dpi()));
    RECT calc{0, 0, r.right, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX;
    if (c.kind == Kind::WrappedLabel || c.kind == Kind::PathLabel) flags |= DT_WORDBREAK;
    else flags |= DT_SINGLELINE;
    if (c.kind == Kind::Button || c.kind == Kind::Option || c.kind == Kind::CheckBox || c.kind == Kind::Frame)
        flags &= ~static_cast<UINT>(DT_NOPREFIX);
    ::DrawTextW(dc, text.c_str(), -1, &calc, flags);
    ::SelectObject(dc, old);
    ::ReleaseDC(c.hwnd, dc);
    SIZE need{calc.right, calc.bottom};
    SIZE room{r.right, r.bottom};
    const int px = Px(15 * 4, w.dpi());  // 4 pixels at 96 dots per inch
    switch (c.kind) {
    case Kind::Button: room.cx -= 2 * px; break;  // the button's edges and focus frame
    case Kind::Option:
    case Kind::CheckBox: room.cx -= Px(15 * 17, w.dpi()); break;  // the box or circle and its gap
    case Kind::Frame: room.cx -= 4 * px; break;
    default: break;
    }
    return {need, room};
}

TEST_F(Look, EveryCaptionFitsItsControl) {
    wizard_->start().show();
    for (Window* w : windows()) {
        for (const ControlInfo& c : w->controls()) {
            if (c.kind == Kind::Picture || c.kind == Kind::ListView || c.kind == Kind::Progress ||
                c.kind == Kind::Edit || TextOf(c.hwnd).empty())
                continue;
            const Fit f = Measure(*w, c);
            EXPECT_LE(f.need.cx, f.room.cx) << w->name() << "." << c.name << " is too narrow";
            EXPECT_LE(f.need.cy, f.room.cy) << w->name() << "." << c.name << " is too low";
        }
    }
}

TEST_F(Look, TheFitCheckFindsACaptionThatIsTooLong) {
    frmStart& s = wizard_->start();
    HWND next = Control(s, "CmdNext");
    const ControlInfo* c = s.info(next);
    ASSERT_NE(c, nullptr);
    ::SetWindowTextW(next, L"&Next to the window of the chosen mode >");
    const Fit f = Measure(s, *c);
    EXPECT_GT(f.need.cx, f.room.cx);
}

// ---- Colours and fonts ---------------------------------------------------------

// The colours a control is painted in: what its window answers to the
// control's WM_CTLCOLORSTATIC.
struct Colours {
    COLORREF text, background;
};

Colours ColoursOf(const Window& w, HWND control) {
    HDC dc = ::GetDC(control);
    ::SendMessageW(w.hwnd(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const Colours c{::GetTextColor(dc), ::GetBkColor(dc)};
    ::ReleaseDC(control, dc);
    return c;
}

TEST_F(Look, TitlesDescriptionsAndHintsHaveTheirColours) {
    frmStart& s = wizard_->start();
    EXPECT_EQ(ColoursOf(s, Control(s, "lblTitle")).text, RGB(0, 128, 0));
    EXPECT_EQ(ColoursOf(s, Control(s, "lblTitle")).background, RGB(255, 255, 255));
    EXPECT_EQ(FontOf(Control(s, "lblTitle")).lfHeight, -19);  // 14.25 pt
    EXPECT_EQ(ColoursOf(s, Control(s, "lblSingleDescription")).text, RGB(64, 64, 64));
    EXPECT_EQ(std::wstring(FontOf(Control(s, "lblDescription")).lfFaceName), L"Verdana");
    frmSingle& f = wizard_->single();
    EXPECT_EQ(ColoursOf(f, Control(f, "lblTitle")).text, RGB(128, 128, 128));
    EXPECT_EQ(ColoursOf(f, Control(f, "lblHint")).background, RGB(255, 255, 192));
    EXPECT_EQ(ColoursOf(f, Control(f, "imgHint")).background, RGB(255, 255, 192));
    frmMigateAll& st = wizard_->status();
    EXPECT_EQ(ColoursOf(st, Control(st, "lblCount1")).background, RGB(255, 255, 255));
    EXPECT_TRUE(IsBold(Control(st, "lblCount1")));
    EXPECT_EQ(ColoursOf(st, Control(st, "LblCurrentDBX")).text, RGB(128, 128, 128));
    EXPECT_EQ(ColoursOf(st, Control(st, "ChkDelete")).text, RGB(128, 0, 0));
    EXPECT_EQ(std::wstring(FontOf(Control(st, "CmdStartConversion")).lfFaceName), L"Verdana");
}

TEST_F(Look, HelpLinksAreBlueHandsWithTheTooltipAndOpenTheirPages) {
    engine::SetHelpSite("file:///C:/Program%20Files/Tavrin/help");
    struct Link {
        Window* window;
        const char* name;
        const char* address;
    };
    const Link links[] = {
        {&wizard_->start(), "lblSingleHelp", "h/msg-to-pst/index.html#single-folder"},
        {&wizard_->start(), "lblMultipleHelp", "h/msg-to-pst/index.html#multiple-folders"},
        {&wizard_->single(), "lblSingleMailbox", "h/msg-to-pst/index.html#select-folder"},
        {&wizard_->multiple(), "lblSelectRootFolder", "h/msg-to-pst/index.html#select-root-folder"},
    };
    for (const Link& l : links) {
        ::ShowWindow(l.window->hwnd(), SW_SHOW);
        HWND h = Control(*l.window, l.name);
        EXPECT_EQ(TextOf(h), L" [ ? ]") << l.name;
        EXPECT_EQ(ColoursOf(*l.window, h).text, RGB(0, 0, 255)) << l.name;
        EXPECT_EQ(l.window->tooltipOf(h), L"Click to Know More...") << l.name;
        // The pointer over it is the pointing hand.
        ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
        ::SendMessageW(l.window->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(h), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND)) << l.name;
        dialogs_.urls.clear();
        ClickLabel(*l.window, l.name);
        EXPECT_EQ(dialogs_.urls, (std::vector<std::string>{"file:///C:/Program%20Files/Tavrin/help/" +
                                                          std::string(l.address)}))
            << l.name;
    }
    dialogs_.urls.clear();
    Click(wizard_->start(), "CmdHelp");
    EXPECT_EQ(dialogs_.urls,
              (std::vector<std::string>{"file:///C:/Program%20Files/Tavrin/help/msg-to-pst/index.html"}));
    engine::SetHelpSite("");
}

TEST_F(Look, WindowsAndPicturesHaveTheirIcons) {
    for (Window* w : windows()) {
        EXPECT_NE(::SendMessageW(w->hwnd(), WM_GETICON, ICON_SMALL, 0), 0) << w->name();
        EXPECT_NE(::SendMessageW(w->hwnd(), WM_GETICON, ICON_BIG, 0), 0) << w->name();
        for (const ControlInfo& c : w->controls()) {
            if (c.kind != Kind::Picture) continue;
            HICON icon = reinterpret_cast<HICON>(::SendMessageW(c.hwnd, STM_GETICON, 0, 0));
            ASSERT_NE(icon, nullptr) << w->name() << "." << c.name;
            ICONINFO info{};
            ASSERT_TRUE(::GetIconInfo(icon, &info));
            BITMAP bm{};
            ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, 16) << w->name() << "." << c.name;
            if (info.hbmColor) ::DeleteObject(info.hbmColor);
            if (info.hbmMask) ::DeleteObject(info.hbmMask);
        }
    }
}

// A picture drawn on white, its colour at a point.
COLORREF PictureAt(HICON icon, int x, int y) {
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = ::SelectObject(dc, bmp);
    RECT r{0, 0, 16, 16};
    ::FillRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::DrawIconEx(dc, 0, 0, icon, 16, 16, 0, nullptr, DI_NORMAL);
    const COLORREF c = ::GetPixel(dc, x, y);
    ::SelectObject(dc, old);
    ::DeleteObject(bmp);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    return c;
}

TEST_F(Look, EachPictureIsItsOwnImageAndTheProgramCarriesItsIcon) {
    // The badge is blue, the folder yellow, the person's face light.
    const COLORREF badge = PictureAt(PictureIcon(Picture::Information, 16), 3, 8);
    EXPECT_GT(GetBValue(badge), GetRValue(badge) + 80);
    const COLORREF folder = PictureAt(PictureIcon(Picture::Folder, 16), 8, 10);
    EXPECT_GT(GetRValue(folder), GetBValue(folder) + 80);
    EXPECT_GT(GetGValue(folder), GetBValue(folder) + 80);
    const COLORREF face = PictureAt(PictureIcon(Picture::Person, 16), 8, 5);
    EXPECT_GT(GetRValue(face), 200);
    EXPECT_GT(GetRValue(face), GetBValue(face) + 40);
    // The program file's own icon and manifest.
    HMODULE self = ::GetModuleHandleW(nullptr);
    EXPECT_NE(::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr);
    EXPECT_NE(::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */), nullptr);
    EXPECT_NE(AppIcon(16), nullptr);
}

// ---- The list as it is painted -----------------------------------------------

// The list's client area, painted into a bitmap as the list paints itself.
class Painted {
public:
    explicit Painted(HWND lv) {
        ::GetClientRect(lv, &r_);
        HDC screen = ::GetDC(lv);
        dc_ = ::CreateCompatibleDC(screen);
        bmp_ = ::CreateCompatibleBitmap(screen, r_.right, r_.bottom);
        old_ = ::SelectObject(dc_, bmp_);
        ::ReleaseDC(lv, screen);
        ::SendMessageW(lv, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_), PRF_CLIENT | PRF_ERASEBKGND);
    }
    ~Painted() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(bmp_);
        ::DeleteDC(dc_);
    }
    COLORREF at(int x, int y) const { return ::GetPixel(dc_, x, y); }
    // Pixels in a rectangle that are clearly green, and that are dark (ink).
    int count(const RECT& in, bool (*test)(COLORREF)) const {
        int n = 0;
        for (int y = in.top; y < in.bottom; ++y)
            for (int x = in.left; x < in.right; ++x)
                if (test(at(x, y))) ++n;
        return n;
    }

private:
    RECT r_{};
    HDC dc_;
    HBITMAP bmp_;
    HGDIOBJ old_;
};

bool Greenish(COLORREF c) { return GetGValue(c) > GetRValue(c) + 50 && GetGValue(c) > GetBValue(c) + 50; }
bool Ink(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 140; }

TEST_F(Look, ListRowsAlternateWhiteAndYellowAndTheConvertingRowIsGreenAndBold) {
    TempDir dir("paint");
    for (const char* n : {"Alice Smith", "Bob Jones", "Carol White"})
        fsys::create_directories(dir.path() / "Root" / n);
    frmMultiple& m = wizard_->multiple();
    m.showModeless();
    dialogs_.folders = {(dir.path() / "Root").string()};
    Click(m, "CmdAddFolder");
    ASSERT_EQ(m.rowCount(), 3);
    HWND lv = Control(m, "lv");
    RECT row[3], name[3];
    for (int i = 0; i < 3; ++i) {
        ListView_GetItemRect(lv, i, &row[i], LVIR_BOUNDS);
        ListView_GetSubItemRect(lv, i, 0, LVIR_LABEL, &name[i]);
    }
    std::vector<int> plainInk;
    {
        Painted p(lv);
        // Beyond the text at the row's right end: the row's own background.
        for (int i = 0; i < 3; ++i) {
            const COLORREF want = i % 2 == 0 ? RGB(255, 255, 255) : RGB(255, 255, 192);
            EXPECT_EQ(p.at(row[i].right - 3, (row[i].top + row[i].bottom) / 2), want) << "row " << i;
            EXPECT_EQ(p.count(name[i], Greenish), 0) << "row " << i;
            plainInk.push_back(p.count(name[i], Ink));
        }
    }
    // The run takes up the second row.
    m.setRowForeColor(1, 0, 128, 0);
    m.setRowBold(1, true);
    Painted p(lv);
    EXPECT_GT(p.count(name[1], Greenish), 10);
    EXPECT_EQ(p.count(name[0], Greenish), 0);
    EXPECT_EQ(p.at(row[1].right - 3, (row[1].top + row[1].bottom) / 2), RGB(255, 255, 192));
    // Bold: the same name drawn with more ink than before.
    int boldInk = 0;
    for (int y = name[1].top; y < name[1].bottom; ++y)
        for (int x = name[1].left; x < name[1].right; ++x)
            if (Greenish(p.at(x, y)) || Ink(p.at(x, y))) ++boldInk;
    EXPECT_GT(boldInk, plainInk[1] + plainInk[1] / 10);
}

// ---- More dots per inch ----------------------------------------------------------

TEST_F(Look, AScreenOfMoreDotsPerInchScalesTheWindowItsControlsAndFonts) {
    frmStart& s = wizard_->start();
    s.show();
    ASSERT_EQ(s.dpi(), 96);
    RECT suggested{};
    ::GetWindowRect(s.hwnd(), &suggested);
    ::SendMessageW(s.hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(s.dpi(), 144);
    // 9270 twips wide. (The height depends on the caption's height at 144
    // dots per inch, which only a real second screen gives.)
    EXPECT_EQ(ClientSize(s.hwnd()).cx, 927);
    RECT next{};
    ::GetWindowRect(Control(s, "CmdNext"), &next);
    ::MapWindowPoints(nullptr, s.hwnd(), reinterpret_cast<POINT*>(&next), 2);
    EXPECT_EQ(next.left, 732);  // 7320 twips
    EXPECT_EQ(next.top, 660);
    EXPECT_EQ(next.bottom - next.top, 39);
    EXPECT_EQ(FontOf(Control(s, "CmdNext")).lfHeight, -18);  // 9 pt
    EXPECT_EQ(FontOf(Control(s, "lblTitle")).lfHeight, -29);  // 14.25 pt
    EXPECT_TRUE(IsBold(Control(s, "OptSingle")));  // the bold stays where it was
    // The list's columns and pictures grow with it.
    frmMultiple& m = wizard_->multiple();
    ::SendMessageW(m.hwnd(), 0x02E0, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(ListView_GetColumnWidth(Control(m, "lv"), 0), 300);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(m.imageList(), &cx, &cy);
    EXPECT_EQ(cx, 24);
}

}  // namespace
}  // namespace tavrin::ui::win32
