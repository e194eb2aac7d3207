// Block data encodings of a PST ([MS-PST] 2.2.2.6 bCryptMethod, 5.1, 5.2).
// Only external data blocks are encoded; internal blocks (XBLOCK, XXBLOCK,
// SLBLOCK, SIBLOCK) and pages never are.
#pragma once

#include <cstdint>
#include <span>

namespace tavrin::pst::ndb {

inline constexpr uint8_t kCryptNone = 0x00;     // NDB_CRYPT_NONE
inline constexpr uint8_t kCryptPermute = 0x01;  // NDB_CRYPT_PERMUTE
inline constexpr uint8_t kCryptCyclic = 0x02;   // NDB_CRYPT_CYCLIC

void permuteEncode(std::span<uint8_t> data);
void permuteDecode(std::span<uint8_t> data);
// The cyclic algorithm is its own inverse; the key is the low 32 bits of
// the block's BID.
void cyclicCrypt(std::span<uint8_t> data, uint32_t key);

// Encode or decode a block's data in place. False for an unknown method.
bool encodeBlock(uint8_t cryptMethod, std::span<uint8_t> data, uint64_t bid);
bool decodeBlock(uint8_t cryptMethod, std::span<uint8_t> data, uint64_t bid);
// Copies a block's data from `src` into `dst` (same size) encoded, and
// returns the CRC of the stored bytes ([MS-PST] 2.2.2.8.1: the trailer's CRC
// is taken after the encoding). False for an unknown method.
bool encodeBlockCopy(uint8_t cryptMethod, std::span<const uint8_t> src, std::span<uint8_t> dst, uint64_t bid,
                     uint32_t& crc);

}  // namespace tavrin::pst::ndb
