// [MS-OXMSG] storage and stream names and property stream layout.
//
// Layer: store/msg/oxmsg uses store/msg/cfb, store/core and fs.
#pragma once

#include <cstdint>

namespace tavrin::store::oxmsg {

// [MS-OXMSG] 2.2 storages and 2.1 streams (names compare as [MS-CFB] does).
inline constexpr char kPropertiesStream[] = "__properties_version1.0";
inline constexpr char kSubstgPrefix[] = "__substg1.0_";          // + 8 hex digits of the tag
inline constexpr char kRecipientPrefix[] = "__recip_version1.0_#";  // + 8 hex digits
inline constexpr char kAttachmentPrefix[] = "__attach_version1.0_#";
inline constexpr char kNameIdStorage[] = "__nameid_version1.0";

// [MS-OXMSG] 2.4.1 property stream header sizes, by owner.
inline constexpr uint32_t kTopLevelHeaderSize = 32;  // reserved(8), next recipient id, next attachment id, counts, reserved(8)
inline constexpr uint32_t kEmbeddedHeaderSize = 24;  // the same without the final reserved 8 bytes
inline constexpr uint32_t kObjectHeaderSize = 8;     // recipient and attachment objects: reserved(8)

// [MS-OXMSG] 2.4.2 property entry: tag(4), flags(4), value(8).
inline constexpr uint32_t kEntrySize = 16;
namespace entry {
inline constexpr uint32_t tag = 0;
inline constexpr uint32_t flags = 4;
inline constexpr uint32_t value = 8;  // fixed: the value; variable: size(4) + reserved(4)
}  // namespace entry

// [MS-OXMSG] 2.2.3 named property mapping storage streams (tags of PT_BINARY).
inline constexpr uint32_t kGuidStreamTag = 0x00020102;
inline constexpr uint32_t kEntryStreamTag = 0x00030102;
inline constexpr uint32_t kStringStreamTag = 0x00040102;
// [MS-OXMSG] 2.2.3.1.2 entry stream record: name id or string offset (4),
// then a word with the kind in bit 0 and the GUID index in bits 1-15, then
// the property index (2); the property id is 0x8000 + property index.
inline constexpr uint32_t kNameEntrySize = 8;
inline constexpr uint16_t kGuidIndexPsMapi = 1;
inline constexpr uint16_t kGuidIndexPublicStrings = 2;
inline constexpr uint16_t kGuidIndexFirstStream = 3;

// Length stream entries of variable-size multi-valued properties
// ([MS-OXMSG] 2.1.4.2): 4 bytes per string, 8 per binary value.
inline constexpr uint32_t kMvStringLengthEntry = 4;
inline constexpr uint32_t kMvBinaryLengthEntry = 8;

}  // namespace tavrin::store::oxmsg
