// The conversion status window of the native wizard: the start, skip and
// stop buttons, and the labels, frame and progress bar in which the run
// reports. It owns the conversion engine, implements the engine's view and
// host interfaces, and forwards its buttons and its closing to the engine.
#pragma once

#include <memory>

#include "engine/conversion.h"
#include "engine/host.h"
#include "ui/win32/common/window.h"

namespace tavrin::ui::win32 {

class Wizard;

class frmMigateAll : public Window, public engine::StatusView, public engine::Host {
public:
    explicit frmMigateAll(Wizard& wizard);
    ~frmMigateAll() override;

    // Loads the window in its start state and shows it modally, owned by
    // `owner` (none: no owner); returns when it is closed. Does nothing
    // while a run of an earlier showing is still winding down.
    void showModal(HWND owner);

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

protected:
    void onCommand(HWND control, WORD code) override;
    // Escape closes the window as the close box does.
    void onCancel() override { onClose(); }
    void onClose() override;

private:
    HWND button(engine::Button b) const;
    void designState();

    Wizard& wizard_;
    HWND lblCount1_ = nullptr, cmdSkip_ = nullptr, lblProgress_ = nullptr, progressBar1_ = nullptr;
    HWND frameConversion_ = nullptr, lblCurrentDbx_ = nullptr, image1_ = nullptr, chkDelete_ = nullptr;
    HWND lblDeleteHelp_ = nullptr, cmdStartConversion_ = nullptr, cmdStopMigration_ = nullptr;
    float progressValue_ = 0;
    bool loaded_ = false;
    std::unique_ptr<engine::ConversionEngine> engine_;
};

}  // namespace tavrin::ui::win32
