#include <algorithm>
#include <cmath>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"

namespace tavrin::wizard {

using engine::Button;

namespace {
const char* NameOf(Button b) {
    switch (b) {
    case Button::StartConversion: return "CmdStartConversion";
    case Button::Skip: return "CmdSkip";
    case Button::StopMigration: return "CmdStopMigration";
    }
    return "CmdStartConversion";
}
}  // namespace

frmMigateAll::frmMigateAll(Wizard& wizard) : wizard_(wizard), form_(wizard.toolkit().makeForm(StatusLayout())) {
    form_->onClick = [this](std::string_view c) { click(c); };
    form_->onClose = [this] {
        Form_QueryUnload();
        return true;
    };
    engine_ = std::make_unique<engine::ConversionEngine>(*this, wizard_.job(), *this);
    designState();
}

frmMigateAll::~frmMigateAll() = default;

void frmMigateAll::click(std::string_view c) {
    if (c == "CmdStartConversion") engine_->CmdStartConversion_Click();
    else if (c == "CmdSkip") engine_->CmdSkip_Click();
    else if (c == "CmdStopMigration") engine_->CmdStopMigration_Click();
}

void frmMigateAll::designState() {
    form_->setTitle(StatusLayout().caption);
    form_->setEnabled("CmdStartConversion", true);
    form_->setShown("CmdStartConversion", true);
    form_->setEnabled("CmdSkip", true);
    form_->setEnabled("CmdStopMigration", true);
    form_->setShown("CmdStopMigration", false);
    form_->setChecked("ChkDelete", false);
    setProgressRange(0, 100);
}

void frmMigateAll::showModal(Form* owner) {
    if (engine_->isRunning()) return;
    owner_ = owner;
    designState();
    loaded_ = true;
    engine_->Form_Load();
    form_->centreOn(owner);
    form_->setFocus("CmdStartConversion");
    form_->showModal(owner);
    loaded_ = false;
}

void frmMigateAll::Form_QueryUnload() {
    if (loaded_) engine_->Form_QueryUnload();
    loaded_ = false;
}

void frmMigateAll::setCount1(const std::string& caption) { form_->setText("lblCount1", caption); }
std::string frmMigateAll::count1() const { return form_->text("lblCount1"); }
void frmMigateAll::setCurrentDbx(const std::string& caption) { form_->setText("LblCurrentDBX", caption); }
void frmMigateAll::setProgressLabel(const std::string& caption) { form_->setText("lblProgress", caption); }
std::string frmMigateAll::progressLabel() const { return form_->text("lblProgress"); }
void frmMigateAll::setFrameCaption(const std::string& caption) { form_->setText("FrameConversion", caption); }

void frmMigateAll::setProgressRange(int minimum, int maximum) {
    progressMinimum_ = minimum;
    progressMaximum_ = std::max(minimum, maximum);
    setProgressValue(progressValue_);
}

// The bar shows the whole part of the value, kept in its range; a value
// that is no number shows the bar empty.
void frmMigateAll::setProgressValue(float value) {
    progressValue_ = value;
    const double v = std::isfinite(value) ? std::floor(static_cast<double>(value)) : progressMinimum_;
    const int shown = static_cast<int>(std::clamp<double>(v, progressMinimum_, progressMaximum_));
    form_->setProgress("ProgressBar1", progressMinimum_, progressMaximum_, shown);
}

float frmMigateAll::progressValue() const { return progressValue_; }

void frmMigateAll::setButtonEnabled(Button b, bool enabled) { form_->setEnabled(NameOf(b), enabled); }
void frmMigateAll::setButtonVisible(Button b, bool visible) { form_->setShown(NameOf(b), visible); }
void frmMigateAll::setWindowTitle(const std::string& title) { form_->setTitle(title); }
bool frmMigateAll::deleteSourceTicked() const { return form_->isChecked("ChkDelete"); }

void frmMigateAll::unload() {
    if (!loaded_) return;
    loaded_ = false;
    form_->hide();
}

bool frmMigateAll::isLoaded() const { return loaded_; }

void frmMigateAll::yield() { wizard_.toolkit().yield(); }

// Over this window while it is shown, else over the window it was shown
// from (a box after the window closed under the run).
engine::MsgResult frmMigateAll::messageBox(const engine::MsgBox& box) {
    return wizard_.dialogs().messageBox(form_->isShown() ? form_.get() : owner_, box.text, box.title, box.buttons,
                                        box.icon);
}

std::optional<std::string> frmMigateAll::saveDialog(const std::string& filter, const std::string& proposedName) {
    return wizard_.dialogs().saveFile(form_.get(), filter, proposedName);
}

}  // namespace tavrin::wizard
