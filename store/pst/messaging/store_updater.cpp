#include "store/pst/messaging/store_updater.h"

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "fs/text.h"
#include "store/core/tags.h"
#include "store/pst/ltp/heap_editor.h"
#include "store/pst/ltp/pc_writer.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/records.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/messaging/store_layout.h"

namespace tavrin::pst::messaging {

using ndb::hex;
using store::Bytes;
using store::ByteSpan;
using store::Property;
namespace t = store::tags;

namespace {

constexpr uint32_t kMaxFolders = 1000000;

// [MS-PST] 2.4.8.2.2 SUD types.
constexpr uint16_t SUDT_MSG_ADD = 0x0001, SUDT_FLD_ADD = 0x0005;

// Receive folder table columns ([MS-PST] 2.4.9 as Outlook writes it).
constexpr uint32_t kTagReceiveFolderNid = 0x66050003;
constexpr uint32_t kTagMessageClass = 0x001A001F;

Error updaterFailure(const std::string& what) { return Error(err::kCallFailed, "PST update: " + what); }
Error corrupt(const std::string& what) { return Error(err::kCorrupt, what); }

constexpr uint32_t tagOf(uint16_t id, uint16_t type) { return store::makeTag(id, type); }
Property int32(uint16_t id, int32_t v) { return Property::int32(tagOf(id, store::PT_LONG), v); }
Property boolean(uint16_t id, bool v) { return Property::boolean(tagOf(id, store::PT_BOOLEAN), v); }
Property binary(uint16_t id, ByteSpan v) { return Property::binary(tagOf(id, store::PT_BINARY), v); }
Property unicode(uint16_t id, const std::string& utf8) { return Property::unicodeUtf8(tagOf(id, store::PT_UNICODE), utf8); }

// A contents-table row in the scratch file: row id, row version, then the
// cells as tag + scalar or tag + bytes.
Bytes encodeRow(uint32_t rowId, uint32_t rowVer, const std::vector<Property>& cells) {
    store::ByteWriter w;
    w.u32(rowId);
    w.u32(rowVer);
    w.u16(static_cast<uint16_t>(cells.size()));
    for (const Property& p : cells) {
        w.u32(p.tag);
        w.u64(p.scalar);
        w.u32(static_cast<uint32_t>(p.data.size()));
        w.bytes(p.data);
    }
    return w.take();
}

bool decodeRow(ByteSpan rec, uint32_t& rowId, uint32_t& rowVer, std::vector<Property>& cells) {
    store::ByteReader r(rec);
    rowId = r.u32();
    rowVer = r.u32();
    const uint16_t n = r.u16();
    cells.clear();
    for (uint16_t i = 0; i < n && r.ok(); ++i) {
        Property p;
        p.tag = r.u32();
        p.scalar = r.u64();
        const ByteSpan d = r.bytes(r.u32());
        p.data.assign(d.begin(), d.end());
        cells.push_back(std::move(p));
    }
    return r.ok();
}

std::optional<std::u16string> unicodeOf(const store::PropertyBag& bag, uint16_t id) {
    const Property* p = bag.find(id);
    if (!p || p->type() != store::PT_UNICODE) return std::nullopt;
    return p->asUnicode();
}

void sortById(std::vector<Property>& v) {
    std::sort(v.begin(), v.end(), [](const Property& a, const Property& b) { return a.id() < b.id(); });
}

}  // namespace

PstUpdater::~PstUpdater() = default;

Status PstUpdater::fail(Error e) {
    if (!failure_.failed()) failure_ = std::move(e);
    return failure_;
}

Status PstUpdater::check() const {
    if (failure_.failed()) return failure_;
    if (finished_) return Error(err::kCallFailed, "The store has been closed.");
    return {};
}

Result<std::unique_ptr<PstUpdater>> PstUpdater::open(fs::RandomAccessFile& file, fs::FileSink& scratch,
                                                     UpdaterOptions options) {
    if (!options.random) return Error(err::kInvalidParameter, "PST update: no source of random bytes");
    std::unique_ptr<PstUpdater> u(new PstUpdater(scratch, std::move(options)));
    auto ndb = ndb::NdbUpdater::open(file, u->opt_.ndb);
    if (!ndb) return std::move(ndb).error();
    u->ndb_ = std::move(ndb).value();
    const ndb::NodeDatabase& db = u->ndb_->reader();

    auto storeNode = ndb::Node::open(db, ndb::NID_MESSAGE_STORE);
    if (!storeNode) return Error(storeNode.error()).prefixed("message store");
    auto storePc = ltp::PropertyContext::open(*storeNode);
    if (!storePc) return Error(storePc.error()).prefixed("message store");
    auto storeProps = storePc->readAll();
    if (!storeProps) return Error(storeProps.error()).prefixed("message store");
    u->storeProps_.items() = std::move(storeProps).value();
    const Property* rk = u->storeProps_.find(t::PidTagRecordKey);
    if (!rk || rk->data.size() != 16) return corrupt("message store: PidTagRecordKey is missing or not 16 bytes");
    u->recordKey_ = *store::Guid::fromSpan(rk->data);
    if (auto name = unicodeOf(u->storeProps_, t::PidTagDisplayName)) u->displayName_ = text::toUtf8(*name);

    auto names = NameMap::read(db);
    if (!names) return std::move(names).error();
    if (!names->problems().empty()) return corrupt("name-to-id map: " + names->problems().front());
    u->existingNames_ = std::move(names).value();
    u->names_ = NameMapWriter::extending(u->existingNames_);

    u->counters_.rgnid = u->ndb_->header().rgnid;
    // [MS-PST]: Outlook gives rows dwUnique values for PidTagLtpRowVer; the
    // header's dwUnique then passes them.
    u->counters_.rowVersion = u->ndb_->header().dwUnique + 1;

    if (auto s = u->loadFolders(); !s) return std::move(s).take();
    if (auto s = u->loadRoles(); !s) return std::move(s).take();

    // [MS-PST] 2.4.8.4.1 the search domain object: the folders whose
    // changes the search machinery must hear of.
    if (auto sdo = db.findNode(ndb::NID_SEARCH_DOMAIN_OBJECT); sdo && sdo->bidData != 0) {
        auto data = db.readStream(sdo->bidData);
        if (!data) return Error(data.error()).prefixed("search domain object");
        for (size_t i = 0; i + 4 <= data->size(); i += 4) u->searchDomain_.insert(store::loadLE32(data->data() + i));
    }

    // What every change touches is checked now, before anything is written.
    for (uint32_t nid : {ndb::NID_MESSAGE_STORE, ndb::NID_NAME_TO_ID_MAP})
        if (auto s = u->checkNodeOnce(nid); !s) return std::move(s).take();
    return u;
}

Status PstUpdater::loadFolders() {
    const ndb::NodeDatabase& db = ndb_->reader();
    std::deque<uint32_t> queue{ndb::NID_ROOT_FOLDER};
    std::unordered_set<uint32_t> seen;
    while (!queue.empty()) {
        const uint32_t nid = queue.front();
        queue.pop_front();
        if (!seen.insert(nid).second) return corrupt("folder " + hex(nid) + " appears twice in the folder tree");
        if (seen.size() > kMaxFolders) return corrupt("the folder tree has too many folders");
        auto info = db.findNode(nid);
        if (!info) return Error(info.error()).prefixed("folder " + hex(nid));
        auto pc = ltp::PropertyContext::open(ndb::Node(&db, nid, info->bidData, info->bidSub));
        if (!pc) return Error(pc.error()).prefixed("folder " + hex(nid));
        auto props = pc->readAll();
        if (!props) return Error(props.error()).prefixed("folder " + hex(nid));
        store::PropertyBag bag;
        bag.items() = std::move(props).value();
        FolderInfo f;
        f.nid = nid;
        f.parent = nid == ndb::NID_ROOT_FOLDER ? nid : info->nidParent;
        if (auto n = unicodeOf(bag, t::PidTagDisplayName)) f.name = text::toUtf8(*n);
        if (auto c = unicodeOf(bag, t::PidTagContainerClass)) f.containerClass = text::toUtf8(*c);
        f.contentCount = static_cast<uint32_t>(bag.getInt32(t::PidTagContentCount).value_or(0));
        f.unreadCount = static_cast<uint32_t>(bag.getInt32(t::PidTagContentUnreadCount).value_or(0));
        if (!bag.getInt32(t::PidTagContentCount) || !bag.getInt32(t::PidTagContentUnreadCount) || !bag.getBool(t::PidTagSubfolders))
            countsMissing_.insert(nid);
        if (ndb::nidType(nid) == ndb::NID_TYPE_NORMAL_FOLDER) {
            auto h = ndb::Node::open(db, hierarchyTableNid(nid));
            if (!h) return Error(h.error()).prefixed("folder " + hex(nid) + ": hierarchy table");
            auto tc = ltp::TableContext::open(*h);
            if (!tc) return Error(tc.error()).prefixed("folder " + hex(nid) + ": hierarchy table");
            for (uint32_t i = 0; i < tc->rowCount(); ++i) {
                const uint32_t c = tc->rowId(i);
                const uint8_t type = ndb::nidType(c);
                if (type != ndb::NID_TYPE_NORMAL_FOLDER && type != ndb::NID_TYPE_SEARCH_FOLDER) continue;
                f.children.push_back(c);
                queue.push_back(c);
            }
        }
        folders_.emplace(nid, std::move(f));
    }
    folders_[ndb::NID_ROOT_FOLDER].role = FolderRole::Root;
    return {};
}

Status PstUpdater::loadRoles() {
    const ndb::NodeDatabase& db = ndb_->reader();
    auto assign = [&](std::optional<uint32_t> nid, FolderRole role) {
        if (!nid || folderByRole(role)) return;
        auto it = folders_.find(*nid);
        if (it == folders_.end() || it->second.role != FolderRole::None) return;
        it->second.role = role;
    };
    auto entryIdOf = [&](const store::PropertyBag& bag, uint16_t id) -> std::optional<uint32_t> {
        const Property* p = bag.find(id);
        if (!p || p->type() != store::PT_BINARY) return std::nullopt;
        return nidFromEntryId(p->data);
    };
    // [MS-PST] 2.4.3.1: the store's entries.
    const std::pair<uint16_t, FolderRole> storeEntries[] = {
        {PidTagIpmSubTreeEntryId, FolderRole::IpmSubtree},   {PidTagIpmOutboxEntryId, FolderRole::Outbox},
        {PidTagIpmWastebasketEntryId, FolderRole::DeletedItems}, {PidTagIpmSentMailEntryId, FolderRole::SentItems},
        {PidTagViewsEntryId, FolderRole::Views},             {PidTagCommonViewsEntryId, FolderRole::CommonViews},
        {PidTagFinderEntryId, FolderRole::SearchRoot}};
    for (const auto& [id, role] : storeEntries) assign(entryIdOf(storeProps_, id), role);
    if (!folderByRole(FolderRole::IpmSubtree)) return corrupt("message store: PidTagIpmSubTreeEntryId names no folder of the store");
    if (folders_.count(NID_SPAM_SEARCH_FOLDER)) assign(NID_SPAM_SEARCH_FOLDER, FolderRole::SpamSearch);

    // The Inbox: the folder that receives IPM.Note, else IPM, else every
    // class ([MS-OXCSTOR] receive folders; [MS-PST] 2.4.9 receive folder
    // table).
    if (auto node = ndb::Node::open(db, 0x62B)) {
        auto tc = ltp::TableContext::open(*node);
        if (!tc) return Error(tc.error()).prefixed("receive folder table");
        const ltp::TCOLDESC* cls = tc->column(kTagMessageClass);
        const ltp::TCOLDESC* fld = tc->column(kTagReceiveFolderNid);
        int best = -1;
        std::optional<uint32_t> inbox;
        for (uint32_t i = 0; cls && fld && i < tc->rowCount(); ++i) {
            auto c = tc->cell(i, *cls);
            auto f = tc->cell(i, *fld);
            if (!c || !f || !*f) continue;
            const std::u16string name = *c ? (*c)->asUnicode() : std::u16string();
            const int rank = name == u"IPM.Note" ? 3 : name == u"IPM" ? 2 : name.empty() ? 1 : 0;
            const uint32_t nid = static_cast<uint32_t>((*f)->scalar);
            if (rank > best && nid != ndb::NID_ROOT_FOLDER && ndb::nidType(nid) == ndb::NID_TYPE_NORMAL_FOLDER &&
                folders_.count(nid) && nid != *folderByRole(FolderRole::IpmSubtree)) {
                best = rank;
                inbox = nid;
            }
        }
        assign(inbox, FolderRole::Inbox);
    }
    // [MS-OXOSFLD] 2.2.4: the other special folders on the root folder (and
    // the Inbox).
    std::vector<uint32_t> holders{ndb::NID_ROOT_FOLDER};
    if (auto inbox = folderByRole(FolderRole::Inbox)) holders.push_back(*inbox);
    for (uint32_t holder : holders) {
        auto info = db.findNode(holder);
        if (!info) continue;
        auto pc = ltp::PropertyContext::open(ndb::Node(&db, holder, info->bidData, info->bidSub));
        if (!pc) continue;
        auto props = pc->readAll();
        if (!props) continue;
        store::PropertyBag bag;
        bag.items() = std::move(props).value();
        const std::pair<uint16_t, FolderRole> entries[] = {
            {PidTagIpmAppointmentEntryId, FolderRole::Calendar}, {PidTagIpmContactEntryId, FolderRole::Contacts},
            {PidTagIpmJournalEntryId, FolderRole::Journal},       {PidTagIpmNoteEntryId, FolderRole::Notes},
            {PidTagIpmTaskEntryId, FolderRole::Tasks},            {PidTagIpmDraftsEntryId, FolderRole::Drafts}};
        for (const auto& [id, role] : entries) assign(entryIdOf(bag, id), role);
        if (const Property* ren = bag.findTag(tagOf(PidTagAdditionalRenEntryIds, store::MV_FLAG | store::PT_BINARY))) {
            if (ren->multi.size() > 4) assign(nidFromEntryId(ren->multi[4]), FolderRole::JunkEmail);
        }
        if (const Property* ex = bag.find(PidTagAdditionalRenEntryIdsEx); ex && ex->type() == store::PT_BINARY) {
            // PersistData blocks: PersistID, DataSize, then elements of
            // ElementID, ElementDataSize, data; RSF_PID_RSS_SUBSCRIPTION
            // 0x8001 holds the RSS folder's entry id (RSF_ELID_ENTRYID 1).
            store::ByteReader r(ex->data);
            for (int guard = 0; guard < 64 && r.ok() && r.remaining() >= 4; ++guard) {
                const uint16_t pid = r.u16(), size = r.u16();
                if (pid == 0 || !r.ok()) break;
                const ByteSpan block = r.bytes(size);
                store::ByteReader e(block);
                while (e.ok() && e.remaining() >= 4) {
                    const uint16_t eid = e.u16(), esize = e.u16();
                    const ByteSpan v = e.bytes(esize);
                    const Bytes value(v.begin(), v.end());
                    if (pid == 0x8001 && eid == 0x0001 && e.ok()) assign(nidFromEntryId(value), FolderRole::RssFeeds);
                }
            }
        }
    }
    return {};
}

Status PstUpdater::checkNodeOnce(uint32_t nid) {
    if (!opt_.checkNode || !checked_.insert(nid).second) return {};
    if (auto s = opt_.checkNode(ndb_->reader(), nid); !s) {
        checked_.erase(nid);
        return s;
    }
    return {};
}

// The nodes of an existing folder that a change rewrites: its property
// context and tables, which must pass the checks, and counts that agree
// with the tables.
Status PstUpdater::checkFolder(uint32_t nid) {
    FolderState& st = state_[nid];
    if (st.fresh || st.checked) return {};
    for (uint32_t n : {nid, hierarchyTableNid(nid), contentsTableNid(nid)})
        if (auto s = checkNodeOnce(n); !s) return s;
    const ndb::NodeDatabase& db = ndb_->reader();
    FolderInfo& f = folders_.at(nid);
    auto table = contentsOf(nid);
    if (!table) return std::move(table).error();
    const ltp::TableContext* tc = table->get();
    if (countsMissing_.count(nid)) {
        // Counts Outlook did not store (some of its files leave them out):
        // taken from the table, so that the ones written are right.
        f.contentCount = tc->rowCount();
        f.unreadCount = 0;
        const ltp::TCOLDESC* flags = tc->column(tagOf(t::PidTagMessageFlags, store::PT_LONG));
        for (uint32_t i = 0; i < tc->rowCount(); ++i) {
            std::optional<Property> v;
            if (flags)
                if (auto c = tc->cell(i, *flags); c && *c) v = **c;
            if (!v) {
                auto msg = ndb::Node::open(db, tc->rowId(i));
                if (!msg) continue;
                auto pc = ltp::PropertyContext::open(*msg);
                if (!pc) return Error(pc.error()).prefixed("message " + hex(tc->rowId(i)));
                for (const ltp::PropEntry& e : pc->entries())
                    if (e.wPropId == t::PidTagMessageFlags && e.wPropType == store::PT_LONG) v = Property::int32(0, static_cast<int32_t>(e.dwValueHnid));
            }
            if (!v || !(v->scalar & t::MSGFLAG_READ)) ++f.unreadCount;
        }
    } else if (tc->rowCount() != f.contentCount) {
        return corrupt("folder \"" + f.name + "\": PidTagContentCount " + std::to_string(f.contentCount) + " with " +
                       std::to_string(tc->rowCount()) + " contents rows");
    }
    st.hadChildren = !f.children.empty();
    st.checked = true;
    return {};
}

// A folder's contents table as the file has it, read once for the checks
// and the duplicate index.
Result<std::shared_ptr<const ltp::TableContext>> PstUpdater::contentsOf(uint32_t nid) {
    FolderState& st = state_[nid];
    if (!st.contents) {
        auto node = ndb::Node::open(ndb_->reader(), contentsTableNid(nid));
        if (!node) return std::move(node).error();
        auto tc = ltp::TableContext::open(*node);
        if (!tc) return std::move(tc).error();
        st.contents = std::make_shared<const ltp::TableContext>(std::move(tc).value());
    }
    return st.contents;
}

Result<ndb::NodeInfo> PstUpdater::tableOf(uint32_t tableNid, uint32_t templateNid) {
    auto cur = ndb_->node(tableNid);
    if (!cur) return std::move(cur).error();
    if (*cur) return **cur;
    auto tmpl = ndb_->node(templateNid);
    if (!tmpl) return std::move(tmpl).error();
    if (!*tmpl || (*tmpl)->bidData == 0) return corrupt("the table template " + hex(templateNid) + " is missing");
    return **tmpl;
}

Status PstUpdater::prepareFolder(uint32_t nid) {
    FolderState& st = state_[nid];
    if (st.prepared) return {};
    if (auto s = checkFolder(nid); !s) return s;
    const FolderInfo& f = folders_.at(nid);
    // The folder's row in its parent's hierarchy table changes with it.
    if (f.parent != nid && !state_[f.parent].fresh)
        if (auto s = checkNodeOnce(hierarchyTableNid(f.parent)); !s) return s;
    auto table = tableOf(contentsTableNid(nid), ndb::NID_CONTENTS_TABLE_TEMPLATE);
    if (!table) return std::move(table).error();
    auto heap = ltp::HeapEditor::open(*ndb_, table->bidData);
    if (!heap) return std::move(heap).error();
    auto infoBytes = heap->get(heap->userRoot());
    if (!infoBytes) return std::move(infoBytes).error();
    auto info = ltp::TCINFO::decode(*infoBytes);
    if (!info) return std::move(info).error();
    st.columns.clear();
    for (const auto& c : info->cols)
        if (c.tag != ltp::PidTagLtpRowId && c.tag != ltp::PidTagLtpRowVer) st.columns.push_back(c.tag);
    st.prepared = true;
    return {};
}

Result<uint32_t> PstUpdater::newNid(uint8_t type, bool folderTables) {
    for (int tries = 0; tries < 4096; ++tries) {
        if (counters_.rgnid[type] >= 0x7FFFFF0) return Error(err::kTooBig, "The store cannot hold more items of this kind.");
        const uint32_t nid = counters_.newNid(type);
        std::vector<uint32_t> all{nid};
        if (folderTables)
            for (uint32_t n : {hierarchyTableNid(nid), contentsTableNid(nid), assocContentsTableNid(nid)}) all.push_back(n);
        bool free = true;
        for (uint32_t n : all) {
            if (nidsInUse_.count(n)) free = false;
            auto existing = ndb_->node(n);
            if (!existing) return std::move(existing).error();
            if (*existing) free = false;
        }
        if (!free) continue;
        nidsInUse_.insert(all.begin(), all.end());
        return nid;
    }
    return updaterFailure("no free node id");
}

Status PstUpdater::queueSud(uint16_t type, uint32_t parent, uint32_t child) {
    if (!searchDomain_.count(parent)) return {};
    // [MS-PST] 2.4.8.2.2 SUD: wFlags, wSUDType, then (for message and
    // folder additions) the parent's NID and the new object's, in 16 bytes.
    uint8_t sud[20] = {};
    store::storeLE16(sud + 2, type);
    store::storeLE32(sud + 4, parent);
    store::storeLE32(sud + 8, child);
    suds_.insert(suds_.end(), sud, sud + sizeof sud);
    return {};
}

uint32_t PstUpdater::createFolder(uint32_t parent, FolderRole role, const std::string& name, const std::string& cls,
                                  std::optional<std::string> comment, bool hiddenCounts) {
    FolderInfo f;
    f.nid = 0;
    auto nid = newNid(ndb::NID_TYPE_NORMAL_FOLDER, true);
    if (!nid) {
        (void)fail(std::move(nid).error());
        return 0;
    }
    f.nid = *nid;
    f.parent = parent;
    f.role = role;
    f.name = name;
    f.containerClass = cls;
    f.comment = std::move(comment);
    f.hiddenCounts = hiddenCounts;
    folders_.emplace(f.nid, f);
    folders_[parent].children.push_back(f.nid);
    FolderState& st = state_[f.nid];
    st.fresh = true;
    st.checked = true;
    state_[parent].newChildren.push_back(f.nid);
    (void)queueSud(SUDT_FLD_ADD, parent, f.nid);
    return f.nid;
}

Result<uint32_t> PstUpdater::addFolder(uint32_t parent, const std::string& name, const std::string& containerClass) {
    if (auto s = check(); !s) return std::move(s).take();
    const FolderInfo* p = folder(parent);
    if (!p || ndb::nidType(parent) != ndb::NID_TYPE_NORMAL_FOLDER) return Error(err::kNotFound, "The parent folder does not exist.");
    if (name.empty()) return Error(err::kInvalidParameter, "A folder needs a name.");
    if (findChild(parent, name)) return Error(err::kCollision, "A folder named \"" + name + "\" already exists.");
    if (auto s = checkFolder(parent); !s) return std::move(s).take();
    if (p->parent != parent && !state_[p->parent].fresh)
        if (auto s = checkNodeOnce(hierarchyTableNid(p->parent)); !s) return std::move(s).take();
    const uint32_t nid = createFolder(parent, FolderRole::None, name, containerClass, std::nullopt, true);
    if (failure_.failed()) return failure_;
    return nid;
}

Status PstUpdater::validateIpmTree() {
    if (auto s = check(); !s) return s;
    const uint32_t ipm = *folderByRole(FolderRole::IpmSubtree);
    for (const StandardFolder& sf : kStandardFolders) {
        if (folderByRole(sf.role)) continue;
        const uint32_t parent = sf.underRoot ? ndb::NID_ROOT_FOLDER : ipm;
        if (auto existing = findChild(parent, sf.name); existing && folders_[*existing].role == FolderRole::None &&
                                                        ndb::nidType(*existing) == ndb::NID_TYPE_NORMAL_FOLDER) {
            // A folder of that name becomes the default one.
            folders_[*existing].role = sf.role;
            recordedRoles_.push_back(sf.role);
            continue;
        }
        if (auto s = checkFolder(parent); !s) return s;
        createFolder(parent, sf.role, sf.name, sf.containerClass, std::string(sf.comment), false);
        if (failure_.failed()) return failure_;
        recordedRoles_.push_back(sf.role);
    }
    return {};
}

Result<uint32_t> PstUpdater::addMessage(uint32_t folderNid, store::Message&& message) {
    if (auto s = check(); !s) return std::move(s).take();
    auto it = folders_.find(folderNid);
    if (it == folders_.end() || ndb::nidType(folderNid) != ndb::NID_TYPE_NORMAL_FOLDER)
        return Error(err::kNotFound, "The folder does not exist.");
    if (auto s = prepareFolder(folderNid); !s) return std::move(s).take();
    FolderState& st = state_[folderNid];
    auto nid = newNid(ndb::NID_TYPE_NORMAL_MESSAGE);
    if (!nid) return std::move(nid).error();
    const MessageKeys keys = MessageKeys::of(message.props);
    MessageContext ctx{*ndb_, names_, counters_, opt_.now, opt_.random, opt_.storage};
    auto w = writeMessage(ctx, std::move(message), st.columns);
    if (!w) {
        if (ndb_->error().failed()) return fail(ndb_->error()).error();
        return std::move(w).error();
    }
    ndb_->setNode(ndb::NodeEntry{*nid, w->bidData, w->bidSub, folderNid});
    if (!st.rows) st.rows = spill_.newStream();
    const Bytes row = encodeRow(*nid, ++counters_.rowVersion, w->row);
    if (auto s = spill_.append(*st.rows, row); !s) return fail(s.error()).error();
    ++st.added;
    ++it->second.contentCount;
    if (!(w->flags & t::MSGFLAG_READ)) {
        ++st.addedUnread;
        ++it->second.unreadCount;
    }
    if (st.index) st.index->add(keys);
    else st.pendingKeys.push_back(keys);
    if (auto s = queueSud(SUDT_MSG_ADD, folderNid, *nid); !s) return std::move(s).take();
    ++messages_;
    return *nid;
}

// The keys of a folder's messages, from its contents table where it has
// the columns, else from the messages.
Status PstUpdater::loadIndex(uint32_t nid) {
    FolderState& st = state_[nid];
    if (st.index) return {};
    DuplicateIndex idx;
    if (!st.fresh) {
        const ndb::NodeDatabase& db = ndb_->reader();
        auto table = contentsOf(nid);
        if (!table) return std::move(table).error();
        const ltp::TableContext* tc = table->get();
        std::optional<uint32_t> digestTag;
        if (auto id = existingNames_.idOf(sourceDigestName())) digestTag = tagOf(*id, store::PT_BINARY);
        const ltp::TCOLDESC* cDigest = digestTag ? tc->column(*digestTag) : nullptr;
        const ltp::TCOLDESC* cId = tc->column(tagOf(PidTagInternetMessageId, store::PT_UNICODE));
        const ltp::TCOLDESC* cTime = tc->column(tagOf(t::PidTagClientSubmitTime, store::PT_SYSTIME));
        const ltp::TCOLDESC* cKey = tc->column(tagOf(t::PidTagSearchKey, store::PT_BINARY));
        const bool fromRows = (cDigest || !digestTag) && cId && cTime && cKey;
        for (uint32_t i = 0; i < tc->rowCount(); ++i) {
            MessageKeys k;
            if (fromRows) {
                auto get = [&](const ltp::TCOLDESC* c) -> std::optional<Property> {
                    if (!c) return std::nullopt;
                    auto v = tc->cell(i, *c);
                    return v && *v ? std::optional<Property>(**v) : std::nullopt;
                };
                if (auto v = get(cDigest); v && !v->data.empty()) k.sourceDigest = v->data;
                if (auto v = get(cId); v && !v->data.empty()) k.internetMessageId = v->asUnicode();
                if (auto v = get(cTime)) k.submitTime = v->scalar;
                if (auto v = get(cKey); v && !v->data.empty()) k.searchKey = v->data;
            } else {
                auto msg = ndb::Node::open(db, tc->rowId(i));
                if (!msg) continue;  // the verifier reports a row without its message
                auto pc = ltp::PropertyContext::open(*msg);
                if (!pc) return Error(pc.error()).prefixed("message " + hex(tc->rowId(i)));
                store::PropertyBag bag;
                for (const ltp::PropEntry& e : pc->entries()) {
                    const uint32_t tag = tagOf(e.wPropId, e.wPropType);
                    const bool wanted = (digestTag && tag == *digestTag) || e.wPropId == PidTagInternetMessageId ||
                                        e.wPropId == t::PidTagClientSubmitTime || e.wPropId == t::PidTagSearchKey;
                    if (!wanted) continue;
                    auto p = pc->read(e);
                    if (!p) continue;
                    if (digestTag && tag == *digestTag) p->name = sourceDigestName();
                    bag.items().push_back(std::move(p).value());
                }
                k = MessageKeys::of(bag);
            }
            idx.add(k);
        }
    }
    for (const MessageKeys& k : st.pendingKeys) idx.add(k);
    st.pendingKeys.clear();
    st.index = std::move(idx);
    return {};
}

Result<bool> PstUpdater::containsMessage(uint32_t nid, const MessageKeys& keys) {
    if (auto s = check(); !s) return std::move(s).take();
    if (!folder(nid) || ndb::nidType(nid) != ndb::NID_TYPE_NORMAL_FOLDER) return Error(err::kNotFound, "The folder does not exist.");
    if (auto s = loadIndex(nid); !s) return std::move(s).take();
    return state_[nid].index->contains(keys);
}

std::vector<Property> PstUpdater::folderProperties(const FolderInfo& f) const {
    std::vector<Property> v;
    v.push_back(unicode(t::PidTagDisplayName, f.name));
    if (f.comment) v.push_back(unicode(t::PidTagComment, *f.comment));
    v.push_back(int32(t::PidTagContentCount, static_cast<int32_t>(f.contentCount)));
    v.push_back(int32(t::PidTagContentUnreadCount, static_cast<int32_t>(f.unreadCount)));
    v.push_back(boolean(t::PidTagSubfolders, !f.children.empty()));
    if (!f.containerClass.empty()) v.push_back(unicode(t::PidTagContainerClass, f.containerClass));
    if (f.hiddenCounts) {
        v.push_back(int32(PidTagPstHiddenCount, 0));
        v.push_back(int32(PidTagPstHiddenUnread, 0));
    }
    for (const Property& p : f.extra) {
        std::erase_if(v, [&](const Property& q) { return q.id() == p.id(); });
        v.push_back(p);
    }
    sortById(v);
    return v;
}

Result<std::pair<uint64_t, uint64_t>> PstUpdater::writePc(const std::vector<Property>& props) {
    return writePropertyContext(*ndb_, props, [this] { return counters_.newNid(ndb::NID_TYPE_LTP); });
}

Status PstUpdater::editPc(uint32_t nid, const std::vector<Property>& props) {
    if (props.empty()) return {};
    if (auto s = checkNodeOnce(nid); !s) return s;
    auto cur = ndb_->node(nid);
    if (!cur) return std::move(cur).error();
    if (!*cur) return corrupt("node " + hex(nid) + " is missing");
    auto heap = ltp::HeapEditor::open(*ndb_, (*cur)->bidData);
    if (!heap) return std::move(heap).error();
    if (auto s = ltp::setPcProperties(*heap, props); !s) return s;
    auto data = heap->commit();
    if (!data) return std::move(data).error();
    ndb_->setNode(ndb::NodeEntry{nid, *data, (*cur)->bidSub, (*cur)->nidParent});
    return {};
}

// The default folders validateIpmTree() added, recorded where Outlook
// looks for them: the store's entries and valid-folder mask, the root
// folder's and the Inbox's entries, the receive folder table.
Status PstUpdater::writeDefaultFolderEntries() {
    if (recordedRoles_.empty()) return {};
    auto recorded = [&](FolderRole r) { return std::find(recordedRoles_.begin(), recordedRoles_.end(), r) != recordedRoles_.end(); };
    std::vector<Property> storeChanges;
    int32_t mask = storeProps_.getInt32(PidTagValidFolderMask).value_or(0);
    const std::tuple<uint16_t, FolderRole, int32_t> storeEntries[] = {
        {PidTagIpmOutboxEntryId, FolderRole::Outbox, FOLDER_IPM_OUTBOX_VALID},
        {PidTagIpmSentMailEntryId, FolderRole::SentItems, FOLDER_IPM_SENTMAIL_VALID},
        {PidTagViewsEntryId, FolderRole::Views, FOLDER_VIEWS_VALID}};
    for (const auto& [id, role, bit] : storeEntries)
        if (recorded(role)) {
            storeChanges.push_back(binary(id, entryId(*folderByRole(role))));
            mask |= bit;
        }
    if (recorded(FolderRole::Inbox)) mask |= FOLDER_IPM_INBOX_VALID;
    if (mask != storeProps_.getInt32(PidTagValidFolderMask).value_or(0)) storeChanges.push_back(int32(PidTagValidFolderMask, mask));
    sortById(storeChanges);
    if (auto s = editPc(ndb::NID_MESSAGE_STORE, storeChanges); !s) return s;

    // [MS-OXOSFLD] 2.2.4 on the root folder and the Inbox.
    std::vector<Property> holderChanges;
    const std::pair<uint16_t, FolderRole> ids[] = {
        {PidTagIpmAppointmentEntryId, FolderRole::Calendar}, {PidTagIpmContactEntryId, FolderRole::Contacts},
        {PidTagIpmJournalEntryId, FolderRole::Journal},       {PidTagIpmNoteEntryId, FolderRole::Notes},
        {PidTagIpmTaskEntryId, FolderRole::Tasks},            {PidTagIpmDraftsEntryId, FolderRole::Drafts}};
    for (const auto& [id, role] : ids)
        if (recorded(role)) holderChanges.push_back(binary(id, entryId(*folderByRole(role))));
    if (recorded(FolderRole::JunkEmail)) {
        // PidTagAdditionalRenEntryIds: Conflicts, Sync Issues, Local
        // Failures, Server Failures, Junk E-mail, and one more slot.
        std::vector<Bytes> e(6);
        e[4] = entryId(*folderByRole(FolderRole::JunkEmail));
        Property p;
        p.tag = tagOf(PidTagAdditionalRenEntryIds, store::MV_FLAG | store::PT_BINARY);
        p.data = ltp::encodeMultiValue(p.type(), e);
        holderChanges.push_back(std::move(p));
    }
    if (recorded(FolderRole::RssFeeds)) {
        store::ByteWriter w;
        w.u16(0x8001);
        w.u16(4 + 24);
        w.u16(0x0001);
        w.u16(24);
        w.bytes(entryId(*folderByRole(FolderRole::RssFeeds)));
        w.u32(0);
        holderChanges.push_back(binary(PidTagAdditionalRenEntryIdsEx, w.buffer()));
    }
    sortById(holderChanges);
    std::vector<uint32_t> holders{ndb::NID_ROOT_FOLDER};
    if (auto inbox = folderByRole(FolderRole::Inbox)) holders.push_back(*inbox);
    for (uint32_t h : holders) {
        if (holderChanges.empty()) break;
        if (state_[h].fresh) {
            for (const Property& p : holderChanges) folders_[h].extra.push_back(p);
        } else {
            auto& changes = state_[h].pcChanges;
            changes.insert(changes.end(), holderChanges.begin(), holderChanges.end());
        }
    }

    // The receive folder table: the Inbox receives every class but IPC.
    if (recorded(FolderRole::Inbox)) {
        if (auto s = checkNodeOnce(0x62B); !s) return s;
        const uint32_t inbox = *folderByRole(FolderRole::Inbox);
        auto node = ndb_->node(0x62B);
        if (!node) return std::move(node).error();
        if (!*node) return {};
        const ndb::NodeDatabase& db = ndb_->reader();
        auto tc = ltp::TableContext::open(ndb::Node(&db, 0x62B, (*node)->bidData, (*node)->bidSub));
        if (!tc) return std::move(tc).error();
        const ltp::TCOLDESC* cls = tc->column(kTagMessageClass);
        if (!cls || !tc->column(kTagReceiveFolderNid)) return {};
        std::map<std::u16string, uint32_t> rows;  // class -> row id
        uint32_t topId = 0;
        for (uint32_t i = 0; i < tc->rowCount(); ++i) {
            topId = std::max(topId, tc->rowId(i));
            auto c = tc->cell(i, *cls);
            if (c && *c) rows[(*c)->asUnicode()] = tc->rowId(i);
        }
        auto editor = ltp::TableEditor::open(*ndb_, (*node)->bidData, (*node)->bidSub);
        if (!editor) return std::move(editor).error();
        for (const auto& [name, target] : std::vector<std::pair<std::u16string, uint32_t>>{
                 {u"", inbox}, {u"IPM", inbox}, {u"Report.IPM", inbox}, {u"IPC", ndb::NID_ROOT_FOLDER}}) {
            std::vector<Property> cells{Property::int32(kTagReceiveFolderNid, static_cast<int32_t>(target)),
                                        Property::unicode(kTagMessageClass, name)};
            if (auto it = rows.find(name); it != rows.end()) {
                if (name == u"IPC") continue;
                cells.pop_back();
                if (auto s = editor->setCells(it->second, ++counters_.rowVersion, cells); !s) return s;
            } else if (auto s = editor->appendRow(++topId, ++counters_.rowVersion, cells); !s) {
                return s;
            }
        }
        auto written = editor->commit();
        if (!written) return std::move(written).error();
        ndb_->setNode(ndb::NodeEntry{0x62B, written->first, written->second, (*node)->nidParent});
    }
    return {};
}

Status PstUpdater::writeFolders() {
    // Contents tables: the rows waiting in the scratch file.
    for (auto& [nid, st] : state_) {
        if (!st.rows) continue;
        auto table = tableOf(contentsTableNid(nid), ndb::NID_CONTENTS_TABLE_TEMPLATE);
        if (!table) return std::move(table).error();
        auto editor = ltp::TableEditor::open(*ndb_, table->bidData, table->bidSub);
        if (!editor) return std::move(editor).error();
        auto reader = spill_.read(*st.rows);
        Bytes rec;
        std::vector<Property> cells;
        for (;;) {
            auto more = reader.next(rec);
            if (!more) return std::move(more).error();
            if (!*more) break;
            uint32_t rowId = 0, rowVer = 0;
            if (!decodeRow(rec, rowId, rowVer, cells)) return Error(err::kCorrupt, "PST update: damaged row in the scratch file");
            if (auto s = editor->appendRow(rowId, rowVer, cells); !s) return s;
        }
        auto written = editor->commit();
        if (!written) return std::move(written).error();
        ndb_->setNode(ndb::NodeEntry{contentsTableNid(nid), written->first, written->second, 0});
    }

    // Hierarchy tables: rows of new sub-folders, and the counts of the
    // sub-folders that changed.
    auto countsChanged = [&](uint32_t c) {
        auto it = state_.find(c);
        return it != state_.end() && !it->second.fresh &&
               (it->second.added > 0 || (!it->second.newChildren.empty() && !it->second.hadChildren));
    };
    for (auto& [nid, f] : folders_) {
        if (ndb::nidType(nid) != ndb::NID_TYPE_NORMAL_FOLDER) continue;
        auto st = state_.find(nid);
        const bool newRows = st != state_.end() && !st->second.newChildren.empty();
        const bool changedRows = std::any_of(f.children.begin(), f.children.end(), countsChanged);
        if (!newRows && !changedRows) continue;
        if (st == state_.end() || !st->second.fresh)
            if (auto s = checkNodeOnce(hierarchyTableNid(nid)); !s) return s;
        auto table = tableOf(hierarchyTableNid(nid), ndb::NID_HIERARCHY_TABLE_TEMPLATE);
        if (!table) return std::move(table).error();
        auto editor = ltp::TableEditor::open(*ndb_, table->bidData, table->bidSub);
        if (!editor) return std::move(editor).error();
        for (uint32_t c : f.children) {
            if (countsChanged(c)) {
                const FolderInfo& cf = folders_.at(c);
                const std::vector<Property> cells{int32(t::PidTagContentCount, static_cast<int32_t>(cf.contentCount)),
                                                  int32(t::PidTagContentUnreadCount, static_cast<int32_t>(cf.unreadCount)),
                                                  boolean(t::PidTagSubfolders, !cf.children.empty())};
                if (auto s = editor->setCells(c, ++counters_.rowVersion, cells); !s) return s;
            }
        }
        if (newRows)
            for (uint32_t c : st->second.newChildren)
                if (auto s = editor->appendRow(c, ++counters_.rowVersion, folderProperties(folders_.at(c))); !s) return s;
        auto written = editor->commit();
        if (!written) return std::move(written).error();
        ndb_->setNode(ndb::NodeEntry{hierarchyTableNid(nid), written->first, written->second, 0});
    }

    // Property contexts: new folders whole, the others' counts.
    for (auto& [nid, st] : state_) {
        const FolderInfo& f = folders_.at(nid);
        if (st.fresh) {
            auto pc = writePc(folderProperties(f));
            if (!pc) return std::move(pc).error();
            ndb_->setNode(ndb::NodeEntry{nid, pc->first, pc->second, f.parent});
            // Tables without rows share the store's template blocks, as a
            // new folder's tables do in Outlook's files.
            for (auto [table, tmpl] : {std::pair{hierarchyTableNid(nid), ndb::NID_HIERARCHY_TABLE_TEMPLATE},
                                       std::pair{contentsTableNid(nid), ndb::NID_CONTENTS_TABLE_TEMPLATE},
                                       std::pair{assocContentsTableNid(nid), ndb::NID_ASSOC_CONTENTS_TABLE_TEMPLATE}}) {
                auto cur = ndb_->node(table);
                if (!cur) return std::move(cur).error();
                if (*cur) continue;
                auto t = ndb_->node(tmpl);
                if (!t) return std::move(t).error();
                if (!*t || (*t)->bidData == 0) return corrupt("the table template " + hex(tmpl) + " is missing");
                ndb_->addRef((*t)->bidData);
                ndb_->addRef((*t)->bidSub);
                ndb_->setNode(ndb::NodeEntry{table, (*t)->bidData, (*t)->bidSub, 0});
            }
            continue;
        }
        std::vector<Property> changes = st.pcChanges;
        if (st.added > 0) {
            changes.push_back(int32(t::PidTagContentCount, static_cast<int32_t>(f.contentCount)));
            changes.push_back(int32(t::PidTagContentUnreadCount, static_cast<int32_t>(f.unreadCount)));
        }
        if (!st.newChildren.empty() && (!st.hadChildren || countsMissing_.count(nid)))
            changes.push_back(boolean(t::PidTagSubfolders, true));
        if (auto s = editPc(nid, changes); !s) return s;
    }
    return {};
}

Status PstUpdater::finish() {
    if (auto s = check(); !s) return s;
    finished_ = true;
    auto failed = [&](Error e) -> Status {
        (void)fail(std::move(e));
        ndb_->rollback();
        return failure_;
    };
    if (auto s = writeDefaultFolderEntries(); !s) return failed(s.error());
    if (auto s = writeFolders(); !s) return failed(s.error());
    if (names_.added() > 0) {
        auto map = writePc(names_.properties());
        if (!map) return failed(std::move(map).error());
        auto old = ndb_->node(ndb::NID_NAME_TO_ID_MAP);
        if (!old) return failed(std::move(old).error());
        ndb_->setNode(ndb::NodeEntry{ndb::NID_NAME_TO_ID_MAP, map->first, map->second, *old ? (*old)->nidParent : 0});
    }
    if (!suds_.empty()) {
        // [MS-PST] 2.4.8.2: the search management queue grows by the SUDs.
        auto old = ndb_->node(ndb::NID_SEARCH_MANAGEMENT_QUEUE);
        if (!old) return failed(std::move(old).error());
        if (*old) {
            Bytes queue;
            if ((*old)->bidData) {
                auto data = ndb_->reader().readStream((*old)->bidData);
                if (!data) return failed(std::move(data).error());
                queue = std::move(data).value();
            }
            queue.insert(queue.end(), suds_.begin(), suds_.end());
            auto bid = ndb_->writeStream(queue);
            if (!bid) return failed(std::move(bid).error());
            ndb_->setNode(ndb::NodeEntry{ndb::NID_SEARCH_MANAGEMENT_QUEUE, *bid, (*old)->bidSub, (*old)->nidParent});
        }
    }
    std::array<uint32_t, 32> rgnid = counters_.rgnid;
    for (uint8_t type : {ndb::NID_TYPE_HIERARCHY_TABLE, ndb::NID_TYPE_CONTENTS_TABLE, ndb::NID_TYPE_ASSOC_CONTENTS_TABLE})
        rgnid[type] = std::max(rgnid[type], rgnid[ndb::NID_TYPE_NORMAL_FOLDER]);
    if (auto s = ndb_->commit(rgnid, counters_.rowVersion + 1); !s) return failed(s.error());
    return {};
}

uint64_t PstUpdater::projectedSize() const {
    // As the new-file writer estimates it: the rows waiting take about their
    // size again in the tables, twice that covers pages and trailers; each
    // new folder and the rewritten B-tree paths stay under the fixed part.
    constexpr uint64_t kFixed = 512 * 1024;
    uint64_t fresh = 0;
    for (const auto& [nid, st] : state_)
        if (st.fresh) ++fresh;
    return ndb_->fileEnd() + 2 * spill_.bytes() + 4096 * fresh + kFixed;
}

void PstUpdater::abandon() {
    (void)fail(Error(err::kCancelled, "The change was given up."));
    ndb_->rollback();
}

}  // namespace tavrin::pst::messaging
