#include "engine/wizard/start_logic.h"

#include "engine/help_site.h"

namespace tavrin::wizard {

void StartLogic::Form_Load() { view_.setOptionsBold(true, false); }

void StartLogic::OptSingle_Click() { view_.setOptionsBold(true, false); }

void StartLogic::OptMultiple_Click() { view_.setOptionsBold(false, true); }

void StartLogic::CmdNext_Click() {
    if (view_.optSingle()) {
        view_.showSingleModal();
    } else {
        view_.showMultipleModeless();
        view_.hideWindow();
    }
}

void StartLogic::CmdHelp_Click() { view_.openUrl(engine::HelpAddress(engine::kHelpMain)); }
void StartLogic::lblSingleHelp_Click() { view_.openUrl(engine::HelpAddress(engine::kHelpSingleFolder)); }
void StartLogic::lblMultipleHelp_Click() { view_.openUrl(engine::HelpAddress(engine::kHelpMultipleFolders)); }

bool StartLogic::Form_Unload() {
    if (view_.messageBox(kExitQuestion, kAppTitle, MsgButtons::YesNo, MsgIcon::Question) == MsgResult::Yes) {
        view_.endProgram();
        return false;
    }
    return true;
}

}  // namespace tavrin::wizard
