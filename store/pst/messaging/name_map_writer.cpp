#include "store/pst/messaging/name_map_writer.h"

#include <algorithm>


namespace tavrin::pst::messaging {

using store::storeLE16;
using store::storeLE32;

namespace {
// [MS-PST] 2.4.7.1 NAMEID.
void putNameId(Bytes& out, uint32_t propertyId, bool isString, uint16_t wGuid, uint16_t index) {
    const Bytes e = NameId{propertyId, isString, wGuid, index}.encode();
    out.insert(out.end(), e.begin(), e.end());
}
}  // namespace

NameMapWriter::NameMapWriter() {
    // PSETID_Appointment {00062002-0000-0000-C000-000000000046}.
    const store::Guid appointment{{0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x46}};
    for (uint32_t lid : {0x8205u, 0x8223u, 0x8231u, 0x8216u, 0x820Du, 0x820Eu, 0x8235u, 0x8236u, 0x8233u}) {
        store::NamedPropName n;
        n.guid = appointment;
        n.lid = lid;
        (void)idFor(n);
    }
    // PS_INTERNET_HEADERS {00020386-0000-0000-C000-000000000046}: the four
    // string names Outlook registers next. Besides matching Outlook's map,
    // they keep the string stream from being empty: some readers take an
    // empty stream value for a missing subnode and give up on the file.
    const store::Guid internetHeaders{{0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x00, 0x46}};
    for (const char16_t* s : {u"content-class", u"DRMLicense", u"x-cr-hashedpuzzle", u"x-cr-puzzleid"}) {
        store::NamedPropName n;
        n.guid = internetHeaders;
        n.isString = true;
        n.name = s;
        (void)idFor(n);
    }
}


NameMapWriter NameMapWriter::extending(const NameMap& existing) {
    NameMapWriter w{Uninit{}};
    if (existing.bucketCount() != 0) w.bucketCount_ = existing.bucketCount();
    const Bytes& gs = existing.guidStream();
    for (size_t at = 0; at + 16 <= gs.size(); at += 16) w.guids_.push_back(*store::Guid::fromSpan(ByteSpan(gs).subspan(at, 16)));
    w.baseEntries_ = existing.entryStream();
    w.baseEntries_.resize(w.baseEntries_.size() / NameId::kSize * NameId::kSize);
    w.baseStrings_ = existing.stringStream();
    while (w.baseStrings_.size() % 4) w.baseStrings_.push_back(0);
    w.baseBuckets_ = existing.buckets();
    for (size_t at = 0; at < w.baseEntries_.size(); at += NameId::kSize) {
        const NameId id = *NameId::decode(ByteSpan(w.baseEntries_).subspan(at, NameId::kSize));
        w.base_ = std::max<uint32_t>(w.base_, uint32_t(id.wPropIdx) + 1);
    }
    for (const NameMapEntry& e : existing.entries()) w.ids_.emplace(e.name, e.propId);
    return w;
}

uint16_t NameMapWriter::guidIndex(const store::Guid& g) {
    if (g == store::PS_MAPI) return kGuidIndexMapi;
    if (g == store::PS_PUBLIC_STRINGS) return kGuidIndexPublicStrings;
    for (size_t i = 0; i < guids_.size(); ++i)
        if (guids_[i] == g) return static_cast<uint16_t>(kGuidIndexFirst + i);
    guids_.push_back(g);
    return static_cast<uint16_t>(kGuidIndexFirst + guids_.size() - 1);
}

std::optional<uint16_t> NameMapWriter::idFor(const store::NamedPropName& name) {
    if (name.guid == store::PS_MAPI && !name.isString && name.lid < 0x8000) return static_cast<uint16_t>(name.lid);
    if (auto it = ids_.find(name); it != ids_.end()) return it->second;
    if (base_ + entries_.size() >= kMaxNames) return std::nullopt;
    // wGuid is 15 bits: the GUID stream holds at most 0x7FFC GUIDs.
    const bool wellKnown = name.guid == store::PS_MAPI || name.guid == store::PS_PUBLIC_STRINGS;
    if (!wellKnown && guids_.size() >= 0x7FFC &&
        std::find(guids_.begin(), guids_.end(), name.guid) == guids_.end())
        return std::nullopt;
    const uint16_t id = static_cast<uint16_t>(0x8000 + base_ + entries_.size());
    wGuids_.push_back(guidIndex(name.guid));
    entries_.push_back(name);
    ids_.emplace(name, id);
    return id;
}

std::vector<store::Property> NameMapWriter::properties() const {
    Bytes guidStream, entryStream = baseEntries_, stringStream = baseStrings_;
    for (const store::Guid& g : guids_) guidStream.insert(guidStream.end(), g.b.begin(), g.b.end());
    std::vector<Bytes> buckets(bucketCount_);
    for (const auto& [id, bytes] : baseBuckets_)
        if (id >= PidTagNameidBucketBase && uint32_t(id - PidTagNameidBucketBase) < bucketCount_) buckets[id - PidTagNameidBucketBase] = bytes;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const store::NamedPropName& n = entries_[i];
        const uint16_t wGuid = wGuids_[i];
        const uint16_t index = static_cast<uint16_t>(base_ + i);
        uint32_t key;
        if (n.isString) {
            // [MS-PST] 2.4.7.4 string stream: length, UTF-16LE name, each
            // entry on a 4-byte boundary.
            const uint32_t offset = static_cast<uint32_t>(stringStream.size());
            const size_t at = stringStream.size();
            stringStream.resize(at + 4 + n.name.size() * 2);
            storeLE32(&stringStream[at], static_cast<uint32_t>(n.name.size() * 2));
            for (size_t c = 0; c < n.name.size(); ++c) storeLE16(&stringStream[at + 4 + 2 * c], n.name[c]);
            while (stringStream.size() % 4) stringStream.push_back(0);
            putNameId(entryStream, offset, true, wGuid, index);
            key = nameHashKey(n.name);
        } else {
            putNameId(entryStream, n.lid, false, wGuid, index);
            key = n.lid;
        }
        // [MS-PST] 2.4.7.5 hash bucket; its NAMEID carries the key.
        const uint32_t bucket = nameBucketIndex(key, wGuid, n.isString, bucketCount_);
        putNameId(buckets[bucket], key, n.isString, wGuid, index);
    }
    std::vector<store::Property> out;
    out.push_back(store::Property::int32(store::makeTag(PidTagNameidBucketCount, store::PT_LONG), static_cast<int32_t>(bucketCount_)));
    out.push_back(store::Property::binary(store::makeTag(PidTagNameidStreamGuid, store::PT_BINARY), guidStream));
    out.push_back(store::Property::binary(store::makeTag(PidTagNameidStreamEntry, store::PT_BINARY), entryStream));
    out.push_back(store::Property::binary(store::makeTag(PidTagNameidStreamString, store::PT_BINARY), stringStream));
    for (uint32_t b = 0; b < bucketCount_; ++b)
        if (!buckets[b].empty())
            out.push_back(store::Property::binary(store::makeTag(static_cast<uint16_t>(PidTagNameidBucketBase + b), store::PT_BINARY),
                                                  buckets[b]));
    return out;
}

}  // namespace tavrin::pst::messaging
