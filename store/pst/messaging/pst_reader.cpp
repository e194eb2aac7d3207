#include "store/pst/messaging/pst_reader.h"

#include <string>
#include <unordered_set>

#include "fs/text.h"
#include "store/core/tags.h"
#include "store/pst/messaging/records.h"

namespace tavrin::pst::messaging {

using ndb::hex;
using store::Property;
using store::PropertyBag;
namespace tags = store::tags;

namespace {

Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }

bool isLtpColumn(uint32_t tag) { return tag == ltp::PidTagLtpRowId || tag == ltp::PidTagLtpRowVer; }

}  // namespace

std::string Folder::displayName() const {
    const Property* p = props.find(tags::PidTagDisplayName);
    if (!p) return {};
    if (p->type() == store::PT_UNICODE) return text::toUtf8(p->asUnicode());
    return std::string(p->data.begin(), p->data.end());
}

Result<std::unique_ptr<PstReader>> PstReader::open(const std::string& path, const ReadOptions& options) {
    auto src = ndb::FileSource::open(path);
    if (!src) return std::move(src).error();
    auto r = open(std::unique_ptr<ndb::ByteSource>(std::move(src).value()), options);
    if (!r) return Error(r.error()).prefixed(path);
    return r;
}

Result<std::unique_ptr<PstReader>> PstReader::open(std::unique_ptr<ndb::ByteSource> source, const ReadOptions& options) {
    auto db = ndb::NodeDatabase::open(std::move(source), options.limits);
    if (!db) return std::move(db).error();
    std::unique_ptr<PstReader> r(new PstReader());
    r->db_ = std::move(db).value();
    r->options_ = options;
    auto names = NameMap::read(*r->db_);
    if (!names) return std::move(names).error();
    r->names_ = std::move(names).value();
    auto storeNode = ndb::Node::open(*r->db_, ndb::NID_MESSAGE_STORE);
    if (!storeNode) return Error(storeNode.error()).prefixed("message store");
    auto storeProps = r->readProperties(*storeNode);
    if (!storeProps) return Error(storeProps.error()).prefixed("message store");
    r->storeProps_ = std::move(storeProps).value();
    if (const Property* rk = r->storeProps_.find(tags::PidTagRecordKey); rk && rk->data.size() == 16)
        r->recordKey_ = *store::Guid::fromSpan(rk->data);
    if (const Property* ipm = r->storeProps_.find(PidTagIpmSubTreeEntryId))
        if (auto id = EntryId::decode(ipm->data)) r->ipmSubtree_ = id->nid;
    return r;
}

void PstReader::nameProperties(std::vector<Property>& props) const {
    for (auto& p : props)
        if (store::isNamedId(p.id()))
            if (const store::NamedPropName* n = names_.nameOf(p.id())) p.name = *n;
}

Result<PropertyBag> PstReader::readProperties(const ndb::Node& node) const {
    auto pc = ltp::PropertyContext::open(node);
    if (!pc) return std::move(pc).error();
    auto props = pc->readAll();
    if (!props) return std::move(props).error();
    nameProperties(*props);
    PropertyBag bag;
    bag.items() = std::move(props).value();
    return bag;
}

Result<std::vector<uint32_t>> PstReader::tableRowIds(uint32_t tableNid) const {
    auto node = ndb::Node::open(*db_, tableNid);
    if (!node) return std::move(node).error();
    auto tc = ltp::TableContext::open(*node);
    if (!tc) return std::move(tc).error();
    std::vector<uint32_t> ids;
    ids.reserve(tc->rowCount());
    for (uint32_t i = 0; i < tc->rowCount(); ++i) ids.push_back(tc->rowId(i));
    return ids;
}

Result<Folder> PstReader::folder(uint32_t nid) const {
    const uint8_t type = ndb::nidType(nid);
    if (type != ndb::NID_TYPE_NORMAL_FOLDER && type != ndb::NID_TYPE_SEARCH_FOLDER)
        return makeError(err::kInvalidParameter, "node " + hex(nid) + " is not a folder");
    auto info = db_->findNode(nid);
    if (!info) return Error(info.error()).prefixed("folder " + hex(nid));
    Folder f;
    f.nid = nid;
    f.parentNid = info->nidParent;
    auto props = readProperties(ndb::Node(db_.get(), nid, info->bidData, info->bidSub));
    if (!props) return Error(props.error()).prefixed("folder " + hex(nid));
    f.props = std::move(props).value();
    // A search folder's rows live in its search contents table and point at
    // messages of other folders; it has no hierarchy or contents table.
    if (type == ndb::NID_TYPE_SEARCH_FOLDER) return f;
    auto sub = tableRowIds(hierarchyTableNid(nid));
    if (!sub) return Error(sub.error()).prefixed("folder " + hex(nid) + ": hierarchy table");
    f.subfolders = std::move(sub).value();
    auto msgs = tableRowIds(contentsTableNid(nid));
    if (!msgs) return Error(msgs.error()).prefixed("folder " + hex(nid) + ": contents table");
    f.messages = std::move(msgs).value();
    auto fai = tableRowIds(assocContentsTableNid(nid));
    if (!fai) return Error(fai.error()).prefixed("folder " + hex(nid) + ": FAI contents table");
    f.associated = std::move(fai).value();
    return f;
}

Result<std::vector<FolderTreeEntry>> PstReader::folderTree(uint32_t top) const {
    std::vector<FolderTreeEntry> out;
    struct Item {
        uint32_t nid;
        std::string parentPath;
        uint32_t depth;
    };
    std::vector<Item> stack{{top, "", 0}};
    std::unordered_set<uint32_t> seen;
    while (!stack.empty()) {
        Item it = std::move(stack.back());
        stack.pop_back();
        if (!seen.insert(it.nid).second) return corrupt("folder " + hex(it.nid) + " appears twice in the folder tree");
        auto f = folder(it.nid);
        if (!f) return std::move(f).error();
        FolderTreeEntry e{std::move(f).value(), {}, it.depth};
        if (it.depth > 0) {
            const std::string name = e.folder.displayName();
            e.path = it.parentPath.empty() ? name : it.parentPath + "/" + name;
        }
        // Children go on the stack in reverse so they come off in table order.
        for (size_t i = e.folder.subfolders.size(); i-- > 0;)
            stack.push_back({e.folder.subfolders[i], e.path, it.depth + 1});
        out.push_back(std::move(e));
    }
    return out;
}

Result<store::Message> PstReader::readMessage(uint32_t nid) const {
    const uint8_t type = ndb::nidType(nid);
    if (type != ndb::NID_TYPE_NORMAL_MESSAGE && type != ndb::NID_TYPE_ASSOC_MESSAGE)
        return makeError(err::kInvalidParameter, "node " + hex(nid) + " is not a message");
    auto node = ndb::Node::open(*db_, nid);
    if (!node) return Error(node.error()).prefixed("message " + hex(nid));
    auto m = readMessage(*node, 0);
    if (!m) return Error(m.error()).prefixed("message " + hex(nid));
    return m;
}

Result<store::Message> PstReader::readMessage(const ndb::Node& node, uint32_t depth) const {
    if (depth > options_.maxEmbeddingDepth)
        return corrupt("embedded messages nested deeper than " + std::to_string(options_.maxEmbeddingDepth));
    store::Message m;
    auto props = readProperties(node);
    if (!props) return std::move(props).error();
    m.props = std::move(props).value();

    auto recipients = node.subnode(ndb::NID_RECIPIENT_TABLE);
    if (recipients) {
        auto tc = ltp::TableContext::open(*recipients);
        if (!tc) return Error(tc.error()).prefixed("recipient table");
        for (uint32_t i = 0; i < tc->rowCount(); ++i) {
            auto row = tc->row(i);
            if (!row) return Error(row.error()).prefixed("recipient table");
            std::erase_if(*row, [](const Property& p) { return isLtpColumn(p.tag); });
            nameProperties(*row);
            store::Recipient r;
            r.props.items() = std::move(row).value();
            m.recipients.push_back(std::move(r));
        }
    } else if (recipients.error().number != err::kNotFound) {
        return Error(recipients.error()).prefixed("recipient table");
    }
    if (auto st = readAttachments(node, m, depth); !st) return st.error();
    return m;
}

Status PstReader::readAttachments(const ndb::Node& msgNode, store::Message& m, uint32_t depth) const {
    auto table = msgNode.subnode(ndb::NID_ATTACHMENT_TABLE);
    if (!table) {
        if (table.error().number == err::kNotFound) return {};
        return Error(table.error()).prefixed("attachment table");
    }
    auto tc = ltp::TableContext::open(*table);
    if (!tc) return Error(tc.error()).prefixed("attachment table");
    for (uint32_t i = 0; i < tc->rowCount(); ++i) {
        const uint32_t nid = tc->rowId(i);
        const std::string where = "attachment " + hex(nid);
        auto node = msgNode.subnode(nid);
        if (!node) return Error(node.error()).prefixed(where);
        auto props = readProperties(*node);
        if (!props) return Error(props.error()).prefixed(where);
        store::Attachment a;
        a.props = std::move(props).value();
        Property* obj = a.props.findTag(store::makeTag(tags::PidTagAttachDataBinary, store::PT_OBJECT));
        if (obj) {
            auto ref = ltp::ObjectRef::decode(obj->data);
            if (!ref) return corrupt(where + ": PT_OBJECT value of " + std::to_string(obj->data.size()) + " bytes");
            auto child = node->subnode(ref->nid);
            if (!child) return Error(child.error()).prefixed(where + ": object");
            const int32_t method = a.props.getInt32(tags::PidTagAttachMethod).value_or(tags::afNone);
            if (method == tags::afEmbeddedMessage) {
                auto embedded = readMessage(*child, depth + 1);
                if (!embedded) return Error(embedded.error()).prefixed(where + ": embedded message");
                a.embedded = std::make_unique<store::Message>(std::move(embedded).value());
                obj->data.clear();
            } else {
                auto bytes = child->data();
                if (!bytes) return Error(bytes.error()).prefixed(where + ": object");
                if (options_.decodeStorage) {
                    auto storage = options_.decodeStorage(*bytes);
                    if (!storage) return Error(storage.error()).prefixed(where + ": OLE storage");
                    a.storage = std::make_unique<store::StorageEntry>(std::move(storage).value());
                    obj->data.clear();
                } else {
                    obj->data = std::move(bytes).value();
                }
            }
        }
        m.attachments.push_back(std::move(a));
    }
    return {};
}

}  // namespace tavrin::pst::messaging
