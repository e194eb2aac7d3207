// An insertion-ordered collection of values with unique text keys, items
// numbered from 1: the collections that the folder scanner fills.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fs/result.h"
#include "fs/runtime_error.h"

namespace tavrin::fs {

template <class T>
class KeyedCollection {
public:
    // Appends `value` under `key`. A key that is already present is refused
    // with run-time error 457, and the collection stays as it was.
    Status add(const std::string& key, T value) {
        if (index_.count(key) != 0) return rt::runtimeError(rt::kKeyAlreadyAssociated);
        index_.emplace(key, items_.size());
        keys_.push_back(key);
        items_.push_back(std::move(value));
        return {};
    }

    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    bool empty() const { return items_.empty(); }

    // Item `index` (1 = the first added), or null outside 1..Count().
    const T* item(int32_t index) const {
        if (index < 1 || static_cast<size_t>(index) > items_.size()) return nullptr;
        return &items_[static_cast<size_t>(index) - 1];
    }
    // The item stored under `key`, or null.
    const T* find(const std::string& key) const {
        auto it = index_.find(key);
        return it == index_.end() ? nullptr : &items_[it->second];
    }
    // The key of item `index` (1-based), or null.
    const std::string* key(int32_t index) const {
        if (index < 1 || static_cast<size_t>(index) > keys_.size()) return nullptr;
        return &keys_[static_cast<size_t>(index) - 1];
    }

    // All items in the order they were added.
    const std::vector<T>& items() const { return items_; }
    const std::vector<std::string>& keys() const { return keys_; }

    void clear() {
        items_.clear();
        keys_.clear();
        index_.clear();
    }

private:
    std::vector<T> items_;
    std::vector<std::string> keys_;
    std::unordered_map<std::string, size_t> index_;
};

}  // namespace tavrin::fs
