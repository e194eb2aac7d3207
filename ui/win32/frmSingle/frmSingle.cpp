#include "ui/win32/frmSingle/frmSingle.h"

#include "ui/win32/common/message_loop.h"
#include "ui/win32/frmMigateAll/frmMigateAll.h"
#include "ui/win32/wizard/wizard.h"

namespace tavrin::ui::win32 {

std::string WindowText(HWND window) {
    const int n = ::GetWindowTextLengthW(window);
    if (n <= 0) return {};
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    const int got = ::GetWindowTextW(window, text.data(), n + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return U(text);
}

frmSingle::frmSingle(Wizard& wizard, HWND owner) : wizard_(wizard), logic_(*this), owner_(owner) {
    // Form_Initialize: the common controls, once, when the window is made.
    ::InitCommonControls();
    createWindow("frmSingle", W(wizard::SingleLogic::kCaption), 8685, 3750, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                 owner);
    addBand({0, 0, 10695, 855}, kWhite);
    addBand({240, 960, 8175, 495}, kHintYellow);
    addBand({-120, 3120, 10695, 855}, kWhite);

    // Tab visits "Select...", "&Next >" and the folder box, in that order.
    cmdAddFolder_ = add(Kind::Button, "CmdAddFolder", L"Select...", {6960, 2160, 1455, 390}, Tahoma(900));
    cmdNext_ = add(Kind::Button, "CmdNext", L"&Next >", {6720, 3240, 1695, 390}, Tahoma(825), kBlack, kWhite);
    // Filled only from the folder browser, so that "&Next >" is enabled
    // exactly when a folder was chosen.
    txtSourceMailbox_ = add(Kind::Edit, "txtSourceMailbox", L"", {240, 2160, 6615, 405}, Tahoma(900));

    add(Kind::Label, "lblTitle", L"Single Folder Conversion", {240, 120, 6255, 375}, Tahoma(1425, true), kTitleGrey,
        kWhite);
    add(Kind::Label, "lblSubtitle", L"Convert single folder of messages to respective Outlook .pst file",
        {240, 480, 6135, 255}, Tahoma(825), kBlack, kWhite);
    addPicture("imgHint", Picture::Information, {360, 1080, 240, 240}, kHintYellow);
    add(Kind::Label, "lblHint", L"Make sure, folder you are trying to select is not hidden", {720, 1080, 7095, 255},
        Tahoma(825), kBlack, kHintYellow);
    addPicture("imgFolder", Picture::Folder, {240, 1750, 240, 240});
    add(Kind::Label, "lblPrompt", L"Select folder having all .msg message files", {600, 1750, 5415, 360},
        Tahoma(900));
    lblSingleMailbox_ = add(Kind::HelpLink, "lblSingleMailbox", L" [ ? ]", {6120, 1785, 495, 240}, Tahoma(900),
                            kLinkBlue);
    addTooltip(lblSingleMailbox_, L"Click to Know More...");
    logic_.Form_Load();
}

void frmSingle::showModal() {
    logic_.Form_Load();
    centreOn(owner_);
    ::SetFocus(cmdAddFolder_);
    runModal(owner_);
}

std::string frmSingle::sourceMailbox() const { return WindowText(txtSourceMailbox_); }
void frmSingle::setSourceMailbox(const std::string& path) { ::SetWindowTextW(txtSourceMailbox_, W(path).c_str()); }
void frmSingle::setNextEnabled(bool enabled) { ::EnableWindow(cmdNext_, enabled); }
// Modal, without naming an owner: every wizard window waits for it.
void frmSingle::showStatusModal() { wizard_.status().showModal(nullptr); }
void frmSingle::yield() { DeliverPendingMessages(); }
void frmSingle::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }
std::string frmSingle::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(hwnd(), prompt);
}
wizard::MsgResult frmSingle::messageBox(const std::string& text, const std::string& title,
                                        wizard::MsgButtons buttons, wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(hwnd(), text, title, buttons, icon);
}

void frmSingle::onCommand(HWND control, WORD code) {
    if (code != BN_CLICKED) return;
    if (control == cmdAddFolder_) logic_.CmdAddFolder_Click();
    else if (control == cmdNext_) logic_.CmdNext_Click();
    else if (control == lblSingleMailbox_) logic_.lblSingleMailbox_Click();
}

}  // namespace tavrin::ui::win32
