// [MS-CFB] compound file reader over bytes in memory.
//
// open() checks the header, loads the FAT (through the DIFAT, including its
// extra sectors), the MiniFAT, the directory and the mini stream, and
// validates the whole directory tree once: each storage's children are
// listed in [MS-CFB] name order, and a cycle or a nesting deeper than
// kMaxNesting refuses the file. Streams are read on demand; a stream whose
// sectors lie back to back in the file is returned as a view without
// copying.
//
// Tolerated, because real files carry them: a nonzero transaction
// signature, a header CLSID or minor version other than the standard ones,
// unallocated directory entries, a directory entry referenced from two
// places (it is listed in the first place only, so that the storages stay a
// tree), a sector chain longer than its stream, a
// short last sector (read as if padded with zeros), and the high 32 bits of
// a v3 stream size ([MS-CFB] 2.6.3 says to ignore them).
//
// Refused with err::kCorrupt and a description: a bad signature, byte order
// or sector shift, a sector number out of range, a chain that cycles or ends
// before its stream does, a stream size past the end of the file, a
// directory that cycles, and nesting that is too deep. No allocation is
// larger than what the file holds, and all reads together return at most
// twice the file's size (streams whose chains share sectors could otherwise
// make a small file yield any amount of data).
//
// The bytes given to open() must outlive the CompoundFile and every
// StreamData read from it. A CompoundFile is not safe to read from two
// threads at once.
//
// A file too large to hold in memory twice (once as its bytes, once as the
// values read from them) is read on demand: open() is given an image of the
// file's size in which nothing need be filled in, with a LazyFile that
// fills in the ranges the reader looks at (header, FAT, directory, mini
// stream, small streams) and reads streams of kDirectReadSize bytes or more
// straight into the buffers they are returned in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"
#include "store/core/props.h"
#include "store/msg/cfb/cfb_format.h"

namespace tavrin::store::cfb {

// Storages nested deeper than this are refused.
inline constexpr int kMaxNesting = 128;

struct DirEntry {
    // Only the first nameLength code units are set (left uninitialised
    // otherwise: zeroing 64 bytes per entry is a measurable part of opening
    // a message file).
    std::array<char16_t, 32> nameChars;
    uint8_t nameLength = 0;  // code units, without the terminator
    ObjectType type = ObjectType::Unallocated;
    bool black = false;  // red-black colour, kept for checks; readers need not rely on it
    uint32_t left = NOSTREAM;
    uint32_t right = NOSTREAM;
    uint32_t child = NOSTREAM;
    Guid clsid;
    uint32_t stateBits = 0;
    uint64_t creationTime = 0;
    uint64_t modifiedTime = 0;
    uint32_t startSector = ENDOFCHAIN;
    uint64_t size = 0;

    std::u16string_view name() const { return std::u16string_view(nameChars.data(), nameLength); }
    bool isStorage() const { return type == ObjectType::Storage || type == ObjectType::Root; }
    bool isStream() const { return type == ObjectType::Stream; }
};

// The bytes of one stream: a view into the file, or a copy when its sectors
// are scattered.
class StreamData {
public:
    StreamData() = default;
    static StreamData view(ByteSpan s) { StreamData d; d.view_ = s; return d; }
    static StreamData owned(Bytes b) {
        StreamData d;
        d.owned_ = std::move(b);
        d.view_ = d.owned_;
        d.isOwned_ = true;
        return d;
    }
    StreamData(StreamData&& o) noexcept { *this = std::move(o); }
    StreamData& operator=(StreamData&& o) noexcept {
        isOwned_ = o.isOwned_;
        owned_ = std::move(o.owned_);
        view_ = isOwned_ ? ByteSpan(owned_) : o.view_;
        return *this;
    }
    StreamData(const StreamData&) = delete;
    StreamData& operator=(const StreamData&) = delete;

    ByteSpan bytes() const { return view_; }
    size_t size() const { return view_.size(); }
    // The bytes as an owned buffer (moved out when already owned).
    Bytes take() && {
        if (isOwned_) return std::move(owned_);
        return Bytes(view_.begin(), view_.end());
    }

private:
    ByteSpan view_;
    Bytes owned_;
    bool isOwned_ = false;
};

struct LazyFile {
    // Fills in bytes [offset, offset + size) of the image (each at most once
    // is enough; a range may be asked for again).
    std::function<Status(uint64_t offset, uint64_t size)> load;
    // Reads bytes of the file into `out`.
    std::function<Status(uint64_t offset, std::span<uint8_t> out)> readAt;
};
inline constexpr uint64_t kDirectReadSize = uint64_t(1) << 20;

class CompoundFile {
public:
    static Result<CompoundFile> open(ByteSpan file, std::shared_ptr<const LazyFile> lazy = nullptr);

    CompoundFile(CompoundFile&&) noexcept = default;
    CompoundFile& operator=(CompoundFile&&) noexcept = default;

    uint16_t majorVersion() const { return major_; }
    uint32_t sectorSize() const { return sectorSize_; }
    static constexpr uint32_t root() { return 0; }

    size_t entryCount() const { return entries_.size(); }
    const DirEntry& entry(uint32_t id) const { return entries_[id]; }
    // The children of a storage, in [MS-CFB] name order; empty for a stream.
    std::span<const uint32_t> children(uint32_t storage) const;
    // A child of a storage by name, compared as [MS-CFB] compares names.
    std::optional<uint32_t> find(uint32_t storage, std::u16string_view name) const;

    // The bytes of a stream entry.
    Result<StreamData> read(uint32_t stream) const;
    // A storage with everything below it, copied out.
    Result<StorageEntry> copyStorage(uint32_t storage) const;

private:
    CompoundFile() = default;

    Status loadFat(uint32_t csectFat, uint32_t difStart, uint32_t csectDif);
    Status loadDirectory(uint32_t start);
    Status loadMiniStream(uint32_t miniFatStart);
    Status buildTree();
    Status listChildren(uint32_t storage, int depth);
    // Follows a chain of regular sectors from `start`, for at most `count`
    // sectors (all of it when count is zero), into `out`.
    Status chain(uint32_t start, uint64_t count, std::vector<uint32_t>& out, const char* what) const;
    Result<StreamData> readRegular(uint32_t start, uint64_t size, const char* what) const;
    Result<StreamData> readMini(uint32_t start, uint64_t size) const;
    // Makes bytes [offset, offset + size) of the image readable (a lazy file).
    Status need(uint64_t offset, uint64_t size) const;
    Status copyInto(uint32_t id, StorageEntry& out, int depth) const;

    ByteSpan file_;
    std::shared_ptr<const LazyFile> lazy_;
    uint16_t major_ = 3;
    uint32_t sectorShift_ = 9;
    uint32_t sectorSize_ = 512;
    uint64_t sectorCount_ = 0;  // sectors that start inside the file
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<DirEntry> entries_;
    // The mini stream: the regular sectors of the root entry's stream, in
    // order, and its size. Mini sectors are read straight from the file.
    std::vector<uint32_t> miniStreamSectors_;
    uint64_t miniStreamSize_ = 0;
    // Children of every storage: childList_[begin .. end) of its node.
    struct TreeNode {
        uint32_t begin = 0;
        uint32_t end = 0;
        uint32_t parent = NOSTREAM;  // NOSTREAM until listed somewhere
        uint8_t state = 0;           // 0 not listed, 1 being listed, 2 done, 3 on the current walk's path
    };
    std::vector<TreeNode> tree_;
    std::vector<uint32_t> childList_;
    struct WalkFrame { uint32_t id; uint8_t stage; };
    std::vector<WalkFrame> walkStack_;
    // Per-walk marks for cycle detection (a walk stamps the sectors it visits).
    mutable std::vector<uint32_t> sectorMark_;
    mutable std::vector<uint32_t> miniMark_;
    mutable uint32_t walk_ = 0;
    mutable uint64_t bytesRead_ = 0;
};

}  // namespace tavrin::store::cfb
