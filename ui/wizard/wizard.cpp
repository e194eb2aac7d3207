#include "ui/wizard/wizard.h"

#include <QCoreApplication>

#include "engine/wizard/windows_job.h"
#include "ui/frmMigateAll/frmMigateAll.h"
#include "ui/frmMultiple/frmMultiple.h"
#include "ui/frmSingle/frmSingle.h"
#include "ui/frmStart/frmStart.h"

namespace tavrin::ui {

Wizard::Wizard(Dialogs& dialogs) : dialogs_(dialogs), job_(std::make_unique<wizard::WindowsJob<Wizard>>(*this)) {
    onEndProgram = [] { QCoreApplication::exit(0); };
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
    if (!single_) single_ = std::make_unique<frmSingle>(*this, &start());
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
    if (status_) status_->close();
    if (multiple_) multiple_->close();
    if (single_) single_->close();
    if (start_) start_->hide();
    if (onEndProgram) onEndProgram();
}

}  // namespace tavrin::ui
