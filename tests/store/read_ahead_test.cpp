// Message files read ahead on worker threads: what the import loop gets is
// what Import(path) reads, in any order, however many workers; the bytes
// held stay within the budget, a file larger than it is held alone; and
// what is dropped or cancelled is never handed out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "msg/msg_builder.h"
#include "store/core/sha256.h"
#include "store/core/tags.h"
#include "store/message_files.h"
#include "store/msg/oxmsg/msg_reader.h"
#include "store/read_ahead.h"
#include "store/session.h"
#include "store_test_util.h"

namespace tavrin::store {
namespace {

using namespace testing;
using tavrin::testing::MessageBuilder;
using tavrin::testing::utf16le;

// The same answer: the failure, or the message's subject, size and warnings.
std::string describe(const Result<Message>& r) {
    if (!r) return "error " + std::to_string(r.error().number) + ": " + r.error().description;
    std::string s = "subject " + std::to_string(r->props.find(tags::PidTagSubject) != nullptr) + " " +
                    std::to_string(r->attachments.size()) + " attachments";
    for (const auto& p : r->props.items()) s += " " + std::to_string(p.tag) + ":" + std::to_string(p.data.size());
    for (const auto& w : r->warnings) s += "; " + w;
    return s;
}

// A folder of message files: good ones (some with a large attachment),
// a salvaged one, Internet mail (parsed by the workers), one that is not a
// message and one that is missing.
struct Files {
    ScratchDir dir;
    std::vector<std::string> paths;
    explicit Files(size_t n, size_t hugeAt = SIZE_MAX, size_t hugeBytes = 0) {
        for (size_t i = 0; i < n; ++i) {
            const std::string p = dir.file("m" + std::to_string(i) + ".msg");
            paths.push_back(p);
            if (i % 7 == 3) {
                writeText(p, "not a message file");
                continue;
            }
            if (i % 7 == 5) continue;  // missing
            if (i % 7 == 4) {  // Internet mail, with a finding (a line too long)
                writeText(p, "Subject: mail " + std::to_string(i) + "\r\nContent-Type: text/plain\r\n\r\n" +
                                 std::string(i * 100, 'b') + "\r\n");
                continue;
            }
            MessageBuilder m;
            m.variable(makeTag(tags::PidTagSubject, PT_UNICODE), utf16le(u"message " + std::u16string(i % 5, u'x')));
            if (i % 7 == 6) m.entries.push_back({makeTag(0x0071, PT_BINARY), 6, 22});  // its stream is missing
            MessageBuilder::Att a;
            a.props.variable(makeTag(tags::PidTagAttachDataBinary, PT_BINARY),
                             Bytes(i == hugeAt ? hugeBytes : 20000 + 1000 * (i % 3), static_cast<uint8_t>(i)));
            m.attachments.push_back(a);
            const Bytes b = m.file();
            writeText(p, std::string(b.begin(), b.end()));
        }
    }
    std::function<std::string(size_t)> pathOf() const {
        return [this](size_t i) { return i % 7 == 2 ? std::string() : paths[i]; };
    }
};

TEST(ReadAhead, GivesWhatImportWouldReadWhateverTheOrderAndTheWorkers) {
    Files f(40);
    std::vector<std::string> expected;
    for (const std::string& p : f.paths) expected.push_back(describe(readMessageFile(p)));
    EXPECT_NE(expected[6].find("; property 0x00710102: the value stream is missing (22 bytes)"), std::string::npos);
    EXPECT_EQ(expected[3].rfind("error ", 0), 0u);
    EXPECT_NE(expected[11].find("longer than 998 characters"), std::string::npos);
    EXPECT_EQ(expected[5].rfind("error ", 0), 0u);
    for (unsigned threads : {0u, 1u, 4u}) {
        ReadAheadOptions o;
        o.threads = threads;
        o.budget = 100000;  // a few files at a time
        MessageReadAhead ahead(f.paths.size(), f.pathOf(), o);
        // Entries that are not message files (i % 7 == 2) are never asked
        // for, and some others are passed over.
        for (size_t i = 0; i < f.paths.size(); i += (i % 9 == 8 ? 3 : 1))
            if (i % 7 != 2) {
                ASSERT_EQ(describe(ahead.take(i)), expected[i]) << threads << " threads, entry " << i;
            }
        // Again, and back to the start: read where they are.
        EXPECT_EQ(describe(ahead.take(39)), expected[39]);
        EXPECT_EQ(describe(ahead.take(0)), expected[0]);
        EXPECT_LE(ahead.peakBytes(), o.budget) << threads;
    }

    // Import of what was read puts into the item what Import(path) puts.
    RDOSession session;
    auto st = session.LogonPstStore(f.dir.file("out.pst"), olStoreUnicode, "Mail");
    ASSERT_TRUE(st.ok());
    auto top = (*st)->IPMRootFolder();
    for (size_t i : {0u, 3u, 5u, 6u}) {
        auto byPath = (*top)->Items().Add(0), byRead = (*top)->Items().Add(0);
        const Status a = (*byPath)->Import(f.paths[i]), b = (*byRead)->Import(readMessageFile(f.paths[i]));
        EXPECT_EQ(a.error().number, b.error().number) << i;
        EXPECT_EQ(a.error().description, b.error().description) << i;
        EXPECT_EQ((*byPath)->Warnings(), (*byRead)->Warnings()) << i;
        EXPECT_EQ((*byPath)->AttachmentCount(), (*byRead)->AttachmentCount()) << i;
        EXPECT_FALSE((*byRead)->Import(readMessageFile(f.paths[i]), 7).ok()) << "an unknown format is refused";
    }
    EXPECT_TRUE(session.Logoff().ok());
}

TEST(ReadAhead, HoldsNoMoreThanTheBudgetAndAHugeFileAlone) {
    // Entry 8 is larger than the budget: it is read only when nothing else
    // is held, and nothing is read beside it while the loop holds it.
    Files f(30, 8, 3 << 20);
    for (unsigned threads : {1u, 3u}) {
        ReadAheadOptions o;
        o.threads = threads;
        o.budget = 200000;
        MessageReadAhead ahead(f.paths.size(), f.pathOf(), o);
        for (size_t i = 0; i < f.paths.size(); ++i) {
            if (i % 7 == 2) continue;
            // A slow loop: the workers run as far ahead as they may.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            auto r = ahead.take(i);
            if (i == 8) {
                ASSERT_TRUE(r.ok());
                const Property* data = r->attachments.at(0).props.find(tags::PidTagAttachDataBinary);
                ASSERT_NE(data, nullptr);
                EXPECT_EQ(data->data.size(), size_t(3) << 20);
            }
        }
        const uint64_t huge = std::filesystem::file_size(f.paths[8]);
        EXPECT_GT(huge, o.budget);
        EXPECT_LE(ahead.peakBytes(), huge) << threads << " threads: the huge file shared the memory";
        EXPECT_GE(ahead.peakBytes(), huge);
    }
}

TEST(ReadAhead, DroppedAndCancelledWorkIsNeverHandedOut) {
    Files f(60);
    ReadAheadOptions o;
    o.threads = 3;
    o.budget = 1 << 30;
    {
        MessageReadAhead ahead(f.paths.size(), f.pathOf(), o);
        ASSERT_EQ(describe(ahead.take(0)), describe(readMessageFile(f.paths[0])));
        // Let the workers read well ahead, then skip past what they read.
        for (int k = 0; k < 200 && ahead.filesRead() < 20; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(describe(ahead.take(31)), describe(readMessageFile(f.paths[31])));
        EXPECT_EQ(describe(ahead.take(10)), describe(readMessageFile(f.paths[10]))) << "dropped: read again";
        ahead.cancel();
        const size_t read = ahead.filesRead();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_LE(ahead.filesRead(), read + o.threads) << "no file is started after a cancel";
        EXPECT_EQ(describe(ahead.take(32)), describe(readMessageFile(f.paths[32])));
    }
    // Destroyed in the middle of reading: the workers end, nothing leaks.
    for (int k = 0; k < 5; ++k) {
        MessageReadAhead ahead(f.paths.size(), f.pathOf(), o);
        (void)ahead.take(static_cast<size_t>(k));
    }
}

// readMessageFile reads a file over 16 MiB on demand: the same message as
// from its bytes, the attachment whole.
TEST(ReadAhead, AHugeMessageFileReadsAsFromItsBytes) {
    MessageBuilder m;
    m.variable(makeTag(tags::PidTagSubject, PT_UNICODE), utf16le(u"huge"));
    m.variable(makeTag(tags::PidTagBody, PT_UNICODE), utf16le(std::u16string(3000, u'b')));
    MessageBuilder::Att a;
    Bytes data(17 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
    a.props.variable(makeTag(tags::PidTagAttachDataBinary, PT_BINARY), data);
    a.props.variable(makeTag(tags::PidTagAttachLongFilename, PT_UNICODE), utf16le(u"a.bin"));
    m.attachments.push_back(a);
    const Bytes file = m.file();
    ASSERT_GT(file.size(), 16u << 20);
    const auto path = std::filesystem::temp_directory_path() / ("tavrin-huge-" + std::to_string(::getpid()) + ".msg");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    auto lazy = readMessageFile(path.string());
    std::filesystem::remove(path);
    auto whole = oxmsg::readMsg(file);
    ASSERT_TRUE(lazy.ok()) << lazy.error().description;
    ASSERT_TRUE(whole.ok());
    // Read in pieces, the file still gives the digest of all its bytes.
    setSourceDigest(*whole, sha256(file));
    ASSERT_EQ(lazy->props.items().size(), whole->props.items().size());
    for (size_t i = 0; i < lazy->props.items().size(); ++i)
        EXPECT_TRUE(lazy->props.items()[i].data == whole->props.items()[i].data) << i;
    ASSERT_EQ(lazy->attachments.size(), 1u);
    const Property* got = lazy->attachments[0].props.find(tags::PidTagAttachDataBinary);
    ASSERT_NE(got, nullptr);
    EXPECT_TRUE(got->data == data);
    EXPECT_EQ(lazy->warnings, whole->warnings);
}

}  // namespace
}  // namespace tavrin::store
