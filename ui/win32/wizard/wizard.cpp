#include "ui/win32/wizard/wizard.h"

#include "engine/wizard/windows_job.h"
#include "ui/win32/frmMigateAll/frmMigateAll.h"
#include "ui/win32/frmMultiple/frmMultiple.h"
#include "ui/win32/frmSingle/frmSingle.h"
#include "ui/win32/frmStart/frmStart.h"

namespace tavrin::ui::win32 {

Wizard::Wizard(Dialogs& dialogs) : dialogs_(dialogs), job_(std::make_unique<wizard::WindowsJob<Wizard>>(*this)) {
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
