// The conversion run, the queue walk and the folder conversion (store
// creation, folder tree mirroring, message import loop).
#include "engine/conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <map>
#include <optional>
#include <string_view>

#include "engine/output_parts.h"
#include "engine/store_folders.h"
#include "fs/file_io.h"
#include "fs/folder_identity.h"
#include "fs/local_time.h"
#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"
#include "fs/text.h"
#include "fs/yield.h"
#include "store/core/source_digest.h"
#include "store/message_files.h"
#include "store/read_ahead.h"
#include "store/session.h"

namespace tavrin::engine {

namespace {

constexpr char kSep = fs::kPathSeparator;
const std::string kCrLf = "\r\n";

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool endsWith(const std::string& s, const std::string& t) {
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// A folder's path relative to the source folder `root`, with "\" between
// its components (see engine/store_folders.h). On POSIX the root "/" is also
// the separator, so only the leading occurrence of `root` is taken away.
std::string relativeStorePath(const std::string& folder, const std::string& root) {
    std::string rel = !root.empty() && folder.rfind(root, 0) == 0 ? folder.substr(root.size()) : folder;
    for (char& c : rel)
        if (c == kSep) c = '\\';
    return rel;
}

// The words for a store that could not be created at `path`, or for an
// existing file that could not be added to (the store's refusals name the
// file and say why, as they stand).
std::string storeNotCreatedText(const std::string& path, const Error& e, bool adding) {
    if (adding) {
        const bool refused = e.number == err::kFileInUse || e.number == store::refusal::kAnsiFile ||
                             e.number == store::refusal::kLargePages || e.number == store::refusal::kPassword ||
                             e.number == store::refusal::kDamaged || e.number == store::refusal::kNotAStore;
        return refused ? e.description : "Nothing could be added to " + path + ": " + e.description;
    }
    const std::string head = "The file " + path + " could not be created: ";
    switch (e.number) {
        case err::kFileExists: return head + "a file of that name already exists.";
        case err::kAccessDenied: return head + "the folder is read-only or access to it is denied.";
        case err::kDiskFull: return head + "the disk is full.";
        case err::kFileNotFound: return head + "the folder does not exist.";
        default: return e.description.rfind(head, 0) == 0 ? e.description : head + e.description;
    }
}

// The store folder of the message files of one source folder. The files of
// a folder follow one another in the queue, so the last folder is kept,
// with its store folder in the file being written.
class FolderOfFiles {
public:
    explicit FolderOfFiles(std::string root) : root_(std::move(root)) {}
    // The store folder that mirrors the source folder `source` (the folder
    // of a message file, or a mailbox).
    const StoreFolder& of(std::string source, const OutputParts& parts) {
        if (source != source_ || part_ != parts.number()) {
            store_ = StoreFolderFor(relativeStorePath(source, root_), parts.defaults());
            source_ = std::move(source);
            part_ = parts.number();
            folder_.reset();
        }
        return store_;
    }
    // That folder in the file being written, made when it is not there.
    std::shared_ptr<store::RDOFolder> folder(OutputParts& parts) {
        if (!folder_) {
            auto f = parts.folder(store_.path);
            if (f) folder_ = *f;
        }
        return folder_;
    }

private:
    std::string root_, source_;
    int part_ = 0;
    StoreFolder store_;
    std::shared_ptr<store::RDOFolder> folder_;
};

// One message to import: a message file of the queue, or a message of a
// mailbox, and how to read it (again, when the size cap moves it into the
// next file).
struct Source {
    size_t entry = 0;      // its index in fileQueue
    uint64_t message = 0;  // its number in its mailbox (from 1); 0 for a message file
    std::string name;      // as the report names it: the path, or "PATH#N"
    std::string folder;    // the source folder whose store folder it goes into
    std::function<Result<store::Message>()> read;
    std::function<void()> readNoMore;  // what read() reads from is needed no more
    std::string note;      // what the mailbox reader noted about the file, told with this message

    // Where the rest of the queue starts after this message: the next
    // message of its mailbox, or the next entry.
    std::pair<size_t, uint64_t> rest() const {
        return message ? std::make_pair(entry, message + 1) : std::make_pair(entry + 1, uint64_t(1));
    }
};

// The source folder of a mailbox's messages: the mbox file itself, or the
// Apple Mail "NAME.mbox" folder that holds the "mbox" file.
std::string mailboxFolder(const std::string& path) {
    return text::asciiLower(fs::GetLastPathPart(path)) == "mbox" ? fs::GetParentPath(path) : path;
}

std::string joined(const std::vector<std::string>& items, size_t from) {
    std::string out;
    for (size_t k = from; k < items.size(); ++k) out += (out.empty() ? "" : "; ") + items[k];
    return out;
}

// A number in plain decimal, without allocating.
class Decimal {
public:
    explicit Decimal(int64_t n) : end_(std::to_chars(digits_, digits_ + sizeof digits_, n).ptr) {}
    operator std::string_view() const { return {digits_, static_cast<size_t>(end_ - digits_)}; }

private:
    char digits_[24];
    char* end_;
};

// A message file imported into a new item, not yet saved.
struct Prepared {
    std::shared_ptr<store::RDOMail> item;  // none when a step failed
    Error why;                             // that step's failure
    std::string subject;                   // what a failed import read of it
    std::string heldIn;                    // an earlier part of the file added to holds it
};

}  // namespace

bool IsMessageFile(const std::string& path) {
    // The name's last four characters (no separator is among them when they
    // are one of these), without copying the name: asked twice of each of a
    // million files.
    if (path.size() < 4) return false;
    const std::string tail = text::asciiLower(std::string_view(path).substr(path.size() - 4));
    return tail == ".msg" || tail == ".eml";
}

bool IsMailboxFile(const std::string& path) {
    const std::string name = text::asciiLower(fs::GetLastPathPart(path));
    if (endsWith(name, ".mbox")) return true;
    if (name != "mbox") return false;
    std::string folder = fs::GetParentPath(path);
    if (!folder.empty()) folder.pop_back();
    return endsWith(text::asciiLower(fs::GetLastPathPart(folder)), ".mbox");
}

std::string FormatDateStamp(const std::tm& t) {
    char b[64];
    std::snprintf(b, sizeof b, "%d.%d.%02d %d.%d.%02d", t.tm_mday, t.tm_mon + 1, t.tm_year % 100, t.tm_hour, t.tm_min,
                  t.tm_sec);
    return b;
}

bool IfFolderEmpty(const std::string& MyPath) {
    constexpr uint32_t kAttrSystem = 0x04;  // FILE_ATTRIBUTE_SYSTEM
    fs::FileEntry e;
    if (fs::FindFirstEntry(MyPath + kSep + "*.*", e) <= 0) return true;
    // A folder holds a bounded number of entries; the bound only guards
    // against a file system that never reports the end.
    constexpr size_t kMaxEntries = 1u << 24;
    size_t seen = 0;
    do {
        if ((e.Attributes & (fs::kAttrDirectory | fs::kAttrHidden | kAttrSystem)) == 0) {
            fs::EndFind(e);
            return false;
        }
    } while (++seen < kMaxEntries && fs::FindNextEntry(e) != 0);
    fs::EndFind(e);
    return true;
}

struct ConversionEngine::State {
    StatusView& view;
    JobView& job;
    Host& host;
    State(StatusView& v, JobView& j, Host& h) : view(v), job(j), host(h) {}

    // The program-wide queues of the current source folder, and what the
    // window keeps between runs.
    fs::PathQueue fileQueue{'K'}, folderQueue{'Z'};
    int32_t nextFolderNumber = 0, totalFiles = 0;
    // The mailboxes of fileQueue (by index) and the messages each held when
    // it was queued; progress and the report count those messages (a
    // mailbox that holds none counts as one file).
    std::map<size_t, uint64_t> mailboxMessages;
    int64_t queuedItems = 0;
    bool skipRequested = false, stopRequested = false;
    bool running = false, windowClosed = false;

    // The run under way.
    RunSummary summary;
    std::string firstPstPath;  // the run's first planned file: the wizard's report goes beside it

    // Settings.
    uint64_t maxFileSize = ConversionEngine::kDefaultMaxFileSize;
    ConversionEngine::ExistingFile existingFile = ConversionEngine::ExistingFile::Ask;
    bool addDuplicates = false;
    ConversionEngine::ReportMode reportMode = ConversionEngine::ReportMode::WhenIncomplete;
    std::string reportPathOption;
    std::chrono::microseconds yieldInterval{10000};
    std::chrono::steady_clock::time_point lastYield{};
    std::function<std::tm()> clock = fs::LocalTimeNow;
    int readAheadThreads = -1;  // -1: as many as the machine has cores to spare

    void yield() {
        const auto now = std::chrono::steady_clock::now();
        if (yieldInterval.count() > 0 && now - lastYield < yieldInterval) return;
        lastYield = now;
        host.yield();
    }
    bool closed() const { return windowClosed || !view.isLoaded(); }
    // Closing the window during a run is a confirmed stop.
    bool closedStop() {
        if (!closed()) return false;
        stopRequested = true;
        summary.stopped = true;
        return true;
    }

    // The run.
    void run();
    void runSingle();
    void runMultiple();
    bool convertRow(int row);
    std::string queue(const std::string& folder);
    void queueFolderFiles(std::string& folder, int32_t& nextFileNumber, const fs::FolderChain& inside);
    uint64_t countMailbox(const std::string& path);
    void writeReport();
    void finishRun(bool single);
    // The records of fileQueue's entries from index `from` on (a mailbox's
    // from its message `firstMessage` on): messages get `result` and
    // `reason`, other files "not a message file".
    void recordRest(size_t from, FileResult result, const std::string& reason, uint64_t firstMessage = 1);
    // The records of the messages `first` to `last` of a mailbox.
    void recordMessages(const std::string& mailbox, uint64_t first, uint64_t last, FileResult result,
                        const std::string& reason);

    // The folder conversion.
    void startMigration(const std::string& sFolderName, const std::string& sFolderPath);
    std::optional<std::string> choosePstPath(const std::string& sFolderName, const std::string& dateStamp,
                                             store::LogonOptions& options);
    void showConversionStarted();
    void showOutput(const OutputParts& parts);
    void storeNotCreated(OutputParts& parts, const std::string& path, const Error& e, bool adding);
    fs::StringArray readFolderList(const std::string& root);
    void mirrorFolders(OutputParts& parts, const std::string& root);
    enum class LoopEnd { Done, Skipped, Stopped, OutputFailed };
    LoopEnd importMessages(OutputParts& parts, const std::string& root);
    std::optional<LoopEnd> importMailbox(OutputParts& parts, FolderOfFiles& folders, size_t i,
                                         const std::string& entry, int64_t& processed, const std::string& root);
    bool importMessage(OutputParts& parts, FolderOfFiles& folders, const Source& s);
    Prepared prepare(OutputParts& parts, FolderOfFiles& folders, const Source& s, const std::string& where);
    void save(OutputParts& parts, Prepared& p, FileRecord& rec, const std::string& note);
    bool heldAlready(const OutputParts& parts, const Prepared& p) const;
    void showProgress(int64_t processedCount);
    // The texts shown for each message are built here, in place: a million
    // messages need not allocate three million strings to be shown.
    std::string shown;
    const std::string& showing(std::initializer_list<std::string_view> parts);
    std::optional<LoopEnd> answerRequests(std::pair<size_t, uint64_t> rest, const std::string& root);
};

// ---- the queue walk ----

// Walks `folder` (a separator is appended when it lacks one) into the
// queues: its files, then its sub-folders, depth first. One search lists
// each folder: what it says of an entry decides whether it is a folder.
void ConversionEngine::State::queueFolderFiles(std::string& folder, int32_t& nextFileNumber,
                                               const fs::FolderChain& inside) {
    if (folder.empty() || folder.back() != kSep) folder += kSep;
    yield();
    std::vector<std::pair<std::string, fs::FolderChain>> subFolders;
    fs::FileEntry e;
    // Only the folder bit is read of each entry (no call per file for the
    // rest, on POSIX systems).
    if (fs::FindFirstEntry(folder + "*", e, fs::SearchDetail::FolderBit) > 0) {
        do {
            yield();
            std::string name = e.Name;
            name = fs::CutAtNull(name);
            if (name == "." || name == "..") continue;
            if (e.Attributes & fs::kAttrDirectory) {
                (void)folderQueue.add(nextFolderNumber++, folder, name);
                // Follow links, but never into a folder the walk is inside.
                auto id = fs::getFolderIdentity(folder + name);
                if (!id || !inside.contains(*id)) subFolders.emplace_back(name, id ? inside.entered(*id) : inside);
                continue;
            }
            (void)fileQueue.add(nextFileNumber, folder, name);
            uint64_t items = 1;
            if (IsMailboxFile(folder + name)) {
                const uint64_t n = countMailbox(folder + name);
                mailboxMessages[static_cast<size_t>(nextFileNumber - 1)] = n;
                items = std::max<uint64_t>(n, 1);
            }
            queuedItems += static_cast<int64_t>(std::min<uint64_t>(items, uint64_t(1) << 40));
            if (!view.deleteSourceTicked())
                view.setCount1(showing({Decimal(queuedItems), " Messages Queued for Conversion."}));
            ++nextFileNumber;
        } while (fs::FindNextEntry(e) != 0);
        fs::EndFind(e);
    }
    for (auto& [name, chain] : subFolders) {
        yield();
        std::string sub = folder + name + kSep;
        queueFolderFiles(sub, nextFileNumber, chain);
    }
}

// The messages of the mailbox at `path`, counted as its import will read
// them: one at a time, yielding between them, so that a mailbox of many
// gigabytes is read in flat memory and the window stays responsive. A
// mailbox that cannot be read counts as one message, whose import tells why.
uint64_t ConversionEngine::State::countMailbox(const std::string& path) {
    auto reader = store::MboxReader::open(path);
    if (!reader) return 1;
    uint64_t n = 0;
    for (;;) {
        yield();
        auto m = reader->next();
        if (!m) return std::max<uint64_t>(n, 1);
        if (!*m) return n;
        ++n;
    }
}

// Queues every file and sub-folder below `folder`; totalFiles is the
// number of files, a mailbox's messages counted one by one. Returns the
// folder as queued (ending in a separator).
std::string ConversionEngine::State::queue(const std::string& folder) {
    std::string queued = folder;
    int32_t nextFileNumber = 1;
    mailboxMessages.clear();
    queuedItems = 0;
    yield();
    auto id = fs::getFolderIdentity(queued);
    queueFolderFiles(queued, nextFileNumber, id ? fs::FolderChain().entered(*id) : fs::FolderChain());
    totalFiles = static_cast<int32_t>(std::min<int64_t>(queuedItems, std::numeric_limits<int32_t>::max()));
    yield();
    return queued;
}

void ConversionEngine::State::recordMessages(const std::string& mailbox, uint64_t first, uint64_t last,
                                             FileResult result, const std::string& reason) {
    FileRecord r;
    r.result = result;
    r.reason = reason;
    for (uint64_t k = first; k <= last; ++k) {
        r.source = mailbox + "#" + std::to_string(k);
        summary.records.push_back(r);
    }
}

void ConversionEngine::State::recordRest(size_t from, FileResult result, const std::string& reason,
                                         uint64_t firstMessage) {
    for (size_t i = from; i < static_cast<size_t>(fileQueue.Count()); ++i, firstMessage = 1) {
        FileRecord r;
        r.source = *fileQueue.item(static_cast<int32_t>(i + 1));
        if (auto box = mailboxMessages.find(i); box != mailboxMessages.end()) {
            if (box->second > 0) recordMessages(r.source, firstMessage, box->second, result, reason);
            else if (firstMessage == 1) {
                r.result = FileResult::NotAMessageFile;
                summary.records.push_back(r);
            }
            continue;
        }
        if (!IsMessageFile(r.source)) {
            r.result = FileResult::NotAMessageFile;
        } else {
            r.result = result;
            r.reason = reason;
        }
        summary.records.push_back(r);
    }
}

// ---- the folder conversion ----

void ConversionEngine::State::startMigration(const std::string& sFolderName, const std::string& sFolderPath) {
    const std::string dateStamp = FormatDateStamp(clock());
    store::LogonOptions options;
    const std::optional<std::string> pstPath = choosePstPath(sFolderName, dateStamp, options);
    if (!pstPath) return;
    showConversionStarted();
    OutputParts parts(summary, maxFileSize);
    const std::string path = trim(*pstPath);
    const bool adding = options.addToExisting && fs::pathExists(path);
    if (Status s = parts.open(path, sFolderName + " : Created - " + dateStamp, options); !s)
        return storeNotCreated(parts, path, s.error(), adding);
    showOutput(parts);
    mirrorFolders(parts, sFolderPath);
    if (importMessages(parts, sFolderPath) == LoopEnd::Stopped) {
        // The file keeps every message saved before the stop.
        parts.finish();
        return;
    }
    fileQueue.clear();
    folderQueue.clear();
    yield();
    parts.finish();
    view.setButtonEnabled(Button::StartConversion, true);
}

// The file to write: chosen in the save dialog (single-folder mode) or the
// sub-folder's name in the output folder, and whether an existing file there
// is added to or replaced (`options`). nullopt when there is none (the
// dialog or the question about an existing file was cancelled, or no name
// was given): every file of the folder is then recorded.
std::optional<std::string> ConversionEngine::State::choosePstPath(const std::string& sFolderName,
                                                                  const std::string& dateStamp,
                                                                  store::LogonOptions& options) {
    using Existing = ConversionEngine::ExistingFile;
    options.addDuplicates = addDuplicates;
    options.addToExisting = existingFile != Existing::Refuse;
    std::string pstPath;
    if (job.optSingle()) {
        auto chosen = host.saveDialog("Outlook Data File(s) (*.pst)|*.pst", sFolderName + dateStamp + ".pst");
        MsgResult answer = MsgResult::Add;
        if (chosen && existingFile == Existing::Ask && fs::pathExists(trim(*chosen)))
            answer = host.messageBox({MsgKind::FileExists, fs::GetLastPathPart(trim(*chosen)) + " already exists.",
                                      "Confirm Save As", MsgButtons::AddReplaceCancel, MsgIcon::Warning});
        if (!chosen || (answer != MsgResult::Add && answer != MsgResult::Replace)) {
            summary.cancelled = true;
            recordRest(0, FileResult::NotReached, "The save dialog was cancelled.");
            view.unload();
            return std::nullopt;
        }
        if (answer == MsgResult::Replace) {
            options.addToExisting = false;
            options.replaceExisting = true;
        }
        pstPath = *chosen;
    } else {
        pstPath = trim(job.outputFolder()) + kSep + sFolderName + ".pst";
    }
    if (pstPath.empty()) {
        summary.outputFailures.push_back("No file name was given for the store.");
        recordRest(0, FileResult::Failed, summary.outputFailures.back());
        return std::nullopt;
    }
    if (firstPstPath.empty()) firstPstPath = trim(pstPath);
    return pstPath;
}

void ConversionEngine::State::showConversionStarted() {
    yield();
    view.setProgressRange(0, 100);
    view.setButtonVisible(Button::StopMigration, true);
    view.setButtonEnabled(Button::StopMigration, true);
    view.setButtonEnabled(Button::Skip, true);
    yield();
    yield();
    view.setCurrentDbx("Outlook Session Created...");
    view.setButtonEnabled(Button::StartConversion, false);
}

// The file being written, where it is added to: "Adding to NAME.pst"
// instead of the words for a new file.
void ConversionEngine::State::showOutput(const OutputParts& parts) {
    if (parts.adding()) view.setCurrentDbx("Adding to " + fs::GetLastPathPart(parts.path()));
    else if (parts.number() > 1) view.setCurrentDbx("Outlook Session Created... " + parts.path());
}

// The store could not be created: the session error box, once for the
// folder, says why; every file of the folder fails for that reason.
void ConversionEngine::State::storeNotCreated(OutputParts& parts, const std::string& path, const Error& e,
                                              bool adding) {
    const std::string cause = storeNotCreatedText(path, e, adding);
    host.messageBox({MsgKind::Error, cause, "Outlook Error", MsgButtons::Ok, MsgIcon::Information});
    parts.fail(cause);
    recordRest(0, FileResult::Failed, cause);
}

// ---- folder tree mirroring ----

// The relative paths of the queued sub-folders that exist, sorted and
// distinct.
fs::StringArray ConversionEngine::State::readFolderList(const std::string& root) {
    view.setCurrentDbx("Reading Folder(s)...");
    fs::StringArray folderList(static_cast<size_t>(folderQueue.Count()) + 1);
    size_t next = 0;
    std::string last;
    for (const std::string& entry : folderQueue.items()) {
        yield();
        if (fs::FolderExists(entry)) {
            std::string rel = relativeStorePath(entry, root);
            if (!rel.empty()) {
                if (rel.back() == '\\') rel.pop_back();
                last = rel;
                if (next < folderList.size()) folderList[next++] = std::move(rel);
            }
        }
        view.setCurrentDbx("Reading Folder(s)... " + last);
    }
    fs::QuickSortStrings(folderList, 0, static_cast<int32_t>(folderList.size()) - 1);
    yield();
    fs::RemoveDuplicates(folderList);
    yield();
    return folderList;
}

// Makes the store folder of every source folder that the mirroring makes
// (engine/store_folders.h), parents first, in the order of the sorted list.
void ConversionEngine::State::mirrorFolders(OutputParts& parts, const std::string& root) {
    const fs::StringArray folderList = readFolderList(root);
    view.setCurrentDbx("Creating Outlook Folders...");
    for (const std::string& relative : folderList) {
        if (relative.empty()) continue;
        yield();
        const StoreFolder f = StoreFolderFor(relative, parts.defaults());
        if (!f.mirrored) continue;
        // A folder that cannot be made here is tried again when a message
        // needs it.
        if (parts.folder(f.path)) view.setCurrentDbx("Creating Outlook Folders... " + f.path.back());
    }
}

// ---- the message import loop ----

ConversionEngine::State::LoopEnd ConversionEngine::State::importMessages(OutputParts& parts, const std::string& root) {
    // The message files are read ahead on the other cores while this loop
    // writes; whatever it leaves (a skip, a stop, an output that failed) is
    // thrown away with it.
    const size_t count = static_cast<size_t>(fileQueue.Count());
    store::ReadAheadOptions ahead;
    ahead.threads = readAheadThreads >= 0 ? static_cast<unsigned>(readAheadThreads) : store::defaultReadAheadThreads();
    store::MessageReadAhead files(
        count,
        [this](size_t i) {
            std::string path = *fileQueue.item(static_cast<int32_t>(i + 1));
            return IsMessageFile(path) ? path : std::string();
        },
        ahead);
    FolderOfFiles folders(root);
    int64_t processed = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string entry = *fileQueue.item(static_cast<int32_t>(i + 1));
        if (mailboxMessages.count(i)) {
            if (auto end = importMailbox(parts, folders, i, entry, processed, root)) return *end;
            continue;
        }
        if (!IsMessageFile(entry)) {
            FileRecord rec;
            rec.source = entry;
            rec.result = FileResult::NotAMessageFile;
            summary.records.push_back(rec);
        } else {
            Source s;
            s.entry = i;
            s.name = entry;
            s.folder = fs::GetParentPath(entry);
            s.read = [&files, i] { return files.take(i); };
            if (!importMessage(parts, folders, s)) return LoopEnd::OutputFailed;
        }
        showProgress(++processed);
        if (auto end = answerRequests({i + 1, 1}, root)) return *end;
    }
    return LoopEnd::Done;
}

// Imports the messages of the mailbox at entry i one at a time, in file
// order, into its store folder: only the message being imported is in
// memory. Each counts as a file does, named "PATH#N". How the loop ends
// when it ends here, else nullopt.
std::optional<ConversionEngine::State::LoopEnd> ConversionEngine::State::importMailbox(
    OutputParts& parts, FolderOfFiles& folders, size_t i, const std::string& entry, int64_t& processed,
    const std::string& root) {
    const uint64_t counted = mailboxMessages[i];
    const int64_t end = processed + static_cast<int64_t>(std::clamp<uint64_t>(counted, 1, uint64_t(1) << 40));
    yield();
    view.setCurrentDbx("Converting Messages... from (" + entry + ")");
    Source s;
    s.entry = i;
    s.folder = mailboxFolder(entry);
    auto reader = store::MboxReader::open(entry);
    uint64_t n = 0;
    size_t told = 0;  // the reader's notes about the file told so far
    bool failed = !reader;
    if (failed) recordMessages(entry, 1, std::max<uint64_t>(counted, 1), FileResult::Failed, reader.error().description);
    while (!failed) {
        auto next = reader->next();
        if (!next) {
            // A read error ends the mailbox: its messages from here on fail.
            recordMessages(entry, n + 1, std::max<uint64_t>(counted, n + 1), FileResult::Failed,
                           next.error().description);
            failed = true;
            break;
        }
        if (!*next) break;
        n = (*next)->ordinal;
        store::Bytes bytes = std::move((*next)->bytes);
        s.message = n;
        s.name = entry + "#" + std::to_string(n);
        s.read = [&bytes]() -> Result<store::Message> {
            Result<store::Message> m = store::mime::readInternetMessage(bytes);
            if (m) store::setSourceDigest(*m, bytes);
            return m;
        };
        s.readNoMore = [&bytes] { store::Bytes().swap(bytes); };
        s.note = joined(reader->Warnings(), told);
        told = reader->Warnings().size();
        if (!importMessage(parts, folders, s)) return LoopEnd::OutputFailed;
        showProgress(++processed);
        if (auto e = answerRequests(s.rest(), root)) return e;
    }
    if (n == 0 && !failed) {
        // An empty mailbox is an empty folder; bytes that hold no message
        // are counted, not imported.
        if (folders.of(s.folder, parts).mirrored && reader->size() == 0) folders.folder(parts);
        FileRecord rec;
        rec.source = entry;
        rec.result = FileResult::NotAMessageFile;
        rec.reason = joined(reader->Warnings(), 0);
        summary.records.push_back(rec);
    }
    // A mailbox that held fewer messages than were counted.
    if (processed < end) {
        processed = end;
        showProgress(processed);
        if (auto e = answerRequests({i + 1, 1}, root)) return e;
    }
    return std::nullopt;
}

// Imports one message into the store folder that mirrors its folder and
// records what became of it. False when the file being written can no
// longer be completed (the folder conversion ends; the rest of its files
// are recorded).
bool ConversionEngine::State::importMessage(OutputParts& parts, FolderOfFiles& folders, const Source& s) {
    yield();
    view.setCurrentDbx(showing({"Converting Messages... from (", s.name, ")"}));
    FileRecord rec;
    rec.source = s.name;
    rec.storeFolder = StoreFolderText(folders.of(s.folder, parts).path);
    Prepared p = prepare(parts, folders, s, rec.storeFolder);
    // A message that would take the file past the cap starts the next file
    // (or, when adding, goes on in the next one that has room). One that
    // the file already holds stays where it is: it is not added again.
    for (int tries = 0; tries < 10000 && p.item && !heldAlready(parts, p) && parts.full(p.item->EstimatedSize());
         ++tries) {
        p.item.reset();
        if (!parts.next()) {
            recordRest(s.entry, FileResult::Failed, summary.outputFailures.back(), std::max<uint64_t>(s.message, 1));
            return false;
        }
        showOutput(parts);
        rec.storeFolder = StoreFolderText(folders.of(s.folder, parts).path);
        p = prepare(parts, folders, s, rec.storeFolder);
    }
    // The message is in the item: its source bytes need not share the
    // memory with what saving it writes.
    if (s.readNoMore) s.readNoMore();
    save(parts, p, rec, s.note);
    // A file that can no longer be completed (a full disk, an I/O error, its
    // folder removed) ends the folder conversion now: a message not
    // converted fails for that cause, one converted fails with the file.
    const Status out = parts.check();
    if (!out && rec.result == FileResult::Failed) rec.reason = parts.cause(out.error());
    summary.records.push_back(rec);
    if (out) return true;
    parts.fail(out.error());
    const auto [next, message] = s.rest();
    recordRest(next, FileResult::Failed, summary.outputFailures.back(), message);
    return false;
}

// The store folder (`where`, as the report names it), a new item in it, and
// the file imported into the item.
Prepared ConversionEngine::State::prepare(OutputParts& parts, FolderOfFiles& folders, const Source& s,
                                          const std::string& where) {
    Prepared p;
    Result<store::Message> read = s.read();
    if (read && parts.hasEarlierParts() && !addDuplicates) {
        p.heldIn = parts.heldEarlier(folders.of(s.folder, parts).path, *read, p.subject);
        if (!p.heldIn.empty()) return p;
    }
    auto folder = folders.folder(parts);
    if (!folder) {
        p.why = Error(err::kNotFound, "The store folder " + where + " could not be created.");
        return p;
    }
    auto added = folder->Items().Add(0);
    if (!added) {
        p.why = std::move(added).error();
        return p;
    }
    yield();
    if (Status st = (*added)->Import(std::move(read), store::olMSGUnicode); !st) {
        p.why = std::move(st).take();
        p.subject = (*added)->Subject();
        return p;
    }
    p.item = std::move(*added);
    return p;
}

// Whether Save will skip the item because the file added to already holds
// it in that folder (a failure to tell is left to Save).
bool ConversionEngine::State::heldAlready(const OutputParts& parts, const Prepared& p) const {
    if (!parts.adding() || addDuplicates || !p.item) return false;
    auto present = p.item->IsAlreadyPresent();
    return present && *present;
}

// Flags and saves the item; the record says what became of the file.
void ConversionEngine::State::save(OutputParts& parts, Prepared& p, FileRecord& rec, const std::string& note) {
    rec.subject = p.subject;
    if (!p.heldIn.empty()) {
        rec.result = FileResult::AlreadyPresent;
        rec.pstFile = p.heldIn;
        return;
    }
    Error why = std::move(p.why);
    bool converted = false;
    if (p.item) {
        rec.subject = p.item->Subject();
        // MSGFLAG_READ, plus MSGFLAG_HASATTACH only when the item holds
        // attachments.
        const int32_t flags = 0x01 | (p.item->AttachmentCount() > 0 ? 0x10 : 0);
        store::MAPIUtils utils;
        auto set = utils.HrSetOneProp(p.item->MAPIOBJECT(), 0x0E070003u, flags, true);
        yield();
        Status saved = set.ok() ? p.item->Save() : set;
        converted = saved.ok();
        if (!converted) why = std::move(saved).take();
    }
    if (!converted) {
        rec.result = FileResult::Failed;
        rec.reason = why.description;
        return;
    }
    rec.pstFile = parts.path();
    if (p.item->WasAlreadyPresent()) {
        rec.result = FileResult::AlreadyPresent;
        return;
    }
    // What the reader had to leave out of a salvaged file (and what it
    // noted about the mailbox that holds the message).
    const std::vector<std::string>& warnings = p.item->Warnings();
    rec.result = warnings.empty() && note.empty() ? FileResult::Converted : FileResult::ConvertedWithWarnings;
    rec.reason = note;
    for (const std::string& w : warnings) rec.reason += (rec.reason.empty() ? "" : "; ") + w;
    parts.saved();
}

const std::string& ConversionEngine::State::showing(std::initializer_list<std::string_view> parts) {
    shown.clear();
    for (std::string_view part : parts) shown += part;
    return shown;
}

void ConversionEngine::State::showProgress(int64_t processed) {
    // A mailbox may hold more messages than it did when it was counted.
    const int32_t processedCount = static_cast<int32_t>(std::min<int64_t>(processed, totalFiles));
    Decimal count(processedCount), total(totalFiles);
    view.setFrameCaption(showing({"Reading Messages & Email Metadata - (", count, " of ", total, ") File(s)"}));
    view.setProgressValue(static_cast<float>(static_cast<double>(processedCount) / totalFiles * 100.0));
    view.setProgressLabel(showing({Decimal(static_cast<int64_t>(std::nearbyint(view.progressValue()))), "% Complete"}));
}

// The skip and stop requests, before `rest` (the entry, and the message of
// a mailbox, that would come next): how the loop ends when one is confirmed
// (or the window was closed), else nullopt.
std::optional<ConversionEngine::State::LoopEnd> ConversionEngine::State::answerRequests(
    std::pair<size_t, uint64_t> rest, const std::string& root) {
    auto stopped = [&] {
        recordRest(rest.first, FileResult::NotReached, "The conversion was stopped.", rest.second);
        return LoopEnd::Stopped;
    };
    if (closedStop()) return stopped();
    if (skipRequested) {
        if (host.messageBox({MsgKind::ConfirmSkip, "Do you really want to \"Skip\" conversion of this folder ?",
                             "Confirm Skip", MsgButtons::YesNo, MsgIcon::None}) == MsgResult::Yes) {
            yield();
            view.setProgressLabel(view.progressLabel() + "Skipped... at ");
            view.setCount1("Checking Next Folder...");
            summary.skippedFolders.push_back(root);
            recordRest(rest.first, FileResult::Skipped, "The conversion of its folder was skipped.", rest.second);
            return LoopEnd::Skipped;
        }
        skipRequested = false;
    }
    if (closedStop()) return stopped();
    if (stopRequested) {
        if (host.messageBox({MsgKind::ConfirmStop,
                             "This action will STOP complete conversion process." + kCrLf +
                                 "Do you really want to \"STOP\" on-going conversion ?",
                             "Confirm Stop", MsgButtons::YesNo, MsgIcon::None}) == MsgResult::Yes) {
            yield();
            view.setProgressLabel(view.progressLabel() + "Stopped... at ");
            view.setCount1("Stopped...");
            summary.stopped = true;
            view.unload();
            return stopped();
        }
        stopRequested = false;
    }
    return std::nullopt;
}

// ---- the run ----

void ConversionEngine::State::run() {
    running = true;
    summary = RunSummary();
    firstPstPath.clear();
    fs::ScopedYieldCallback scoped([this] { yield(); });
    stopRequested = false;
    const bool single = job.optSingle();
    if (single) runSingle();
    else runMultiple();
    finishRun(single);
    running = false;
}

void ConversionEngine::State::runSingle() {
    yield();
    // A stop pressed before the folder was queued leaves it unconverted.
    if (stopRequested) {
        summary.stopped = true;
        return;
    }
    view.setButtonEnabled(Button::StartConversion, false);
    view.setButtonEnabled(Button::Skip, false);
    fileQueue.clear();
    const std::string source = job.sourceMailbox();
    const std::string queued = queue(source);
    view.setCount1("Migrating " + std::to_string(totalFiles) + " items from " + queued);
    if (totalFiles < 1) return;
    if (closedStop()) {
        recordRest(0, FileResult::NotReached, "The conversion was stopped.");
        return;
    }
    skipRequested = stopRequested = false;
    view.setWindowTitle("Conversion Status");
    const size_t p = source.rfind(kSep);
    startMigration(p == std::string::npos ? source : source.substr(p + 1), source);
}

void ConversionEngine::State::runMultiple() {
    const int n = job.rowCount();
    for (int i = 1; i <= n; ++i) {
        yield();
        if (!job.rowChecked(i)) continue;
        yield();
        // A stop (or a closed window) still in force at a ticked row leaves
        // this row and the later ones unconverted: the run was stopped, even
        // when the folders converted so far had no files.
        if (stopRequested || closed()) {
            summary.stopped = true;
            break;
        }
        if (!convertRow(i)) break;
    }
}

// Queues and converts the folder of a ticked row. False when the run ends
// here.
bool ConversionEngine::State::convertRow(int row) {
    view.setButtonEnabled(Button::StartConversion, false);
    view.setButtonEnabled(Button::Skip, false);
    job.setRowForeColor(row, 0, 128, 0);
    job.setRowBold(row, true);
    fileQueue.clear();
    folderQueue.clear();
    const std::string path = job.rowSubItemText(row);
    queue(path);
    view.setCount1("Converting " + std::to_string(totalFiles) + " items from " + path);
    if (totalFiles < 1) return true;
    // A window closed while this folder was being queued ends the run as a
    // confirmed stop does.
    if (closedStop()) {
        recordRest(0, FileResult::NotReached, "The conversion was stopped.");
        return false;
    }
    skipRequested = stopRequested = false;
    view.setWindowTitle("Converting " + std::to_string(row) + " of " + std::to_string(job.rowCount()) + " Folders");
    startMigration(job.rowText(row), path);
    return true;
}

// The report of every file, where it is wanted.
void ConversionEngine::State::writeReport() {
    std::string reportPath;
    bool replaceReport = false;
    if (reportMode == ReportMode::AtPath) {
        reportPath = reportPathOption;
        replaceReport = true;
    } else if (reportMode == ReportMode::WhenIncomplete && !summary.allConverted() && !firstPstPath.empty()) {
        reportPath = ReportPathFor(firstPstPath);
    }
    if (reportPath.empty()) return;
    Status written = WriteReport(reportPath, summary.records, replaceReport);
    // Beside the PST a report never replaces a file: the next free name.
    const std::string base = reportPath;
    for (int k = 2; !written.ok() && written.error().number == err::kFileExists && k < 1000; ++k) {
        reportPath = PartPath(base, k);
        written = WriteReport(reportPath, summary.records, false);
    }
    if (written.ok()) summary.reportPath = reportPath;
    else summary.reportFailure = written.error().description;
}

// The report, then the completion box that names it, and the buttons'
// final state.
void ConversionEngine::State::finishRun(bool single) {
    writeReport();
    const RunSummary& r = summary;
    // Anything but a complete conversion is told in the window as well.
    if (!r.allConverted() || (r.messageFiles() == 0 && r.filesFound() > 0)) view.setCount1(OutcomeLine(r, single));
    host.messageBox({MsgKind::Completed, CompletionText(r, single), "Completed", MsgButtons::Ok, CompletionIcon(r)});
    if (stopRequested) {
        if (view.isLoaded()) view.unload();
    } else {
        view.setButtonEnabled(Button::Skip, false);
        view.setButtonEnabled(Button::StopMigration, false);
        view.setButtonVisible(Button::StopMigration, false);
    }
}

ConversionEngine::ConversionEngine(StatusView& view, JobView& job, Host& host) : state_(new State(view, job, host)) {}
ConversionEngine::~ConversionEngine() { delete state_; }

void ConversionEngine::Form_Load() {
    State& s = *state_;
    s.fileQueue.clear();
    s.folderQueue.clear();
    s.stopRequested = s.skipRequested = false;
    s.windowClosed = false;
    s.view.setProgressValue(0);
    s.view.setProgressLabel("0% Complete");
    s.view.setCount1("Conversion Not Started Yet...");
    s.view.setCurrentDbx("Converting Messages...");
    s.view.setFrameCaption(" Details ");
    s.view.setButtonEnabled(Button::Skip, false);
}

void ConversionEngine::CmdSkip_Click() { state_->skipRequested = true; }

void ConversionEngine::CmdStopMigration_Click() {
    if (state_->skipRequested) {
        state_->windowClosed = true;
        state_->view.unload();
    }
    state_->stopRequested = true;
}

void ConversionEngine::Form_QueryUnload() {
    state_->windowClosed = true;
    if (state_->running) state_->stopRequested = true;
}

void ConversionEngine::StartMigration(const std::string& sFolderName, const std::string& sFolderPath) {
    state_->startMigration(sFolderName, sFolderPath);
}

void ConversionEngine::CmdStartConversion_Click() {
    // The start button is enabled again between two folder conversions,
    // where the stop button covers it but its access key still reaches it:
    // a run never starts inside a run.
    if (!state_->running) state_->run();
}

bool ConversionEngine::isRunning() const { return state_->running; }
const fs::PathQueue& ConversionEngine::fileQueue() const { return state_->fileQueue; }
const fs::PathQueue& ConversionEngine::folderQueue() const { return state_->folderQueue; }
int32_t ConversionEngine::nextFolderNumber() const { return state_->nextFolderNumber; }
int32_t ConversionEngine::totalFiles() const { return state_->totalFiles; }
bool ConversionEngine::skipRequested() const { return state_->skipRequested; }
bool ConversionEngine::stopRequested() const { return state_->stopRequested; }
const RunSummary& ConversionEngine::lastRun() const { return state_->summary; }
void ConversionEngine::setMaxFileSize(uint64_t bytes) { state_->maxFileSize = bytes; }
void ConversionEngine::setExistingFile(ExistingFile how) { state_->existingFile = how; }
void ConversionEngine::setAddDuplicates(bool add) { state_->addDuplicates = add; }
void ConversionEngine::setReport(ReportMode mode, const std::string& path) {
    state_->reportMode = mode;
    state_->reportPathOption = path;
}
void ConversionEngine::setYieldInterval(std::chrono::microseconds interval) { state_->yieldInterval = interval; }
void ConversionEngine::setClock(std::function<std::tm()> clock) { state_->clock = std::move(clock); }
void ConversionEngine::setReadAheadThreads(int threads) { state_->readAheadThreads = threads < 0 ? -1 : threads; }

}  // namespace tavrin::engine
