// The named property map of a message file ([MS-OXMSG] 2.2.3): property
// index (id - 0x8000) to the property's name. One map serves the message and
// everything nested in it.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "store/core/bytes.h"
#include "store/core/props.h"

namespace tavrin::store::oxmsg {

class NameMap {
public:
    // Builds the map from the GUID, entry and string streams. Entries that
    // point outside their streams are skipped (a name that cannot be read
    // leaves its property unnamed); it never fails.
    static NameMap parse(ByteSpan guids, ByteSpan entries, ByteSpan strings);

    const NamedPropName* find(uint16_t propertyId) const;
    // Why the entry of a property id could not be read ("its GUID index is
    // out of range"), or nullptr when the map has no broken entry for it.
    const char* problem(uint16_t propertyId) const;
    size_t size() const { return names_.size(); }
    bool empty() const { return names_.empty(); }
    // How many entries could not be read.
    size_t skipped() const { return skipped_; }

private:
    void skip(uint16_t index, const char* why);

    std::vector<std::pair<uint16_t, NamedPropName>> names_;  // sorted by index
    std::vector<std::pair<uint16_t, const char*>> broken_;   // (index, why), sorted by index
    size_t skipped_ = 0;
};

}  // namespace tavrin::store::oxmsg
