// The editors of heaps, BTrees-on-heap, property and table contexts of an
// existing file: what they change reads back, the rest is untouched, and
// the file verifies (layout of blocks, page maps, fill levels, BTH order,
// row matrices) after each change.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "fs/update_file.h"
#include "store/pst/ltp/heap_editor.h"
#include "store/pst/ltp/pc_writer.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/name_map_reader.h"
#include "store/pst/messaging/name_map_writer.h"
#include "store/pst/ndb/byte_source.h"
#include "store/pst/verify/verifier.h"
#include "written_store.h"

namespace tavrin::pst::ltp {
namespace {

using store::Bytes;
using store::Property;

constexpr uint32_t kTable = ndb::makeNid(ndb::NID_TYPE_CONTENTS_TABLE, 0x7000);
constexpr uint32_t kPc = ndb::makeNid(ndb::NID_TYPE_ATTACHMENT, 0x7000);

std::string findings(const Bytes& file) {
    verify::VerifyOptions o;
    o.strict = true;
    auto r = verify::verify(std::make_unique<ndb::MemorySource>(file), o);
    std::string s;
    for (size_t i = 0; i < r.findings.size() && i < 8; ++i) s += r.findings[i].text() + "\n";
    return s;
}

// A new store, changed by `edit` through the updater and committed.
Bytes changed(const Bytes& base, const std::function<void(ndb::NdbUpdater&)>& edit) {
    fs::MemoryFile file(base);
    auto u = ndb::NdbUpdater::open(file);
    EXPECT_TRUE(u.ok());
    if (!u) return {};
    edit(**u);
    auto counters = (*u)->header().rgnid;
    counters[ndb::NID_TYPE_CONTENTS_TABLE] = counters[ndb::NID_TYPE_ATTACHMENT] = 0x8000;
    EXPECT_TRUE((*u)->commit(counters, 0).ok());
    return file.bytes();
}

Property text(uint32_t tag, const std::string& s) { return Property::unicodeUtf8(tag, s); }

TEST(LtpEditors, TableGrowsFromTheTemplateThroughHeapAndSubnodeRows) {
    testing::WrittenStore w;
    const Bytes base = w.finish();
    std::vector<uint32_t> ids;
    // 300 rows appended to a copy of the empty contents template: the row
    // matrix starts in the heap, moves to a subnode, spans blocks; one
    // subject is too large for the heap.
    Bytes file = changed(base, [&](ndb::NdbUpdater& u) {
        auto tmpl = u.node(ndb::NID_CONTENTS_TABLE_TEMPLATE);
        ASSERT_TRUE(tmpl.ok() && *tmpl);
        auto t = TableEditor::open(u, (*tmpl)->bidData, (*tmpl)->bidSub);
        ASSERT_TRUE(t.ok()) << t.error().description;
        for (uint32_t i = 0; i < 300; ++i) {
            const uint32_t id = 0x200004 + 32 * (i * 7919 % 300);  // not in ascending order
            ids.push_back(id);
            const std::string subject = i == 17 ? std::string(5000, 'L') : "subject " + std::to_string(i);
            ASSERT_TRUE(t->appendRow(id, 1000 + i, {text(0x0037001F, subject), Property::int32(0x0E070003, int32_t(i))}).ok());
        }
        ASSERT_TRUE(t->setCells(ids[5], 99, {text(0x0037001F, "renamed")}).ok());
        auto written = t->commit();
        ASSERT_TRUE(written.ok()) << written.error().description;
        u.setNode(ndb::NodeEntry{kTable, written->first, written->second, 0});
    });
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(findings(file), "");
    auto db = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(file));
    auto node = ndb::Node::open(**db, kTable);
    ASSERT_TRUE(node.ok());
    auto tc = TableContext::open(*node);
    ASSERT_TRUE(tc.ok()) << tc.error().description;
    ASSERT_EQ(tc->rowCount(), 300u);
    EXPECT_TRUE(tc->rowsInSubnode());
    for (uint32_t i = 0; i < 300; i += 17) {
        EXPECT_EQ(tc->rowId(i), ids[i]);
        auto subject = tc->cell(i, *tc->column(0x0037001F));
        ASSERT_TRUE(subject.ok() && *subject);
        const std::string want = i == 5 ? "renamed" : i == 17 ? std::string(5000, 'L') : "subject " + std::to_string(i);
        EXPECT_EQ(text(0x0037001F, want).data, (*subject)->data) << i;
    }
    // The template itself is unchanged.
    auto before = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(base));
    EXPECT_EQ((*db)->findNode(ndb::NID_CONTENTS_TABLE_TEMPLATE)->bidData,
              (*before)->findNode(ndb::NID_CONTENTS_TABLE_TEMPLATE)->bidData);
}

TEST(LtpEditors, PropertyContextValuesChangeGrowAndMove) {
    testing::WrittenStore w;
    const Bytes base = w.finish();
    // A property context of many values over several heap blocks.
    std::vector<Bytes> values;
    for (int i = 0; i < 60; ++i) values.push_back(Bytes(size_t(300 + 37 * i), uint8_t(i)));
    Bytes first = changed(base, [&](ndb::NdbUpdater& u) {
        std::vector<LtpValue> v;
        for (int i = 0; i < 60; ++i) v.push_back(LtpValue{store::makeTag(uint16_t(0x6000 + i), store::PT_BINARY), 0, values[i]});
        auto pc = buildPropertyContext(v, [](store::ByteSpan) -> Result<uint32_t> { return Error(err::kTooBig, "large"); });
        ASSERT_TRUE(pc.ok());
        auto bid = writeHeapBlocks(u, pc->blocks, nullptr);
        ASSERT_TRUE(bid.ok());
        u.setNode(ndb::NodeEntry{kPc, *bid, 0, 0});
    });
    ASSERT_EQ(findings(first), "");
    // Replace one (growing past its block), add inline and heap values,
    // empty another.
    Bytes second = changed(first, [&](ndb::NdbUpdater& u) {
        auto n = u.node(kPc);
        auto heap = HeapEditor::open(u, (*n)->bidData);
        ASSERT_TRUE(heap.ok());
        const std::vector<Property> props{Property::binary(store::makeTag(0x6001, store::PT_BINARY), Bytes(3500, 0xAB)),
                                          Property::binary(store::makeTag(0x6002, store::PT_BINARY), Bytes()),
                                          Property::int32(store::makeTag(0x5000, store::PT_LONG), 42),
                                          Property::boolean(store::makeTag(0x5001, store::PT_BOOLEAN), true),
                                          Property::binary(store::makeTag(0x7000, store::PT_BINARY), Bytes(24, 7))};
        ASSERT_TRUE(setPcProperties(*heap, props).ok());
        auto data = heap->commit();
        ASSERT_TRUE(data.ok());
        u.setNode(ndb::NodeEntry{kPc, *data, 0, 0});
    });
    EXPECT_EQ(findings(second), "");
    auto db = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(second));
    auto pc = PropertyContext::open(*ndb::Node::open(**db, kPc));
    ASSERT_TRUE(pc.ok());
    auto all = pc->readAll();
    ASSERT_TRUE(all.ok());
    store::PropertyBag bag;
    bag.items() = *all;
    EXPECT_EQ(bag.find(0x6001)->data, Bytes(3500, 0xAB));
    EXPECT_TRUE(bag.find(0x6002)->data.empty());
    EXPECT_EQ(bag.find(0x6030)->data, values[0x30]);
    EXPECT_EQ(bag.getInt32(0x5000), 42);
    EXPECT_EQ(bag.getBool(0x5001), true);
    EXPECT_EQ(bag.find(0x7000)->data, Bytes(24, 7));
}

TEST(LtpEditors, BTreeOnHeapTakesKeysInAnyOrderAndGrowsIndexLevels) {
    testing::WrittenStore w;
    const Bytes base = w.finish();
    std::vector<uint32_t> keys(2500);
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<uint32_t>(i * 16 + 32);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(5));
    Bytes file = changed(base, [&](ndb::NdbUpdater& u) {
        auto tmpl = u.node(ndb::NID_CONTENTS_TABLE_TEMPLATE);
        auto t = TableEditor::open(u, (*tmpl)->bidData, (*tmpl)->bidSub);
        ASSERT_TRUE(t.ok());
        for (uint32_t k : keys) ASSERT_TRUE(t->appendRow(k, k, {}).ok());
        auto written = t->commit();
        ASSERT_TRUE(written.ok());
        u.setNode(ndb::NodeEntry{kTable, written->first, written->second, 0});
    });
    EXPECT_EQ(findings(file), "");
    auto db = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(file));
    auto tc = TableContext::open(*ndb::Node::open(**db, kTable));
    ASSERT_TRUE(tc.ok());
    auto index = tc->rowIndex();
    ASSERT_TRUE(index.ok());
    ASSERT_EQ(index->size(), keys.size());
    for (size_t i = 1; i < index->size(); ++i) EXPECT_LT((*index)[i - 1].dwRowID, (*index)[i].dwRowID);
    for (const auto& r : *index) EXPECT_EQ(tc->rowId(r.dwRowIndex), r.dwRowID);
    auto heap = readHeap(*ndb::Node::open(**db, kTable));
    auto bth = Bth::open(*heap, tc->info().hidRowIndex);
    EXPECT_GE(bth->header().bIdxLevels, 1);
}

TEST(LtpEditors, NameMapContinuedKeepsIdsAndHashesNewNames) {
    testing::WrittenStore w;
    const Bytes base = w.finish();
    auto db = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(base));
    auto old = messaging::NameMap::read(**db);
    ASSERT_TRUE(old.ok());
    auto names = messaging::NameMapWriter::extending(*old);
    store::NamedPropName known = old->entries().front().name, fresh, text;
    fresh.guid = store::PS_PUBLIC_STRINGS;
    fresh.lid = 0x1234;
    text.guid = store::Guid{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    text.isString = true;
    text.name = u"x-odd";
    EXPECT_EQ(names.idFor(known), old->entries().front().propId);
    const auto id1 = names.idFor(fresh), id2 = names.idFor(text);
    ASSERT_TRUE(id1 && id2);
    EXPECT_EQ(*id1, messaging::kNamedIdBase + old->entries().size());
    EXPECT_EQ(*id2, *id1 + 1);
    EXPECT_EQ(names.added(), 2u);
    Bytes file = changed(base, [&](ndb::NdbUpdater& u) {
        std::vector<LtpValue> v;
        const auto props = names.properties();
        for (const auto& p : props) v.push_back(LtpValue{p.tag, p.scalar, p.data});
        std::vector<ndb::SubnodeEntry> subs;
        auto pc = buildPropertyContext(v, [&](store::ByteSpan d) -> Result<uint32_t> {
            auto bid = u.writeStream(d);
            if (!bid) return bid.error();
            subs.push_back({ndb::makeNid(ndb::NID_TYPE_LTP, 0x100 + uint32_t(subs.size())), *bid, 0});
            return subs.back().nid;
        });
        ASSERT_TRUE(pc.ok());
        auto bid = writeHeapBlocks(u, pc->blocks, nullptr);
        auto sub = u.writeSubnodes(subs);
        ASSERT_TRUE(bid.ok() && sub.ok());
        u.setNode(ndb::NodeEntry{ndb::NID_NAME_TO_ID_MAP, *bid, *sub, 0});
    });
    EXPECT_EQ(findings(file), "");
    auto after = ndb::NodeDatabase::open(std::make_unique<ndb::MemorySource>(file));
    auto map = messaging::NameMap::read(**after);
    ASSERT_TRUE(map.ok());
    for (const auto& e : old->entries()) EXPECT_EQ(map->idOf(e.name), e.propId);
    EXPECT_EQ(map->idOf(fresh), id1);
    EXPECT_EQ(map->idOf(text), id2);
}

}  // namespace
}  // namespace tavrin::pst::ltp
