// The verifier and the reader on real Outlook PSTs (skipped when the shared
// samples are absent): every sample verifies clean and reads completely,
// and single-byte corruptions of a sample's pages and blocks are found.
#include <gtest/gtest.h>

#include <set>

#include "pst_samples.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::pst {
namespace {

using testing::readBytes;
using testing::sample;
using testing::samplePsts;

std::string firstFindings(const verify::VerifyReport& r) {
    std::string s;
    for (size_t i = 0; i < r.findings.size() && i < 10; ++i) s += r.findings[i].text() + "\n";
    return s;
}

verify::VerifyReport verifyBytes(const store::Bytes& b) {
    return verify::verify(ndb::MemorySource::borrow(store::ByteSpan(b.data(), b.size())));
}

TEST(PstVerifierSamples, EveryOutlookSampleVerifiesClean) {
    const auto files = samplePsts();
    if (files.empty()) GTEST_SKIP() << "shared PST samples not available: " << testing::samplesDir();
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        auto r = verify::verifyFile(f.string());
        ASSERT_TRUE(r.ok()) << r.error().description;
        EXPECT_TRUE(r->clean()) << r->totalFindings << " finding(s):\n" << firstFindings(*r);
        EXPECT_GT(r->pages, 0u);
        EXPECT_GT(r->blocks, 0u);
        EXPECT_GT(r->folders, 0u);
    }
}

TEST(PstReaderSamples, EveryFolderAndMessageReads) {
    const auto files = samplePsts();
    if (files.empty()) GTEST_SKIP() << "shared PST samples not available: " << testing::samplesDir();
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        auto pst = messaging::PstReader::open(f.string());
        ASSERT_TRUE(pst.ok()) << pst.error().description;
        auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
        ASSERT_TRUE(tree.ok()) << tree.error().description;
        ASSERT_FALSE(tree->empty());
        EXPECT_EQ((*tree)[0].path, "");
        std::set<std::string> paths;
        for (const auto& e : *tree) {
            EXPECT_TRUE(paths.insert(e.path).second) << "folder path twice: " << e.path;
            for (uint32_t nid : e.folder.messages) {
                auto m = (*pst)->readMessage(nid);
                EXPECT_TRUE(m.ok()) << e.path << " node " << nid << ": " << m.error().description;
            }
            for (uint32_t nid : e.folder.associated) {
                auto m = (*pst)->readMessage(nid);
                EXPECT_TRUE(m.ok()) << e.path << " FAI node " << nid << ": " << m.error().description;
            }
        }
    }
}

// java-libpst's dist-list.pst holds Outlook's standard folder set.
TEST(PstReaderSamples, StandardFolderSetOfANewStore) {
    const auto p = sample("java-libpst/dist-list.pst");
    TAVRIN_REQUIRE_SAMPLE(p);
    auto pst = messaging::PstReader::open(p.string());
    ASSERT_TRUE(pst.ok()) << pst.error().description;
    EXPECT_EQ((*pst)->header().wVer, 23);
    auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
    ASSERT_TRUE(tree.ok()) << tree.error().description;
    std::set<std::string> paths;
    for (const auto& e : *tree) paths.insert(e.path);
    for (const char* want : {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Calendar", "Contacts"})
        EXPECT_TRUE(paths.count(want)) << want;
}

// Every page and block of the sample is covered by a CRC or a structural
// check, so one changed byte anywhere inside one must be reported.
TEST(PstVerifierSamples, SingleByteCorruptionsAreFound) {
    const auto p = sample("pstsdk/sample1.pst");
    TAVRIN_REQUIRE_SAMPLE(p);
    const store::Bytes original = readBytes(p);
    ASSERT_TRUE(verifyBytes(original).clean());

    // Offsets to damage: both header CRC ranges, the first AMap page, the
    // B-tree root pages, and a byte in the middle and in the trailer of
    // every block of the BBT.
    std::vector<std::pair<uint64_t, std::string>> targets = {
        {0x08, "header (partial CRC range)"},
        {0x200, "header (full CRC range)"},
        {0x4400 + 0x10, "first AMap page"},
        {0x4400 + 0x1fa, "first AMap page trailer"},
    };
    {
        auto db = ndb::NodeDatabase::open(ndb::MemorySource::borrow(store::ByteSpan(original.data(), original.size())));
        ASSERT_TRUE(db.ok()) << db.error().description;
        const auto& h = (*db)->header();
        targets.emplace_back(h.root.brefNbt.ib + 3, "NBT root page");
        targets.emplace_back(h.root.brefBbt.ib + 3, "BBT root page");
        targets.emplace_back(h.root.brefNbt.ib + 0x1f8, "NBT root page trailer");
        std::vector<ndb::BlockInfo> blocks;
        ASSERT_TRUE((*db)->forEachBlock([&](const ndb::BlockInfo& b) { blocks.push_back(b); }).ok());
        ASSERT_FALSE(blocks.empty());
        for (const auto& b : blocks) {
            if (b.cb == 0) continue;
            targets.emplace_back(b.ib + b.cb / 2, "block " + std::to_string(b.bid) + " data");
            const uint64_t padded = (uint64_t(b.cb) + 16 + 63) / 64 * 64;
            targets.emplace_back(b.ib + padded - 4, "block " + std::to_string(b.bid) + " trailer CRC");
        }
    }
    size_t checked = 0;
    for (const auto& [off, what] : targets) {
        ASSERT_LT(off, original.size()) << what;
        store::Bytes damaged = original;
        damaged[off] ^= 0x5a;
        const auto r = verifyBytes(damaged);
        EXPECT_FALSE(r.clean()) << "byte at 0x" << std::hex << off << " (" << what << ") changed, nothing found";
        ++checked;
    }
    EXPECT_GT(checked, 20u);
}

// Damage at random places never crashes or hangs the verifier or the reader.
TEST(PstVerifierSamples, ScatteredDamageIsSurvived) {
    const auto p = sample("go-pst/32-bit.pst");
    TAVRIN_REQUIRE_SAMPLE(p);
    const store::Bytes original = readBytes(p);
    uint32_t seed = 12345;
    auto next = [&] { seed = seed * 1103515245u + 12345u; return seed >> 8; };
    for (int round = 0; round < 60; ++round) {
        store::Bytes damaged = original;
        for (int k = 0; k < 8; ++k) damaged[next() % damaged.size()] = static_cast<uint8_t>(next());
        (void)verifyBytes(damaged);
        auto pst = messaging::PstReader::open(ndb::MemorySource::borrow(store::ByteSpan(damaged.data(), damaged.size())));
        if (!pst.ok()) continue;
        auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
        if (!tree.ok()) continue;
        for (const auto& e : *tree)
            for (uint32_t nid : e.folder.messages) (void)(*pst)->readMessage(nid);
    }
}

}  // namespace
}  // namespace tavrin::pst
