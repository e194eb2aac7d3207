#include "store/pst/messaging/records.h"

#include "store/pst/ndb/crc.h"

namespace tavrin::pst::messaging {

using store::ByteReader;
using store::ByteWriter;

std::optional<NameId> NameId::decode(ByteSpan s) {
    ByteReader r(s);
    NameId v;
    v.dwPropertyID = r.u32();
    const uint16_t guidAndN = r.u16();
    v.wPropIdx = r.u16();
    if (!r.ok()) return std::nullopt;
    v.n = (guidAndN & 1) != 0;
    v.wGuid = static_cast<uint16_t>(guidAndN >> 1);
    return v;
}

Bytes NameId::encode() const {
    ByteWriter w(kSize);
    w.u32(dwPropertyID);
    w.u16(static_cast<uint16_t>((wGuid << 1) | (n ? 1 : 0)));
    w.u16(wPropIdx);
    return w.take();
}

uint32_t nameHashKey(std::u16string_view name) {
    Bytes b;
    b.reserve(name.size() * 2);
    for (char16_t c : name) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    return ndb::computeCrc(b);
}

uint32_t nameBucketIndex(uint32_t key, uint16_t wGuid, bool isString, uint32_t bucketCount) {
    if (bucketCount == 0) return 0;
    return (key ^ ((uint32_t(wGuid) << 1) | (isString ? 1u : 0u))) % bucketCount;
}

std::optional<EntryId> EntryId::decode(ByteSpan s) {
    ByteReader r(s);
    EntryId e;
    e.rgbFlags = r.u32();
    auto g = store::Guid::fromSpan(r.bytes(16));
    e.nid = r.u32();
    if (!r.ok() || !g) return std::nullopt;
    e.uid = *g;
    return e;
}

Bytes EntryId::encode() const {
    ByteWriter w(kSize);
    w.u32(rgbFlags);
    w.bytes(uid.b);
    w.u32(nid);
    return w.take();
}

}  // namespace tavrin::pst::messaging
