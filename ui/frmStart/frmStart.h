// The start window: the conversion mode, "&Next >" to the window of that
// mode, the help links and the exit confirmation. It draws and forwards to
// wizard::StartLogic.
#pragma once

#include <QWidget>

#include "engine/wizard/start_logic.h"

class QRadioButton;
class QPushButton;

namespace tavrin::ui {

class Wizard;
class HelpLink;

class frmStart : public QWidget, public wizard::StartView {
    Q_OBJECT
public:
    explicit frmStart(Wizard& wizard, QWidget* parent = nullptr);

    // StartView
    bool optSingle() const override;
    void setOptionsBold(bool singleBold, bool multipleBold) override;
    void showSingleModal() override;
    void showMultipleModeless() override;
    void hideWindow() override;
    void endProgram() override;
    void yield() override;
    void openUrl(const std::string& address) override;
    std::string browseForFolder(const std::string& prompt) override;
    wizard::MsgResult messageBox(const std::string& text, const std::string& title, wizard::MsgButtons buttons,
                                 wizard::MsgIcon icon) override;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    Wizard& wizard_;
    wizard::StartLogic logic_;
    QRadioButton* optSingle_;
    QRadioButton* optMultiple_;
    QPushButton* cmdNext_;
    QPushButton* cmdHelp_;
    bool centred_ = false;
};

}  // namespace tavrin::ui
