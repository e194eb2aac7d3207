// SHA-256 (FIPS 180-4), for the content hashes of message records and for
// comparing attachment data.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "store/core/bytes.h"

namespace tavrin::store {

// Incremental form, for data that arrives in pieces.
class Sha256 {
public:
    Sha256();
    void update(ByteSpan data);
    std::array<uint8_t, 32> finish();
    // Whether the processor's SHA extensions do the work, where it has them
    // (on by default); off, the portable code does, as on other processors.
    static bool accelerated();
    static void setAccelerated(bool on);

private:
    void blocks(const uint8_t* p, size_t count);
    std::array<uint32_t, 8> h_;
    std::array<uint8_t, 64> buf_{};
    size_t bufLen_ = 0;
    uint64_t total_ = 0;
};

std::array<uint8_t, 32> sha256(ByteSpan data);
// Lower-case hexadecimal, 64 characters.
std::string sha256Hex(ByteSpan data);
std::string toHex(ByteSpan data);

}  // namespace tavrin::store
