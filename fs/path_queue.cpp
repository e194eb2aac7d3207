#include "fs/path_queue.h"

#include <algorithm>
#include <limits>

#include "fs/runtime_error.h"

namespace tavrin::fs {

Status PathQueue::add(int32_t number, std::string_view folder, std::string_view name) {
    if (!ends_.empty()) {
        const int64_t last = int64_t(first_) + int64_t(ends_.size()) - 1;
        if (number >= first_ && number <= last) return rt::runtimeError(rt::kKeyAlreadyAssociated);
        if (int64_t(number) != last + 1) return Error(err::kInvalidParameter, "The key does not follow the last one.");
    }
    if (ends_.size() >= size_t(std::numeric_limits<int32_t>::max()) || name.size() >= (uint64_t(1) << 32))
        return Error(err::kTooBig, "The queue cannot hold more entries.");
    if (ends_.empty()) first_ = number;
    const uint32_t at = static_cast<uint32_t>(ends_.size());
    // The entries of one folder come one after another; a folder that
    // comes back after others is stored again.
    if (folders_.empty() || folders_.back() != folder) {
        folders_.emplace_back(folder);
        runs_.push_back({at, static_cast<uint32_t>(folders_.size() - 1)});
    }
    const uint64_t end = nameStart(at) + name.size();
    if ((end >> 32) > wraps_.size()) wraps_.push_back(at);
    names_.append(name);
    ends_.push_back(static_cast<uint32_t>(end));
    return {};
}

uint64_t PathQueue::nameEnd(size_t i) const {
    const size_t wraps = static_cast<size_t>(std::upper_bound(wraps_.begin(), wraps_.end(), i) - wraps_.begin());
    return ends_[i] + (uint64_t(wraps) << 32);
}

size_t PathQueue::runOf(size_t i) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), i, [](size_t v, const Run& r) { return v < r.first; });
    return static_cast<size_t>(it - runs_.begin()) - 1;
}

std::string_view PathQueue::folderOf(int32_t index) const {
    if (index < 1 || index > Count()) return {};
    return folders_[runs_[runOf(static_cast<size_t>(index) - 1)].folder];
}

std::string_view PathQueue::nameOf(int32_t index) const {
    if (index < 1 || index > Count()) return {};
    const size_t i = static_cast<size_t>(index) - 1;
    const uint64_t b = nameStart(i);
    return std::string_view(names_).substr(static_cast<size_t>(b), static_cast<size_t>(nameEnd(i) - b));
}

std::optional<std::string> PathQueue::item(int32_t index) const {
    if (index < 1 || index > Count()) return std::nullopt;
    std::string s(folderOf(index));
    s += nameOf(index);
    return s;
}

std::optional<std::string> PathQueue::key(int32_t index) const {
    if (index < 1 || index > Count()) return std::nullopt;
    return prefix_ + std::to_string(int64_t(first_) + index - 1);
}

std::optional<std::string> PathQueue::find(std::string_view key) const {
    // PREFIX, then the number as std::to_string writes it (no sign but a
    // leading "-", no leading zeros).
    if (key.size() < 2 || key.size() > 12 || key[0] != prefix_) return std::nullopt;
    std::string_view digits = key.substr(1);
    const bool negative = digits[0] == '-';
    if (negative) digits.remove_prefix(1);
    if (digits.empty() || (digits[0] == '0' && (digits.size() > 1 || negative))) return std::nullopt;
    int64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (negative) n = -n;
    const int64_t index = n - first_ + 1;
    if (index < 1 || index > Count()) return std::nullopt;
    return item(static_cast<int32_t>(index));
}

std::vector<std::string> PathQueue::items() const {
    std::vector<std::string> out;
    out.reserve(ends_.size());
    for (int32_t i = 1; i <= Count(); ++i) out.push_back(*item(i));
    return out;
}

std::vector<std::string> PathQueue::keys() const {
    std::vector<std::string> out;
    out.reserve(ends_.size());
    for (int32_t i = 1; i <= Count(); ++i) out.push_back(*key(i));
    return out;
}

void PathQueue::clear() {
    // Emptying gives the memory back, as replacing the collection would.
    folders_ = {};
    runs_ = {};
    names_ = {};
    ends_ = {};
    wraps_ = {};
    first_ = 0;
}

size_t PathQueue::memoryBytes() const {
    size_t n = names_.capacity() + ends_.capacity() * sizeof(uint32_t) + runs_.capacity() * sizeof(Run) +
               wraps_.capacity() * sizeof(uint32_t) + folders_.capacity() * sizeof(std::string);
    for (const std::string& f : folders_) n += f.capacity();
    return n;
}

}  // namespace tavrin::fs
