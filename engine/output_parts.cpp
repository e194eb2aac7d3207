#include "engine/output_parts.h"

#include "fs/file_io.h"

namespace tavrin::engine {

OutputParts::OutputParts(RunSummary& summary, uint64_t maxFileSize) : summary_(summary), maxFileSize_(maxFileSize) {}

Status OutputParts::open(const std::string& path, const std::string& displayName,
                         const store::LogonOptions& options) {
    basePath_ = path;
    baseName_ = displayName_ = displayName;
    number_ = 1;
    firstRecord_ = summary_.records.size();
    messages_ = 0;
    options_ = options;
    // The parts of a file that is added to are added to in turn; a new
    // file's parts never take up a file that is there.
    options_.addToExisting = options.addToExisting && fs::pathExists(path);
    options_.replaceExisting = false;
    earlier_.clear();
    if (!options_.addToExisting) return logon(path, options);
    // The last part that exists is written; those before it are looked at.
    std::string last = path;
    for (int k = 2; k < 10000 && fs::pathExists(PartPath(basePath_, k)); ++k) {
        if (Status s = lookAt(last, displayName_); !s) {
            earlier_.clear();
            return s;
        }
        last = PartPath(basePath_, k);
        number_ = k;
        displayName_ = baseName_ + " (" + std::to_string(k) + ")";
    }
    return logon(last, options_);
}

// Opens an existing part for the lookup of what it holds.
Status OutputParts::lookAt(const std::string& path, const std::string& displayName) {
    auto session = std::make_unique<store::RDOSession>();
    store::LogonOptions options;
    options.addToExisting = true;
    auto st = session->LogonPstStore(path, store::olStoreUnicode, displayName, options);
    if (!st) return std::move(st).error();
    earlier_.push_back({path, displayName, std::move(session)});
    return {};
}

std::string OutputParts::heldEarlier(const std::vector<std::string>& path, const store::Message& message,
                                     std::string& subject) {
    for (Earlier& e : earlier_) {
        auto folder = e.session->GetFolderFromComponents(e.displayName, path);
        if (!folder) continue;
        auto item = (*folder)->Items().Add(0);
        // What tells a message apart (its source digest, message id, submit
        // time, search key) is among its own properties.
        store::Message keys;
        keys.props = message.props;
        if (!item || !(*item)->ImportMessage(std::move(keys)).ok()) continue;
        auto present = (*item)->IsAlreadyPresent();
        if (present && *present) {
            subject = (*item)->Subject();
            return e.path;
        }
    }
    return {};
}

// A session and store at `path`, with the default folders' names.
Status OutputParts::logon(const std::string& path, const store::LogonOptions& options) {
    path_ = path;
    adding_ = options.addToExisting && fs::pathExists(path);
    auto session = std::make_unique<store::RDOSession>();
    auto st = session->LogonPstStore(path, store::olStoreUnicode, displayName_, options);
    if (!st) return std::move(st).error();
    const store::EntryId id = (*st)->EntryID();
    if (Status v = (*st)->ValidateIPMTree(); !v) return v;
    for (int kind : {store::olFolderInbox, store::olFolderSentMail}) {
        auto s = session->GetStoreFromID(id);
        if (!s) return std::move(s).error();
        auto f = (*s)->GetDefaultFolder(kind);
        if (!f) return std::move(f).error();
        (kind == store::olFolderInbox ? defaults_.inbox : defaults_.sent) = (*f)->Name();
    }
    session_ = std::move(session);
    store_ = std::move(*st);
    return {};
}

Result<std::shared_ptr<store::RDOFolder>> OutputParts::folder(const std::vector<std::string>& path) {
    if (!session_) return Error(err::kCallFailed, "No store is open.");
    auto found = session_->GetFolderFromComponents(displayName_, path);
    // Anything but a missing folder (a store that failed) is not mended here.
    if (found || found.error().name.empty()) return found;
    auto current = session_->GetFolderFromComponents(displayName_, {});
    std::vector<std::string> prefix;
    for (const std::string& name : path) {
        if (!current) return current;
        prefix.push_back(name);
        if (auto there = session_->GetFolderFromComponents(displayName_, prefix)) {
            current = std::move(there);
            continue;
        }
        auto added = (*current)->Folders().Add(name, store::olFolderMail);
        if (!added) return std::move(added).error();
        current = std::move(*added);
    }
    return current;
}

bool OutputParts::full(uint64_t itemBytes) const {
    return maxFileSize_ > 0 && (messages_ > 0 || adding_) && store_ &&
           store_->ProjectedSize() + itemBytes > maxFileSize_;
}

Status OutputParts::check() {
    if (!session_) return Error(err::kCallFailed, "No store is open.");
    return session_->CheckOutput();
}

bool OutputParts::next() {
    const bool existed = adding_;
    const std::string done = path_, doneName = displayName_;
    if (!finish()) return false;
    // A part that was there before holds messages that later files of the
    // run may bring again.
    if (existed) (void)lookAt(done, doneName);
    summary_.split = true;
    std::string path;
    for (int tries = 0; tries < 10000; ++tries) {
        path = PartPath(basePath_, ++number_);
        if (options_.addToExisting || !fs::pathExists(path)) break;
    }
    displayName_ = baseName_ + " (" + std::to_string(number_) + ")";
    if (Status s = logon(path, options_); !s) {
        fail(s.error());
        return false;
    }
    return true;
}

bool OutputParts::finish() {
    if (!session_) return true;
    if (Status st = session_->Logoff(); !st) {
        fail(st.error());
        return false;
    }
    summary_.pstFiles.push_back(path_);
    firstRecord_ = summary_.records.size();
    messages_ = 0;
    store_.reset();
    session_.reset();
    return true;
}

void OutputParts::fail(const Error& e) { fail(cause(e)); }

void OutputParts::fail(const std::string& cause) {
    // A record that cannot be read back here is told where the records are
    // read: in the completion text and the report.
    (void)summary_.records.failConverted(firstRecord_, cause);
    firstRecord_ = summary_.records.size();
    messages_ = 0;
    summary_.outputFailures.push_back(cause);
    store_.reset();
    session_.reset();
}

std::string OutputParts::cause(const Error& e) const {
    if (e.number == err::kDiskFull) return "The disk holding " + path_ + " is full.";
    return e.description;
}

}  // namespace tavrin::engine
