// What the conversion engine reaches of the user interface. The status
// window implements these interfaces; tests fake them, so the engine runs
// without a screen.
#pragma once

#include <optional>
#include <string>

namespace tavrin::engine {

enum class Button { StartConversion, Skip, StopMigration };

// The status window's controls that the run and the folder conversion write
// (and read back where they append to a caption).
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void setCount1(const std::string& caption) = 0;            // lblCount1
    virtual std::string count1() const = 0;
    virtual void setCurrentDbx(const std::string& caption) = 0;        // LblCurrentDBX
    virtual void setProgressLabel(const std::string& caption) = 0;     // lblProgress
    virtual std::string progressLabel() const = 0;
    virtual void setFrameCaption(const std::string& caption) = 0;      // FrameConversion (already unescaped: one "&")
    virtual void setProgressRange(int minimum, int maximum) = 0;       // ProgressBar1
    virtual void setProgressValue(float value) = 0;
    virtual float progressValue() const = 0;
    virtual void setButtonEnabled(Button b, bool enabled) = 0;
    virtual void setButtonVisible(Button b, bool visible) = 0;
    virtual void setWindowTitle(const std::string& title) = 0;
    virtual bool deleteSourceTicked() const = 0;                      // ChkDelete
    // Unloads (closes) the status window. Afterwards isLoaded() is false.
    virtual void unload() = 0;
    virtual bool isLoaded() const = 0;
};

// The wizard's choices, read from the windows' controls when the engine
// needs them (nothing copies them earlier).
class JobView {
public:
    virtual ~JobView() = default;
    virtual bool optSingle() const = 0;                  // frmStart.OptSingle
    virtual std::string sourceMailbox() const = 0;       // frmSingle.txtSourceMailbox
    virtual int rowCount() const = 0;                    // frmMultiple.lv, rows 1..N
    virtual bool rowChecked(int row) const = 0;
    virtual std::string rowText(int row) const = 0;      // the sub-folder's name
    virtual std::string rowSubItemText(int row) const = 0;  // the sub-folder's full path
    // The look of a row whose folder the run has taken up: its text colour
    // (green, RGB 0,128,0) and one further display attribute, bold. The row
    // keeps both to the end of the run.
    virtual void setRowForeColor(int row, int red, int green, int blue) = 0;
    virtual void setRowBold(int row, bool bold) = 0;
    virtual std::string outputFolder() const = 0;        // frmMultiple.txtOutputFolder
};

// AddReplaceCancel: "Add to it" (the default), "Replace it", "Cancel"
// (also the answer when the box is closed).
enum class MsgButtons { Ok, YesNo, AddReplaceCancel };
enum class MsgIcon { None, Information, Question, Warning };
enum class MsgResult { Ok, Yes, No, Add, Replace, Cancel };
// What a message box of the engine is for, so that a front end without a
// user (the command line) can answer it without reading its words.
enum class MsgKind {
    ConfirmSkip,  // "Confirm Skip": skip the rest of the current folder? (Yes, No)
    ConfirmStop,  // "Confirm Stop": stop the whole conversion? (Yes, No)
    Completed,    // "Completed": the end of a run (OK)
    Error,        // "Outlook Error": a folder's store could not be created (OK)
    FileExists,   // "NAME.pst already exists.": add to it, replace it, or cancel (AddReplaceCancel)
};
// A message box as the engine shows it.
struct MsgBox {
    MsgKind kind = MsgKind::Error;
    std::string text;   // lines joined by CR LF
    std::string title;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
};

// Yields, message boxes and the save dialog.
class Host {
public:
    virtual ~Host() = default;
    // Lets the window system deliver pending input and paint events.
    virtual void yield() = 0;
    virtual MsgResult messageBox(const MsgBox& box) = 0;
    // The save dialog: filter "Outlook Data File(s) (*.pst)|*.pst" and a
    // proposed file name. Returns the chosen full path, or nullopt when the
    // user cancelled. It does not ask about an existing file: the engine
    // does (MsgKind::FileExists).
    virtual std::optional<std::string> saveDialog(const std::string& filter, const std::string& proposedName) = 0;
};

}  // namespace tavrin::engine
