// The mbox split rule, in memory and through the file reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "store/core/tags.h"
#include "store/mime/internet_mail.h"

namespace tavrin::store::mime {
namespace {

ByteSpan span(const std::string& s) { return ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::vector<std::string> split(const std::string& mbox) {
    std::vector<std::string> out;
    for (MboxMessage& m : splitMbox(span(mbox))) out.push_back(str(m.bytes));
    return out;
}

using V = std::vector<std::string>;

TEST(Mbox, SplitRule) {
    const struct {
        const char* name;
        std::string mbox;
        V messages;
    } cases[] = {
        {"two messages", "From a@x Mon Jan 1 00:00:00 2001\nSubject: one\n\nbody 1\n\nFrom b@x Tue\nSubject: two\n\nbody 2\n",
         V{"Subject: one\n\nbody 1\n", "Subject: two\n\nbody 2\n"}},
        {"CRLF", "From a\r\nA: 1\r\n\r\nx\r\n\r\nFrom b\r\nB: 2\r\n\r\ny\r\n", V{"A: 1\r\n\r\nx\r\n", "B: 2\r\n\r\ny\r\n"}},
        {"From line in a body, no header after it", "From a\nA: 1\n\nFrom time to time\nwe meet\n",
         V{"A: 1\n\nFrom time to time\nwe meet\n"}},
        {"mboxrd quoting undone", "From a\nA: 1\n\n>From here\n>>From there\n> From not\n",
         V{"A: 1\n\nFrom here\n>From there\n> From not\n"}},
        {"no empty line before From (Netscape)", "From - x\nA: 1\n\nx\nFrom - y\nB: 2\n\ny\n", V{"A: 1\n\nx\n", "B: 2\n\ny\n"}},
        {"text before the first message", "junk\nmore\nFrom a\nA: 1\n\nx\n", V{"A: 1\n\nx\n"}},
        {"no final line end", "From a\nA: 1\n\nlast", V{"A: 1\n\nlast\n"}},
        {"From line at the very end", "From a\nA: 1\n\nx\nFrom b", V{"A: 1\n\nx\nFrom b\n"}},
        {"nothing", "", V{}},
        {"no message", "just text\n", V{}},
        // Content-Length that lands on the next separator is followed:
        // the unquoted separator-like line inside is text (mboxcl2).
        {"Content-Length followed", "From a\nContent-Length: 24\n\nFrom x\nB: inside\n>From q\n\nFrom b\nC: 3\n\nz\n",
         V{"Content-Length: 24\n\nFrom x\nB: inside\n>From q\n", "C: 3\n\nz\n"}},
        // A wrong Content-Length is ignored.
        {"Content-Length wrong", "From a\nContent-Length: 5\n\nbody\n\nFrom b\nB: 2\n\ny\n",
         V{"Content-Length: 5\n\nbody\n", "B: 2\n\ny\n"}},
        {"Content-Length past the end", "From a\nContent-Length: 999\n\nx\nFrom b\nB: 2\n\ny\n",
         V{"Content-Length: 999\n\nx\n", "B: 2\n\ny\n"}},
    };
    for (const auto& c : cases) EXPECT_EQ(split(c.mbox), c.messages) << c.name;
}

TEST(Mbox, OrdinalsOffsetsAndWarnings) {
    const std::string mbox = "pre\nFrom a\nA: 1\n\nx\n\nFrom b\nB: 2\n\ny\n";
    std::vector<std::string> warnings;
    auto list = splitMbox(span(mbox), &warnings);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].ordinal, 1u);
    EXPECT_EQ(list[1].ordinal, 2u);
    EXPECT_EQ(list[0].offset, 4u);
    EXPECT_EQ(list[1].offset, mbox.find("From b"));
    EXPECT_EQ(warnings, V{"4 bytes before the first message were skipped"});
    warnings.clear();
    splitMbox(span("nothing here\n"), &warnings);
    EXPECT_EQ(warnings.size(), 1u);
}

class MboxFile : public ::testing::Test {
protected:
    // ctest runs these tests as parallel processes: each needs a folder of its own.
    std::filesystem::path dir_ =
        std::filesystem::temp_directory_path() /
        ("tavrin_mbox_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
         std::to_string(std::random_device{}()));
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& content) {
        const auto p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
};

// The file reader reads in 1 MiB pieces: lines that cross a piece, and
// one longer than a piece, split as in memory; so do messages past 1 MiB,
// which it reads again whole (quoted and unquoted "From " lines in them).
TEST_F(MboxFile, SameAsInMemory) {
    std::string mbox;
    for (int i = 0; i < 300; ++i) {
        mbox += "From sender" + std::to_string(i) + " Mon\nSubject: m" + std::to_string(i) + "\n\n";
        mbox += std::string(static_cast<size_t>(i) * 97 + 5000, 'a' + i % 26) + "\n>From quoted\n\n";
        if (i == 150) mbox += std::string(1u << 20, 'y') + "\r\n>From q\r\nFrom text\r\n>>From q\r\nend\r\n\r\n";
    }
    mbox += "From big\nSubject: big\n\n" + std::string(3u << 20, 'z') + "\n";
    const std::string path = write("a.mbox", mbox);
    auto expected = splitMbox(span(mbox));
    auto r = MboxReader::open(path);
    ASSERT_TRUE(r.ok());
    size_t n = 0;
    for (;;) {
        auto m = r->next();
        ASSERT_TRUE(m.ok());
        if (!*m) break;
        ASSERT_LT(n, expected.size());
        EXPECT_EQ((*m)->bytes, expected[n].bytes) << n;
        EXPECT_EQ((*m)->ordinal, n + 1);
        EXPECT_EQ((*m)->offset, expected[n].offset);
        ++n;
    }
    EXPECT_EQ(n, 301u);
    EXPECT_EQ(r->position(), r->size());
    auto count = MboxReader::count(path);
    ASSERT_TRUE(count.ok());
    EXPECT_EQ(*count, 301u);
}

TEST_F(MboxFile, MessagesReadIntoTheModel) {
    const std::string path = write("b.mbox", "From a\nSubject: one\n\nx\n\nFrom b\n\nnot a header\nFrom c\nX: 1\n\n");
    auto r = MboxReader::open(path);
    ASSERT_TRUE(r.ok());
    auto first = r->nextMessage();
    ASSERT_TRUE(first.ok() && *first);
    EXPECT_EQ((*first)->first, 1u);
    ASSERT_TRUE((*first)->second.ok());
    EXPECT_EQ((*first)->second->props.find(tags::PidTagSubject)->asUnicode(), u"one");
    auto second = r->nextMessage();
    ASSERT_TRUE(second.ok() && *second);
    EXPECT_EQ((*second)->first, 2u);
    auto end = r->nextMessage();
    ASSERT_TRUE(end.ok());
    EXPECT_FALSE(*end);
    EXPECT_FALSE(MboxReader::open((dir_ / "missing.mbox").string()).ok());
}

}  // namespace
}  // namespace tavrin::store::mime
