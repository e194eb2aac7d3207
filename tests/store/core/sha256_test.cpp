#include "store/core/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin::store {
namespace {

ByteSpan span(const std::string& s) { return ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// FIPS 180-2 appendix B and the NIST example values.
TEST(Sha256, FipsVectors) {
    EXPECT_EQ(sha256Hex(span("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(span("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(span("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(span("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
                             "lmnopqrsmnopqrstnopqrstu")),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(sha256Hex(span(std::string(1000000, 'a'))),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PaddingBoundariesAndPiecewiseInput) {
    // Lengths around the 56- and 64-byte padding boundaries, fed whole and in
    // pieces of every size, give the same digest.
    for (size_t len : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        std::string s;
        for (size_t i = 0; i < len; ++i) s.push_back(static_cast<char>('a' + i % 26));
        const auto whole = sha256(span(s));
        for (size_t piece = 1; piece <= 70; piece += 23) {
            Sha256 h;
            for (size_t at = 0; at < s.size(); at += piece) h.update(span(s.substr(at, piece)));
            EXPECT_EQ(h.finish(), whole) << len << "/" << piece;
        }
    }
    EXPECT_EQ(sha256Hex(span(std::string(64, 'a'))), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
}

}  // namespace
}  // namespace tavrin::store
