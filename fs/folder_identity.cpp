#include "fs/folder_identity.h"

#include "fs/mod_files.h"
#include "fs/mod_files_platform.h"

namespace tavrin::fs {
namespace {

std::string systemMessage(int32_t code) {
    switch (code) {
        case kErrorFileNotFound: return "The system cannot find the file specified.";
        case kErrorPathNotFound: return "The system cannot find the path specified.";
        case kErrorAccessDenied: return "Access is denied.";
        case kErrorTooManyOpenFiles: return "The system cannot open the file.";
        case kErrorNotEnoughMemory: return "Not enough memory resources are available to process this command.";
        case kErrorFilenameExcedRange: return "The filename or extension is too long.";
        case kErrorIoDevice: return "The request could not be performed because of an I/O device error.";
        case kErrorCantResolveFilename: return "The name of the file cannot be resolved by the system.";
        default: return "System error " + std::to_string(code) + ".";
    }
}

}  // namespace

int32_t hresultFromWin32(int32_t code) {
    if (code <= 0) return code == 0 ? 0 : err::kCallFailed;
    return static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

Error systemError(int32_t windowsCode, const std::string& what, const std::string& path) {
    return Error(hresultFromWin32(windowsCode),
                 "The " + what + " " + path + " could not be read: " + systemMessage(windowsCode));
}

Result<FolderIdentity> getFolderIdentity(const std::string& path) {
    if (!ApiSupport().initialised) InitApiSupport();  // the Windows calls choose wide or ANSI
    FolderIdentity id;
    int32_t code = 0;
    if (!detail::sysFolderIdentity(path, id.volume, id.file, code)) return systemError(code, "folder", path);
    return id;
}

FolderChain::~FolderChain() {
    // Unlinks the nodes that only this chain holds one by one, so that a
    // very deep chain is not released by a recursion as deep as itself.
    std::shared_ptr<const Node> node = std::move(innermost_);
    while (node && node.use_count() == 1) {
        std::shared_ptr<const Node> outer = node->outer;
        node = std::move(outer);
    }
}

bool FolderChain::contains(const FolderIdentity& id) const {
    for (const Node* n = innermost_.get(); n; n = n->outer.get())
        if (n->id == id) return true;
    return false;
}

FolderChain FolderChain::entered(const FolderIdentity& id) const {
    FolderChain longer;
    longer.innermost_ = std::make_shared<const Node>(Node{id, innermost_});
    longer.depth_ = depth_ + 1;
    return longer;
}

}  // namespace tavrin::fs
