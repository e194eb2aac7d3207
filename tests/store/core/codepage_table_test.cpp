// The mail code pages decode to the same Unicode on every system: iconv on
// POSIX systems, MultiByteToWideChar on Windows. codepage_table.txt holds,
// for each code page, a digest of what the POSIX build gives for every single
// byte, for every double-byte sequence of each lead byte, and (1258) for
// every byte followed by each tone mark. Both builds check themselves
// against it; a row that differs is printed whole.
//
// Writing the table again (from a POSIX build, at the top of the checkout):
//   TAVRIN_WRITE_CODEPAGE_TABLE=tests/store/core/codepage_table.txt
//   build/bin/test_store_core --gtest_filter='CodepageTable.*'
// (the variable set for the second line).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "store/core/codepage.h"
#include "store/core/sha256.h"

namespace tavrin::store {
namespace {

using Sequences = std::vector<std::vector<uint8_t>>;

const uint32_t kSingleByte[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
const uint32_t kDoubleByte[] = {932, 936, 949, 950};

struct Row {
    std::string name;  // "1252 single", "932 lead 81", "1258 tone"
    Sequences inputs;
};

std::vector<Row> rows() {
    std::vector<Row> out;
    auto singles = [] {
        Sequences s;
        for (int b = 0; b < 256; ++b) s.push_back({static_cast<uint8_t>(b)});
        return s;
    };
    for (uint32_t cp : kSingleByte) out.push_back({std::to_string(cp) + " single", singles()});
    Sequences tone;
    for (int b = 0; b < 256; ++b)
        for (uint8_t mark : {0xCC, 0xEC, 0xD2, 0xDE, 0xF2}) tone.push_back({static_cast<uint8_t>(b), mark});
    out.push_back({"1258 tone", tone});
    for (uint32_t cp : kDoubleByte) {
        out.push_back({std::to_string(cp) + " single", singles()});
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            Sequences pairs;
            for (int trail = 0x30; trail <= 0xFF; ++trail)
                pairs.push_back({static_cast<uint8_t>(lead), static_cast<uint8_t>(trail)});
            char name[32];
            std::snprintf(name, sizeof name, "%u lead %02X", cp, lead);
            out.push_back({name, pairs});
        }
    }
    return out;
}

uint32_t codepageOf(const std::string& rowName) { return static_cast<uint32_t>(std::stoul(rowName)); }

// "XXYY=UUUU VVVV" for each input, the decoded code units in hex.
std::vector<std::string> decodeRow(const Row& row) {
    std::vector<std::string> out;
    for (const auto& in : row.inputs) {
        std::string line;
        char buf[8];
        for (uint8_t b : in) {
            std::snprintf(buf, sizeof buf, "%02X", b);
            line += buf;
        }
        line += '=';
        auto r = decodeCodepage(in, codepageOf(row.name));
        if (!r) {
            line += "error";
        } else {
            for (char16_t c : *r) {
                std::snprintf(buf, sizeof buf, " %04X", static_cast<unsigned>(c));
                line += buf;
            }
        }
        out.push_back(line);
    }
    return out;
}

std::string digestOf(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return sha256Hex(ByteSpan(reinterpret_cast<const uint8_t*>(all.data()), all.size())).substr(0, 16);
}

TEST(CodepageTable, EveryByteAndPairDecodesAsThePosixBuildDecodesIt) {
    const std::vector<Row> all = rows();
    if (const char* target = std::getenv("TAVRIN_WRITE_CODEPAGE_TABLE")) {
        std::ofstream out(target, std::ios::binary);
        out << "# Digests of the Unicode that the POSIX build (iconv) gives for the mail code pages;\n"
               "# written and checked by tests/store/core/codepage_table_test.cpp.\n";
        for (const Row& row : all) out << row.name << ": " << digestOf(decodeRow(row)) << "\n";
        ASSERT_TRUE(out.good()) << target;
        GTEST_SKIP() << "table written to " << target;
    }
    std::ifstream in(std::string(TAVRIN_SOURCE_DIR) + "/tests/store/core/codepage_table.txt", std::ios::binary);
    ASSERT_TRUE(in.good()) << "tests/store/core/codepage_table.txt is missing";
    std::map<std::string, std::string> expected;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) expected[line.substr(0, colon)] = line.substr(colon + 2);
    }
    ASSERT_EQ(expected.size(), all.size());
    int differing = 0;
    for (const Row& row : all) {
        const std::vector<std::string> lines = decodeRow(row);
        if (digestOf(lines) == expected[row.name]) continue;
        std::ostringstream text;
        size_t shown = 0;
        for (const auto& l : lines) {
            if (++shown > 300) break;
            text << "  " << l << "\n";
        }
        ADD_FAILURE() << "code page " << row.name << " decodes differently from the POSIX build; here:\n"
                      << text.str();
        if (++differing >= 5) break;  // enough to see the pattern
    }
}

}  // namespace
}  // namespace tavrin::store
