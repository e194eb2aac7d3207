// The multiple-folder window of the native wizard: the root folder's
// sub-folders as a list with check boxes, the select-all box, the output
// folder, "< Bac&k" and "&Next >". It draws and forwards to
// wizard::MultipleLogic.
#pragma once

#include <vector>

#include "engine/wizard/multiple_logic.h"
#include "ui/win32/common/window.h"

namespace tavrin::ui::win32 {

class Wizard;

class frmMultiple : public Window, public wizard::MultipleView {
public:
    explicit frmMultiple(Wizard& wizard);
    ~frmMultiple() override;

    // Shows the window modelessly, with the list and output folder it had
    // (centred on the screen, the focus on "&Next >", the first time).
    void showModeless();

    // The rows as the conversion reads and marks them (from 0).
    std::string rowText(int row) const;
    std::string rowSubItemText(int row) const;
    void setRowForeColor(int row, int red, int green, int blue);
    void setRowBold(int row, bool bold);

    // How a row is drawn: its text colour and weight, and its background.
    struct RowLook {
        COLORREF text;
        COLORREF background;
        bool bold;
    };
    RowLook rowLook(int row) const;
    // The tooltip of the list at a point of its client area: a row's full
    // path over its "Mailbox Folder" cell, nothing elsewhere.
    std::string cellTooltip(POINT point) const;
    HWND listTooltip() const { return listTip_; }
    HIMAGELIST imageList() const { return images_; }

    // MultipleView
    std::string SpecialFolderPath() const override;
    std::string outputFolder() const override;
    void setOutputFolder(const std::string& path) override;
    bool selectAllTicked() const override;
    void setSelectAllTicked(bool ticked) override;
    void setSelectAllEnabled(bool enabled) override;
    void setSelectAllCaption(const std::string& caption) override;
    void clearRows() override;
    void addRow(const std::string& name, const std::string& fullPath) override;
    int rowCount() const override;
    bool rowChecked(int row) const override;
    void setRowChecked(int row, bool checked) override;
    void setAlternatingBackground(unsigned first, unsigned second) override;
    void showStatusModal() override;
    void showStart() override;
    void hideWindow() override;
    void yield() override;
    void openUrl(const std::string& address) override;
    std::string browseForFolder(const std::string& prompt) override;
    wizard::MsgResult messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                 wizard::MsgIcon icon) override;

protected:
    void onCommand(HWND control, WORD code) override;
    bool onNotify(NMHDR* header, LRESULT& result) override;
    void onClose() override;
    void onLayout() override;

private:
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR self);
    void makeImageList();
    void placeColumns();
    std::string itemText(int row, int column) const;

    Wizard& wizard_;
    wizard::MultipleLogic logic_;
    HWND cmdAddFolder_ = nullptr, chkSelectAll_ = nullptr, lv_ = nullptr, txtOutputFolder_ = nullptr;
    HWND cmdChange_ = nullptr, cmdBack_ = nullptr, cmdNext_ = nullptr, lblSelectRootFolder_ = nullptr;
    HWND listTip_ = nullptr;
    HIMAGELIST images_ = nullptr;
    struct Look {
        bool hasColour = false;
        COLORREF colour = 0;
        bool bold = false;
    };
    std::vector<Look> looks_;
    bool alternate_ = false;
    COLORREF first_ = kWhite, second_ = kWhite;
    std::wstring tipText_;
    POINT lastCell_{-1, -1};
    bool shownOnce_ = false;
};

}  // namespace tavrin::ui::win32
