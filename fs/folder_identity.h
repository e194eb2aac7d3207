// Link-loop protection for folder walks.
//
// A walk that follows symbolic links (or junctions) could enter a folder
// that it is already inside, through a link that points back up the tree,
// and then never end. Every walk in the program therefore keeps the
// identity of each folder it is inside (device and inode on POSIX systems,
// volume serial number and file index on Windows) and does not descend into
// a folder whose identity is already on that chain. Other links (to a
// sibling, or out of the tree) are followed as ordinary folders.
//
// How a walk uses it:
//
//     auto root = getFolderIdentity(rootPath);        // Result<FolderIdentity>
//     FolderChain inside = root ? FolderChain().entered(*root) : FolderChain();
//     ...
//     // before descending into sub-folder `path` from a folder whose chain is `inside`:
//     auto id = getFolderIdentity(path);
//     if (id && inside.contains(*id)) skip it;        // a link back to a folder we are in
//     FolderChain below = id ? inside.entered(*id) : inside;
//
// A depth-first walk passes `below` down its recursion; a breadth-first
// walk stores it with each queued folder. Chains share their common part,
// so a queued folder costs one small node. A folder whose identity cannot be
// read is walked without a new link in the chain (its listing will report
// what is wrong with it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "fs/result.h"

namespace tavrin::fs {

struct FolderIdentity {
    uint64_t volume = 0;  // st_dev; the volume serial number on Windows
    uint64_t file = 0;    // st_ino; the file index on Windows
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// The identity of the folder `path` leads to, following links. The error
// number is HRESULT_FROM_WIN32 of the system's code (err::kFileNotFound for
// a missing path, err::kAccessDenied when it may not be examined).
Result<FolderIdentity> getFolderIdentity(const std::string& path);

// The folders a walk is inside, innermost first. Immutable: entered()
// returns a longer chain and leaves this one as it was.
class FolderChain {
public:
    FolderChain() = default;
    ~FolderChain();
    FolderChain(const FolderChain&) = default;
    FolderChain(FolderChain&&) noexcept = default;
    // By value and swap: the chain given up is released by the destructor.
    FolderChain& operator=(FolderChain other) noexcept {
        innermost_.swap(other.innermost_);
        std::swap(depth_, other.depth_);
        return *this;
    }

    // True when `id` is one of the folders on the chain.
    bool contains(const FolderIdentity& id) const;
    // This chain with `id` as its new innermost folder.
    FolderChain entered(const FolderIdentity& id) const;
    // The number of folders on the chain.
    size_t depth() const { return depth_; }

private:
    struct Node {
        FolderIdentity id;
        std::shared_ptr<const Node> outer;
    };
    std::shared_ptr<const Node> innermost_;
    size_t depth_ = 0;
};

// HRESULT_FROM_WIN32: a Windows system error code as an error number.
int32_t hresultFromWin32(int32_t code);

// The system's text for a Windows system error code, as Windows gives it in
// English ("Access is denied."); "System error N." for a code it does not know.
std::string systemErrorText(int32_t windowsCode);

// An Error for a failed file-system call: "The folder X could not be read:
// Access is denied." (`what` is "folder" or "file").
Error systemError(int32_t windowsCode, const std::string& what, const std::string& path);

}  // namespace tavrin::fs
