// Reading the name-to-id map ([MS-PST] 2.4.7, NID 0x61): which named
// property (GUID plus numeric id or string name) each property id 0x8000 +
// wPropIdx of this file stands for.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fs/result.h"
#include "store/core/props.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/records.h"
#include "store/pst/ndb/database_reader.h"

namespace tavrin::pst::messaging {

struct NameMapEntry {
    uint16_t propId = 0;          // 0x8000 + wPropIdx
    store::NamedPropName name;
    NameId raw;                   // as stored in the entry stream
};

class NameMap {
public:
    // Reads NID_NAME_TO_ID_MAP. An entry that cannot be resolved (GUID
    // index or string offset out of range) is left out and described in
    // problems(); a map that cannot be read at all is an error.
    static Result<NameMap> read(const ndb::NodeDatabase& db);

    const store::NamedPropName* nameOf(uint16_t propId) const;
    // The first entry with this name; a linear search.
    std::optional<uint16_t> idOf(const store::NamedPropName& name) const;
    const std::vector<NameMapEntry>& entries() const { return entries_; }
    const std::vector<std::string>& problems() const { return problems_; }

    // The raw parts, for the verifier.
    uint32_t bucketCount() const { return bucketCount_; }
    const Bytes& guidStream() const { return guids_; }
    const Bytes& entryStream() const { return entryBytes_; }
    const Bytes& stringStream() const { return strings_; }
    // Hash bucket property id (0x1000 + i) -> its bytes.
    const std::map<uint16_t, Bytes>& buckets() const { return buckets_; }

private:
    uint32_t bucketCount_ = 0;
    Bytes guids_, entryBytes_, strings_;
    std::map<uint16_t, Bytes> buckets_;
    std::vector<NameMapEntry> entries_;
    std::vector<std::pair<uint16_t, uint32_t>> byId_;  // (propId, index in entries_), sorted
    std::vector<std::string> problems_;
};

// A string name of the string stream at `offset`: a 4-byte byte count then
// UTF-16LE ([MS-PST] 2.4.7.4); nullopt when it does not fit.
std::optional<std::u16string> nameAt(ByteSpan stringStream, uint32_t offset);

}  // namespace tavrin::pst::messaging
