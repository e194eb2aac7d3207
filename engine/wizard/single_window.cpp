#include "engine/help_site.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"

namespace tavrin::wizard {

frmSingle::frmSingle(Wizard& wizard) : wizard_(wizard), form_(wizard.toolkit().makeForm(SingleLayout())) {
    form_->onClick = [this](std::string_view c) { click(c); };
    form_->onClose = [] { return true; };
    Form_Load();
}

void frmSingle::click(std::string_view c) {
    if (c == "CmdAddFolder") CmdAddFolder_Click();
    else if (c == "CmdNext") CmdNext_Click();
    else if (c == "lblSingleMailbox") lblSingleMailbox_Click();
}

void frmSingle::showModal() {
    Form_Load();
    Form& start = wizard_.start().form();
    form_->centreOn(&start);
    form_->setFocus("CmdAddFolder");
    form_->showModal(&start);
}

std::string frmSingle::sourceMailbox() const { return form_->text("txtSourceMailbox"); }

void frmSingle::Form_Load() {
    form_->setText("txtSourceMailbox", "");
    form_->setEnabled("CmdNext", false);
}

// The path as the folder browser returned it: no separator is added, and
// the folder's content is not examined.
void frmSingle::CmdAddFolder_Click() {
    const std::string path = wizard_.chooseFolder(*form_, kPrompt);
    if (path.empty()) return;
    form_->setEnabled("CmdNext", true);
    form_->setText("txtSourceMailbox", path);
}

// Modal, without naming an owner: every wizard window waits for it.
void frmSingle::CmdNext_Click() {
    if (sourceMailbox().empty()) return;
    wizard_.status().showModal(nullptr);
}

void frmSingle::lblSingleMailbox_Click() {
    wizard_.dialogs().openUrl(engine::HelpAddress(engine::kHelpSelectFolder));
}

}  // namespace tavrin::wizard
