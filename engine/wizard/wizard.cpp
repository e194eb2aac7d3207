#include "engine/wizard/wizard.h"

#include "engine/wizard/save_location.h"
#include "engine/wizard/windows.h"
#include "fs/mod_files.h"

namespace tavrin::wizard {

namespace {

// The engine's view of the wizard's choices. It reads the windows'
// controls when the engine asks; nothing is copied earlier. Rows are
// numbered from 1 here, from 0 in the list.
class WizardJob : public engine::JobView {
public:
    explicit WizardJob(Wizard& w) : w_(w) {}
    bool optSingle() const override { return w_.start().optSingle(); }
    std::string sourceMailbox() const override {
        return w_.singleIfCreated() ? w_.singleIfCreated()->sourceMailbox() : std::string();
    }
    int rowCount() const override { return list() ? list()->rowCount() : 0; }
    bool rowChecked(int row) const override { return valid(row) && list()->rowChecked(row - 1); }
    std::string rowText(int row) const override { return valid(row) ? list()->rowText(row - 1) : std::string(); }
    std::string rowSubItemText(int row) const override {
        return valid(row) ? list()->rowSubItemText(row - 1) : std::string();
    }
    void setRowForeColor(int row, int red, int green, int blue) override {
        const auto c = [](int v) { return static_cast<unsigned>(v) & 0xFFu; };
        if (valid(row)) list()->setRowForeColor(row - 1, c(red) << 16 | c(green) << 8 | c(blue));
    }
    void setRowBold(int row, bool bold) override {
        if (valid(row)) list()->setRowBold(row - 1, bold);
    }
    std::string outputFolder() const override { return list() ? list()->outputFolder() : std::string(); }

private:
    frmMultiple* list() const { return w_.multipleIfCreated(); }
    bool valid(int row) const { return list() && row >= 1 && row <= list()->rowCount(); }
    Wizard& w_;
};

}  // namespace

Wizard::Wizard(Toolkit& toolkit, Dialogs& dialogs)
    : toolkit_(toolkit), dialogs_(dialogs), job_(std::make_unique<WizardJob>(*this)) {
    onEndProgram = [this] { toolkit_.quit(); };
}

Wizard::~Wizard() {
    ending_ = true;
    // Owned windows go before their owners.
    status_.reset();
    multiple_.reset();
    single_.reset();
    start_.reset();
}

frmStart& Wizard::start() {
    if (!start_) start_ = std::make_unique<frmStart>(*this);
    return *start_;
}

frmSingle& Wizard::single() {
    if (!single_) single_ = std::make_unique<frmSingle>(*this);
    return *single_;
}

frmMultiple& Wizard::multiple() {
    if (!multiple_) multiple_ = std::make_unique<frmMultiple>(*this);
    return *multiple_;
}

frmMigateAll& Wizard::status() {
    if (!status_) status_ = std::make_unique<frmMigateAll>(*this);
    return *status_;
}

engine::JobView& Wizard::job() { return *job_; }

std::string Wizard::chooseFolder(Form& owner, const std::string& prompt) {
    std::string start;
    if (auto it = lastFolder_.find(prompt); it != lastFolder_.end() && fs::FolderExists(it->second)) start = it->second;
    if (start.empty()) start = SaveDialogFolder();
    std::string chosen = dialogs_.browseForFolder(&owner, prompt, start);
    if (!chosen.empty()) lastFolder_[prompt] = chosen;
    return chosen;
}

void Wizard::endProgram() {
    if (ending_) return;
    ending_ = true;
    if (status_) status_->Form_QueryUnload();
    for (Form* f : {status_ ? &status_->form() : nullptr, multiple_ ? &multiple_->form() : nullptr,
                    single_ ? &single_->form() : nullptr, start_ ? &start_->form() : nullptr})
        if (f) f->hide();
    if (onEndProgram) onEndProgram();
}

}  // namespace tavrin::wizard
