// Compound files built in memory with the writer: a good one read back, then
// copies of it with one fault each.
#include "store/msg/cfb/compound_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fs/text.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/cfb/names.h"

namespace tavrin::store::cfb {
namespace {

StorageEntry stream(std::u16string name, size_t size, uint8_t seed) {
    StorageEntry e;
    e.name = std::move(name);
    e.data.resize(size);
    for (size_t i = 0; i < size; ++i) e.data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return e;
}

StorageEntry storage(std::u16string name, std::vector<StorageEntry> kids) {
    StorageEntry e;
    e.name = std::move(name);
    e.isStorage = true;
    e.children = std::move(kids);
    return e;
}

// A tree with mini and regular streams, an empty stream, nested storages
// and enough siblings for a deep name tree.
StorageEntry sampleTree() {
    StorageEntry inner = storage(u"Inner", {stream(u"small", 100, 1), stream(u"big", 10000, 2), stream(u"empty", 0, 0)});
    inner.clsid.b[0] = 0xAB;
    inner.stateBits = 0x1234;
    inner.creationTime = 0x01D0000000000001ull;
    inner.modifiedTime = 0x01D0000000000002ull;
    std::vector<StorageEntry> kids;
    kids.push_back(std::move(inner));
    for (int i = 0; i < 20; ++i) {
        std::u16string n = u"s";
        n += static_cast<char16_t>(u'A' + i);
        kids.push_back(stream(n, static_cast<size_t>(i) * 300, static_cast<uint8_t>(i)));
    }
    kids.push_back(stream(u"exactly4096", 4096, 9));
    kids.push_back(stream(u"justbelow", 4095, 8));
    StorageEntry root = storage(u"ignored", std::move(kids));
    root.clsid.b[15] = 0x46;
    return root;
}

void expectSameTree(const StorageEntry& a, const StorageEntry& b, bool isRoot = false) {
    if (!isRoot) {
        EXPECT_EQ(a.name, b.name);
    }
    ASSERT_EQ(a.isStorage, b.isStorage);
    if (!a.isStorage) {
        EXPECT_EQ(a.data, b.data) << std::string(a.name.begin(), a.name.end());
        return;
    }
    EXPECT_EQ(a.clsid, b.clsid);
    EXPECT_EQ(a.stateBits, b.stateBits);
    if (!isRoot) {
        EXPECT_EQ(a.creationTime, b.creationTime);
    }
    EXPECT_EQ(a.modifiedTime, b.modifiedTime);
    ASSERT_EQ(a.children.size(), b.children.size());
    // The reader lists children in name order; compare by name.
    for (const auto& ca : a.children) {
        auto it = std::find_if(b.children.begin(), b.children.end(), [&](const StorageEntry& cb) { return cb.name == ca.name; });
        ASSERT_NE(it, b.children.end());
        expectSameTree(ca, *it);
    }
}

Bytes write(const StorageEntry& root, uint16_t version = 3) {
    auto r = writeCompoundFile(root, version);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().description);
    return r.ok() ? r.value() : Bytes();
}

// Checks the red-black tree properties of one storage's children and
// returns its black height.
int checkTree(const CompoundFile& cf, uint32_t id, bool parentRed, std::u16string_view lo, std::u16string_view hi) {
    if (id == NOSTREAM) return 1;
    const DirEntry& e = cf.entry(id);
    EXPECT_FALSE(parentRed && !e.black) << "red child of a red node";
    if (!lo.empty()) {
        EXPECT_LT(compareNames(lo, e.name()), 0);
    }
    if (!hi.empty()) {
        EXPECT_LT(compareNames(e.name(), hi), 0);
    }
    const int l = checkTree(cf, e.left, !e.black, lo, e.name());
    const int r = checkTree(cf, e.right, !e.black, e.name(), hi);
    EXPECT_EQ(l, r) << "unequal black heights";
    return l + (e.black ? 1 : 0);
}

// Offsets inside a file the writer made: FAT sectors come first, the
// directory is one run of sectors.
struct Layout {
    const Bytes& b;
    uint32_t sectorSize() const { return 1u << loadLE16(b.data() + 30); }
    uint64_t dirEntry(uint32_t id) const {
        return (uint64_t(loadLE32(b.data() + 48)) + 1) * sectorSize() + uint64_t(id) * 128;
    }
    uint64_t fatEntry(uint32_t sector) const { return sectorSize() + uint64_t(sector) * 4; }
};

uint32_t findPath(const CompoundFile& cf, std::initializer_list<std::u16string_view> path) {
    uint32_t id = CompoundFile::root();
    for (auto n : path) {
        auto c = cf.find(id, n);
        EXPECT_TRUE(c.has_value());
        if (!c) return NOSTREAM;
        id = *c;
    }
    return id;
}

Error openError(const Bytes& b) {
    auto r = CompoundFile::open(b);
    EXPECT_FALSE(r.ok());
    return r.ok() ? Error() : r.error();
}

// Opens the file and reads every stream; the first failure, or none.
Error readAllError(const Bytes& b) {
    auto r = CompoundFile::open(b);
    if (!r) return r.error();
    auto all = r->copyStorage(CompoundFile::root());
    if (!all) return all.error();
    return Error();
}

TEST(CompoundFile, WriterOutputReadsBackWholeInBothVersions) {
    const StorageEntry tree = sampleTree();
    for (uint16_t version : {3, 4}) {
        const Bytes b = write(tree, version);
        auto cf = CompoundFile::open(b);
        ASSERT_TRUE(cf.ok()) << cf.error().description;
        EXPECT_EQ(cf->majorVersion(), version);
        EXPECT_EQ(cf->entry(0).name(), u"Root Entry");
        auto copy = cf->copyStorage(CompoundFile::root());
        ASSERT_TRUE(copy.ok()) << copy.error().description;
        expectSameTree(tree, *copy, true);
        // Every storage's children form a valid red-black tree with a black root.
        for (uint32_t id = 0; id < cf->entryCount(); ++id) {
            const DirEntry& e = cf->entry(id);
            if (!e.isStorage() || e.child == NOSTREAM) continue;
            EXPECT_TRUE(cf->entry(e.child).black);
            checkTree(*cf, e.child, false, {}, {});
        }
    }
}

TEST(CompoundFile, SmallStreamsLiveInTheMiniStreamAndAreReadWithoutCopying) {
    const Bytes b = write(sampleTree());
    auto cf = CompoundFile::open(b);
    ASSERT_TRUE(cf.ok());
    const uint32_t small = findPath(*cf, {u"INNER", u"Small"});  // names compare case-insensitively
    auto d = cf->read(small);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->size(), 100u);
    const uint32_t big = findPath(*cf, {u"inner", u"big"});
    auto db = cf->read(big);
    ASSERT_TRUE(db.ok());
    // The writer lays each stream out in one run: the bytes are a view into the file.
    EXPECT_GE(db->bytes().data(), b.data());
    EXPECT_LT(db->bytes().data(), b.data() + b.size());
    EXPECT_FALSE(cf->find(CompoundFile::root(), u"missing").has_value());
    EXPECT_FALSE(cf->read(CompoundFile::root()).ok());  // a storage is not a stream
}

TEST(CompoundFile, ManyFatSectorsNeedExtraDifatSectors) {
    // More than 109 FAT sectors (109 * 128 sectors of 512 bytes = 7 MB).
    StorageEntry root = storage(u"", {stream(u"huge", 7200000, 3), stream(u"tiny", 10, 4)});
    const Bytes b = write(root);
    EXPECT_GT(loadLE32(b.data() + 44), 109u);  // FAT sectors
    EXPECT_GE(loadLE32(b.data() + 72), 1u);    // DIFAT sectors
    auto cf = CompoundFile::open(b);
    ASSERT_TRUE(cf.ok()) << cf.error().description;
    auto copy = cf->copyStorage(CompoundFile::root());
    ASSERT_TRUE(copy.ok()) << copy.error().description;
    expectSameTree(root, *copy, true);

    // The DIFAT chain pointing at itself.
    Bytes cyc = b;
    const uint32_t dif = loadLE32(b.data() + 68);
    storeLE32(cyc.data() + (uint64_t(dif) + 1) * 512 + 127 * 4, dif);
    storeLE32(cyc.data() + 44, loadLE32(b.data() + 44) + 127);  // claims more FAT sectors than the first DIFAT sector holds
    EXPECT_NE(openError(cyc).description.find("DIFAT"), std::string::npos);
}

TEST(CompoundFile, RefusesBrokenHeaders) {
    const Bytes good = write(sampleTree());
    ASSERT_TRUE(CompoundFile::open(good).ok());
    struct Case { const char* what; std::function<void(Bytes&)> fault; const char* expect; };
    const std::vector<Case> cases = {
        {"signature", [](Bytes& b) { b[0] = 0; }, "signature"},
        {"too short", [](Bytes& b) { b.resize(100); }, "too short"},
        {"version", [](Bytes& b) { storeLE16(b.data() + 26, 5); }, "version"},
        {"byte order", [](Bytes& b) { storeLE16(b.data() + 28, 0xFEFF); }, "byte order"},
        {"sector shift", [](Bytes& b) { storeLE16(b.data() + 30, 12); }, "sector shift"},
        {"mini sector shift", [](Bytes& b) { storeLE16(b.data() + 32, 7); }, "mini sector"},
        {"FAT count", [](Bytes& b) { storeLE32(b.data() + 44, 100000); }, "FAT sectors"},
        {"FAT sector", [](Bytes& b) { storeLE32(b.data() + 76, 0x7FFFFF); }, "out of range"},
        {"directory start", [](Bytes& b) { storeLE32(b.data() + 48, 0x7FFFFF); }, "out of range"},
        {"root type", [](Bytes& b) { b[Layout{b}.dirEntry(0) + 66] = 1; }, "root"},
    };
    for (const auto& c : cases) {
        Bytes b = good;
        c.fault(b);
        const Error e = openError(b);
        EXPECT_EQ(e.number, err::kCorrupt) << c.what;
        EXPECT_NE(e.description.find(c.expect), std::string::npos) << c.what << ": " << e.description;
    }
}

TEST(CompoundFile, RefusesBrokenChainsAndSizes) {
    const Bytes good = write(sampleTree());
    auto cf = CompoundFile::open(good);
    ASSERT_TRUE(cf.ok());
    const uint32_t big = findPath(*cf, {u"Inner", u"big"});
    const uint32_t small = findPath(*cf, {u"Inner", u"small"});
    const uint32_t bigStart = cf->entry(big).startSector;
    const Layout at{good};
    struct Case { const char* what; std::function<void(Bytes&)> fault; const char* expect; };
    const std::vector<Case> cases = {
        {"FAT cycle", [&](Bytes& b) { storeLE32(b.data() + at.fatEntry(bigStart + 3), bigStart + 1); }, "cycles"},
        {"FAT self loop", [&](Bytes& b) { storeLE32(b.data() + at.fatEntry(bigStart), bigStart); }, "cycles"},
        {"start out of range", [&](Bytes& b) { storeLE32(b.data() + at.dirEntry(big) + 116, 0x00FFFFFF); }, "out of range"},
        {"chain into free sector", [&](Bytes& b) { storeLE32(b.data() + at.fatEntry(bigStart + 2), FREESECT); }, "out of range"},
        {"chain too short", [&](Bytes& b) { storeLE32(b.data() + at.fatEntry(bigStart + 5), ENDOFCHAIN); }, "ends before"},
        {"size past EOF", [&](Bytes& b) { storeLE32(b.data() + at.dirEntry(big) + 120, 0x40000000); }, "past the end"},
        {"mini size past mini stream", [&](Bytes& b) { storeLE32(b.data() + at.dirEntry(small) + 120, 4000); }, "mini stream"},
        {"mini start out of range", [&](Bytes& b) { storeLE32(b.data() + at.dirEntry(small) + 116, 0x00FFFFFF); }, "out of range"},
    };
    for (const auto& c : cases) {
        Bytes b = good;
        c.fault(b);
        const Error e = readAllError(b);
        EXPECT_EQ(e.number, err::kCorrupt) << c.what;
        EXPECT_NE(e.description.find(c.expect), std::string::npos) << c.what << ": " << e.description;
    }
}

TEST(CompoundFile, RefusesDirectoryCyclesAndDeepNesting) {
    const Bytes good = write(sampleTree());
    auto cf = CompoundFile::open(good);
    ASSERT_TRUE(cf.ok());
    const uint32_t inner = findPath(*cf, {u"Inner"});
    const uint32_t rootChild = cf->entry(0).child;
    const Layout at{good};
    {
        Bytes b = good;  // a sibling pointing back at the top of its tree
        uint32_t leaf = rootChild;
        while (cf->entry(leaf).left != NOSTREAM) leaf = cf->entry(leaf).left;
        storeLE32(b.data() + at.dirEntry(leaf) + 68, rootChild);
        EXPECT_NE(openError(b).description.find("cycles"), std::string::npos);
    }
    {
        Bytes b = good;  // a storage containing the root
        storeLE32(b.data() + at.dirEntry(inner) + 76, 0);
        EXPECT_NE(openError(b).description.find("cycles"), std::string::npos);
    }
    {
        Bytes b = good;  // a storage containing itself
        storeLE32(b.data() + at.dirEntry(inner) + 76, inner);
        EXPECT_NE(openError(b).description.find("cycles"), std::string::npos);
    }
    {
        Bytes b = good;  // a sibling id past the directory
        storeLE32(b.data() + at.dirEntry(rootChild) + 72, 5000);
        EXPECT_NE(openError(b).description.find("out of range"), std::string::npos);
    }
    // Nesting: the writer allows more than the reader accepts.
    StorageEntry deep = storage(u"x", {stream(u"leaf", 1, 1)});
    for (int i = 0; i < kMaxNesting + 2; ++i) deep = storage(u"d", {std::move(deep)});
    const Bytes d = write(storage(u"", {std::move(deep)}));
    EXPECT_NE(openError(d).description.find("nested"), std::string::npos);
}

TEST(CompoundFile, ToleratesWhatRealFilesCarry) {
    const StorageEntry tree = sampleTree();
    const Bytes good = write(tree);
    auto cf = CompoundFile::open(good);
    ASSERT_TRUE(cf.ok());
    const Layout at{good};
    const uint32_t big = findPath(*cf, {u"Inner", u"big"});
    auto expectReads = [&](const Bytes& b, const char* what) {
        auto r = CompoundFile::open(b);
        ASSERT_TRUE(r.ok()) << what << ": " << r.error().description;
        auto copy = r->copyStorage(CompoundFile::root());
        ASSERT_TRUE(copy.ok()) << what << ": " << copy.error().description;
        expectSameTree(tree, *copy, true);
    };
    {
        Bytes b = good;
        storeLE32(b.data() + 52, 0x12345678);  // transaction signature
        b[8] = 1;                              // header CLSID
        storeLE16(b.data() + 24, 0x21);        // minor version
        expectReads(b, "header fields");
    }
    {
        Bytes b = good;  // v3: garbage in the high half of a size
        storeLE32(b.data() + at.dirEntry(big) + 124, 0xDEADBEEF);
        expectReads(b, "size high dword");
    }
    {
        // The unused entries after the last one carry garbage links but are
        // unallocated.
        Bytes b = good;
        const uint32_t n = static_cast<uint32_t>(cf->entryCount());
        uint32_t used = 0;
        for (uint32_t i = 0; i < n; ++i) used += cf->entry(i).type != ObjectType::Unallocated;
        if (used < n) {
            storeLE32(b.data() + at.dirEntry(used) + 68, 0);
            storeLE32(b.data() + at.dirEntry(used) + 76, 1);
            b[at.dirEntry(used)] = 'z';
        }
        expectReads(b, "unused entries");
    }
    {
        // A chain longer than its stream: the stream is 9000 bytes of a
        // 10000-byte chain.
        Bytes b = good;
        storeLE32(b.data() + at.dirEntry(big) + 120, 9000);
        auto r = CompoundFile::open(b);
        ASSERT_TRUE(r.ok());
        auto d = r->read(big);
        ASSERT_TRUE(d.ok());
        ASSERT_EQ(d->size(), 9000u);
        const auto& src = tree.children[0].children[1].data;
        EXPECT_TRUE(std::equal(d->bytes().begin(), d->bytes().end(), src.begin()));
    }
    {
        // A leaf referenced a second time from elsewhere in the same tree:
        // listed once.
        Bytes b = good;
        const uint32_t rootChild = cf->entry(0).child;
        uint32_t leaf = rootChild;
        while (cf->entry(leaf).right != NOSTREAM) leaf = cf->entry(leaf).right;
        uint32_t other = cf->entry(rootChild).left;
        while (cf->entry(other).left != NOSTREAM) other = cf->entry(other).left;
        storeLE32(b.data() + at.dirEntry(other) + 68, leaf);
        expectReads(b, "entry referenced twice");
    }
    {
        // A stream referenced from a second storage as well: kept in its
        // first place only.
        Bytes b = good;
        const uint32_t inner = findPath(*cf, {u"Inner"});
        const uint32_t innerChild = cf->entry(inner).child;
        uint32_t leaf = innerChild;
        while (cf->entry(leaf).left != NOSTREAM) leaf = cf->entry(leaf).left;
        const uint32_t sA = findPath(*cf, {u"sA"});
        storeLE32(b.data() + at.dirEntry(leaf) + 68, sA);
        expectReads(b, "entry in two storages");
    }
    {
        // A short last sector: the file ends inside the padding of its last sector.
        StorageEntry t = storage(u"", {stream(u"a", 5000, 1)});
        Bytes b = write(t);
        b.resize(b.size() - 100);
        auto r = CompoundFile::open(b);
        ASSERT_TRUE(r.ok()) << r.error().description;
        auto d = r->read(*r->find(0, u"a"));
        ASSERT_TRUE(d.ok()) << d.error().description;
        EXPECT_EQ(Bytes(d->bytes().begin(), d->bytes().end()), t.children[0].data);
    }
}

TEST(CompoundFile, StreamsSharingSectorsCannotMultiplyTheData) {
    // Many directory entries whose chains all start at the same 10000-byte
    // run: reading them all would return far more than the file holds.
    std::vector<StorageEntry> kids;
    kids.push_back(stream(u"big", 10000, 1));
    for (int i = 0; i < 60; ++i) kids.push_back(stream(u"x" + text::toUtf16(std::to_string(i)), 4096, 2));
    const Bytes good = write(storage(u"", std::move(kids)));
    auto cf = CompoundFile::open(good);
    ASSERT_TRUE(cf.ok());
    const uint32_t big = *cf->find(0, u"big");
    Bytes b = good;
    const Layout at{good};
    for (uint32_t id = 1; id < cf->entryCount(); ++id) {
        if (id == big || !cf->entry(id).isStream()) continue;
        storeLE32(b.data() + at.dirEntry(id) + 116, cf->entry(big).startSector);
        storeLE32(b.data() + at.dirEntry(id) + 120, 10000);
    }
    const Error e = readAllError(b);
    EXPECT_NE(e.description.find("more data than the file"), std::string::npos) << e.description;
}

TEST(CompoundFile, TruncatedAndScrambledCopiesNeverCrash) {
    const Bytes good = write(sampleTree());
    for (size_t cut = 0; cut < good.size(); cut += 97) {
        Bytes b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
        (void)readAllError(b);
    }
    uint32_t x = 12345;
    for (int round = 0; round < 300; ++round) {
        Bytes b = good;
        for (int k = 0; k < 8; ++k) {
            x = x * 1103515245u + 12345u;
            b[(x >> 8) % b.size()] = static_cast<uint8_t>(x >> 24);
        }
        (void)readAllError(b);
    }
}

TEST(CompoundFileWriter, RefusesNamesItCannotWrite) {
    auto tooLong = writeCompoundFile(storage(u"", {stream(u"0123456789012345678901234567890123", 1, 1)}));
    ASSERT_FALSE(tooLong.ok());
    EXPECT_EQ(tooLong.error().number, err::kInvalidParameter);
    auto dup = writeCompoundFile(storage(u"", {stream(u"Name", 1, 1), stream(u"NAME", 1, 1)}));
    ASSERT_FALSE(dup.ok());
    EXPECT_NE(dup.error().description.find("two entries"), std::string::npos);
    EXPECT_FALSE(writeCompoundFile(stream(u"x", 1, 1)).ok());
    // An empty storage is fine.
    auto empty = writeCompoundFile(storage(u"", {}));
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(CompoundFile::open(*empty).ok());
}

TEST(CompoundFileWriter, OutputIsReadByOlecfexport) {
    if (std::system("command -v olecfexport >/dev/null 2>&1") != 0) GTEST_SKIP() << "olecfexport is not installed";
    const StorageEntry tree = sampleTree();
    const Bytes b = write(tree);
    namespace fsys = std::filesystem;
    const fsys::path dir = fsys::temp_directory_path() / ("tavrin-cfb-" + std::to_string(::getpid()));
    fsys::remove_all(dir);
    fsys::create_directories(dir);
    const fsys::path file = dir / "t.cfb";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    const std::string cmd = "cd '" + dir.string() + "' && olecfexport -t out t.cfb >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto readBack = [](const fsys::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    // olecfexport writes each stream as PATH/StreamData.bin.
    const fsys::path base = dir / "out.export";
    ASSERT_TRUE(fsys::exists(base)) << base;
    const char* data = "StreamData.bin";
    EXPECT_EQ(readBack(base / "Inner" / "big" / data), tree.children[0].children[1].data);
    EXPECT_EQ(readBack(base / "Inner" / "small" / data), tree.children[0].children[0].data);
    EXPECT_EQ(readBack(base / "exactly4096" / data), tree.children[21].data);
    EXPECT_EQ(readBack(base / "sT" / data), tree.children[20].data);
    EXPECT_EQ(readBack(base / "justbelow" / data), tree.children[22].data);
    fsys::remove_all(dir);
}

}  // namespace
}  // namespace tavrin::store::cfb
