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
    size_t size() const { return names_.size(); }
    bool empty() const { return names_.empty(); }
    // How many entries could not be read.
    size_t skipped() const { return skipped_; }

private:
    std::vector<std::pair<uint16_t, NamedPropName>> names_;  // sorted by index
    size_t skipped_ = 0;
};

}  // namespace tavrin::store::oxmsg
