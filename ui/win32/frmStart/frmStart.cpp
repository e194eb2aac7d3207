#include "ui/win32/frmStart/frmStart.h"

#include "ui/win32/common/message_loop.h"
#include "ui/win32/frmMultiple/frmMultiple.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/wizard/wizard.h"

namespace tavrin::ui::win32 {

namespace {
constexpr wchar_t kLinkText[] = L" [ ? ]";
constexpr wchar_t kLinkTip[] = L"Click to Know More...";
// The mode frame's place; the controls inside it are placed relative to it.
constexpr int kFrameLeft = 240, kFrameTop = 1680;
Twips InFrame(int left, int top, int width, int height) {
    return {kFrameLeft + left, kFrameTop + top, width, height};
}
}  // namespace

frmStart::frmStart(Wizard& wizard) : wizard_(wizard), logic_(*this) {
    createWindow("frmStart", W(wizard::StartLogic::kCaption), 9270, 7080,
                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, nullptr);
    addBand({0, 0, 10695, 855}, kWhite);
    addBand({-240, 6480, 10695, 855}, kWhite);

    // Tab visits the option pair, "&Next >" and "&Help Manual", in that order.
    optSingle_ = add(Kind::Option, "OptSingle", L"Single MSG Folder", InFrame(240, 600, 2055, 495), Tahoma(900, true),
                     kBlack, kFace, WS_GROUP);
    optMultiple_ = add(Kind::Option, "OptMultiple", L"Multiple Folders", InFrame(240, 1800, 2055, 495), Tahoma(900));
    cmdNext_ = add(Kind::Button, "CmdNext", L"&Next >", {7320, 6600, 1695, 390}, Tahoma(900), kBlack, kWhite,
                   WS_GROUP);
    cmdHelp_ = add(Kind::Button, "CmdHelp", L"&Help Manual", {240, 6600, 1695, 390}, Tahoma(900), kBlack, kWhite);

    add(Kind::Label, "lblTitle", L"Tavrin MSG to PST Converter", {240, 120, 6255, 375}, Tahoma(1425, true),
        kTitleGreen, kWhite);
    add(Kind::WrappedLabel, "lblDescription",
        L"Software supports conversion of *.msg email messages to Outlook supported .pst files. Supports Outlook "
        L"Version 2016 (32 Bit), 2013 (32 Bit), 2010 (32 Bit), 2007, 2003 for conversion.",
        {240, 960, 8535, 600}, Verdana(825));
    lblSingleHelp_ = add(Kind::HelpLink, "lblSingleHelp", kLinkText, InFrame(2280, 720, 375, 240), Tahoma(825),
                         kLinkBlue);
    add(Kind::WrappedLabel, "lblSingleDescription",
        L"This option allows you to select a single folder having .msg messages and convert it to respective .pst "
        L"file. To convert multiple folders, you need to select individual folders one after another.",
        // Three lines of Tahoma 9 pt need 660 twips, 60 more than the 600
        // of the design, which clipped the last line's lower edge.
        InFrame(480, 1080, 7935, 660), Tahoma(900), kDescriptionGrey);
    lblMultipleHelp_ = add(Kind::HelpLink, "lblMultipleHelp", kLinkText, InFrame(2280, 1920, 375, 240), Tahoma(825),
                           kLinkBlue);
    add(Kind::WrappedLabel, "lblMultipleDescription",
        L"This option allows you to select multiple folders and then convert them to respective Outlook .pst files. "
        L"To convert multiple mailbox folders, you just need to to select top folder having all mailbox folders "
        L"inside it.",
        InFrame(480, 2640, 7935, 825), Tahoma(900), kDescriptionGrey);
    add(Kind::Frame, "fraMode", L" I want to convert ", {kFrameLeft, kFrameTop, 8775, 3975}, Tahoma(900, true));
    addTooltip(lblSingleHelp_, kLinkTip);
    addTooltip(lblMultipleHelp_, kLinkTip);

    ::SendMessageW(optSingle_, BM_SETCHECK, BST_CHECKED, 0);
    logic_.Form_Load();
}

void frmStart::show() {
    if (!shown_) {
        shown_ = true;
        centreOn(nullptr);
        present();
        ::SetFocus(optSingle() ? optSingle_ : optMultiple_);
        return;
    }
    present();
}

bool frmStart::optSingle() const { return ::SendMessageW(optSingle_, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void frmStart::setOptionsBold(bool singleBold, bool multipleBold) {
    setFont(optSingle_, Tahoma(900, singleBold));
    setFont(optMultiple_, Tahoma(900, multipleBold));
}

void frmStart::showSingleModal() { wizard_.single().showModal(); }
void frmStart::showMultipleModeless() { wizard_.multiple().showModeless(); }
void frmStart::hideWindow() { hide(); }
void frmStart::endProgram() { wizard_.endProgram(); }
void frmStart::yield() { DeliverPendingMessages(); }
void frmStart::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }
std::string frmStart::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(hwnd(), prompt);
}
wizard::MsgResult frmStart::messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                       wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(hwnd(), text, title, buttons, icon);
}

void frmStart::onCommand(HWND control, WORD code) {
    if (code == BN_CLICKED || code == STN_CLICKED) {
        if (control == optSingle_) logic_.OptSingle_Click();
        else if (control == optMultiple_) logic_.OptMultiple_Click();
        else if (control == cmdNext_) logic_.CmdNext_Click();
        else if (control == cmdHelp_) logic_.CmdHelp_Click();
        else if (control == lblSingleHelp_) logic_.lblSingleHelp_Click();
        else if (control == lblMultipleHelp_) logic_.lblMultipleHelp_Click();
    }
}

void frmStart::onClose() {
    if (wizard_.ending()) return;
    // Yes ends the program (the logic calls endProgram); No keeps the
    // window open as it was.
    (void)logic_.Form_Unload();
}

}  // namespace tavrin::ui::win32
