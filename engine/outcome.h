// What a conversion run did: the record of every file it found, the
// summary the completion box, the status window and msg2pst report, the
// completion texts themselves, and the report of every file as CSV.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "engine/host.h"
#include "fs/result.h"
#include "fs/spill_log.h"

namespace tavrin::engine {

// What became of one file found below a source folder.
enum class FileResult {
    Converted,
    ConvertedWithWarnings,  // converted; the reader noted what it had to mend or leave out
    Failed,
    NotAMessageFile,        // counted, never imported
    Skipped,                // its folder's conversion was skipped before it
    NotReached,             // the run was stopped before it
    AlreadyPresent,         // adding to a file whose folder already held the message: not added again
};

// "converted", "converted with warnings", "failed", "not a message file",
// "skipped", "not reached after a stop", "already present".
const char* ResultText(FileResult r);

struct FileRecord {
    std::string source;       // the file's full path
    FileResult result = FileResult::Failed;
    std::string reason;       // why it failed, was skipped or not reached; the warnings
    std::string pstFile;      // the file it went into (converted), or that held it (already present)
    std::string storeFolder;  // the store folder it went into, as "\Inbox\Old" ("\" the top)
    std::string subject;      // the message's subject, where it was read
};

// The records of a run, in the order found, for runs over millions of
// files: each record is written once into an append-only log (fs/spill_log.h:
// in memory up to a megabyte, the rest in a scratch file that vanishes with
// the process), and only where every 64th record starts stays in memory.
// Records read back by value, fastest in order; a record that cannot be read
// back is a failure, never a blank record. The counts by result are kept as
// records are added and as failConverted changes them, so that a run's
// counts are those of its records. Copies share the log and go their own way
// after it; a copy is not to be used on another thread while the original is.
class FileRecords {
public:
    FileRecords();
    FileRecords(std::initializer_list<FileRecord> records);
    ~FileRecords();
    FileRecords(const FileRecords&);
    FileRecords& operator=(const FileRecords&);
    FileRecords(FileRecords&&) noexcept;
    FileRecords& operator=(FileRecords&&) noexcept;

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void push_back(const FileRecord& record);
    Result<FileRecord> at(size_t i) const;
    // Calls `visit` with every record in order; stops at the first record
    // that cannot be read back and returns why.
    Status forEach(const std::function<void(const FileRecord&)>& visit) const;
    void clear();
    // Every record from `from` on that says converted (with or without
    // warnings) reads back from now on as failed for `reason`, with no PST
    // file: the file they went into could not be completed.
    Status failConverted(size_t from, const std::string& reason);
    // How many records say `result`, as they read back now.
    size_t count(FileResult result) const { return counts_[static_cast<size_t>(result)]; }

private:
    static constexpr size_t kChunk = 64;
    struct Failure {
        size_t from, to;
        std::string reason;
    };
    struct Chunk {
        size_t first;  // its first record
        uint64_t at;   // where that record starts in the log
    };
    Result<uint64_t> skip(size_t i, uint64_t at, size_t to) const;
    std::shared_ptr<fs::SpillLog> log_;
    size_t size_ = 0;
    std::array<size_t, 7> counts_{};
    // Runs of up to 64 records that follow one another in the log; end_ is
    // where the last record ends.
    std::vector<Chunk> chunks_;
    uint64_t end_ = 0;
    std::vector<Failure> failures_;
    // The last record read, and where the one after it starts.
    mutable size_t cursor_ = SIZE_MAX;
    mutable uint64_t cursorNext_ = 0;
};

// What one run did, for the completion box and for callers that need an
// exit status. Every count is that of the records.
struct RunSummary {
    FileRecords records;             // one per file found, in the order found
    std::vector<std::string> skippedFolders;
    // Why each folder conversion whose output could not be written failed
    // ("The disk holding PATH is full.", "The file PATH could not be
    // created: ..."); the records of its files give the same reason.
    std::vector<std::string> outputFailures;
    std::vector<std::string> pstFiles;       // every file completed, in order
    bool split = false;              // a folder went on in "NAME (2).pst" and further files
    bool stopped = false;
    bool cancelled = false;          // the save dialog was cancelled
    std::string reportPath;          // the report written, if any
    std::string reportFailure;       // why it could not be written, if it could not

    int32_t filesFound() const { return static_cast<int32_t>(records.size()); }
    int32_t messageFiles() const { return count(FileResult::NotAMessageFile, true); }
    // Converted into files that were completed, with or without warnings.
    int32_t messagesConverted() const {
        return count(FileResult::Converted) + count(FileResult::ConvertedWithWarnings);
    }
    int32_t withWarnings() const { return count(FileResult::ConvertedWithWarnings); }
    int32_t failed() const { return count(FileResult::Failed); }
    // Message files that the file added to already held, not added again.
    int32_t alreadyPresent() const { return count(FileResult::AlreadyPresent); }
    // True when every message file found was converted into a completed
    // file (with or without warnings), or was already there, and the run was
    // neither stopped nor cut short.
    bool allConverted() const {
        return failed() == 0 && skippedFolders.empty() && outputFailures.empty() && !stopped && !cancelled;
    }

private:
    int32_t count(FileResult r, bool allBut = false) const {
        const size_t n = records.count(r);
        return static_cast<int32_t>(allBut ? records.size() - n : n);
    }
};

// The first line of the completion box: the usual success line when every
// message file was converted, otherwise what happened with counts ("3 of 5
// message file(s) were converted.", "Conversion stopped: ...", "The output
// could not be written: ...", "None of the 5 message file(s) was
// converted.", "No files were found to convert."); messages that the file
// added to already held are told as "N already present".
std::string OutcomeLine(const RunSummary& r, bool single);
// The completion box's whole text (lines joined by CR LF). Lists (files
// written, failures, warnings) show at most `listLimit` entries each, then
// "and N more.".
std::string CompletionText(const RunSummary& r, bool single, size_t listLimit = 10);
// Information when every message file was converted (or there was nothing
// to convert), else Warning.
MsgIcon CompletionIcon(const RunSummary& r);

// ---- the report of every file ----

// The report's first line.
std::string CsvHeader();
// One record as a CSV line (without the line break): fields quoted where
// they hold a comma, a quote, a line break or surrounding blanks; text
// that a spreadsheet would take for a formula (a leading "=", "+", "-",
// "@", tab or CR) is kept as text with a leading apostrophe; invalid UTF-8
// becomes U+FFFD.
std::string CsvRow(const FileRecord& record);
// Writes the report to `path` as UTF-8 with a byte-order mark and CR LF
// line ends: the header, then one row per record. The file appears whole or
// not at all; an existing file is replaced only with `replaceExisting`.
Status WriteReport(const std::string& path, const FileRecords& records, bool replaceExisting);

// "NAME report.csv" beside "NAME.pst" (any extension is replaced; a name
// without one gets the suffix).
std::string ReportPathFor(const std::string& pstPath);
// "NAME (k).pst" for part k of "NAME.pst".
std::string PartPath(const std::string& pstPath, int k);

}  // namespace tavrin::engine
