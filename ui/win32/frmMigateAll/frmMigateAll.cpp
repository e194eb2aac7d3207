#include "ui/win32/frmMigateAll/frmMigateAll.h"

#include <algorithm>
#include <cmath>

#include "ui/win32/common/message_loop.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/wizard/wizard.h"

namespace tavrin::ui::win32 {

using engine::Button;

namespace {
// The details frame's place; the activity label is placed relative to it.
constexpr int kFrameLeft = 120, kFrameTop = 1440;
}  // namespace

frmMigateAll::frmMigateAll(Wizard& wizard) : wizard_(wizard) {
    // Form_Initialize: the common controls, before the controls are made.
    ::InitCommonControls();
    createWindow("frmMigateAll", L"Conversion Status", 8670, 3915, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                 nullptr);
    addBand({-120, -120, 10695, 1455}, kWhite);
    addBand({-240, 3120, 10695, 1455}, kWhite);

    // The stop button lies in the start button's place, above it: made
    // first, it is drawn over the start button while it is shown, and the
    // start button never paints over it.
    cmdStopMigration_ = add(Kind::Button, "CmdStopMigration", L"S&top Conversion", {3120, 3240, 2415, 555},
                            Verdana(975), kBlack, kWhite, WS_CLIPSIBLINGS);
    cmdStartConversion_ = add(Kind::Button, "CmdStartConversion", L"Sta&rt Conversion", {3120, 3240, 2415, 555},
                              Verdana(975), kBlack, kWhite, WS_CLIPSIBLINGS);
    cmdSkip_ = add(Kind::Button, "CmdSkip", L"X", {8160, 240, 375, 315}, Tahoma(975, true), kBlack, kWhite);
    chkDelete_ = add(Kind::CheckBox, "ChkDelete", L"Delete Source file(s), during conversion...",
                     {480, 2760, 3735, 255}, Tahoma(900), kDarkRed);

    lblCount1_ = add(Kind::Label, "lblCount1", L"Conversion Not Started Yet...", {120, 120, 9375, 375},
                     Tahoma(975, true), kBlack, kWhite, SS_PATHELLIPSIS);
    // 270 twips high, not 255: a line of Tahoma 11.25 pt needs 18 pixels.
    lblProgress_ = add(Kind::Label, "lblProgress", L"0% Complete", {120, 600, 6015, 270}, Tahoma(1125), kBlack,
                       kWhite);
    progressBar1_ = add(Kind::Progress, "ProgressBar1", L"", {120, 960, 8415, 255}, Tahoma(900));
    lblCurrentDbx_ = add(Kind::PathLabel, "LblCurrentDBX", L"Converting Messages...",
                         {kFrameLeft + 195, kFrameTop + 285, 7815, 735}, Tahoma(900), kTitleGrey);
    // The delete-option row: laid out, hidden, and never shown (source
    // files are only read).
    image1_ = addPicture("Image1", Picture::Information, {120, 2760, 240, 240});
    lblDeleteHelp_ = add(Kind::HelpLink, "lblDeleteHelp", L" [ ? ]", {4200, 2760, 495, 240}, Tahoma(900), kLinkBlue);
    frameConversion_ = add(Kind::Frame, "FrameConversion", L" Details ", {kFrameLeft, kFrameTop, 8415, 1215},
                           Tahoma(900));
    for (HWND hidden : {image1_, chkDelete_, lblDeleteHelp_}) ::ShowWindow(hidden, SW_HIDE);

    addTooltip(cmdSkip_, L"Cancel Conversion of Current Folder");
    addTooltip(cmdStopMigration_, L"Stops Complete Conversion");
    addTooltip(lblDeleteHelp_, L"Click to Know More...");

    engine_ = std::make_unique<engine::ConversionEngine>(*this, wizard_.job(), *this);
    designState();
}

frmMigateAll::~frmMigateAll() = default;

void frmMigateAll::designState() {
    ::SetWindowTextW(hwnd(), L"Conversion Status");
    ::EnableWindow(cmdStartConversion_, TRUE);
    ::ShowWindow(cmdStartConversion_, SW_SHOW);
    ::EnableWindow(cmdSkip_, TRUE);
    ::EnableWindow(cmdStopMigration_, TRUE);
    ::ShowWindow(cmdStopMigration_, SW_HIDE);
    ::SendMessageW(chkDelete_, BM_SETCHECK, BST_UNCHECKED, 0);
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, 0, 100);
}

void frmMigateAll::showModal(HWND owner) {
    if (engine_->isRunning()) return;
    designState();
    loaded_ = true;
    engine_->Form_Load();
    centreOn(owner);
    ::SetFocus(cmdStartConversion_);
    runModal(owner);
    loaded_ = false;
}

void frmMigateAll::setCount1(const std::string& caption) { ::SetWindowTextW(lblCount1_, W(caption).c_str()); }
std::string frmMigateAll::count1() const { return WindowText(lblCount1_); }
void frmMigateAll::setCurrentDbx(const std::string& caption) {
    ::SetWindowTextW(lblCurrentDbx_, W(caption).c_str());
}
void frmMigateAll::setProgressLabel(const std::string& caption) {
    ::SetWindowTextW(lblProgress_, W(caption).c_str());
}
std::string frmMigateAll::progressLabel() const { return WindowText(lblProgress_); }
// A group frame draws "&" as the mark of an access key: "&&" draws one.
void frmMigateAll::setFrameCaption(const std::string& caption) {
    ::SetWindowTextW(frameConversion_, EscapeAmpersands(W(caption)).c_str());
}
void frmMigateAll::setProgressRange(int minimum, int maximum) {
    ::SendMessageW(progressBar1_, PBM_SETRANGE32, static_cast<WPARAM>(minimum), static_cast<LPARAM>(maximum));
}
void frmMigateAll::setProgressValue(float value) {
    progressValue_ = value;
    PBRANGE range{};
    ::SendMessageW(progressBar1_, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const int v = std::isfinite(value) ? static_cast<int>(std::clamp<float>(std::floor(value), -1e9f, 1e9f)) : 0;
    ::SendMessageW(progressBar1_, PBM_SETPOS, static_cast<WPARAM>(std::clamp(v, range.iLow, range.iHigh)), 0);
}
float frmMigateAll::progressValue() const { return progressValue_; }

HWND frmMigateAll::button(Button b) const {
    switch (b) {
    case Button::StartConversion: return cmdStartConversion_;
    case Button::Skip: return cmdSkip_;
    case Button::StopMigration: return cmdStopMigration_;
    }
    return cmdStartConversion_;
}

void frmMigateAll::setButtonEnabled(Button b, bool enabled) { ::EnableWindow(button(b), enabled); }
void frmMigateAll::setButtonVisible(Button b, bool visible) { ::ShowWindow(button(b), visible ? SW_SHOW : SW_HIDE); }
void frmMigateAll::setWindowTitle(const std::string& title) { ::SetWindowTextW(hwnd(), W(title).c_str()); }
bool frmMigateAll::deleteSourceTicked() const {
    return ::SendMessageW(chkDelete_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void frmMigateAll::unload() {
    if (!loaded_) return;
    loaded_ = false;
    hide();
}

bool frmMigateAll::isLoaded() const { return loaded_; }

void frmMigateAll::yield() { DeliverPendingMessages(); }

engine::MsgResult frmMigateAll::messageBox(const engine::MsgBox& box) {
    HWND owner = isVisible() ? hwnd() : ::GetWindow(hwnd(), GW_OWNER);
    return wizard_.dialogs().messageBox(owner, box.text, box.title, box.buttons, box.icon);
}

std::optional<std::string> frmMigateAll::saveDialog(const std::string& filter, const std::string& proposedName,
                                                    bool& replaceConfirmed) {
    return wizard_.dialogs().saveFile(hwnd(), filter, proposedName, replaceConfirmed);
}

void frmMigateAll::onCommand(HWND control, WORD code) {
    if (code != BN_CLICKED) return;
    if (control == cmdStartConversion_) engine_->CmdStartConversion_Click();
    else if (control == cmdSkip_) engine_->CmdSkip_Click();
    else if (control == cmdStopMigration_) engine_->CmdStopMigration_Click();
}

void frmMigateAll::onClose() {
    // A close by the user (close box, system menu, Escape) is never
    // cancelled and asks nothing; during a run the engine ends it as a
    // confirmed stop does.
    if (loaded_) engine_->Form_QueryUnload();
    loaded_ = false;
    hide();
}

}  // namespace tavrin::ui::win32
