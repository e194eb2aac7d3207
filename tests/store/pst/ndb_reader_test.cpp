// The node database reader on files written in memory by our NDB writer, or
// put together by hand: data trees of every depth, subnode trees of both
// kinds, the three block encodings, an ANSI file, and B-trees and subnode
// trees that point back into themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

#include "fs/file_io.h"
#include "store/pst/ndb/crc.h"
#include "store/pst/ndb/crypt.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/ndb/ndb_writer.h"
#include "store/pst/ndb/records.h"
#include "btree_pages.h"

namespace tavrin::pst::ndb {
namespace {

using store::ByteSpan;
using store::Bytes;

Bytes pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

// A file from the NDB writer: `fill` writes blocks and names the nodes.
Bytes writeFile(uint8_t crypt, const std::function<void(NdbWriter&, std::vector<NodeEntry>&)>& fill) {
    fs::FailingSink sink(std::numeric_limits<uint64_t>::max());
    NdbOptions o;
    o.cryptMethod = crypt;
    NdbWriter w(sink, o);
    std::vector<NodeEntry> nodes;
    fill(w, nodes);
    std::sort(nodes.begin(), nodes.end(), [](const NodeEntry& a, const NodeEntry& b) { return a.nid < b.nid; });
    size_t next = 0;
    std::array<uint32_t, 32> rgnid{};
    rgnid.fill(0x400);
    const Status st = w.finish(
        [&](NodeEntry& e) -> Result<bool> {
            if (next == nodes.size()) return false;
            e = nodes[next++];
            return true;
        },
        rgnid);
    EXPECT_TRUE(st.ok()) << st.error().description;
    return sink.bytes();
}

std::unique_ptr<NodeDatabase> openDb(const Bytes& file) {
    auto db = NodeDatabase::open(MemorySource::borrow(ByteSpan(file.data(), file.size())));
    EXPECT_TRUE(db.ok()) << db.error().description;
    return db.ok() ? std::move(*db) : nullptr;
}

constexpr uint32_t nidOf(uint32_t i) { return makeNid(NID_TYPE_NORMAL_MESSAGE, 0x400 + i); }

// A stream handed over (its bytes read later by the writing thread) makes
// the same file as one copied, under every encoding, between copied blocks
// and across write buffers (256 KiB).
TEST(PstNdbWriter, StreamTakenWritesTheSameFileAsStreamCopied) {
    const std::vector<size_t> sizes = {1, kMaxBlockData, kMaxBlockData + 1, 3 * size_t(kMaxBlockData) + 5, 300000};
    for (uint8_t crypt : {kCryptNone, kCryptPermute, kCryptCyclic}) {
        Bytes files[2];
        for (int taking = 0; taking < 2; ++taking)
            files[taking] = writeFile(crypt, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
                for (uint32_t i = 0; i < sizes.size(); ++i) {
                    Bytes s = pattern(sizes[i], i);
                    auto bid = taking ? w.writeStreamTaking(std::move(s)) : w.writeStream(s);
                    ASSERT_TRUE(bid.ok() && w.writeBlock(pattern(100, i + 50), false).ok());
                    nodes.push_back({nidOf(i), *bid, 0, 0});
                }
            });
        EXPECT_EQ(files[0], files[1]) << int(crypt);
    }
}

// Streams of 0, 1, 8176, 8177 bytes, 1021 full blocks (the most one XBLOCK
// holds) and one byte more (an XXBLOCK): each reads back whole, in the
// blocks and at the depth the format prescribes.
TEST(PstNdbReader, DataTreesOfEveryDepthReadBack) {
    const std::vector<size_t> sizes = {0, 1, kMaxBlockData, kMaxBlockData + 1, size_t(kMaxBlockData) * kXBlockMaxEntries,
                                       size_t(kMaxBlockData) * kXBlockMaxEntries + 1};
    std::vector<Bytes> streams;
    for (size_t i = 0; i < sizes.size(); ++i) streams.push_back(pattern(sizes[i], static_cast<uint32_t>(i)));
    const Bytes file = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        for (uint32_t i = 0; i < streams.size(); ++i) {
            auto bid = w.writeStream(streams[i]);
            ASSERT_TRUE(bid.ok()) << bid.error().description;
            nodes.push_back({nidOf(i), *bid, 0, 0});
        }
    });
    auto db = openDb(file);
    ASSERT_TRUE(db);
    for (uint32_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        auto n = db->findNode(nidOf(i));
        ASSERT_TRUE(n.ok()) << n.error().description;
        auto s = db->readStream(n->bidData);
        ASSERT_TRUE(s.ok()) << s.error().description;
        EXPECT_TRUE(*s == streams[i]);
        auto blocks = db->readDataBlocks(n->bidData);
        ASSERT_TRUE(blocks.ok());
        EXPECT_EQ(blocks->size(), (sizes[i] + kMaxBlockData - 1) / kMaxBlockData);
        if (sizes[i] <= kMaxBlockData) {
            EXPECT_FALSE(isInternalBid(n->bidData));
            continue;
        }
        ASSERT_TRUE(isInternalBid(n->bidData));
        auto raw = db->readBlock(n->bidData);
        ASSERT_TRUE(raw.ok());
        auto x = XBlock::decode(*raw);
        ASSERT_TRUE(x.ok()) << x.error().description;
        EXPECT_EQ(x->lcbTotal, sizes[i]);
        EXPECT_EQ(x->cLevel, sizes[i] > size_t(kMaxBlockData) * kXBlockMaxEntries ? 2 : 1);
    }
}

// Lookups in B-trees of three levels, in scattered order and repeated:
// every node and block is found, and keys between, before and after the
// present ones (which fall inside the key range of a leaf met just before)
// are not.
TEST(PstNdbReader, LookupsInDeepBTreesFindExactlyThePresentKeys) {
    constexpr uint32_t kNodes = 3000;  // 15 NBT entries a leaf, 20 a branch: 3 levels
    std::vector<uint64_t> bids(kNodes);
    const Bytes file = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        for (uint32_t i = 0; i < kNodes; ++i) {
            auto bid = w.writeStream(pattern(1 + i % 7, i));
            ASSERT_TRUE(bid.ok()) << bid.error().description;
            bids[i] = *bid;
            nodes.push_back({nidOf(2 * i + 1), *bid, 0, 0});  // odd indexes only
        }
    });
    auto db = openDb(file);
    ASSERT_TRUE(db);
    uint32_t misses = 0;
    for (uint32_t step = 0; step < 4 * kNodes; ++step) {
        const uint32_t j = (step * 7919u) % (2 * kNodes + 2);  // 0 and 2 * kNodes + 1 lie outside
        auto n = db->findNode(nidOf(j));
        if (j % 2 == 0 || j > 2 * kNodes) {
            EXPECT_FALSE(n.ok()) << j;
            EXPECT_FALSE(db->findBlock(bids[(j / 2) % kNodes] + 2).ok()) << j;  // BIDs go up by 4
            ++misses;
            continue;
        }
        ASSERT_TRUE(n.ok()) << j << ": " << n.error().description;
        EXPECT_EQ(n->bidData, bids[j / 2]);
        auto b = db->findBlock(bids[j / 2]);
        ASSERT_TRUE(b.ok()) << b.error().description;
        EXPECT_EQ(b->bid, bids[j / 2]);
    }
    EXPECT_GT(misses, kNodes);
}

// Each encoding reads back; the data on disk is encoded (none: as is) and
// the internal XBLOCK above the data blocks never is.
TEST(PstNdbReader, EveryBlockEncodingReadsBack) {
    const Bytes small = pattern(3000, 7), large = pattern(kMaxBlockData + 500, 8);
    for (uint8_t crypt : {kCryptNone, kCryptPermute, kCryptCyclic}) {
        SCOPED_TRACE(int(crypt));
        const Bytes file = writeFile(crypt, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
            nodes.push_back({nidOf(0), *w.writeStream(small), 0, 0});
            nodes.push_back({nidOf(1), *w.writeStream(large), 0, 0});
        });
        auto db = openDb(file);
        ASSERT_TRUE(db);
        EXPECT_EQ(db->cryptMethod(), crypt);
        auto n0 = db->findNode(nidOf(0));
        ASSERT_TRUE(n0.ok());
        auto s0 = db->readStream(n0->bidData);
        ASSERT_TRUE(s0.ok()) << s0.error().description;
        EXPECT_TRUE(*s0 == small);
        auto info = db->findBlock(n0->bidData);
        ASSERT_TRUE(info.ok());
        ASSERT_EQ(info->cb, small.size());
        const Bytes stored(file.begin() + static_cast<ptrdiff_t>(info->ib),
                           file.begin() + static_cast<ptrdiff_t>(info->ib + info->cb));
        EXPECT_EQ(stored == small, crypt == kCryptNone);
        Bytes decoded = stored;
        ASSERT_TRUE(decodeBlock(crypt, decoded, n0->bidData));
        EXPECT_TRUE(decoded == small);

        auto n1 = db->findNode(nidOf(1));
        ASSERT_TRUE(n1.ok());
        auto s1 = db->readStream(n1->bidData);
        ASSERT_TRUE(s1.ok()) << s1.error().description;
        EXPECT_TRUE(*s1 == large);
        auto xi = db->findBlock(n1->bidData);
        ASSERT_TRUE(xi.ok());
        auto x = XBlock::decode(ByteSpan(file.data() + xi->ib, xi->cb));
        EXPECT_TRUE(x.ok()) << "an XBLOCK is stored without encoding";
    }
}

// Five subnodes fit one SLBLOCK; a thousand need an SIBLOCK over three
// SLBLOCKs. Both come back sorted, and each subnode opens with its data.
TEST(PstNdbReader, SubnodeTreesOfBothKinds) {
    std::vector<Bytes> data;
    for (uint32_t i = 0; i < 1000; ++i) data.push_back(pattern(16 + i % 40, i));
    const Bytes file = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        for (uint32_t count : {5u, 1000u}) {
            std::vector<SubnodeEntry> entries;
            for (uint32_t i = 0; i < count; ++i)
                entries.push_back({makeNid(NID_TYPE_ATTACHMENT, 0x20 + i), *w.writeStream(data[i]), 0});
            auto sub = w.writeSubnodes(entries);
            ASSERT_TRUE(sub.ok()) << sub.error().description;
            nodes.push_back({nidOf(count), *w.writeStream(pattern(10, count)), *sub, 0});
        }
    });
    auto db = openDb(file);
    ASSERT_TRUE(db);
    for (uint32_t count : {5u, 1000u}) {
        SCOPED_TRACE(count);
        auto node = Node::open(*db, nidOf(count));
        ASSERT_TRUE(node.ok()) << node.error().description;
        auto raw = db->readBlock(node->bidSub());
        ASSERT_TRUE(raw.ok());
        auto head = InternalBlockHead::decode(*raw);
        ASSERT_TRUE(head);
        EXPECT_EQ(head->btype, btypeSLBlock);
        EXPECT_EQ(head->cLevel, count > kSLBlockMaxEntries ? 1 : 0);
        auto subs = node->subnodes();
        ASSERT_TRUE(subs.ok()) << subs.error().description;
        ASSERT_EQ((*subs)->size(), count);
        for (uint32_t i = 0; i < count; ++i) EXPECT_EQ((**subs)[i].nid, makeNid(NID_TYPE_ATTACHMENT, 0x20 + i));
        for (uint32_t i : {0u, count / 2, count - 1}) {
            auto s = node->subnode(makeNid(NID_TYPE_ATTACHMENT, 0x20 + i));
            ASSERT_TRUE(s.ok()) << s.error().description;
            auto d = s->data();
            ASSERT_TRUE(d.ok());
            EXPECT_TRUE(*d == data[i]);
        }
        EXPECT_FALSE(node->subnode(makeNid(NID_TYPE_ATTACHMENT, 0x1F)).ok());
    }
}

// An ANSI file (wVer 14) put together by hand: 4-byte BIDs and NIDs, the
// 12-byte trailers and the ANSI B-tree entry sizes; a node whose data is an
// XBLOCK over two permuted blocks, with an SLBLOCK of one subnode.
TEST(PstNdbReader, ReadsAnAnsiFile) {
    constexpr Flavour A = Flavour::Ansi;
    Bytes file(0x8000, 0);
    const Bytes part1 = pattern(maxBlockData(A), 1), part2 = pattern(100, 2), subData = pattern(40, 3);
    struct Placed {
        uint64_t bid, ib;
        uint16_t cb;
    };
    std::vector<Placed> blocks;
    uint64_t at = 0x4600;
    auto put = [&](uint64_t bid, Bytes data, bool external) {
        if (external) encodeBlock(kCryptPermute, data, bid);
        const Bytes b = buildBlock(data, bid, at, A);
        ASSERT_FALSE(b.empty());
        ASSERT_LE(at + b.size(), file.size() - 2 * kPageSize);
        std::copy(b.begin(), b.end(), file.begin() + static_cast<ptrdiff_t>(at));
        blocks.push_back({bid, at, static_cast<uint16_t>(data.size())});
        at += b.size();
    };
    put(0x04, part1, true);
    put(0x08, part2, true);
    XBlock x;
    x.lcbTotal = static_cast<uint32_t>(part1.size() + part2.size());
    x.rgbid = {0x04, 0x08};
    put(0x0E, x.encode(A), false);
    put(0x10, subData, true);
    SLBlock sl;
    sl.entries.push_back({makeNid(NID_TYPE_ATTACHMENT, 1), 0x10, 0});
    put(0x16, sl.encode(A), false);

    const uint64_t nbtAt = (at + 511) / 512 * 512, bbtAt = nbtAt + 512;
    auto page = [&](uint64_t ib, uint8_t ptype, uint64_t pageBid, uint8_t cbEnt, uint8_t count,
                    const std::function<void(uint32_t, MutableByteSpan)>& entry) {
        MutableByteSpan p(file.data() + ib, kPageSize);
        for (uint32_t i = 0; i < count; ++i) entry(i, p.subspan(i * cbEnt, cbEnt));
        BTPageInfo info;
        info.cEnt = count;
        info.cEntMax = static_cast<uint8_t>(btEntryMax(cbEnt, A));
        info.cbEnt = cbEnt;
        ASSERT_TRUE(info.encode(p, A));
        ASSERT_TRUE(sealPage(p, ptype, pageBid, ib, A));
    };
    page(nbtAt, ptypeNBT, 0x20, static_cast<uint8_t>(NBTEntry::size(A)), 1, [&](uint32_t, MutableByteSpan s) {
        NBTEntry e;
        e.nid = nidOf(0);
        e.bidData = 0x0E;
        e.bidSub = 0x16;
        ASSERT_TRUE(e.encode(s, A));
    });
    page(bbtAt, ptypeBBT, 0x21, static_cast<uint8_t>(BBTEntry::size(A)), static_cast<uint8_t>(blocks.size()),
         [&](uint32_t i, MutableByteSpan s) {
             BBTEntry e;
             e.bref = {blocks[i].bid, blocks[i].ib};
             e.cb = blocks[i].cb;
             e.cRef = 2;
             ASSERT_TRUE(e.encode(s, A));
         });
    Header h;
    h.flavour = A;
    h.wVer = header::kVerAnsi14;
    h.bidNextB = 0x18;
    h.bidNextP = 0x22;
    h.rgnid.fill(0x400);
    h.root.ibFileEof = file.size();
    h.root.ibAMapLast = 0x4400;
    h.root.brefNbt = {0x20, nbtAt};
    h.root.brefBbt = {0x21, bbtAt};
    h.root.fAMapValid = root::kValidAMap2;
    h.rgbFM.fill(0xFF);
    h.rgbFP.fill(0xFF);
    h.bCryptMethod = kCryptPermute;
    const Bytes hb = h.encode();
    std::copy(hb.begin(), hb.end(), file.begin());

    auto db = openDb(file);
    ASSERT_TRUE(db);
    EXPECT_EQ(db->flavour(), A);
    auto node = Node::open(*db, nidOf(0));
    ASSERT_TRUE(node.ok()) << node.error().description;
    auto d = node->data();
    ASSERT_TRUE(d.ok()) << d.error().description;
    Bytes want = part1;
    want.insert(want.end(), part2.begin(), part2.end());
    EXPECT_TRUE(*d == want);
    auto s = node->subnode(makeNid(NID_TYPE_ATTACHMENT, 1));
    ASSERT_TRUE(s.ok()) << s.error().description;
    auto sd = s->data();
    ASSERT_TRUE(sd.ok());
    EXPECT_TRUE(*sd == subData);
    size_t n = 0;
    EXPECT_TRUE(db->forEachBlock([&](const BlockInfo&) { ++n; }).ok());
    EXPECT_EQ(n, blocks.size());
}

using testing::pagesOf;
using testing::PageRef;

// Rewrites entry `i` of the intermediate page at `ib` and seals the page
// again, so that only the structure is wrong, not the CRC.
void pointEntryAt(Bytes& file, const PageRef& page, uint32_t i, const Bref& target) {
    MutableByteSpan p(file.data() + page.ib, kPageSize);
    auto info = BTPageInfo::decode(p);
    ASSERT_TRUE(info);
    auto e = BTEntry::decode(p.subspan(i * info->cbEnt, info->cbEnt));
    ASSERT_TRUE(e);
    e->bref = target;
    ASSERT_TRUE(e->encode(p.subspan(i * info->cbEnt, info->cbEnt)));
    ASSERT_TRUE(sealPage(p, ptypeNBT, page.bid, page.ib));
}

// A node B-tree whose root names itself as a child, or one leaf twice: the
// walk and the lookups end with an error instead of running forever.
TEST(PstNdbReader, BTreesThatPointBackIntoThemselvesEndWithAnError) {
    const Bytes good = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        const uint64_t bid = *w.writeStream(pattern(20, 1), nullptr, 60);
        for (uint32_t i = 0; i < 60; ++i) nodes.push_back({nidOf(i), bid, 0, 0});
    });
    auto db = openDb(good);
    ASSERT_TRUE(db);
    const auto pages = pagesOf(good, db->header().root.brefNbt);
    ASSERT_GE(pages.size(), 5u);
    ASSERT_EQ(pages[0].level, 1) << "60 nodes take a root over four leaves";
    size_t nodes = 0;
    ASSERT_TRUE(db->forEachNode([&](const NodeInfo&) { ++nodes; }).ok());
    ASSERT_EQ(nodes, 60u);

    const Bref self{pages[0].bid, pages[0].ib};
    Bytes leafTwice = good, selfLoop = good;
    {
        MutableByteSpan p(leafTwice.data() + pages[0].ib, kPageSize);
        auto first = BTEntry::decode(p.subspan(0, kBTEntrySize));
        pointEntryAt(leafTwice, pages[0], 1, first->bref);
    }
    pointEntryAt(selfLoop, pages[0], 1, self);
    for (const Bytes* bad : {&leafTwice, &selfLoop}) {
        const auto start = std::chrono::steady_clock::now();
        auto d = openDb(*bad);
        ASSERT_TRUE(d);
        size_t seen = 0;
        EXPECT_FALSE(d->forEachNode([&](const NodeInfo&) { ++seen; }).ok());
        EXPECT_LE(seen, 60u);
        // A node of the second leaf: the lookup goes where the damaged entry
        // points and must not find it there.
        auto n = d->findNode(nidOf(20));
        if (n.ok()) {
            EXPECT_EQ(n->nid, nidOf(20));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}

// An SIBLOCK that lists itself among its SLBLOCKs: reading the subnodes
// fails instead of recursing.
TEST(PstNdbReader, ASubnodeTreeThatListsItselfEndsWithAnError) {
    Bytes file = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        std::vector<SubnodeEntry> entries;
        const uint64_t bid = *w.writeStream(pattern(8, 1), nullptr, 400);
        for (uint32_t i = 0; i < 400; ++i) entries.push_back({makeNid(NID_TYPE_ATTACHMENT, 0x20 + i), bid, 0});
        nodes.push_back({nidOf(0), *w.writeStream(pattern(8, 2)), *w.writeSubnodes(entries), 0});
    });
    auto db = openDb(file);
    ASSERT_TRUE(db);
    auto n = db->findNode(nidOf(0));
    ASSERT_TRUE(n.ok());
    auto info = db->findBlock(n->bidSub);
    ASSERT_TRUE(info.ok());
    auto si = SIBlock::decode(ByteSpan(file.data() + info->ib, info->cb));
    ASSERT_TRUE(si.ok()) << "400 subnodes take an SIBLOCK";
    si->entries[1].bid = n->bidSub;
    const Bytes b = buildBlock(si->encode(), n->bidSub, info->ib);
    std::copy(b.begin(), b.end(), file.begin() + static_cast<ptrdiff_t>(info->ib));
    auto d = openDb(file);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->readSubnodes(n->bidSub).ok());
}

// An XBLOCK claiming nearly 4 GiB over one small block: the reader refuses
// the disagreement rather than sizing anything by the claim.
TEST(PstNdbReader, ADataTreeTotalThatLiesIsRefused) {
    const Bytes big = pattern(kMaxBlockData + 10, 3);
    Bytes file = writeFile(kCryptPermute, [&](NdbWriter& w, std::vector<NodeEntry>& nodes) {
        nodes.push_back({nidOf(0), *w.writeStream(big), 0, 0});
    });
    auto db = openDb(file);
    ASSERT_TRUE(db);
    auto n = db->findNode(nidOf(0));
    ASSERT_TRUE(n.ok());
    auto info = db->findBlock(n->bidData);
    ASSERT_TRUE(info.ok());
    auto x = XBlock::decode(ByteSpan(file.data() + info->ib, info->cb));
    ASSERT_TRUE(x.ok());
    x->lcbTotal = 0xFFFFFF00u;
    const Bytes b = buildBlock(x->encode(), n->bidData, info->ib);
    std::copy(b.begin(), b.end(), file.begin() + static_cast<ptrdiff_t>(info->ib));
    auto d = openDb(file);
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->readStream(n->bidData).ok());
    EXPECT_FALSE(d->readDataBlocks(n->bidData).ok());
}

}  // namespace
}  // namespace tavrin::pst::ndb
