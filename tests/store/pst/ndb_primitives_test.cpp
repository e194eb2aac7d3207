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

TEST(PstCrc, MatchesTheBytewiseDefinitionOnEveryLength) {
    std::vector<uint8_t> data(300);
    std::iota(data.begin(), data.end(), uint8_t{7});
    for (size_t len = 0; len <= data.size(); ++len) {
        uint32_t ref = 0;
        for (size_t i = 0; i < len; ++i) {
            ref ^= data[i];
            for (int k = 0; k < 8; ++k) ref = (ref & 1) ? (ref >> 1) ^ 0xEDB88320u : ref >> 1;
        }
        ASSERT_EQ(computeCrc(std::span(data.data(), len)), ref) << len;
    }
    // Initial value 0, no final inversion: the CRC of nothing is 0.
    EXPECT_EQ(computeCrc({}), 0u);
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
