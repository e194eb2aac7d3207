#include "store/pst/messaging/name_map_reader.h"

#include <algorithm>

#include <string>

namespace tavrin::pst::messaging {

using ndb::hex;

std::optional<std::u16string> nameAt(ByteSpan s, uint32_t offset) {
    auto len = store::getLE32(s, offset);
    if (!len || *len % 2 != 0) return std::nullopt;
    auto bytes = store::getSlice(s, uint64_t(offset) + 4, *len);
    if (!bytes) return std::nullopt;
    std::u16string out(*len / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(store::loadLE16(bytes->data() + 2 * i));
    return out;
}

Result<NameMap> NameMap::read(const ndb::NodeDatabase& db) {
    auto node = ndb::Node::open(db, ndb::NID_NAME_TO_ID_MAP);
    if (!node) return Error(node.error()).prefixed("name-to-id map");
    auto pc = ltp::PropertyContext::open(*node);
    if (!pc) return Error(pc.error()).prefixed("name-to-id map");
    NameMap m;
    for (const auto& e : pc->entries()) {
        const bool wanted = e.wPropId == PidTagNameidBucketCount || e.wPropId == PidTagNameidStreamGuid ||
                            e.wPropId == PidTagNameidStreamEntry || e.wPropId == PidTagNameidStreamString ||
                            (e.wPropId >= PidTagNameidBucketBase && e.wPropId < 0x8000);
        if (!wanted) continue;
        auto p = pc->read(e);
        if (!p) return Error(p.error()).prefixed("name-to-id map");
        switch (e.wPropId) {
            case PidTagNameidBucketCount: m.bucketCount_ = static_cast<uint32_t>(p->scalar); break;
            case PidTagNameidStreamGuid: m.guids_ = std::move(p->data); break;
            case PidTagNameidStreamEntry: m.entryBytes_ = std::move(p->data); break;
            case PidTagNameidStreamString: m.strings_ = std::move(p->data); break;
            default: m.buckets_[e.wPropId] = std::move(p->data); break;
        }
    }
    const size_t count = m.entryBytes_.size() / NameId::kSize;
    m.entries_.reserve(count);
    m.byId_.reserve(count);
    std::vector<bool> mapped(0x8000);  // by wPropIdx
    for (size_t i = 0; i < count; ++i) {
        const NameId id = *NameId::decode(ByteSpan(m.entryBytes_).subspan(i * NameId::kSize, NameId::kSize));
        NameMapEntry entry;
        entry.raw = id;
        entry.propId = static_cast<uint16_t>(kNamedIdBase + id.wPropIdx);
        if (id.wPropIdx >= 0x8000) {
            m.problems_.push_back("entry " + std::to_string(i) + ": wPropIdx " + hex(id.wPropIdx) + " is out of range");
            continue;
        }
        if (id.wGuid == kGuidIndexMapi) {
            entry.name.guid = store::PS_MAPI;
        } else if (id.wGuid == kGuidIndexPublicStrings) {
            entry.name.guid = store::PS_PUBLIC_STRINGS;
        } else if (id.wGuid >= kGuidIndexFirst) {
            const uint64_t at = uint64_t(id.wGuid - kGuidIndexFirst) * 16;
            auto g = store::getSlice(m.guids_, at, 16);
            if (!g) {
                m.problems_.push_back("entry " + std::to_string(i) + ": GUID index " + std::to_string(id.wGuid) +
                                      " is past the GUID stream");
                continue;
            }
            entry.name.guid = *store::Guid::fromSpan(*g);
        } else {
            m.problems_.push_back("entry " + std::to_string(i) + ": GUID index 0");
            continue;
        }
        entry.name.isString = id.n;
        if (id.n) {
            auto s = nameAt(m.strings_, id.dwPropertyID);
            if (!s) {
                m.problems_.push_back("entry " + std::to_string(i) + ": string name at " + hex(id.dwPropertyID) +
                                      " does not fit the string stream");
                continue;
            }
            entry.name.name = std::move(*s);
        } else {
            entry.name.lid = id.dwPropertyID;
        }
        if (mapped[id.wPropIdx]) {
            m.problems_.push_back("entry " + std::to_string(i) + ": property id " + hex(entry.propId) + " is mapped twice");
            continue;
        }
        mapped[id.wPropIdx] = true;
        m.byId_.emplace_back(entry.propId, static_cast<uint32_t>(m.entries_.size()));
        m.entries_.push_back(std::move(entry));
    }
    std::sort(m.byId_.begin(), m.byId_.end());  // ids are unique
    if (m.entryBytes_.size() % NameId::kSize != 0)
        m.problems_.push_back("entry stream of " + std::to_string(m.entryBytes_.size()) + " bytes is not whole NAMEIDs");
    return m;
}

const store::NamedPropName* NameMap::nameOf(uint16_t propId) const {
    auto it = std::lower_bound(byId_.begin(), byId_.end(), propId,
                               [](const std::pair<uint16_t, uint32_t>& e, uint16_t id) { return e.first < id; });
    return it == byId_.end() || it->first != propId ? nullptr : &entries_[it->second].name;
}

std::optional<uint16_t> NameMap::idOf(const store::NamedPropName& name) const {
    for (const auto& e : entries_)
        if (e.name == name) return e.propId;
    return std::nullopt;
}

}  // namespace tavrin::pst::messaging
