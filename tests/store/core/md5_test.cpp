#include "store/core/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "store/core/sha256.h"

namespace tavrin::store {
namespace {

std::string md5Hex(const std::string& s) {
    const auto d = md5(ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    return toHex(d);
}

// RFC 1321 A.5, with lengths at the 55/56/64-byte padding boundaries among them.
TEST(Md5, Rfc1321Vectors) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_EQ(md5Hex(std::string(55, 'x')), "04364420e25c512fd958a70738aa8f72");
    EXPECT_EQ(md5Hex(std::string(56, 'x')), "668a72d5ba17f08e62dabcafad6db14b");
    EXPECT_EQ(md5Hex(std::string(63, 'x')), "7dc2ca208106a2f703567bdff99d8981");
    EXPECT_EQ(md5Hex(std::string(64, 'x')), "c1bb4f81d892b2d57947682aeb252456");
    EXPECT_EQ(md5Hex(std::string(65, 'x')), "1bc932052302d074bdec39795fe00cf6");
}

// FIPS 180-4's examples and lengths at the padding boundaries, on the
// processor's SHA extensions where it has them and on the portable code,
// whole and in pieces of every size up to 130 bytes.
TEST(Sha256, VectorsAlikeOnBothPathsWholeAndInPieces) {
    const struct {
        std::string in;
        const char* digest;
    } cases[] = {
        {std::string(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {std::string("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
        {std::string(56, 'x'), "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
        {std::string(64, 'x'), "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (bool accelerated : {true, false}) {
        Sha256::setAccelerated(accelerated);
        for (const auto& c : cases) {
            const ByteSpan in(reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size());
            EXPECT_EQ(sha256Hex(in), c.digest) << c.in.size() << " bytes, accelerated " << accelerated;
            if (c.in.size() > 4096) continue;
            for (size_t piece = 1; piece <= 130; ++piece) {
                Sha256 s;
                for (size_t at = 0; at < in.size(); at += piece) s.update(in.subspan(at, std::min(piece, in.size() - at)));
                const auto d = s.finish();
                ASSERT_EQ(toHex(ByteSpan(d.data(), d.size())), c.digest) << c.in.size() << " bytes in pieces of " << piece;
            }
        }
    }
    Sha256::setAccelerated(true);
}

}  // namespace
}  // namespace tavrin::store
