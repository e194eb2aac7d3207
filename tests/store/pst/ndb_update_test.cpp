// Changing an existing file's node database in place: new nodes and
// blocks, copy-on-write B-trees, reference counts, the allocation maps and
// their rebuild; each result checked with the strict verifier.
#include <gtest/gtest.h>

#include "fs/update_file.h"
#include "store/pst/ndb/byte_source.h"
#include "store/pst/ndb/ndb_update.h"
#include "store/pst/verify/verifier.h"
#include "pst_samples.h"
#include "written_store.h"

namespace tavrin::pst::ndb {
namespace {

using store::Bytes;

// Files to change: ours (permute and none) and every Unicode Outlook sample.
std::vector<std::pair<std::string, Bytes>> unicodeFiles() {
    std::vector<std::pair<std::string, Bytes>> out;
    for (uint8_t crypt : {uint8_t(1), uint8_t(0)}) {
        testing::WrittenStore w(crypt);
        out.emplace_back("ours-" + std::to_string(crypt), w.finish());
    }
    for (const auto& p : testing::samplePsts()) {
        Bytes b = testing::readBytes(p);
        if (b.size() > 12 && b[10] == 23) out.emplace_back(p.filename().string(), std::move(b));
    }
    return out;
}

std::string findings(const Bytes& file) {
    auto r = verify::verify(std::make_unique<MemorySource>(file));
    std::string s;
    for (const auto& f : r.findings) s += f.text() + "\n";
    return s;
}

Bytes dataOf(const Bytes& file, uint32_t nid) {
    auto db = NodeDatabase::open(std::make_unique<MemorySource>(file));
    if (!db) return {};
    auto n = Node::open(**db, nid);
    if (!n) return {};
    auto d = n->data();
    return d ? std::move(d).value() : Bytes{};
}

// The header's counters, past the NIDs these tests use.
std::array<uint32_t, 32> counters(const NdbUpdater& u) {
    auto c = u.header().rgnid;
    c[NID_TYPE_INTERNAL] = std::max<uint32_t>(c[NID_TYPE_INTERNAL], 0x8000);
    return c;
}

constexpr uint32_t kNewNid = makeNid(NID_TYPE_INTERNAL, 0x7000);

TEST(NdbUpdate, NewNodesAndABigStreamInEveryFileVerifyClean) {
    for (auto& [name, bytes] : unicodeFiles()) {
        SCOPED_TRACE(name);
        fs::MemoryFile file(bytes);
        auto u = NdbUpdater::open(file);
        ASSERT_TRUE(u.ok()) << u.error().description;
        Bytes big(300000);
        for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 13);
        for (uint32_t i = 0; i < 40; ++i) {
            auto bid = (*u)->writeStream(i == 0 ? ByteSpan(big) : ByteSpan(big).first(100 + i));
            ASSERT_TRUE(bid.ok());
            (*u)->setNode(NodeEntry{kNewNid + (i << 5), *bid, 0, 0});
        }
        ASSERT_TRUE((*u)->commit(counters(**u), (*u)->header().dwUnique + 5).ok());
        EXPECT_EQ(findings(file.bytes()), "");
        EXPECT_EQ(dataOf(file.bytes(), kNewNid), big);
        EXPECT_EQ(dataOf(file.bytes(), kNewNid + (39 << 5)).size(), 139u);
        EXPECT_EQ(dataOf(file.bytes(), NID_MESSAGE_STORE), dataOf(bytes, NID_MESSAGE_STORE));
    }
}

TEST(NdbUpdate, ReplacedDataIsFreedAndNothingChangedWritesNothing) {
    testing::WrittenStore w;
    const Bytes before = w.finish();
    {
        fs::MemoryFile file(before);
        auto u = NdbUpdater::open(file);
        ASSERT_TRUE(u.ok());
        ASSERT_TRUE((*u)->commit(counters(**u), 0).ok());
        EXPECT_EQ(file.bytes(), before);
    }
    fs::MemoryFile file(before);
    auto u = NdbUpdater::open(file);
    ASSERT_TRUE(u.ok());
    // The search activity list's block: replaced, so the old one leaves the
    // BBT and the AMap.
    auto old = (*u)->node(NID_SEARCH_ACTIVITY_LIST);
    ASSERT_TRUE(old.ok() && *old);
    const uint8_t sal[8] = {0x23, 0x22, 0, 0, 0x23, 0x22, 0, 0};
    auto bid = (*u)->writeStream(ByteSpan(sal, 8));
    ASSERT_TRUE(bid.ok());
    (*u)->setNode(NodeEntry{NID_SEARCH_ACTIVITY_LIST, *bid, 0, 0});
    ASSERT_TRUE((*u)->commit(counters(**u), 0).ok());
    EXPECT_EQ((*u)->stats().blocksFreed, 1u);
    EXPECT_EQ(findings(file.bytes()), "");
    EXPECT_EQ(dataOf(file.bytes(), NID_SEARCH_ACTIVITY_LIST), Bytes(sal, sal + 8));
    auto db = NodeDatabase::open(std::make_unique<MemorySource>(file.bytes()));
    EXPECT_EQ((*db)->findBlock((*old)->bidData).error().number, err::kNotFound);
}

TEST(NdbUpdate, InvalidMapsAreRebuiltFirst) {
    testing::WrittenStore w;
    Bytes bytes = w.finish();
    auto h = Header::decode(bytes);
    h->root.fAMapValid = root::kInvalidAMap;
    const Bytes hb = h->encode();
    std::copy(hb.begin(), hb.end(), bytes.begin());
    // A map page with every bit set: only a rebuild puts it right.
    Bytes amap(bytes.begin() + kFirstAMapOffset, bytes.begin() + kFirstAMapOffset + kPageSize);
    std::fill(amap.begin(), amap.begin() + kAMapBytes, uint8_t(0xFF));
    (void)sealPage(amap, ptypeAMap, kFirstAMapOffset, kFirstAMapOffset);
    std::copy(amap.begin(), amap.end(), bytes.begin() + kFirstAMapOffset);
    fs::MemoryFile file(bytes);
    auto u = NdbUpdater::open(file);
    ASSERT_TRUE(u.ok()) << u.error().description;
    EXPECT_TRUE((*u)->stats().amapRebuilt);
    ASSERT_TRUE((*u)->commit(counters(**u), 0).ok());
    EXPECT_EQ(findings(file.bytes()), "");
}

TEST(NdbUpdate, AFailedWriteLeavesTheFileAsItWas) {
    testing::WrittenStore w;
    const Bytes before = w.finish();
    for (int failAt = 1; failAt < 40; ++failAt) {
        SCOPED_TRACE(failAt);
        fs::MemoryFile file(before);
        int writes = 0;
        bool once = true;
        file.beforeWrite = [&](fs::MemoryFile::Op op, uint64_t, size_t) -> Status {
            if (op == fs::MemoryFile::Op::Flush) return {};
            if (++writes == failAt && once) {
                once = false;
                return Error(err::kDiskFull, "full");
            }
            return {};
        };
        auto u = NdbUpdater::open(file, UpdateOptions{{}, 4096});
        ASSERT_TRUE(u.ok());
        Bytes big(200000, 7);
        auto bid = (*u)->writeStream(big);
        if (bid) (*u)->setNode(NodeEntry{kNewNid, *bid, 0, 0});
        const Status s = (*u)->commit(counters(**u), 0);
        if (s.ok()) {
            EXPECT_EQ(findings(file.bytes()), "");
            EXPECT_EQ(dataOf(file.bytes(), kNewNid), big);
        } else {
            EXPECT_EQ(file.bytes().size(), before.size());
            EXPECT_TRUE(std::equal(before.begin(), before.begin() + header::kSize, file.bytes().begin()));
            EXPECT_EQ(findings(file.bytes()), "");
        }
    }
}

}  // namespace
}  // namespace tavrin::pst::ndb
