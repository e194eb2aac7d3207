// On-disk records of the PST messaging layer ([MS-PST] 2.4): the
// name-to-id map's NAMEID entries and hash, and the store's EntryIDs.
// Plain values with field-by-field decode() and encode().
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "store/core/bytes.h"
#include "store/core/props.h"

namespace tavrin::pst::messaging {

using store::Bytes;
using store::ByteSpan;

// Properties of the message store PC, of folders and of messages that only
// PST files have ([MS-PST] 2.4.3.1, 2.4.4.1.1; PidTagPstBodyPrefix as in
// Outlook's files).
inline constexpr uint16_t PidTagValidFolderMask = 0x35DF;
inline constexpr uint16_t PidTagIpmSubTreeEntryId = 0x35E0;
inline constexpr uint16_t PidTagIpmWastebasketEntryId = 0x35E3;
inline constexpr uint16_t PidTagFinderEntryId = 0x35E7;
inline constexpr uint16_t PidTagPstBodyPrefix = 0x6619;
inline constexpr uint16_t PidTagPstHiddenCount = 0x6635;
inline constexpr uint16_t PidTagPstHiddenUnread = 0x6636;
inline constexpr uint16_t PidTagLtpParentNid = 0x67F1;
inline constexpr uint16_t PidTagPstPassword = 0x67FF;

// [MS-PST] 2.4.7 name-to-id map property ids (in the PC of NID 0x61).
inline constexpr uint16_t PidTagNameidBucketCount = 0x0001;
inline constexpr uint16_t PidTagNameidStreamGuid = 0x0002;
inline constexpr uint16_t PidTagNameidStreamEntry = 0x0003;
inline constexpr uint16_t PidTagNameidStreamString = 0x0004;
inline constexpr uint16_t PidTagNameidBucketBase = 0x1000;
inline constexpr uint32_t kDefaultBucketCount = 251;  // what Outlook writes
// wGuid values ([MS-PST] 2.4.7.1): 1 PS_MAPI, 2 PS_PUBLIC_STRINGS, n >= 3
// the (n - 3)-th GUID of the GUID stream.
inline constexpr uint16_t kGuidIndexNone = 0, kGuidIndexMapi = 1, kGuidIndexPublicStrings = 2, kGuidIndexFirst = 3;
// Named property ids are 0x8000 + wPropIdx.
inline constexpr uint16_t kNamedIdBase = 0x8000;

// [MS-PST] 2.4.7.1 NAMEID: dwPropertyID (the LID, or the name's offset in
// the string stream, or in a hash bucket the name's CRC), N (bit 0: string
// name), wGuid (the 15 bits above), wPropIdx.
struct NameId {
    uint32_t dwPropertyID = 0;
    bool n = false;
    uint16_t wGuid = 0;
    uint16_t wPropIdx = 0;

    static constexpr uint32_t kSize = 8;
    static std::optional<NameId> decode(ByteSpan s);
    Bytes encode() const;
    bool operator==(const NameId&) const = default;
};

// [MS-PST] 2.4.7.5 hash: key = LID or CRC (5.3) of the UTF-16LE name;
// bucket index = (key XOR ((wGuid << 1) | N)) mod bucket count.
uint32_t nameHashKey(std::u16string_view name);
uint32_t nameBucketIndex(uint32_t key, uint16_t wGuid, bool isString, uint32_t bucketCount);

// [MS-PST] 2.4.3.2 EntryID: rgbFlags (0), uid (the store's PidTagRecordKey)
// and the NID of the object.
struct EntryId {
    uint32_t rgbFlags = 0;
    store::Guid uid;
    uint32_t nid = 0;

    static constexpr uint32_t kSize = 24;
    static std::optional<EntryId> decode(ByteSpan s);
    Bytes encode() const;
    bool operator==(const EntryId&) const = default;
};

}  // namespace tavrin::pst::messaging
