// The state and the handlers of one conversion status window: the run over
// one or several source folders, and the folder conversion of each one into
// a .pst file. The status window owns one ConversionEngine and forwards its
// handlers to it; the engine reaches the window, the wizard's choices and the
// dialogs only through the interfaces of engine/host.h.
#pragma once

#include <string>

#include "engine/host.h"

namespace tavrin::engine {

class ConversionEngine {
public:
    ConversionEngine(StatusView& view, JobView& job, Host& host);
    ~ConversionEngine();
    ConversionEngine(const ConversionEngine&) = delete;
    ConversionEngine& operator=(const ConversionEngine&) = delete;

    // The status window's start state (empties the queues, clears the flags,
    // sets the captions and button states).
    void Form_Load();
    // The start button: the whole conversion run.
    void CmdStartConversion_Click();
    // The skip and stop buttons: they only set flags (stop first unloads the
    // window when a skip request is pending).
    void CmdSkip_Click();
    void CmdStopMigration_Click();
    // The window is closing (close box, system menu or code). During a run
    // this acts as a confirmed stop: the run ends after the current message
    // and the file keeps every message saved before.
    void Form_QueryUnload();

    // The folder conversion of one source folder.
    void StartMigration(const std::string& sFolderName, const std::string& sFolderPath);

    bool isRunning() const;
    bool skipRequested() const;
    bool stopRequested() const;

private:
    struct State;
    State* state_;
};

}  // namespace tavrin::engine
