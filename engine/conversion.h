// The state and the handlers of one conversion status window: the run over
// one or several source folders, and the folder conversion of each one into
// a .pst file. The status window owns one ConversionEngine and forwards its
// handlers to it; the engine reaches the window, the wizard's choices and the
// dialogs only through the interfaces of engine/host.h.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/help_site.h"
#include "engine/host.h"
#include "fs/keyed_collection.h"

namespace tavrin::engine {

// The date stamp "d.m.YY H.m.ss" of a local time (6.12.26 1.49.28).
std::string FormatDateStamp(const std::tm& local);

// True when a listing of `MyPath` + separator + "*.*" that admits only plain
// files (no folders, no hidden or system files) finds nothing; a folder that
// does not exist or cannot be read is therefore reported as empty.
bool IfFolderEmpty(const std::string& MyPath);

// What one run did, for the completion box and for callers that need an
// exit status.
struct RunSummary {
    int32_t filesFound = 0;          // over all source folders
    int32_t messagesConverted = 0;
    std::vector<std::string> failedFiles;    // message files not converted
    std::vector<std::string> skippedFolders;
    int32_t folderFailures = 0;      // folder conversions that ended with the session error box
    std::vector<std::string> pstFiles;       // files completed at Logoff
    bool stopped = false;
    bool cancelled = false;          // the save dialog was cancelled
    // True when every message file found was converted into a completed file.
    bool allConverted() const {
        return failedFiles.empty() && skippedFolders.empty() && folderFailures == 0 && !stopped && !cancelled;
    }
};

class ConversionEngine {
public:
    ConversionEngine(StatusView& view, JobView& job, Host& host);
    ~ConversionEngine();
    ConversionEngine(const ConversionEngine&) = delete;
    ConversionEngine& operator=(const ConversionEngine&) = delete;

    // The status window's start state (empties the queues, clears the flags,
    // sets the captions and button states).
    void Form_Load();
    // The start button: the whole conversion run (nothing while a run is
    // under way).
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
    const RunSummary& lastRun() const;
    // The least time between two yields that let the window system deliver
    // events (10 ms by default; tests set 0 to yield at every point).
    void setYieldInterval(std::chrono::microseconds interval);
    // The clock the date stamp is taken from (local time; tests fix it).
    void setClock(std::function<std::tm()> clock);
    bool skipRequested() const;
    // The program-wide queues of the current source folder (keys K1... and
    // Z...), and the counters that outlive a run.
    const fs::KeyedCollection<std::string>& fileQueue() const;
    const fs::KeyedCollection<std::string>& folderQueue() const;
    int32_t nextFolderNumber() const;
    int32_t totalFiles() const;
    bool stopRequested() const;

private:
    struct State;
    State* state_;
};

}  // namespace tavrin::engine
