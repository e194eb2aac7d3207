// The conversion run, the queue walk and the folder conversion (store
// creation, folder tree mirroring, message import loop).
#include "engine/conversion.h"

#include <cmath>
#include <cstdio>

#include "fs/file_io.h"
#include "fs/folder_identity.h"
#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"
#include "fs/text.h"
#include "fs/yield.h"
#include "store/read_ahead.h"
#include "store/session.h"

namespace tavrin::engine {

namespace {

constexpr char kSep = fs::kPathSeparator;
const std::string kCrLf = "\r\n";

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

bool endsWith(const std::string& s, const std::string& t) {
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}
bool startsWith(const std::string& s, const std::string& t) { return s.rfind(t, 0) == 0; }

// File-system separators of a relative path as store-path separators.
std::string toStorePath(std::string s) {
    for (char& c : s)
        if (c == kSep) c = '\\';
    return s;
}

// The prefix removed from the start of a path. On POSIX the root "/" is also
// the separator, so only the leading occurrence is taken away.
std::string removeRoot(const std::string& path, const std::string& root) {
    if (!root.empty() && startsWith(path, root)) return path.substr(root.size());
    return path;
}

std::vector<std::string> splitStore(const std::string& path) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : path) {
        if (c == '\\') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

}  // namespace

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

    fs::PathQueue fileQueue{'K'}, folderQueue{'Z'};
    std::string queueFolder, filePattern;
    int32_t nextFileNumber = 0, nextFolderNumber = 0, totalFiles = 0;
    bool skipRequested = false, stopRequested = false;
    bool running = false, windowClosed = false;

    std::string dateStamp, pstPath, storeDisplayName;
    std::unique_ptr<store::RDOSession> session;
    std::shared_ptr<store::RDOStore> pstStore;
    store::EntryId storeEntryID;
    std::string inboxName, sentName;
    std::string rootPrefix;
    fs::StringArray folderList;
    int32_t processedCount = 0;
    std::string relativeDir, leafName, parentPath, missingName;

    RunSummary summary;
    uint64_t maxFileSize = ConversionEngine::kDefaultMaxFileSize;
    ConversionEngine::ReportMode reportMode = ConversionEngine::ReportMode::WhenIncomplete;
    std::string reportPathOption;
    std::string firstPstPath;  // the run's first planned file: the wizard's report goes beside it
    // The file being written: part `partNumber` of `basePstPath`.
    std::string basePstPath, baseDisplayName, partPath;
    int partNumber = 1;
    size_t partFirstRecord = 0;       // the records from here on belong to it
    size_t partMessages = 0;          // messages saved into it
    Error logonFailure;               // why the last logonPart failed
    bool logonFailed(Error e) {
        logonFailure = std::move(e);
        return false;
    }
    std::chrono::microseconds yieldInterval{10000};
    std::chrono::steady_clock::time_point lastYield{};
    std::function<std::tm()> clock;
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

    void queueFolderFiles(std::string& folder, const std::string& pattern, const fs::FolderChain& inside);
    void startMigration(const std::string& name, const std::string& path);
    static bool isMessageFile(const std::string& path);
    void sessionError(const Error& e);
    // The records of fileQueue's entries from index `from` on: message files
    // get `result` and `reason`, other files "not a message file".
    void recordRest(size_t from, FileResult result, const std::string& reason);
    std::string outputCause(const Error& e) const;
    void outputFailed(const Error& e);
    bool finishPart();
    bool openNextPart();
    bool logonPart(const std::string& path, bool replace);
    bool mirrorFolders(const std::string& path);
    std::shared_ptr<store::RDOFolder> lookupParent(Error& failure);
    std::shared_ptr<store::RDOFolder> ensureStorePath(const std::string& rel);
    enum class LoopEnd { Done, Skipped, Stopped, OutputFailed };
    LoopEnd importMessages(const std::string& path);
    std::shared_ptr<store::RDOFolder> folderFor(const std::string& rel);
};

void ConversionEngine::State::queueFolderFiles(std::string& folder, const std::string& pattern,
                                               const fs::FolderChain& inside) {
    if (folder.empty() || folder.back() != kSep) folder += kSep;
    yield();
    std::vector<std::pair<std::string, fs::FolderChain>> subFolderNames;
    {
        fs::FileEntry e;
        if (fs::FindFirstEntry(folder + "*", e) > 0) {
            do {
                yield();
                std::string name = e.Name;
                name = fs::CutAtNull(name);
                if (name == "." || name == "..") continue;
                yield();
                const int32_t attr = fs::GetPathAttributes(folder + name);
                if (attr == -1 || (static_cast<uint32_t>(attr) & fs::kAttrDirectory)) {
                    yield();
                    (void)folderQueue.add(nextFolderNumber, folder, name);
                    ++nextFolderNumber;
                    // Follow links, but never into a folder the walk is inside.
                    auto id = fs::getFolderIdentity(folder + name);
                    if (id && inside.contains(*id)) continue;
                    subFolderNames.emplace_back(name, id ? inside.entered(*id) : inside);
                }
            } while (fs::FindNextEntry(e) != 0);
            fs::EndFind(e);
        }
    }
    {
        fs::FileEntry e;
        if (fs::FindFirstEntry(folder + pattern, e) > 0) {
            yield();
            do {
                yield();
                std::string name = e.Name;
                name = fs::CutAtNull(name);
                const int32_t attr = fs::GetPathAttributes(folder + name);
                const bool dir = attr == -1 || (static_cast<uint32_t>(attr) & fs::kAttrDirectory);
                if (name != "." && name != ".." && !dir) {
                    yield();
                    (void)fileQueue.add(nextFileNumber, folder, name);
                    if (!view.deleteSourceTicked())
                        view.setCount1(std::to_string(nextFileNumber) + " Messages Queued for Conversion.");
                    ++nextFileNumber;
                }
            } while (fs::FindNextEntry(e) != 0);
            fs::EndFind(e);
        }
    }
    for (auto& [name, chain] : subFolderNames) {
        yield();
        std::string sub = folder + name + kSep;
        queueFolderFiles(sub, pattern, chain);
    }
}

bool ConversionEngine::State::isMessageFile(const std::string& path) {
    return endsWith(text::asciiLower(fs::GetLastPathPart(path)), ".msg");
}

void ConversionEngine::State::recordRest(size_t from, FileResult result, const std::string& reason) {
    for (size_t i = from; i < static_cast<size_t>(fileQueue.Count()); ++i) {
        FileRecord r;
        r.source = *fileQueue.item(static_cast<int32_t>(i + 1));
        if (!isMessageFile(r.source)) {
            r.result = FileResult::NotAMessageFile;
        } else {
            r.result = result;
            r.reason = reason;
            if (result == FileResult::Failed) summary.addFailed(r.source);
        }
        summary.records.push_back(r);
    }
}

std::string ConversionEngine::State::outputCause(const Error& e) const {
    if (e.number == err::kDiskFull) return "The disk holding " + (partPath.empty() ? trim(pstPath) : partPath) + " is full.";
    return e.description;
}

// The file being written can no longer be completed: it is discarded (the
// session's end removes it), the messages saved into it count as not
// converted, and the folder conversion ends.
void ConversionEngine::State::outputFailed(const Error& e) {
    const std::string cause = outputCause(e);
    for (size_t i = partFirstRecord; i < summary.records.size(); ++i) {
        const FileRecord r = summary.records[i];
        if (r.result != FileResult::Converted && r.result != FileResult::ConvertedWithWarnings) continue;
        --summary.messagesConverted;
        summary.addFailed(r.source);
    }
    summary.records.failConverted(partFirstRecord, cause);
    partFirstRecord = summary.records.size();
    partMessages = 0;
    summary.outputFailures.push_back(cause);
    ++summary.folderFailures;
    pstStore.reset();
    session.reset();
}

void ConversionEngine::State::sessionError(const Error& e) {
    session.reset();
    pstStore.reset();
    std::string text = "Outlook Session Creation Error !" + kCrLf + "Check if Outlook is installed and configured." +
                       kCrLf +
                       "If Outlook 2013/2010 (64 Bit) is installed, then please try to re-install it as Outlook "
                       "2013/2010 (32 Bit)." +
                       kCrLf + "Here are steps to downgrade Outlook 2013/2010 to 32 Bit from 64 Bit Edition." + kCrLf +
                       HelpAddress(kHelpSessionError);
    if (!e.description.empty()) text += kCrLf + e.description;
    host.messageBox(text, "Outlook Error", MsgButtons::Ok, MsgIcon::Information);
    // None of this folder's message files was converted.
    outputFailed(e);
    recordRest(0, FileResult::Failed, outputCause(e));
}

// Completes the file being written. False when it could not be completed
// (then nothing of it remains and its messages count as not converted).
bool ConversionEngine::State::finishPart() {
    if (!session) return true;
    auto st = session->Logoff();
    if (!st.ok()) {
        outputFailed(st.error());
        return false;
    }
    summary.pstFiles.push_back(partPath);
    partFirstRecord = summary.records.size();
    partMessages = 0;
    pstStore.reset();
    session.reset();
    return true;
}

// A new session and store at `path`, with its default folders looked up.
bool ConversionEngine::State::logonPart(const std::string& path, bool replace) {
    partPath = path;
    session = std::make_unique<store::RDOSession>();
    store::LogonOptions options;
    options.replaceExisting = replace;
    auto st = session->LogonPstStore(path, store::olStoreUnicode, storeDisplayName, options);
    if (!st) return logonFailed(st.error());
    pstStore = *st;
    storeEntryID = pstStore->EntryID();
    if (auto v = pstStore->ValidateIPMTree(); !v.ok()) return logonFailed(v.error());
    for (int kind : {store::olFolderInbox, store::olFolderSentMail}) {
        auto s = session->GetStoreFromID(storeEntryID);
        if (!s) return logonFailed(s.error());
        auto f = (*s)->GetDefaultFolder(kind);
        if (!f) return logonFailed(f.error());
        (kind == store::olFolderInbox ? inboxName : sentName) = (*f)->Name();
    }
    return true;
}

// Completes the file and goes on in the next part, "NAME (k).pst", with the
// store named "... (k)". A name that is taken is passed over, never
// replaced.
bool ConversionEngine::State::openNextPart() {
    if (!finishPart()) return false;
    summary.split = true;
    std::string path;
    for (int tries = 0; tries < 10000; ++tries) {
        path = PartPath(basePstPath, ++partNumber);
        if (!fs::pathExists(path)) break;
    }
    storeDisplayName = baseDisplayName + " (" + std::to_string(partNumber) + ")";
    view.setCurrentDbx("Outlook Session Created... " + path);
    if (logonPart(path, false)) return true;
    outputFailed(logonFailure);
    return false;
}

void ConversionEngine::State::startMigration(const std::string& sFolderName, const std::string& sFolderPath) {
    dateStamp = FormatDateStamp(clock());
    bool replace = false;
    partFirstRecord = summary.records.size();
    partMessages = 0;
    partPath.clear();
    if (job.optSingle()) {
        auto chosen = host.saveDialog("Outlook Data File(s) (*.pst)|*.pst", sFolderName + dateStamp + ".pst", replace);
        if (!chosen) {
            summary.cancelled = true;
            recordRest(0, FileResult::NotReached, "The save dialog was cancelled.");
            view.unload();
            return;
        }
        pstPath = *chosen;
    } else {
        const std::string outputFolder = trim(job.outputFolder());
        pstPath = outputFolder + kSep + sFolderName + ".pst";
    }
    if (pstPath.empty()) {
        outputFailed(Error(err::kInvalidParameter, "No file name was given for the store."));
        recordRest(0, FileResult::Failed, summary.outputFailures.back());
        return;
    }
    if (firstPstPath.empty()) firstPstPath = trim(pstPath);
    yield();
    view.setProgressRange(0, 100);
    view.setButtonVisible(Button::StopMigration, true);
    view.setButtonEnabled(Button::StopMigration, true);
    view.setButtonEnabled(Button::Skip, true);
    yield();
    yield();
    view.setCurrentDbx("Outlook Session Created...");
    view.setButtonEnabled(Button::StartConversion, false);
    storeDisplayName = sFolderName + " : Created - " + dateStamp;
    baseDisplayName = storeDisplayName;
    basePstPath = trim(pstPath);
    partNumber = 1;
    if (!logonPart(basePstPath, replace)) return sessionError(logonFailure);
    if (!mirrorFolders(sFolderPath)) return;
    const LoopEnd end = importMessages(sFolderPath);
    if (end == LoopEnd::Stopped) {
        // The file keeps every message saved before the stop.
        finishPart();
        return;
    }
    fileQueue.clear();
    folderQueue.clear();
    rootPrefix.clear();
    yield();
    finishPart();
    view.setButtonEnabled(Button::StartConversion, true);
}

std::shared_ptr<store::RDOFolder> ConversionEngine::State::lookupParent(Error& failure) {
    const std::string path = startsWith(parentPath, "\\") ? "\\\\" + storeDisplayName + parentPath
                                                           : "\\\\" + storeDisplayName + "\\" + parentPath;
    auto r = session->GetFolderFromPath(path);
    if (r) return *r;
    failure = r.error();
    return nullptr;
}

bool ConversionEngine::State::mirrorFolders(const std::string& sFolderPath) {
    view.setCurrentDbx("Reading Folder(s)...");
    rootPrefix = sFolderPath;
    folderList.assign(static_cast<size_t>(folderQueue.Count()) + 1, std::string());
    size_t next = 0;
    std::string last;
    for (const std::string& entry : folderQueue.items()) {
        yield();
        if (fs::FolderExists(entry)) {
            std::string rel = removeRoot(entry, rootPrefix);
            if (!rel.empty()) {
                if (rel.back() == kSep) rel.pop_back();
                rel = toStorePath(rel);
                if (next < folderList.size()) folderList[next++] = rel;
                last = rel;
            }
        }
        view.setCurrentDbx("Reading Folder(s)... " + last);
    }
    fs::QuickSortStrings(folderList, 0, static_cast<int32_t>(folderList.size()) - 1);
    yield();
    fs::RemoveDuplicates(folderList);
    yield();
    view.setCurrentDbx("Creating Outlook Folders...");

    static const char* kNotCreated[] = {"\\Calendar", "\\Contacts", "\\Emailed Contacts", "\\Tasks",
                                        "\\Sent",     "\\Notebook", "\\Conversations"};
    for (std::string& x : folderList) {
        Error failure;
        if (x.empty() || x.find('!') != std::string::npos) continue;
        yield();
        if (size_t p = x.find(":\\"); p != std::string::npos) {
            const size_t q = x.find(":\\", p + 2);
            x = x.substr(p + 2, q == std::string::npos ? std::string::npos : q - p - 2);
        }
        if (x.find('\\') == std::string::npos) {
            auto s = session->Stores().GetStoreFromID(storeEntryID);
            if (x == "Inbox") x = inboxName;
            else if (x == "Sent") x = sentName;
            if (s) {
                auto top = (*s)->IPMRootFolder();
                if (top) {
                    bool found = false;
                    for (auto& child : (*top)->Folders().items()) {
                        yield();
                        if (child->Name() == x) found = true;
                    }
                    if (!found && x != "Emailed Contacts") {
                        if (x != "Sent" && x != "Inbox") (void)(*top)->Folders().Add(x, store::olFolderMail);
                        view.setCurrentDbx("Creating Outlook Folders... " + x);
                    }
                }
            }
            yield();
            continue;
        }
        bool skip = x == "\\Inbox";
        for (const char* t : kNotCreated) skip = skip || endsWith(x, t);
        if (skip) continue;
        const size_t cut = x.rfind('\\');
        leafName = x.substr(cut + 1);
        parentPath = x.substr(0, cut);
        const size_t pc = parentPath.rfind('\\');
        const std::string lastComponent = pc == std::string::npos ? parentPath : parentPath.substr(pc + 1);
        if (lastComponent == "Inbox") {
            if (auto s = session->GetStoreFromID(storeEntryID)) (void)(*s)->GetDefaultFolder(store::olFolderInbox);
            if (parentPath == "Inbox") parentPath = inboxName;
        } else if (parentPath == "Sent") {
            parentPath = sentName;
        } else if (startsWith(parentPath, "Sent\\")) {
            parentPath = sentName + "\\" + parentPath.substr(5);
        }
        if (size_t p = parentPath.find("\\Inbox\\"); p != std::string::npos) {
            const size_t q = parentPath.find("\\Inbox\\", p + 7);
            parentPath = inboxName + "\\" +
                         parentPath.substr(p + 7, q == std::string::npos ? std::string::npos : q - p - 7);
        }
        failure = Error();
        auto parent = lookupParent(failure);
        if (!parent) {
            // The repair loop, bounded: at most (components of the parent path + 2) passes.
            std::string base = storeDisplayName;
            const size_t bound = splitStore(parentPath).size() + 2;
            for (size_t pass = 0; pass < bound && !parent; ++pass) {
                missingName = failure.description;
                missingName = replaceAll(missingName, "Folder \"", "");
                missingName = replaceAll(missingName, "\" does not exist", "");
                failure = Error();
                yield();
                bool passFailed = false;
                auto baseFolder = session->GetFolderFromPath("\\\\" + base);
                if (!baseFolder) {
                    failure = baseFolder.error();
                    passFailed = true;
                } else if (auto added = (*baseFolder)->Folders().Add(missingName, store::olFolderMail); !added) {
                    failure = added.error();
                    passFailed = true;
                }
                Error lookFailure;
                std::shared_ptr<store::RDOFolder> found;
                if (missingName.empty()) {
                    auto r = session->GetFolderFromPath("\\\\" + storeDisplayName + "\\");
                    if (r) found = *r; else lookFailure = r.error();
                } else {
                    found = lookupParent(lookFailure);
                }
                if (!found) {
                    // The later failure replaces the earlier one.
                    failure = lookFailure;
                    passFailed = true;
                }
                if (!passFailed) parent = found;
                base = storeDisplayName + "\\" + missingName;
            }
        }
        if (!parent) continue;
        yield();
        (void)parent->Folders().Add(leafName, store::olFolderMail);
        yield();
        view.setCurrentDbx("Creating Outlook Folders... " + leafName);
    }
    return true;
}

// Looks the store path up and creates its missing components, top down.
// Each component is looked up as the import's own lookup does (which also
// takes a folder whose name differs only in letter case, as store folder
// names do), so that nothing is added beside a folder that is already there.
std::shared_ptr<store::RDOFolder> ConversionEngine::State::ensureStorePath(const std::string& rel) {
    std::string path = "\\\\" + storeDisplayName;
    auto top = session->GetFolderFromPath(path + "\\");
    if (!top) return nullptr;
    std::shared_ptr<store::RDOFolder> cur = *top;
    for (const std::string& name : splitStore(rel)) {
        path += "\\" + name;
        if (auto found = session->GetFolderFromPath(path)) {
            cur = *found;
            continue;
        }
        auto added = cur->Folders().Add(name, store::olFolderMail);
        if (!added) return nullptr;
        cur = *added;
    }
    return cur;
}

std::shared_ptr<store::RDOFolder> ConversionEngine::State::folderFor(const std::string& rel) {
    if (auto r = session->GetFolderFromPath("\\\\" + storeDisplayName + "\\" + rel)) return *r;
    return ensureStorePath(rel);
}

ConversionEngine::State::LoopEnd ConversionEngine::State::importMessages(const std::string&) {
    processedCount = 1;
    // The message files are read ahead on the other cores while
    // this loop writes; whatever it leaves (a skip, a stop, an output that
    // failed) is thrown away with it.
    const size_t count = static_cast<size_t>(fileQueue.Count());
    store::ReadAheadOptions ahead;
    ahead.threads = readAheadThreads >= 0 ? static_cast<unsigned>(readAheadThreads) : store::defaultReadAheadThreads();
    store::MessageReadAhead files(
        count,
        [this](size_t i) {
            std::string path = *fileQueue.item(static_cast<int32_t>(i + 1));
            return isMessageFile(path) ? path : std::string();
        },
        ahead);
    for (size_t i = 0; i < count; ++i) {
        const std::string entry = *fileQueue.item(static_cast<int32_t>(i + 1));
        if (isMessageFile(entry)) {
            yield();
            view.setCurrentDbx("Converting Messages... from (" + entry + ")");
            relativeDir = toStorePath(removeRoot(fs::GetParentPath(entry), rootPrefix));
            if (size_t b = relativeDir.find('!'); b != std::string::npos) {
                yield();
                relativeDir = trim(relativeDir.substr(0, b)) + "\\";
            }
            if (startsWith(relativeDir, "Inbox\\")) relativeDir = replaceAll(relativeDir, "Inbox", inboxName);
            if (startsWith(relativeDir, "Sent\\") && relativeDir.size() > 5)
                relativeDir = sentName + relativeDir.substr(relativeDir.find('\\'));
            if (relativeDir == "Sent\\") relativeDir = sentName + "\\";
            if (startsWith(relativeDir, "\\")) relativeDir.erase(0, 1);
            FileRecord rec;
            rec.source = entry;
            rec.storeFolder = "\\" + (endsWith(relativeDir, "\\") ? relativeDir.substr(0, relativeDir.size() - 1)
                                                                  : relativeDir);
            std::shared_ptr<store::RDOMail> item;
            Error why;
            // The store folder, a new item in it, and the file imported.
            auto prepare = [&] {
                item.reset();
                auto folder = folderFor(relativeDir);
                if (!folder) {
                    why = Error(err::kNotFound, "The store folder " + rec.storeFolder + " could not be created.");
                    return;
                }
                auto added = folder->Items().Add(0);
                if (!added) {
                    why = added.error();
                    return;
                }
                yield();
                if (auto st = (*added)->Import(files.take(i), store::olMSGUnicode); !st) {
                    why = st.error();
                    rec.subject = (*added)->Subject();
                    return;
                }
                item = *added;
            };
            prepare();
            // A message that would take the file past the cap starts the
            // next file (a file holds at least one message, whatever its size).
            if (item && maxFileSize > 0 && partMessages > 0 &&
                pstStore->ProjectedSize() + item->EstimatedSize() > maxFileSize) {
                item.reset();
                if (!openNextPart()) {
                    recordRest(i, FileResult::Failed, summary.outputFailures.back());
                    return LoopEnd::OutputFailed;
                }
                prepare();
            }
            bool converted = false;
            if (item) {
                rec.subject = item->Subject();
                // MSGFLAG_READ, plus MSGFLAG_HASATTACH only when the item
                // holds attachments.
                const int32_t flags = 0x01 | (item->AttachmentCount() > 0 ? 0x10 : 0);
                store::MAPIUtils utils;
                auto set = utils.HrSetOneProp(item->MAPIOBJECT(), 0x0E070003u, flags, true);
                yield();
                Status saved = set.ok() ? item->Save() : set;
                converted = saved.ok();
                if (!converted) why = std::move(saved).take();
            }
            if (converted) {
                // What the reader had to leave out of a salvaged file.
                const std::vector<std::string>& warnings = item->Warnings();
                rec.result = warnings.empty() ? FileResult::Converted : FileResult::ConvertedWithWarnings;
                for (const std::string& w : warnings) rec.reason += (rec.reason.empty() ? "" : "; ") + w;
                rec.pstFile = partPath;
                ++summary.messagesConverted;
                ++partMessages;
            } else {
                rec.result = FileResult::Failed;
                rec.reason = why.description;
                summary.addFailed(entry);
            }
            // A file that can no longer be completed (a full disk, an I/O
            // error, its folder removed) ends the folder conversion now:
            // a message not converted fails for that cause, one converted
            // fails with the file.
            const Status out = session->CheckOutput();
            if (!out && rec.result == FileResult::Failed) rec.reason = outputCause(out.error());
            summary.records.push_back(rec);
            if (!out) {
                outputFailed(out.error());
                recordRest(i + 1, FileResult::Failed, summary.outputFailures.back());
                return LoopEnd::OutputFailed;
            }
        } else {
            FileRecord rec;
            rec.source = entry;
            rec.result = FileResult::NotAMessageFile;
            summary.records.push_back(rec);
        }
        view.setFrameCaption("Reading Messages & Email Metadata - (" + std::to_string(processedCount) + " of " +
                             std::to_string(totalFiles) + ") File(s)");
        view.setProgressValue(static_cast<float>(static_cast<double>(processedCount) / totalFiles * 100.0));
        ++processedCount;
        view.setProgressLabel(std::to_string(static_cast<long>(std::nearbyint(view.progressValue()))) + "% Complete");
        auto stopped = [&] {
            recordRest(i + 1, FileResult::NotReached, "The conversion was stopped.");
            return LoopEnd::Stopped;
        };
        if (closedStop()) return stopped();
        if (skipRequested) {
            if (host.messageBox("Do you really want to \"Skip\" conversion of this folder ?", "Confirm Skip",
                                MsgButtons::YesNo, MsgIcon::None) == MsgResult::Yes) {
                yield();
                view.setProgressLabel(view.progressLabel() + "Skipped... at ");
                view.setCount1("Checking Next Folder...");
                summary.skippedFolders.push_back(rootPrefix);
                recordRest(i + 1, FileResult::Skipped, "The conversion of its folder was skipped.");
                return LoopEnd::Skipped;
            }
            skipRequested = false;
        }
        if (closedStop()) return stopped();
        if (stopRequested) {
            if (host.messageBox("This action will STOP complete conversion process." + kCrLf +
                                    "Do you really want to \"STOP\" on-going conversion ?",
                                "Confirm Stop", MsgButtons::YesNo, MsgIcon::None) == MsgResult::Yes) {
                yield();
                view.setProgressLabel(view.progressLabel() + "Stopped... at ");
                view.setCount1("Stopped...");
                summary.stopped = true;
                view.unload();
                return stopped();
            }
            stopRequested = false;
        }
    }
    return LoopEnd::Done;
}

ConversionEngine::ConversionEngine(StatusView& view, JobView& job, Host& host) : state_(new State(view, job, host)) {
    state_->clock = [] {
        const std::time_t t = std::time(nullptr);
        std::tm tm{};
#ifdef _WIN32
        localtime_s(&tm, &t);
#else
        localtime_r(&t, &tm);
#endif
        return tm;
    };
}
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
    State& s = *state_;
    // The start button is enabled again between two folder conversions,
    // where the stop button covers it but its access key still reaches it:
    // a run never starts inside a run.
    if (s.running) return;
    s.running = true;
    s.summary = RunSummary();
    s.firstPstPath.clear();
    fs::ScopedYieldCallback scoped([&s] { s.yield(); });
    s.stopRequested = false;
    const bool single = s.job.optSingle();
    auto queue = [&](const std::string& folder) {
        s.queueFolder = folder;
        s.filePattern = "*.*";
        s.nextFileNumber = 1;
        s.yield();
        auto id = fs::getFolderIdentity(s.queueFolder);
        s.queueFolderFiles(s.queueFolder, s.filePattern, id ? fs::FolderChain().entered(*id) : fs::FolderChain());
        s.totalFiles = s.nextFileNumber - 1;
        s.summary.filesFound += s.totalFiles;
        for (int32_t k = 1; k <= s.fileQueue.Count(); ++k)
            s.summary.messageFiles += State::isMessageFile(std::string(s.fileQueue.nameOf(k)));
        s.yield();
    };
    if (single) {
        s.yield();
        // A stop pressed before the folder was queued leaves it unconverted.
        if (s.stopRequested) s.summary.stopped = true;
        if (!s.stopRequested) {
            s.view.setButtonEnabled(Button::StartConversion, false);
            s.view.setButtonEnabled(Button::Skip, false);
            s.fileQueue.clear();
            const std::string source = s.job.sourceMailbox();
            queue(source);
            s.view.setCount1("Migrating " + std::to_string(s.totalFiles) + " items from " + s.queueFolder);
            if (s.totalFiles >= 1 && !s.closedStop()) {
                s.skipRequested = s.stopRequested = false;
                s.view.setWindowTitle("Conversion Status");
                const size_t p = source.rfind(kSep);
                s.startMigration(p == std::string::npos ? source : source.substr(p + 1), source);
            } else {
                s.recordRest(0, FileResult::NotReached, "The conversion was stopped.");
            }
        }
    } else {
        const int n = s.job.rowCount();
        for (int i = 1; i <= n; ++i) {
            s.yield();
            if (!s.job.rowChecked(i)) continue;
            s.yield();
            // A stop (or a closed window) still in force at a ticked row
            // leaves this row and the later ones unconverted: the run was
            // stopped, even when the folders converted so far had no files.
            if (s.stopRequested || s.closed()) {
                s.summary.stopped = true;
                break;
            }
            s.view.setButtonEnabled(Button::StartConversion, false);
            s.view.setButtonEnabled(Button::Skip, false);
            s.job.setRowForeColor(i, 0, 128, 0);
            s.job.setRowBold(i, true);
            s.fileQueue.clear();
            s.folderQueue.clear();
            const std::string path = s.job.rowSubItemText(i);
            queue(path);
            s.view.setCount1("Converting " + std::to_string(s.totalFiles) + " items from " + path);
            // A window closed while this folder was being queued ends the
            // run as a confirmed stop does.
            if (s.totalFiles >= 1 && s.closedStop()) {
                s.recordRest(0, FileResult::NotReached, "The conversion was stopped.");
                break;
            }
            if (s.totalFiles >= 1) {
                s.skipRequested = s.stopRequested = false;
                s.view.setWindowTitle("Converting " + std::to_string(i) + " of " + std::to_string(s.job.rowCount()) +
                                      " Folders");
                s.startMigration(s.job.rowText(i), path);
            }
        }
    }
    // The report of every file, then the completion box that names it.
    RunSummary& r = s.summary;
    std::string reportPath;
    bool replaceReport = false;
    if (s.reportMode == ReportMode::AtPath) {
        reportPath = s.reportPathOption;
        replaceReport = true;
    } else if (s.reportMode == ReportMode::WhenIncomplete && !r.allConverted() && !s.firstPstPath.empty()) {
        reportPath = ReportPathFor(s.firstPstPath);
    }
    if (!reportPath.empty()) {
        Status written = WriteReport(reportPath, r.records, replaceReport);
        // Beside the PST a report never replaces a file: the next free name.
        const std::string base = reportPath;
        for (int k = 2; !written.ok() && written.error().number == err::kFileExists && k < 1000; ++k) {
            reportPath = PartPath(base, k);
            written = WriteReport(reportPath, r.records, false);
        }
        if (written.ok()) r.reportPath = reportPath;
        else r.reportFailure = written.error().description;
    }
    const std::string text = CompletionText(r, single);
    // Anything but a complete conversion is told in the window as well.
    if (!r.allConverted() || (r.messageFiles == 0 && r.filesFound > 0)) s.view.setCount1(OutcomeLine(r, single));
    s.host.messageBox(text, "Completed", MsgButtons::Ok, CompletionIcon(r));
    if (s.stopRequested) {
        if (s.view.isLoaded()) s.view.unload();
    } else {
        s.view.setButtonEnabled(Button::Skip, false);
        s.view.setButtonEnabled(Button::StopMigration, false);
        s.view.setButtonVisible(Button::StopMigration, false);
    }
    s.running = false;
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
void ConversionEngine::setReport(ReportMode mode, const std::string& path) {
    state_->reportMode = mode;
    state_->reportPathOption = path;
}
void ConversionEngine::setYieldInterval(std::chrono::microseconds interval) { state_->yieldInterval = interval; }
void ConversionEngine::setClock(std::function<std::tm()> clock) { state_->clock = std::move(clock); }
void ConversionEngine::setReadAheadThreads(int threads) { state_->readAheadThreads = threads < 0 ? -1 : threads; }

}  // namespace tavrin::engine
