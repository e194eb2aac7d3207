#include "store/core/sha256.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define TAVRIN_SHA_NI 1
#endif

namespace tavrin::store {
namespace {

// FIPS 180-4 4.2.2: the first 32 bits of the fractional parts of the cube
// roots of the first 64 primes.
constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// FIPS 180-4 6.2.2 on one 64-byte block.
void portableBlock(std::array<uint32_t, 8>& hash, const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = loadBE32(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = hash[0], b = hash[1], c = hash[2], d = hash[3], e = hash[4], f = hash[5], g = hash[6], h = hash[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    hash[0] += a; hash[1] += b; hash[2] += c; hash[3] += d; hash[4] += e; hash[5] += f; hash[6] += g; hash[7] += h;
}

#ifdef TAVRIN_SHA_NI
// The same with the SHA extensions: SHA256RNDS2 does two rounds on the
// state held as ABEF and CDGH, SHA256MSG1 and SHA256MSG2 extend the message
// schedule four words at a time, kept in a ring of the last four groups.
__attribute__((target("sha,sse4.1,ssse3"))) void shaNiBlocks(std::array<uint32_t, 8>& hash, const uint8_t* p,
                                                           size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash.data()));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash.data() + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count; --count, p += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i m[4];
        // Unrolled, the ring of four stays in registers (indexed by a loop
        // counter it lives on the stack, and every group waits for it).
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            __m128i& x = m[g % 4];
            if (g < 4) {
                x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), byteSwap);
            } else {
                const __m128i& x1 = m[(g + 1) % 4];
                const __m128i& x2 = m[(g + 2) % 4];
                const __m128i& x3 = m[(g + 3) % 4];
                x = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(x, x1), _mm_alignr_epi8(x3, x2, 4)), x3);
            }
            __m128i wk = _mm_add_epi32(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
            // Two rounds, then two more: the first result, ABEF two rounds
            // on, is CDGH four rounds on.
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
            wk = _mm_shuffle_epi32(wk, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash.data()), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash.data() + 4), hgfe);
}

// CPUID leaf 7 EBX bit 29: SHA; leaf 1 ECX bits 9 and 19: SSSE3, SSE4.1.
const bool kHaveShaNi = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 29))) return false;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & (1u << 9)) && (c & (1u << 19));
}();
#endif

std::atomic<bool> gAccelerated{true};

}  // namespace

bool Sha256::accelerated() {
#ifdef TAVRIN_SHA_NI
    return kHaveShaNi && gAccelerated.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void Sha256::setAccelerated(bool on) { gAccelerated.store(on, std::memory_order_relaxed); }

void Sha256::blocks(const uint8_t* p, size_t count) {
#ifdef TAVRIN_SHA_NI
    if (accelerated()) return shaNiBlocks(h_, p, count);
#endif
    for (; count; --count, p += 64) portableBlock(h_, p);
}

Sha256::Sha256()
    // FIPS 180-4 5.3.3: initial hash value.
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::update(ByteSpan data) {
    const uint8_t* p = data.data();
    size_t n = data.size();
    total_ += n;
    if (bufLen_) {
        const size_t take = std::min(n, buf_.size() - bufLen_);
        std::memcpy(buf_.data() + bufLen_, p, take);
        bufLen_ += take;
        p += take;
        n -= take;
        if (bufLen_ < buf_.size()) return;
        blocks(buf_.data(), 1);
        bufLen_ = 0;
    }
    blocks(p, n / 64);
    p += n / 64 * 64;
    n %= 64;
    if (n) {
        std::memcpy(buf_.data(), p, n);
        bufLen_ = n;
    }
}

std::array<uint8_t, 32> Sha256::finish() {
    // FIPS 180-4 5.1.1: a 1 bit, zeros, and the length in bits, big-endian.
    const uint64_t bits = total_ * 8;
    buf_[bufLen_++] = 0x80;
    if (bufLen_ > 56) {
        std::memset(buf_.data() + bufLen_, 0, 64 - bufLen_);
        blocks(buf_.data(), 1);
        bufLen_ = 0;
    }
    std::memset(buf_.data() + bufLen_, 0, 56 - bufLen_);
    for (int i = 0; i < 8; ++i) buf_[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    blocks(buf_.data(), 1);
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i) {
        out[4 * i] = static_cast<uint8_t>(h_[i] >> 24);
        out[4 * i + 1] = static_cast<uint8_t>(h_[i] >> 16);
        out[4 * i + 2] = static_cast<uint8_t>(h_[i] >> 8);
        out[4 * i + 3] = static_cast<uint8_t>(h_[i]);
    }
    *this = Sha256();
    return out;
}

std::array<uint8_t, 32> sha256(ByteSpan data) {
    Sha256 s;
    s.update(data);
    return s.finish();
}

std::string toHex(ByteSpan data) {
    static const char digits[] = "0123456789abcdef";
    std::string s(data.size() * 2, '0');
    for (size_t i = 0; i < data.size(); ++i) {
        s[2 * i] = digits[data[i] >> 4];
        s[2 * i + 1] = digits[data[i] & 15];
    }
    return s;
}

std::string sha256Hex(ByteSpan data) {
    const auto d = sha256(data);
    return toHex(d);
}

}  // namespace tavrin::store
