// The wizard's four windows: each owns the Form its front end built from
// the window's layout, and holds the window's event handlers and state. The
// handlers bear the names of the controls and events they answer.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion.h"
#include "engine/host.h"
#include "engine/wizard/form.h"

namespace tavrin::wizard {

class Wizard;

// The start window: the conversion mode, "&Next >" to the window of that
// mode, the help links and the exit confirmation.
class frmStart {
public:
    explicit frmStart(Wizard& wizard);
    Form& form() { return *form_; }
    // Shows the window (centred on the screen the first time).
    void show();
    bool optSingle() const;

    void OptSingle_Click();
    void OptMultiple_Click();
    void CmdNext_Click();
    void CmdHelp_Click();
    void lblSingleHelp_Click();
    void lblMultipleHelp_Click();
    // The window is being closed. Returns true to cancel the close.
    bool Form_Unload();

    static constexpr const char* kAppTitle = "Tavrin MSG to PST Converter";
    static constexpr const char* kExitQuestion = "Are you sure you want to exit now?";

private:
    void click(std::string_view control);
    Wizard& wizard_;
    std::unique_ptr<Form> form_;
    bool shown_ = false;
};

// The single-folder window: the source folder and "&Next >" to the status
// window.
class frmSingle {
public:
    explicit frmSingle(Wizard& wizard);
    Form& form() { return *form_; }
    // Shows the window modally over the start window, centred on it, in its
    // initial state; returns when it is closed.
    void showModal();
    std::string sourceMailbox() const;

    // The initial state: an empty folder box and "&Next >" disabled.
    void Form_Load();
    void CmdAddFolder_Click();
    void CmdNext_Click();
    void lblSingleMailbox_Click();

    static constexpr const char* kPrompt = "Choose Source Folder...";

private:
    void click(std::string_view control);
    Wizard& wizard_;
    std::unique_ptr<Form> form_;
};

// The direct sub-folders of `root` (which ends with the path separator),
// in ascending order of their names; empty when the folder cannot be read.
std::vector<std::string> ListSubFolders(const std::string& root);

// The multiple-folder window: the root folder's sub-folders as a list with
// check boxes, the select-all box, the output folder, "< Bac&k" and
// "&Next >". Rows are numbered from 0 here.
class frmMultiple {
public:
    explicit frmMultiple(Wizard& wizard);
    Form& form() { return *form_; }
    // Shows the window modelessly with the list and output folder it had
    // (centred on the screen, the focus on "&Next >", the first time).
    void showModeless();

    // The rows and the output folder as the conversion reads and marks them.
    int rowCount() const;
    bool rowChecked(int row) const;
    void setRowChecked(int row, bool checked);
    std::string rowText(int row) const;
    std::string rowSubItemText(int row) const;
    void setRowForeColor(int row, unsigned colour);
    void setRowBold(int row, bool bold);
    std::string outputFolder() const;

    // The output folder and the select-all box's start state.
    void Form_Load();
    void CmdAddFolder_Click();
    // Runs after the box's state has changed.
    void chkSelectAll_Click();
    void cmdChange_Click();
    void cmdBack_Click();
    void CmdNext_Click();
    void lblSelectRootFolder_Click();
    // The close box: the window goes back to the start window as "< Bac&k"
    // does, so that the program never runs on with every window hidden.
    void Form_Close();
    void AltLVBackground(unsigned backColorOne, unsigned backColorTwo);

    static constexpr const char* kSourcePrompt = "Choose Source Folder...";
    static constexpr const char* kOutputPrompt = "Choose Output Folder...";
    static constexpr const char* kCheckAll = "Check All";
    static constexpr const char* kUncheckAll = "Uncheck All";
    static constexpr const char* kNoneTicked = "No Folders Selected !\r\nPlease Select alteast one folder to convert.";
    static constexpr const char* kNoneTickedTitle = "Select Folder(s) to Convert";

private:
    void click(std::string_view control);
    struct RowLook {
        unsigned colour = kSystemColour;
        bool bold = false;
    };
    Wizard& wizard_;
    std::unique_ptr<Form> form_;
    std::vector<RowLook> looks_;
    bool busy_ = false;  // a listing or the row scan of "&Next >" is yielding
    bool shownOnce_ = false;
};

// The conversion status window: the start, skip and stop buttons, and the
// labels, frame and progress bar in which the run reports. It owns the
// conversion engine, is the engine's view and host, and forwards its
// buttons and its closing to the engine.
class frmMigateAll : public engine::StatusView, public engine::Host {
public:
    explicit frmMigateAll(Wizard& wizard);
    ~frmMigateAll() override;
    Form& form() { return *form_; }

    // Loads the window in its start state and shows it modally in front of
    // `owner` (none: no owner); returns when it is closed. Does nothing
    // while a run of an earlier showing is still winding down.
    void showModal(Form* owner);

    engine::ConversionEngine& engine() { return *engine_; }
    // The folder conversion of one source folder (the run calls it).
    void StartMigration(const std::string& sFolderName, const std::string& sFolderPath) {
        engine_->StartMigration(sFolderName, sFolderPath);
    }
    // True when `MyPath` holds no plain file (see engine::IfFolderEmpty).
    static bool IfFolderEmpty(const std::string& MyPath) { return engine::IfFolderEmpty(MyPath); }

    // StatusView
    void setCount1(const std::string& caption) override;
    std::string count1() const override;
    void setCurrentDbx(const std::string& caption) override;
    void setProgressLabel(const std::string& caption) override;
    std::string progressLabel() const override;
    void setFrameCaption(const std::string& caption) override;
    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(float value) override;
    float progressValue() const override;
    void setButtonEnabled(engine::Button b, bool enabled) override;
    void setButtonVisible(engine::Button b, bool visible) override;
    void setWindowTitle(const std::string& title) override;
    bool deleteSourceTicked() const override;
    void unload() override;
    bool isLoaded() const override;

    // The close box, the system menu, Escape or the end of the program:
    // never cancelled, nothing is asked; during a run the engine ends it as
    // a confirmed stop does.
    void Form_QueryUnload();

    // Host
    void yield() override;
    engine::MsgResult messageBox(const engine::MsgBox& box) override;
    std::optional<std::string> saveDialog(const std::string& filter, const std::string& proposedName) override;

private:
    void designState();
    void click(std::string_view control);

    Wizard& wizard_;
    std::unique_ptr<Form> form_;
    Form* owner_ = nullptr;
    int progressMinimum_ = 0, progressMaximum_ = 100;
    float progressValue_ = 0;
    bool loaded_ = false;
    std::unique_ptr<engine::ConversionEngine> engine_;
};

}  // namespace tavrin::wizard
