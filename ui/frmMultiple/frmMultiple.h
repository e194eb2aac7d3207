// The multiple-folder window: the root folder's sub-folders as a list with
// check boxes, the select-all box, the output folder, "< Bac&k" and
// "&Next >". It draws and forwards to wizard::MultipleLogic.
#pragma once

#include <QWidget>

#include "engine/wizard/multiple_logic.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace tavrin::ui {

class Wizard;

class frmMultiple : public QWidget, public wizard::MultipleView {
    Q_OBJECT
public:
    explicit frmMultiple(Wizard& wizard, QWidget* parent = nullptr);

    // Shows the window modelessly, with the list and output folder it had.
    void showModeless();

    // The rows as the conversion reads and marks them (from 0).
    std::string rowText(int row) const;
    std::string rowSubItemText(int row) const;
    void setRowForeColor(int row, int red, int green, int blue);
    void setRowBold(int row, bool bold);

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
    void closeEvent(QCloseEvent* e) override;

private:
    Wizard& wizard_;
    wizard::MultipleLogic logic_;
    QPushButton* cmdAddFolder_;
    QCheckBox* chkSelectAll_;
    QTreeWidget* lv_;
    QLineEdit* txtOutputFolder_;
    QPushButton* cmdChange_;
    QPushButton* cmdBack_;
    QPushButton* cmdNext_;
    bool shownOnce_ = false;
};

}  // namespace tavrin::ui
