// The single-folder window: the source folder and "&Next >" to the status
// window. It draws and forwards to wizard::SingleLogic.
#pragma once

#include <QDialog>

#include "engine/wizard/single_logic.h"

class QLineEdit;
class QPushButton;

namespace tavrin::ui {

class Wizard;

class frmSingle : public QDialog, public wizard::SingleView {
    Q_OBJECT
public:
    frmSingle(Wizard& wizard, QWidget* owner);

    // Shows the window modally over its owner in its initial state (empty
    // folder box, "&Next >" disabled); returns when it is closed.
    void showModal();

    // SingleView
    std::string sourceMailbox() const override;
    void setSourceMailbox(const std::string& path) override;
    void setNextEnabled(bool enabled) override;
    void showStatusModal() override;
    void yield() override;
    void openUrl(const std::string& address) override;
    std::string browseForFolder(const std::string& prompt) override;
    wizard::MsgResult messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                 wizard::MsgIcon icon) override;

private:
    Wizard& wizard_;
    wizard::SingleLogic logic_;
    QLineEdit* txtSourceMailbox_;
    QPushButton* cmdAddFolder_;
    QPushButton* cmdNext_;
};

}  // namespace tavrin::ui
