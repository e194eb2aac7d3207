// An ordered collection of full paths under the keys PREFIX + number, the
// numbers consecutive from any start (K1, K2, ... or Z17, Z18, ...): the
// queues that the conversion run fills with every file and sub-folder of a
// source tree. It answers what a keyed collection of texts answers (count,
// items and keys by position, an item by key) but holds a tree of millions
// of files in little memory: each folder text is stored once, each entry as
// the end of its name in one pool of names, and the entries of one folder,
// which are always added one after another, share one run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/result.h"

namespace tavrin::fs {

class PathQueue {
public:
    explicit PathQueue(char prefix) : prefix_(prefix) {}

    // Appends `folder` + `name` under the key prefix + `number`. The first
    // entry may have any number; each later one must have the number after
    // the last. A number already present is refused with run-time error 457
    // (as a keyed collection refuses a used key), any other with
    // err::kInvalidParameter; either way the queue stays as it was.
    Status add(int32_t number, std::string_view folder, std::string_view name);

    int32_t Count() const { return static_cast<int32_t>(ends_.size()); }
    bool empty() const { return ends_.empty(); }

    // Entry `index` (1 = the first added) as its full path, or nullopt
    // outside 1..Count().
    std::optional<std::string> item(int32_t index) const;
    // The entry stored under `key`, or nullopt.
    std::optional<std::string> find(std::string_view key) const;
    // The key of entry `index` (1-based), or nullopt.
    std::optional<std::string> key(int32_t index) const;
    // The two parts of entry `index` as they were added (valid until the
    // next change); empty outside 1..Count().
    std::string_view folderOf(int32_t index) const;
    std::string_view nameOf(int32_t index) const;

    // Every entry (and every key) in the order added.
    std::vector<std::string> items() const;
    std::vector<std::string> keys() const;

    void clear();

    // Bytes held, for the memory tests and the benchmarks.
    size_t memoryBytes() const;

private:
    struct Run {
        uint32_t first;   // the entry that starts it (0-based)
        uint32_t folder;  // index into folders_
    };
    uint64_t nameStart(size_t i) const { return i == 0 ? 0 : nameEnd(i - 1); }
    uint64_t nameEnd(size_t i) const;
    size_t runOf(size_t i) const;

    char prefix_;
    int32_t first_ = 0;                // the number of entry 1
    std::vector<std::string> folders_;
    std::vector<Run> runs_;
    std::string names_;
    // End of each entry's name in names_, modulo 2^32; wraps_ lists the
    // entries at which the pool passed another 4 GiB.
    std::vector<uint32_t> ends_;
    std::vector<uint32_t> wraps_;
};

}  // namespace tavrin::fs
