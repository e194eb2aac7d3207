#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

#include "store/core/bytes.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"

namespace tavrin::pst::ndb {
namespace {

uint32_t bitwiseCrc(const uint8_t* p, size_t n, uint32_t crc = 0) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

TEST(PstCrc, MatchesTheBytewiseDefinitionOnEveryLength) {
    // Lengths up to two blocks' worth of the 64-byte folding steps and the
    // 16-byte tail, at every alignment, with and without a running CRC.
    std::vector<uint8_t> data(1200);
    uint32_t x = 12345;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 23);
    }
    for (size_t start = 0; start < 16; start += 5)
        for (size_t len = 0; len + start <= data.size(); ++len) {
            ASSERT_EQ(computeCrc(std::span(data.data() + start, len)), bitwiseCrc(data.data() + start, len))
                << start << "+" << len;
            ASSERT_EQ(computeCrc(std::span(data.data() + start, len), 0xDEADBEEF),
                      bitwiseCrc(data.data() + start, len, 0xDEADBEEF))
                << start << "+" << len;
        }
    const std::vector<uint8_t> ones(8176, 0xFF), zeros(8176, 0);
    EXPECT_EQ(computeCrc(ones), bitwiseCrc(ones.data(), ones.size()));
    EXPECT_EQ(computeCrc(zeros), 0u);
    // Initial value 0, no final inversion: the CRC of nothing is 0.
    EXPECT_EQ(computeCrc({}), 0u);
}

TEST(PstCrc, EncodedCopyCarriesTheCrcOfTheStoredBytes) {
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
    for (uint8_t method : {kCryptNone, kCryptPermute, kCryptCyclic})
        for (size_t len : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(100), size_t(5000)}) {
            std::vector<uint8_t> expected(data.begin(), data.begin() + static_cast<ptrdiff_t>(len));
            ASSERT_TRUE(encodeBlock(method, expected, 0x1234));
            std::vector<uint8_t> out(len);
            uint32_t crc = 1;
            ASSERT_TRUE(encodeBlockCopy(method, std::span(data.data(), len), out, 0x1234, crc));
            EXPECT_EQ(out, expected) << int(method) << " " << len;
            EXPECT_EQ(crc, bitwiseCrc(expected.data(), expected.size())) << int(method) << " " << len;
        }
    uint32_t crc = 0;
    std::vector<uint8_t> small(3);
    EXPECT_FALSE(encodeBlockCopy(0x10, std::span(data.data(), 3), small, 1, crc));
}

TEST(PstCrc, MappedCopyEqualsTheTableOnEveryByteLengthAndAlignment) {
    // Every byte value at every position of the vector steps (32 bytes and
    // the AVX-512 64), every tail length, copied and in place.
    uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i * 167 + 13);
    std::vector<uint8_t> data(256 * 3);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    for (size_t start = 0; start < 64; start += 3)
        for (size_t len = 0; len + start <= data.size(); len += len < 200 ? 1 : 37) {
            std::vector<uint8_t> want(len), out(len), inPlace(data.begin() + start, data.begin() + start + len);
            for (size_t i = 0; i < len; ++i) want[i] = map[data[start + i]];
            ASSERT_EQ(mapCopyCrc(data.data() + start, out.data(), len, map, 7), bitwiseCrc(want.data(), len, 7));
            ASSERT_EQ(mapCopyCrc(inPlace.data(), inPlace.data(), len, map), bitwiseCrc(want.data(), len));
            ASSERT_EQ(out, want) << start << "+" << len;
            ASSERT_EQ(inPlace, want) << start << "+" << len;
        }
}

TEST(PstCrc, ReproducesTheHeaderCrcsOfAnOutlookFile) {
    const std::filesystem::path p = std::filesystem::path(TAVRIN_SHARED_DIR) / "samples/pst/pstsdk/sample1.pst";
    if (!std::filesystem::exists(p)) GTEST_SKIP() << "shared samples not available: " << p;
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(d.size(), 564u);
    EXPECT_EQ(computeCrc(std::span(d.data() + 8, 471)), store::loadLE32(d.data() + 4));
    EXPECT_EQ(computeCrc(std::span(d.data() + 8, 516)), store::loadLE32(d.data() + 524));
}

TEST(PstCrypt, PermuteAndCyclicRoundTrip) {
    std::vector<uint8_t> plain(256);
    std::iota(plain.begin(), plain.end(), uint8_t{0});
    auto data = plain;
    permuteEncode(data);
    EXPECT_NE(data, plain);
    permuteDecode(data);
    EXPECT_EQ(data, plain);
    cyclicCrypt(data, 0x12345678);
    EXPECT_NE(data, plain);
    cyclicCrypt(data, 0x12345678);
    EXPECT_EQ(data, plain);
    EXPECT_FALSE(encodeBlock(0x10, data, 4));
}

TEST(PstSignature, FoldsOffsetAndBid) {
    EXPECT_EQ(computeSig(0, 0), 0);
    EXPECT_EQ(computeSig(0x4400, 0x4400), 0);
    EXPECT_EQ(computeSig(0x00010002, 0), 0x0003);
}

}  // namespace
}  // namespace tavrin::pst::ndb
