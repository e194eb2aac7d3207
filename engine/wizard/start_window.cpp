#include "engine/help_site.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"

namespace tavrin::wizard {

frmStart::frmStart(Wizard& wizard) : wizard_(wizard), form_(wizard.toolkit().makeForm(StartLayout())) {
    form_->onClick = [this](std::string_view c) { click(c); };
    form_->onClose = [this] { return wizard_.ending() || !Form_Unload(); };
    form_->setBold("OptSingle", true);
    form_->setBold("OptMultiple", false);
}

void frmStart::click(std::string_view c) {
    if (c == "OptSingle") OptSingle_Click();
    else if (c == "OptMultiple") OptMultiple_Click();
    else if (c == "CmdNext") CmdNext_Click();
    else if (c == "CmdHelp") CmdHelp_Click();
    else if (c == "lblSingleHelp") lblSingleHelp_Click();
    else if (c == "lblMultipleHelp") lblMultipleHelp_Click();
}

void frmStart::show() {
    const bool first = !shown_;
    shown_ = true;
    if (first) form_->centreOn(nullptr);
    form_->showModeless();
    if (first) form_->setFocus(optSingle() ? "OptSingle" : "OptMultiple");
}

bool frmStart::optSingle() const { return form_->isChecked("OptSingle"); }

// Choosing an option changes nothing but the weight of the two captions.
void frmStart::OptSingle_Click() {
    form_->setBold("OptSingle", true);
    form_->setBold("OptMultiple", false);
}

void frmStart::OptMultiple_Click() {
    form_->setBold("OptSingle", false);
    form_->setBold("OptMultiple", true);
}

void frmStart::CmdNext_Click() {
    if (optSingle()) {
        wizard_.single().showModal();
    } else {
        wizard_.multiple().showModeless();
        form_->hide();
    }
}

void frmStart::CmdHelp_Click() { wizard_.dialogs().openUrl(engine::HelpAddress(engine::kHelpMain)); }
void frmStart::lblSingleHelp_Click() { wizard_.dialogs().openUrl(engine::HelpAddress(engine::kHelpSingleFolder)); }
void frmStart::lblMultipleHelp_Click() {
    wizard_.dialogs().openUrl(engine::HelpAddress(engine::kHelpMultipleFolders));
}

bool frmStart::Form_Unload() {
    if (wizard_.dialogs().messageBox(form_.get(), kExitQuestion, kAppTitle, MsgButtons::YesNo, MsgIcon::Question) ==
        MsgResult::Yes) {
        wizard_.endProgram();
        return false;
    }
    return true;
}

}  // namespace tavrin::wizard
