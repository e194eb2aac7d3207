// String-array and path helpers: sorting and de-duplicating folder lists,
// splitting file paths, cutting directory-entry names at a NUL.
//
// Texts are UTF-8; every comparison here is ordinal over UTF-16 code units
// (text::compareOrdinal), case-sensitive, a prefix sorting first. So "A"
// sorts before "A/B", which sorts before "B", which sorts before "a", and a
// parent path always sorts before the paths below it.
//
// The sort and the duplicate removal call fs::Yield() at every step, so that
// the windows stay responsive while long folder lists are prepared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrin::fs {

using StringArray = std::vector<std::string>;

// The text up to (not including) its first NUL character, or the whole text
// when it holds none. The same value is written back into `text`.
std::string CutAtNull(std::string& text);

// Sorts items[first..last] in place in ascending ordinal order: a quicksort
// with the middle element as pivot, the middle index being (first + last) / 2
// rounded half to even. It recurses into the smaller partition and loops over
// the larger one, so its stack depth stays logarithmic in the range even on
// input that makes the partitions lopsided. Bounds outside the array, or
// first above last, sort nothing.
void QuickSortStrings(StringArray& items, int32_t first, int32_t last);

// Removes repeated and empty entries from an array sorted as above and
// shortens it. Only neighbours are compared. An array whose slots are all
// empty keeps its length (and its empty slots); an array without slots
// stays empty.
void RemoveDuplicates(StringArray& items);

// The text after the last path separator; all of `path` when it holds none;
// empty when `path` ends in a separator (or is empty).
std::string GetLastPathPart(const std::string& path);

// `path` up to and including its last path separator; empty when it holds
// none (or is empty); all of `path` when it ends in a separator.
std::string GetParentPath(const std::string& path);

}  // namespace tavrin::fs
