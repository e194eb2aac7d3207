// Damage that keeps every CRC valid: a written store is changed in one
// field and the page or block holding it is sealed again (block data
// re-encoded, trailer CRC recomputed), so only the verifier's semantic
// checks can find it: AMap bits and the free count, reference counts, key
// order, missing blocks, row indexes, contents tables against messages and
// counts, hierarchy tables against sub-folders, message sizes, the header's
// file end.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "store/core/tags.h"
#include "store/pst/ltp/heap_reader.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/ndb/crypt.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/ndb/records.h"
#include "store/pst/verify/verifier.h"
#include "written_store.h"
#include "btree_pages.h"

namespace tavrin::pst {
namespace {

using namespace store;
using namespace store::tags;
using namespace ndb;

struct Sample {
    Bytes file;
    uint32_t folderA = 0, folderB = 0;
    std::vector<uint32_t> messagesA;
};

// Folders A and A/B; three messages in A (one unread, one with an
// attachment) and one in B.
const Sample& sample() {
    static const Sample s = [] {
        Sample out;
        testing::WrittenStore w;
        const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
        out.folderA = *w.writer->addFolder(top, "A", "IPF.Note");
        out.folderB = *w.writer->addFolder(out.folderA, "B", "IPF.Note");
        for (int i = 0; i < 3; ++i) {
            Message m;
            m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "m" + std::to_string(i)));
            m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
            m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), i == 1 ? 0 : 1));
            if (i == 2) {
                Attachment a;
                a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afByValue));
                a.props.set(Property::unicodeUtf8(makeTag(PidTagAttachLongFilename, PT_UNICODE), "a.txt"));
                a.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes(100, 'x')));
                m.attachments.push_back(std::move(a));
                m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 0x11));
            }
            out.messagesA.push_back(*w.writer->addMessage(out.folderA, m));
        }
        Message m;
        m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "in B"));
        m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
        m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 1));
        (void)*w.writer->addMessage(out.folderB, m);
        out.file = w.finish();
        return out;
    }();
    return s;
}

verify::VerifyReport verifyBytes(const Bytes& b) {
    return verify::verify(MemorySource::borrow(ByteSpan(b.data(), b.size())));
}

std::string allFindings(const verify::VerifyReport& r) {
    std::string s;
    for (const auto& f : r.findings) s += f.text() + "\n";
    return s;
}

// True when some finding contains `what`; prints them all otherwise.
::testing::AssertionResult found(const Bytes& damaged, const std::string& what) {
    const auto r = verifyBytes(damaged);
    for (const auto& f : r.findings)
        if (f.text().find(what) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no finding with \"" << what << "\" among " << r.totalFindings << ":\n"
                                         << allFindings(r);
}

std::unique_ptr<NodeDatabase> openDb(const Bytes& file) {
    auto db = NodeDatabase::open(MemorySource::borrow(ByteSpan(file.data(), file.size())));
    return db.ok() ? std::move(*db) : nullptr;
}

// Seals the 512-byte page at `ib` again under its own type and BID.
void reseal(Bytes& file, uint64_t ib) {
    MutableByteSpan p(file.data() + ib, kPageSize);
    auto t = PageTrailer::decodeFromPage(p);
    ASSERT_TRUE(t);
    ASSERT_TRUE(sealPage(p, t->ptype, t->bid, ib));
}

// Changes a block's decoded data in place (same size) and stores it again:
// encoded with the file's method, trailer CRC recomputed.
void rewriteBlock(Bytes& file, uint64_t bid, const std::function<void(Bytes&)>& change) {
    auto db = openDb(file);
    ASSERT_TRUE(db);
    auto info = db->findBlock(bid);
    ASSERT_TRUE(info.ok()) << info.error().description;
    Bytes data(file.begin() + static_cast<ptrdiff_t>(info->ib),
               file.begin() + static_cast<ptrdiff_t>(info->ib + info->cb));
    const bool external = !isInternalBid(bid);
    if (external) {
        ASSERT_TRUE(decodeBlock(db->cryptMethod(), data, bid));
    }
    const size_t size = data.size();
    change(data);
    ASSERT_EQ(data.size(), size);
    if (external) {
        ASSERT_TRUE(encodeBlock(db->cryptMethod(), data, bid));
    }
    const Bytes b = buildBlock(data, bid, info->ib);
    ASSERT_FALSE(b.empty());
    std::copy(b.begin(), b.end(), file.begin() + static_cast<ptrdiff_t>(info->ib));
}

// The data block of a node that fits one block.
uint64_t dataBid(const Bytes& file, uint32_t nid) {
    auto db = openDb(file);
    EXPECT_TRUE(db);
    if (!db) return 0;
    auto n = db->findNode(nid);
    EXPECT_TRUE(n.ok());
    if (!n.ok()) return 0;
    EXPECT_FALSE(isInternalBid(n->bidData));
    return n->bidData;
}

// Sets the inline value of a PC property (a 4-byte type) in a node's heap.
void setPcValue(Bytes& file, uint32_t nid, uint16_t propId, uint32_t value) {
    rewriteBlock(file, dataBid(file, nid), [&](Bytes& d) {
        const uint8_t key[4] = {uint8_t(propId), uint8_t(propId >> 8), 0x03, 0x00};  // wPropId, PT_LONG
        auto it = std::search(d.begin(), d.end(), std::begin(key), std::end(key));
        ASSERT_NE(it, d.end()) << "no PC record for " << propId;
        storeLE32(&*(it + 4), value);
    });
}

// Gives a message of folder A's contents table another row id, in the row
// matrix and the row index alike.
void renameContentsRow(Bytes& file, uint32_t rowId, uint32_t newId) {
    rewriteBlock(file, dataBid(file, messaging::contentsTableNid(sample().folderA)), [&](Bytes& d) {
        uint8_t from[4], to[4];
        storeLE32(from, rowId);
        storeLE32(to, newId);
        size_t n = 0;
        for (auto it = std::search(d.begin(), d.end(), from, from + 4); it != d.end();
             it = std::search(it + 4, d.end(), from, from + 4)) {
            std::copy(to, to + 4, it);
            ++n;
        }
        ASSERT_GE(n, 2u) << "row matrix and row index";
    });
}

using testing::pagesOf;
using testing::PageRef;
PageRef firstLeaf(const Bytes& file, const Bref& root) {
    for (const auto& p : pagesOf(file, root))
        if (p.level == 0) return p;
    return {};
}

TEST(PstVerifierSemantic, TheUndamagedSampleIsClean) {
    verify::VerifyOptions strict;
    strict.strict = true;
    const auto r = verify::verify(MemorySource::borrow(ByteSpan(sample().file.data(), sample().file.size())), strict);
    EXPECT_TRUE(r.clean()) << allFindings(r);
    EXPECT_EQ(r.messages, 4u);
}

TEST(PstVerifierSemantic, AnAMapBitClearedUnderABlock) {
    Bytes f = sample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    auto info = db->findBlock(dataBid(f, sample().messagesA[0]));
    ASSERT_TRUE(info.ok());
    ASSERT_LT(info->ib, kFirstAMapOffset + kAMapCoverage);
    const uint64_t bit = (info->ib - kFirstAMapOffset) / kSlotSize;
    f[kFirstAMapOffset + bit / 8] &= static_cast<uint8_t>(~(0x80u >> (bit % 8)));
    reseal(f, kFirstAMapOffset);
    EXPECT_TRUE(found(f, "slots in use are marked free"));
}

TEST(PstVerifierSemantic, AnAMapBitSetOverFreeSpace) {
    Bytes f = sample().file;
    // The last slot of the first section is free in a file this small.
    const uint64_t bit = kAMapBytes * 8 - 1;
    ASSERT_EQ(f[kFirstAMapOffset + bit / 8] & 1, 0);
    f[kFirstAMapOffset + bit / 8] |= 1;
    reseal(f, kFirstAMapOffset);
    EXPECT_TRUE(found(f, "slots marked in use hold no page or block"));
    EXPECT_TRUE(found(f, "cbAMapFree"));
}

TEST(PstVerifierSemantic, AReferenceCountOffByOne) {
    Bytes f = sample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    const PageRef leaf = firstLeaf(f, db->header().root.brefBbt);
    MutableByteSpan p(f.data() + leaf.ib, kPageSize);
    auto e = BBTEntry::decode(p.subspan(0, kBBTEntrySize));
    ASSERT_TRUE(e);
    e->cRef = static_cast<uint16_t>(e->cRef + 1);
    ASSERT_TRUE(e->encode(p.subspan(0, kBBTEntrySize)));
    reseal(f, leaf.ib);
    EXPECT_TRUE(found(f, "references were found"));
}

TEST(PstVerifierSemantic, NodeKeysOutOfOrder) {
    Bytes f = sample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    const PageRef leaf = firstLeaf(f, db->header().root.brefNbt);
    MutableByteSpan p(f.data() + leaf.ib, kPageSize);
    Bytes first(p.begin(), p.begin() + kNBTEntrySize);
    std::copy(p.begin() + kNBTEntrySize, p.begin() + 2 * kNBTEntrySize, p.begin());
    std::copy(first.begin(), first.end(), p.begin() + kNBTEntrySize);
    reseal(f, leaf.ib);
    EXPECT_TRUE(found(f, "is not above the previous"));
}

TEST(PstVerifierSemantic, ANodeNamingABlockThatIsNotThere) {
    Bytes f = sample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    const PageRef leaf = firstLeaf(f, db->header().root.brefNbt);
    MutableByteSpan p(f.data() + leaf.ib, kPageSize);
    auto e = NBTEntry::decode(p.subspan(0, kNBTEntrySize));
    ASSERT_TRUE(e);
    e->bidData = db->header().bidNextB + 0x100;
    ASSERT_TRUE(e->encode(p.subspan(0, kNBTEntrySize)));
    reseal(f, leaf.ib);
    EXPECT_TRUE(found(f, "which is not in the BBT"));
}

TEST(PstVerifierSemantic, AFolderContentCountThatDisagreesWithItsTable) {
    Bytes f = sample().file;
    setPcValue(f, sample().folderA, PidTagContentCount, 4);
    EXPECT_TRUE(found(f, "PidTagContentCount 4 with 3 contents rows"));
}

TEST(PstVerifierSemantic, AnUnreadCountThatDisagreesWithTheMessages) {
    Bytes f = sample().file;
    setPcValue(f, sample().folderA, PidTagContentUnreadCount, 0);
    EXPECT_TRUE(found(f, "PidTagContentUnreadCount 0 with 1 unread messages"));
}

TEST(PstVerifierSemantic, AMessageSizeThatDisagreesWithItsBlocks) {
    Bytes f = sample().file;
    setPcValue(f, sample().messagesA[0], PidTagMessageSize, 12345);
    EXPECT_TRUE(found(f, "PidTagMessageSize 12345 where the node's blocks hold"));
}

// The contents table of A: a message's row gets another row id (in the row
// matrix and the row index alike), so the table and the folder's messages
// no longer agree.
TEST(PstVerifierSemantic, AContentsRowThatNamesNoMessageOfTheFolder) {
    Bytes f = sample().file;
    const uint32_t victim = sample().messagesA[1];
    const uint32_t other = victim + 0x20 * 50;  // a NORMAL_MESSAGE NID nobody uses
    renameContentsRow(f, victim, other);
    EXPECT_TRUE(found(f, "has no row in the contents table"));
    EXPECT_TRUE(found(f, "is not a message of this folder"));
}

// Two rows of A's contents table carry the same row id (row matrix and
// row index both rewritten).
TEST(PstVerifierSemantic, TwoContentsRowsWithOneRowId) {
    Bytes f = sample().file;
    const uint32_t victim = sample().messagesA[1], twin = sample().messagesA[0];
    renameContentsRow(f, victim, twin);
    EXPECT_TRUE(found(f, "row id " + hex(twin) + " appears twice"));
}

// The row index of A's contents table sends a row id to the wrong row.
TEST(PstVerifierSemantic, ARowIndexThatDisagreesWithTheRowMatrix) {
    Bytes f = sample().file;
    auto pst = messaging::PstReader::open(MemorySource::borrow(ByteSpan(f.data(), f.size())));
    ASSERT_TRUE(pst.ok());
    auto node = Node::open((*pst)->database(), messaging::contentsTableNid(sample().folderA));
    ASSERT_TRUE(node.ok());
    auto tc = ltp::TableContext::open(*node);
    ASSERT_TRUE(tc.ok());
    auto index = tc->rowIndex();
    ASSERT_TRUE(index.ok());
    ASSERT_EQ(index->size(), 3u);
    const uint32_t id = (*index)[0].dwRowID, row = (*index)[0].dwRowIndex;
    rewriteBlock(f, node->bidData(), [&](Bytes& d) {
        uint8_t rec[8];
        storeLE32(rec, id);
        storeLE32(rec + 4, row);
        auto it = std::search(d.begin(), d.end(), rec, rec + 8);
        ASSERT_NE(it, d.end());
        storeLE32(&*(it + 4), (row + 1) % 3);
    });
    EXPECT_TRUE(found(f, "row index says row"));
}

// A's hierarchy table loses its one row's id to a folder that is not there.
TEST(PstVerifierSemantic, AHierarchyRowThatNamesNoSubFolder) {
    Bytes f = sample().file;
    const uint32_t b = sample().folderB, other = b + 0x20 * 40;
    rewriteBlock(f, dataBid(f, messaging::hierarchyTableNid(sample().folderA)), [&](Bytes& d) {
        uint8_t from[4], to[4];
        storeLE32(from, b);
        storeLE32(to, other);
        for (auto it = std::search(d.begin(), d.end(), from, from + 4); it != d.end();
             it = std::search(it + 4, d.end(), from, from + 4))
            std::copy(to, to + 4, it);
    });
    EXPECT_TRUE(found(f, "has no row in the hierarchy table"));
}

TEST(PstVerifierSemantic, AHeaderFileEndThatIsNotTheFilesSize) {
    Bytes f = sample().file;
    auto h = Header::decode(f);
    ASSERT_TRUE(h.ok());
    h->root.ibFileEof += kAMapCoverage;
    const Bytes hb = h->encode();
    std::copy(hb.begin(), hb.end(), f.begin());
    EXPECT_TRUE(found(f, "differs from the file size"));
    f = sample().file;
    h = Header::decode(f);
    ASSERT_TRUE(h.ok());
    h->root.ibAMapLast += kAMapCoverage;
    const Bytes hb2 = h->encode();
    std::copy(hb2.begin(), hb2.end(), f.begin());
    EXPECT_TRUE(found(f, "is not the last AMap page"));
}

// The first PMap page carries another map page's type.
TEST(PstVerifierSemantic, APMapPageOfTheWrongType) {
    Bytes f = sample().file;
    MutableByteSpan p(f.data() + pmapOffset(0), kPageSize);
    ASSERT_TRUE(sealPage(p, ptypeFMap, pmapOffset(0), pmapOffset(0)));
    EXPECT_TRUE(found(f, "not a PMap page"));
}

// Two records of a message's property BTH change places.
TEST(PstVerifierSemantic, PropertyRecordsOutOfOrder) {
    Bytes f = sample().file;
    const uint32_t nid = sample().messagesA[0];
    auto db = openDb(f);
    ASSERT_TRUE(db);
    auto node = Node::open(*db, nid);
    ASSERT_TRUE(node.ok());
    auto pc = ltp::PropertyContext::open(*node);
    ASSERT_TRUE(pc.ok());
    ASSERT_GE(pc->entries().size(), 2u);
    const auto e0 = pc->entries()[0], e1 = pc->entries()[1];
    rewriteBlock(f, node->bidData(), [&](Bytes& d) {
        uint8_t rec[8];
        storeLE16(rec, e0.wPropId);
        storeLE16(rec + 2, e0.wPropType);
        storeLE32(rec + 4, e0.dwValueHnid);
        auto it = std::search(d.begin(), d.end(), rec, rec + 8);
        ASSERT_NE(it, d.end());
        uint8_t next[8];
        std::copy(it + 8, it + 16, next);
        ASSERT_EQ(loadLE16(next), e1.wPropId);
        std::copy(rec, rec + 8, it + 8);
        std::copy(next, next + 8, it);
    });
    EXPECT_TRUE(found(f, "is not above the previous key"));
}

// A heap's fill level that does not match the space its block has left.
TEST(PstVerifierSemantic, AHeapFillLevelThatIsWrong) {
    Bytes f = sample().file;
    rewriteBlock(f, dataBid(f, sample().messagesA[0]), [&](Bytes& d) {
        // HNHDR: ibHnpm, bSig, bClientSig, hidUserRoot, rgbFillLevel.
        ASSERT_EQ(d[2], 0xEC);
        d[8] = static_cast<uint8_t>(d[8] ^ 0x0F);
    });
    EXPECT_TRUE(found(f, "fill level"));
    // Level 1 where the free space gives 0: one class off, a note only.
    rewriteBlock(f, dataBid(f, sample().messagesA[0]), [&](Bytes& d) { d[8] = static_cast<uint8_t>(d[8] ^ 0x0E); });
    EXPECT_FALSE(found(f, "fill level"));
}

// A mandatory node (the search management queue) renumbered away, keeping
// the node B-tree in order.
TEST(PstVerifierSemantic, AMandatoryNodeThatIsMissing) {
    Bytes f = sample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    bool renamed = false;
    for (const auto& page : pagesOf(f, db->header().root.brefNbt)) {
        if (page.level != 0) continue;
        MutableByteSpan p(f.data() + page.ib, kPageSize);
        auto info = BTPageInfo::decode(p);
        for (uint32_t i = 0; info && i < info->cEnt; ++i) {
            auto e = NBTEntry::decode(p.subspan(i * kNBTEntrySize, kNBTEntrySize));
            if (!e || e->nid != NID_SEARCH_MANAGEMENT_QUEUE) continue;
            e->nid = NID_SEARCH_MANAGEMENT_QUEUE + 0x10;  // 0x1F1, still below 0x201
            ASSERT_TRUE(e->encode(p.subspan(i * kNBTEntrySize, kNBTEntrySize)));
            reseal(f, page.ib);
            renamed = true;
        }
    }
    ASSERT_TRUE(renamed);
    EXPECT_TRUE(found(f, "mandatory node is missing"));
}

// A store whose one message uses a named property (PS_PUBLIC_STRINGS lid
// 0x1234), with its name-to-id map's entry stream changed by `change`
// (NAMEIDs of 8 bytes: dwPropertyID, wGuid and N, wPropIdx).
Bytes storeWithNameEntries(const std::function<void(Bytes&)>& change) {
    testing::WrittenStore w;
    const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
    const uint32_t folder = *w.writer->addFolder(top, "N", "IPF.Note");
    Message m;
    m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "named"));
    m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 1));
    Property p = Property::int32(makeTag(0x8000, PT_LONG), 7);
    p.name = NamedPropName{PS_PUBLIC_STRINGS, false, 0x1234, {}};
    m.props.set(p);
    EXPECT_TRUE(w.writer->addMessage(folder, m).ok());
    Bytes f = w.finish();
    EXPECT_TRUE(verifyBytes(f).clean()) << allFindings(verifyBytes(f));

    auto db = openDb(f);
    EXPECT_TRUE(db);
    auto node = Node::open(*db, NID_NAME_TO_ID_MAP);
    EXPECT_TRUE(node.ok());
    if (!db || !node.ok()) return f;
    auto pc = ltp::PropertyContext::open(*node);
    EXPECT_TRUE(pc.ok());
    Bytes entries;
    for (const auto& e : pc->entries())
        if (e.wPropId == messaging::PidTagNameidStreamEntry) entries = pc->read(e)->data;
    EXPECT_GE(entries.size(), 16u);
    EXPECT_EQ(entries.size() % 8, 0u);
    Bytes changed = entries;
    change(changed);
    EXPECT_FALSE(isInternalBid(node->bidData())) << "the map of a new store fits one block";
    rewriteBlock(f, node->bidData(), [&](Bytes& d) {
        auto it = std::search(d.begin(), d.end(), entries.begin(), entries.end());
        ASSERT_NE(it, d.end());
        std::copy(changed.begin(), changed.end(), it);
    });
    return f;
}

// The offset of the NAMEID of lid 0x1234 in an entry stream.
size_t entryOf1234(const Bytes& entries) {
    for (size_t i = 0; i + 8 <= entries.size(); i += 8)
        if (loadLE32(&entries[i]) == 0x1234) return i;
    ADD_FAILURE() << "no entry for lid 0x1234";
    return 0;
}

// The name-to-id map's entry stream gives a named property another index:
// the hash buckets no longer agree with the entries, and the property the
// message uses has no name any more.
TEST(PstVerifierSemantic, ANameToIdMapThatDisagreesWithItself) {
    const Bytes f = storeWithNameEntries([](Bytes& e) {
        const size_t at = entryOf1234(e);
        storeLE16(&e[at + 6], static_cast<uint16_t>(loadLE16(&e[at + 6]) + 0x40));
    });
    const auto r = verifyBytes(f);
    EXPECT_FALSE(r.clean());
    EXPECT_TRUE(found(f, "hash bucket")) ;
    EXPECT_TRUE(found(f, "has no entry in the name-to-id map"));
}

// Two entries for one property id: the first keeps it, the second is a
// problem of the map and names nothing.
TEST(PstVerifierSemantic, ANamedPropertyIdMappedTwice) {
    uint16_t other = 0;
    uint32_t otherLid = 0;
    const Bytes f = storeWithNameEntries([&](Bytes& e) {
        const size_t at = entryOf1234(e), first = at == 0 ? 8 : 0;  // an entry before or after it
        other = loadLE16(&e[first + 6]);
        otherLid = loadLE32(&e[first]);
        storeLE16(&e[at + 6], other);
    });
    EXPECT_TRUE(found(f, "property id " + hex(0x8000 + other) + " is mapped twice"));
    auto pst = messaging::PstReader::open(MemorySource::borrow(ByteSpan(f.data(), f.size())));
    ASSERT_TRUE(pst.ok()) << pst.error().description;
    const messaging::NameMap& map = (*pst)->nameMap();
    ASSERT_FALSE(map.problems().empty());
    const NamedPropName* n = map.nameOf(static_cast<uint16_t>(0x8000 + other));
    ASSERT_NE(n, nullptr);
    const NamedPropName lost{PS_PUBLIC_STRINGS, false, 0x1234, {}};
    EXPECT_NE(otherLid, 0x1234u);
    EXPECT_FALSE(map.idOf(lost).has_value());
    EXPECT_EQ(map.idOf(*n), 0x8000 + other);
    EXPECT_EQ(map.nameOf(0x7FFF), nullptr);
    EXPECT_EQ(map.nameOf(static_cast<uint16_t>(0x8000 + map.entries().size() + 1)), nullptr);
}

// A file of more than 128 AMap sections has its first FMap page at section
// 128: the verifier finds it where it belongs, and finds it gone when its
// page carries another type.
TEST(PstVerifierSemantic, TheFirstFMapPageOfALargeFile) {
    testing::WrittenStore w;
    const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
    const uint32_t folder = *w.writer->addFolder(top, "Big", "IPF.Note");
    Message m;
    m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "large"));
    m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 0x11));
    for (int i = 0; i < 4; ++i) {
        Attachment a;
        a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afByValue));
        a.props.set(Property::unicodeUtf8(makeTag(PidTagAttachLongFilename, PT_UNICODE), "part" + std::to_string(i)));
        a.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes(8500000, static_cast<uint8_t>(i))));
        m.attachments.push_back(std::move(a));
    }
    ASSERT_TRUE(w.writer->addMessage(folder, m).ok());
    Bytes f = w.finish();
    ASSERT_GT(f.size(), fmapOffset(kFMapFirstSection) + kPageSize);
    const auto clean = verifyBytes(f);
    EXPECT_TRUE(clean.clean()) << allFindings(clean);
    MutableByteSpan p(f.data() + fmapOffset(kFMapFirstSection), kPageSize);
    auto t = PageTrailer::decodeFromPage(p);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->ptype, ptypeFMap);
    ASSERT_TRUE(sealPage(p, ptypeAMap, fmapOffset(kFMapFirstSection), fmapOffset(kFMapFirstSection)));
    EXPECT_TRUE(found(f, "not a FMap page")) ;
}

// A store laid out as Outlook lays it out: a folder of 129 messages, whose
// contents table keeps its rows in a subnode of several blocks (whole rows
// padded to 8176 bytes, then the rest), and a message with a 20,000-byte
// attachment (a data tree of 8176 + 8176 + 3648 bytes).
struct LayoutSample {
    Bytes file;
    uint32_t folder = 0, message = 0;
};
const LayoutSample& layoutSample() {
    static const LayoutSample s = [] {
        LayoutSample out;
        testing::WrittenStore w;
        const uint32_t top = *w.writer->folderByRole(messaging::FolderRole::IpmSubtree);
        out.folder = *w.writer->addFolder(top, "Many", "IPF.Note");
        for (int i = 0; i < 129; ++i) {
            Message m;
            m.props.set(Property::unicodeUtf8(makeTag(PidTagSubject, PT_UNICODE), "m" + std::to_string(i)));
            m.props.set(Property::unicodeUtf8(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note"));
            m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 1));
            if (i == 0) {
                Attachment a;
                a.props.set(Property::int32(makeTag(PidTagAttachMethod, PT_LONG), afByValue));
                a.props.set(Property::binary(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes(20000, 'z')));
                m.attachments.push_back(std::move(a));
                m.props.set(Property::int32(makeTag(PidTagMessageFlags, PT_LONG), 0x11));
            }
            const uint32_t nid = *w.writer->addMessage(out.folder, m);
            if (i == 0) out.message = nid;
        }
        out.file = w.finish();
        return out;
    }();
    return s;
}

// The children of the XBLOCK at `xbid`.
std::vector<uint64_t> xblockChildren(const Bytes& file, uint64_t xbid) {
    auto db = openDb(file);
    if (!db) return {};
    auto raw = db->readBlock(xbid);
    if (!raw.ok()) return {};
    auto x = XBlock::decode(*raw);
    return x ? x->rgbid : std::vector<uint64_t>{};
}

// Cuts the external block `bid` down to `cb` bytes within the same
// allocation: block and BBT entry sealed again, and the lcbTotal of the
// XBLOCK `parent` lowered to match, so that every CRC, size and total
// agrees and only the layout is wrong.
void shortenBlock(Bytes& file, uint64_t parent, uint64_t bid, uint16_t cb) {
    auto db = openDb(file);
    ASSERT_TRUE(db);
    auto info = db->findBlock(bid);
    ASSERT_TRUE(info.ok());
    ASSERT_EQ(blockAllocSize(cb, Flavour::Unicode), blockAllocSize(info->cb, Flavour::Unicode));
    const uint16_t cut = static_cast<uint16_t>(info->cb - cb);
    Bytes data(file.begin() + static_cast<ptrdiff_t>(info->ib), file.begin() + static_cast<ptrdiff_t>(info->ib + cb));
    const Bytes b = buildBlock(data, bid, info->ib);  // the stored bytes stay encoded as they were
    std::copy(b.begin(), b.end(), file.begin() + static_cast<ptrdiff_t>(info->ib));
    bool changed = false;
    for (const auto& page : pagesOf(file, db->header().root.brefBbt)) {
        if (page.level != 0) continue;
        MutableByteSpan p(file.data() + page.ib, kPageSize);
        auto pi = BTPageInfo::decode(p);
        for (uint32_t i = 0; pi && i < pi->cEnt; ++i) {
            auto e = BBTEntry::decode(p.subspan(i * kBBTEntrySize, kBBTEntrySize));
            if (!e || bidKey(e->bref.bid) != bidKey(bid)) continue;
            e->cb = cb;
            ASSERT_TRUE(e->encode(p.subspan(i * kBBTEntrySize, kBBTEntrySize)));
            reseal(file, page.ib);
            changed = true;
        }
    }
    ASSERT_TRUE(changed);
    rewriteBlock(file, parent, [&](Bytes& d) { storeLE32(&d[4], loadLE32(&d[4]) - cut); });
}

TEST(PstVerifierSemantic, TheOutlookLayoutIsClean) {
    const Bytes& f = layoutSample().file;
    verify::VerifyOptions strict;
    strict.strict = true;
    const auto r = verify::verify(MemorySource::borrow(ByteSpan(f.data(), f.size())), strict);
    EXPECT_TRUE(r.clean()) << allFindings(r);
    EXPECT_EQ(r.totalNotes, 0u);
}

// A block before the last of the attachment's data tree that is not whole.
TEST(PstVerifierSemantic, AShortBlockBeforeTheLastOfADataTree) {
    Bytes f = layoutSample().file;
    auto db = openDb(f);
    ASSERT_TRUE(db);
    auto msg = Node::open(*db, layoutSample().message);
    ASSERT_TRUE(msg.ok());
    uint64_t xbid = 0;
    for (const auto& s : **msg->subnodes()) {
        if (nidType(s.nid) != NID_TYPE_ATTACHMENT) continue;
        const Node att(db.get(), s.nid, s.bidData, s.bidSub);
        for (const auto& v : **att.subnodes())
            if (isInternalBid(v.bidData)) xbid = v.bidData;
    }
    ASSERT_NE(xbid, 0u) << "the attachment data is a data tree";
    const auto children = xblockChildren(f, xbid);
    ASSERT_EQ(children.size(), 3u);
    shortenBlock(f, xbid, children[0], 8136);
    EXPECT_TRUE(found(f, "data block 0 of 3 holds 8136 bytes; every block of a data tree but the last holds 8176"));
}

// The contents table's first row-matrix block: cut short after its rows,
// as older writers closed it, and padded with something else than zeros.
TEST(PstVerifierSemantic, ARowMatrixBlockThatIsNotPadded) {
    const Bytes& original = layoutSample().file;
    auto db = openDb(original);
    ASSERT_TRUE(db);
    auto table = Node::open(*db, messaging::contentsTableNid(layoutSample().folder));
    ASSERT_TRUE(table.ok());
    auto tc = ltp::TableContext::open(*table);
    ASSERT_TRUE(tc.ok());
    ASSERT_TRUE(tc->rowsInSubnode());
    auto rows = table->subnode(tc->info().hnidRows);
    ASSERT_TRUE(rows.ok());
    const uint64_t xbid = rows->bidData();
    const auto children = xblockChildren(original, xbid);
    ASSERT_GE(children.size(), 2u);
    const uint32_t rowSize = tc->info().rowSize();
    const std::string layout = std::to_string(8176 / rowSize) + " rows of " + std::to_string(rowSize);
    ASSERT_NE(8176 % rowSize, 0u) << "the block has padding";

    Bytes f = original;
    rewriteBlock(f, children[0], [](Bytes& d) {
        ASSERT_EQ(d.size(), 8176u);
        d[8175] = 0x01;
    });
    EXPECT_TRUE(found(f, "row matrix block 0 of 8176 bytes is not " + layout + " followed by zeros to 8176 bytes"));

    f = original;
    shortenBlock(f, xbid, children[0], 8136);
    EXPECT_TRUE(found(f, "row matrix block 0 of 8136 bytes is not " + layout));
    EXPECT_TRUE(found(f, "every block of a data tree but the last holds 8176"));
}

// What Outlook itself leaves in its files is a note, never a finding: a
// non-zero qwUnused, and a block in the BBT that nothing references.
TEST(PstVerifierSemantic, WhatOutlookLeavesIsANoteNotAFinding) {
    Bytes f = sample().file;
    auto h = Header::decode(f);
    ASSERT_TRUE(h.ok());
    h->qwUnused = 0x1234;
    const Bytes hb = h->encode();
    std::copy(hb.begin(), hb.end(), f.begin());
    // The search activity list lets go of its block.
    auto db = openDb(f);
    ASSERT_TRUE(db);
    bool cut = false;
    for (const auto& page : pagesOf(f, db->header().root.brefNbt)) {
        if (page.level != 0) continue;
        MutableByteSpan p(f.data() + page.ib, kPageSize);
        auto info = BTPageInfo::decode(p);
        for (uint32_t i = 0; info && i < info->cEnt; ++i) {
            auto e = NBTEntry::decode(p.subspan(i * kNBTEntrySize, kNBTEntrySize));
            if (!e || e->nid != NID_SEARCH_ACTIVITY_LIST) continue;
            ASSERT_NE(e->bidData, 0u);
            e->bidData = 0;
            ASSERT_TRUE(e->encode(p.subspan(i * kNBTEntrySize, kNBTEntrySize)));
            reseal(f, page.ib);
            cut = true;
        }
    }
    ASSERT_TRUE(cut);
    for (const bool strict : {false, true}) {
        verify::VerifyOptions o;
        o.strict = strict;
        const auto r = verify::verify(MemorySource::borrow(ByteSpan(f.data(), f.size())), o);
        EXPECT_TRUE(r.clean()) << allFindings(r);
        ASSERT_EQ(r.totalNotes, 2u);
        EXPECT_NE(r.notes[0].text().find("qwUnused is 0x1234, not 0"), std::string::npos) << r.notes[0].text();
        EXPECT_NE(r.notes[1].text().find("no node or block references it"), std::string::npos) << r.notes[1].text();
    }
}

// A written file cut short at any page: the verifier reports it and the
// reader fails or reads what is there, without crashing.
TEST(PstVerifierSemantic, ATruncatedFileIsReportedAndSurvived) {
    const Bytes& whole = sample().file;
    for (size_t cut = 0; cut < whole.size(); cut += 8 * kPageSize) {
        SCOPED_TRACE(cut);
        const Bytes part(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_FALSE(verifyBytes(part).clean());
        auto pst = messaging::PstReader::open(MemorySource::borrow(ByteSpan(part.data(), part.size())));
        if (!pst.ok()) continue;
        auto tree = (*pst)->folderTree((*pst)->ipmSubtree());
        if (!tree.ok()) continue;
        for (const auto& e : *tree)
            for (uint32_t nid : e.folder.messages) (void)(*pst)->readMessage(nid);
    }
}

}  // namespace
}  // namespace tavrin::pst
