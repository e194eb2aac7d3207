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
#include "engine/outcome.h"
#include "fs/path_queue.h"

namespace tavrin::engine {

// Whether a file found below a source folder is a message file, to be
// imported: its name ends in ".msg" or ".eml" in any letter case (its bytes
// say which kind it is). Files that are neither message files nor mailboxes
// are counted and reported, never imported. The one place that decides it.
bool IsMessageFile(const std::string& path);

// Whether a file found below a source folder is a mailbox (mbox file) whose
// messages are imported one by one, in file order, into a store folder of
// its own (see engine/store_folders.h): its name ends in ".mbox" in any
// letter case, or it is the "mbox" file of an Apple Mail "NAME.mbox"
// folder. Progress and the report count its messages, each named
// "PATH#N" (N from 1).
bool IsMailboxFile(const std::string& path);

// The date stamp "d.m.YY H.m.ss" of a local time (6.12.26 1.49.28).
std::string FormatDateStamp(const std::tm& local);

// True when a listing of `MyPath` + separator + "*.*" that admits only plain
// files (no folders, no hidden or system files) finds nothing; a folder that
// does not exist or cannot be read is therefore reported as empty.
bool IfFolderEmpty(const std::string& MyPath);

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

    // The size a file may reach: when the next message would take it past
    // the cap, the folder conversion completes it and goes on in
    // "NAME (2).pst", "NAME (3).pst" and so on, each a whole store with the
    // default folders and the part of the source tree whose messages it
    // holds. kDefaultMaxFileSize unless set; 0 means no cap.
    static constexpr uint64_t kDefaultMaxFileSize = uint64_t(40) << 30;
    void setMaxFileSize(uint64_t bytes);
    // Where the report of every file goes. By default (the wizard) it is
    // written only when some file was not converted, beside the first PST as
    // "NAME report.csv" (never replacing a file: "NAME report (2).csv" ...).
    // With a path it is written there after every run, replacing an older
    // report; with ReportMode::None never.
    enum class ReportMode { WhenIncomplete, AtPath, None };
    void setReport(ReportMode mode, const std::string& path = {});

    // What a folder conversion does with an output file that exists: Refuse
    // it ("The file ... could not be created: a file of that name already
    // exists."), Add to it, or Ask (the wizard: the single-folder mode asks
    // "NAME.pst already exists." with Add to it, Replace it and Cancel; the
    // multiple-folder mode adds). A file that does not exist is created.
    // Ask by default.
    enum class ExistingFile { Refuse, Add, Ask };
    void setExistingFile(ExistingFile how);
    // When adding: save the messages a store folder already holds too
    // (false by default: they are skipped and told as already present).
    void setAddDuplicates(bool add);

    bool isRunning() const;
    const RunSummary& lastRun() const;
    // The least time between two yields that let the window system deliver
    // events (10 ms by default; tests set 0 to yield at every point).
    void setYieldInterval(std::chrono::microseconds interval);
    // The clock the date stamp is taken from (local time; tests fix it).
    void setClock(std::function<std::tm()> clock);
    // How many threads read message files ahead of the import
    // loop: -1 (the default) as many as the machine has cores besides the
    // loop's own, 0 none (every file is read where it is imported).
    void setReadAheadThreads(int threads);
    bool skipRequested() const;
    // The program-wide queues of the current source folder (keys K1... and
    // Z...), and the counters that outlive a run.
    const fs::PathQueue& fileQueue() const;
    const fs::PathQueue& folderQueue() const;
    int32_t nextFolderNumber() const;
    int32_t totalFiles() const;
    bool stopRequested() const;

private:
    struct State;
    State* state_;
};

}  // namespace tavrin::engine
