// The property-bag model shared by the message file reader, the PST reader
// and the PST writer.
//
// A property is a 32-bit tag (property id in the high word, property type in
// the low word, [MS-OXCDATA] 2.9 and 2.11.1) and a value kept in its raw
// little-endian form, exactly as both file formats store it:
//   - fixed-size single values in `scalar` (PT_BOOLEAN as 0 or 1);
//   - variable-size single values in `data`: PT_UNICODE as UTF-16LE code
//     units without a terminator, PT_STRING8 as 8-bit bytes without a
//     terminator (their code page is the message's, see Message::codepage),
//     PT_BINARY, PT_CLSID (16 bytes) and the other stream-stored types raw;
//   - multi-valued properties in `multi`, one raw element each (fixed-size
//     elements as their little-endian bytes).
// PT_OBJECT values (embedded messages and OLE storages) live on the
// Attachment, not in the bag; the bag then holds the tag with no data.
//
// A property whose id is 0x8000 or above is a named property: `name` carries
// its GUID and numeric id or string name, which is what identifies it across
// files. Its id is only meaningful inside the file it came from; writers map
// the name to their own id.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/core/bytes.h"

namespace tavrin::store {

// [MS-OXCDATA] 2.11.1 property types.
enum PropType : uint16_t {
    PT_UNSPECIFIED = 0x0000,
    PT_NULL = 0x0001,
    PT_I2 = 0x0002,
    PT_LONG = 0x0003,
    PT_R4 = 0x0004,
    PT_DOUBLE = 0x0005,
    PT_CURRENCY = 0x0006,
    PT_APPTIME = 0x0007,
    PT_ERROR = 0x000A,
    PT_BOOLEAN = 0x000B,
    PT_OBJECT = 0x000D,
    PT_I8 = 0x0014,
    PT_STRING8 = 0x001E,
    PT_UNICODE = 0x001F,
    PT_SYSTIME = 0x0040,
    PT_CLSID = 0x0048,
    PT_SVREID = 0x00FB,
    PT_SRESTRICT = 0x00FD,
    PT_ACTIONS = 0x00FE,
    PT_BINARY = 0x0102,
    MV_FLAG = 0x1000,
    MV_INSTANCE = 0x2000,
};

constexpr uint32_t makeTag(uint16_t id, uint16_t type) { return (uint32_t(id) << 16) | type; }
constexpr uint16_t tagId(uint32_t tag) { return static_cast<uint16_t>(tag >> 16); }
constexpr uint16_t tagType(uint32_t tag) { return static_cast<uint16_t>(tag & 0xFFFF); }
constexpr bool isMultiValued(uint16_t type) { return (type & MV_FLAG) != 0; }
constexpr uint16_t baseType(uint16_t type) { return static_cast<uint16_t>(type & ~(MV_FLAG | MV_INSTANCE)); }
constexpr bool isNamedId(uint16_t id) { return id >= 0x8000; }

// Size in bytes of a fixed-size value of a (base) type; 0 for variable-size
// and unknown types.
constexpr uint32_t fixedSize(uint16_t type) {
    switch (baseType(type)) {
        case PT_I2: return 2;
        case PT_LONG: case PT_R4: case PT_ERROR: return 4;
        case PT_BOOLEAN: return 1;  // one byte in MSG and PST property values; 2 in some tables
        case PT_DOUBLE: case PT_CURRENCY: case PT_APPTIME: case PT_I8: case PT_SYSTIME: return 8;
        default: return 0;
    }
}
// Variable-size types (stored in streams or heap allocations).
constexpr bool isVariableSize(uint16_t type) {
    switch (baseType(type)) {
        case PT_STRING8: case PT_UNICODE: case PT_BINARY: case PT_CLSID: case PT_SVREID:
        case PT_SRESTRICT: case PT_ACTIONS: case PT_OBJECT: return true;
        default: return false;
    }
}
// True for types this model knows how to carry.
bool isKnownType(uint16_t type);

// A GUID in its on-disk byte order ([MS-DTYP] 2.3.4.2: Data1..3 little-endian).
struct Guid {
    std::array<uint8_t, 16> b{};
    bool operator==(const Guid&) const = default;
    auto operator<=>(const Guid&) const = default;
    // "{00020329-0000-0000-C000-000000000046}"
    std::string toString() const;
    static std::optional<Guid> fromSpan(ByteSpan s);
};

// Well-known property sets ([MS-OXPROPS] 1.3.2).
extern const Guid PS_MAPI;            // {00020328-0000-0000-C000-000000000046}
extern const Guid PS_PUBLIC_STRINGS;  // {00020329-0000-0000-C000-000000000046}

// The name of a named property ([MS-OXCDATA] 2.6.1 / MAPINAMEID).
struct NamedPropName {
    Guid guid;
    bool isString = false;
    uint32_t lid = 0;          // numeric name (isString false)
    std::u16string name;       // string name (isString true)
    bool operator==(const NamedPropName&) const = default;
    auto operator<=>(const NamedPropName&) const = default;
};

struct Property {
    uint32_t tag = 0;
    uint32_t flags = 0;                     // MSG PROPATTR_* bits, 0 when unknown
    uint64_t scalar = 0;                    // fixed-size single value
    Bytes data;                             // variable-size single value
    std::vector<Bytes> multi;               // multi-valued elements
    std::optional<NamedPropName> name;      // set for ids >= 0x8000

    uint16_t id() const { return tagId(tag); }
    uint16_t type() const { return tagType(tag); }

    static Property int16(uint32_t tag, int16_t v);
    static Property int32(uint32_t tag, int32_t v);
    static Property int64(uint32_t tag, int64_t v);
    static Property boolean(uint32_t tag, bool v);
    static Property systime(uint32_t tag, uint64_t filetime);
    static Property unicode(uint32_t tag, std::u16string_view v);
    static Property unicodeUtf8(uint32_t tag, std::string_view v);
    static Property string8(uint32_t tag, ByteSpan v);
    static Property binary(uint32_t tag, ByteSpan v);
    static Property binary(uint32_t tag, Bytes&& v);  // the bytes moved in

    int32_t asInt32() const { return static_cast<int32_t>(static_cast<uint32_t>(scalar)); }
    int64_t asInt64() const { return static_cast<int64_t>(scalar); }
    bool asBool() const { return scalar != 0; }
    // PT_UNICODE: the code units of `data`. Other types: empty.
    std::u16string asUnicode() const;
};

// An ordered collection of properties. Lookups are by id, or by exact tag.
class PropertyBag {
public:
    std::vector<Property>& items() { return items_; }
    const std::vector<Property>& items() const { return items_; }
    size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    void reserve(size_t n) { items_.reserve(n); }

    // The property with this exact tag, or null.
    const Property* findTag(uint32_t tag) const;
    Property* findTag(uint32_t tag);
    // The first property with this id whatever its type, preferring
    // PT_UNICODE over PT_STRING8 when both are present.
    const Property* find(uint16_t id) const;
    Property* find(uint16_t id);
    // The named property with this name, or null.
    const Property* findNamed(const NamedPropName& name) const;

    // Replaces every property with the same id (whatever its type), or adds.
    void set(Property p);
    // Removes every property with this id; returns how many went.
    size_t erase(uint16_t id);

    std::optional<int32_t> getInt32(uint16_t id) const;
    std::optional<bool> getBool(uint16_t id) const;
    std::optional<uint64_t> getSystime(uint16_t id) const;

private:
    std::vector<Property> items_;
};

}  // namespace tavrin::store
