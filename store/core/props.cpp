#include "store/core/props.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdio>

#include "fs/text.h"

namespace tavrin::store {

const Guid PS_MAPI = {{0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const Guid PS_PUBLIC_STRINGS = {{0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool isKnownType(uint16_t type) {
    if (type & MV_INSTANCE) return false;
    const uint16_t b = baseType(type);
    if (isMultiValued(type) && (b == PT_OBJECT || b == PT_BOOLEAN || b == PT_ERROR || b == PT_NULL))
        return false;
    switch (b) {
        case PT_NULL: case PT_I2: case PT_LONG: case PT_R4: case PT_DOUBLE: case PT_CURRENCY:
        case PT_APPTIME: case PT_ERROR: case PT_BOOLEAN: case PT_OBJECT: case PT_I8:
        case PT_STRING8: case PT_UNICODE: case PT_SYSTIME: case PT_CLSID: case PT_SVREID:
        case PT_SRESTRICT: case PT_ACTIONS: case PT_BINARY:
            return true;
        default:
            return false;
    }
}

std::string Guid::toString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  loadLE32(b.data()), loadLE16(b.data() + 4), loadLE16(b.data() + 6), b[8], b[9], b[10],
                  b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

std::optional<Guid> Guid::fromSpan(ByteSpan s) {
    if (s.size() < 16) return std::nullopt;
    Guid g;
    std::copy_n(s.begin(), 16, g.b.begin());
    return g;
}

Property Property::int16(uint32_t tag, int16_t v) {
    Property p;
    p.tag = tag;
    p.scalar = static_cast<uint16_t>(v);
    return p;
}
Property Property::int32(uint32_t tag, int32_t v) {
    Property p;
    p.tag = tag;
    p.scalar = static_cast<uint32_t>(v);
    return p;
}
Property Property::int64(uint32_t tag, int64_t v) {
    Property p;
    p.tag = tag;
    p.scalar = static_cast<uint64_t>(v);
    return p;
}
Property Property::boolean(uint32_t tag, bool v) {
    Property p;
    p.tag = tag;
    p.scalar = v ? 1 : 0;
    return p;
}
Property Property::systime(uint32_t tag, uint64_t filetime) {
    Property p;
    p.tag = tag;
    p.scalar = filetime;
    return p;
}
Property Property::unicode(uint32_t tag, std::u16string_view v) {
    Property p;
    p.tag = tag;
    if constexpr (std::endian::native == std::endian::little) {
        // UTF-16LE is the string's own layout: one copy of its bytes.
        const auto* b = reinterpret_cast<const uint8_t*>(v.data());
        p.data.assign(b, b + v.size() * 2);
    } else {
        p.data.resize(v.size() * 2);
        for (size_t i = 0; i < v.size(); ++i) storeLE16(p.data.data() + 2 * i, v[i]);
    }
    return p;
}
Property Property::unicodeUtf8(uint32_t tag, std::string_view v) {
    Property p;
    p.tag = tag;
    text::appendUtf16Le(v, p.data);
    return p;
}
Property Property::string8(uint32_t tag, ByteSpan v) {
    Property p;
    p.tag = tag;
    p.data.assign(v.begin(), v.end());
    return p;
}
Property Property::binary(uint32_t tag, ByteSpan v) {
    Property p;
    p.tag = tag;
    p.data.assign(v.begin(), v.end());
    return p;
}
Property Property::binary(uint32_t tag, Bytes&& v) {
    Property p;
    p.tag = tag;
    p.data = std::move(v);
    return p;
}

std::u16string Property::asUnicode() const {
    std::u16string s;
    if (baseType(type()) != PT_UNICODE || isMultiValued(type())) return s;
    s.resize(data.size() / 2);
    if constexpr (std::endian::native == std::endian::little) {
        // memcpy is not given the null pointer of an empty value.
        if (!s.empty()) std::memcpy(s.data(), data.data(), s.size() * 2);
    } else {
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char16_t>(loadLE16(data.data() + 2 * i));
    }
    return s;
}

const Property* PropertyBag::findTag(uint32_t tag) const {
    for (const auto& p : items_)
        if (p.tag == tag) return &p;
    return nullptr;
}
Property* PropertyBag::findTag(uint32_t tag) {
    return const_cast<Property*>(static_cast<const PropertyBag*>(this)->findTag(tag));
}

const Property* PropertyBag::find(uint16_t id) const {
    const Property* first = nullptr;
    for (const auto& p : items_) {
        if (p.id() != id) continue;
        if (p.type() == PT_UNICODE || p.type() == (PT_UNICODE | MV_FLAG)) return &p;
        if (!first) first = &p;
    }
    return first;
}
Property* PropertyBag::find(uint16_t id) {
    return const_cast<Property*>(static_cast<const PropertyBag*>(this)->find(id));
}

const Property* PropertyBag::findNamed(const NamedPropName& name) const {
    for (const auto& p : items_)
        if (p.name && *p.name == name) return &p;
    return nullptr;
}

void PropertyBag::set(Property p) {
    const uint16_t id = p.id();
    auto it = std::find_if(items_.begin(), items_.end(), [&](const Property& q) { return q.id() == id; });
    if (it == items_.end()) {
        items_.push_back(std::move(p));
        return;
    }
    *it = std::move(p);
    items_.erase(std::remove_if(it + 1, items_.end(), [&](const Property& q) { return q.id() == id; }),
                 items_.end());
}

size_t PropertyBag::erase(uint16_t id) {
    const size_t before = items_.size();
    items_.erase(std::remove_if(items_.begin(), items_.end(), [&](const Property& q) { return q.id() == id; }),
                 items_.end());
    return before - items_.size();
}

std::optional<int32_t> PropertyBag::getInt32(uint16_t id) const {
    const Property* p = find(id);
    if (!p || (p->type() != PT_LONG && p->type() != PT_ERROR)) return std::nullopt;
    return p->asInt32();
}
std::optional<bool> PropertyBag::getBool(uint16_t id) const {
    const Property* p = find(id);
    if (!p || p->type() != PT_BOOLEAN) return std::nullopt;
    return p->asBool();
}
std::optional<uint64_t> PropertyBag::getSystime(uint16_t id) const {
    const Property* p = find(id);
    if (!p || p->type() != PT_SYSTIME) return std::nullopt;
    return p->scalar;
}

}  // namespace tavrin::store
