#include "fs/string_array.h"

#include <utility>

#include "fs/path_separator.h"
#include "fs/text.h"
#include "fs/yield.h"

namespace tavrin::fs {
namespace {

bool lessOrdinal(const std::string& a, const std::string& b) { return text::compareOrdinal(a, b) < 0; }

// (first + last) / 2 taken to the nearest integer, a half going to the even
// neighbour: 0 and 3 give 2, 0 and 1 give 0, 1 and 4 give 2, 2 and 5 give 4.
int64_t middleIndex(int64_t first, int64_t last) {
    const int64_t sum = first + last;
    int64_t low = sum / 2;
    if (sum < 0 && sum % 2 != 0) --low;  // floor for negative sums
    if (sum % 2 == 0) return low;
    return (low % 2 == 0) ? low : low + 1;
}

}  // namespace

std::string CutAtNull(std::string& text) {
    const size_t p = text.find('\0');
    if (p != std::string::npos) text.resize(p);
    return text;
}

void QuickSortStrings(StringArray& items, int32_t first, int32_t last) {
    if (first < 0 || last < first || static_cast<size_t>(last) >= items.size()) return;
    int64_t lo = first, hi = last;
    // Each turn of this loop is one partitioning step of the classic
    // recursive sort over lo..hi. The smaller of the two parts is sorted by
    // a recursive call, the larger one by the next turn; the parts are
    // disjoint, so the order in which they are sorted does not change the
    // result.
    for (;;) {
        int64_t i = lo, j = hi;
        const std::string pivot = items[static_cast<size_t>(middleIndex(lo, hi))];
        Yield();
        do {
            Yield();
            while (lessOrdinal(items[static_cast<size_t>(i)], pivot) && i < hi) {
                Yield();
                ++i;
            }
            while (lessOrdinal(pivot, items[static_cast<size_t>(j)]) && j > lo) {
                Yield();
                --j;
            }
            if (i > j) break;
            Yield();
            std::swap(items[static_cast<size_t>(i)], items[static_cast<size_t>(j)]);
            ++i;
            --j;
        } while (i <= j);
        Yield();
        const bool left = lo < j;   // lo..j still to sort
        const bool right = i < hi;  // i..hi still to sort
        if (left && right) {
            if (j - lo < hi - i) {
                QuickSortStrings(items, static_cast<int32_t>(lo), static_cast<int32_t>(j));
                lo = i;
            } else {
                QuickSortStrings(items, static_cast<int32_t>(i), static_cast<int32_t>(hi));
                hi = j;
            }
        } else if (left) {
            hi = j;
        } else if (right) {
            lo = i;
        } else {
            return;
        }
    }
}

void RemoveDuplicates(StringArray& items) {
    if (items.empty()) return;
    const int64_t n = static_cast<int64_t>(items.size()) - 1;
    Yield();
    int64_t offset = 1;
    // Blanking pass: empty every entry equal to the nearest kept entry before it.
    for (int64_t j = 0; j <= n; ++j) {
        Yield();
        if (j + offset > n) break;
        Yield();
        auto& current = items[static_cast<size_t>(j)];
        if (current.empty()) continue;
        auto& next = items[static_cast<size_t>(j + offset)];
        if (next == current) {
            Yield();
            next.clear();
            ++offset;
            --j;  // compare the same entry with the one after the blanked one
        } else {
            offset = 1;
        }
    }
    Yield();
    // Compaction pass.
    size_t k = 0;
    for (size_t l = 0; l < items.size(); ++l) {
        Yield();
        if (!items[l].empty()) {
            Yield();
            if (k != l) items[k] = std::move(items[l]);
            ++k;
        }
    }
    Yield();
    // No entry left: the array keeps its length, all slots empty.
    if (k > 0) items.resize(k);
}

std::string GetLastPathPart(const std::string& path) {
    const size_t p = path.rfind(kPathSeparator);
    if (p == std::string::npos) return path;
    return path.substr(p + 1);
}

std::string GetParentPath(const std::string& path) {
    const size_t p = path.rfind(kPathSeparator);
    if (p == std::string::npos) return {};
    return path.substr(0, p + 1);
}

}  // namespace tavrin::fs
