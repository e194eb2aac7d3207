#include "engine/wizard/multiple_logic.h"

#include <algorithm>

#include "engine/help_site.h"
#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"

namespace tavrin::wizard {

namespace {
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

void MultipleLogic::Form_Load() {
    std::string desktop = view_.SpecialFolderPath();
    while (desktop.size() > 1 && desktop.back() == fs::kPathSeparator) desktop.pop_back();
    view_.setOutputFolder(desktop);
    view_.setSelectAllTicked(false);
    view_.setSelectAllCaption(kCheckAll);
    view_.setSelectAllEnabled(false);
}

void MultipleLogic::CmdAddFolder_Click() {
    if (busy_) return;
    std::string path = view_.browseForFolder(kSourcePrompt);
    if (path.empty()) return;
    BusyScope busy(busy_);
    if (path.back() != fs::kPathSeparator) path += fs::kPathSeparator;
    const std::vector<std::string> names = ListSubFolders(path);
    view_.clearRows();
    for (const std::string& name : names) {
        view_.yield();
        view_.addRow(name, path + name);
    }
    AltLVBackground(kWhite, kLightYellow);
    if (view_.selectAllTicked()) {
        view_.setSelectAllTicked(false);
        chkSelectAll_Click();
    }
    view_.setSelectAllEnabled(true);
}

void MultipleLogic::chkSelectAll_Click() {
    const bool ticked = view_.selectAllTicked();
    // The row count is read on every pass: a yield may run other handlers.
    for (int i = 0; i < view_.rowCount(); ++i) {
        view_.yield();
        if (i >= view_.rowCount()) break;
        view_.setRowChecked(i, ticked);
        view_.setSelectAllCaption(ticked ? kUncheckAll : kCheckAll);
    }
}

void MultipleLogic::cmdChange_Click() {
    const std::string path = view_.browseForFolder(kOutputPrompt);
    if (!path.empty()) view_.setOutputFolder(path);
}

void MultipleLogic::cmdBack_Click() {
    view_.showStart();
    view_.hideWindow();
}

void MultipleLogic::Form_Close() { cmdBack_Click(); }

void MultipleLogic::CmdNext_Click() {
    if (busy_) return;
    bool found = false;
    {
        BusyScope busy(busy_);
        for (int i = 0; i < view_.rowCount(); ++i) {
            view_.yield();
            if (i < view_.rowCount() && view_.rowChecked(i)) {
                found = true;
                break;
            }
        }
    }
    if (found) view_.showStatusModal();
    else view_.messageBox(kNoneTicked, kNoneTickedTitle, MsgButtons::Ok, MsgIcon::Information);
}

void MultipleLogic::lblSelectRootFolder_Click() {
    view_.openUrl(engine::HelpAddress(engine::kHelpSelectRootFolder));
}

void MultipleLogic::AltLVBackground(unsigned backColorOne, unsigned backColorTwo) {
    if (view_.rowCount() == 0) return;
    view_.yield();
    view_.setAlternatingBackground(backColorOne, backColorTwo);
}

}  // namespace tavrin::wizard
