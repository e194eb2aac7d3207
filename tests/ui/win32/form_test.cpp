// How the native toolkit draws the wizard's windows from their layouts:
// every control where its table puts it, in its font and colours, reaching
// its handler; captions that fit at 96 and 144 dots per inch, with each help
// link after its caption; Tab and the access keys; modal showing, the close
// box and Escape; the pictures, and the list as it is painted. Buttons are
// pressed by sending them BM_CLICK, keys by posting them to the message loop.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "tests/ui/win32/win32_fixture.h"

namespace tavrin::ui::win32 {
namespace {

using namespace tavrin::ui::win32::testing;

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        TAVRIN_NEED_DISPLAY();
        wizard_ = std::make_unique<wizard::Wizard>(*toolkit_, dialogs_);
        wizard_->onEndProgram = [] {};
    }
    void TearDown() override { wizard_.reset(); }
    std::vector<Window*> windows() {
        return {&Win(wizard_->start().form()), &Win(wizard_->single().form()), &Win(wizard_->multiple().form()),
                &Win(wizard_->status().form())};
    }
    std::unique_ptr<wizard::Toolkit> toolkit_ = MakeToolkit();
    FakeDialogs dialogs_;
    std::unique_ptr<wizard::Wizard> wizard_;
};

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

// Where a control is in its window's client area.
RECT PlaceOf(const Window& w, HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, w.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool MovesWithItsCaption(const wizard::WindowLayout& layout, const wizard::Control& c) {
    if (c.follows) return true;
    for (const wizard::Control& o : layout.controls)
        if (o.follows && std::string_view(o.follows) == c.name) return true;
    return false;
}

TEST_F(Windows, EveryControlIsBuiltFromItsTableAndReachesItsHandler) {
    for (Window* w : windows()) {
        const wizard::WindowLayout& layout = w->layout();
        EXPECT_EQ(TextOf(w->hwnd()), W(layout.caption));
        EXPECT_EQ(ClientSize(w->hwnd()).cx, Px(layout.width, 96));
        EXPECT_EQ(ClientSize(w->hwnd()).cy, Px(layout.height, 96));
        EXPECT_NE(::SendMessageW(w->hwnd(), WM_GETICON, ICON_SMALL, 0), 0) << w->name();
        ::ShowWindow(w->hwnd(), SW_SHOW);
        std::vector<std::string> clicked, clickable;
        w->onClick = [&](std::string_view c) { clicked.emplace_back(c); };
        for (const wizard::Control& c : layout.controls) {
            if (c.kind == Kind::Band) continue;
            HWND h = Control(*w, c.name);
            if (!h) continue;
            const RECT want = PixelRect(layout.placeInWindow(c), 96), got = PlaceOf(*w, h);
            if (MovesWithItsCaption(layout, c)) {
                EXPECT_EQ(got.top, want.top) << c.name;
            } else {
                EXPECT_TRUE(::EqualRect(&got, &want)) << c.name;
            }
            if (c.kind != Kind::Picture) {
                const LOGFONTW f = FontOf(h);
                EXPECT_EQ(std::wstring(f.lfFaceName), c.font.face == wizard::Face::Verdana ? L"Verdana" : L"Tahoma");
                EXPECT_EQ(f.lfHeight, -::MulDiv(c.font.centiPoints, 96, 7200)) << c.name;
                EXPECT_EQ(f.lfWeight >= FW_BOLD, c.font.bold) << c.name;
                EXPECT_TRUE(c.kind == Kind::Edit || TextOf(h) == W(c.caption)) << c.name;
            }
            if (c.kind != Kind::Edit && c.kind != Kind::ListView && c.kind != Kind::Progress) {
                EXPECT_EQ(ColoursOf(*w, h).text, Colour(c.fore)) << c.name;
                EXPECT_EQ(ColoursOf(*w, h).background, Colour(c.back)) << c.name;
            }
            EXPECT_EQ(w->tooltipOf(h), W(c.tooltip ? c.tooltip : "")) << c.name;
            EXPECT_EQ(::IsWindowVisible(h) == 0, c.hidden) << c.name;
            if (!c.clickable()) continue;
            clickable.push_back(c.name);
            ::ShowWindow(h, SW_SHOW);
            ::EnableWindow(h, TRUE);
            if (c.kind == Kind::HelpLink) ClickLabel(*w, c.name);
            else Click(*w, c.name);
        }
        EXPECT_EQ(clicked, clickable) << w->name();
        ::ShowWindow(w->hwnd(), SW_HIDE);
    }
}

TEST_F(Windows, HelpLinksShowThePointingHand) {
    for (Window* w : windows()) {
        for (const wizard::Control& c : w->layout().controls) {
            if (c.kind != Kind::HelpLink) continue;
            ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
            ::SendMessageW(w->hwnd(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Control(*w, c.name)),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
            EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND)) << c.name;
        }
    }
}

// ---- Captions that fit -------------------------------------------------------

void ExpectCaptionsFit(const Window& w, int dpi) {
    for (const ControlInfo& c : w.controls()) {
        const Kind k = c.control->kind;
        if (k == Kind::Picture || k == Kind::ListView || k == Kind::Progress || k == Kind::Edit ||
            TextOf(c.hwnd).empty())
            continue;
        const Fit f = Measure(c.hwnd, k, c.font, w.dpi());
        EXPECT_LE(f.need.cx, f.room.cx) << w.name() << "." << c.name << " is too narrow at " << dpi;
        EXPECT_LE(f.need.cy, f.room.cy) << w.name() << "." << c.name << " is too low at " << dpi;
        if (!c.control->follows) continue;
        // The link starts where its caption's control ends, whose caption
        // fits (above): the link never covers the text.
        HWND owner = w.control(c.control->follows);
        const RECT o = PlaceOf(w, owner), l = PlaceOf(w, c.hwnd);
        EXPECT_EQ(l.left, o.right) << c.name << " at " << dpi;
    }
}

TEST_F(Windows, EveryCaptionFitsAt96And144DotsPerInchAndEveryLinkFollowsItsCaption) {
    for (Window* w : windows()) {
        ASSERT_EQ(w->dpi(), 96);
        ExpectCaptionsFit(*w, 96);
        RECT suggested{};
        ::GetWindowRect(w->hwnd(), &suggested);
        ::SendMessageW(w->hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                       reinterpret_cast<LPARAM>(&suggested));
        ExpectCaptionsFit(*w, 144);
    }
}

TEST_F(Windows, TheFitCheckFindsACaptionThatIsTooLong) {
    Window& s = Win(wizard_->start().form());
    HWND next = Control(s, "CmdNext");
    ::SetWindowTextW(next, L"&Next to the window of the chosen mode >");
    const Fit f = Measure(next, Kind::Button, s.info(next)->font, s.dpi());
    EXPECT_GT(f.need.cx, f.room.cx);
}

TEST_F(Windows, ALinkMovesWithTheEndOfItsCaptionWhenTheCaptionChanges) {
    Window& s = Win(wizard_->start().form());
    const RECT before = PlaceOf(s, Control(s, "lblSingleHelp"));
    s.setText("OptSingle", "Single MSG Folder with a longer caption");
    const RECT after = PlaceOf(s, Control(s, "lblSingleHelp"));
    EXPECT_GT(after.left, before.left + 50);
    EXPECT_EQ(after.left, PlaceOf(s, Control(s, "OptSingle")).right);
}

// ---- More dots per inch --------------------------------------------------------

TEST_F(Windows, AScreenOfMoreDotsPerInchScalesTheWindowItsControlsFontsAndPictures) {
    Window& s = Win(wizard_->start().form());
    wizard_->start().show();
    RECT suggested{};
    ::GetWindowRect(s.hwnd(), &suggested);
    ::SendMessageW(s.hwnd(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(s.dpi(), 144);
    // 9270 twips wide. (The height depends on the caption's height at 144
    // dots per inch, which only a real second screen gives.)
    EXPECT_EQ(ClientSize(s.hwnd()).cx, 927);
    const RECT next = PlaceOf(s, Control(s, "CmdNext"));
    EXPECT_EQ(next.left, 732);  // 7320 twips
    EXPECT_EQ(next.top, 660);
    EXPECT_EQ(next.bottom - next.top, 39);
    EXPECT_EQ(FontOf(Control(s, "CmdNext")).lfHeight, -18);   // 9 pt
    EXPECT_EQ(FontOf(Control(s, "lblTitle")).lfHeight, -29);  // 14.25 pt
    EXPECT_TRUE(IsBold(Control(s, "OptSingle")));             // the bold stays where it was
    // The list's columns and pictures grow with it.
    Window& m = Win(wizard_->multiple().form());
    ::SendMessageW(m.hwnd(), 0x02E0, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(ListView_GetColumnWidth(Control(m, "lv"), 0), 300);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(m.imageList("lv"), &cx, &cy);
    EXPECT_EQ(cx, 24);
}

// ---- The keyboard ----------------------------------------------------------------

// The names of the controls that Tab visits, from `first`.
std::vector<std::string> FocusOrder(const Window& w, HWND first, size_t count) {
    std::vector<std::string> order;
    HWND c = first;
    for (size_t i = 0; i < count && c; ++i) {
        const ControlInfo* info = w.info(c);
        order.push_back(info ? info->name : "?");
        c = ::GetNextDlgTabItem(w.hwnd(), c, FALSE);
    }
    return order;
}

// The character a key pressed with Alt makes, as the message loop delivers
// it to the focused control.
void AltKey(HWND focus, wchar_t key) { ::PostMessageW(focus, WM_SYSCHAR, key, 0x20000001); }

void Key(HWND focus, UINT vk) {
    ::PostMessageW(focus, WM_KEYDOWN, vk, 1);
    ::PostMessageW(focus, WM_KEYUP, vk, 0xC0000001);
}

TEST_F(Windows, TabFollowsTheTableAndEveryAccessKeyPressesItsControl) {
    for (Window* w : windows()) {
        // Tab visits the shown controls in the table's order; an option
        // group is one stop, in which the arrow keys move.
        std::vector<const wizard::Control*> tabbed;
        for (const wizard::Control& c : w->layout().controls)
            if (c.tab > 0 && !c.hidden) tabbed.push_back(&c);
        std::sort(tabbed.begin(), tabbed.end(), [](auto* a, auto* b) { return a->tab < b->tab; });
        std::vector<std::string> want;
        for (size_t i = 0; i < tabbed.size(); ++i) {
            ::EnableWindow(Control(*w, tabbed[i]->name), TRUE);
            if (!(i > 0 && tabbed[i]->kind == Kind::Option && tabbed[i - 1]->kind == Kind::Option))
                want.push_back(tabbed[i]->name);
        }
        want.push_back(want.front());
        w->showModeless();
        EXPECT_EQ(FocusOrder(*w, Control(*w, tabbed[0]->name), want.size()), want);

        std::vector<std::string> clicked, keyed;
        w->onClick = [&](std::string_view c) { clicked.emplace_back(c); };
        for (const wizard::Control& c : w->layout().controls) {
            if (!c.accessKey() || c.hidden) continue;
            keyed.push_back(c.name);
            const size_t before = clicked.size();
            AltKey(Control(*w, tabbed[0]->name), static_cast<wchar_t>(c.accessKey()));
            for (int i = 0; i < 200 && clicked.size() == before; ++i) Settle(1);
        }
        EXPECT_EQ(clicked, keyed) << w->name();
        w->hide();
    }
    Window& s = Win(wizard_->start().form());
    EXPECT_EQ(::GetNextDlgGroupItem(s.hwnd(), Control(s, "OptSingle"), FALSE), Control(s, "OptMultiple"));
}

// ---- Modal windows, the close box and Escape ---------------------------------------

TEST_F(Windows, AModalWindowDisablesTheOthersAndItsCloseBoxAndEscapeAskItsLogic) {
    auto owner = toolkit_->makeForm(wizard::StartLayout());
    auto other = toolkit_->makeForm(wizard::MultipleLayout());
    auto dialog = toolkit_->makeForm(wizard::StatusLayout());
    owner->showModeless();
    other->showModeless();
    int asked = 0;
    bool keep = true;
    dialog->onClose = [&] {
        ++asked;
        return !keep;
    };
    WhenModal("frmMigateAll", [&](Window& d) {
        EXPECT_EQ(::GetWindow(d.hwnd(), GW_OWNER), Win(*owner).hwnd());
        EXPECT_FALSE(::IsWindowEnabled(Win(*owner).hwnd()));
        EXPECT_FALSE(::IsWindowEnabled(Win(*other).hwnd()));
        ::SendMessageW(d.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);  // the logic keeps it open
        EXPECT_TRUE(d.isShown());
        keep = false;
        Key(Control(d, "CmdStartConversion"), VK_ESCAPE);
    });
    dialog->showModal(owner.get());
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(dialog->isShown());
    EXPECT_TRUE(::IsWindowEnabled(Win(*owner).hwnd()));
    EXPECT_TRUE(::IsWindowEnabled(Win(*other).hwnd()));
    // Escape does nothing in a window that is not a dialog.
    owner->onClose = [&] { return ++asked > 0; };
    Key(Control(Win(*owner), "CmdNext"), VK_ESCAPE);
    Settle();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(owner->isShown());
}

TEST_F(Windows, TheEndOfTheProgramPostsTheQuitThatEndsTheMessageLoop) {
    wizard::Wizard real(*toolkit_, dialogs_);  // ends the program as the program does
    real.start().show();
    ::SendMessageW(Win(real.start().form()).hwnd(), WM_CLOSE, 0, 0);
    MSG m{};
    bool quit = false;
    while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (m.message == WM_QUIT) quit = true;
    EXPECT_TRUE(quit);
    EXPECT_FALSE(real.start().form().isShown());
}

// ---- Pictures ----------------------------------------------------------------------

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

TEST_F(Windows, EachPictureIsItsOwnImageAtItsSizeAndTheProgramCarriesItsIcon) {
    for (Window* w : windows()) {
        for (const ControlInfo& c : w->controls()) {
            if (c.control->kind != Kind::Picture) continue;
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
}

// ---- The list, the bar and the labels as drawn ----------------------------------------

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
    // Pixels in a rectangle that pass a test.
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

TEST_F(Windows, ListRowsShowTheirPicturesAndPathTooltipAlternateAndTheConvertingRowIsGreenAndBold) {
    Window& m = Win(wizard_->multiple().form());
    m.showModeless();
    HWND lv = Control(m, "lv");
    wchar_t header[64] = {};
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT;
    col.pszText = header;
    col.cchTextMax = 64;
    ListView_GetColumn(lv, 1, &col);
    EXPECT_EQ(std::wstring(header), L"Mailbox Folder");
    EXPECT_TRUE(ListView_GetExtendedListViewStyle(lv) & LVS_EX_CHECKBOXES);
    const char* names[] = {"Alice Smith", "Bob Jones", "Carol White"};
    for (const char* n : names) m.addRow("lv", {n, std::string("C:\\Mail\\") + n});
    m.setAlternatingRows("lv", wizard::kWhite, wizard::kLightYellow);
    // The two columns fill the list: no sideways scrolling.
    RECT client{};
    ::GetClientRect(lv, &client);
    EXPECT_EQ(ListView_GetColumnWidth(lv, 0), 200);
    EXPECT_EQ(ListView_GetColumnWidth(lv, 0) + ListView_GetColumnWidth(lv, 1), client.right);
    EXPECT_EQ(ImageList_GetImageCount(m.imageList("lv")), 4);
    RECT row[3], name[3];
    for (int i = 0; i < 3; ++i) {
        // The person picture (ImageList1's 4) beside the name, the folder
        // (2) beside the path, which is the tooltip of its cell alone.
        LVITEMW item{};
        item.mask = LVIF_IMAGE;
        item.iItem = i;
        ListView_GetItem(lv, &item);
        EXPECT_EQ(item.iImage, 3);
        item.iSubItem = 1;
        ListView_GetItem(lv, &item);
        EXPECT_EQ(item.iImage, 1);
        RECT cell{};
        ListView_GetSubItemRect(lv, i, 1, LVIR_LABEL, &cell);
        EXPECT_EQ(m.cellTooltip("lv", POINT{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2}),
                  m.cell("lv", i, 1));
        ListView_GetSubItemRect(lv, i, 0, LVIR_LABEL, &name[i]);
        EXPECT_EQ(m.cellTooltip("lv", POINT{(name[i].left + name[i].right) / 2, (name[i].top + name[i].bottom) / 2}),
                  "");
        ListView_GetItemRect(lv, i, &row[i], LVIR_BOUNDS);
    }
    // The list's tooltip asks the window for the text under the pointer.
    RECT cell{};
    ListView_GetSubItemRect(lv, 2, 1, LVIR_LABEL, &cell);
    POINT p{(cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2};
    ::ClientToScreen(lv, &p);
    ::SetCursorPos(p.x, p.y);
    wchar_t tip[512] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = m.hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(lv);
    ti.lpszText = tip;
    ::SendMessageW(m.listTooltip("lv"), TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(U(tip), "C:\\Mail\\Carol White");

    std::vector<int> plainInk;
    {
        Painted painted(lv);
        // Beyond the text at the row's right end: the row's own background.
        for (int i = 0; i < 3; ++i) {
            const COLORREF want = i % 2 == 0 ? RGB(255, 255, 255) : RGB(255, 255, 192);
            EXPECT_EQ(painted.at(row[i].right - 3, (row[i].top + row[i].bottom) / 2), want) << "row " << i;
            EXPECT_EQ(painted.count(name[i], Greenish), 0) << "row " << i;
            plainInk.push_back(painted.count(name[i], Ink));
        }
    }
    // The run takes up the second row.
    m.setRowLook("lv", 1, wizard::kTitleGreen, true);
    Painted painted(lv);
    EXPECT_GT(painted.count(name[1], Greenish), 10);
    EXPECT_EQ(painted.count(name[0], Greenish), 0);
    EXPECT_EQ(painted.at(row[1].right - 3, (row[1].top + row[1].bottom) / 2), RGB(255, 255, 192));
    // Bold: the same name drawn with more ink than before.
    int boldInk = 0;
    for (int y = name[1].top; y < name[1].bottom; ++y)
        for (int x = name[1].left; x < name[1].right; ++x)
            if (Greenish(painted.at(x, y)) || Ink(painted.at(x, y))) ++boldInk;
    EXPECT_GT(boldInk, plainInk[1] + plainInk[1] / 10);
    // Space on a row ticks it.
    ::SetFocus(lv);
    ListView_SetItemState(lv, 1, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Key(lv, VK_SPACE);
    Settle();
    EXPECT_TRUE(m.isRowChecked("lv", 1));
    EXPECT_FALSE(m.isRowChecked("lv", 0));
}

TEST_F(Windows, TheStatusWindowShowsTextsAsWrittenAndTheStopButtonOverTheStart) {
    Window& st = Win(wizard_->status().form());
    // Drawn without access-key marks: the label shows every "&".
    st.setText("LblCurrentDBX", "Converting Messages... from (C:\\R&D &plan.msg)");
    EXPECT_TRUE(::GetWindowLongPtrW(Control(st, "LblCurrentDBX"), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_EQ(st.text("LblCurrentDBX"), "Converting Messages... from (C:\\R&D &plan.msg)");
    // A group frame draws one "&" from "&&".
    st.setText("FrameConversion", "Reading Messages & Email Metadata");
    EXPECT_EQ(TextOf(Control(st, "FrameConversion")), L"Reading Messages && Email Metadata");
    st.setProgress("ProgressBar1", 0, 40, 12);
    EXPECT_EQ(::SendMessageW(Control(st, "ProgressBar1"), PBM_GETPOS, 0, 0), 12);
    EXPECT_EQ(::SendMessageW(Control(st, "ProgressBar1"), PBM_GETRANGE, FALSE, 0), 40);
    // The stop button, once shown, is the one under the pointer in the
    // start button's place.
    HWND start = Control(st, "CmdStartConversion"), stop = Control(st, "CmdStopMigration");
    const RECT a = PlaceOf(st, start);
    const POINT centre{(a.left + a.right) / 2, (a.top + a.bottom) / 2};
    st.setShown("CmdStopMigration", true);
    EXPECT_EQ(::ChildWindowFromPointEx(st.hwnd(), centre, CWP_SKIPINVISIBLE), stop);
    st.setShown("CmdStopMigration", false);
    EXPECT_EQ(::ChildWindowFromPointEx(st.hwnd(), centre, CWP_SKIPINVISIBLE), start);
}

}  // namespace
}  // namespace tavrin::ui::win32
