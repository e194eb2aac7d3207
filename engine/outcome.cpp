// The completion texts and the CSV report of a run.
#include "engine/outcome.h"

#include <memory>

#include "fs/file_io.h"
#include "fs/path_separator.h"
#include "fs/text.h"

namespace tavrin::engine {

namespace {

const std::string kCrLf = "\r\n";

// The position of the extension's "." in the last path component, or npos.
size_t extensionAt(const std::string& path) {
    size_t name = path.find_last_of(fs::kPathSeparatorText);
#ifdef _WIN32
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && (name == std::string::npos || slash > name)) name = slash;
#endif
    name = name == std::string::npos ? 0 : name + 1;
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > name ? dot : std::string::npos;
}

std::string counts(const RunSummary& r) {
    return std::to_string(r.messagesConverted) + " of " + std::to_string(r.messageFiles) +
           " message file(s) were converted.";
}

// "HEAD" then up to `limit` lines, then "and N more.".
void listLines(std::string& out, const std::string& head, const std::vector<std::string>& lines, size_t limit) {
    if (lines.empty()) return;
    out += kCrLf + head;
    for (size_t i = 0; i < lines.size() && i < limit; ++i) out += kCrLf + lines[i];
    if (lines.size() > limit) out += kCrLf + "and " + std::to_string(lines.size() - limit) + " more.";
}

std::vector<std::string> recordLines(const RunSummary& r, FileResult which) {
    std::vector<std::string> out;
    for (const FileRecord& f : r.records)
        if (f.result == which) out.push_back(f.reason.empty() ? f.source : f.source + ": " + f.reason);
    return out;
}

}  // namespace

const char* ResultText(FileResult r) {
    switch (r) {
        case FileResult::Converted: return "converted";
        case FileResult::ConvertedWithWarnings: return "converted with warnings";
        case FileResult::Failed: return "failed";
        case FileResult::NotAMessageFile: return "not a message file";
        case FileResult::Skipped: return "skipped";
        case FileResult::NotReached: return "not reached after a stop";
    }
    return "failed";
}

int32_t RunSummary::withWarnings() const {
    int32_t n = 0;
    for (const FileRecord& f : records) n += f.result == FileResult::ConvertedWithWarnings;
    return n;
}

std::string OutcomeLine(const RunSummary& r, bool single) {
    if (r.stopped || r.cancelled) return "Conversion stopped: " + counts(r);
    if (!r.outputFailures.empty()) return "The output could not be written: " + counts(r);
    if (r.filesFound == 0) return "No files were found to convert.";
    if (r.allConverted()) {
        if (r.messageFiles == 0) return "No message files were found to convert.";
        return single ? "Messages Converted Successfully." : "All Folders Converted Successfully.";
    }
    if (r.messagesConverted == 0)
        return "None of the " + std::to_string(r.messageFiles) + " message file(s) was converted.";
    return counts(r);
}

MsgIcon CompletionIcon(const RunSummary& r) {
    if (r.stopped || r.cancelled || !r.outputFailures.empty()) return MsgIcon::Warning;
    return r.allConverted() ? MsgIcon::Information : MsgIcon::Warning;
}

std::string CompletionText(const RunSummary& r, bool single, size_t listLimit) {
    const std::string open = single ? "Open Converted PST file in Outlook to View Converted Messages."
                                    : "Open Converted PST file(s) in Outlook to View Individual files.";
    const bool success = r.allConverted() && r.messageFiles > 0 && !r.stopped && !r.cancelled;
    std::string text = OutcomeLine(r, single);
    if (success) {
        text += kCrLf + open;
        if (r.split) listLines(text, "Files written:", r.pstFiles, listLimit);
    } else {
        for (const std::string& cause : r.outputFailures) text += kCrLf + cause;
        if (!r.pstFiles.empty()) {
            text += kCrLf + open;
            listLines(text, "Files written:", r.pstFiles, listLimit);
        }
        std::vector<std::string> failed = recordLines(r, FileResult::Failed);
        // A run that kept no records (none found) still names its failures.
        if (failed.empty()) failed = r.failedFiles;
        listLines(text, std::to_string(r.failedFiles.size()) + " message file(s) could not be converted:", failed,
                  listLimit);
        for (const std::string& f : r.skippedFolders) text += kCrLf + "Skipped: " + f;
    }
    const std::vector<std::string> warned = recordLines(r, FileResult::ConvertedWithWarnings);
    listLines(text, std::to_string(warned.size()) + " message file(s) were converted with warnings:", warned,
              listLimit);
    if (!r.reportPath.empty()) text += kCrLf + "The report of every file is in " + r.reportPath + ".";
    if (!r.reportFailure.empty()) text += kCrLf + "The report could not be written: " + r.reportFailure;
    return text;
}

// ---- CSV ----

namespace {

std::string csvField(const std::string& raw) {
    // Invalid UTF-8 (a file name in another encoding) becomes U+FFFD.
    std::string v = text::toUtf8(text::toUtf16(raw));
    if (!v.empty() && (v[0] == '=' || v[0] == '+' || v[0] == '-' || v[0] == '@' || v[0] == '\t' || v[0] == '\r'))
        v.insert(v.begin(), '\'');
    const bool quote = v.find_first_of(",\"\r\n") != std::string::npos ||
                       (!v.empty() && (v.front() == ' ' || v.back() == ' '));
    if (!quote) return v;
    std::string q = "\"";
    for (char c : v) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

}  // namespace

std::string CsvHeader() { return "Source path,Result,Reason,PST file,Store folder,Subject"; }

std::string CsvRow(const FileRecord& f) {
    return csvField(f.source) + "," + ResultText(f.result) + "," + csvField(f.reason) + "," + csvField(f.pstFile) +
           "," + csvField(f.storeFolder) + "," + csvField(f.subject);
}

Status WriteReport(const std::string& path, const std::vector<FileRecord>& records, bool replaceExisting) {
    if (!replaceExisting && fs::pathExists(path)) return Error(err::kFileExists, "The file " + path + " already exists.");
    auto file = fs::PendingFile::create(path);
    if (!file) return std::move(file).error();
    std::string chunk = "\xEF\xBB\xBF" + CsvHeader() + kCrLf;
    uint64_t at = 0;
    auto put = [&]() -> Status {
        auto s = (*file)->writeAt(at, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(chunk.data()),
                                                                 chunk.size()));
        at += chunk.size();
        chunk.clear();
        return s;
    };
    for (const FileRecord& f : records) {
        chunk += CsvRow(f) + kCrLf;
        if (chunk.size() >= (1u << 20))
            if (auto s = put(); !s) return s;
    }
    if (auto s = put(); !s) return s;
    return (*file)->commit(replaceExisting);
}

std::string ReportPathFor(const std::string& pstPath) {
    const size_t dot = extensionAt(pstPath);
    return (dot == std::string::npos ? pstPath : pstPath.substr(0, dot)) + " report.csv";
}

std::string PartPath(const std::string& pstPath, int k) {
    const size_t dot = extensionAt(pstPath);
    const std::string suffix = " (" + std::to_string(k) + ")";
    if (dot == std::string::npos) return pstPath + suffix;
    return pstPath.substr(0, dot) + suffix + pstPath.substr(dot);
}

}  // namespace tavrin::engine
