#include "ui/win32/common/window.h"

#include <algorithm>

#include "ui/win32/common/message_loop.h"
#include "ui/win32/registry/registry.h"

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
    case Kind::Band: return 0;
    case Kind::Label: return SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    case Kind::ElidedLabel: return SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_PATHELLIPSIS;
    case Kind::WrappedLabel: return SS_LEFT | SS_NOPREFIX;
    case Kind::PathLabel: return SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL;
    case Kind::HelpLink: return SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_NOTIFY;
    case Kind::Picture: return SS_ICON | SS_REALSIZECONTROL;
    case Kind::Button: return BS_PUSHBUTTON | WS_TABSTOP;
    case Kind::Option: return BS_AUTORADIOBUTTON | WS_TABSTOP;
    case Kind::CheckBox: return BS_AUTOCHECKBOX | WS_TABSTOP;
    case Kind::Frame: return BS_GROUPBOX;
    case Kind::Edit: return ES_LEFT | ES_AUTOHSCROLL | ES_READONLY | WS_TABSTOP;
    // The window owns the list's pictures.
    case Kind::ListView: return LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | LVS_SHAREIMAGELISTS | WS_TABSTOP;
    case Kind::Progress: return 0;
    }
    return 0;
}

DWORD ExStyleOf(Kind kind) { return kind == Kind::Edit || kind == Kind::ListView ? WS_EX_CLIENTEDGE : 0; }

// Controls that take "&" as the mark of an access key.
bool ReadsMarks(Kind kind) {
    return kind == Kind::Button || kind == Kind::Option || kind == Kind::CheckBox || kind == Kind::Frame;
}

// ImageList1's pictures, numbered from 1 as the window names them: 2 is the
// yellow folder, 4 the person; 1 and 3 are not used by the list.
constexpr Picture kImageList[] = {Picture::Information, Picture::Folder, Picture::Information, Picture::Person};
int ImageOf(Picture p) {
    for (int i = 3; i >= 0; --i)
        if (kImageList[i] == p) return i;
    return -1;
}

std::wstring TextOf(HWND window) {
    const int n = ::GetWindowTextLengthW(window);
    if (n <= 0) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(window, text.data(), n + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

}  // namespace

int ControlId(const wizard::WindowLayout& layout, const wizard::Control& c) {
    return 1000 + static_cast<int>(&c - layout.controls.data());
}

Window::Window(const wizard::WindowLayout& layout) : layout_(layout), name_(layout.name) {
    RegisterWindowClass();
    style_ = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | (layout.dialog ? 0 : WS_MINIMIZEBOX);
    hwnd_ = ::CreateWindowExW(0, kClassName, W(layout.caption).c_str(), style_, CW_USEDEFAULT, CW_USEDEFAULT, 100,
                              100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Window::Proc));
    dpi_ = DpiOf(hwnd_);
    // Tab visits the controls in the order in which they are made, and where
    // controls overlap the one made first lies above: the controls that Tab
    // visits first, in their order, then the others as the table lists them
    // (group frames, which lie behind the controls inside them, come last).
    std::vector<const wizard::Control*> order;
    for (const wizard::Control& c : layout.controls)
        if (c.tab > 0) order.push_back(&c);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->tab < b->tab; });
    for (const wizard::Control& c : layout.controls)
        if (c.tab == 0 && c.kind != Kind::Band) order.push_back(&c);
    const wizard::Control* previous = nullptr;
    for (const wizard::Control* c : order) {
        // An option group starts with its first option, the group's one
        // stop for Tab (the arrow keys move in it), and ends where the next
        // control that Tab visits starts a group of its own.
        const bool option = c->kind == Kind::Option;
        const bool afterOption = previous && previous->kind == Kind::Option;
        DWORD style = 0;
        if (c->tab > 0 && option != afterOption) style |= WS_GROUP;
        add(*c, style, option && afterOption ? WS_TABSTOP : 0);
        if (c->tab > 0) previous = c;
    }
    relayout(dpi_, nullptr);
}

Window::~Window() {
    for (auto& [lv, l] : lists_) {
        if (::IsWindow(lv)) {
            ::RemoveWindowSubclass(lv, &Window::ListProc, 1);
            ListView_SetImageList(lv, nullptr, LVSIL_SMALL);
        }
        if (l.tip) ::DestroyWindow(l.tip);
        if (l.images) ImageList_Destroy(l.images);
    }
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

ControlInfo* Window::find(std::string_view name) {
    for (ControlInfo& c : controls_)
        if (!name.empty() && c.name == name) return &c;
    return nullptr;
}

const ControlInfo* Window::find(std::string_view name) const { return const_cast<Window*>(this)->find(name); }

HWND Window::control(std::string_view name) const {
    const ControlInfo* c = find(name);
    return c ? c->hwnd : nullptr;
}

const ControlInfo* Window::info(HWND control) const {
    for (const ControlInfo& c : controls_)
        if (c.hwnd == control) return &c;
    return nullptr;
}

Window::List* Window::list(std::string_view name) {
    auto it = lists_.find(control(name));
    return it == lists_.end() ? nullptr : &it->second;
}

const Window::List* Window::list(std::string_view name) const { return const_cast<Window*>(this)->list(name); }

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

// ---- Making and placing the controls ---------------------------------------------

void Window::add(const wizard::Control& def, DWORD extraStyle, DWORD droppedStyle) {
    ControlInfo c;
    c.name = def.name;
    c.control = &def;
    c.twips = layout_.placeInWindow(def);
    c.font = def.font;
    const DWORD style =
        (WS_CHILD | WS_CLIPSIBLINGS | StyleOf(def.kind) | extraStyle | (def.hidden ? 0 : WS_VISIBLE)) & ~droppedStyle;
    c.hwnd = ::CreateWindowExW(ExStyleOf(def.kind), ClassOf(def.kind),
                               def.kind == Kind::Picture ? nullptr : W(def.caption).c_str(), style, 0, 0, 10, 10,
                               hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(layout_, def))),
                               ::GetModuleHandleW(nullptr), nullptr);
    if (def.checked) ::SendMessageW(c.hwnd, BM_SETCHECK, BST_CHECKED, 0);
    if (def.kind == Kind::Progress) ::SendMessageW(c.hwnd, PBM_SETRANGE32, 0, 100);
    if (def.tooltip) {
        if (!tooltip_) {
            tooltip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                         WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, ::GetModuleHandleW(nullptr),
                                         nullptr);
        }
        TTTOOLINFOW ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = hwnd_;
        ti.uId = reinterpret_cast<UINT_PTR>(c.hwnd);
        std::wstring tip = W(def.tooltip);
        ti.lpszText = tip.data();
        ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
    controls_.push_back(c);
    if (def.kind == Kind::ListView) makeList(controls_.back());
}

void Window::makeList(ControlInfo& c) {
    HWND lv = c.hwnd;
    List& l = lists_[lv];
    // A check box in front of every row, the whole row selected, pictures in
    // the cells beside the first.
    ListView_SetExtendedListViewStyle(lv, LVS_EX_CHECKBOXES | LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT |
                                              LVS_EX_DOUBLEBUFFER);
    int i = 0;
    for (const wizard::Column& col : c.control->columns) {
        std::wstring caption = W(col.caption);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_SUBITEM;
        column.pszText = caption.data();
        column.iSubItem = i;
        ListView_InsertColumn(lv, i++, &column);
    }
    // The text of the cell under the pointer as its tooltip.
    l.tip = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd_;
    ti.uId = reinterpret_cast<UINT_PTR>(lv);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(l.tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    ::SetWindowSubclass(lv, &Window::ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

SIZE Window::frameSize() const {
    RECT r{0, 0, Px(layout_.width, dpi_), Px(layout_.height, dpi_)};
    AdjustForDpi(r, style_, 0, dpi_);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

void Window::placeControl(const ControlInfo& c) {
    const RECT r = PixelRect(c.twips, dpi_);
    ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (c.control->kind == Kind::Picture) {
        ::SendMessageW(c.hwnd, STM_SETICON,
                       reinterpret_cast<WPARAM>(PictureIcon(c.control->picture, r.right - r.left)), 0);
        ::SetWindowPos(c.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c.font, dpi_)), TRUE);
    }
}

// The width in pixels that a control's caption takes in its font: the text,
// and for an option button or check box its mark and the gap after it.
int Window::captionWidth(const ControlInfo& c) const {
    HDC dc = ::GetDC(c.hwnd);
    HGDIOBJ old = ::SelectObject(dc, Font(c.font, dpi_));
    const std::wstring text = TextOf(c.hwnd);
    RECT calc{0, 0, 0, 0};
    const bool marks = ReadsMarks(c.control->kind);
    ::DrawTextW(dc, text.c_str(), -1, &calc, DT_CALCRECT | DT_SINGLELINE | (marks ? 0 : DT_NOPREFIX));
    ::SelectObject(dc, old);
    ::ReleaseDC(c.hwnd, dc);
    int width = calc.right - calc.left;
    if (c.control->kind == Kind::Option || c.control->kind == Kind::CheckBox) width += ::MulDiv(20, dpi_, 96);
    return width;
}

// A help link that follows a caption starts where the caption ends in the
// font it is drawn in; the caption's control ends there too, so that it
// neither clips its text nor covers the link.
void Window::placeFollowers() {
    for (const ControlInfo& link : controls_) {
        if (!link.control->follows) continue;
        const ControlInfo* owner = find(link.control->follows);
        if (!owner) continue;
        RECT o = PixelRect(owner->twips, dpi_);
        o.right = o.left + captionWidth(*owner);
        ::SetWindowPos(owner->hwnd, nullptr, o.left, o.top, o.right - o.left, o.bottom - o.top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        RECT l = PixelRect(link.twips, dpi_);
        const int width = std::max<int>(l.right - l.left, captionWidth(link));
        ::SetWindowPos(link.hwnd, nullptr, o.right, l.top, width, l.bottom - l.top, SWP_NOZORDER | SWP_NOACTIVATE);
        ::InvalidateRect(hwnd_, nullptr, TRUE);
    }
}

// The columns with a width take it; the one without takes the rest of the
// list's width (inside its border, and beside the scroll bar once the rows
// need one), so that no sideways scroll bar appears.
void Window::placeColumns(HWND lv) {
    const ControlInfo* c = info(lv);
    RECT client{};
    ::GetClientRect(lv, &client);
    int rest = client.right;
    for (const wizard::Column& col : c->control->columns) rest -= Px(col.width, dpi_);
    int i = 0;
    for (const wizard::Column& col : c->control->columns)
        ListView_SetColumnWidth(lv, i++, col.width > 0 ? Px(col.width, dpi_) : std::max(Px(600, dpi_), rest));
}

// The list's pictures and tooltip at the window's dots per inch.
void Window::placeList(HWND lv) {
    List& l = lists_[lv];
    placeColumns(lv);
    const int size = Px(240, dpi_);
    HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 4, 0);
    for (Picture p : kImageList) ImageList_AddIcon(images, PictureIcon(p, size));
    ListView_SetImageList(lv, images, LVSIL_SMALL);
    if (l.images) ImageList_Destroy(l.images);
    l.images = images;
    ::SendMessageW(l.tip, WM_SETFONT, reinterpret_cast<WPARAM>(Font(wizard::Tahoma(900), dpi_)), FALSE);
}

void Window::relayout(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    for (const ControlInfo& c : controls_) placeControl(c);
    placeFollowers();
    for (auto& [lv, l] : lists_) placeList(lv);
    if (tooltip_) ::SendMessageW(tooltip_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(wizard::Tahoma(900), dpi_)), FALSE);
    ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(AppIcon(Px(240, dpi_))));
    ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(AppIcon(Px(480, dpi_))));
    const SIZE s = frameSize();
    if (suggested) {
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, s.cx, s.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        ::SetWindowPos(hwnd_, nullptr, 0, 0, s.cx, s.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

// ---- The controls ------------------------------------------------------------------

std::string Window::text(std::string_view control) const {
    const ControlInfo* c = find(control);
    return c ? U(TextOf(c->hwnd)) : std::string();
}

void Window::setText(std::string_view control, const std::string& text) {
    const ControlInfo* c = find(control);
    if (!c) return;
    const std::wstring w = W(text);
    ::SetWindowTextW(c->hwnd, (ReadsMarks(c->control->kind) ? EscapeAmpersands(w) : w).c_str());
    placeFollowers();
}

bool Window::isEnabled(std::string_view control) const {
    HWND h = this->control(control);
    return h && ::IsWindowEnabled(h);
}

void Window::setEnabled(std::string_view control, bool enabled) {
    if (HWND h = this->control(control)) ::EnableWindow(h, enabled);
}

bool Window::isShown(std::string_view control) const {
    HWND h = this->control(control);
    return h && (::GetWindowLongPtrW(h, GWL_STYLE) & WS_VISIBLE);
}

void Window::setShown(std::string_view control, bool shown) {
    if (HWND h = this->control(control)) ::ShowWindow(h, shown ? SW_SHOW : SW_HIDE);
}

bool Window::isChecked(std::string_view control) const {
    HWND h = this->control(control);
    return h && ::SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Window::setChecked(std::string_view control, bool checked) {
    if (HWND h = this->control(control)) ::SendMessageW(h, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Window::setBold(std::string_view control, bool bold) {
    ControlInfo* c = find(control);
    if (!c) return;
    c->font.bold = bold;
    ::SendMessageW(c->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c->font, dpi_)), TRUE);
    placeFollowers();
}

void Window::setFocus(std::string_view control) {
    if (HWND h = this->control(control)) ::SetFocus(h);
}

void Window::setProgress(std::string_view control, int minimum, int maximum, int value) {
    HWND h = this->control(control);
    if (!h) return;
    ::SendMessageW(h, PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
    ::SendMessageW(h, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

// ---- Lists ---------------------------------------------------------------------------

void Window::clearRows(std::string_view name) {
    List* l = list(name);
    if (!l) return;
    HWND lv = control(name);
    ListView_DeleteAllItems(lv);
    l->rows.clear();
    placeColumns(lv);
    ::UpdateWindow(lv);
}

void Window::addRow(std::string_view name, const std::vector<std::string>& cells) {
    List* l = list(name);
    if (!l || cells.empty()) return;
    HWND lv = control(name);
    const auto columns = find(name)->control->columns;
    const int row = ListView_GetItemCount(lv);
    for (size_t i = 0; i < cells.size() && i < columns.size(); ++i) {
        std::wstring text = W(cells[i]);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = row;
        item.iSubItem = static_cast<int>(i);
        item.pszText = text.data();
        item.iImage = ImageOf(columns[i].picture);
        if (i == 0 && ListView_InsertItem(lv, &item) < 0) return;
        if (i > 0) ListView_SetItem(lv, &item);
    }
    l->rows.emplace_back(wizard::kSystemColour, false);
    placeColumns(lv);
    ::InvalidateRect(lv, nullptr, FALSE);
}

int Window::rowCount(std::string_view name) const {
    HWND lv = control(name);
    return lv ? ListView_GetItemCount(lv) : 0;
}

std::string Window::cell(std::string_view name, int row, int column) const {
    HWND lv = control(name);
    if (!lv) return {};
    // The text can be a long path: ask again with more room until it fits.
    std::wstring buffer(512, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto n = static_cast<size_t>(
            ::SendMessageW(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (n + 1 < buffer.size() || buffer.size() >= 65536) {
            buffer.resize(std::min(n, buffer.size()));
            return U(buffer);
        }
        buffer.assign(buffer.size() * 4, L'\0');
    }
}

bool Window::isRowChecked(std::string_view name, int row) const {
    HWND lv = control(name);
    return lv && ListView_GetCheckState(lv, row) != 0;
}

void Window::setRowChecked(std::string_view name, int row, bool checked) {
    if (HWND lv = control(name)) ListView_SetCheckState(lv, row, checked ? TRUE : FALSE);
}

void Window::setRowLook(std::string_view name, int row, unsigned colour, bool bold) {
    List* l = list(name);
    if (!l || row < 0 || row >= static_cast<int>(l->rows.size())) return;
    l->rows[static_cast<size_t>(row)] = {colour, bold};
    ListView_RedrawItems(control(name), row, row);
}

void Window::setAlternatingRows(std::string_view name, unsigned first, unsigned second) {
    List* l = list(name);
    if (!l) return;
    l->alternate = true;
    l->first = first;
    l->second = second;
    ::InvalidateRect(control(name), nullptr, TRUE);
}

Window::RowLook Window::rowLook(std::string_view name, int row) const {
    RowLook look{::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW), false};
    const List* l = list(name);
    if (!l) return look;
    if (l->alternate) look.background = Colour(row % 2 == 0 ? l->first : l->second);
    if (row >= 0 && row < static_cast<int>(l->rows.size())) {
        const auto [colour, bold] = l->rows[static_cast<size_t>(row)];
        if (colour != wizard::kSystemColour) look.text = Colour(colour);
        look.bold = bold;
    }
    return look;
}

std::string Window::cellTooltip(std::string_view name, POINT point) const {
    const ControlInfo* c = find(name);
    if (!c || !list(name)) return {};
    LVHITTESTINFO hit{};
    hit.pt = point;
    if (ListView_SubItemHitTest(c->hwnd, &hit) < 0 || hit.iItem < 0 || hit.iSubItem < 0) return {};
    const auto columns = c->control->columns;
    if (static_cast<size_t>(hit.iSubItem) >= columns.size() || !columns[static_cast<size_t>(hit.iSubItem)].tooltip)
        return {};
    return cell(name, hit.iItem, hit.iSubItem);
}

HWND Window::listTooltip(std::string_view name) const {
    const List* l = list(name);
    return l ? l->tip : nullptr;
}

HIMAGELIST Window::imageList(std::string_view name) const {
    const List* l = list(name);
    return l ? l->images : nullptr;
}

LRESULT CALLBACK Window::ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<Window*>(data);
    auto it = self->lists_.find(hwnd);
    if (message == WM_MOUSEMOVE && it != self->lists_.end() && it->second.tip) {
        LVHITTESTINFO hit{};
        hit.pt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ListView_SubItemHitTest(hwnd, &hit);
        const POINT cell{hit.iItem, hit.iSubItem};
        if (cell.x != it->second.lastCell.x || cell.y != it->second.lastCell.y) {
            // Another cell: the tip of the last one goes, and the next one
            // asks for its own text.
            it->second.lastCell = cell;
            ::SendMessageW(it->second.tip, TTM_POP, 0, 0);
        }
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

bool Window::onNotify(NMHDR* header, LRESULT& result) {
    for (auto& [lv, l] : lists_) {
        const ControlInfo* c = info(lv);
        if (header->hwndFrom == l.tip && header->code == TTN_GETDISPINFOW) {
            auto* disp = reinterpret_cast<NMTTDISPINFOW*>(header);
            POINT p{};
            ::GetCursorPos(&p);
            ::ScreenToClient(lv, &p);
            l.tipText = W(cellTooltip(c->name, p));
            disp->lpszText = l.tipText.data();
            result = 0;
            return true;
        }
        if (header->hwndFrom == lv && header->code == NM_CUSTOMDRAW) {
            auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
            switch (draw->nmcd.dwDrawStage) {
            case CDDS_PREPAINT: result = CDRF_NOTIFYITEMDRAW; return true;
            case CDDS_ITEMPREPAINT: {
                // The rows alternate in the two colours; a row whose folder
                // the run has taken up is drawn in its colour and bold.
                const RowLook look = rowLook(c->name, static_cast<int>(draw->nmcd.dwItemSpec));
                draw->clrText = look.text;
                draw->clrTextBk = look.background;
                result = CDRF_DODEFAULT;
                if (look.bold) {
                    wizard::FontSpec bold = c->font;
                    bold.bold = true;
                    ::SelectObject(draw->nmcd.hdc, Font(bold, dpi_));
                    result = CDRF_NEWFONT;
                }
                return true;
            }
            default: break;
            }
        }
    }
    return false;
}

// ---- The window --------------------------------------------------------------------

std::string Window::title() const { return U(TextOf(hwnd_)); }
void Window::setTitle(const std::string& title) { ::SetWindowTextW(hwnd_, W(title).c_str()); }
bool Window::isShown() const { return hwnd_ && ::IsWindowVisible(hwnd_); }

void Window::showModeless() {
    ::ShowWindow(hwnd_, SW_SHOW);
    ::SetForegroundWindow(hwnd_);
}

void Window::centreOn(const wizard::Form* otherForm) {
    const Window* other = WindowOf(otherForm);
    RECT area{};
    if (other && other->isShown()) {
        ::GetWindowRect(other->hwnd_, &area);
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

void Window::enableDisabled() {
    for (HWND w : disabledByModal_)
        if (::IsWindow(w)) ::EnableWindow(w, TRUE);
    disabledByModal_.clear();
}

void Window::showModal(wizard::Form* ownerForm) {
    if (!hwnd_ || modal_) return;
    const Window* ownerWindow = WindowOf(ownerForm);
    HWND owner = ownerWindow ? ownerWindow->hwnd_ : nullptr;
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
    showModeless();
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

// The windows a modal showing disabled take input again first, so that the
// owner becomes the active window.
void Window::hide() {
    if (!hwnd_) return;
    if (modal_) enableDisabled();
    ::ShowWindow(hwnd_, SW_HIDE);
}

void Window::close() {
    if (!onClose || onClose()) hide();
}

LRESULT Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client{};
        ::GetClientRect(hwnd_, &client);
        ::FillRect(dc, &client, Brush(wizard::kSystemColour));
        for (const wizard::Control& b : layout_.controls) {
            if (b.kind != Kind::Band) continue;
            const RECT r = PixelRect(b.place, dpi_);
            ::FillRect(dc, &r, Brush(b.back));
            ::FrameRect(dc, &r, Brush(wizard::kBandBorder));
        }
        return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const ControlInfo* c = info(reinterpret_cast<HWND>(lParam));
        if (!c) break;
        const unsigned back = c->control->kind == Kind::Edit ? wizard::kWhite : c->control->back;
        ::SetTextColor(dc, Colour(c->control->fore));
        ::SetBkColor(dc, Colour(back));
        return reinterpret_cast<LRESULT>(Brush(back));
    }
    case WM_SETCURSOR: {
        const ControlInfo* c = info(reinterpret_cast<HWND>(wParam));
        if (c && c->control->kind == Kind::HelpLink && LOWORD(lParam) == HTCLIENT) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    }
    case WM_COMMAND: {
        HWND ctl = reinterpret_cast<HWND>(lParam);
        if (!ctl) {
            // Escape (IsDialogMessage's IDCANCEL) closes a dialog as its
            // close box does.
            if (LOWORD(wParam) == IDCANCEL && layout_.dialog) close();
            return 0;
        }
        // BN_CLICKED and STN_CLICKED (a help link) are both 0.
        const ControlInfo* c = info(ctl);
        if (c && HIWORD(wParam) == BN_CLICKED && c->control->clickable() && onClick) onClick(c->name);
        return 0;
    }
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (onNotify(reinterpret_cast<NMHDR*>(lParam), result)) return result;
        break;
    }
    case WM_CLOSE: close(); return 0;
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
    return ::DefWindowProcW(hwnd_, message, wParam, lParam);
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

// ---- The toolkit -------------------------------------------------------------------

namespace {

class Win32Toolkit : public wizard::Toolkit {
public:
    // The common controls are initialised before any window is made (as
    // the single-folder and status windows do when they are created).
    std::unique_ptr<wizard::Form> makeForm(const wizard::WindowLayout& layout) override {
        ::InitCommonControls();
        return std::make_unique<Window>(layout);
    }
    void yield() override { DeliverPendingMessages(); }
    void quit() override { ::PostQuitMessage(0); }
    std::string desktopFolder() override { return DesktopFolder(); }
};

}  // namespace

std::unique_ptr<wizard::Toolkit> MakeToolkit() { return std::make_unique<Win32Toolkit>(); }

Window* WindowOf(const wizard::Form* form) { return dynamic_cast<Window*>(const_cast<wizard::Form*>(form)); }

}  // namespace tavrin::ui::win32
