// The store's name-to-id map ([MS-PST] 2.4.7): one dictionary for the whole
// file, so that a named property gets the same id in every message, every
// property context and every table column.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "store/core/props.h"
#include "store/pst/messaging/name_map_reader.h"
#include "store/pst/messaging/records.h"

namespace tavrin::pst::messaging {

// Property ids 0x8000..0xFFFE: at most 0x7FFF names.
inline constexpr size_t kMaxNames = 0x7FFF;

class NameMapWriter {
public:
    // A new map holds the names Outlook registers when it creates a store:
    // nine PSETID_Appointment ids, which every Outlook file we have begins
    // its entry stream with, then four PS_INTERNET_HEADERS string names.
    NameMapWriter();
    // The map of an existing file, continued: its entries, streams and
    // buckets stay as they are (every id keeps its name), and new names are
    // appended after its highest property index.
    static NameMapWriter extending(const NameMap& existing);

    // The property id of a name, adding it when new; nullopt when the map
    // is full. A PS_MAPI name with a numeric id below 0x8000 stands for the
    // ordinary property of that id.
    std::optional<uint16_t> idFor(const store::NamedPropName& name);
    size_t size() const { return base_ + entries_.size(); }
    // Names added to an existing map.
    size_t added() const { return entries_.size(); }

    // The property context of NID_NAME_TO_ID_MAP: bucket count, GUID,
    // entry and string streams, and the non-empty hash buckets.
    std::vector<store::Property> properties() const;

private:
    uint16_t guidIndex(const store::Guid& g);  // wGuid

    struct Uninit {};
    explicit NameMapWriter(Uninit) {}

    std::map<store::NamedPropName, uint16_t> ids_;
    std::vector<store::NamedPropName> entries_;  // in property index order, from base_
    std::vector<uint16_t> wGuids_;
    std::vector<store::Guid> guids_;              // the GUID stream
    // An existing map's part, kept as it is.
    uint32_t base_ = 0;
    uint32_t bucketCount_ = kDefaultBucketCount;
    Bytes baseEntries_, baseStrings_;
    std::map<uint16_t, Bytes> baseBuckets_;
};

}  // namespace tavrin::pst::messaging
