// The CRC of [MS-PST] 5.3: CRC-32 with the reflected polynomial 0xEDB88320,
// initial value 0 and no final inversion (not zlib's crc32, which inverts
// before and after). Used for the header, page and block trailers, and for
// the hash of string names in the name-to-id map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tavrin::pst::ndb {

uint32_t computeCrc(std::span<const uint8_t> data, uint32_t crc = 0);
// Copies `n` bytes from `src` to `dst`, each mapped through `map`, and
// returns the CRC of the mapped bytes: the writer's one pass over a block's
// data for a byte-substitution encoding. `src` and `dst` may be equal.
uint32_t mapCopyCrc(const uint8_t* src, uint8_t* dst, size_t n, const uint8_t (&map)[256], uint32_t crc = 0);

// [MS-PST] 5.5 ComputeSig: the signature of a page or block trailer.
constexpr uint16_t computeSig(uint64_t ib, uint64_t bid) {
    const uint32_t x = static_cast<uint32_t>(ib) ^ static_cast<uint32_t>(bid);
    return static_cast<uint16_t>((x >> 16) ^ (x & 0xFFFF));
}

}  // namespace tavrin::pst::ndb
