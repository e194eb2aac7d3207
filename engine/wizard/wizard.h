// The wizard: the program's single instances of its windows, each created
// on first use and kept until the program ends, over a front end's toolkit
// and dialogs. The conversion reads the wizard's choices from the windows'
// controls through the JobView that this class provides.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/host.h"
#include "engine/wizard/form.h"

namespace tavrin::wizard {

class frmStart;
class frmSingle;
class frmMultiple;
class frmMigateAll;

class Wizard {
public:
    Wizard(Toolkit& toolkit, Dialogs& dialogs);
    ~Wizard();
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    Toolkit& toolkit() { return toolkit_; }
    Dialogs& dialogs() { return dialogs_; }

    frmStart& start();
    frmSingle& single();
    frmMultiple& multiple();
    frmMigateAll& status();
    // The windows created so far (null before first use).
    frmStart* startIfCreated() const { return start_.get(); }
    frmSingle* singleIfCreated() const { return single_.get(); }
    frmMultiple* multipleIfCreated() const { return multiple_.get(); }
    frmMigateAll* statusIfCreated() const { return status_.get(); }

    // The wizard's choices as the conversion reads them.
    engine::JobView& job();

    // A folder chooser over `owner`: it opens in the folder last chosen in
    // a chooser of the same prompt (the source folders of both modes share
    // one) while that folder is there, else in the user's documents folder
    // or home. The chosen folder, or the empty text.
    std::string chooseFolder(Form& owner, const std::string& prompt);

    // Ends the program at once: every window closes without further events.
    void endProgram();
    bool ending() const { return ending_; }
    // What ending does after the windows are closed (ends the toolkit's
    // event loop by default; tests record it instead).
    std::function<void()> onEndProgram;

private:
    Toolkit& toolkit_;
    Dialogs& dialogs_;
    std::unique_ptr<engine::JobView> job_;
    std::map<std::string, std::string> lastFolder_;  // by the chooser's prompt
    std::unique_ptr<frmStart> start_;
    std::unique_ptr<frmSingle> single_;
    std::unique_ptr<frmMultiple> multiple_;
    std::unique_ptr<frmMigateAll> status_;
    bool ending_ = false;
};

}  // namespace tavrin::wizard
