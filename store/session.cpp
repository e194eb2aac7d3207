// The store operations over the PST writer.
//
// A session owns one store. A new one is written into a fs::PendingFile
// for its final path, with the writer's scratch in a fs::ScratchFile beside
// it, and Logoff commits it. A failure, an abandoned session, a session
// destroyed without Logoff or a process that dies leaves neither behind;
// the final path is only ever touched by the one step that completes the
// file. An existing store that messages are added to is opened in place
// (fs::UpdateFile, held exclusively) and changed by the store updater,
// which leaves it as it was unless Logoff completes the change.
#include "store/session.h"

#include <chrono>
#include <random>

#include "fs/file_io.h"
#include "fs/text.h"
#include "fs/update_file.h"
#include "store/core/codepage.h"
#include "store/core/tags.h"
#include "store/message_files.h"
#include "store/pst/messaging/records.h"
#include "store/pst/messaging/store_updater.h"
#include "store/pst/messaging/store_writer.h"
#include "store/pst/ndb/format.h"
#include "store/pst/verify/verifier.h"

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

}  // namespace

// ---- implementation objects ----

class PstSessionImpl {
public:
    PstSessionImpl() : rng_(std::random_device{}()) {}
    ~PstSessionImpl() { abandon(); }

    Status logon(const std::string& path, const std::string& displayName, const LogonOptions& options);
    Status logoff();
    void abandon();

    bool open() const { return store_ != nullptr; }
    Status check() const {
        if (!store_) return closedStore();
        if (store_->error().failed()) return store_->error();
        if (outputFailure_.failed()) return outputFailure_;
        return {};
    }
    // check(), and whether the file could still be committed now. Its
    // folder is looked at (a system call) at most ten times a second, not
    // for each of a million small messages: a folder removed or renamed
    // still ends the conversion within a moment.
    Status checkOutput() {
        if (auto s = check(); !s) return s;
        if (!out_) return {};
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook_ < kLookEvery) return {};
        lastLook_ = now;
        if (auto s = out_->check(); !s) {
            outputFailure_ = s.error();
            return s;
        }
        return {};
    }
    m::MessageStore& writer() { return *store_; }
    const m::MessageStore& writer() const { return *store_; }
    const std::string& displayName() const { return store_ ? store_->displayName() : displayName_; }
    // The name the session was given, which folder paths may use too.
    const std::string& logonName() const { return displayName_; }
    bool adding() const { return updater_ != nullptr; }
    bool skipDuplicates() const { return adding() && !addDuplicates_; }
    std::mt19937_64& rng() { return rng_; }

private:
    Status logonNew(const std::string& path, const LogonOptions& options);
    Status logonExisting(const std::string& path);
    m::StoreOptions storeOptions();

    std::mt19937_64 rng_;
    std::string displayName_;
    bool replace_ = false;
    bool addDuplicates_ = false;
    Error outputFailure_;
    std::unique_ptr<fs::PendingFile> out_;
    static constexpr std::chrono::milliseconds kLookEvery{100};
    std::chrono::steady_clock::time_point lastLook_{};  // when checkOutput last looked at out_'s folder
    std::unique_ptr<fs::UpdateFile> file_;
    std::unique_ptr<fs::ScratchFile> spill_;
    std::unique_ptr<m::MessageStore> store_;
    m::PstUpdater* updater_ = nullptr;  // store_, when adding
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
    bool alreadyPresent = false;  // Save found it in the folder and wrote nothing
    Error failure;  // a Save that failed
    int attachments = 0;
    std::vector<std::string> warnings;  // of the last Import

    Status changeable() const {
        if (auto s = session->check(); !s) return s;
        if (saved) return Error(err::kNoSupport, "The item has been saved and can no longer be changed.");
        if (failure.failed()) return failure;
        return {};
    }
    Result<bool> present() const {
        if (auto s = session->check(); !s) return std::move(s).take();
        return session->writer().containsMessage(folder, m::MessageKeys::of(message.props));
    }
    Status save() {
        if (saved) return {};
        if (failure.failed()) return failure;
        if (auto s = session->check(); !s) return s;
        const int count = static_cast<int>(message.attachments.size());
        if (session->skipDuplicates()) {
            auto dup = present();
            if (!dup) {
                failure = std::move(dup).error();
                return failure;
            }
            if (*dup) {
                message = Message{};
                saved = true;
                alreadyPresent = true;
                attachments = count;
                return {};
            }
        }
        auto nid = session->writer().addMessage(folder, std::move(message));
        message = Message{};  // taken by the writer, saved or not
        if (!nid) {
            failure = std::move(nid).error();  // what the item held is gone: it cannot be saved again
            return failure;
        }
        saved = true;
        attachments = count;
        return {};
    }
};

namespace {

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the first bytes of a file say about adding to it ([MS-PST] 2.2.2.6:
// dwMagic "!BDN", wMagicClient "SM" for a PST, wVer 14/15 ANSI, 23
// Unicode, 36/37 Unicode with 4 KB pages).
Status sniffStore(fs::RandomAccessFile& file, const std::string& name) {
    uint8_t head[16] = {};
    if (file.size() < pst::ndb::header::kSize || !file.readAt(0, std::span<uint8_t>(head, sizeof head)) ||
        loadLE32(head) != pst::ndb::header::kMagic || loadLE16(head + 8) != pst::ndb::header::kMagicClient)
        return Error(refusal::kNotAStore, name + " is not an Outlook data file (.pst); nothing was added to it.");
    const uint16_t ver = loadLE16(head + 10);
    if (ver == pst::ndb::header::kVerAnsi14 || ver == pst::ndb::header::kVerAnsi15)
        return Error(refusal::kAnsiFile, name + " is an Outlook 97-2002 data file. Messages can only be added to an Outlook "
                                                "data file of Outlook 2003 or later; nothing was added to it.");
    if (ver == 36 || ver == 37)
        return Error(refusal::kLargePages, name + " is an Outlook data file with 4 KB pages, which messages cannot be "
                                                  "added to; nothing was added to it.");
    if (ver != pst::ndb::header::kVerUnicode)
        return Error(refusal::kNotAStore, name + " is an Outlook data file of an unknown version (" + std::to_string(ver) +
                                              "); nothing was added to it.");
    return {};
}

}  // namespace

m::StoreOptions PstSessionImpl::storeOptions() {
    m::StoreOptions so;
    so.displayName = displayName_;
    so.now = nowFiletime();
    so.random = [this](uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng_() >> 24);
    };
    so.storage = [](const StorageEntry& e) { return writeStorageAsCompoundFile(e); };
    so.ndb.dwUnique = static_cast<uint32_t>(rng_());
    return so;
}

Status PstSessionImpl::logon(const std::string& path, const std::string& displayName, const LogonOptions& options) {
    if (store_) return Error(err::kCallFailed, "A store is already open in this session.");
    if (path.empty()) return Error(err::kInvalidParameter, "No file name was given for the store.");
    outputFailure_.clear();
    displayName_ = displayName;
    addDuplicates_ = options.addDuplicates;
    if (options.addToExisting && fs::pathExists(path)) return logonExisting(path);
    // An existing file is never overwritten or changed unless asked for;
    // even then it is replaced only by Logoff's rename.
    if (fs::pathExists(path) && !options.replaceExisting)
        return Error(err::kFileExists, "The file " + path + " already exists.");
    return logonNew(path, options);
}

Status PstSessionImpl::logonNew(const std::string& path, const LogonOptions& options) {
    auto out = fs::PendingFile::create(path);
    if (!out) return std::move(out).error();
    auto spill = fs::ScratchFile::create(path);
    if (!spill) return std::move(spill).error();
    out_ = std::move(*out);
    spill_ = std::move(*spill);
    replace_ = options.replaceExisting;
    m::StoreOptions so = storeOptions();
    so.trackMessages = options.addToExisting;
    auto w = m::PstWriter::create(*out_, *spill_, std::move(so));
    if (!w) {
        abandon();
        return std::move(w).error();
    }
    store_ = std::move(*w);
    return {};
}

Status PstSessionImpl::logonExisting(const std::string& path) {
    const std::string name = fileNameOf(path);
    auto file = fs::UpdateFile::open(path);
    if (!file) {
        if (file.error().number == err::kFileInUse)
            return Error(err::kFileInUse, name + " is open in another program. Close Outlook and try again.");
        return std::move(file).error();
    }
    if (auto s = sniffStore(**file, name); !s) return s;
    auto spill = fs::ScratchFile::create(path);
    if (!spill) return std::move(spill).error();
    const m::StoreOptions so = storeOptions();
    m::UpdaterOptions uo;
    uo.now = so.now;
    uo.random = so.random;
    uo.storage = so.storage;
    // The strict verifier's checks of every node the change rewrites.
    uo.checkNode = [name](const pst::ndb::NodeDatabase& db, uint32_t nid) -> Status {
        // The structure of each node; the values its table cells name are
        // read where they are used.
        pst::verify::VerifyOptions vo;
        vo.tableCellValues = false;
        const auto found = pst::verify::verifyNodes(db.source(), std::span<const uint32_t>(&nid, 1), vo);
        if (found.empty()) return {};
        return Error(refusal::kDamaged, name + " has errors (" + found.front().text() +
                                            "); nothing was added to it. Check it with Outlook's Inbox Repair Tool.");
    };
    auto u = m::PstUpdater::open(**file, **spill, std::move(uo));
    if (!u) {
        Error e = std::move(u).error();
        if (e.number == refusal::kDamaged || e.number == err::kNoMemory) return e;
        if (e.number == err::kCorrupt || e.number == err::kNotFound || e.number == err::kNoSupport)
            return Error(refusal::kDamaged, name + " has errors (" + e.description +
                                                "); nothing was added to it. Check it with Outlook's Inbox Repair Tool.");
        return e;
    }
    // [MS-PST] 2.4.3.3: a store with a password is not opened without it.
    if ((*u)->storeProperties().getInt32(pst::messaging::PidTagPstPassword).value_or(0) != 0)
        return Error(refusal::kPassword, name + " is protected by a password; nothing was added to it.");
    file_ = std::move(*file);
    spill_ = std::move(*spill);
    updater_ = u->get();
    store_ = std::move(*u);
    return {};
}

Status PstSessionImpl::logoff() {
    if (!store_) return closedStore();
    Status s = check();
    if (s) s = store_->finish();
    (void)spill_->close();
    if (s && out_) s = out_->commit(replace_);
    if (s && file_) s = file_->close();
    if (!s) {
        Error e = std::move(s).take();
        abandon();
        return e;
    }
    store_.reset();
    updater_ = nullptr;
    out_.reset();
    file_.reset();
    spill_.reset();
    return {};
}

void PstSessionImpl::abandon() {
    // An update not completed puts the file back as it was, then lets go.
    if (updater_) updater_->abandon();
    store_.reset();
    updater_ = nullptr;
    out_.reset();  // an uncommitted file goes with its object
    file_.reset();
    spill_.reset();
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
    item->message.props.set(Property::unicode(makeTag(tags::PidTagMessageClass, PT_UNICODE), u"IPM.Note"));
    return std::make_shared<RDOMail>(std::move(item));
}

// ---- items ----

namespace {
Status importable(const ItemImpl& item, int format) {
    if (auto s = item.changeable(); !s) return s;
    // olMSG (3) and olMSGUnicode (9): a message file either way.
    if (format != olMSGUnicode && format != 9)
        return Error(err::kInvalidParameter, "Files of format " + std::to_string(format) + " cannot be imported.");
    return {};
}
}  // namespace

Status RDOMail::Import(const std::string& path, int format) {
    if (auto s = importable(*impl_, format); !s) return s;
    return Import(readMessageFile(path), format);
}

Status RDOMail::Import(Result<Message> msg, int format) {
    if (auto s = importable(*impl_, format); !s) return s;
    impl_->warnings.clear();
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

namespace {

// What a bag of properties takes in the file at most: each value once (an
// 8-bit string becomes UTF-16), with the heap, property and block overhead.
uint64_t bagEstimate(const PropertyBag& bag) {
    uint64_t n = 1024;
    for (const Property& p : bag.items()) {
        uint64_t value = p.data.size();
        for (const Bytes& b : p.multi) value += b.size() + 8;
        if (baseType(p.type()) == PT_STRING8) value *= 2;
        n += 32 + value;
    }
    return n;
}

uint64_t messageEstimate(const Message& m) {
    uint64_t n = bagEstimate(m.props) + 4096;
    for (const Recipient& r : m.recipients) n += bagEstimate(r.props) + 512;
    for (const Attachment& a : m.attachments) {
        n += bagEstimate(a.props) + 512;
        if (a.embedded) n += messageEstimate(*a.embedded);
        if (a.storage) {
            // Written back as a compound file: sectors, FAT and directory.
            std::vector<const StorageEntry*> todo{a.storage.get()};
            for (size_t i = 0; i < todo.size() && i < (size_t(1) << 20); ++i) {
                n += todo[i]->data.size() + 4096 + 128;
                for (const StorageEntry& c : todo[i]->children) todo.push_back(&c);
            }
        }
    }
    return n;
}

}  // namespace

std::string RDOMail::Subject() const {
    const Property* p = impl_->message.props.find(tags::PidTagSubject);
    if (!p) return {};
    if (p->type() == PT_UNICODE) return text::toUtf8(p->asUnicode());
    if (p->type() != PT_STRING8) return {};
    auto u = decodeCodepage(p->data, impl_->message.codepage());
    return u ? text::toUtf8(*u) : std::string(p->data.begin(), p->data.end());
}

uint64_t RDOMail::EstimatedSize() const {
    if (impl_->saved) return 0;
    // A quarter more for block trailers, data trees and sub-node B-trees,
    // and the row in the folder's contents table.
    const uint64_t raw = messageEstimate(impl_->message);
    return raw + raw / 4 + 16384;
}

const std::vector<std::string>& RDOMail::Warnings() const { return impl_->warnings; }

Result<bool> RDOMail::IsAlreadyPresent() const {
    if (impl_->saved) return impl_->alreadyPresent;
    return impl_->present();
}

bool RDOMail::WasAlreadyPresent() const { return impl_->alreadyPresent; }

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

uint64_t RDOStore::ProjectedSize() const { return impl_->open() ? impl_->writer().projectedSize() : 0; }

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
    auto names = [&](const std::string& store) {
        return !store.empty() && rest.compare(0, store.size(), store) == 0 &&
               (rest.size() == store.size() || rest[store.size()] == '\\');
    };
    // The store's own name, or (for a store added to) the one it was opened with.
    std::string store = impl_->displayName();
    if (!names(store) && names(impl_->logonName())) store = impl_->logonName();
    if (!names(store)) {
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
    if (storeDisplayName != impl_->displayName() && storeDisplayName != impl_->logonName())
        return Error(err::kNotFound, "The store \"" + storeDisplayName + "\" is not open.");
    uint32_t nid = *impl_->writer().folderByRole(FolderRole::IpmSubtree);
    for (const std::string& c : components) {
        auto child = impl_->writer().findChild(nid, c);
        if (!child) return Error(err::kNotFound, "Folder \"" + c + "\" does not exist", c);
        nid = *child;
    }
    return folderObject(impl_, nid);
}

Status RDOSession::CheckOutput() { return impl_->checkOutput(); }

Status RDOSession::Logoff() { return impl_->logoff(); }

}  // namespace tavrin::store
