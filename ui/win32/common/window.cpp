#include "ui/win32/common/window.h"

#include <algorithm>

#include "ui/win32/common/message_loop.h"

namespace tavrin::ui::win32 {

namespace {

constexpr wchar_t kClassName[] = L"TavrinWizardWindow";

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

void RegisterWindowClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcW;  // replaced per window once it is created
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;  // WM_ERASEBKGND paints the face and the bands
    wc.lpszClassName = kClassName;
    wc.hIcon = AppIcon(32);
    wc.hIconSm = AppIcon(16);
    registered = ::RegisterClassExW(&wc) != 0;
}

// AdjustWindowRectExForDpi arrived with Windows 10 (1607).
void AdjustForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi) {
    using Fn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (adjust) adjust(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
    else ::AdjustWindowRectEx(&r, style, FALSE, exStyle);
}

std::vector<Window*>& ModalStack() {
    static std::vector<Window*> stack;
    return stack;
}

const wchar_t* ClassOf(Kind kind) {
    switch (kind) {
    case Kind::Button:
    case Kind::Option:
    case Kind::CheckBox:
    case Kind::Frame: return L"BUTTON";
    case Kind::Edit: return L"EDIT";
    case Kind::ListView: return WC_LISTVIEWW;
    case Kind::Progress: return PROGRESS_CLASSW;
    default: return L"STATIC";
    }
}

DWORD StyleOf(Kind kind) {
    switch (kind) {
    case Kind::Label: return SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    case Kind::WrappedLabel: return SS_LEFT | SS_NOPREFIX;
    case Kind::PathLabel: return SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL;
    case Kind::HelpLink: return SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
    case Kind::Picture: return SS_ICON | SS_REALSIZECONTROL;
    case Kind::Button: return BS_PUSHBUTTON | WS_TABSTOP;
    case Kind::Option: return BS_AUTORADIOBUTTON | WS_TABSTOP;
    case Kind::CheckBox: return BS_AUTOCHECKBOX | WS_TABSTOP;
    case Kind::Frame: return BS_GROUPBOX;
    case Kind::Edit: return ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP;
    case Kind::ListView: return LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_TABSTOP;
    case Kind::Progress: return 0;
    }
    return 0;
}

DWORD ExStyleOf(Kind kind) {
    switch (kind) {
    case Kind::Edit:
    case Kind::ListView: return WS_EX_CLIENTEDGE;
    default: return 0;
    }
}

}  // namespace

Window::~Window() {
    if (hwnd_) {
        ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        ::DestroyWindow(hwnd_);
    }
    if (tooltip_) ::DestroyWindow(tooltip_);
    auto& stack = ModalStack();
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
}

bool Window::IsWizardWindow(HWND window) {
    wchar_t name[64] = {};
    return window && ::GetClassNameW(window, name, 64) > 0 && std::wstring_view(name) == kClassName;
}

const std::vector<Window*>& Window::ModalWindows() { return ModalStack(); }

HWND Window::control(std::string_view name) const {
    for (const ControlInfo& c : controls_)
        if (c.name == name) return c.hwnd;
    return nullptr;
}

const ControlInfo* Window::info(HWND control) const {
    for (const ControlInfo& c : controls_)
        if (c.hwnd == control) return &c;
    return nullptr;
}

bool Window::isVisible() const { return hwnd_ && ::IsWindowVisible(hwnd_); }

std::wstring Window::tooltipOf(HWND control) const {
    if (!tooltip_) return {};
    wchar_t text[512] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    ti.lpszText = text;
    ::SendMessageW(tooltip_, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
    return text;
}

SIZE Window::frameSize() const {
    RECT r{0, 0, Px(clientTwips_.cx, dpi_), Px(clientTwips_.cy, dpi_)};
    AdjustForDpi(r, style_, 0, dpi_);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void Window::createWindow(std::string name, const std::wstring& caption, int clientWidth, int clientHeight,
                          DWORD style, HWND owner) {
    RegisterWindowClass();
    name_ = std::move(name);
    style_ = style;
    clientTwips_ = SIZE{clientWidth, clientHeight};
    hwnd_ = ::CreateWindowExW(0, kClassName, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, owner,
                              nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::Proc));
    dpi_ = DpiOf(hwnd_);
    const SIZE s = frameSize();
    ::SetWindowPos(hwnd_, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    setIcons();
}

void Window::setIcons() {
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(AppIcon(Px(240, dpi_))));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon(Px(480, dpi_))));
}

void Window::placeControl(const ControlInfo& c) {
    const RECT r = PixelRect(c.twips, dpi_);
    ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    if (c.kind == Kind::Picture) {
        ::SendMessageW(c.hwnd, STM_SETICON, reinterpret_cast<WPARAM>(PictureIcon(c.picture, r.right - r.left)), 0);
        ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c.font, dpi_)), TRUE);
    }
}

HWND Window::add(Kind kind, std::string name, const std::wstring& text, const Twips& where, const FontSpec& font,
                 COLORREF fore, COLORREF back, DWORD extraStyle) {
    ControlInfo c;
    c.name = std::move(name);
    c.kind = kind;
    c.twips = where;
    c.font = font;
    c.fore = fore;
    c.back = back;
    const int id = nextId_++;
    c.hwnd = ::CreateWindowExW(ExStyleOf(kind), ClassOf(kind), text.c_str(),
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | StyleOf(kind) | extraStyle, 0, 0, 10, 10,
                               hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                               nullptr);
    placeControl(c);
    controls_.push_back(c);
    return c.hwnd;
}

HWND Window::addPicture(std::string name, Picture picture, const Twips& where, COLORREF back) {
    ControlInfo c;
    c.back = back;
    c.name = std::move(name);
    c.kind = Kind::Picture;
    c.twips = where;
    c.picture = picture;
    const int id = nextId_++;
    c.hwnd = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | StyleOf(Kind::Picture),
                               0, 0, 16, 16,
                               hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                               nullptr);
    placeControl(c);
    controls_.push_back(c);
    return c.hwnd;
}

void Window::addBand(const Twips& where, COLORREF fill) { bands_.push_back({where, fill}); }

void Window::setFont(HWND control, const FontSpec& font) {
    for (ControlInfo& c : controls_) {
        if (c.hwnd != control) continue;
        c.font = font;
        ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Font(font, dpi_)), TRUE);
    }
}

void Window::addTooltip(HWND control, const std::wstring& text) {
    if (!tooltip_) {
        tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                     ::GetModuleHandleW(nullptr), nullptr);
        ::SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(Tahoma(900), dpi_)), FALSE);
    }
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(control);
    std::wstring copy = text;
    ti.lpszText = copy.data();
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void Window::centreOn(HWND other) {
    RECT area{};
    if (other && ::IsWindowVisible(other)) {
        ::GetWindowRect(other, &area);
    } else {
        MONITORINFO mi{};
        mi.cbSize = sizeof mi;
        ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi);
        area = mi.rcWork;
    }
    RECT me{};
    ::GetWindowRect(hwnd_, &me);
    const int w = me.right - me.left, h = me.bottom - me.top;
    int x = area.left + (area.right - area.left - w) / 2;
    int y = area.top + (area.bottom - area.top - h) / 2;
    // Keep the caption on the screen.
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    if (::GetMonitorInfoW(::MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &mi)) {
        x = std::max(static_cast<int>(mi.rcWork.left), std::min(x, static_cast<int>(mi.rcWork.right) - w));
        y = std::max(static_cast<int>(mi.rcWork.top), std::min(y, static_cast<int>(mi.rcWork.bottom) - h));
    }
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::present() {
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
}

void Window::enableDisabled() {
    for (HWND w : disabledByModal_)
        if (::IsWindow(w)) ::EnableWindow(w, TRUE);
    disabledByModal_.clear();
}

void Window::runModal(HWND owner) {
    if (!hwnd_ || modal_) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    disabledByModal_.clear();
    struct Ctx {
        Window* self;
    } ctx{this};
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            auto* c = reinterpret_cast<Ctx*>(p);
            if (w != c->self->hwnd_ && IsWizardWindow(w) && ::IsWindowEnabled(w)) {
                ::EnableWindow(w, FALSE);
                c->self->disabledByModal_.push_back(w);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    modal_ = true;
    ModalStack().push_back(this);
    present();
    while (modal_ && ::IsWindow(hwnd_) && ::IsWindowVisible(hwnd_)) {
        if (!PumpOneMessage()) break;
    }
    enableDisabled();
    auto& stack = ModalStack();
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
    modal_ = false;
    if (::IsWindowVisible(hwnd_)) ::ShowWindow(hwnd_, SW_HIDE);  // the program is ending
    if (owner && ::IsWindowVisible(owner)) ::SetActiveWindow(owner);
}

void Window::hide() {
    if (!hwnd_) return;
    if (modal_) enableDisabled();
    ::ShowWindow(hwnd_, SW_HIDE);
}

LRESULT Window::defaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Window::relayout(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    for (const ControlInfo& c : controls_) placeControl(c);
    if (tooltip_) ::SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(Tahoma(900), dpi_)), FALSE);
    setIcons();
    const SIZE s = frameSize();
    if (suggested) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, s.cx, s.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    onLayout();
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

LRESULT Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        ::FillRect(dc, &client, Brush(kFace));
        for (const Band& b : bands_) {
            const RECT r = PixelRect(b.where, dpi_);
            ::FillRect(dc, &r, Brush(b.fill));
            ::FrameRect(dc, &r, Brush(kBandBorder));
        }
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const ControlInfo* c = info(reinterpret_cast<HWND>(lParam));
        if (!c) break;
        COLORREF back = c->back;
        if (c->kind == Kind::Edit) back = kWhite;
        ::SetTextColor(dc, c->fore);
        ::SetBkColor(dc, back == kFace ? ::GetSysColor(COLOR_BTNFACE) : back);
        return reinterpret_cast<LRESULT>(Brush(back));
    }
    case WM_SETCURSOR: {
        const ControlInfo* c = info(reinterpret_cast<HWND>(wParam));
        if (c && c->kind == Kind::HelpLink && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    }
    case WM_COMMAND: {
        HWND ctl = reinterpret_cast<HWND>(lParam);
        if (!ctl) {
            if (LOWORD(wParam) == IDCANCEL) onCancel();
            return 0;
        }
        onCommand(ctl, HIWORD(wParam));
        return 0;
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (onNotify(reinterpret_cast<NMHDR*>(lParam), result)) return result;
        break;
    }
    case WM_CLOSE: onClose(); return 0;
    case WM_ACTIVATE:
        // The control that had the focus gets it back when the window is
        // active again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND f = ::GetFocus();
            if (f && ::IsChild(hwnd_, f)) lastFocus_ = f;
        } else if (lastFocus_ && ::IsWindow(lastFocus_) && ::IsWindowEnabled(lastFocus_) &&
                   ::IsWindowVisible(lastFocus_)) {
            ::SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_DPICHANGED: relayout(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam)); return 0;
    default: break;
    }
    return defaultProc(message, wParam, lParam);
}

LRESULT CALLBACK Window::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        self->hwnd_ = nullptr;
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return self->onMessage(message, wParam, lParam);
}

}  // namespace tavrin::ui::win32
