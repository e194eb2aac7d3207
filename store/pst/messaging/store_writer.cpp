#include "store/pst/messaging/store_writer.h"

#include <algorithm>

#include "fs/text.h"
#include "store/core/tags.h"
#include "store/pst/ltp/pc_writer.h"
#include "store/pst/ltp/tc_writer.h"
#include "store/pst/messaging/records.h"
#include "store/pst/messaging/store_layout.h"
#include "store/pst/messaging/templates.h"

namespace tavrin::pst::messaging {

using store::Bytes;
using store::ByteSpan;
using store::Property;
using store::storeLE32;
namespace t = store::tags;

namespace {

constexpr uint32_t tagOf(uint16_t id, uint16_t type) { return store::makeTag(id, type); }

Property unicode(uint16_t id, const std::string& utf8) {
    return Property::unicodeUtf8(tagOf(id, store::PT_UNICODE), utf8);
}
Property int32(uint16_t id, int32_t v) { return Property::int32(tagOf(id, store::PT_LONG), v); }
Property boolean(uint16_t id, bool v) { return Property::boolean(tagOf(id, store::PT_BOOLEAN), v); }
Property binary(uint16_t id, ByteSpan v) { return Property::binary(tagOf(id, store::PT_BINARY), v); }

void sortById(std::vector<Property>& v) {
    std::sort(v.begin(), v.end(), [](const Property& a, const Property& b) { return a.id() < b.id(); });
}

Error writerFailure(const std::string& what) { return Error(err::kCallFailed, "PST writer: " + what); }

// A contents-table row in the scratch file: row id, row version, then the
// cells as tag + scalar or tag + bytes.
Bytes encodeRow(uint32_t rowId, uint32_t rowVer, const std::vector<Property>& cells) {
    auto scalar = [](const Property& p) {
        return ltp::TcSchema::cellSize(p.type()) != 4 || (!store::isMultiValued(p.type()) && store::fixedSize(p.type()) == 4);
    };
    size_t size = 10;
    for (const Property& p : cells) size += 5 + (scalar(p) ? 8 : 4 + p.data.size());
    store::ByteWriter w(size);
    w.u32(rowId);
    w.u32(rowVer);
    w.u16(static_cast<uint16_t>(cells.size()));
    for (const Property& p : cells) {
        w.u32(p.tag);
        if (scalar(p)) {
            w.u8(0);
            w.u64(p.scalar);
        } else {
            w.u8(1);
            w.u32(static_cast<uint32_t>(p.data.size()));
            w.bytes(p.data);
        }
    }
    return w.take();
}

}  // namespace

std::u16string foldFolderName(std::u16string s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) c = static_cast<char16_t>(c + 0x20);
        else if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
            c = static_cast<char16_t>(c | 1);
        else if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && (c & 1))
            c = static_cast<char16_t>(c + 1);
        else if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0x410 && c <= 0x42F) c = static_cast<char16_t>(c + 0x20);
        else if (c >= 0x400 && c <= 0x40F) c = static_cast<char16_t>(c + 0x50);
    }
    return s;
}

PstWriter::PstWriter(fs::FileSink& out, fs::FileSink& scratch, StoreOptions options)
    : out_(out), opt_(std::move(options)), spill_(scratch) {}

PstWriter::~PstWriter() = default;

Result<std::unique_ptr<PstWriter>> PstWriter::create(fs::FileSink& out, fs::FileSink& scratch, StoreOptions options) {
    if (!options.random) return Error(err::kInvalidParameter, "PST writer: no source of random bytes");
    std::unique_ptr<PstWriter> w(new PstWriter(out, scratch, std::move(options)));
    w->counters_ = Counters::forNewFile();
    w->ndb_ = std::make_unique<ndb::NdbWriter>(out, w->opt_.ndb);
    w->nodeStream_ = w->spill_.newStream();
    w->opt_.random(w->recordKey_.b.data(), 16);
    w->opt_.random(w->replicaGuid_.b.data(), 16);
    w->contentsColumns_.assign(columns::kContents.begin(), columns::kContents.end());
    w->contentsColumns_.push_back(store::makeTag(PidTagInternetMessageId, store::PT_UNICODE));
    w->contentsColumns_.push_back(store::makeTag(t::PidTagSearchKey, store::PT_BINARY));
    if (auto id = w->names_.idFor(sourceDigestName())) w->contentsColumns_.push_back(store::makeTag(*id, store::PT_BINARY));

    FolderInfo root;
    root.nid = ndb::NID_ROOT_FOLDER;
    root.parent = ndb::NID_ROOT_FOLDER;  // [MS-PST] 2.4.4: the root is its own parent
    root.role = FolderRole::Root;
    root.rowStream = w->spill_.newStream();
    w->folders_.emplace(root.nid, std::move(root));
    // What a new Outlook file holds ([MS-PST] 2.7.3.4; Outlook's own files).
    w->createFolder(ndb::NID_ROOT_FOLDER, FolderRole::IpmSubtree, "Top of Outlook data file", "", std::nullopt, false);
    w->createFolder(ndb::NID_ROOT_FOLDER, FolderRole::SearchRoot, "Search Root", "", std::nullopt, false);
    {
        FolderInfo spam;
        spam.nid = NID_SPAM_SEARCH_FOLDER;
        spam.parent = ndb::NID_ROOT_FOLDER;
        spam.role = FolderRole::SpamSearch;
        spam.name = "SPAM Search Folder 2";
        spam.rowStream = w->spill_.newStream();
        w->folders_.emplace(spam.nid, std::move(spam));
        w->folders_[ndb::NID_ROOT_FOLDER].children.push_back(NID_SPAM_SEARCH_FOLDER);
    }
    const uint32_t ipm = *w->folderByRole(FolderRole::IpmSubtree);
    w->createFolder(ipm, FolderRole::DeletedItems, "Deleted Items", "", std::string("Deleted Items folder"), false);
    w->createFolder(ndb::NID_ROOT_FOLDER, FolderRole::CommonViews, "IPM_COMMON_VIEWS", "", std::string(), false);
    return w;
}

Status PstWriter::check() const {
    if (failure_.failed()) return failure_;
    if (finished_) return Error(err::kCallFailed, "The store has been closed.");
    return {};
}

Status PstWriter::fail(Error e) {
    if (!failure_.failed()) failure_ = std::move(e);
    return failure_;
}

uint32_t PstWriter::createFolder(uint32_t parent, FolderRole role, const std::string& name, const std::string& cls,
                                 std::optional<std::string> comment, bool hiddenCounts, uint8_t type) {
    FolderInfo f;
    f.nid = counters_.newNid(type);
    f.parent = parent;
    f.role = role;
    f.name = name;
    f.containerClass = cls;
    f.comment = std::move(comment);
    f.hiddenCounts = hiddenCounts;
    f.rowStream = spill_.newStream();
    const uint32_t nid = f.nid;
    folders_.emplace(nid, std::move(f));
    folders_[parent].children.push_back(nid);
    return nid;
}

Result<uint32_t> PstWriter::addFolder(uint32_t parent, const std::string& name, const std::string& containerClass) {
    if (auto s = check(); !s) return std::move(s).take();
    const FolderInfo* p = folder(parent);
    if (!p || p->role == FolderRole::SpamSearch) return Error(err::kNotFound, "The parent folder does not exist.");
    if (name.empty()) return Error(err::kInvalidParameter, "A folder needs a name.");
    if (findChild(parent, name)) return Error(err::kCollision, "A folder named \"" + name + "\" already exists.");
    if (counters_.rgnid[ndb::NID_TYPE_NORMAL_FOLDER] >= 0x7FFFFFF)
        return Error(err::kTooBig, "The store cannot hold more folders.");
    return createFolder(parent, FolderRole::None, name, containerClass, std::nullopt, true);
}

Status PstWriter::validateIpmTree() {
    if (auto s = check(); !s) return s;
    const uint32_t ipm = *folderByRole(FolderRole::IpmSubtree);
    for (const StandardFolder& sf : kStandardFolders) {
        if (folderByRole(sf.role)) continue;
        const uint32_t parent = sf.underRoot ? ndb::NID_ROOT_FOLDER : ipm;
        if (auto existing = findChild(parent, sf.name)) {
            // A folder of that name made earlier becomes the default one.
            FolderInfo& f = folders_[*existing];
            if (f.role == FolderRole::None) {
                f.role = sf.role;
                continue;
            }
        }
        createFolder(parent, sf.role, sf.name, sf.containerClass, std::string(sf.comment), false);
    }
    return {};
}

namespace {
store::Message copyOf(const store::Message& m) {
    store::Message c;
    c.props = m.props;
    c.recipients = m.recipients;
    c.attachments.reserve(m.attachments.size());
    for (const store::Attachment& a : m.attachments) {
        store::Attachment x;
        x.props = a.props;
        if (a.embedded) x.embedded = std::make_unique<store::Message>(copyOf(*a.embedded));
        if (a.storage) x.storage = std::make_unique<store::StorageEntry>(*a.storage);
        c.attachments.push_back(std::move(x));
    }
    return c;
}
}  // namespace

Result<uint32_t> PstWriter::addMessage(uint32_t folderNid, const store::Message& message) {
    return addMessage(folderNid, copyOf(message));
}

Result<uint32_t> PstWriter::addMessage(uint32_t folderNid, store::Message&& message) {
    if (auto s = check(); !s) return std::move(s).take();
    auto it = folders_.find(folderNid);
    if (it == folders_.end() || it->second.role == FolderRole::SpamSearch)
        return Error(err::kNotFound, "The folder does not exist.");
    if (counters_.rgnid[ndb::NID_TYPE_NORMAL_MESSAGE] >= 0x7FFF000)
        return Error(err::kTooBig, "The store cannot hold more messages.");
    const uint32_t nid = counters_.newNid(ndb::NID_TYPE_NORMAL_MESSAGE);
    std::optional<MessageKeys> keys;  // taken before the message is moved into the writer
    if (opt_.trackMessages) keys = MessageKeys::of(message.props);
    MessageContext ctx{*ndb_, names_, counters_, opt_.now, opt_.random, opt_.storage};
    auto w = writeMessage(ctx, std::move(message), contentsColumns_);
    if (!w) {
        if (ndb_->error().failed()) return fail(ndb_->error()).error();
        return std::move(w).error();
    }
    // The node entry and the contents-table row wait in the scratch file.
    uint8_t node[24];
    storeLE32(node, nid);
    storeLE32(node + 4, folderNid);
    store::storeLE64(node + 8, w->bidData);
    store::storeLE64(node + 16, w->bidSub);
    if (auto s = spill_.append(nodeStream_, ByteSpan(node, sizeof node)); !s) return fail(s.error()).error();
    const Bytes row = encodeRow(nid, ++counters_.rowVersion, w->row);
    if (auto s = spill_.append(it->second.rowStream, row); !s) return fail(s.error()).error();
    ++it->second.contentCount;
    if (!(w->flags & t::MSGFLAG_READ)) ++it->second.unreadCount;
    ++messages_;
    if (keys) present_[folderNid].add(*keys);
    return nid;
}

Result<bool> PstWriter::containsMessage(uint32_t folderNid, const MessageKeys& keys) {
    if (auto s = check(); !s) return std::move(s).take();
    if (!folder(folderNid)) return Error(err::kNotFound, "The folder does not exist.");
    auto it = present_.find(folderNid);
    return it != present_.end() && it->second.contains(keys);
}

std::vector<Property> PstWriter::folderProperties(const FolderInfo& f) const {
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
    // [MS-OXOSFLD] 2.2.4: the root folder and the Inbox carry the entry ids
    // of the special folders that are not listed on the store.
    if ((f.role == FolderRole::Root || f.role == FolderRole::Inbox) && folderByRole(FolderRole::Inbox)) {
        const std::pair<uint16_t, FolderRole> ids[] = {
            {PidTagIpmAppointmentEntryId, FolderRole::Calendar}, {PidTagIpmContactEntryId, FolderRole::Contacts},
            {PidTagIpmJournalEntryId, FolderRole::Journal},       {PidTagIpmNoteEntryId, FolderRole::Notes},
            {PidTagIpmTaskEntryId, FolderRole::Tasks},            {PidTagIpmDraftsEntryId, FolderRole::Drafts}};
        for (const auto& [id, role] : ids)
            if (auto n = folderByRole(role)) v.push_back(binary(id, entryId(*n)));
        if (auto junk = folderByRole(FolderRole::JunkEmail)) {
            // PidTagAdditionalRenEntryIds: Conflicts, Sync Issues, Local
            // Failures, Server Failures, Junk E-mail, and one more slot.
            std::vector<Bytes> e(6);
            e[4] = entryId(*junk);
            Property p;
            p.tag = tagOf(PidTagAdditionalRenEntryIds, store::MV_FLAG | store::PT_BINARY);
            p.data = ltp::encodeMultiValue(p.type(), e);
            v.push_back(std::move(p));
        }
        if (auto rss = folderByRole(FolderRole::RssFeeds)) {
            // PidTagAdditionalRenEntryIdsEx ([MS-OXOSFLD] 2.2.4.2): a
            // PersistData block RSF_PID_RSS_SUBSCRIPTION with the entry id,
            // then PERSIST_SENTINEL.
            store::ByteWriter w;
            w.u16(0x8001);
            w.u16(4 + 24);
            w.u16(0x0001);  // RSF_ELID_ENTRYID
            w.u16(24);
            w.bytes(entryId(*rss));
            w.u32(0);
            v.push_back(binary(PidTagAdditionalRenEntryIdsEx, w.buffer()));
        }
    }
    for (const Property& p : f.extra) v.push_back(p);
    sortById(v);
    return v;
}

Result<uint64_t> PstWriter::writePc(const std::vector<Property>& props, uint64_t& bidSub) {
    auto pc = writePropertyContext(*ndb_, props, [this] { return counters_.newNid(ndb::NID_TYPE_LTP); });
    if (!pc) return std::move(pc).error();
    bidSub = pc->second;
    return pc->first;
}

Status PstWriter::writeContentsTable(const FolderInfo& f, uint64_t& bid, uint64_t& sub) {
    const Result<ltp::TcSchema> schema = ltp::TcSchema::make(contentsColumns_);
    if (!schema) return schema.error();
    ltp::TableWriter tw(*ndb_, *schema, f.contentCount, [this] { return counters_.newNid(ndb::NID_TYPE_LTP); });
    auto reader = spill_.read(f.rowStream);
    Bytes rec;
    std::vector<ltp::TcCell> cells(schema->columns().size());
    for (;;) {
        auto more = reader.next(rec);
        if (!more) return std::move(more).error();
        if (!*more) break;
        std::fill(cells.begin(), cells.end(), ltp::TcCell{});
        store::ByteReader r(rec);
        cells[0] = {true, r.u32(), {}};
        cells[1] = {true, r.u32(), {}};
        const uint16_t n = r.u16();
        for (uint16_t i = 0; i < n && r.ok(); ++i) {
            const uint32_t tag = r.u32();
            ltp::TcCell c{true, 0, {}};
            if (r.u8() == 0)
                c.scalar = r.u64();
            else
                c.data = r.bytes(r.u32());
            if (const int col = schema->indexOf(tag); col >= 2) cells[static_cast<size_t>(col)] = c;
        }
        if (!r.ok()) return Error(err::kCorrupt, "PST writer: damaged row in the scratch file");
        if (auto s = tw.addRow(cells); !s) return s;
    }
    auto nd = tw.finish();
    if (!nd) return std::move(nd).error();
    auto s = ndb_->writeSubnodes(nd->subnodes);
    if (!s) return std::move(s).error();
    bid = nd->bidData;
    sub = *s;
    return {};
}

Status PstWriter::writeFolders(std::vector<ndb::NodeEntry>& nodes) {
    auto ltpNid = [this] { return counters_.newNid(ndb::NID_TYPE_LTP); };
    auto tableNid = [](uint32_t folderNid, uint8_t type) { return ndb::makeNid(type, ndb::nidIndex(folderNid)); };

    // Empty tables share the template's block ([MS-PST] 2.4.4.4 - 2.4.4.6;
    // Outlook's files do the same), so count the sharers first.
    uint16_t emptyHierarchy = 0, emptyContents = 0, normalFolders = 0;
    for (const auto& [nid, f] : folders_) {
        if (f.role == FolderRole::SpamSearch) continue;
        ++normalFolders;
        if (f.children.empty()) ++emptyHierarchy;
        if (f.contentCount == 0) ++emptyContents;
    }
    auto emptyTable = [&](std::span<const uint32_t> cols, uint32_t nid, uint16_t sharers) -> Result<uint64_t> {
        auto schema = ltp::TcSchema::make(cols);
        if (!schema) return std::move(schema).error();
        ltp::TableWriter tw(*ndb_, *schema, 0, ltpNid);
        auto nd = tw.finish(static_cast<uint16_t>(sharers + 1));
        if (!nd) return std::move(nd).error();
        nodes.push_back({nid, nd->bidData, 0, 0});
        return nd->bidData;
    };
    auto hierarchyBlock = emptyTable(columns::kHierarchy, ndb::NID_HIERARCHY_TABLE_TEMPLATE, emptyHierarchy);
    if (!hierarchyBlock) return std::move(hierarchyBlock).error();
    auto contentsBlock = emptyTable(columns::kContents, ndb::NID_CONTENTS_TABLE_TEMPLATE, emptyContents);
    if (!contentsBlock) return std::move(contentsBlock).error();
    auto assocBlock = emptyTable(columns::kAssocContents, ndb::NID_ASSOC_CONTENTS_TABLE_TEMPLATE, normalFolders);
    if (!assocBlock) return std::move(assocBlock).error();
    auto searchBlock = emptyTable(columns::kSearchContents, ndb::NID_SEARCH_CONTENTS_TABLE_TEMPLATE, 1);
    if (!searchBlock) return std::move(searchBlock).error();
    for (auto [cols, nid] : {std::pair<std::span<const uint32_t>, uint32_t>{columns::kAttachments, ndb::NID_ATTACHMENT_TABLE},
                             {columns::kRecipients, ndb::NID_RECIPIENT_TABLE},
                             {columns::kOutgoingQueue, 0x64C},
                             {columns::kTable6B6, 0x6B6},
                             {columns::kTable6D7, 0x6D7},
                             {columns::kTable6F8, 0x6F8}})
        if (auto b = emptyTable(cols, nid, 0); !b) return std::move(b).error();

    // The receive folder table ([MS-PST] 2.4.9 / [MS-OXCSTOR]): which folder
    // receives each message class.
    {
        auto schema = ltp::TcSchema::make(columns::kReceiveFolders);
        if (!schema) return std::move(schema).error();
        std::vector<std::pair<std::string, uint32_t>> rows;
        if (auto inbox = folderByRole(FolderRole::Inbox)) {
            rows = {{"", *inbox}, {"IPM", *inbox}, {"Report.IPM", *inbox}, {"IPC", ndb::NID_ROOT_FOLDER}};
        } else {
            rows = {{"", ndb::NID_ROOT_FOLDER}};
        }
        ltp::TableWriter tw(*ndb_, *schema, static_cast<uint32_t>(rows.size()), ltpNid);
        uint32_t rowId = 0;
        for (const auto& [cls, nid] : rows) {
            const Bytes name = Property::unicodeUtf8(0, cls).data;
            ltp::TcCell cells[4] = {{true, ++rowId, {}}, {true, ++counters_.rowVersion, {}}, {true, nid, {}},
                                    {true, 0, name}};
            if (auto s = tw.addRow(cells); !s) return s;
        }
        auto nd = tw.finish();
        if (!nd) return std::move(nd).error();
        auto sub = ndb_->writeSubnodes(nd->subnodes);
        if (!sub) return std::move(sub).error();
        nodes.push_back({0x62B, nd->bidData, *sub, 0});
    }

    auto hierarchySchema = ltp::TcSchema::make(columns::kHierarchy);
    if (!hierarchySchema) return std::move(hierarchySchema).error();
    for (const auto& [nid, f] : folders_) {
        if (f.role == FolderRole::SpamSearch) {
            // [MS-PST] 2.4.8.6: a search folder's PC, its (empty) update
            // queue, its criteria object and its contents table.
            uint64_t sub = 0;
            auto pc = writePc(folderProperties(f), sub);
            if (!pc) return std::move(pc).error();
            nodes.push_back({nid, *pc, sub, f.parent});
            nodes.push_back({tableNid(nid, ndb::NID_TYPE_SEARCH_UPDATE_QUEUE), 0, 0, 0});
            uint64_t critSub = 0;
            auto crit = writePc({int32(PidTagSearchFolderState, 0)}, critSub);
            if (!crit) return std::move(crit).error();
            nodes.push_back({tableNid(nid, ndb::NID_TYPE_SEARCH_CRITERIA_OBJECT), *crit, critSub, 0});
            nodes.push_back({tableNid(nid, ndb::NID_TYPE_SEARCH_CONTENTS_TABLE), *searchBlock, 0, 0});
            continue;
        }
        // The hierarchy table: one row per child, mirroring the child's PC.
        uint64_t hBid = *hierarchyBlock, hSub = 0;
        if (!f.children.empty()) {
            std::vector<uint32_t> kids = f.children;
            const bool streams = uint64_t(kids.size()) * hierarchySchema->rowSize() > ltp::kMaxHeapAlloc;
            if (streams) std::sort(kids.begin(), kids.end());
            ltp::TableWriter tw(*ndb_, *hierarchySchema, static_cast<uint32_t>(kids.size()), ltpNid);
            for (uint32_t c : kids) {
                const std::vector<Property> cp = folderProperties(folders_.at(c));
                std::vector<ltp::TcCell> cells(hierarchySchema->columns().size());
                cells[0] = {true, c, {}};
                cells[1] = {true, ++counters_.rowVersion, {}};
                for (const Property& p : cp)
                    if (const int col = hierarchySchema->indexOf(p.tag); col >= 2)
                        cells[static_cast<size_t>(col)] = {true, p.scalar, p.data};
                if (auto s = tw.addRow(cells); !s) return s;
            }
            auto nd = tw.finish();
            if (!nd) return std::move(nd).error();
            auto sub = ndb_->writeSubnodes(nd->subnodes);
            if (!sub) return std::move(sub).error();
            hBid = nd->bidData;
            hSub = *sub;
        }
        uint64_t cBid = *contentsBlock, cSub = 0;
        if (f.contentCount > 0)
            if (auto s = writeContentsTable(f, cBid, cSub); !s) return s;
        uint64_t pcSub = 0;
        auto pc = writePc(folderProperties(f), pcSub);
        if (!pc) return std::move(pc).error();
        nodes.push_back({nid, *pc, pcSub, f.parent});
        nodes.push_back({tableNid(nid, ndb::NID_TYPE_HIERARCHY_TABLE), hBid, hSub, 0});
        nodes.push_back({tableNid(nid, ndb::NID_TYPE_CONTENTS_TABLE), cBid, cSub, 0});
        nodes.push_back({tableNid(nid, ndb::NID_TYPE_ASSOC_CONTENTS_TABLE), *assocBlock, 0, 0});
    }
    return {};
}

Status PstWriter::writeStore(std::vector<ndb::NodeEntry>& nodes) {
    // [MS-PST] 2.4.3.1 the message store PC.
    std::vector<Property> v;
    {
        Bytes history(24, 0);
        storeLE32(&history[0], 1);
        std::copy(replicaGuid_.b.begin(), replicaGuid_.b.end(), history.begin() + 4);
        storeLE32(&history[20], 1);
        v.push_back(binary(PidTagReplVersionHistory, history));
    }
    v.push_back(int32(PidTagReplFlags, 0));
    v.push_back(binary(t::PidTagRecordKey, recordKey_.b));
    v.push_back(unicode(t::PidTagDisplayName, opt_.displayName));
    int32_t mask = 0;
    const std::tuple<uint16_t, FolderRole, int32_t> special[] = {
        {PidTagIpmSubTreeEntryId, FolderRole::IpmSubtree, FOLDER_IPM_SUBTREE_VALID},
        {PidTagIpmOutboxEntryId, FolderRole::Outbox, FOLDER_IPM_OUTBOX_VALID},
        {PidTagIpmWastebasketEntryId, FolderRole::DeletedItems, FOLDER_IPM_WASTEBASKET_VALID},
        {PidTagIpmSentMailEntryId, FolderRole::SentItems, FOLDER_IPM_SENTMAIL_VALID},
        {PidTagViewsEntryId, FolderRole::Views, FOLDER_VIEWS_VALID},
        {PidTagCommonViewsEntryId, FolderRole::CommonViews, FOLDER_COMMON_VIEWS_VALID},
        {PidTagFinderEntryId, FolderRole::SearchRoot, FOLDER_FINDER_VALID}};
    for (const auto& [id, role, bit] : special)
        if (auto n = folderByRole(role)) {
            v.push_back(binary(id, entryId(*n)));
            mask |= bit;
        }
    if (folderByRole(FolderRole::Inbox)) mask |= FOLDER_IPM_INBOX_VALID;
    v.push_back(int32(PidTagValidFolderMask, mask));
    v.push_back(boolean(PidTagPstLrNoRestrictions, true));
    v.push_back(int32(PidTagPstIpmsubTreeDescendant, 0x000E0011));
    // [MS-PST] 2.4.3.3: no password.
    v.push_back(int32(PidTagPstPassword, 0));
    sortById(v);
    uint64_t sub = 0;
    auto store = writePc(v, sub);
    if (!store) return std::move(store).error();
    nodes.push_back({ndb::NID_MESSAGE_STORE, *store, sub, 0});

    std::vector<Property> map = names_.properties();
    uint64_t mapSub = 0;
    auto mapPc = writePc(map, mapSub);
    if (!mapPc) return std::move(mapPc).error();
    nodes.push_back({ndb::NID_NAME_TO_ID_MAP, *mapPc, mapSub, 0});

    // [MS-PST] 2.4.8: the search machinery idle, as in a new Outlook file:
    // an empty management queue and domain object, and an activity list
    // naming the spam search folder.
    nodes.push_back({ndb::NID_SEARCH_MANAGEMENT_QUEUE, 0, 0, 0});
    uint8_t sal[4];
    storeLE32(sal, NID_SPAM_SEARCH_FOLDER);
    auto salBid = ndb_->writeStream(ByteSpan(sal, 4));
    if (!salBid) return std::move(salBid).error();
    nodes.push_back({ndb::NID_SEARCH_ACTIVITY_LIST, *salBid, 0, 0});
    nodes.push_back({ndb::NID_SEARCH_DOMAIN_OBJECT, 0, 0, 0});
    return {};
}

uint64_t PstWriter::projectedSize() const {
    // Rows and node entries take about their spilled size again in the
    // tables and the node B-tree; twice that covers the pages, block
    // trailers and the row index. Each folder adds a property context and
    // three tables; the rest (store, name map, DList, FMaps, the last
    // section's maps) stays well under the fixed part.
    constexpr uint64_t kPerFolder = 4096;
    constexpr uint64_t kFixed = 256 * 1024;
    return ndb_->fileEnd() + 2 * spill_.bytes() + kPerFolder * folders_.size() + 32 * ndb_->blocksWritten() +
           kFixed;
}

Status PstWriter::finish() {
    if (auto s = check(); !s) return s;
    finished_ = true;
    std::vector<ndb::NodeEntry> nodes;
    if (auto s = writeFolders(nodes); !s) return fail(s.error());
    if (auto s = writeStore(nodes); !s) return fail(s.error());
    std::sort(nodes.begin(), nodes.end(), [](const ndb::NodeEntry& a, const ndb::NodeEntry& b) { return a.nid < b.nid; });
    for (size_t i = 1; i < nodes.size(); ++i)
        if (nodes[i].nid == nodes[i - 1].nid) return fail(writerFailure("two nodes with one NID"));

    // The node B-tree: the nodes above merged with the messages' entries
    // from the scratch file (both in NID order).
    auto reader = spill_.read(nodeStream_);
    Bytes rec;
    bool haveMsg = false, msgDone = false;
    ndb::NodeEntry msg;
    size_t next = 0;
    auto source = [&](ndb::NodeEntry& out) -> Result<bool> {
        if (!haveMsg && !msgDone) {
            auto more = reader.next(rec);
            if (!more) return std::move(more).error();
            if (!*more || rec.size() != 24) {
                msgDone = true;
            } else {
                msg = {store::loadLE32(rec.data()), store::loadLE64(rec.data() + 8), store::loadLE64(rec.data() + 16),
                       store::loadLE32(rec.data() + 4)};
                haveMsg = true;
            }
        }
        if (haveMsg && (next >= nodes.size() || msg.nid < nodes[next].nid)) {
            out = msg;
            haveMsg = false;
            return true;
        }
        if (next < nodes.size()) {
            out = nodes[next++];
            return true;
        }
        return false;
    };
    std::array<uint32_t, 32> rgnid = counters_.rgnid;
    // The folder tables' counters follow the folders'.
    for (uint8_t type : {ndb::NID_TYPE_HIERARCHY_TABLE, ndb::NID_TYPE_CONTENTS_TABLE, ndb::NID_TYPE_ASSOC_CONTENTS_TABLE})
        rgnid[type] = std::max(rgnid[type], rgnid[ndb::NID_TYPE_NORMAL_FOLDER]);
    if (auto s = ndb_->finish(source, rgnid); !s) return fail(s.error());
    return {};
}

}  // namespace tavrin::pst::messaging
