// The completion texts and the CSV report of a run.
#include "engine/outcome.h"

#include <filesystem>
#include <memory>
#include <span>
#include <utility>

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

// The first `limit` records with that result as lines, and how many there
// are in all.
std::vector<std::string> recordLines(const RunSummary& r, FileResult which, size_t limit, size_t& total) {
    std::vector<std::string> out;
    total = 0;
    for (const FileRecord& f : r.records) {
        if (f.result != which) continue;
        if (++total <= limit) out.push_back(f.reason.empty() ? f.source : f.source + ": " + f.reason);
    }
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

// ---- the records ----

// Append-only: records are never changed where they are, so copies of a
// FileRecords that share the store each keep their own view of it.
class FileRecords::Store {
public:
    uint64_t append(const std::string& record) {
        const uint64_t at = flushed_ + tail_.size();
        tail_.insert(tail_.end(), record.begin(), record.end());
        if (tail_.size() >= kKeepInMemory && !inMemory_) spill();
        return at;
    }
    uint64_t end() const { return flushed_ + tail_.size(); }
    // The record at `at`, its length prefix taken off; `next` is where the
    // record after it starts.
    std::string read(uint64_t at, uint64_t& next) const {
        const uint32_t n = length(at);
        next = at + 4 + n;
        auto span = bytes(at + 4, n);
        return std::string(span.begin(), span.end());
    }
    uint64_t next(uint64_t at) const { return at + 4 + length(at); }

private:
    static constexpr size_t kKeepInMemory = size_t(1) << 20;
    static constexpr size_t kWindow = size_t(64) << 10;

    uint32_t length(uint64_t at) const {
        auto span = bytes(at, 4);
        if (span.size() != 4) return 0;
        return uint32_t(span[0]) | uint32_t(span[1]) << 8 | uint32_t(span[2]) << 16 | uint32_t(span[3]) << 24;
    }

    void spill() {
        if (!file_) {
            std::error_code ec;
            const auto dir = std::filesystem::temp_directory_path(ec);
            auto f = ec ? Result<std::unique_ptr<fs::ScratchFile>>(Error(err::kNotFound, "no temporary folder"))
                        : fs::ScratchFile::create((dir / "tavrin-report").string());
            if (!f) {
                inMemory_ = true;  // no scratch file here: everything stays in memory
                return;
            }
            file_ = std::move(*f);
        }
        if (!file_->writeAt(flushed_, tail_).ok()) {
            inMemory_ = true;  // what was written stays readable; the rest stays here
            return;
        }
        flushed_ += tail_.size();
        tail_.clear();
    }

    std::span<const uint8_t> bytes(uint64_t at, size_t n) const {
        if (at >= flushed_) {
            const size_t off = static_cast<size_t>(at - flushed_);
            if (off > tail_.size() || tail_.size() - off < n) return {};
            return std::span<const uint8_t>(tail_).subspan(off, n);
        }
        if (at + n > flushed_) return {};
        if (at < windowAt_ || at + n > windowAt_ + window_.size()) {
            window_.resize(static_cast<size_t>(std::min<uint64_t>(std::max(n, kWindow), flushed_ - at)));
            windowAt_ = at;
            if (!file_->readAt(at, window_).ok()) {
                window_.clear();
                return {};
            }
        }
        return std::span<const uint8_t>(window_).subspan(static_cast<size_t>(at - windowAt_), n);
    }

    std::vector<uint8_t> tail_;  // the bytes from flushed_ on
    uint64_t flushed_ = 0;       // bytes in the scratch file
    bool inMemory_ = false;
    std::unique_ptr<fs::ScratchFile> file_;
    mutable std::vector<uint8_t> window_;  // the last bytes read back from the file
    mutable uint64_t windowAt_ = 0;
};

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

// length, result, then the five texts, each with its length.
std::string encodeRecord(const FileRecord& f) {
    std::string body(1, static_cast<char>(f.result));
    for (const std::string* s : {&f.source, &f.reason, &f.pstFile, &f.storeFolder, &f.subject}) putText(body, *s);
    std::string out;
    out.reserve(body.size() + 4);
    putText(out, body);
    return out;
}

FileRecord decodeRecord(const std::string& body) {
    FileRecord f;
    if (body.empty()) return f;
    f.result = static_cast<FileResult>(static_cast<uint8_t>(body[0]));
    size_t pos = 1;
    for (std::string* s : {&f.source, &f.reason, &f.pstFile, &f.storeFolder, &f.subject})
        if (!getText(body, pos, *s)) break;
    return f;
}

}  // namespace

FileRecords::FileRecords() : store_(std::make_shared<Store>()) {}
FileRecords::FileRecords(std::initializer_list<FileRecord> records) : FileRecords() {
    for (const FileRecord& r : records) push_back(r);
}
FileRecords::~FileRecords() = default;
FileRecords::FileRecords(const FileRecords&) = default;
FileRecords& FileRecords::operator=(const FileRecords&) = default;
FileRecords::FileRecords(FileRecords&& o) noexcept { *this = std::move(o); }
FileRecords& FileRecords::operator=(FileRecords&& o) noexcept {
    if (this != &o) {
        store_ = std::exchange(o.store_, std::make_shared<Store>());
        size_ = std::exchange(o.size_, 0);
        chunks_ = std::exchange(o.chunks_, {});
        end_ = std::exchange(o.end_, 0);
        failures_ = std::exchange(o.failures_, {});
        cursor_ = std::exchange(o.cursor_, SIZE_MAX);
        cursorNext_ = o.cursorNext_;
    }
    return *this;
}

// Where record `to` starts, from record `i` at `at` in the same chunk.
uint64_t FileRecords::skip(size_t i, uint64_t at, size_t to) const {
    for (; i < to; ++i) at = store_->next(at);
    return at;
}

void FileRecords::push_back(const FileRecord& record) {
    const std::string enc = encodeRecord(record);
    if (size_ % kChunk == 0) {
        chunks_.push_back(store_->append(enc));
    } else {
        if (store_->end() != end_) {
            // A copy has written after this chunk, or it was cut short: its
            // records move to the end, so that they stay together.
            const size_t first = size_ - size_ % kChunk;
            uint64_t at = chunks_.back();
            std::string moved;
            for (size_t k = first; k < size_; ++k) {
                const uint64_t next = store_->next(at);
                uint64_t ignored = 0;
                const std::string body = store_->read(at, ignored);
                putText(moved, body);
                at = next;
            }
            chunks_.back() = store_->append(moved);
        }
        store_->append(enc);
    }
    end_ = store_->end();
    ++size_;
    cursor_ = SIZE_MAX;
}

FileRecord FileRecords::operator[](size_t i) const {
    uint64_t at = 0;
    if (cursor_ != SIZE_MAX && i == cursor_ + 1 && i % kChunk != 0) at = cursorNext_;
    else at = skip(i - i % kChunk, chunks_[i / kChunk], i);
    FileRecord f = decodeRecord(store_->read(at, cursorNext_));
    cursor_ = i;
    if (f.result == FileResult::Converted || f.result == FileResult::ConvertedWithWarnings)
        for (const Failure& x : failures_)
            if (i >= x.from && i < x.to) {
                f.result = FileResult::Failed;
                f.reason = x.reason;
                f.pstFile.clear();
                break;
            }
    return f;
}

void FileRecords::resize(size_t n) {
    while (size_ < n) push_back(FileRecord{});
    if (n >= size_) return;
    size_ = n;
    chunks_.resize((n + kChunk - 1) / kChunk);
    end_ = n % kChunk == 0 ? 0 : skip(n - n % kChunk, chunks_.back(), n);
    cursor_ = SIZE_MAX;
    for (Failure& x : failures_) x.to = std::min(x.to, n);
}

void FileRecords::clear() { *this = FileRecords(); }

void FileRecords::failConverted(size_t from, const std::string& reason) {
    if (from < size()) failures_.push_back({from, size(), reason});
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
        size_t total = 0;
        std::vector<std::string> failed = recordLines(r, FileResult::Failed, listLimit, total);
        // A run that kept no records (none found) still names its failures.
        if (failed.empty()) {
            failed = r.failedFiles;
            total = static_cast<size_t>(r.failed());
        }
        listLines(text, std::to_string(r.failed()) + " message file(s) could not be converted:", failed, listLimit,
                  total);
        for (const std::string& f : r.skippedFolders) text += kCrLf + "Skipped: " + f;
    }
    size_t warnings = 0;
    const std::vector<std::string> warned = recordLines(r, FileResult::ConvertedWithWarnings, listLimit, warnings);
    listLines(text, std::to_string(warnings) + " message file(s) were converted with warnings:", warned, listLimit,
              warnings);
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
