// The multiple-folder window's handlers: choosing the root folder and
// listing its sub-folders, the select-all box and its caption rule, the
// output folder, "< Bac&k" and "&Next >".
#pragma once

#include <string>
#include <vector>

#include "engine/wizard/window_services.h"

namespace tavrin::wizard {

// Rows are numbered from 0 here; the engine's JobView numbers them from 1.
class MultipleView : public WindowServices {
public:
    // The current user's Desktop folder.
    virtual std::string SpecialFolderPath() const = 0;
    virtual std::string outputFolder() const = 0;     // txtOutputFolder
    virtual void setOutputFolder(const std::string& path) = 0;

    virtual bool selectAllTicked() const = 0;         // chkSelectAll
    // Changes the box's state without running its click handler.
    virtual void setSelectAllTicked(bool ticked) = 0;
    virtual void setSelectAllEnabled(bool enabled) = 0;
    virtual void setSelectAllCaption(const std::string& caption) = 0;

    virtual void clearRows() = 0;                     // lv
    // A row: the sub-folder's name with the person icon, and its full path
    // with the folder icon and the path as the cell's tooltip; not ticked.
    virtual void addRow(const std::string& name, const std::string& fullPath) = 0;
    virtual int rowCount() const = 0;
    virtual bool rowChecked(int row) const = 0;
    virtual void setRowChecked(int row, bool checked) = 0;
    // Rows in turn in the two colours, starting with the first (0xRRGGBB).
    virtual void setAlternatingBackground(unsigned first, unsigned second) = 0;

    // Creates the status window when needed and shows it modally, owned by
    // this window.
    virtual void showStatusModal() = 0;
    virtual void showStart() = 0;                     // frmStart, modeless
    virtual void hideWindow() = 0;
};

// The direct sub-folders of `root` (which ends with the path separator),
// in ascending order of their names; empty when the folder cannot be read.
std::vector<std::string> ListSubFolders(const std::string& root);

class MultipleLogic {
public:
    explicit MultipleLogic(MultipleView& view) : view_(view) {}

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

    static constexpr const char* kCaption = "Multiple Folder Conversion Mode";
    static constexpr const char* kSourcePrompt = "Choose Source Folder...";
    static constexpr const char* kOutputPrompt = "Choose Output Folder...";
    static constexpr const char* kCheckAll = "Check All";
    static constexpr const char* kUncheckAll = "Uncheck All";
    static constexpr const char* kNoneTicked = "No Folders Selected !\r\nPlease Select alteast one folder to convert.";
    static constexpr const char* kNoneTickedTitle = "Select Folder(s) to Convert";

private:
    MultipleView& view_;
    bool busy_ = false;  // a listing or the row scan of "&Next >" is yielding
};

}  // namespace tavrin::wizard
