// The PST writer against sinks that fail: a write error at any point of a
// file's life is an error value, the writer refuses everything after it,
// and nothing is reported as written when it was not.
#include <gtest/gtest.h>

#include "fs/file_io.h"
#include "store/core/tags.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/messaging/spill.h"
#include "store/pst/messaging/store_writer.h"
#include "store/pst/ndb/byte_source.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::pst::messaging {
namespace {

namespace t = store::tags;
using store::Bytes;
using store::Property;

Property uni(uint16_t id, const std::string& s) { return Property::unicodeUtf8(store::makeTag(id, store::PT_UNICODE), s); }

store::Message sample(int i) {
    store::Message m;
    m.props.set(uni(t::PidTagSubject, "message " + std::to_string(i)));
    m.props.set(uni(t::PidTagBody, std::string(static_cast<size_t>(500 + 3000 * i), 'x')));
    store::Recipient r;
    r.props.set(Property::int32(store::makeTag(t::PidTagRecipientType, store::PT_LONG), 1));
    r.props.set(uni(t::PidTagDisplayName, "Bob"));
    m.recipients.push_back(std::move(r));
    store::Attachment a;
    a.props.set(Property::int32(store::makeTag(t::PidTagAttachMethod, store::PT_LONG), t::afByValue));
    Bytes data(static_cast<size_t>(20000 * i + 10));
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint8_t>(k * 7 + static_cast<size_t>(i));
    a.props.set(Property::binary(store::makeTag(t::PidTagAttachDataBinary, store::PT_BINARY), data));
    m.attachments.push_back(std::move(a));
    return m;
}

StoreOptions options() {
    StoreOptions o;
    o.displayName = "Test";
    o.now = 132000000000000000ull;
    o.random = [](uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(i * 31 + 7);
    };
    return o;
}

// Writes a small store; returns the first failure (ok when none).
Status writeStore(fs::FileSink& out, fs::FileSink& scratch, bool& sawFailureThenRefusal) {
    auto w = PstWriter::create(out, scratch, options());
    if (!w) return std::move(w).error();
    PstWriter& pw = **w;
    sawFailureThenRefusal = true;
    Status first;
    auto note = [&](const Status& s) {
        if (!s.ok() && first.ok()) first = s;
    };
    note(pw.validateIpmTree());
    auto folder = pw.addFolder(*pw.folderByRole(FolderRole::IpmSubtree), "Box", "IPF.Note");
    if (!folder) note(std::move(folder).error());
    for (int i = 0; i < 6 && folder; ++i) {
        auto nid = pw.addMessage(*folder, sample(i));
        if (!nid) note(nid.error());
    }
    note(pw.finish());
    if (!first.ok()) {
        // Once failed, the writer keeps failing with that error.
        sawFailureThenRefusal = pw.error().failed() && !pw.finish().ok();
    }
    return first;
}

TEST(PstWriterFailures, EveryWriteBudgetFailsCleanlyOrWritesAValidFile) {
    fs::FailingSink full(uint64_t(1) << 40), fullScratch(uint64_t(1) << 40);
    bool refusal = false;
    ASSERT_TRUE(writeStore(full, fullScratch, refusal).ok());
    const uint64_t total = full.written();
    ASSERT_GT(total, 100000u);
    {
        auto rep = verify::verify(ndb::MemorySource::borrow(full.bytes()));
        EXPECT_TRUE(rep.clean()) << rep.totalFindings << " finding(s), first: "
                                 << (rep.findings.empty() ? "" : rep.findings[0].text());
    }

    std::vector<uint64_t> budgets = {0, 1, 511, 512, 564, 4096, 0x4400, 0x4600, total - 1, total - 564};
    for (uint64_t b = 8192; b < total; b += total / 40) budgets.push_back(b);
    for (uint64_t budget : budgets) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        fs::FailingSink out(budget), scratch(uint64_t(1) << 40);
        bool refused = false;
        const Status s = writeStore(out, scratch, refused);
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.error().number, err::kDiskFull);
        EXPECT_FALSE(s.error().description.empty());
        EXPECT_TRUE(refused);
        EXPECT_LE(out.written(), budget);
    }
    // With exactly the bytes it needs, the writer succeeds.
    fs::FailingSink exact(total), exactScratch(uint64_t(1) << 40);
    EXPECT_TRUE(writeStore(exact, exactScratch, refusal).ok());
    EXPECT_EQ(exact.bytes(), full.bytes());
}

// The scratch file failing is the same kind of failure, and a stream that
// could not be written is not read back as if it had been.
TEST(PstWriterFailures, ScratchFileFailureIsAnError) {
    fs::FailingSink sink(1000);
    SpillFile spill(sink, 256, 512);
    const uint32_t a = spill.newStream();
    Status failure;
    const Bytes record(100, 0xAB);
    int appended = 0;
    for (int i = 0; i < 50 && failure.ok(); ++i) {
        failure = spill.append(a, record);
        if (failure.ok()) ++appended;
    }
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(failure.error().number, err::kDiskFull);
    EXPECT_LT(appended, 50);
}

// A new store's name-to-id map begins as Outlook's do: nine
// PSETID_Appointment ids, then PS_INTERNET_HEADERS string names. None of its
// streams is empty even when no message uses a named property: a reader
// (pst-extractor) takes an empty stream value for a missing subnode and
// refuses the whole file.
TEST(PstWriterNameMap, NewStoreHasOutlooksFirstNamesAndNoEmptyStream) {
    fs::FailingSink out(uint64_t(1) << 40), scratch(uint64_t(1) << 40);
    auto w = PstWriter::create(out, scratch, options());
    ASSERT_TRUE(w.ok());
    const uint32_t top = *(*w)->folderByRole(FolderRole::IpmSubtree);
    ASSERT_TRUE((*w)->addMessage(top, sample(1)).ok());
    ASSERT_TRUE((*w)->finish().ok());
    auto reader = PstReader::open(std::make_unique<ndb::MemorySource>(out.bytes()));
    ASSERT_TRUE(reader.ok()) << reader.error().description;
    const NameMap& map = (*reader)->nameMap();
    EXPECT_FALSE(map.guidStream().empty());
    EXPECT_FALSE(map.entryStream().empty());
    EXPECT_FALSE(map.stringStream().empty());
    EXPECT_TRUE(map.problems().empty());
    ASSERT_GE(map.entries().size(), 13u);
    const uint32_t lids[] = {0x8205, 0x8223, 0x8231, 0x8216, 0x820D, 0x820E, 0x8235, 0x8236, 0x8233};
    for (size_t i = 0; i < 9; ++i) {
        const store::NamedPropName* n = map.nameOf(static_cast<uint16_t>(0x8000 + i));
        ASSERT_NE(n, nullptr);
        EXPECT_FALSE(n->isString);
        EXPECT_EQ(n->lid, lids[i]);
        EXPECT_EQ(n->guid.toString(), "{00062002-0000-0000-C000-000000000046}");
    }
    const char16_t* names[] = {u"content-class", u"DRMLicense", u"x-cr-hashedpuzzle", u"x-cr-puzzleid"};
    for (size_t i = 0; i < 4; ++i) {
        const store::NamedPropName* n = map.nameOf(static_cast<uint16_t>(0x8009 + i));
        ASSERT_NE(n, nullptr);
        EXPECT_TRUE(n->isString);
        EXPECT_EQ(n->name, names[i]);
        EXPECT_EQ(n->guid.toString(), "{00020386-0000-0000-C000-000000000046}");
    }
}

TEST(PstWriterFailures, NothingIsAcceptedAfterFinish) {
    fs::FailingSink out(uint64_t(1) << 40), scratch(uint64_t(1) << 40);
    auto w = PstWriter::create(out, scratch, options());
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE((*w)->finish().ok());
    const uint32_t top = *(*w)->folderByRole(FolderRole::IpmSubtree);
    EXPECT_FALSE((*w)->addFolder(top, "Late", "IPF.Note").ok());
    EXPECT_FALSE((*w)->addMessage(top, sample(0)).ok());
    EXPECT_FALSE((*w)->finish().ok());
    // A new store: a single empty file of whole AMap sections, as Outlook's.
    EXPECT_EQ(out.bytes().size(), 271360u);
}

}  // namespace
}  // namespace tavrin::pst::messaging
