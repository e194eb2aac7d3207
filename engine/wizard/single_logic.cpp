#include "engine/wizard/single_logic.h"

#include "engine/help_site.h"

namespace tavrin::wizard {

void SingleLogic::Form_Load() {
    view_.setSourceMailbox("");
    view_.setNextEnabled(false);
}

void SingleLogic::CmdAddFolder_Click() {
    const std::string path = view_.browseForFolder(kPrompt);
    if (path.empty()) return;
    view_.setNextEnabled(true);
    view_.setSourceMailbox(path);
}

void SingleLogic::CmdNext_Click() {
    if (view_.sourceMailbox().empty()) return;
    view_.showStatusModal();
}

void SingleLogic::lblSingleMailbox_Click() { view_.openUrl(engine::HelpAddress(engine::kHelpSelectFolder)); }

}  // namespace tavrin::wizard
