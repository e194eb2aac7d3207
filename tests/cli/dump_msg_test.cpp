// msg2pst dump-msg, run as a process on message files written to a temporary
// folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "cli_test_util.h"

namespace tavrin {
namespace {

// The system's own words for a missing file.
#ifdef _WIN32
const std::string kNotFound = "The system cannot find the file specified.";
#else
const std::string kNotFound = "No such file or directory.";
#endif

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;
using namespace clitest;

void spit(const fsys::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class DumpMsg : public Msg2pstTest {
protected:
    DumpMsg() : Msg2pstTest("tavrin-dump-msg-") {}
    // Runs dump-msg in the temporary folder; returns the exit status.
    int run(const std::string& args) { return Msg2pstTest::run("dump-msg " + args); }
};

Bytes sampleMessage() {
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "Caf\xC3\xA9 \"quoted\"");
    m.fixed(makeTag(PidTagMessageCodepage, PT_LONG), 1252);
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), 17);
    m.addGuid(Guid{});
    m.nameNumeric(1, 0, 0x8520);
    m.fixed(makeTag(0x8000, PT_LONG), 1);
    return m.file();
}

TEST_F(DumpMsg, PrintsOneLinePerFileAndFailsOnlyForUnreadableOnes) {
    spit(dir_ / "a.msg", sampleMessage());
    spit(dir_ / "b.msg", sampleMessage());
    ASSERT_EQ(run("a.msg b.msg"), 0) << err_;
    EXPECT_EQ(err_, "");
    const std::string line =
        "{\"file\":\"a.msg\",\"subject\":\"Caf\xC3\xA9 \\\"quoted\\\"\",\"sender\":{\"name\":null,\"address\":null},"
        "\"recipients\":[],\"messageClass\":null,\"bodySha256\":null,\"bodyLength\":0,\"htmlSha256\":null,"
        "\"attachments\":[],\"submitTime\":null,\"deliveryTime\":null,\"flags\":17,"
        "\"properties\":4,\"namedProperties\":1,\"codepage\":1252}\n";
    std::string second = line;
    second.replace(second.find("a.msg"), 5, "b.msg");
    EXPECT_EQ(out_, line + second);

    spit(dir_ / "bad.msg", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'm', 's', 'g'});
    EXPECT_EQ(run("a.msg bad.msg missing.msg b.msg"), 1);
    EXPECT_EQ(out_, line + second);  // the good files are still printed
    EXPECT_EQ(err_,
              "bad.msg: error -2147221221: compound file: the file is too short for a header (9 bytes)\n"
              "missing.msg: error -2147024894: The file missing.msg could not be opened: " + kNotFound + "\n");
}

TEST_F(DumpMsg, ASalvagedFileCarriesItsWarnings) {
    // PR_CONVERSATION_INDEX is listed, 22 bytes, but has no value stream:
    // the message is read without it, and the record says so.
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "damaged");
    m.entries.push_back({makeTag(0x0071, PT_BINARY), 6, 22});
    spit(dir_ / "damaged.msg", m.file());
    spit(dir_ / "a.msg", sampleMessage());
    ASSERT_EQ(run("damaged.msg a.msg"), 0) << err_;
    EXPECT_EQ(err_, "");
    const std::string first = out_.substr(0, out_.find('\n'));
    EXPECT_EQ(first.rfind("{\"file\":\"damaged.msg\",\"subject\":\"damaged\"", 0), 0u) << first;
    const std::string tail = ",\"properties\":1,\"namedProperties\":0,\"codepage\":null,"
                             "\"warnings\":[\"property 0x00710102: the value stream is missing (22 bytes)\"]}";
    ASSERT_GE(first.size(), tail.size());
    EXPECT_EQ(first.substr(first.size() - tail.size()), tail);
    EXPECT_EQ(out_.find("warnings", first.size()), std::string::npos) << "a whole message has no warnings field";
}

TEST_F(DumpMsg, WithoutFilesPrintsUsage) {
    EXPECT_EQ(run(""), 2);
    EXPECT_NE(err_.find("usage: msg2pst dump-msg FILE..."), std::string::npos);
}

}  // namespace
}  // namespace tavrin
