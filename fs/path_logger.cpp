#include "fs/path_logger.h"

#include "fs/mod_files.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"
#include "fs/yield.h"

namespace tavrin::fs {
namespace {

std::string AddSlash(const std::string& path) {
    if (!path.empty() && path.back() == kPathSeparator) return path;
    return path + kPathSeparator;
}

struct Listing {
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

// The sub-folders and files of `folder` (ending in the separator), in the
// order the file system lists them.
Status listFolder(const std::string& folder, Listing& out) {
    FileEntry entry;
    if (FindFirstEntry(folder + "*", entry) == -1) {
        // Nothing matched at all: a drive root without entries.
        if (!entry.Failed || entry.ErrorCode == kErrorFileNotFound) return {};
        return systemError(entry.ErrorCode, "folder", folder);
    }
    do {
        std::string name = entry.Name;
        CutAtNull(name);
        if (name == "." || name == "..") continue;
        if (entry.Attributes & kAttrDirectory) out.folders.push_back(std::move(name));
        else out.files.push_back(std::move(name));
    } while (FindNextEntry(entry) != 0);
    if (entry.Failed) return systemError(entry.ErrorCode, "folder", folder);
    return {};
}

}  // namespace

void pathLogger::PathLogInit() {
    fullFileNamesOnly_ = true;
    fileNames_.reset();
    pathNames_.reset();
    pathPointers_.reset();
    fullFileNames_.reset();
    chains_.clear();
}

void pathLogger::Terminate() {
    fileNames_.reset();
    pathNames_.reset();
    pathPointers_.reset();
    fullFileNames_.reset();
    chains_.clear();
}

std::shared_ptr<pathLogger::StringCollection> pathLogger::fileNames() {
    if (!fileNames_) fileNames_ = std::make_shared<StringCollection>();
    return fileNames_;
}
std::shared_ptr<pathLogger::StringCollection> pathLogger::pathNames() {
    if (!pathNames_) pathNames_ = std::make_shared<StringCollection>();
    return pathNames_;
}
std::shared_ptr<pathLogger::IndexCollection> pathLogger::pathPointers() {
    if (!pathPointers_) pathPointers_ = std::make_shared<IndexCollection>();
    return pathPointers_;
}
std::shared_ptr<pathLogger::StringCollection> pathLogger::fullFileNames() {
    if (!fullFileNames_) fullFileNames_ = std::make_shared<StringCollection>();
    return fullFileNames_;
}

Status pathLogger::LogPath(const std::string& strPARENT) {
    const int32_t rootAttributes = GetPathAttributes(strPARENT);
    if (rootAttributes == -1 || (static_cast<uint32_t>(rootAttributes) & kAttrDirectory) == 0) return {};

    int32_t j = 1, i = 1;
    count_ = 1;
    StringCollection& folders = *pathNames();
    if (Status s = folders.add("K0", AddSlash(strPARENT)); !s) return s;
    chains_.clear();
    {
        auto root = getFolderIdentity(strPARENT);
        chains_.push_back(root ? FolderChain().entered(*root) : FolderChain());
    }

    while (j >= i) {
        const std::string folder = *folders.item(i);
        const FolderChain inside = chains_[static_cast<size_t>(i) - 1];
        Listing listing;
        const Status listed = listFolder(folder, listing);
        Yield();
        if (!listed) return listed;

        for (const std::string& name : listing.folders) {
            Yield();
            const std::string path = folder + name + kPathSeparator;
            auto id = getFolderIdentity(path);
            if (id && inside.contains(*id)) continue;  // a link back to a folder the walk is in
            ++j;
            if (Status s = folders.add("K" + std::to_string(j), path); !s) return s;
            chains_.push_back(id ? inside.entered(*id) : inside);
        }

        if (fullFileNamesOnly_) {
            StringCollection& full = *fullFileNames();
            for (const std::string& name : listing.files) {
                Yield();
                if (Status s = full.add("K" + std::to_string(count_), folder + name); !s) return s;
                ++count_;
                if (counterLabel_) counterLabel_(std::to_string(count_) + " Messages Queued for Conversion.");
            }
        } else {
            StringCollection& names = *fileNames();
            StringCollection& full = *fullFileNames();
            IndexCollection& pointers = *pathPointers();
            for (const std::string& name : listing.files) {
                Yield();
                const std::string key = "K" + std::to_string(count_);
                if (Status s = names.add(key, name); !s) return s;
                if (Status s = full.add(key, folder + name); !s) return s;
                if (Status s = pointers.add(key, i); !s) return s;
                ++count_;
            }
        }
        ++i;
    }
    return {};
}

}  // namespace tavrin::fs
