// 8-bit message files in the mail code pages, converted by msg2pst and read
// back with dump-pst: the subject comes out as the code page converter gives
// it (which codepage_table_test.cpp holds to the POSIX build's table), so
// the same message files give the same text on Linux and on Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_test_util.h"
#include "fs/text.h"
#include "store/core/codepage.h"
#include "store/core/tags.h"
#include "store/msg/msg_builder.h"

namespace tavrin {
namespace {

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;
using namespace clitest;

// Bytes of the upper half, which each code page reads its own way; double-
// byte code pages get lead and trail bytes as well, some valid, some not.
Bytes sampleBytes(uint32_t cp) {
    Bytes b;
    for (int c = 0xA0; c <= 0xFF; ++c) b.push_back(static_cast<uint8_t>(c));
    if (cp == 932 || cp == 936 || cp == 949 || cp == 950)
        for (int lead = 0xB0; lead <= 0xB4; ++lead)
            for (int trail = 0xA1; trail <= 0xA8; ++trail) {
                b.push_back(static_cast<uint8_t>(lead));
                b.push_back(static_cast<uint8_t>(trail));
            }
    b.push_back(0x81);  // a stray byte at the end
    return b;
}

class ConvertCodepages : public Msg2pstTest {
protected:
    ConvertCodepages() : Msg2pstTest("tavrin-codepages-") {}
};

TEST_F(ConvertCodepages, EightBitSubjectsComeOutAsTheConverterReadsThem) {
    std::vector<uint32_t> pages = {874, 932, 936, 949, 950};
    for (uint32_t cp = 1250; cp <= 1258; ++cp) pages.push_back(cp);
    for (uint32_t cp : pages) {
        testing::MessageBuilder m;
        m.fixed(makeTag(PidTagMessageCodepage, PT_LONG), cp);
        m.string8(makeTag(PidTagSubject, PT_STRING8), sampleBytes(cp));
        const Bytes file = m.file();
        fsys::create_directories(dir_ / "src");
        std::ofstream(dir_ / "src" / ("cp" + std::to_string(cp) + ".msg"), std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    ASSERT_EQ(run("convert src out.pst"), 0) << err_;
    ASSERT_EQ(run("dump-pst out.pst"), 0) << err_;
    for (uint32_t cp : pages) {
        auto expected = decodeCodepage(sampleBytes(cp), cp);
        ASSERT_TRUE(expected.ok()) << cp;
        const std::string subject = "\"subject\":\"" + text::toUtf8(*expected) + "\"";
        EXPECT_NE(out_.find(subject), std::string::npos) << "code page " << cp << ": " << subject;
    }
}

}  // namespace
}  // namespace tavrin
