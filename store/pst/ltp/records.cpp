#include "store/pst/ltp/records.h"

#include <string>

#include "store/core/props.h"

namespace tavrin::pst::ltp {

using store::ByteReader;
using store::ByteWriter;
using store::putLE16;
using store::putLE32;

namespace {
Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }
}  // namespace

std::optional<HNHDR> HNHDR::decode(ByteSpan s) {
    ByteReader r(s);
    HNHDR h;
    h.ibHnpm = r.u16();
    h.bSig = r.u8();
    h.bClientSig = r.u8();
    h.hidUserRoot = r.u32();
    auto fl = r.bytes(4);
    if (!r.ok()) return std::nullopt;
    std::copy(fl.begin(), fl.end(), h.rgbFillLevel.begin());
    return h;
}

bool HNHDR::encode(MutableByteSpan out) const {
    if (out.size() < kSize) return false;
    (void)putLE16(out, 0, ibHnpm);
    out[2] = bSig;
    out[3] = bClientSig;
    (void)putLE32(out, 4, hidUserRoot);
    return store::putBytes(out, 8, rgbFillLevel);
}

std::optional<HNPAGEHDR> HNPAGEHDR::decode(ByteSpan s) {
    auto v = store::getLE16(s, 0);
    if (!v) return std::nullopt;
    return HNPAGEHDR{*v};
}

bool HNPAGEHDR::encode(MutableByteSpan out) const { return putLE16(out, 0, ibHnpm); }

std::optional<HNBITMAPHDR> HNBITMAPHDR::decode(ByteSpan s) {
    ByteReader r(s);
    HNBITMAPHDR h;
    h.ibHnpm = r.u16();
    auto fl = r.bytes(64);
    if (!r.ok()) return std::nullopt;
    std::copy(fl.begin(), fl.end(), h.rgbFillLevel.begin());
    return h;
}

bool HNBITMAPHDR::encode(MutableByteSpan out) const {
    return putLE16(out, 0, ibHnpm) && store::putBytes(out, 2, rgbFillLevel);
}

Result<HNPAGEMAP> HNPAGEMAP::decode(ByteSpan block, uint16_t ibHnpm) {
    ByteReader r(block);
    r.seek(ibHnpm);
    const uint16_t cAlloc = r.u16();
    HNPAGEMAP m;
    m.cFree = r.u16();
    if (!r.ok()) return corrupt("HNPAGEMAP at " + std::to_string(ibHnpm) + " lies outside its block");
    if ((uint64_t(cAlloc) + 1) * 2 > r.remaining())
        return corrupt("HNPAGEMAP: " + std::to_string(cAlloc) + " allocations do not fit the block");
    m.rgibAlloc.reserve(size_t(cAlloc) + 1);
    for (uint32_t i = 0; i <= cAlloc; ++i) m.rgibAlloc.push_back(r.u16());
    return m;
}

Bytes HNPAGEMAP::encode() const {
    ByteWriter w(size());
    w.u16(cAlloc());
    w.u16(cFree);
    if (rgibAlloc.empty()) w.u16(0);  // cAlloc 0 still has the end offset
    for (auto ib : rgibAlloc) w.u16(ib);
    return w.take();
}

uint8_t fillLevelFor(uint32_t freeBytes) {
    static constexpr uint32_t kBounds[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768, 512, 256, 128, 64, 32, 16, 8};
    for (uint8_t i = 0; i < 15; ++i)
        if (freeBytes >= kBounds[i]) return i;
    return 0x0F;
}

std::optional<BTHHEADER> BTHHEADER::decode(ByteSpan s) {
    ByteReader r(s);
    BTHHEADER h;
    h.bType = r.u8();
    h.cbKey = r.u8();
    h.cbEnt = r.u8();
    h.bIdxLevels = r.u8();
    h.hidRoot = r.u32();
    if (!r.ok()) return std::nullopt;
    return h;
}

bool BTHHEADER::encode(MutableByteSpan out) const {
    if (out.size() < kSize) return false;
    out[0] = bType;
    out[1] = cbKey;
    out[2] = cbEnt;
    out[3] = bIdxLevels;
    return putLE32(out, 4, hidRoot);
}

Bytes BTHHEADER::encode() const {
    Bytes b(kSize);
    (void)encode(MutableByteSpan(b));
    return b;
}

std::optional<PropEntry> PropEntry::decode(ByteSpan s) {
    ByteReader r(s);
    PropEntry e;
    e.wPropId = r.u16();
    e.wPropType = r.u16();
    e.dwValueHnid = r.u32();
    if (!r.ok()) return std::nullopt;
    return e;
}

bool PropEntry::encode(MutableByteSpan out) const {
    return putLE16(out, 0, wPropId) && putLE16(out, 2, wPropType) && putLE32(out, 4, dwValueHnid);
}

bool storedInline(uint16_t propType) {
    switch (propType) {
        case store::PT_I2: case store::PT_LONG: case store::PT_R4: case store::PT_ERROR: case store::PT_BOOLEAN:
            return true;
        default:
            return false;
    }
}

std::optional<ObjectRef> ObjectRef::decode(ByteSpan s) {
    ByteReader r(s);
    ObjectRef o;
    o.nid = r.u32();
    o.ulSize = r.u32();
    if (!r.ok()) return std::nullopt;
    return o;
}

Bytes ObjectRef::encode() const {
    ByteWriter w(kSize);
    w.u32(nid);
    w.u32(ulSize);
    return w.take();
}

Result<std::vector<Bytes>> decodeMultiFixed(ByteSpan s, uint32_t elementSize) {
    if (elementSize == 0 || s.size() % elementSize != 0)
        return corrupt("multi-valued property: " + std::to_string(s.size()) + " bytes is not a multiple of " +
                       std::to_string(elementSize));
    std::vector<Bytes> out;
    out.reserve(s.size() / elementSize);
    for (size_t at = 0; at < s.size(); at += elementSize) out.emplace_back(s.begin() + at, s.begin() + at + elementSize);
    return out;
}

Result<std::vector<Bytes>> decodeMultiVariable(ByteSpan s) {
    ByteReader r(s);
    const uint32_t count = r.u32();
    if (!r.ok()) return corrupt("multi-valued property: no count");
    if (uint64_t(count) * 4 > r.remaining())
        return corrupt("multi-valued property: " + std::to_string(count) + " offsets do not fit " +
                       std::to_string(s.size()) + " bytes");
    std::vector<uint32_t> offs(count);
    for (auto& o : offs) o = r.u32();
    const uint64_t dataStart = 4 + uint64_t(count) * 4;
    std::vector<Bytes> out;
    out.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t begin = offs[i];
        const uint64_t end = i + 1 < count ? offs[i + 1] : s.size();
        // Equal offsets are an empty element, which Outlook writes.
        if (begin < dataStart || begin > end || end > s.size())
            return corrupt("multi-valued property: element " + std::to_string(i) + " offset out of range");
        out.emplace_back(s.begin() + begin, s.begin() + end);
    }
    return out;
}

Bytes encodeMultiFixed(const std::vector<Bytes>& values) {
    ByteWriter w;
    for (const auto& v : values) w.bytes(v);
    return w.take();
}

Bytes encodeMultiVariable(const std::vector<Bytes>& values) {
    ByteWriter w;
    w.u32(static_cast<uint32_t>(values.size()));
    uint32_t at = 4 + 4 * static_cast<uint32_t>(values.size());
    for (const auto& v : values) {
        w.u32(at);
        at += static_cast<uint32_t>(v.size());
    }
    for (const auto& v : values) w.bytes(v);
    return w.take();
}

TCOLDESC TCOLDESC::read(ByteReader& r) {
    TCOLDESC c;
    c.tag = r.u32();
    c.ibData = r.u16();
    c.cbData = r.u8();
    c.iBit = r.u8();
    return c;
}

std::optional<TCOLDESC> TCOLDESC::decode(ByteSpan s) {
    ByteReader r(s);
    const TCOLDESC c = read(r);
    if (!r.ok()) return std::nullopt;
    return c;
}

bool TCOLDESC::encode(MutableByteSpan out) const {
    if (out.size() < kSize) return false;
    (void)putLE32(out, 0, tag);
    (void)putLE16(out, 4, ibData);
    out[6] = cbData;
    out[7] = iBit;
    return true;
}

Result<TCINFO> TCINFO::decode(ByteSpan s) {
    ByteReader r(s);
    TCINFO t;
    t.bType = r.u8();
    const uint8_t cCols = r.u8();
    for (auto& ib : t.rgib) ib = r.u16();
    t.hidRowIndex = r.u32();
    t.hnidRows = r.u32();
    t.hidIndex = r.u32();
    if (!r.ok()) return corrupt("TCINFO: truncated");
    if (t.bType != bTypeTC) return corrupt("TCINFO: bType " + std::to_string(t.bType) + " is not 0x7C");
    if (uint64_t(cCols) * TCOLDESC::kSize > r.remaining())
        return corrupt("TCINFO: " + std::to_string(cCols) + " columns do not fit " + std::to_string(s.size()) + " bytes");
    t.cols.reserve(cCols);
    // All of them fit (checked above).
    for (uint32_t i = 0; i < cCols; ++i) t.cols.push_back(TCOLDESC::read(r));
    return t;
}

Bytes TCINFO::encode() const {
    Bytes out(size(), 0);
    MutableByteSpan s(out);
    s[0] = bType;
    s[1] = static_cast<uint8_t>(cols.size());
    for (size_t i = 0; i < 4; ++i) (void)putLE16(s, 2 + 2 * i, rgib[i]);
    (void)putLE32(s, 10, hidRowIndex);
    (void)putLE32(s, 14, hnidRows);
    (void)putLE32(s, 18, hidIndex);
    for (size_t i = 0; i < cols.size(); ++i) (void)cols[i].encode(s.subspan(kHeadSize + TCOLDESC::kSize * i));
    return out;
}

std::optional<TCROWID> TCROWID::decode(ByteSpan s, Flavour f) {
    ByteReader r(s);
    TCROWID v;
    v.dwRowID = r.u32();
    v.dwRowIndex = f == Flavour::Unicode ? r.u32() : r.u16();
    if (!r.ok()) return std::nullopt;
    return v;
}

bool TCROWID::encode(MutableByteSpan out, Flavour f) const {
    if (!putLE32(out, 0, dwRowID)) return false;
    return f == Flavour::Unicode ? putLE32(out, 4, dwRowIndex) : putLE16(out, 4, static_cast<uint16_t>(dwRowIndex));
}

}  // namespace tavrin::pst::ltp
