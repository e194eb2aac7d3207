// What a conversion run did: the record of every file it found, the
// summary the completion box, the status window and msg2pst report, the
// completion texts themselves, and the report of every file as CSV.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
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

// The records of a run, in the order found, for runs over millions of
// files: each record is written once into an append-only store (kept in
// memory up to a megabyte, the rest in a scratch file in the system's
// temporary folder that has no name and vanishes with the process; in
// memory when no such file can be made), and only where every 64th record
// starts stays in memory. Records read back by value, fastest in order.
// Copies share the store and go their own way after it; a copy is not to
// be used on another thread while the original is.
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
    FileRecord operator[](size_t i) const;
    FileRecord back() const { return (*this)[size() - 1]; }
    // Drops the last records, or adds empty ones.
    void resize(size_t n);
    void clear();
    // Every record from `from` on that says converted (with or without
    // warnings) reads back from now on as failed for `reason`, with no PST
    // file: the file they went into could not be completed.
    void failConverted(size_t from, const std::string& reason);

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = FileRecord;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = FileRecord;
        const_iterator(const FileRecords* r, size_t i) : r_(r), i_(i) {}
        FileRecord operator*() const { return (*r_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }

    private:
        const FileRecords* r_;
        size_t i_;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    class Store;

private:
    static constexpr size_t kChunk = 64;
    struct Failure {
        size_t from, to;
        std::string reason;
    };
    uint64_t skip(size_t i, uint64_t at, size_t to) const;
    std::shared_ptr<Store> store_;
    size_t size_ = 0;
    // Where records 0, 64, 128 ... start; the records of one chunk follow
    // one another in the store, and end_ is where the last one ends.
    std::vector<uint64_t> chunks_;
    uint64_t end_ = 0;
    std::vector<Failure> failures_;
    // The last record read, and where the one after it starts.
    mutable size_t cursor_ = SIZE_MAX;
    mutable uint64_t cursorNext_ = 0;
};

// What one run did, for the completion box and for callers that need an
// exit status.
struct RunSummary {
    int32_t filesFound = 0;          // over all source folders
    int32_t messageFiles = 0;        // of those, message files
    int32_t messagesConverted = 0;   // into files that were completed (with or without warnings)
    // Message files not converted: the first kListedFailures of them by
    // name, and how many there were in all when that is more.
    static constexpr size_t kListedFailures = 1000;
    std::vector<std::string> failedFiles;
    int32_t failedCount = 0;
    int32_t failed() const { return std::max(failedCount, static_cast<int32_t>(failedFiles.size())); }
    void addFailed(const std::string& path) {
        ++failedCount;
        if (failedFiles.size() < kListedFailures) failedFiles.push_back(path);
    }
    std::vector<std::string> skippedFolders;
    int32_t folderFailures = 0;      // folder conversions whose output could not be written
    // Why each of those could not be written ("The disk holding PATH is
    // full.", "The file PATH already exists.", the system's message).
    std::vector<std::string> outputFailures;
    std::vector<std::string> pstFiles;       // every file completed, in order
    bool split = false;              // a folder went on in "NAME (2).pst" and further files
    bool stopped = false;
    bool cancelled = false;          // the save dialog was cancelled
    FileRecords records;             // one per file found, in the order found
    std::string reportPath;          // the report written, if any
    std::string reportFailure;       // why it could not be written, if it could not
    int32_t withWarnings() const;
    // True when every message file found was converted into a completed
    // file (with or without warnings) and the run was neither stopped nor
    // cut short.
    bool allConverted() const {
        return failed() == 0 && skippedFolders.empty() && folderFailures == 0 && !stopped && !cancelled;
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
Status WriteReport(const std::string& path, const FileRecords& records, bool replaceExisting);

// "NAME report.csv" beside "NAME.pst" (any extension is replaced; a name
// without one gets the suffix).
std::string ReportPathFor(const std::string& pstPath);
// "NAME (k).pst" for part k of "NAME.pst".
std::string PartPath(const std::string& pstPath, int k);

}  // namespace tavrin::engine
