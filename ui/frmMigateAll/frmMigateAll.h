// The conversion status window: the start, skip and stop buttons, and the
// labels, frame and progress bar in which the run reports. It owns the
// conversion engine, implements the engine's view and host interfaces, and
// forwards its buttons and its closing to the engine.
#pragma once

#include <QDialog>

#include "engine/conversion.h"
#include "engine/host.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tavrin::ui {

class Wizard;
class HelpLink;

class frmMigateAll : public QDialog, public engine::StatusView, public engine::Host {
    Q_OBJECT
public:
    explicit frmMigateAll(Wizard& wizard);
    ~frmMigateAll() override;

    // Loads the window in its start state and shows it modally, owned by
    // `owner` (none: no owner); returns when it is closed. Does nothing
    // while a run of an earlier showing is still winding down.
    void showModal(QWidget* owner);

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

    // Host
    void yield() override;
    engine::MsgResult messageBox(const engine::MsgBox& box) override;
    std::optional<std::string> saveDialog(const std::string& filter, const std::string& proposedName,
                                          bool& replaceConfirmed) override;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    QPushButton* button(engine::Button b) const;
    void designState();

    Wizard& wizard_;
    QLabel* lblCount1_;
    QPushButton* cmdSkip_;
    QLabel* lblProgress_;
    QProgressBar* progressBar1_;
    float progressValue_ = 0;
    QGroupBox* frameConversion_;
    QLabel* lblCurrentDbx_;
    QLabel* image1_;
    QCheckBox* chkDelete_;
    HelpLink* lblDeleteHelp_;
    QPushButton* cmdStartConversion_;
    QPushButton* cmdStopMigration_;
    bool loaded_ = false;
    // The window closes itself (a cancelled save dialog, a confirmed stop,
    // stop with a skip pending, the end of a stopped run): the engine has
    // already decided what that means, so the close is not a user's close.
    bool selfClose_ = false;
    std::unique_ptr<engine::ConversionEngine> engine_;
};

}  // namespace tavrin::ui
