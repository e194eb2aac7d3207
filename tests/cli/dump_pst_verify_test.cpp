// msg2pst dump-pst and msg2pst verify, run as processes on a PST that
// msg2pst convert writes from message files in a temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "store/pst/ndb/records.h"
#include "cli_test_util.h"

namespace tavrin {
namespace {

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;
using namespace clitest;

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class DumpPstAndVerify : public Msg2pstTest {
protected:
    DumpPstAndVerify() : Msg2pstTest("tavrin-dump-pst-") {}
    void SetUp() override {
        Msg2pstTest::SetUp();
        if (IsSkipped()) return;
        writeMsg(dir_ / "src" / "top.msg", "at the top");
        writeMsg(dir_ / "src" / "Work" / "w.msg", "work");
        writeMsg(dir_ / "src" / "Work" / "Old" / "o1.msg", "old one");
        writeMsg(dir_ / "src" / "Work" / "Old" / "o2.msg", "old two");
        ASSERT_EQ(run("convert src out.pst"), 0) << err_;
    }
};

TEST_F(DumpPstAndVerify, DumpsOneLinePerMessageWithItsFolder) {
    ASSERT_EQ(run("dump-pst out.pst"), 0) << err_;
    auto l = lines(out_);
    ASSERT_EQ(l.size(), 4u) << out_;
    std::multiset<std::string> got;
    for (const auto& line : l) {
        ASSERT_EQ(line.rfind("{\"folder\":", 0), 0u) << "folder comes first: " << line;
        got.insert(line.substr(0, line.find(",\"sender\"")));
    }
    EXPECT_EQ(got, (std::multiset<std::string>{
                       "{\"folder\":\"\",\"subject\":\"at the top\"",
                       "{\"folder\":\"Work\",\"subject\":\"work\"",
                       "{\"folder\":\"Work/Old\",\"subject\":\"old one\"",
                       "{\"folder\":\"Work/Old\",\"subject\":\"old two\"",
                   }));
    // No associated messages in a converted store: the same lines.
    const std::string plain = out_;
    ASSERT_EQ(run("dump-pst --associated out.pst"), 0);
    EXPECT_EQ(out_, plain);
}

TEST_F(DumpPstAndVerify, ListsTheFolderTreeWithCounts) {
    ASSERT_EQ(run("dump-pst --folders out.pst"), 0) << err_;
    const std::string s = out_;
    EXPECT_NE(s.find("{\"folder\":\"\",\"name\":\"Top of Outlook data file\",\"depth\":0,\"contentCount\":1,"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("{\"folder\":\"Work\",\"name\":\"Work\",\"depth\":1,\"contentCount\":1,\"associatedCount\":0,"
                     "\"subfolders\":1}"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("{\"folder\":\"Work/Old\",\"name\":\"Old\",\"depth\":2,\"contentCount\":2,"), std::string::npos) << s;
    EXPECT_NE(s.find("{\"folder\":\"Inbox\",\"name\":\"Inbox\",\"depth\":1,\"contentCount\":0,"), std::string::npos) << s;
}

TEST_F(DumpPstAndVerify, RefusesWhatIsNotAPst) {
    EXPECT_EQ(run("dump-pst"), 2);
    EXPECT_NE(err_.find("usage: msg2pst dump-pst"), std::string::npos);
    EXPECT_EQ(run("dump-pst --bogus out.pst"), 2);
    EXPECT_EQ(run("dump-pst missing.pst"), 2);
    EXPECT_NE(err_.find("missing.pst"), std::string::npos) << err_;
    std::ofstream(dir_ / "junk.pst") << std::string(600, 'j');
    EXPECT_EQ(run("dump-pst junk.pst"), 2);
    EXPECT_NE(err_.find("junk.pst: error"), std::string::npos) << err_;
}

TEST_F(DumpPstAndVerify, VerifyExitsZeroOnlyWithoutFindings) {
    ASSERT_EQ(run("verify --strict out.pst"), 0) << out_;
    EXPECT_NE(out_.find("out.pst: 0 finding(s); checked "), std::string::npos) << out_;
    // One byte changed inside the first AMap page's bits.
    std::string bytes = slurp(dir_ / "out.pst");
    ASSERT_GT(bytes.size(), 0x4410u);
    bytes[0x4400 + 0x100] = static_cast<char>(bytes[0x4400 + 0x100] ^ 0x01);
    std::ofstream(dir_ / "bad.pst", std::ios::binary) << bytes;
    EXPECT_EQ(run("verify bad.pst"), 1);
    EXPECT_NE(out_.find("bad.pst: offset 0x4400"), std::string::npos) << "a finding says where:\n" << out_;
    EXPECT_EQ(run("verify missing.pst"), 2);
    EXPECT_EQ(run("verify"), 2);
    EXPECT_NE(err_.find("usage: msg2pst verify"), std::string::npos);
}

// A header field Outlook fills although [MS-PST] wants it 0: a note that
// --strict shows, never a finding, and the exit status stays 0.
TEST_F(DumpPstAndVerify, VerifyShowsNotesOnlyWhenStrictAndStillExitsZero) {
    std::string bytes = slurp(dir_ / "out.pst");
    auto h = pst::ndb::Header::decode(ByteSpan(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    ASSERT_TRUE(h.ok());
    h->qwUnused = 0x42;
    const Bytes hb = h->encode();
    std::copy(hb.begin(), hb.end(), bytes.begin());
    std::ofstream(dir_ / "used.pst", std::ios::binary) << bytes;
    ASSERT_EQ(run("verify used.pst"), 0) << out_;
    EXPECT_EQ(out_.find("note"), std::string::npos) << out_;
    ASSERT_EQ(run("verify --strict used.pst"), 0) << out_;
    EXPECT_NE(out_.find("used.pst: note: offset 0x0 (header): qwUnused is 0x42, not 0\n"), std::string::npos) << out_;
    EXPECT_NE(out_.find("used.pst: 1 note(s)"), std::string::npos) << out_;
    EXPECT_NE(out_.find("used.pst: 0 finding(s); checked "), std::string::npos) << out_;
}

}  // namespace
}  // namespace tavrin
