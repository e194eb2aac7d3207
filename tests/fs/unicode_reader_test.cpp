#include "fs/unicode_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "fs/runtime_error.h"
#include "fs/text.h"
#include "temp_folder.h"

namespace tavrin::fs {
namespace {

using testing::TempFolder;

constexpr size_t kChunkUnits = UnicodeReader::kChunkBytes / 2;

std::string writeUtf16(const TempFolder& t, const std::string& name, const std::u16string& content,
                       bool byteOrderMark, const std::string& extraBytes = "") {
    std::string bytes;
    if (byteOrderMark) bytes += "\xFF\xFE";
    for (char16_t u : content) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    bytes += extraBytes;
    const std::string path = t.at(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Every line of the file, reading until Eof.
std::vector<std::string> readAll(const std::string& path, const std::string& delim) {
    UnicodeReader reader;
    EXPECT_TRUE(reader.OpenFile(path, delim).ok());
    std::vector<std::string> lines;
    while (reader.IsOpen() && !*reader.Eof()) {
        auto line = reader.ReadLine();
        EXPECT_TRUE(line.ok()) << line.error().description;
        if (!line.ok()) break;
        lines.push_back(*line);
    }
    return lines;
}

// The lines of a whole text split at once: what the chunked reader must give.
std::vector<std::string> splitWhole(std::u16string text, const std::u16string& delim) {
    if (text.empty()) return {};
    if (text.size() >= delim.size() && text.compare(text.size() - delim.size(), delim.size(), delim) == 0)
        text.resize(text.size() - delim.size());
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t hit; (hit = text.find(delim, start)) != std::u16string::npos; start = hit + delim.size())
        lines.push_back(text::toUtf8(text.substr(start, hit - start)));
    lines.push_back(text::toUtf8(text.substr(start)));
    return lines;
}

TEST(UnicodeReader, AnEmptyFileIsAtItsEndAtOnce) {
    TempFolder t;
    UnicodeReader reader;
    ASSERT_TRUE(reader.OpenFile(writeUtf16(t, "empty.txt", u"", false), "\r\n").ok());
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_TRUE(*reader.Eof());
    EXPECT_EQ(*reader.Length(), 0);
    auto line = reader.ReadLine();
    ASSERT_FALSE(line.ok());
    EXPECT_EQ(line.error().number, rt::kInputPastEndOfFile);
}

TEST(UnicodeReader, TrailingDelimitersEndLinesRatherThanStartThem) {
    TempFolder t;
    EXPECT_EQ(readAll(writeUtf16(t, "1.txt", u"a\r\nb\r\n", false), "\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(readAll(writeUtf16(t, "2.txt", u"a\r\nb\r\n\r\n", false), "\r\n"),
              (std::vector<std::string>{"a", "b", ""}));
    EXPECT_EQ(readAll(writeUtf16(t, "3.txt", u"a\r\nb", false), "\r\n"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(readAll(writeUtf16(t, "4.txt", u"\r\n", false), "\r\n"), (std::vector<std::string>{""}));
    EXPECT_EQ(readAll(writeUtf16(t, "5.txt", u"a|b||c", false), "|"), (std::vector<std::string>{"a", "b", "", "c"}));
    // Only an exact, case-sensitive delimiter splits.
    EXPECT_EQ(readAll(writeUtf16(t, "6.txt", u"aENDbendc", false), "END"), (std::vector<std::string>{"a", "bendc"}));
    // Without a delimiter the whole text is one line.
    EXPECT_EQ(readAll(writeUtf16(t, "7.txt", u"a\r\nb", false), ""), (std::vector<std::string>{"a\r\nb"}));
}

TEST(UnicodeReader, AByteOrderMarkIsSkippedAndNotCounted) {
    TempFolder t;
    const std::string path = writeUtf16(t, "bom.txt", u"Inbox\r\nSent", true);
    UnicodeReader reader;
    ASSERT_TRUE(reader.OpenFile(path, "\r\n").ok());
    EXPECT_EQ(*reader.Length(), 11);  // (file length - 2) / 2
    EXPECT_EQ(*reader.ReadLine(), "Inbox");
    EXPECT_EQ(*reader.ReadLine(), "Sent");
    EXPECT_TRUE(*reader.Eof());
    // Without the mark, FF FE is not there to skip and the text starts at once.
    EXPECT_EQ(readAll(writeUtf16(t, "plain.txt", u"Inbox", false), "\r\n"), std::vector<std::string>{"Inbox"});
}

TEST(UnicodeReader, AFileOfOnlyAByteOrderMarkReadsAsEmpty) {
    TempFolder t;
    UnicodeReader reader;
    ASSERT_TRUE(reader.OpenFile(writeUtf16(t, "bom.txt", u"", true), "\r\n").ok());
    EXPECT_TRUE(*reader.Eof());
    EXPECT_EQ(*reader.Length(), 0);
}

TEST(UnicodeReader, AnOddFinalByteIsDropped) {
    TempFolder t;
    EXPECT_EQ(readAll(writeUtf16(t, "odd.txt", u"ab\r\ncd", false, "\x41"), "\r\n"),
              (std::vector<std::string>{"ab", "cd"}));
    UnicodeReader reader;
    ASSERT_TRUE(reader.OpenFile(writeUtf16(t, "odd2.txt", u"abc", true, "\x41"), "\r\n").ok());
    EXPECT_EQ(*reader.Length(), 3);
    EXPECT_EQ(*reader.ReadLine(), "abc");
    reader.CloseFile();
    ASSERT_TRUE(reader.OpenFile(writeUtf16(t, "one.txt", u"", false, "\x41"), "\r\n").ok());
    EXPECT_TRUE(*reader.Eof());
}

TEST(UnicodeReader, ACrLfSplitAcrossTheChunkBoundarySeparatesTheLines) {
    TempFolder t;
    for (bool mark : {false, true}) {
        // CR is the last code unit of the first chunk, LF the first of the second.
        std::u16string text(kChunkUnits - 1, u'x');
        text += u"\r\nsecond\r\nthird";
        const auto lines = readAll(writeUtf16(t, mark ? "m.txt" : "n.txt", text, mark), "\r\n");
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], std::string(kChunkUnits - 1, 'x'));
        EXPECT_EQ(lines[1], "second");
        EXPECT_EQ(lines[2], "third");
    }
}

TEST(UnicodeReader, ACrLfSplitAcrossTheLastBoundaryEndsTheFile) {
    TempFolder t;
    std::u16string text(kChunkUnits - 1, u'x');
    text += u"\r\n";  // LF alone makes up the last chunk
    EXPECT_EQ(readAll(writeUtf16(t, "end.txt", text, false), "\r\n"),
              std::vector<std::string>{std::string(kChunkUnits - 1, 'x')});
}

TEST(UnicodeReader, ExactlyOneChunkIsAlsoTheLastChunk) {
    TempFolder t;
    for (bool mark : {false, true}) {
        std::u16string text = u"first\r\n";
        text += std::u16string(kChunkUnits - text.size(), u'y');
        ASSERT_EQ(text.size() * 2, static_cast<size_t>(UnicodeReader::kChunkBytes));
        UnicodeReader reader;
        ASSERT_TRUE(reader.OpenFile(writeUtf16(t, mark ? "m.txt" : "n.txt", text, mark), "\r\n").ok());
        EXPECT_EQ(*reader.Length(), static_cast<int64_t>(kChunkUnits));
        EXPECT_EQ(*reader.ReadLine(), "first");
        EXPECT_FALSE(*reader.Eof());
        EXPECT_EQ(*reader.ReadLine(), std::string(kChunkUnits - 7, 'y'));
        EXPECT_TRUE(*reader.Eof());
        EXPECT_EQ(reader.ReadLine().error().number, rt::kInputPastEndOfFile);
    }
}

TEST(UnicodeReader, ALineLongerThanAChunkComesBackWhole) {
    TempFolder t;
    std::u16string longLine;
    for (size_t k = 0; k < 51200; ++k) longLine.push_back(static_cast<char16_t>(u'a' + k % 26));  // 100 KiB
    const std::u16string text = u"before\r\n" + longLine + u"\r\nafter\r\n";
    const auto lines = readAll(writeUtf16(t, "long.txt", text, true), "\r\n");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "before");
    EXPECT_EQ(lines[1], text::toUtf8(longLine));
    EXPECT_EQ(lines[2], "after");
    // And as the only, unterminated line.
    EXPECT_EQ(readAll(writeUtf16(t, "only.txt", longLine, false), "\r\n"),
              std::vector<std::string>{text::toUtf8(longLine)});
}

TEST(UnicodeReader, ASurrogatePairAcrossTheBoundaryStaysOneCharacter) {
    TempFolder t;
    std::u16string text(kChunkUnits - 1, u'x');
    text += u"\U0001F600 end";
    const auto lines = readAll(writeUtf16(t, "pair.txt", text, false), "\r\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(kChunkUnits - 1, 'x') + "\xF0\x9F\x98\x80 end");
}

TEST(UnicodeReader, ChunkedReadingEqualsSplittingTheWholeText) {
    TempFolder t;
    std::mt19937 rng(11);
    const char16_t alphabet[] = {u'a', u'b', u'\r', u'\n', u'\r', u'\n', u'\u00E9', 0xD83D, 0xDE00};
    int file = 0;
    for (size_t units : {kChunkUnits - 1, kChunkUnits, kChunkUnits + 1, 2 * kChunkUnits, 3 * kChunkUnits + 5}) {
        for (int round = 0; round < 4; ++round) {
            std::u16string text;
            for (size_t k = 0; k < units; ++k) text.push_back(alphabet[rng() % std::size(alphabet)]);
            const std::string path = writeUtf16(t, "r" + std::to_string(file++) + ".txt", text, round % 2 == 0);
            EXPECT_EQ(readAll(path, "\r\n"), splitWhole(text, u"\r\n")) << units << " units, round " << round;
        }
    }
}

TEST(UnicodeReader, MisuseIsReportedWithRunTimeErrorNumbers) {
    TempFolder t;
    const std::string path = writeUtf16(t, "a.txt", u"a", false);
    UnicodeReader reader;
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.Eof().error().number, rt::kBadFileNumber);
    EXPECT_EQ(reader.Length().error().number, rt::kBadFileNumber);
    EXPECT_EQ(reader.ReadLine().error().number, rt::kBadFileNumber);
    ASSERT_TRUE(reader.OpenFile(path, "\r\n").ok());
    const Status again = reader.OpenFile(path, "\r\n");
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().number, rt::kFileAlreadyOpen);
    EXPECT_EQ(again.error().description, "File already open");
    EXPECT_EQ(*reader.ReadLine(), "a");
    reader.CloseFile();
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.Eof().error().number, rt::kBadFileNumber);
    // It can be opened again after closing.
    ASSERT_TRUE(reader.OpenFile(path, "\r\n").ok());
    EXPECT_FALSE(*reader.Eof());
    EXPECT_EQ(*reader.ReadLine(), "a");
}

TEST(UnicodeReader, ErrorsOfOpeningComeBackUnchanged) {
    TempFolder t;
    UnicodeReader reader;
    const Status s = reader.OpenFile(t.at("missing.txt"), "\r\n");
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().number, err::kFileNotFound);
    EXPECT_FALSE(reader.IsOpen());
    const Status folder = reader.OpenFile(t.path(), "\r\n");
    EXPECT_FALSE(folder.ok());
    EXPECT_FALSE(reader.IsOpen());
}

}  // namespace
}  // namespace tavrin::fs
