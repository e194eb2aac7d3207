// The program's single instances of the wizard windows, each created on
// first use and kept until the program ends, and the dialogs they share.
// The conversion reads the wizard's choices from the windows' controls
// through the JobView that this class provides.
#pragma once

#include <functional>
#include <memory>

#include "engine/host.h"
#include "ui/dialogs/dialogs.h"

namespace tavrin::ui {

class frmStart;
class frmSingle;
class frmMultiple;
class frmMigateAll;

class Wizard {
public:
    explicit Wizard(Dialogs& dialogs);
    ~Wizard();
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    Dialogs& dialogs() { return dialogs_; }

    frmStart& start();
    frmSingle& single();
    frmMultiple& multiple();
    frmMigateAll& status();
    // The windows created so far (null before first use).
    frmSingle* singleIfCreated() const { return single_.get(); }
    frmMultiple* multipleIfCreated() const { return multiple_.get(); }
    frmMigateAll* statusIfCreated() const { return status_.get(); }

    // The wizard's choices as the conversion reads them.
    engine::JobView& job();

    // Ends the program at once: every window closes without further events.
    void endProgram();
    bool ending() const { return ending_; }
    // What ending does after the windows are closed (quits the event loop
    // by default; tests record it instead).
    std::function<void()> onEndProgram;

private:
    Dialogs& dialogs_;
    std::unique_ptr<engine::JobView> job_;
    std::unique_ptr<frmStart> start_;
    std::unique_ptr<frmSingle> single_;
    std::unique_ptr<frmMultiple> multiple_;
    std::unique_ptr<frmMigateAll> status_;
    bool ending_ = false;
};

}  // namespace tavrin::ui
