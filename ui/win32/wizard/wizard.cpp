#include "ui/win32/wizard/wizard.h"

#include "ui/win32/frmMigateAll/frmMigateAll.h"
#include "ui/win32/frmMultiple/frmMultiple.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/frmStart/frmStart.h"

namespace tavrin::ui::win32 {

// Reads the controls of the windows when the engine asks; nothing is copied
// earlier. Rows are numbered from 1 here, from 0 in the list.
class Wizard::Job : public engine::JobView {
public:
    explicit Job(Wizard& w) : w_(w) {}
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
        if (valid(row)) list()->setRowForeColor(row - 1, red, green, blue);
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

Wizard::Wizard(Dialogs& dialogs) : dialogs_(dialogs), job_(std::make_unique<Job>(*this)) {
    onEndProgram = [] { ::PostQuitMessage(0); };
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
    if (!single_) single_ = std::make_unique<frmSingle>(*this, start().hwnd());
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

void Wizard::endProgram() {
    if (ending_) return;
    ending_ = true;
    if (status_) status_->closeForEnd();
    if (multiple_) multiple_->closeForEnd();
    if (single_) single_->closeForEnd();
    if (start_) start_->closeForEnd();
    if (onEndProgram) onEndProgram();
}

}  // namespace tavrin::ui::win32
