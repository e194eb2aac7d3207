// What a conversion run did: the record of every file it found, the
// summary the completion box, the status window and msg2pst report, the
// completion texts themselves, and the report of every file as CSV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/host.h"
#include "fs/result.h"

namespace tavrin::engine {

// What became of one file found below a source folder.
enum class FileResult {
    Converted,
    ConvertedWithWarnings,  // converted; the reader noted what it had to mend or leave out
    Failed,
    NotAMessageFile,        // counted, never imported
    Skipped,                // its folder's conversion was skipped before it
    NotReached,             // the run was stopped before it
};

// "converted", "converted with warnings", "failed", "not a message file",
// "skipped", "not reached after a stop".
const char* ResultText(FileResult r);

struct FileRecord {
    std::string source;       // the file's full path
    FileResult result = FileResult::Failed;
    std::string reason;       // why it failed, was skipped or not reached; the warnings
    std::string pstFile;      // the file it went into (converted only)
    std::string storeFolder;  // the store folder it went into, as "\Inbox\Old" ("\" the top)
    std::string subject;      // the message's subject, where it was read
};

// What one run did, for the completion box and for callers that need an
// exit status.
struct RunSummary {
    int32_t filesFound = 0;          // over all source folders
    int32_t messageFiles = 0;        // of those, message files
    int32_t messagesConverted = 0;   // into files that were completed (with or without warnings)
    std::vector<std::string> failedFiles;    // message files not converted
    std::vector<std::string> skippedFolders;
    int32_t folderFailures = 0;      // folder conversions whose output could not be written
    // Why each of those could not be written ("The disk holding PATH is
    // full.", "The file PATH already exists.", the system's message).
    std::vector<std::string> outputFailures;
    std::vector<std::string> pstFiles;       // every file completed, in order
    bool split = false;              // a folder went on in "NAME (2).pst" and further files
    bool stopped = false;
    bool cancelled = false;          // the save dialog was cancelled
    std::vector<FileRecord> records;  // one per file found, in the order found
    std::string reportPath;          // the report written, if any
    std::string reportFailure;       // why it could not be written, if it could not
    int32_t withWarnings() const;
    // True when every message file found was converted into a completed
    // file (with or without warnings) and the run was neither stopped nor
    // cut short.
    bool allConverted() const {
        return failedFiles.empty() && skippedFolders.empty() && folderFailures == 0 && !stopped && !cancelled;
    }
};

// The first line of the completion box: the usual success line when every
// message file was converted, otherwise what happened with counts ("3 of 5
// message file(s) were converted.", "Conversion stopped: ...", "The output
// could not be written: ...", "None of the 5 message file(s) was
// converted.", "No files were found to convert.").
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
Status WriteReport(const std::string& path, const std::vector<FileRecord>& records, bool replaceExisting);

// "NAME report.csv" beside "NAME.pst" (any extension is replaced; a name
// without one gets the suffix).
std::string ReportPathFor(const std::string& pstPath);
// "NAME (k).pst" for part k of "NAME.pst".
std::string PartPath(const std::string& pstPath, int k);

}  // namespace tavrin::engine
