#include <algorithm>

#include "engine/help_site.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"

namespace tavrin::wizard {

namespace {
constexpr std::string_view kList = "lv";

// Clears a flag when a handler returns, also on an early return.
struct BusyScope {
    bool& flag;
    explicit BusyScope(bool& f) : flag(f) { flag = true; }
    ~BusyScope() { flag = false; }
};
}  // namespace

std::vector<std::string> ListSubFolders(const std::string& root) {
    std::vector<std::string> names;
    fs::FileEntry e;
    if (fs::FindFirstEntry(root + "*", e) <= 0) return names;
    // A folder holds a bounded number of entries; the bound only guards
    // against a file system that never reports the end.
    constexpr size_t kMaxEntries = 1u << 20;
    size_t seen = 0;
    do {
        std::string name = e.Name;
        name = fs::CutAtNull(name);
        if (name.empty() || name == "." || name == "..") continue;
        if (e.Attributes & fs::kAttrDirectory) names.push_back(name);
    } while (++seen < kMaxEntries && fs::FindNextEntry(e) != 0);
    fs::EndFind(e);
    std::sort(names.begin(), names.end());
    return names;
}

frmMultiple::frmMultiple(Wizard& wizard) : wizard_(wizard), form_(wizard.toolkit().makeForm(MultipleLayout())) {
    form_->onClick = [this](std::string_view c) { click(c); };
    form_->onClose = [this] {
        if (!wizard_.ending()) Form_Close();
        return true;
    };
    Form_Load();
}

void frmMultiple::click(std::string_view c) {
    if (c == "CmdAddFolder") CmdAddFolder_Click();
    else if (c == "chkSelectAll") chkSelectAll_Click();
    else if (c == "cmdChange") cmdChange_Click();
    else if (c == "cmdBack") cmdBack_Click();
    else if (c == "CmdNext") CmdNext_Click();
    else if (c == "lblSelectRootFolder") lblSelectRootFolder_Click();
}

void frmMultiple::showModeless() {
    const bool first = !shownOnce_;
    shownOnce_ = true;
    if (first) form_->centreOn(nullptr);
    form_->showModeless();
    if (first) form_->setFocus("CmdNext");
}

int frmMultiple::rowCount() const { return form_->rowCount(kList); }
bool frmMultiple::rowChecked(int row) const { return form_->isRowChecked(kList, row); }
void frmMultiple::setRowChecked(int row, bool checked) { form_->setRowChecked(kList, row, checked); }
std::string frmMultiple::rowText(int row) const { return form_->cell(kList, row, 0); }
std::string frmMultiple::rowSubItemText(int row) const { return form_->cell(kList, row, 1); }
std::string frmMultiple::outputFolder() const { return form_->text("txtOutputFolder"); }

void frmMultiple::setRowForeColor(int row, unsigned colour) {
    if (row < 0 || row >= static_cast<int>(looks_.size())) return;
    looks_[static_cast<size_t>(row)].colour = colour;
    form_->setRowLook(kList, row, colour, looks_[static_cast<size_t>(row)].bold);
}

void frmMultiple::setRowBold(int row, bool bold) {
    if (row < 0 || row >= static_cast<int>(looks_.size())) return;
    looks_[static_cast<size_t>(row)].bold = bold;
    form_->setRowLook(kList, row, looks_[static_cast<size_t>(row)].colour, bold);
}

void frmMultiple::Form_Load() {
    std::string desktop = wizard_.toolkit().desktopFolder();
    while (desktop.size() > 1 && desktop.back() == fs::kPathSeparator) desktop.pop_back();
    form_->setText("txtOutputFolder", desktop);
    form_->setChecked("chkSelectAll", false);
    form_->setText("chkSelectAll", kCheckAll);
    form_->setEnabled("chkSelectAll", false);
}

void frmMultiple::CmdAddFolder_Click() {
    if (busy_) return;
    std::string path = wizard_.chooseFolder(*form_, kSourcePrompt);
    if (path.empty()) return;
    BusyScope busy(busy_);
    if (path.back() != fs::kPathSeparator) path += fs::kPathSeparator;
    const std::vector<std::string> names = ListSubFolders(path);
    form_->clearRows(kList);
    looks_.clear();
    for (const std::string& name : names) {
        wizard_.toolkit().yield();
        form_->addRow(kList, {name, path + name});
        looks_.emplace_back();
    }
    AltLVBackground(kWhite, kLightYellow);
    if (form_->isChecked("chkSelectAll")) {
        form_->setChecked("chkSelectAll", false);
        chkSelectAll_Click();
    }
    form_->setEnabled("chkSelectAll", true);
}

void frmMultiple::chkSelectAll_Click() {
    const bool ticked = form_->isChecked("chkSelectAll");
    // The row count is read on every pass: a yield may run other handlers.
    for (int i = 0; i < rowCount(); ++i) {
        wizard_.toolkit().yield();
        if (i >= rowCount()) break;
        setRowChecked(i, ticked);
        form_->setText("chkSelectAll", ticked ? kUncheckAll : kCheckAll);
    }
}

void frmMultiple::cmdChange_Click() {
    const std::string path = wizard_.chooseFolder(*form_, kOutputPrompt);
    if (!path.empty()) form_->setText("txtOutputFolder", path);
}

void frmMultiple::cmdBack_Click() {
    wizard_.start().show();
    form_->hide();
}

void frmMultiple::Form_Close() { cmdBack_Click(); }

void frmMultiple::CmdNext_Click() {
    if (busy_) return;
    bool found = false;
    {
        BusyScope busy(busy_);
        for (int i = 0; i < rowCount(); ++i) {
            wizard_.toolkit().yield();
            if (i < rowCount() && rowChecked(i)) {
                found = true;
                break;
            }
        }
    }
    if (found) wizard_.status().showModal(form_.get());
    else wizard_.dialogs().messageBox(form_.get(), kNoneTicked, kNoneTickedTitle, MsgButtons::Ok, MsgIcon::Information);
}

void frmMultiple::lblSelectRootFolder_Click() {
    wizard_.dialogs().openUrl(engine::HelpAddress(engine::kHelpSelectRootFolder));
}

void frmMultiple::AltLVBackground(unsigned backColorOne, unsigned backColorTwo) {
    if (rowCount() == 0) return;
    wizard_.toolkit().yield();
    form_->setAlternatingRows(kList, backColorOne, backColorTwo);
}

}  // namespace tavrin::wizard
