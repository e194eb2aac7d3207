#include "fs/folder_identity.h"

#include "fs/mod_files.h"
#include "fs/mod_files_platform.h"

namespace tavrin::fs {

std::string systemErrorText(int32_t code) {
    switch (code) {
        case kErrorFileNotFound: return "The system cannot find the file specified.";
        case kErrorPathNotFound: return "The system cannot find the path specified.";
        case kErrorAccessDenied: return "Access is denied.";
        case kErrorTooManyOpenFiles: return "The system cannot open the file.";
        case kErrorNotEnoughMemory: return "Not enough memory resources are available to process this command.";
        case 14: return "Not enough memory resources are available to complete this operation.";  // ERROR_OUTOFMEMORY
        case 19: return "The media is write protected.";                                          // ERROR_WRITE_PROTECT
        case 32:  // ERROR_SHARING_VIOLATION
            return "The process cannot access the file because it is being used by another process.";
        case 33:  // ERROR_LOCK_VIOLATION
            return "The process cannot access the file because another process has locked a portion of the file.";
        case 39: return "The disk is full.";               // ERROR_HANDLE_DISK_FULL
        case 80: return "The file exists.";                // ERROR_FILE_EXISTS
        case kErrorInvalidParameter: return "The parameter is incorrect.";
        case 112: return "There is not enough space on the disk.";  // ERROR_DISK_FULL
        case 123: return "The filename, directory name, or volume label syntax is incorrect.";  // ERROR_INVALID_NAME
        case 183: return "Cannot create a file when that file already exists.";  // ERROR_ALREADY_EXISTS
        case kErrorFilenameExcedRange: return "The filename or extension is too long.";
        case kErrorIoDevice: return "The request could not be performed because of an I/O device error.";
        case 1392: return "The file or directory is corrupted and unreadable.";  // ERROR_FILE_CORRUPT
        case 1920: return "The file cannot be accessed by the system.";         // ERROR_CANT_ACCESS_FILE
        case kErrorCantResolveFilename: return "The name of the file cannot be resolved by the system.";
        default: return "System error " + std::to_string(code) + ".";
    }
}

int32_t hresultFromWin32(int32_t code) {
    if (code <= 0) return code == 0 ? 0 : err::kCallFailed;
    return static_cast<int32_t>(0x80070000u | (static_cast<uint32_t>(code) & 0xFFFFu));
}

Error systemError(int32_t windowsCode, const std::string& what, const std::string& path) {
    return Error(hresultFromWin32(windowsCode),
                 "The " + what + " " + path + " could not be read: " + systemErrorText(windowsCode));
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
