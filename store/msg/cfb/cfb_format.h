// [MS-CFB] on-disk constants: the header, special sector numbers and the
// directory entry layout. Field offsets are byte offsets inside their record;
// every field is read and written explicitly through store/core/bytes.h.
//
// Layer: store/msg/cfb uses store/core and fs only.
#pragma once

#include <cstdint>

namespace tavrin::store::cfb {

// [MS-CFB] 2.2 Compound File Header (the first 512 bytes).
namespace header {
inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr uint32_t kSize = 512;
inline constexpr uint32_t abSig = 0;              // 8 bytes
inline constexpr uint32_t clsid = 8;              // 16 bytes, zero
inline constexpr uint32_t uMinorVersion = 24;     // 0x003E
inline constexpr uint32_t uMajorVersion = 26;     // 3 or 4
inline constexpr uint32_t uByteOrder = 28;        // 0xFFFE
inline constexpr uint32_t uSectorShift = 30;      // 9 (v3) or 12 (v4)
inline constexpr uint32_t uMiniSectorShift = 32;  // 6
inline constexpr uint32_t csectDir = 40;          // 0 in v3
inline constexpr uint32_t csectFat = 44;
inline constexpr uint32_t sectDirStart = 48;
inline constexpr uint32_t signature = 52;         // transaction signature, ignored
inline constexpr uint32_t ulMiniSectorCutoff = 56;
inline constexpr uint32_t sectMiniFatStart = 60;
inline constexpr uint32_t csectMiniFat = 64;
inline constexpr uint32_t sectDifStart = 68;
inline constexpr uint32_t csectDif = 72;
inline constexpr uint32_t sectFat = 76;           // 109 FAT sector numbers
inline constexpr uint32_t kHeaderDifatEntries = 109;
inline constexpr uint16_t kByteOrder = 0xFFFE;
inline constexpr uint16_t kMinorVersion = 0x003E;
}  // namespace header

// [MS-CFB] 2.1 sector numbers.
inline constexpr uint32_t MAXREGSECT = 0xFFFFFFFA;
inline constexpr uint32_t DIFSECT = 0xFFFFFFFC;
inline constexpr uint32_t FATSECT = 0xFFFFFFFD;
inline constexpr uint32_t ENDOFCHAIN = 0xFFFFFFFE;
inline constexpr uint32_t FREESECT = 0xFFFFFFFF;
// [MS-CFB] 2.6 stream ids.
inline constexpr uint32_t MAXREGSID = 0xFFFFFFFA;
inline constexpr uint32_t NOSTREAM = 0xFFFFFFFF;

inline constexpr uint32_t kMiniSectorShift = 6;   // 64-byte mini sectors
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kMiniStreamCutoff = 4096;  // [MS-CFB] 2.2: MUST be 4096

// [MS-CFB] 2.6.1 Compound File Directory Entry (128 bytes).
namespace direntry {
inline constexpr uint32_t kSize = 128;
inline constexpr uint32_t ab = 0;                  // 64 bytes: UTF-16LE name with terminator
inline constexpr uint32_t cb = 64;                 // 2: name length in bytes incl. the terminator
inline constexpr uint32_t mse = 66;                // 1: object type
inline constexpr uint32_t bflags = 67;             // 1: color (0 red, 1 black)
inline constexpr uint32_t sidLeftSib = 68;
inline constexpr uint32_t sidRightSib = 72;
inline constexpr uint32_t sidChild = 76;
inline constexpr uint32_t clsId = 80;              // 16
inline constexpr uint32_t dwUserFlags = 96;        // state bits
inline constexpr uint32_t createTime = 100;        // 8, FILETIME
inline constexpr uint32_t modifyTime = 108;        // 8, FILETIME
inline constexpr uint32_t sectStart = 116;
inline constexpr uint32_t ulSize = 120;            // 8; in v3 only the low 4 bytes count
inline constexpr uint32_t kMaxNameChars = 31;
}  // namespace direntry

// Object types ([MS-CFB] 2.6.1, Object Type).
enum class ObjectType : uint8_t { Unallocated = 0, Storage = 1, Stream = 2, Root = 5 };

}  // namespace tavrin::store::cfb
