// The messaging pass of the verifier ([MS-PST] 2.4, 2.7): mandatory nodes,
// the message store, the name-to-id map, folders with their tables, and
// messages with their attachments.
#include <algorithm>
#include <string>

#include "store/core/tags.h"
#include "store/pst/messaging/name_map_reader.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/messaging/records.h"
#include "store/pst/verify/verifier_impl.h"

namespace tavrin::pst::verify {

using namespace ndb;
using store::Property;
using store::PropertyBag;
namespace tags = store::tags;
namespace msg = messaging;

namespace {

std::string dec(uint64_t v) { return std::to_string(v); }

std::string tagText(uint32_t tag) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", tag);
    return b;
}

bool sameValue(const Property& a, const Property& b) {
    return a.tag == b.tag && a.scalar == b.scalar && a.data == b.data && a.multi == b.multi;
}

std::string valueText(const Property& p) {
    if (!p.data.empty() || store::isVariableSize(p.type())) return dec(p.data.size()) + "-byte value";
    if (!p.multi.empty()) return dec(p.multi.size()) + " values";
    return hex(p.scalar);
}

bool isFolderNid(uint32_t nid) {
    return nidType(nid) == NID_TYPE_NORMAL_FOLDER || nidType(nid) == NID_TYPE_SEARCH_FOLDER;
}

}  // namespace

void Verifier::checkMessaging() {
    checkMandatoryNodes();
    checkStoreProperties();
    checkNameMap();
    checkFolders();
}

void Verifier::checkMandatoryNodes() {
    // [MS-PST] 2.7.1, as every Outlook sample has them (Unicode and ANSI).
    static constexpr uint32_t kRequired[] = {
        NID_MESSAGE_STORE, NID_NAME_TO_ID_MAP, NID_ROOT_FOLDER, msg::hierarchyTableNid(NID_ROOT_FOLDER),
        msg::contentsTableNid(NID_ROOT_FOLDER), msg::assocContentsTableNid(NID_ROOT_FOLDER), NID_SEARCH_MANAGEMENT_QUEUE,
        NID_SEARCH_ACTIVITY_LIST, NID_SEARCH_DOMAIN_OBJECT, NID_HIERARCHY_TABLE_TEMPLATE, NID_CONTENTS_TABLE_TEMPLATE,
        NID_ASSOC_CONTENTS_TABLE_TEMPLATE, NID_SEARCH_CONTENTS_TABLE_TEMPLATE, 0x62B /* receive folder table */,
        0x64C /* outgoing queue table */, NID_ATTACHMENT_TABLE, NID_RECIPIENT_TABLE};
    for (uint32_t nid : kRequired)
        if (!nodeIndex_.count(nid)) add(nodeWhere(nid), "mandatory node is missing");
    // The spam search folder 0x2223 with its queue, criteria and contents
    // table: in every Unicode sample, but not in the ANSI 32-bit.pst that an
    // older Outlook wrote, so only Unicode files must have it.
    if (f_ == Flavour::Unicode)
        for (uint32_t nid : {0x2223u, 0x2226u, 0x2227u, 0x2230u})
            if (!nodeIndex_.count(nid)) add(nodeWhere(nid), "mandatory node of the spam search folder is missing");
    if (auto it = nodeIndex_.find(NID_ROOT_FOLDER); it != nodeIndex_.end() && nodes_[it->second].nidParent != NID_ROOT_FOLDER)
        add(nodeWhere(NID_ROOT_FOLDER), "root folder's nidParent " + hex(nodes_[it->second].nidParent) + " is not itself");
}

void Verifier::checkStoreProperties() {
    const std::string where = nodeWhere(NID_MESSAGE_STORE) + " (message store)";
    auto node = Node::open(*db_, NID_MESSAGE_STORE);
    if (!node) return;  // reported as missing
    auto pc = ltp::PropertyContext::open(*node);
    if (!pc) return;  // reported by the heap pass
    auto props = pc->readAll();
    if (!props) return;
    PropertyBag bag;
    bag.items() = std::move(props).value();
    const Property* rk = bag.find(tags::PidTagRecordKey);
    if (!rk || rk->type() != store::PT_BINARY || rk->data.size() != 16) add(where, "PidTagRecordKey is missing or not 16 bytes");
    if (!bag.find(tags::PidTagDisplayName)) add(where, "PidTagDisplayName is missing");
    const std::pair<uint16_t, const char*> ids[] = {{msg::PidTagIpmSubTreeEntryId, "PidTagIpmSubTreeEntryId"},
                                                    {msg::PidTagIpmWastebasketEntryId, "PidTagIpmWastebasketEntryId"},
                                                    {msg::PidTagFinderEntryId, "PidTagFinderEntryId"}};
    for (const auto& [id, name] : ids) {
        const Property* p = bag.find(id);
        if (!p) {
            add(where, std::string(name) + " is missing");
            continue;
        }
        auto e = msg::EntryId::decode(p->data);
        if (!e || p->data.size() != msg::EntryId::kSize) {
            add(where, std::string(name) + " is not a 24-byte EntryID");
            continue;
        }
        if (e->rgbFlags != 0) add(where, std::string(name) + " rgbFlags are not 0");
        if (rk && rk->data.size() == 16 && !std::equal(e->uid.b.begin(), e->uid.b.end(), rk->data.begin()))
            add(where, std::string(name) + " uid is not the store's PidTagRecordKey");
        if (!isFolderNid(e->nid) || !nodeIndex_.count(e->nid)) {
            add(where, std::string(name) + " names " + hex(e->nid) + ", which is not a folder in the NBT");
            continue;
        }
        for (uint32_t t : {msg::hierarchyTableNid(e->nid), msg::contentsTableNid(e->nid), msg::assocContentsTableNid(e->nid)})
            if (nidType(e->nid) == NID_TYPE_NORMAL_FOLDER && !nodeIndex_.count(t))
                add(nodeWhere(t), std::string("table of the folder named by ") + name + " is missing");
    }
}

void Verifier::checkNameMap() {
    const std::string where = nodeWhere(NID_NAME_TO_ID_MAP) + " (name-to-id map)";
    auto map = msg::NameMap::read(*db_);
    if (!map) {
        add(where, map.error().description);
        return;
    }
    for (const auto& p : map->problems()) add(where, p);
    const uint32_t buckets = map->bucketCount();
    if (buckets == 0) add(where, "PidTagNameidBucketCount is missing or 0");
    if (map->guidStream().size() % 16 != 0) add(where, "GUID stream of " + dec(map->guidStream().size()) + " bytes is not whole GUIDs");
    for (const auto& [id, bytes] : map->buckets()) {
        if (id >= msg::PidTagNameidBucketBase + buckets) add(where, "hash bucket " + hex(id) + " is beyond the bucket count");
        if (bytes.size() % msg::NameId::kSize != 0) add(where, "hash bucket " + hex(id) + " is not whole NAMEIDs");
    }
    // Every entry: its string name 4-byte aligned, its copy in the right
    // hash bucket ([MS-PST] 2.4.7.5); every bucket record an entry's copy.
    std::map<uint16_t, std::vector<msg::NameId>> expected;
    for (size_t i = 0; i < map->entries().size(); ++i) {
        const auto& e = map->entries()[i];
        if (e.raw.n && e.raw.dwPropertyID % 4 != 0)
            add(where, "entry " + dec(i) + ": string name offset " + hex(e.raw.dwPropertyID) + " is not 4-byte aligned");
        msg::NameId h = e.raw;
        if (e.name.isString) h.dwPropertyID = msg::nameHashKey(e.name.name);
        if (buckets)
            expected[static_cast<uint16_t>(msg::PidTagNameidBucketBase + msg::nameBucketIndex(h.dwPropertyID, h.wGuid, h.n, buckets))]
                .push_back(h);
    }
    std::set<uint16_t> ids;
    for (const auto& [id, _] : expected) ids.insert(id);
    for (const auto& [id, _] : map->buckets()) ids.insert(id);
    for (uint16_t id : ids) {
        std::vector<msg::NameId> have;
        if (auto it = map->buckets().find(id); it != map->buckets().end())
            for (size_t k = 0; k + msg::NameId::kSize <= it->second.size(); k += msg::NameId::kSize)
                have.push_back(*msg::NameId::decode(ByteSpan(it->second).subspan(k, msg::NameId::kSize)));
        auto want = expected[id];
        auto less = [](const msg::NameId& a, const msg::NameId& b) { return a.wPropIdx < b.wPropIdx; };
        std::sort(have.begin(), have.end(), less);
        std::sort(want.begin(), want.end(), less);
        if (have != want)
            add(where, "hash bucket " + hex(id) + " holds " + dec(have.size()) + " NAMEIDs where the entries give " + dec(want.size()) +
                           (have.size() == want.size() ? " different ones" : ""));
    }
    for (const auto& [id, first] : namedIds_)
        if (!map->nameOf(id)) add(first, "named property id " + hex(id) + " has no entry in the name-to-id map");
}

std::optional<uint64_t> Verifier::externalSize(uint64_t bidData, uint64_t bidSub, uint32_t depth) {
    if (depth > 32) return std::nullopt;
    uint64_t total = 0;
    // The data tree's leaves.
    if (bidData) {
        std::vector<uint64_t> stack{bidData};
        for (size_t steps = 0; !stack.empty(); ++steps) {
            if (steps > blocks_.size()) return std::nullopt;
            const uint64_t b = stack.back();
            stack.pop_back();
            const BlockRec* rec = findBlockRec(b);
            if (!rec) return std::nullopt;
            if (!isInternalBid(b)) {
                total += rec->cb;
                continue;
            }
            auto in = internal_.find(bidKey(b));
            if (in == internal_.end() || in->second.btype != btypeXBlock) return std::nullopt;
            for (uint64_t c : in->second.children) stack.push_back(c);
        }
    }
    if (!bidSub) return total;
    // Every subnode's data and subnodes.
    std::vector<uint64_t> sl{bidSub};
    for (size_t steps = 0; !sl.empty(); ++steps) {
        if (steps > blocks_.size()) return std::nullopt;
        const uint64_t b = sl.back();
        sl.pop_back();
        auto in = internal_.find(bidKey(b));
        if (in == internal_.end() || in->second.btype != btypeSLBlock) return std::nullopt;
        if (in->second.cLevel == 1) {
            for (uint64_t c : in->second.children) sl.push_back(c);
            continue;
        }
        for (const auto& e : in->second.entries) {
            auto s = externalSize(e.bidData, e.bidSub, depth + 1);
            if (!s) return std::nullopt;
            total += *s;
        }
    }
    return total;
}

void Verifier::checkFolders() {
    byParent_.reserve(nodes_.size());
    for (const auto& n : nodes_) byParent_.emplace_back(n.nidParent, n.nid);
    std::sort(byParent_.begin(), byParent_.end());
    for (const auto& n : nodes_)
        if (isFolderNid(n.nid)) checkFolder(n);
    // Messages whose folder does not exist (the folder pass covers the rest).
    for (const auto& n : nodes_) {
        const uint8_t t = nidType(n.nid);
        if (t != NID_TYPE_NORMAL_MESSAGE && t != NID_TYPE_ASSOC_MESSAGE) continue;
        auto p = nodeIndex_.find(n.nidParent);
        if (p == nodeIndex_.end() || nidType(n.nidParent) != NID_TYPE_NORMAL_FOLDER)
            add(nodeWhere(n.nid), "message's nidParent " + hex(n.nidParent) + " is not a folder in the NBT");
    }
}

void Verifier::checkFolder(const NodeInfo& info) {
    const std::string where = nodeWhere(info.nid) + " (folder)";
    ++rep_.folders;
    if (!nodeIndex_.count(info.nidParent) || !isFolderNid(info.nidParent))
        add(where, "nidParent " + hex(info.nidParent) + " is not a folder in the NBT");
    const Node node(db_.get(), info.nid, info.bidData, info.bidSub);
    auto pc = ltp::PropertyContext::open(node);
    if (!pc) return;  // reported by the heap pass
    auto props = pc->readAll();
    if (!props) return;
    PropertyBag bag;
    bag.items() = std::move(props).value();
    if (!bag.find(tags::PidTagDisplayName)) add(where, "PidTagDisplayName is missing");
    if (nidType(info.nid) == NID_TYPE_SEARCH_FOLDER) return;
    const auto contentCount = bag.getInt32(tags::PidTagContentCount);
    const auto unreadCount = bag.getInt32(tags::PidTagContentUnreadCount);
    const auto subfolders = bag.getBool(tags::PidTagSubfolders);
    if (!contentCount) add(where, "PidTagContentCount is missing");
    if (!unreadCount) add(where, "PidTagContentUnreadCount is missing");
    if (!subfolders) add(where, "PidTagSubfolders is missing");

    // The three tables, by row id.
    auto openTable = [&](uint32_t nid, const char* name) -> std::optional<ltp::TableContext> {
        auto t = Node::open(*db_, nid);
        if (!t) {
            add(where, std::string(name) + " " + hex(nid) + " is missing");
            return std::nullopt;
        }
        auto tc = ltp::TableContext::open(*t);
        if (!tc) return std::nullopt;  // reported by the heap pass
        return std::move(tc).value();
    };
    auto hier = openTable(msg::hierarchyTableNid(info.nid), "hierarchy table");
    auto contents = openTable(msg::contentsTableNid(info.nid), "contents table");
    auto fai = openTable(msg::assocContentsTableNid(info.nid), "FAI contents table");

    // Children by nidParent in the NBT, in NID order (NIDs are unique).
    std::vector<uint32_t> childFolders, childMessages, childFai;
    const auto children = std::equal_range(byParent_.begin(), byParent_.end(), std::pair<uint32_t, uint32_t>{info.nid, 0},
                                           [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto it = children.first; it != children.second; ++it) {
        const uint32_t nid = it->second;
        if (nid == info.nid) continue;
        if (isFolderNid(nid)) childFolders.push_back(nid);
        else if (nidType(nid) == NID_TYPE_NORMAL_MESSAGE) childMessages.push_back(nid);
        else if (nidType(nid) == NID_TYPE_ASSOC_MESSAGE) childFai.push_back(nid);
    }
    auto contains = [](const std::vector<uint32_t>& sorted, uint32_t id) { return std::binary_search(sorted.begin(), sorted.end(), id); };
    auto compareRows = [&](const ltp::TableContext& tc, const std::vector<uint32_t>& want, const char* table, const char* kind) {
        std::vector<uint32_t> have(tc.rowCount());
        for (uint32_t i = 0; i < tc.rowCount(); ++i) have[i] = tc.rowId(i);
        std::sort(have.begin(), have.end());
        have.erase(std::unique(have.begin(), have.end()), have.end());
        for (uint32_t id : want)
            if (!contains(have, id)) add(where, std::string(kind) + " " + hex(id) + " has no row in the " + table);
        for (uint32_t id : have)
            if (!contains(want, id)) add(where, std::string(table) + " row " + hex(id) + " is not a " + kind + " of this folder");
    };
    // A row's cells against the object's own properties: the cells are
    // copies ([MS-PST] 2.4.4.4.1, 2.4.4.5.1).
    auto compareCells = [&](const ltp::TableContext& tc, uint32_t row, const PropertyBag& obj, const Where& rowWhere) {
        auto cells = tc.row(row);
        if (!cells) return;  // reported by the heap pass
        for (const Property& c : *cells) {
            if (c.tag == ltp::PidTagLtpRowId || c.tag == ltp::PidTagLtpRowVer) continue;
            const Property* p = obj.findTag(c.tag);
            if (!p) continue;
            // Exception, with evidence: submessage.pst's contents row says
            // 20613 bytes for a message whose PC (and blocks) say 20929;
            // Outlook refreshes the row's size lazily. Strict mode only.
            if (!options_.strict && c.tag == store::makeTag(tags::PidTagMessageSize, store::PT_LONG)) continue;
            if (!sameValue(c, *p))
                add(rowWhere, "cell " + tagText(c.tag) + " (" + valueText(c) + ") differs from the object's (" + valueText(*p) + ")");
        }
    };

    if (hier) {
        compareRows(*hier, childFolders, "hierarchy table", "sub-folder");
        if (subfolders && *subfolders != (hier->rowCount() > 0))
            add(where, std::string("PidTagSubfolders is ") + (*subfolders ? "true" : "false") + " with " + dec(hier->rowCount()) + " hierarchy rows");
        for (uint32_t i = 0; i < hier->rowCount(); ++i) {
            const uint32_t child = hier->rowId(i);
            auto cn = Node::open(*db_, child);
            if (!cn) continue;
            auto cpc = ltp::PropertyContext::open(*cn);
            if (!cpc) continue;
            auto cprops = cpc->readAll();
            if (!cprops) continue;
            PropertyBag cbag;
            cbag.items() = std::move(cprops).value();
            auto rowWhere = [&] { return where + " hierarchy row " + hex(child); };
            compareCells(*hier, i, cbag, rowWhere);
        }
    }
    uint32_t unread = 0;
    auto checkContents = [&](const ltp::TableContext& tc, bool associated) {
        for (uint32_t i = 0; i < tc.rowCount(); ++i) {
            const uint32_t id = tc.rowId(i);
            auto mn = nodeIndex_.find(id);
            if (mn == nodeIndex_.end()) continue;  // reported by compareRows
            const NodeInfo& m = nodes_[mn->second];
            const Node mnode(db_.get(), m.nid, m.bidData, m.bidSub);
            auto mpc = ltp::PropertyContext::open(mnode);
            if (!mpc) continue;
            auto mprops = mpc->readAll();
            if (!mprops) continue;
            PropertyBag mbag;
            mbag.items() = std::move(mprops).value();
            auto rowWhere = [&] { return where + (associated ? " FAI row " : " contents row ") + hex(id); };
            compareCells(tc, i, mbag, rowWhere);
            if (!associated && !(mbag.getInt32(tags::PidTagMessageFlags).value_or(0) & tags::MSGFLAG_READ)) ++unread;
        }
    };
    if (contents) {
        compareRows(*contents, childMessages, "contents table", "message");
        checkContents(*contents, false);
        if (contentCount && uint32_t(*contentCount) != contents->rowCount())
            add(where, "PidTagContentCount " + dec(uint32_t(*contentCount)) + " with " + dec(contents->rowCount()) + " contents rows");
        if (unreadCount && uint32_t(*unreadCount) != unread)
            add(where, "PidTagContentUnreadCount " + dec(uint32_t(*unreadCount)) + " with " + dec(unread) + " unread messages");
    }
    if (fai) {
        compareRows(*fai, childFai, "FAI contents table", "associated message");
        checkContents(*fai, true);
        // PidTagAssocContentCount is not compared with the FAI rows: Outlook's
        // testPST_variousBodyTypes.pst has 228 on an Inbox whose FAI table
        // is empty.
    }
    for (uint32_t nid : childMessages) {
        const NodeInfo& m = nodes_[nodeIndex_[nid]];
        auto messageWhere = [&] { return nodeWhere(m.nid) + " (message)"; };
        checkMessage(Node(db_.get(), m.nid, m.bidData, m.bidSub), messageWhere, 0, nullptr, info.nid);
    }
    for (uint32_t nid : childFai) {
        const NodeInfo& m = nodes_[nodeIndex_[nid]];
        auto messageWhere = [&] { return nodeWhere(m.nid) + " (associated message)"; };
        checkMessage(Node(db_.get(), m.nid, m.bidData, m.bidSub), messageWhere, 0, nullptr, info.nid);
    }
}

void Verifier::checkMessage(const Node& node, const Where& where, uint32_t depth, const PropertyBag*, uint32_t) {
    ++rep_.messages;
    if (depth > 32) {
        add(where, "embedded messages nested deeper than 32");
        return;
    }
    auto pc = ltp::PropertyContext::open(node);
    if (!pc) return;  // reported by the heap pass
    auto props = pc->readAll();
    if (!props) return;
    PropertyBag bag;
    bag.items() = std::move(props).value();
    if (!bag.find(tags::PidTagMessageClass)) add(where, "PidTagMessageClass is missing");
    const auto flags = bag.getInt32(tags::PidTagMessageFlags);
    if (!flags) add(where, "PidTagMessageFlags is missing");

    // PidTagMessageSize as Outlook computes it: the bytes of every external
    // block of the node's data and subnode trees.
    if (const Property* size = bag.findTag(store::makeTag(tags::PidTagMessageSize, store::PT_LONG))) {
        auto want = externalSize(node.bidData(), node.bidSub(), 0);
        const uint32_t have = static_cast<uint32_t>(size->scalar);
        if (want && have != *want) {
            // Exception, with evidence: older Outlook stored an estimate
            // built from the property sizes instead (dist-list.pst: the FAI
            // messages' sizes are exactly the sum of their property values'
            // sizes, 167, 385, 165, 208 bytes; 32-bit.pst: 6693 for 7772
            // bytes of blocks). Outside strict mode such a value passes if
            // it lies between the bytes of the message's variable-size
            // values and the bytes of its blocks.
            uint64_t floor = 0;
            for (const Property& p : bag.items()) floor += p.data.size();
            const bool olderEstimate = have >= floor && have <= *want;
            if (options_.strict || !olderEstimate)
                add(where, "PidTagMessageSize " + dec(have) + " where the node's blocks hold " + dec(*want) + " bytes");
        }
    } else {
        add(where, "PidTagMessageSize is missing");
    }

    // Attachments: rows of 0x671 against attachment subnodes, flags.
    auto subs = node.subnodes();
    if (!subs) return;  // reported by the heap pass
    std::vector<uint32_t> attachNodes;
    for (const auto& s : **subs)
        if (nidType(s.nid) == NID_TYPE_ATTACHMENT) attachNodes.push_back(s.nid);
    std::sort(attachNodes.begin(), attachNodes.end());  // a damaged subnode tree may be out of order
    attachNodes.erase(std::unique(attachNodes.begin(), attachNodes.end()), attachNodes.end());
    uint32_t rows = 0;
    auto table = node.subnode(NID_ATTACHMENT_TABLE);
    if (table) {
        auto tc = ltp::TableContext::open(*table);
        if (tc) {
            rows = tc->rowCount();
            std::vector<uint32_t> have;
            have.reserve(tc->rowCount());
            for (uint32_t i = 0; i < tc->rowCount(); ++i) {
                const uint32_t id = tc->rowId(i);
                have.push_back(id);
                auto aw = [&] { return where.text() + " attachment " + hex(id); };
                auto an = node.subnode(id);
                if (!an) {
                    add(aw, "attachment table row has no attachment subnode");
                    continue;
                }
                auto apc = ltp::PropertyContext::open(*an);
                if (!apc) continue;
                auto aprops = apc->readAll();
                if (!aprops) continue;
                PropertyBag abag;
                abag.items() = std::move(aprops).value();
                auto cells = tc->row(i);
                if (cells)
                    for (const Property& c : *cells) {
                        if (c.tag == ltp::PidTagLtpRowId || c.tag == ltp::PidTagLtpRowVer) continue;
                        const Property* p = abag.findTag(c.tag);
                        if (p && !sameValue(c, *p))
                            add(aw, "attachment table cell " + tagText(c.tag) + " (" + valueText(c) + ") differs from the attachment's (" + valueText(*p) + ")");
                    }
                // An embedded message: its object size and its own checks.
                const Property* obj = abag.findTag(store::makeTag(tags::PidTagAttachDataBinary, store::PT_OBJECT));
                if (!obj) continue;
                auto ref = ltp::ObjectRef::decode(obj->data);
                if (!ref) continue;  // reported by the heap pass
                auto child = an->subnode(ref->nid);
                if (!child) continue;
                if (abag.getInt32(tags::PidTagAttachMethod).value_or(0) == tags::afEmbeddedMessage) {
                    auto sz = externalSize(child->bidData(), child->bidSub(), 0);
                    if (sz && *sz != ref->ulSize)
                        add(aw, "embedded message size " + dec(ref->ulSize) + " where its blocks hold " + dec(*sz) + " bytes");
                    auto embeddedWhere = [&] { return aw() + " embedded message " + hex(ref->nid); };
                    checkMessage(*child, embeddedWhere, depth + 1, nullptr, 0);
                }
            }
            std::sort(have.begin(), have.end());
            for (uint32_t id : attachNodes)
                if (!std::binary_search(have.begin(), have.end(), id))
                    add(where, "attachment subnode " + hex(id) + " has no row in the attachment table");
        }
    } else if (!attachNodes.empty()) {
        add(where, dec(attachNodes.size()) + " attachment subnodes but no attachment table");
    }
    if (flags && bool(*flags & tags::MSGFLAG_HASATTACH) != (rows > 0))
        add(where, std::string("MSGFLAG_HASATTACH is ") + ((*flags & tags::MSGFLAG_HASATTACH) ? "set" : "clear") + " with " + dec(rows) +
                       " attachment rows");
}

}  // namespace tavrin::pst::verify
