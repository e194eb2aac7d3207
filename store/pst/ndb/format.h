// On-disk constants of the PST node database ([MS-PST] 2.2), Unicode
// flavour unless marked ANSI. Offsets are from the start of the record they
// name. Records themselves are decoded and encoded field by field by the
// reader and the writer; nothing here is a struct over file bytes.
#pragma once

#include <cstdint>

namespace tavrin::pst::ndb {

// [MS-PST] 2.2.2.6 HEADER.
namespace header {
inline constexpr uint32_t kMagic = 0x4E444221;         // dwMagic "!BDN"
inline constexpr uint16_t kMagicClient = 0x4D53;       // wMagicClient "SM"
inline constexpr uint16_t kVerAnsi14 = 14;             // wVer, ANSI
inline constexpr uint16_t kVerAnsi15 = 15;
inline constexpr uint16_t kVerUnicode = 23;            // wVer, Unicode
inline constexpr uint16_t kVerClient = 19;             // wVerClient
inline constexpr uint8_t kPlatform = 0x01;             // bPlatformCreate / bPlatformAccess
inline constexpr uint8_t kSentinel = 0x80;             // bSentinel
inline constexpr uint32_t kSize = 564;                 // Unicode header bytes
inline constexpr uint32_t kCrcPartialOffset = 4, kCrcPartialStart = 8, kCrcPartialLength = 471;
inline constexpr uint32_t kCrcFullOffset = 524, kCrcFullStart = 8, kCrcFullLength = 516;
// Unicode field offsets.
inline constexpr uint32_t ibVer = 10, ibVerClient = 12, ibPlatformCreate = 14, ibPlatformAccess = 15;
inline constexpr uint32_t ibReserved1 = 16, ibReserved2 = 20, ibBidUnused = 24, ibBidNextP = 32;
inline constexpr uint32_t ibUnique = 40, ibRgnid = 44, ibQwUnused = 172, ibRoot = 180, ibAlign = 252;
inline constexpr uint32_t ibRgbFM = 256, ibRgbFP = 384, ibSentinel = 512, ibCryptMethod = 513;
inline constexpr uint32_t ibBidNextB = 516;
inline constexpr uint32_t kRgnidCount = 32;
// ANSI (wVer 14/15) field offsets that differ (checked on an Outlook ANSI
// file). The ANSI header has no dwCRCFull.
inline constexpr uint32_t ansiSize = 512;
inline constexpr uint32_t ansiBidNextB = 24, ansiBidNextP = 28, ansiUnique = 32, ansiRgnid = 36;
inline constexpr uint32_t ansiRoot = 164, ansiRgbFM = 204, ansiRgbFP = 332, ansiSentinel = 460;
inline constexpr uint32_t ansiCryptMethod = 461, ansiReserved = 462, ansiUllReserved = 464;
inline constexpr uint32_t ansiDwReserved = 472, ansiReserved2 = 476;
inline constexpr uint32_t ansiCrcPartialLength = 471;
// Unicode fields after dwCRCFull.
inline constexpr uint32_t ibRgbReserved = 514, ibRgbReserved2 = 528;
}  // namespace header

// [MS-PST] 2.2.2.5 ROOT (Unicode: 72 bytes; offsets within ROOT).
namespace root {
inline constexpr uint32_t ibFileEof = 4, ibAMapLast = 12, ibAMapFree = 20, ibPMapFree = 28;
inline constexpr uint32_t ibBrefNbt = 36, ibBrefBbt = 52, ibAMapValid = 68;
inline constexpr uint8_t kInvalidAMap = 0x00, kValidAMap1 = 0x01, kValidAMap2 = 0x02;
}  // namespace root

// Pages ([MS-PST] 2.2.2.7).
inline constexpr uint32_t kPageSize = 512;
inline constexpr uint32_t kPageTrailerSize = 16;     // Unicode PAGETRAILER
inline constexpr uint32_t kAnsiPageTrailerSize = 12;
inline constexpr uint8_t ptypeBBT = 0x80, ptypeNBT = 0x81, ptypeFMap = 0x82, ptypePMap = 0x83;
inline constexpr uint8_t ptypeAMap = 0x84, ptypeFPMap = 0x85, ptypeDL = 0x86;

// Allocation map layout ([MS-PST] 2.2.2.7.2 - 2.2.2.7.6).
inline constexpr uint64_t kFirstAMapOffset = 0x4400;
inline constexpr uint64_t kDListOffset = 0x4200;
inline constexpr uint64_t kAMapCoverage = 496 * 8 * 64;  // 253,952 bytes per AMap section
inline constexpr uint32_t kAMapBytes = 496;
inline constexpr uint32_t kAMapsPerPMap = 8;              // one PMap every 8 AMap sections
inline constexpr uint32_t kFMapFirstSection = 128;        // rgbFM covers the first 128 AMaps
inline constexpr uint32_t kAMapsPerFMap = 496;
inline constexpr uint32_t kFPMapFirstSection = 8192;      // rgbFP covers the first 8192 AMaps
inline constexpr uint32_t kAMapsPerFPMap = 496 * 8 * 8;   // 31,744
inline constexpr uint32_t kSlotSize = 64;                 // one AMap bit

// B-tree pages ([MS-PST] 2.2.2.7.7), Unicode.
inline constexpr uint32_t kBTEntriesBytes = 488;
inline constexpr uint32_t ibBTcEnt = 488, ibBTcEntMax = 489, ibBTcbEnt = 490, ibBTcLevel = 491;
inline constexpr uint8_t kBTEntrySize = 24;   // BTENTRY (intermediate)
inline constexpr uint8_t kBBTEntrySize = 24;  // BBTENTRY (leaf)
inline constexpr uint8_t kNBTEntrySize = 32;  // NBTENTRY (leaf)
inline constexpr uint8_t kBTEntryMax = 20, kBBTEntryMax = 20, kNBTEntryMax = 15;

// Blocks ([MS-PST] 2.2.2.8).
inline constexpr uint32_t kBlockTrailerSize = 16;      // Unicode BLOCKTRAILER
inline constexpr uint32_t kAnsiBlockTrailerSize = 12;
inline constexpr uint32_t kMaxBlockSize = 8192;        // data + padding + trailer
inline constexpr uint32_t kMaxBlockData = 8176;        // largest cb of a Unicode block
inline constexpr uint32_t kBlockAlign = 64;
inline constexpr uint8_t btypeXBlock = 0x01, btypeSLBlock = 0x02;  // XBLOCK/XXBLOCK, SLBLOCK/SIBLOCK
inline constexpr uint32_t kXBlockMaxEntries = (kMaxBlockData - 8) / 8;   // 1021 BIDs
inline constexpr uint32_t kSLBlockMaxEntries = (kMaxBlockData - 8) / 24; // 340 SLENTRYs
inline constexpr uint32_t kSIBlockMaxEntries = (kMaxBlockData - 8) / 16; // 510 SIENTRYs

// BIDs ([MS-PST] 2.2.2.2): bit 0 reserved, bit 1 internal.
inline constexpr uint64_t kBidInternal = 0x2;
inline constexpr uint64_t kBidIncrement = 0x4;
constexpr bool isInternalBid(uint64_t bid) { return (bid & kBidInternal) != 0; }
constexpr uint64_t bidKey(uint64_t bid) { return bid & ~uint64_t(1); }

// NIDs ([MS-PST] 2.2.2.1): type in the low 5 bits, index above.
enum NidType : uint8_t {
    NID_TYPE_HID = 0x00,
    NID_TYPE_INTERNAL = 0x01,
    NID_TYPE_NORMAL_FOLDER = 0x02,
    NID_TYPE_SEARCH_FOLDER = 0x03,
    NID_TYPE_NORMAL_MESSAGE = 0x04,
    NID_TYPE_ATTACHMENT = 0x05,
    NID_TYPE_SEARCH_UPDATE_QUEUE = 0x06,
    NID_TYPE_SEARCH_CRITERIA_OBJECT = 0x07,
    NID_TYPE_ASSOC_MESSAGE = 0x08,
    NID_TYPE_CONTENTS_TABLE_INDEX = 0x0A,
    NID_TYPE_RECEIVE_FOLDER_TABLE = 0x0B,
    NID_TYPE_OUTGOING_QUEUE_TABLE = 0x0C,
    NID_TYPE_HIERARCHY_TABLE = 0x0D,
    NID_TYPE_CONTENTS_TABLE = 0x0E,
    NID_TYPE_ASSOC_CONTENTS_TABLE = 0x0F,
    NID_TYPE_SEARCH_CONTENTS_TABLE = 0x10,
    NID_TYPE_ATTACHMENT_TABLE = 0x11,
    NID_TYPE_RECIPIENT_TABLE = 0x12,
    NID_TYPE_SEARCH_TABLE_INDEX = 0x13,
    NID_TYPE_LTP = 0x1F,
};
constexpr uint8_t nidType(uint32_t nid) { return static_cast<uint8_t>(nid & 0x1F); }
constexpr uint32_t nidIndex(uint32_t nid) { return nid >> 5; }
constexpr uint32_t makeNid(uint8_t type, uint32_t index) { return (index << 5) | (type & 0x1F); }

// Special NIDs ([MS-PST] 2.4.1).
inline constexpr uint32_t NID_MESSAGE_STORE = 0x21;
inline constexpr uint32_t NID_NAME_TO_ID_MAP = 0x61;
inline constexpr uint32_t NID_NORMAL_FOLDER_TEMPLATE = 0xA1;
inline constexpr uint32_t NID_SEARCH_FOLDER_TEMPLATE = 0xC1;
inline constexpr uint32_t NID_ROOT_FOLDER = 0x122;
inline constexpr uint32_t NID_SEARCH_MANAGEMENT_QUEUE = 0x1E1;
inline constexpr uint32_t NID_SEARCH_ACTIVITY_LIST = 0x201;
inline constexpr uint32_t NID_RESERVED1 = 0x241;
inline constexpr uint32_t NID_SEARCH_DOMAIN_OBJECT = 0x261;
inline constexpr uint32_t NID_SEARCH_GATHERER_QUEUE = 0x281;
inline constexpr uint32_t NID_SEARCH_GATHERER_DESCRIPTOR = 0x2A1;
inline constexpr uint32_t NID_RESERVED2 = 0x2E1;
inline constexpr uint32_t NID_RESERVED3 = 0x301;
inline constexpr uint32_t NID_SEARCH_GATHERER_FOLDER_QUEUE = 0x321;
inline constexpr uint32_t NID_HIERARCHY_TABLE_TEMPLATE = 0x60D;
inline constexpr uint32_t NID_CONTENTS_TABLE_TEMPLATE = 0x60E;
inline constexpr uint32_t NID_ASSOC_CONTENTS_TABLE_TEMPLATE = 0x60F;
inline constexpr uint32_t NID_SEARCH_CONTENTS_TABLE_TEMPLATE = 0x610;
inline constexpr uint32_t NID_ATTACHMENT_TABLE = 0x671;
inline constexpr uint32_t NID_RECIPIENT_TABLE = 0x692;

}  // namespace tavrin::pst::ndb
