// Locating the Outlook-written sample PSTs in ../shared (tests skip when
// they are absent).
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tavrin::pst::testing {

inline std::filesystem::path samplesDir() { return std::filesystem::path(TAVRIN_SHARED_DIR) / "samples/pst"; }

// Every *.pst below the samples folder, sorted; empty when absent.
inline std::vector<std::filesystem::path> samplePsts() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    if (!std::filesystem::is_directory(samplesDir(), ec)) return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(samplesDir(), ec))
        if (e.is_regular_file() && e.path().extension() == ".pst") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

inline std::filesystem::path sample(const std::string& rel) { return samplesDir() / rel; }

inline std::vector<uint8_t> readBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tavrin::pst::testing

#define TAVRIN_REQUIRE_SAMPLE(path)                                                       \
    do {                                                                                  \
        if (!std::filesystem::exists(path))                                               \
            GTEST_SKIP() << "shared PST samples not available: " << (path).string();      \
    } while (0)
