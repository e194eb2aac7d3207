#include "store/pst/ltp/property_reader.h"

#include <algorithm>
#include <string>

namespace tavrin::pst::ltp {

using ndb::hex;
using store::Property;

namespace {

Error corrupt(const std::string& what) { return makeError(err::kCorrupt, what); }

std::string tagText(uint32_t tag) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", tag);
    return b;
}

// Size of one element of a multi-valued type with fixed-size elements, 0
// for the variable-size ones.
uint32_t multiElementSize(uint16_t type) {
    const uint16_t b = store::baseType(type);
    if (b == store::PT_CLSID) return 16;
    return store::fixedSize(b);
}

Error wrongFixedSize(uint32_t tag, size_t have, uint32_t want) {
    return corrupt("property " + tagText(tag) + ": " + std::to_string(have) + " bytes where " + std::to_string(want) +
                   " were expected");
}

}  // namespace

Result<Bytes> readHnid(const Heap& heap, const ndb::Node& node, uint32_t hnid) {
    if (hnid == 0) return Bytes{};
    if (hnidIsHid(hnid)) {
        auto a = heap.get(hnid);
        if (!a) return std::move(a).error();
        return Bytes(a->begin(), a->end());
    }
    auto sub = node.subnode(hnid);
    if (!sub) return std::move(sub).error();
    return sub->data();
}

Result<Property> propertyFromBytes(uint32_t tag, ByteSpan raw) {
    Property p;
    p.tag = tag;
    const uint16_t type = store::tagType(tag);
    if (store::isMultiValued(type)) {
        const uint32_t el = multiElementSize(type);
        auto values = el ? decodeMultiFixed(raw, el) : decodeMultiVariable(raw);
        if (!values) return Error(values.error()).prefixed("property " + tagText(tag));
        p.multi = std::move(values).value();
        return p;
    }
    const uint32_t fixed = store::fixedSize(type);
    if (fixed > 0) {
        if (raw.size() != fixed) return wrongFixedSize(tag, raw.size(), fixed);
        uint64_t v = 0;
        for (size_t i = fixed; i-- > 0;) v = (v << 8) | raw[i];
        p.scalar = type == store::PT_BOOLEAN ? (v != 0) : v;
        return p;
    }
    p.data.assign(raw.begin(), raw.end());
    return p;
}

Status checkPropertyBytes(uint32_t tag, ByteSpan raw) {
    const uint16_t type = store::tagType(tag);
    if (store::isMultiValued(type)) {
        auto p = propertyFromBytes(tag, raw);
        if (!p) return std::move(p).error();
        return {};
    }
    const uint32_t fixed = store::fixedSize(type);
    if (fixed > 0 && raw.size() != fixed) return wrongFixedSize(tag, raw.size(), fixed);
    return {};
}

Result<Heap> readHeap(const ndb::Node& node) {
    auto blocks = node.dataBlocks();
    if (!blocks) return std::move(blocks).error();
    return heapFromBlocks(node, std::move(blocks).value());
}

Result<Heap> heapFromBlocks(const ndb::Node& node, std::vector<Bytes> blocks) {
    auto h = Heap::open(std::move(blocks));
    if (!h) return Error(h.error()).prefixed("node " + hex(node.nid()));
    return h;
}

// ---- PropertyContext ----

Result<PropertyContext> PropertyContext::open(const ndb::Node& node) {
    auto heap = readHeap(node);
    if (!heap) return std::move(heap).error();
    return open(node, std::make_shared<const Heap>(std::move(heap).value()));
}

Result<PropertyContext> PropertyContext::open(const ndb::Node& node, std::shared_ptr<const Heap> heap) {
    auto where = [&] { return "property context " + hex(node.nid()); };
    if (heap->clientSig() != bTypePC) return corrupt(where() + ": heap bClientSig " + hex(heap->clientSig()) + " is not 0xBC");
    PropertyContext pc;
    pc.node_ = node;
    pc.heap_ = std::move(heap);
    auto bth = Bth::open(*pc.heap_, pc.heap_->userRoot());
    if (!bth) return Error(bth.error()).prefixed(where());
    if (bth->header().cbKey != kPcKeySize || bth->header().cbEnt != kPcDataSize)
        return corrupt(where() + ": BTH cbKey/cbEnt " + std::to_string(bth->header().cbKey) + "/" +
                       std::to_string(bth->header().cbEnt) + " are not 2/6");
    auto recs = bth->records();
    if (!recs) return Error(recs.error()).prefixed(where());
    pc.entries_.reserve(recs->size());
    for (const auto& r : *recs) {
        PropEntry e;
        e.wPropId = store::loadLE16(r.key.data());
        e.wPropType = store::loadLE16(r.data.data());
        e.dwValueHnid = store::loadLE32(r.data.data() + 2);
        pc.entries_.push_back(e);
    }
    return pc;
}

Result<Property> PropertyContext::read(const PropEntry& e) const {
    const uint32_t tag = store::makeTag(e.wPropId, e.wPropType);
    if (storedInline(e.wPropType)) {
        Property p;
        p.tag = tag;
        switch (e.wPropType) {
            case store::PT_I2: p.scalar = e.dwValueHnid & 0xFFFF; break;
            case store::PT_BOOLEAN: p.scalar = (e.dwValueHnid & 0xFF) != 0; break;
            default: p.scalar = e.dwValueHnid; break;
        }
        return p;
    }
    auto raw = readHnid(*heap_, node_, e.dwValueHnid);
    if (!raw) return Error(raw.error()).prefixed("property context " + hex(node_.nid()) + ": property " + tagText(tag));
    auto p = propertyFromBytes(tag, *raw);
    if (!p) return Error(p.error()).prefixed("property context " + hex(node_.nid()));
    return p;
}

Result<std::vector<Property>> PropertyContext::readAll() const {
    std::vector<Property> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) {
        auto p = read(e);
        if (!p) return std::move(p).error();
        out.push_back(std::move(p).value());
    }
    return out;
}

// ---- TableContext ----

Result<TableContext> TableContext::open(const ndb::Node& node) {
    auto heap = readHeap(node);
    if (!heap) return std::move(heap).error();
    return open(node, std::make_shared<const Heap>(std::move(heap).value()));
}

Result<TableContext> TableContext::open(const ndb::Node& node, std::shared_ptr<const Heap> heap) {
    auto where = [&] { return "table context " + hex(node.nid()); };
    if (heap->clientSig() != bTypeTC) return corrupt(where() + ": heap bClientSig " + hex(heap->clientSig()) + " is not 0x7C");
    TableContext tc;
    tc.node_ = node;
    tc.heap_ = std::move(heap);
    auto infoBytes = tc.heap_->get(tc.heap_->userRoot());
    if (!infoBytes) return Error(infoBytes.error()).prefixed(where());
    auto info = TCINFO::decode(*infoBytes);
    if (!info) return Error(info.error()).prefixed(where());
    tc.info_ = std::move(info).value();
    const uint32_t rowSize = tc.info_.rowSize();
    for (const auto& c : tc.info_.cols)
        if (uint32_t(c.ibData) + c.cbData > rowSize)
            return corrupt(where() + ": column " + tagText(c.tag) + " lies outside the " + std::to_string(rowSize) + "-byte row");
    if (tc.info_.hnidRows == 0) return tc;
    if (rowSize == 0) return corrupt(where() + ": rows of 0 bytes");
    if (hnidIsHid(tc.info_.hnidRows)) {
        auto rows = tc.heap_->get(tc.info_.hnidRows);
        if (!rows) return Error(rows.error()).prefixed(where() + ": row matrix");
        tc.rowBlocks_.emplace_back(rows->begin(), rows->end());
    } else {
        auto sub = node.subnode(tc.info_.hnidRows);
        if (!sub) return Error(sub.error()).prefixed(where() + ": row matrix");
        auto blocks = sub->dataBlocks();
        if (!blocks) return Error(blocks.error()).prefixed(where() + ": row matrix");
        tc.rowBlocks_ = std::move(blocks).value();
    }
    const uint32_t perBlock = rowsPerBlock(rowSize, node.database()->flavour());
    uint64_t count = 0;
    for (const auto& b : tc.rowBlocks_) {
        tc.rowsBefore_.push_back(static_cast<uint32_t>(count));
        uint64_t n = b.size() / rowSize;
        if (tc.rowsInSubnode()) n = std::min<uint64_t>(n, perBlock);
        count += n;
    }
    if (count > UINT32_MAX) return corrupt(where() + ": too many rows");
    tc.rowCount_ = static_cast<uint32_t>(count);
    return tc;
}

Result<std::vector<TCROWID>> TableContext::rowIndex() const {
    auto where = [&] { return "table context " + hex(node_.nid()) + ": row index"; };
    auto bth = Bth::open(*heap_, info_.hidRowIndex);
    if (!bth) return Error(bth.error()).prefixed(where());
    const Flavour f = node_.database()->flavour();
    // ANSI files use 2-byte dwRowIndex values, and sometimes 4-byte ones as
    // Unicode files do (Outlook's sample2.pst).
    const bool entOk = bth->header().cbEnt == TCROWID::size(f) - 4 || (f == Flavour::Ansi && bth->header().cbEnt == 4);
    if (bth->header().cbKey != 4 || !entOk)
        return corrupt(where() + ": BTH cbKey/cbEnt " + std::to_string(bth->header().cbKey) + "/" +
                       std::to_string(bth->header().cbEnt) + " do not fit TCROWID");
    auto recs = bth->records();
    if (!recs) return Error(recs.error()).prefixed(where());
    std::vector<TCROWID> out;
    out.reserve(recs->size());
    for (const auto& r : *recs) {
        TCROWID id;
        id.dwRowID = store::loadLE32(r.key.data());
        id.dwRowIndex = r.data.size() >= 4 ? store::loadLE32(r.data.data()) : store::loadLE16(r.data.data());
        out.push_back(id);
    }
    return out;
}

ByteSpan TableContext::rowBytes(uint32_t i) const {
    if (i >= rowCount_) return {};
    auto it = std::upper_bound(rowsBefore_.begin(), rowsBefore_.end(), i);
    const size_t b = static_cast<size_t>(it - rowsBefore_.begin()) - 1;
    const uint32_t rowSize = info_.rowSize();
    return ByteSpan(rowBlocks_[b]).subspan(size_t(i - rowsBefore_[b]) * rowSize, rowSize);
}

uint32_t TableContext::rowId(uint32_t i) const {
    ByteSpan r = rowBytes(i);
    const TCOLDESC* c = column(PidTagLtpRowId);
    const uint32_t at = c ? c->ibData : 0;
    return store::inBounds(r.size(), at, 4) ? store::loadLE32(r.data() + at) : 0;
}

const TCOLDESC* TableContext::column(uint32_t tag) const {
    for (const auto& c : info_.cols)
        if (c.tag == tag) return &c;
    return nullptr;
}

Result<std::optional<Property>> TableContext::cell(uint32_t i, const TCOLDESC& col) const {
    ByteSpan r = rowBytes(i);
    if (r.empty()) return makeError(err::kNotFound, "table context " + hex(node_.nid()) + ": no row " + std::to_string(i));
    if (!cebBit(r, info_.rgib[TCI_1b], col.iBit)) return std::optional<Property>{};
    ByteSpan c = r.subspan(col.ibData, col.cbData);
    const uint16_t type = store::tagType(col.tag);
    const uint32_t fixed = store::fixedSize(type);
    if (!store::isMultiValued(type) && fixed > 0) {
        Property p;
        p.tag = col.tag;
        uint64_t v = 0;
        for (size_t k = std::min<size_t>(c.size(), 8); k-- > 0;) v = (v << 8) | c[k];
        p.scalar = type == store::PT_BOOLEAN ? (v & 0xFF) != 0 : v;
        return std::optional<Property>(std::move(p));
    }
    if (c.size() < 4)
        return corrupt("table context " + hex(node_.nid()) + ": column " + tagText(col.tag) + " has a " +
                       std::to_string(c.size()) + "-byte cell for an HNID");
    auto raw = readHnid(*heap_, node_, store::loadLE32(c.data()));
    if (!raw) return Error(raw.error()).prefixed("table context " + hex(node_.nid()) + ": row " + std::to_string(i) + " column " + tagText(col.tag));
    auto p = propertyFromBytes(col.tag, *raw);
    if (!p) return Error(p.error()).prefixed("table context " + hex(node_.nid()) + ": row " + std::to_string(i));
    return std::optional<Property>(std::move(p).value());
}

Result<std::vector<Property>> TableContext::row(uint32_t i) const {
    std::vector<Property> out;
    for (const auto& col : info_.cols) {
        auto c = cell(i, col);
        if (!c) return std::move(c).error();
        if (*c) out.push_back(std::move(**c));
    }
    return out;
}

}  // namespace tavrin::pst::ltp
