// The store operations over the PST writer.
//
// A session owns one new store: the PST is written under a temporary name
// beside its final path, with the writer's scratch file next to it, and
// moved into place by Logoff. A failure, an abandoned session or a session
// destroyed without Logoff removes both temporary files; the final path is
// only ever touched by the one rename that completes the file.
#include "store/session.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/tags.h"
#include "store/message_files.h"
#include "store/pst/messaging/store_writer.h"

namespace tavrin::store {

namespace m = pst::messaging;
using m::FolderRole;

namespace {

Error closedStore() { return Error(err::kCallFailed, "The store is not open."); }

uint64_t nowFiletime() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
    return static_cast<uint64_t>(since1970) + 116444736000000000ull;  // 1601 -> 1970 in 100 ns
}

std::string randomSuffix(std::mt19937_64& rng) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(rng()));
    return buf;
}

// Outlook's OlDefaultFolders to the store's special folders.
std::optional<FolderRole> roleOf(int kind) {
    switch (kind) {
        case olFolderDeletedItems: return FolderRole::DeletedItems;
        case olFolderOutbox: return FolderRole::Outbox;
        case olFolderSentMail: return FolderRole::SentItems;
        case olFolderInbox: return FolderRole::Inbox;
        case olFolderCalendar: return FolderRole::Calendar;
        case olFolderContacts: return FolderRole::Contacts;
        case olFolderJournal: return FolderRole::Journal;
        case olFolderNotes: return FolderRole::Notes;
        case olFolderTasks: return FolderRole::Tasks;
        case olFolderDrafts: return FolderRole::Drafts;
        case olFolderJunk: return FolderRole::JunkEmail;
        case olFolderRssFeeds: return FolderRole::RssFeeds;
        default: return std::nullopt;
    }
}

// The container class of a folder Folders.Add creates, by kind.
const char* containerClassOf(int kind) {
    switch (kind) {
        case olFolderMail: case olFolderOutbox: case olFolderSentMail: case olFolderDeletedItems:
        case olFolderDrafts: case olFolderJunk:
            return "IPF.Note";
        case olFolderCalendar: return "IPF.Appointment";
        case olFolderContacts: return "IPF.Contact";
        case olFolderJournal: return "IPF.Journal";
        case olFolderNotes: return "IPF.StickyNote";
        case olFolderTasks: return "IPF.Task";
        default: return nullptr;
    }
}

// The store is written under temporary names beside the target; a failure
// that names one of them is told about the target the user chose instead,
// so that the message says which file could not be written.
Error aboutTarget(Error e, const std::string& internal, const std::string& target) {
    if (internal.empty()) return e;
    for (size_t at = e.description.find(internal); at != std::string::npos;
         at = e.description.find(internal, at + target.size()))
        e.description.replace(at, internal.size(), target);
    return e;
}

}  // namespace

// ---- implementation objects ----

class PstSessionImpl {
public:
    PstSessionImpl() : rng_(std::random_device{}()) {}
    ~PstSessionImpl() { abandon(); }

    Status logon(const std::string& path, const std::string& displayName, const LogonOptions& options);
    Status logoff();
    void abandon();

    bool open() const { return writer_ != nullptr; }
    Status check() const {
        if (!writer_) return closedStore();
        if (writer_->error().failed()) return named(writer_->error());
        return {};
    }
    // A failure as the user should read it: about the target file.
    Error named(Error e) const {
        return aboutTarget(aboutTarget(std::move(e), tempPath_, path_), spillPath_, path_);
    }
    m::PstWriter& writer() { return *writer_; }
    const std::string& displayName() const { return displayName_; }
    std::mt19937_64& rng() { return rng_; }

private:
    std::mt19937_64 rng_;
    std::string path_, tempPath_, spillPath_;
    std::string displayName_;
    bool replace_ = false;
    std::unique_ptr<fs::OutputFile> out_, spill_;
    std::unique_ptr<m::PstWriter> writer_;
};

class FolderImpl {
public:
    FolderImpl(std::shared_ptr<PstSessionImpl> s, uint32_t nid) : session(std::move(s)), nid(nid) {}
    std::shared_ptr<PstSessionImpl> session;
    uint32_t nid;
};

class ItemImpl {
public:
    ItemImpl(std::shared_ptr<PstSessionImpl> s, uint32_t folder) : session(std::move(s)), folder(folder) {}
    std::shared_ptr<PstSessionImpl> session;
    uint32_t folder;
    Message message;
    bool saved = false;
    Error failure;  // a Save that failed
    int attachments = 0;
    std::vector<std::string> warnings;  // of the last Import

    Status changeable() const {
        if (auto s = session->check(); !s) return s;
        if (saved) return Error(err::kNoSupport, "The item has been saved and can no longer be changed.");
        if (failure.failed()) return failure;
        return {};
    }
    Status save() {
        if (saved) return {};
        if (failure.failed()) return failure;
        if (auto s = session->check(); !s) return s;
        const int count = static_cast<int>(message.attachments.size());
        auto nid = session->writer().addMessage(folder, std::move(message));
        message = Message{};  // taken by the writer, saved or not
        if (!nid) {
            failure = session->named(std::move(nid).error());  // what the item held is gone: it cannot be saved again
            return failure;
        }
        saved = true;
        attachments = count;
        return {};
    }
};

Status PstSessionImpl::logon(const std::string& path, const std::string& displayName, const LogonOptions& options) {
    if (writer_) return Error(err::kCallFailed, "A store is already open in this session.");
    if (path.empty()) return Error(err::kInvalidParameter, "No file name was given for the store.");
    // An existing file is never overwritten or changed unless asked for;
    // even then it is replaced only by Logoff's rename.
    if (fs::pathExists(path) && !options.replaceExisting)
        return Error(err::kFileExists, "The file " + path + " already exists.");
    const std::string suffix = randomSuffix(rng_);
    const std::string tempName = path + ".tmp-" + suffix;
    const std::string spillName = path + ".spill-" + suffix;
    auto out = fs::OutputFile::createNew(tempName);
    if (!out) return aboutTarget(std::move(out).error(), tempName, path);
    auto spill = fs::OutputFile::createNew(spillName);
    if (!spill) {
        out->reset();
        (void)fs::removeFile(tempName);
        return aboutTarget(std::move(spill).error(), spillName, path);
    }
    path_ = path;
    tempPath_ = (*out)->path();
    spillPath_ = (*spill)->path();
    out_ = std::move(*out);
    spill_ = std::move(*spill);
    replace_ = options.replaceExisting;
    displayName_ = displayName;

    m::StoreOptions so;
    so.displayName = displayName;
    so.now = nowFiletime();
    so.random = [this](uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng_() >> 24);
    };
    so.storage = [](const StorageEntry& e) { return writeStorageAsCompoundFile(e); };
    so.ndb.dwUnique = static_cast<uint32_t>(rng_());
    auto w = m::PstWriter::create(*out_, *spill_, std::move(so));
    if (!w) {
        abandon();
        return std::move(w).error();
    }
    writer_ = std::move(*w);
    return {};
}

Status PstSessionImpl::logoff() {
    if (!writer_) return closedStore();
    Status s = writer_->finish();
    if (s) s = out_->close();
    if (s) s = spill_->close();
    (void)fs::removeFile(spillPath_);
    if (s) s = fs::renameFile(tempPath_, path_, !replace_);
    if (!s) {
        Error e = named(std::move(s).take());
        abandon();
        return e;
    }
    writer_.reset();
    out_.reset();
    spill_.reset();
    tempPath_.clear();
    spillPath_.clear();
    return {};
}

void PstSessionImpl::abandon() {
    writer_.reset();
    out_.reset();
    spill_.reset();
    if (!tempPath_.empty()) (void)fs::removeFile(tempPath_);
    if (!spillPath_.empty()) (void)fs::removeFile(spillPath_);
    tempPath_.clear();
    spillPath_.clear();
}

// ---- folders ----

namespace {
std::shared_ptr<RDOFolder> folderObject(const std::shared_ptr<PstSessionImpl>& s, uint32_t nid) {
    return std::make_shared<RDOFolder>(std::make_shared<FolderImpl>(s, nid));
}
}  // namespace

std::string RDOFolder::Name() const {
    if (!impl_->session->open()) return {};
    const m::FolderInfo* f = impl_->session->writer().folder(impl_->nid);
    return f ? f->name : std::string();
}

EntryId RDOFolder::EntryID() const {
    if (!impl_->session->open()) return {};
    return impl_->session->writer().entryId(impl_->nid);
}

std::vector<std::shared_ptr<RDOFolder>> RDOFolders::items() const {
    std::vector<std::shared_ptr<RDOFolder>> out;
    if (!parent_->session->open()) return out;
    if (const m::FolderInfo* f = parent_->session->writer().folder(parent_->nid))
        for (uint32_t c : f->children) out.push_back(folderObject(parent_->session, c));
    return out;
}

size_t RDOFolders::Count() const { return items().size(); }

Result<std::shared_ptr<RDOFolder>> RDOFolders::Add(const std::string& name, int kind) {
    if (auto s = parent_->session->check(); !s) return std::move(s).take();
    const char* cls = containerClassOf(kind);
    if (!cls) return Error(err::kInvalidParameter, "Folders of kind " + std::to_string(kind) + " cannot be created.");
    auto nid = parent_->session->writer().addFolder(parent_->nid, name, cls);
    if (!nid) return std::move(nid).error();
    return folderObject(parent_->session, *nid);
}

Result<std::shared_ptr<RDOMail>> RDOItems::Add(int kind) {
    if (auto s = folder_->session->check(); !s) return std::move(s).take();
    if (kind != 0) return Error(err::kInvalidParameter, "Items of kind " + std::to_string(kind) + " cannot be created.");
    auto item = std::make_shared<ItemImpl>(folder_->session, folder_->nid);
    item->message.props.set(Property::unicodeUtf8(makeTag(tags::PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    return std::make_shared<RDOMail>(std::move(item));
}

// ---- items ----

Status RDOMail::Import(const std::string& path, int format) {
    if (auto s = impl_->changeable(); !s) return s;
    // olMSG (3) and olMSGUnicode (9): a message file either way.
    if (format != olMSGUnicode && format != 9)
        return Error(err::kInvalidParameter, "Files of format " + std::to_string(format) + " cannot be imported.");
    impl_->warnings.clear();
    auto msg = readMessageFile(path);
    if (!msg) return std::move(msg).error();
    impl_->warnings = std::move(msg->warnings);
    msg->warnings.clear();
    impl_->message = std::move(*msg);
    return {};
}

Status RDOMail::ImportMessage(Message message) {
    if (auto s = impl_->changeable(); !s) return s;
    impl_->warnings = std::move(message.warnings);
    message.warnings.clear();
    impl_->message = std::move(message);
    return {};
}

const std::vector<std::string>& RDOMail::Warnings() const { return impl_->warnings; }

int RDOMail::AttachmentCount() const {
    return impl_->saved ? impl_->attachments : static_cast<int>(impl_->message.attachments.size());
}

Status RDOMail::Save() { return impl_->save(); }

Status MAPIUtils::HrSetOneProp(const MapiObject& object, uint32_t tag, int32_t value, bool save) {
    if (tagType(tag) != PT_LONG) return Error(err::kInvalidParameter, "The property is not a 32-bit integer.");
    return HrSetOneProp(object, Property::int32(tag, value), save);
}

Status MAPIUtils::HrSetOneProp(const MapiObject& object, const Property& value, bool save) {
    if (!object.item) return Error(err::kInvalidParameter, "No item was given.");
    if (auto s = object.item->changeable(); !s) return s;
    object.item->message.props.set(value);
    if (save) return object.item->save();
    return {};
}

// ---- store ----

EntryId RDOStore::EntryID() const { return impl_->open() ? impl_->writer().storeEntryId() : EntryId{}; }
std::string RDOStore::DisplayName() const { return impl_->displayName(); }

Status RDOStore::ValidateIPMTree() {
    if (auto s = impl_->check(); !s) return s;
    return impl_->writer().validateIpmTree();
}

Result<std::shared_ptr<RDOFolder>> RDOStore::GetDefaultFolder(int kind) {
    if (auto s = impl_->check(); !s) return std::move(s).take();
    auto role = roleOf(kind);
    if (!role) return Error(err::kInvalidParameter, "There is no default folder of kind " + std::to_string(kind) + ".");
    auto nid = impl_->writer().folderByRole(*role);
    if (!nid) return Error(err::kNotFound, "The store has no default folder of kind " + std::to_string(kind) + ".");
    return folderObject(impl_, *nid);
}

Result<std::shared_ptr<RDOFolder>> RDOStore::IPMRootFolder() {
    if (auto s = impl_->check(); !s) return std::move(s).take();
    return folderObject(impl_, *impl_->writer().folderByRole(FolderRole::IpmSubtree));
}

// ---- session ----

RDOSession::RDOSession() : impl_(std::make_shared<PstSessionImpl>()), stores_(this) {}
RDOSession::~RDOSession() { impl_->abandon(); }

Result<std::shared_ptr<RDOStore>> RDOSession::LogonPstStore(const std::string& path, int format,
                                                            const std::string& displayName, LogonOptions options) {
    if (format != olStoreUnicode) return Error(err::kNoSupport, "Only Unicode personal folder files can be created.");
    if (auto s = impl_->logon(path, displayName, options); !s) return std::move(s).take();
    return std::make_shared<RDOStore>(impl_);
}

Result<std::shared_ptr<RDOStore>> RDOSession::GetStoreFromID(const EntryId& id) {
    if (!impl_->open() || id != impl_->writer().storeEntryId())
        return Error(err::kNotFound, "The store with that entry ID is not open.");
    return std::make_shared<RDOStore>(impl_);
}

Result<std::shared_ptr<RDOStore>> RDOStores::GetStoreFromID(const EntryId& id) { return session_->GetStoreFromID(id); }

Result<std::shared_ptr<RDOFolder>> RDOSession::GetFolderFromPath(const std::string& path) {
    if (auto s = impl_->check(); !s) return std::move(s).take();
    if (path.rfind("\\\\", 0) != 0) return Error(err::kInvalidParameter, "The folder path " + path + " is not valid.");
    const std::string rest = path.substr(2);
    const std::string& store = impl_->displayName();
    if (rest.compare(0, store.size(), store) != 0 || (rest.size() > store.size() && rest[store.size()] != '\\')) {
        const std::string first = rest.substr(0, rest.find('\\'));
        return Error(err::kNotFound, "The store \"" + first + "\" is not open.");
    }
    std::vector<std::string> components;
    size_t at = store.size();
    while (at < rest.size()) {
        const size_t start = at + 1;
        size_t end = rest.find('\\', start);
        if (end == std::string::npos) end = rest.size();
        if (end > start) components.push_back(rest.substr(start, end - start));
        at = end;
    }
    return GetFolderFromComponents(store, components);
}

Result<std::shared_ptr<RDOFolder>> RDOSession::GetFolderFromComponents(const std::string& storeDisplayName,
                                                                       const std::vector<std::string>& components) {
    if (auto s = impl_->check(); !s) return std::move(s).take();
    if (storeDisplayName != impl_->displayName())
        return Error(err::kNotFound, "The store \"" + storeDisplayName + "\" is not open.");
    uint32_t nid = *impl_->writer().folderByRole(FolderRole::IpmSubtree);
    for (const std::string& c : components) {
        auto child = impl_->writer().findChild(nid, c);
        // The form callers parse: Folder "NAME" does not exist
        if (!child) return Error(err::kNotFound, "Folder \"" + c + "\" does not exist");
        nid = *child;
    }
    return folderObject(impl_, nid);
}

Status RDOSession::Logoff() { return impl_->logoff(); }

}  // namespace tavrin::store
