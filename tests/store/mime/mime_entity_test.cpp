// The one-pass line scan of a whole message against the plain per-line
// reading it replaces.
#include "store/mime/mime_entity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace tavrin::store::mime {
namespace {

LineFacts linesOneByOne(const std::string& s) {
    LineFacts f;
    bool lf = false, crlf = false;
    for (size_t pos = 0; pos < s.size();) {
        const size_t nl = s.find('\n', pos), eol = nl == std::string::npos ? s.size() : nl;
        const bool cr = nl != std::string::npos && eol > pos && s[eol - 1] == '\r';
        if (nl != std::string::npos) (cr ? crlf : lf) = true;
        f.longLines += eol - pos - cr > 998;
        pos = eol + 1;
    }
    f.mixedEnds = lf && crlf;
    return f;
}

TEST(MimeEntity, LineScanMatchesReadingLineByLine) {
    const std::string x998(998, 'x'), x999(999, 'x');
    std::vector<std::string> cases = {
        "", "\n", "\r\n", "\r", "a\nb\r\n", "\n\r\n", "a\r\r\nb\n", "\r\r\n", "no line end at all",
        x998 + "\r\n" + x998 + "\n", x999 + "\r\n", x998 + "\r\r\n", x999, x998 + "\r", x999 + "\r",
        "\n" + x999 + "\n" + x998, std::string(5000, 'y').append("\r\n").append(64, '\n'),
    };
    // CR and LF on each side of the 64-byte blocks.
    for (size_t at : {62, 63, 64, 65, 127, 128})
        for (const char* end : {"\r\n", "\n", "\r"}) cases.push_back(std::string(at, 'z') + end + x999 + "\n" + x998);
    std::mt19937 rng(7);
    for (int k = 0; k < 400; ++k) {
        std::string s(rng() % 3000, 'q');
        const unsigned gap = 1 + rng() % 1200;  // about one line end in this many bytes
        for (char& c : s) c = rng() % gap ? 'q' : "\r\n\n"[rng() % 3];
        cases.push_back(s);
    }
    for (const std::string& s : cases) {
        const LineFacts want = linesOneByOne(s);
        const LineFacts got = scanLines(ByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
        EXPECT_EQ(got.longLines, want.longLines) << s.size();
        EXPECT_EQ(got.mixedEnds, want.mixedEnds) << s.size();
    }
}

}  // namespace
}  // namespace tavrin::store::mime
