// A compound file read on demand: the same streams as from its bytes in
// memory, large streams read straight from the file (never into the
// image), and a failing read reported, not hidden. (readMessageFile reads
// files over 16 MiB so; tests/store has that case.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/cfb/compound_file.h"

namespace tavrin::store::cfb {
namespace {

StorageEntry stream(std::u16string name, size_t size, uint8_t seed) {
    StorageEntry e;
    e.name = std::move(name);
    e.data.resize(size);
    for (size_t i = 0; i < size; ++i) e.data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return e;
}

TEST(LazyCompoundFile, ReadsLargeStreamsStraightFromTheFile) {
    StorageEntry root;
    root.isStorage = true;
    root.name = u"Root Entry";
    // 3 MiB and a ragged 1.2 MiB, beside small and mid-sized streams.
    root.children = {stream(u"big", 3 << 20, 1), stream(u"small", 300, 2), stream(u"mid", 50000, 3),
                     stream(u"ragged", (1 << 20) + 200001, 4)};
    for (uint16_t major : {3, 4}) {
        auto bytes = writeCompoundFile(root, major);
        ASSERT_TRUE(bytes.ok());
        const Bytes& file = *bytes;
        auto whole = CompoundFile::open(file);
        ASSERT_TRUE(whole.ok());

        // The image starts as garbage: only what is loaded may be read.
        Bytes image(file.size(), 0xCD);
        std::vector<bool> loaded(file.size(), false);
        uint64_t direct = 0;
        bool failReads = false;
        auto lazy = std::make_shared<LazyFile>();
        lazy->load = [&](uint64_t off, uint64_t n) -> Status {
            EXPECT_LE(off + n, file.size());
            std::copy(file.begin() + off, file.begin() + off + n, image.begin() + off);
            std::fill(loaded.begin() + off, loaded.begin() + off + n, true);
            return {};
        };
        lazy->readAt = [&](uint64_t off, std::span<uint8_t> out) -> Status {
            if (failReads) return Error(err::kIo, "The file x.msg could not be read: Input/output error.");
            direct += out.size();
            std::copy(file.begin() + off, file.begin() + off + out.size(), out.begin());
            return {};
        };
        auto cf = CompoundFile::open(image, lazy);
        ASSERT_TRUE(cf.ok()) << cf.error().description;
        for (uint32_t id : cf->children(CompoundFile::root())) {
            auto a = cf->read(id), b = whole->read(id);
            ASSERT_TRUE(a.ok() && b.ok());
            EXPECT_TRUE(std::equal(a->bytes().begin(), a->bytes().end(), b->bytes().begin(), b->bytes().end()))
                << major << " " << id;
        }
        EXPECT_EQ(direct, (uint64_t(3) << 20) + (1 << 20) + 200001) << "the two large streams, once";
        size_t inImage = 0;
        for (bool l : loaded) inImage += l;
        EXPECT_LT(inImage, 200000u) << "the large streams never went into the image";

        failReads = true;
        auto again = CompoundFile::open(image, lazy);
        ASSERT_TRUE(again.ok());
        auto big = again->find(CompoundFile::root(), u"big");
        ASSERT_TRUE(big.has_value());
        auto r = again->read(*big);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().number, err::kIo);
    }
}

}  // namespace
}  // namespace tavrin::store::cfb
