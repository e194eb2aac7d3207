// Bounds-checked little-endian decoding and encoding.
//
// Every binary format of the store (compound files, message property streams,
// PST pages, blocks and heaps) is read through ByteReader and written through
// ByteWriter or the put* helpers below. Bytes are never cast to structs: each
// field is decoded explicitly, so the host's alignment and byte order never
// matter, and no read can go past the end of its span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tavrin::store {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;
using MutableByteSpan = std::span<uint8_t>;

// True when [offset, offset + length) lies inside a buffer of `size` bytes,
// without any overflow in the sum.
constexpr bool inBounds(uint64_t size, uint64_t offset, uint64_t length) {
    return offset <= size && length <= size - offset;
}

// Checked multiplication for counts taken from a file.
constexpr bool mulFits(uint64_t a, uint64_t b, uint64_t limit, uint64_t& out) {
    if (a != 0 && b > limit / a) return false;
    out = a * b;
    return out <= limit;
}

// Unchecked loads: the caller has proven the range with inBounds().
inline uint16_t loadLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t loadLE32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t loadLE64(const uint8_t* p) {
    return static_cast<uint64_t>(loadLE32(p)) | (static_cast<uint64_t>(loadLE32(p + 4)) << 32);
}
inline void storeLE16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void storeLE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void storeLE64(uint8_t* p, uint64_t v) { storeLE32(p, uint32_t(v)); storeLE32(p + 4, uint32_t(v >> 32)); }

// Checked loads from a span at an absolute offset. They return nullopt when
// the field does not fit.
inline std::optional<uint8_t> getU8(ByteSpan s, uint64_t off) {
    if (!inBounds(s.size(), off, 1)) return std::nullopt;
    return s[off];
}
inline std::optional<uint16_t> getLE16(ByteSpan s, uint64_t off) {
    if (!inBounds(s.size(), off, 2)) return std::nullopt;
    return loadLE16(s.data() + off);
}
inline std::optional<uint32_t> getLE32(ByteSpan s, uint64_t off) {
    if (!inBounds(s.size(), off, 4)) return std::nullopt;
    return loadLE32(s.data() + off);
}
inline std::optional<uint64_t> getLE64(ByteSpan s, uint64_t off) {
    if (!inBounds(s.size(), off, 8)) return std::nullopt;
    return loadLE64(s.data() + off);
}
inline std::optional<ByteSpan> getSlice(ByteSpan s, uint64_t off, uint64_t len) {
    if (!inBounds(s.size(), off, len)) return std::nullopt;
    return s.subspan(static_cast<size_t>(off), static_cast<size_t>(len));
}

// Checked stores into a fixed buffer; false when the field does not fit.
inline bool putLE16(MutableByteSpan s, uint64_t off, uint16_t v) {
    if (!inBounds(s.size(), off, 2)) return false;
    storeLE16(s.data() + off, v);
    return true;
}
inline bool putLE32(MutableByteSpan s, uint64_t off, uint32_t v) {
    if (!inBounds(s.size(), off, 4)) return false;
    storeLE32(s.data() + off, v);
    return true;
}
inline bool putLE64(MutableByteSpan s, uint64_t off, uint64_t v) {
    if (!inBounds(s.size(), off, 8)) return false;
    storeLE64(s.data() + off, v);
    return true;
}
inline bool putBytes(MutableByteSpan s, uint64_t off, ByteSpan src) {
    if (!inBounds(s.size(), off, src.size())) return false;
    if (!src.empty()) std::memcpy(s.data() + off, src.data(), src.size());
    return true;
}

// A forward cursor over a span with a sticky failure flag: once a read does
// not fit, it and every later read return zero or an empty span and ok()
// stays false. Decoders read a record field by field and test ok() once.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(ByteSpan data) : data_(data) {}

    bool ok() const { return ok_; }
    size_t offset() const { return pos_; }
    size_t size() const { return data_.size(); }
    size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
    bool atEnd() const { return pos_ >= data_.size(); }
    ByteSpan data() const { return data_; }

    uint8_t u8() {
        if (!need(1)) return 0;
        return data_[pos_++];
    }
    uint16_t u16() {
        if (!need(2)) return 0;
        uint16_t v = loadLE16(data_.data() + pos_);
        pos_ += 2;
        return v;
    }
    uint32_t u32() {
        if (!need(4)) return 0;
        uint32_t v = loadLE32(data_.data() + pos_);
        pos_ += 4;
        return v;
    }
    uint64_t u64() {
        if (!need(8)) return 0;
        uint64_t v = loadLE64(data_.data() + pos_);
        pos_ += 8;
        return v;
    }
    ByteSpan bytes(uint64_t n) {
        if (!need(n)) return {};
        ByteSpan s = data_.subspan(pos_, static_cast<size_t>(n));
        pos_ += static_cast<size_t>(n);
        return s;
    }
    void skip(uint64_t n) { (void)bytes(n); }
    // Moves to an absolute offset; a position past the end fails the reader.
    void seek(uint64_t off) {
        if (!ok_ || off > data_.size()) { ok_ = false; return; }
        pos_ = static_cast<size_t>(off);
    }

private:
    bool need(uint64_t n) {
        if (!ok_ || !inBounds(data_.size(), pos_, n)) { ok_ = false; return false; }
        return true;
    }

    ByteSpan data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Appends little-endian fields to a growing buffer.
class ByteWriter {
public:
    ByteWriter() = default;
    explicit ByteWriter(size_t reserve) { buf_.reserve(reserve); }

    void u8(uint8_t v) { buf_.push_back(v); }
    void u16(uint16_t v) { size_t p = grow(2); storeLE16(buf_.data() + p, v); }
    void u32(uint32_t v) { size_t p = grow(4); storeLE32(buf_.data() + p, v); }
    void u64(uint64_t v) { size_t p = grow(8); storeLE64(buf_.data() + p, v); }
    void bytes(ByteSpan s) { buf_.insert(buf_.end(), s.begin(), s.end()); }
    void zeros(size_t n) { buf_.insert(buf_.end(), n, 0); }
    // Pads with zeros up to a multiple of `alignment`.
    void align(size_t alignment) {
        if (alignment > 1 && buf_.size() % alignment) zeros(alignment - buf_.size() % alignment);
    }

    size_t size() const { return buf_.size(); }
    const Bytes& buffer() const { return buf_; }
    Bytes& buffer() { return buf_; }
    Bytes take() { return std::move(buf_); }

    // Overwrites a field written earlier (a count or an offset known only
    // later). Returns false when it does not lie inside what was written.
    bool patchLE16(size_t off, uint16_t v) { return putLE16(buf_, off, v); }
    bool patchLE32(size_t off, uint32_t v) { return putLE32(buf_, off, v); }
    bool patchLE64(size_t off, uint64_t v) { return putLE64(buf_, off, v); }

private:
    size_t grow(size_t n) { size_t p = buf_.size(); buf_.resize(p + n); return p; }
    Bytes buf_;
};

}  // namespace tavrin::store
