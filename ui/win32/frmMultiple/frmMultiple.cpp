#include "ui/win32/frmMultiple/frmMultiple.h"

#include <algorithm>

#include "ui/win32/common/message_loop.h"
#include "ui/win32/frmMigateAll/frmMigateAll.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/frmStart/frmStart.h"
#include "ui/win32/registry/registry.h"
#include "ui/win32/wizard/wizard.h"

namespace tavrin::ui::win32 {

namespace {
// The folder frame's place; the select-all box and the list are placed
// relative to it.
constexpr int kFrameLeft = 240, kFrameTop = 1560;
Twips InFrame(int left, int top, int width, int height) {
    return {kFrameLeft + left, kFrameTop + top, width, height};
}
// ImageList1's pictures, numbered from 1 as the window names them: 2 is the
// yellow folder, 4 the person; 1 and 3 are not used by the list.
constexpr int kImageFolder = 2, kImagePerson = 4;
}  // namespace

frmMultiple::frmMultiple(Wizard& wizard) : wizard_(wizard), logic_(*this) {
    createWindow("frmMultiple", W(wizard::MultipleLogic::kCaption), 10590, 7080,
                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, nullptr);
    addBand({0, 0, 10695, 855}, kWhite);
    addBand({0, 6480, 10695, 855}, kWhite);

    // Tab visits "&Next >", the list, "Select...", the select-all box,
    // "Change...", the output folder box and "< Bac&k", in that order.
    cmdNext_ = add(Kind::Button, "CmdNext", L"&Next >", {8640, 6600, 1695, 390}, Tahoma(825), kBlack, kWhite);
    lv_ = add(Kind::ListView, "lv", L"", InFrame(240, 720, 9615, 3135), Tahoma(900), kBlack, kWhite,
              LVS_SHAREIMAGELISTS);
    cmdAddFolder_ = add(Kind::Button, "CmdAddFolder", L"Select...", {6720, 1000, 1455, 390}, Tahoma(900));
    chkSelectAll_ = add(Kind::CheckBox, "chkSelectAll", W(wizard::MultipleLogic::kCheckAll),
                        InFrame(340, 360, 3015, 255), Tahoma(900));
    cmdChange_ = add(Kind::Button, "cmdChange", L"Change...", {9000, 5760, 1335, 390}, Tahoma(900));
    txtOutputFolder_ = add(Kind::Edit, "txtOutputFolder", L"", {1680, 5760, 7215, 405}, Tahoma(900));
    cmdBack_ = add(Kind::Button, "cmdBack", L"< Bac&k", {7080, 6600, 1335, 390}, Tahoma(825), kBlack, kWhite);

    add(Kind::Label, "lblTitle", L"Multiple Folder Conversion", {240, 120, 6255, 375}, Tahoma(1425, true),
        kTitleGrey, kWhite);
    add(Kind::Label, "lblSubtitle", L"Convert one by one all folders to respective Outlook .pst files",
        {240, 480, 6135, 255}, Tahoma(825), kBlack, kWhite);
    addPicture("imgFolder", Picture::Folder, {240, 1080, 240, 240});
    add(Kind::Label, "lblPrompt", L"Select top folder having all sub-folders inside it containing .msg files",
        {600, 1080, 5775, 360}, Tahoma(900));
    lblSelectRootFolder_ = add(Kind::HelpLink, "lblSelectRootFolder", L" [ ? ]", {8280, 1080, 495, 240},
                               Tahoma(900), kLinkBlue);
    addTooltip(lblSelectRootFolder_, L"Click to Know More...");
    add(Kind::Label, "lblOutput", L"Output Folder:", {240, 5880, 1575, 345}, Tahoma(900));
    add(Kind::Frame, "fraFolders", L" Select Folders", {kFrameLeft, kFrameTop, 10095, 4095}, Tahoma(900, true));

    // The list: report view, a check box in front of every row, the whole
    // row selected, pictures in the sub-items.
    ListView_SetExtendedListViewStyle(lv_, LVS_EX_CHECKBOXES | LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT |
                                               LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.pszText = const_cast<wchar_t*>(L"User");
    column.iSubItem = 0;
    ListView_InsertColumn(lv_, 0, &column);
    column.pszText = const_cast<wchar_t*>(L"Mailbox Folder");
    column.iSubItem = 1;
    ListView_InsertColumn(lv_, 1, &column);
    placeColumns();
    makeImageList();

    // The full path of a row as the tooltip of its "Mailbox Folder" cell.
    listTip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
    ::SendMessageW(listTip_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(Tahoma(900), dpi())), FALSE);
    TTTOOLINFOW ti{};
    ti.cbSize = sizeof ti;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = hwnd();
    ti.uId = reinterpret_cast<UINT_PTR>(lv_);
    ti.lpszText = LPSTR_TEXTCALLBACKW;
    ::SendMessageW(listTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    ::SetWindowSubclass(lv_, &frmMultiple::ListProc, 1, reinterpret_cast<DWORD_PTR>(this));

    logic_.Form_Load();
}

frmMultiple::~frmMultiple() {
    if (lv_ && ::IsWindow(lv_)) {
        ::RemoveWindowSubclass(lv_, &frmMultiple::ListProc, 1);
        ListView_SetImageList(lv_, nullptr, LVSIL_SMALL);
    }
    if (listTip_) ::DestroyWindow(listTip_);
    if (images_) ImageList_Destroy(images_);
}

void frmMultiple::placeColumns() {
    // "User" about 3000 twips and "Mailbox Folder" the rest: together they
    // fill the list's width (inside its border, and beside the scroll bar
    // once the rows need one), so that no sideways scroll bar appears.
    const int user = Px(3000, dpi());
    RECT client{};
    ::GetClientRect(lv_, &client);
    ListView_SetColumnWidth(lv_, 0, user);
    ListView_SetColumnWidth(lv_, 1, std::max(Px(600, dpi()), static_cast<int>(client.right) - user));
}

void frmMultiple::makeImageList() {
    const int size = Px(240, dpi());
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 4, 0);
    const Picture pictures[] = {Picture::Information, Picture::Folder, Picture::Information, Picture::Person};
    for (Picture p : pictures) ImageList_AddIcon(list, PictureIcon(p, size));
    ListView_SetImageList(lv_, list, LVSIL_SMALL);
    if (images_) ImageList_Destroy(images_);
    images_ = list;
}

void frmMultiple::onLayout() {
    placeColumns();
    makeImageList();
    if (listTip_) ::SendMessageW(listTip_, WM_SETFONT, reinterpret_cast<WPARAM>(Font(Tahoma(900), dpi())), FALSE);
}

void frmMultiple::showModeless() {
    const bool first = !shownOnce_;
    shownOnce_ = true;
    if (first) centreOn(nullptr);
    present();
    if (first) ::SetFocus(cmdNext_);
}

std::string frmMultiple::itemText(int row, int column) const {
    // The text can be a long path: ask again with more room until it fits.
    std::wstring buffer(512, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto n = static_cast<size_t>(
            ::SendMessageW(lv_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (n + 1 < buffer.size() || buffer.size() >= 65536) {
            buffer.resize(std::min(n, buffer.size()));
            return U(buffer);
        }
        buffer.assign(buffer.size() * 4, L'\0');
    }
}

std::string frmMultiple::rowText(int row) const { return itemText(row, 0); }
std::string frmMultiple::rowSubItemText(int row) const { return itemText(row, 1); }

void frmMultiple::setRowForeColor(int row, int red, int green, int blue) {
    if (row < 0 || row >= static_cast<int>(looks_.size())) return;
    looks_[static_cast<size_t>(row)].hasColour = true;
    looks_[static_cast<size_t>(row)].colour = RGB(red, green, blue);
    ListView_RedrawItems(lv_, row, row);
}

void frmMultiple::setRowBold(int row, bool bold) {
    if (row < 0 || row >= static_cast<int>(looks_.size())) return;
    looks_[static_cast<size_t>(row)].bold = bold;
    ListView_RedrawItems(lv_, row, row);
}

frmMultiple::RowLook frmMultiple::rowLook(int row) const {
    RowLook look{::GetSysColor(COLOR_WINDOWTEXT), ::GetSysColor(COLOR_WINDOW), false};
    if (alternate_) look.background = row % 2 == 0 ? first_ : second_;
    if (row >= 0 && row < static_cast<int>(looks_.size())) {
        const Look& l = looks_[static_cast<size_t>(row)];
        if (l.hasColour) look.text = l.colour;
        look.bold = l.bold;
    }
    return look;
}

std::string frmMultiple::cellTooltip(POINT point) const {
    LVHITTESTINFO hit{};
    hit.pt = point;
    if (ListView_SubItemHitTest(lv_, &hit) < 0 || hit.iItem < 0 || hit.iSubItem != 1) return {};
    return rowSubItemText(hit.iItem);
}

LRESULT CALLBACK frmMultiple::ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR data) {
    auto* self = reinterpret_cast<frmMultiple*>(data);
    if (message == WM_MOUSEMOVE && self->listTip_) {
        LVHITTESTINFO hit{};
        hit.pt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        ListView_SubItemHitTest(hwnd, &hit);
        const POINT cell{hit.iItem, hit.iSubItem};
        if (cell.x != self->lastCell_.x || cell.y != self->lastCell_.y) {
            // Another cell: the tip of the last one goes, and the next one
            // asks for its own text.
            self->lastCell_ = cell;
            ::SendMessageW(self->listTip_, TTM_POP, 0, 0);
        }
    }
    return ::DefSubclassProc(hwnd, message, wParam, lParam);
}

bool frmMultiple::onNotify(NMHDR* header, LRESULT& result) {
    if (header->hwndFrom == listTip_ && header->code == TTN_GETDISPINFOW) {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
        POINT p{};
        ::GetCursorPos(&p);
        ::ScreenToClient(lv_, &p);
        tipText_ = W(cellTooltip(p));
        info->lpszText = tipText_.data();
        result = 0;
        return true;
    }
    if (header->hwndFrom == lv_ && header->code == NM_CUSTOMDRAW) {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT: result = CDRF_NOTIFYITEMDRAW; return true;
        case CDDS_ITEMPREPAINT: {
            // The rows alternate in the two colours; a row whose folder the
            // run has taken up is drawn in its colour and bold.
            const RowLook look = rowLook(static_cast<int>(draw->nmcd.dwItemSpec));
            draw->clrText = look.text;
            draw->clrTextBk = look.background;
            result = CDRF_DODEFAULT;
            if (look.bold) {
                ::SelectObject(draw->nmcd.hdc, Font(Tahoma(900, true), dpi()));
                result = CDRF_NEWFONT;
            }
            return true;
        }
        default: break;
        }
    }
    return false;
}

std::string frmMultiple::SpecialFolderPath() const { return DesktopFolder(); }
std::string frmMultiple::outputFolder() const { return WindowText(txtOutputFolder_); }
void frmMultiple::setOutputFolder(const std::string& path) { ::SetWindowTextW(txtOutputFolder_, W(path).c_str()); }
bool frmMultiple::selectAllTicked() const {
    return ::SendMessageW(chkSelectAll_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void frmMultiple::setSelectAllTicked(bool ticked) {
    ::SendMessageW(chkSelectAll_, BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}
void frmMultiple::setSelectAllEnabled(bool enabled) { ::EnableWindow(chkSelectAll_, enabled); }
void frmMultiple::setSelectAllCaption(const std::string& caption) {
    ::SetWindowTextW(chkSelectAll_, W(caption).c_str());
}

void frmMultiple::clearRows() {
    ListView_DeleteAllItems(lv_);
    looks_.clear();
    placeColumns();
    ::UpdateWindow(lv_);
}

void frmMultiple::addRow(const std::string& name, const std::string& fullPath) {
    std::wstring text = W(name), path = W(fullPath);
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = ListView_GetItemCount(lv_);
    item.pszText = text.data();
    item.iImage = kImagePerson - 1;
    const int row = ListView_InsertItem(lv_, &item);
    if (row < 0) return;
    LVITEMW sub{};
    sub.mask = LVIF_TEXT | LVIF_IMAGE;
    sub.iItem = row;
    sub.iSubItem = 1;
    sub.pszText = path.data();
    sub.iImage = kImageFolder - 1;
    ListView_SetItem(lv_, &sub);
    looks_.insert(looks_.begin() + row, Look{});
    placeColumns();
    ::InvalidateRect(lv_, nullptr, FALSE);
}

int frmMultiple::rowCount() const { return ListView_GetItemCount(lv_); }
bool frmMultiple::rowChecked(int row) const { return ListView_GetCheckState(lv_, row) != 0; }
void frmMultiple::setRowChecked(int row, bool checked) { ListView_SetCheckState(lv_, row, checked ? TRUE : FALSE); }

void frmMultiple::setAlternatingBackground(unsigned first, unsigned second) {
    alternate_ = true;
    first_ = FromRgb(first);
    second_ = FromRgb(second);
    ::InvalidateRect(lv_, nullptr, TRUE);
}

void frmMultiple::showStatusModal() { wizard_.status().showModal(hwnd()); }
void frmMultiple::showStart() { wizard_.start().show(); }
void frmMultiple::hideWindow() { hide(); }
void frmMultiple::yield() { DeliverPendingMessages(); }
void frmMultiple::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }
std::string frmMultiple::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(hwnd(), prompt);
}
wizard::MsgResult frmMultiple::messageBox(const std::string& text, const std::string& title,
                                          wizard::MsgButtons buttons, wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(hwnd(), text, title, buttons, icon);
}

void frmMultiple::onCommand(HWND control, WORD code) {
    if (code != BN_CLICKED) return;
    if (control == cmdAddFolder_) logic_.CmdAddFolder_Click();
    // Runs after the box's state has changed.
    else if (control == chkSelectAll_) logic_.chkSelectAll_Click();
    else if (control == cmdChange_) logic_.cmdChange_Click();
    else if (control == cmdBack_) logic_.cmdBack_Click();
    else if (control == cmdNext_) logic_.CmdNext_Click();
    else if (control == lblSelectRootFolder_) logic_.lblSelectRootFolder_Click();
}

void frmMultiple::onClose() {
    if (wizard_.ending()) {
        hide();
        return;
    }
    logic_.Form_Close();
}

}  // namespace tavrin::ui::win32
