#include "store/pst/messaging/message_store.h"

#include "fs/text.h"
#include "store/core/tags.h"
#include "store/pst/ltp/pc_writer.h"
#include "store/pst/messaging/records.h"
#include "store/pst/ndb/format.h"

namespace tavrin::pst::messaging {

namespace t = store::tags;

MessageKeys MessageKeys::of(const store::PropertyBag& props) {
    MessageKeys k;
    const store::NamedPropName digest = sourceDigestName();
    for (const store::Property& p : props.items()) {
        if (p.name && *p.name == digest && p.type() == store::PT_BINARY && !p.data.empty()) k.sourceDigest = p.data;
        if (p.id() == PidTagInternetMessageId && !p.data.empty()) {
            // As Unicode either way; an 8-bit id is plain ASCII in practice.
            std::u16string id;
            if (p.type() == store::PT_UNICODE) id = p.asUnicode();
            else if (p.type() == store::PT_STRING8) id.assign(p.data.begin(), p.data.end());
            while (!id.empty() && id.back() == 0) id.pop_back();
            if (!id.empty()) k.internetMessageId = std::move(id);
        }
        if (p.id() == t::PidTagClientSubmitTime && p.type() == store::PT_SYSTIME) k.submitTime = p.scalar;
        if (p.id() == t::PidTagSearchKey && p.type() == store::PT_BINARY && !p.data.empty()) k.searchKey = p.data;
    }
    return k;
}

namespace {
std::string asKey(const store::Bytes& b) { return std::string(b.begin(), b.end()); }
}  // namespace

void DuplicateIndex::add(const MessageKeys& k) {
    ++count_;
    if (k.sourceDigest) digests_.insert(asKey(*k.sourceDigest));
    if (k.internetMessageId && k.submitTime) ids_.emplace(*k.internetMessageId, *k.submitTime);
    if (k.searchKey) searchKeys_.insert(asKey(*k.searchKey));
}

bool DuplicateIndex::contains(const MessageKeys& k) const {
    if (k.sourceDigest && digests_.count(asKey(*k.sourceDigest))) return true;
    if (k.internetMessageId && k.submitTime) return ids_.count({*k.internetMessageId, *k.submitTime}) != 0;
    return k.searchKey && searchKeys_.count(asKey(*k.searchKey));
}

store::Bytes FolderTreeStore::entryId(uint32_t nid) const {
    // [MS-PST] 2.4.3.2: rgbFlags, the store's record key, the NID.
    return EntryId{0, recordKey_, nid}.encode();
}

store::Bytes FolderTreeStore::storeEntryId() const { return entryId(ndb::NID_MESSAGE_STORE); }

std::optional<uint32_t> FolderTreeStore::nidFromEntryId(const store::Bytes& id) const {
    const auto e = EntryId::decode(id);
    if (!e || id.size() != EntryId::kSize || e->rgbFlags != 0 || e->uid != recordKey_) return std::nullopt;
    return e->nid;
}

const FolderInfo* FolderTreeStore::folder(uint32_t nid) const {
    auto it = folders_.find(nid);
    return it == folders_.end() ? nullptr : &it->second;
}

std::optional<uint32_t> FolderTreeStore::folderByRole(FolderRole role) const {
    for (const auto& [nid, f] : folders_)
        if (f.role == role) return nid;
    return std::nullopt;
}

std::optional<uint32_t> FolderTreeStore::findChild(uint32_t parent, const std::string& name) const {
    const FolderInfo* p = folder(parent);
    if (!p) return std::nullopt;
    for (uint32_t c : p->children)
        if (folders_.at(c).name == name) return c;
    const std::u16string want = foldFolderName(text::toUtf16(name));
    for (uint32_t c : p->children)
        if (foldFolderName(text::toUtf16(folders_.at(c).name)) == want) return c;
    return std::nullopt;
}

Result<std::pair<uint64_t, uint64_t>> writePropertyContext(ndb::BlockSink& sink,
                                                          const std::vector<store::Property>& props,
                                                          const std::function<uint32_t()>& newNid) {
    std::vector<ltp::LtpValue> values;
    values.reserve(props.size());
    for (const store::Property& p : props) values.push_back(ltp::LtpValue{p.tag, p.scalar, p.data});
    std::vector<ndb::SubnodeEntry> subs;
    auto large = [&](store::ByteSpan data) -> Result<uint32_t> {
        const uint32_t nid = newNid();
        auto bid = sink.writeStream(data);
        if (!bid) return std::move(bid).error();
        subs.push_back({nid, *bid, 0});
        return nid;
    };
    auto pc = ltp::buildPropertyContext(values, large);
    if (!pc) return std::move(pc).error();
    auto bid = ltp::writeHeapBlocks(sink, pc->blocks, nullptr);
    if (!bid) return std::move(bid).error();
    auto sub = sink.writeSubnodes(subs);
    if (!sub) return std::move(sub).error();
    return std::make_pair(*bid, *sub);
}

}  // namespace tavrin::pst::messaging
