// The completion texts and the CSV report of a run.
#include "engine/outcome.h"

#include <algorithm>
#include <memory>
#include <span>
#include <utility>

#include "fs/file_io.h"
#include "fs/path_parts.h"
#include "fs/text.h"

namespace tavrin::engine {

namespace {

const std::string kCrLf = "\r\n";

// ", N already present" when the file added to held some of the messages.
std::string present(const RunSummary& r) {
    return r.alreadyPresent() > 0 ? ", " + std::to_string(r.alreadyPresent()) + " already present" : std::string();
}

std::string counts(const RunSummary& r) {
    return std::to_string(r.messagesConverted()) + " of " + std::to_string(r.messageFiles()) +
           " message file(s) were converted" + present(r) + ".";
}

// "HEAD" then up to `limit` lines, then "and N more." (of `total`).
void listLines(std::string& out, const std::string& head, const std::vector<std::string>& lines, size_t limit,
               size_t total) {
    if (total == 0) return;
    out += kCrLf + head;
    for (size_t i = 0; i < lines.size() && i < limit; ++i) out += kCrLf + lines[i];
    if (total > limit) out += kCrLf + "and " + std::to_string(total - limit) + " more.";
}
void listLines(std::string& out, const std::string& head, const std::vector<std::string>& lines, size_t limit) {
    listLines(out, head, lines, limit, lines.size());
}

bool contains(const std::vector<std::string>& v, const std::string& s) { return std::find(v.begin(), v.end(), s) != v.end(); }

// The first `limit` records with that result as lines in `out`, and how
// many there are in all. A failure whose reason is one of the output
// failures (its folder's file could not be written) is told by that cause
// alone, not by a line of its own. Fails when the records cannot be read
// back.
Status recordLines(const RunSummary& r, FileResult which, size_t limit, std::vector<std::string>& out,
                   size_t& total) {
    total = 0;
    if (r.records.count(which) == 0) return {};  // none to read back
    return r.records.forEach([&](const FileRecord& f) {
        if (f.result != which || (which == FileResult::Failed && contains(r.outputFailures, f.reason))) return;
        if (++total <= limit) out.push_back(f.reason.empty() ? f.source : f.source + ": " + f.reason);
    });
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
        case FileResult::AlreadyPresent: return "already present";
    }
    return "failed";
}

// ---- the records ----

namespace {

void putText(std::string& out, const std::string& s) {
    const uint32_t n = static_cast<uint32_t>(s.size());
    for (int k = 0; k < 4; ++k) out += static_cast<char>((n >> (8 * k)) & 0xFF);
    out += s;
}

bool getText(const std::string& in, size_t& pos, std::string& s) {
    if (in.size() - pos < 4) return false;
    uint32_t n = 0;
    for (int k = 0; k < 4; ++k) n |= uint32_t(static_cast<uint8_t>(in[pos + k])) << (8 * k);
    pos += 4;
    if (in.size() - pos < n) return false;
    s.assign(in, pos, n);
    pos += n;
    return true;
}

constexpr size_t kResults = 7;

// The result, then the five texts, each with its length.
std::string encodeRecord(const FileRecord& f) {
    const std::initializer_list<const std::string*> texts = {&f.source, &f.reason, &f.pstFile, &f.storeFolder,
                                                             &f.subject};
    size_t size = 1;
    for (const std::string* s : texts) size += 4 + s->size();
    std::string body;
    body.reserve(size);
    body += static_cast<char>(f.result);
    for (const std::string* s : texts) putText(body, *s);
    return body;
}

Result<FileRecord> decodeRecord(const std::string& body) {
    FileRecord f;
    bool whole = !body.empty() && static_cast<uint8_t>(body[0]) < kResults;
    if (whole) f.result = static_cast<FileResult>(static_cast<uint8_t>(body[0]));
    size_t pos = 1;
    for (std::string* s : {&f.source, &f.reason, &f.pstFile, &f.storeFolder, &f.subject})
        whole = whole && getText(body, pos, *s);
    if (!whole) return Error(err::kCorrupt, "A record of the run could not be read back.");
    return f;
}

bool converted(FileResult r) { return r == FileResult::Converted || r == FileResult::ConvertedWithWarnings; }

}  // namespace

FileRecords::FileRecords() : log_(std::make_shared<fs::SpillLog>()) {}
FileRecords::FileRecords(std::initializer_list<FileRecord> records) : FileRecords() {
    for (const FileRecord& r : records) push_back(r);
}
FileRecords::~FileRecords() = default;
FileRecords::FileRecords(const FileRecords&) = default;
FileRecords& FileRecords::operator=(const FileRecords&) = default;
FileRecords::FileRecords(FileRecords&& o) noexcept { *this = std::move(o); }
FileRecords& FileRecords::operator=(FileRecords&& o) noexcept {
    if (this != &o) {
        log_ = std::exchange(o.log_, std::make_shared<fs::SpillLog>());
        size_ = std::exchange(o.size_, 0);
        counts_ = std::exchange(o.counts_, {});
        chunks_ = std::exchange(o.chunks_, {});
        end_ = std::exchange(o.end_, 0);
        failures_ = std::exchange(o.failures_, {});
        cursor_ = std::exchange(o.cursor_, SIZE_MAX);
        cursorNext_ = o.cursorNext_;
    }
    return *this;
}

// Where record `to` starts, from record `i` at `at` in the same chunk.
Result<uint64_t> FileRecords::skip(size_t i, uint64_t at, size_t to) const {
    for (; i < to; ++i) {
        auto next = log_->next(at);
        if (!next) return next;
        at = *next;
    }
    return at;
}

void FileRecords::push_back(const FileRecord& record) {
    const uint64_t at = log_->append(encodeRecord(record));
    // A chunk holds up to 64 records that follow one another in the log: a
    // record that a copy's records came before starts a chunk of its own.
    if (chunks_.empty() || size_ - chunks_.back().first == kChunk || at != end_) chunks_.push_back({size_, at});
    end_ = log_->end();
    ++size_;
    ++counts_[static_cast<size_t>(record.result)];
    cursor_ = SIZE_MAX;
}

Result<FileRecord> FileRecords::at(size_t i) const {
    if (i >= size_) return Error(err::kInvalidParameter, "There is no record " + std::to_string(i) + ".");
    // The chunk that holds record i: the last one that starts at or before it.
    const auto c = std::prev(std::upper_bound(chunks_.begin(), chunks_.end(), i,
                                              [](size_t k, const Chunk& x) { return k < x.first; }));
    Result<uint64_t> at = cursorNext_;
    if (cursor_ == SIZE_MAX || i != cursor_ + 1 || i == c->first) at = skip(c->first, c->at, i);
    if (!at) return std::move(at).error();
    cursor_ = SIZE_MAX;
    auto body = log_->read(*at, cursorNext_);
    if (!body) return std::move(body).error();
    auto f = decodeRecord(*body);
    if (!f) return f;
    cursor_ = i;
    if (converted(f->result))
        for (const Failure& x : failures_)
            if (i >= x.from && i < x.to) {
                f->result = FileResult::Failed;
                f->reason = x.reason;
                f->pstFile.clear();
                break;
            }
    return f;
}

Status FileRecords::forEach(const std::function<void(const FileRecord&)>& visit) const {
    for (size_t i = 0; i < size_; ++i) {
        auto f = at(i);
        if (!f) return std::move(f).error();
        visit(*f);
    }
    return {};
}

void FileRecords::clear() { *this = FileRecords(); }

Status FileRecords::failConverted(size_t from, const std::string& reason) {
    if (from >= size_) return {};
    Status read;
    for (size_t i = from; i < size_ && read.ok(); ++i) {
        auto f = at(i);
        if (!f) read = std::move(f).error();
        else if (converted(f->result)) {
            --counts_[static_cast<size_t>(f->result)];
            ++counts_[static_cast<size_t>(FileResult::Failed)];
        }
    }
    failures_.push_back({from, size_, reason});
    return read;
}

std::string OutcomeLine(const RunSummary& r, bool single) {
    if (r.stopped || r.cancelled) return "Conversion stopped: " + counts(r);
    if (!r.outputFailures.empty()) return "The output could not be written: " + counts(r);
    if (r.filesFound() == 0) return "No files were found to convert.";
    if (r.allConverted()) {
        if (r.messageFiles() == 0) return "No message files were found to convert.";
        if (r.alreadyPresent() > 0) {
            if (r.messagesConverted() == 0) return "Nothing to add: " + std::to_string(r.alreadyPresent()) + " already present.";
            return (single ? "Messages Converted Successfully: " : "All Folders Converted Successfully: ") +
                   std::to_string(r.messagesConverted()) + " added" + present(r) + ".";
        }
        return single ? "Messages Converted Successfully." : "All Folders Converted Successfully.";
    }
    if (r.messagesConverted() == 0)
        return "None of the " + std::to_string(r.messageFiles()) + " message file(s) was converted" + present(r) + ".";
    return counts(r);
}

MsgIcon CompletionIcon(const RunSummary& r) {
    if (r.stopped || r.cancelled || !r.outputFailures.empty()) return MsgIcon::Warning;
    return r.allConverted() ? MsgIcon::Information : MsgIcon::Warning;
}

std::string CompletionText(const RunSummary& r, bool single, size_t listLimit) {
    const std::string open = single ? "Open Converted PST file in Outlook to View Converted Messages."
                                    : "Open Converted PST file(s) in Outlook to View Individual files.";
    const bool success = r.allConverted() && r.messageFiles() > 0;
    std::string text = OutcomeLine(r, single);
    Status read;
    if (success) {
        text += kCrLf + open;
        if (r.split) listLines(text, "Files written:", r.pstFiles, listLimit);
    } else {
        for (const std::string& cause : r.outputFailures) text += kCrLf + cause;
        if (!r.pstFiles.empty()) {
            text += kCrLf + open;
            listLines(text, "Files written:", r.pstFiles, listLimit);
        }
        std::vector<std::string> failed;
        size_t total = 0;
        read = recordLines(r, FileResult::Failed, listLimit, failed, total);
        listLines(text, std::to_string(total) + " message file(s) could not be converted:", failed, listLimit, total);
        for (const std::string& f : r.skippedFolders) text += kCrLf + "Skipped: " + f;
    }
    std::vector<std::string> warned;
    size_t warnings = 0;
    if (read.ok()) read = recordLines(r, FileResult::ConvertedWithWarnings, listLimit, warned, warnings);
    listLines(text, std::to_string(warnings) + " message file(s) were converted with warnings:", warned, listLimit,
              warnings);
    if (!read.ok()) text += kCrLf + read.error().description;
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

Status WriteReport(const std::string& path, const FileRecords& records, bool replaceExisting) {
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
    Status written;
    Status read = records.forEach([&](const FileRecord& f) {
        chunk += CsvRow(f) + kCrLf;
        if (chunk.size() >= (1u << 20) && written.ok()) written = put();
    });
    if (!read) return read;
    if (!written) return written;
    if (auto s = put(); !s) return s;
    return (*file)->commit(replaceExisting);
}

std::string ReportPathFor(const std::string& pstPath) {
    const size_t dot = fs::ExtensionAt(pstPath);
    return (dot == std::string::npos ? pstPath : pstPath.substr(0, dot)) + " report.csv";
}

std::string PartPath(const std::string& pstPath, int k) {
    const size_t dot = fs::ExtensionAt(pstPath);
    const std::string suffix = " (" + std::to_string(k) + ")";
    if (dot == std::string::npos) return pstPath + suffix;
    return pstPath.substr(0, dot) + suffix + pstPath.substr(dot);
}

}  // namespace tavrin::engine
